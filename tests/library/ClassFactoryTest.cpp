// The class factory, the entry points and the object counting behind DllCanUnloadNow.
#include <gtest/gtest.h>

#include "asio/asio.h"
#include "driver/AsioDriver.h"
#include "library/ClassFactory.h"
#include "library/EntryPoints.h"
#include "product/DriverIdentity.h"

namespace {

const IID kOtherId = {0x0badf00d, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

IClassFactory* GetFactory() {
  void* factory = nullptr;
  EXPECT_EQ(DllGetClassObject(CLSID_NorvaKx7Asio, IID_IClassFactory, &factory), S_OK);
  return static_cast<IClassFactory*>(factory);
}

TEST(ClassFactory, IsHandedOutForTheDriverClassWithOneReference) {
  for (const IID* riid : {&IID_IClassFactory, &IID_IUnknown}) {
    void* object = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_NorvaKx7Asio, *riid, &object), S_OK);
    auto* factory = static_cast<IClassFactory*>(object);
    EXPECT_EQ(factory->AddRef(), 2u);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(factory->Release(), 0u);
  }
  void* untouched = &untouched;
  EXPECT_EQ(DllGetClassObject(CLSID_NorvaKx7Asio, kOtherId, &untouched), E_NOINTERFACE);
  EXPECT_EQ(untouched, &untouched);
  EXPECT_EQ(DllGetClassObject(kOtherId, IID_IClassFactory, &untouched), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(untouched, &untouched);
}

TEST(ClassFactory, CreatesTheDriverUnderItsClassIdentifier) {
  IClassFactory* factory = GetFactory();
  const LONG before = objectCount.load();
  void* object = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, CLSID_NorvaKx7Asio, &object), S_OK);
  auto* asio = static_cast<IASIO*>(object);
  EXPECT_EQ(objectCount.load(), before + 1);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  char name[32] = {};
  asio->getDriverName(name);
  EXPECT_STREQ(name, "NORVA KX-7 ASIO");
  EXPECT_EQ(asio->Release(), 0u);
  EXPECT_EQ(objectCount.load(), before);
  EXPECT_EQ(DllCanUnloadNow(), S_OK) << "a referenced factory does not keep the library";
  factory->Release();
}

TEST(ClassFactory, RefusedCreationsLeaveNoObject) {
  IClassFactory* factory = GetFactory();
  const LONG before = objectCount.load();
  void* object = &object;
  EXPECT_EQ(
      factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), CLSID_NorvaKx7Asio, &object),
      E_NOINTERFACE)
      << "an aggregated object can only be asked for IUnknown";
  EXPECT_EQ(factory->CreateInstance(nullptr, kOtherId, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(objectCount.load(), before);
  EXPECT_EQ(factory->CreateInstance(nullptr, CLSID_NorvaKx7Asio, nullptr), E_POINTER);
  factory->Release();
}

TEST(ClassFactory, LockServerKeepsTheLibraryLoaded) {
  IClassFactory* factory = GetFactory();
  ASSERT_EQ(DllCanUnloadNow(), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  void* unknown = nullptr;
  EXPECT_EQ(factory->QueryInterface(IID_IUnknown, &unknown), S_OK);
  EXPECT_EQ(unknown, factory);
  factory->Release();
  EXPECT_EQ(factory->QueryInterface(kOtherId, &unknown), E_NOINTERFACE);
  EXPECT_EQ(unknown, nullptr);
  EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  factory->Release();
}

TEST(ClassFactory, TheLastNonDelegatingReleaseDestroysOnce) {
  const LONG before = objectCount.load();
  HRESULT hr = S_OK;
  INonDelegatingUnknown* object = CreateDriverInstance(nullptr, &hr);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(objectCount.load(), before + 1);
  EXPECT_EQ(object->NonDelegatingAddRef(), 1u);
  EXPECT_EQ(object->NonDelegatingAddRef(), 2u);
  EXPECT_EQ(object->NonDelegatingRelease(), 1u);
  EXPECT_EQ(object->NonDelegatingRelease(), 0u);
  EXPECT_EQ(objectCount.load(), before);
}

TEST(ClassFactory, ProcessAttachSavesTheModuleHandle) {
  const HINSTANCE saved = moduleHandle;
  const HINSTANCE program = GetModuleHandleA(nullptr);
  EXPECT_TRUE(DllMain(program, DLL_PROCESS_ATTACH, nullptr));
  EXPECT_EQ(moduleHandle, program);
  EXPECT_TRUE(DllMain(program, DLL_THREAD_ATTACH, nullptr));
  EXPECT_TRUE(DllMain(program, DLL_PROCESS_DETACH, nullptr));
  moduleHandle = saved;
}

}  // namespace

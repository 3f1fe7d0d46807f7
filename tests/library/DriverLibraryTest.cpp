// The built driver library as a host meets it: registration through its entry point, creation
// through CoCreateInstance with the class identifier as interface identifier, the query surface,
// and settings handed from one driver object to the next.
#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <thread>

#include "asio/asio.h"
#include "product/DriverIdentity.h"
#include "product/Kx7Facts.h"
#include "support/TestSupport.h"

namespace kx7test {
namespace {

const CLSID kDriverClass = CLSID_NorvaKx7Asio;
constexpr char kDriverKey[] = "SOFTWARE\\ASIO\\NORVA KX-7 ASIO Driver";
using kx7::kSettingsKey;

typedef HRESULT(STDMETHODCALLTYPE* EntryPoint)();

std::optional<std::string> ReadString(HKEY root, const char* path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyA(root, path, &key) != ERROR_SUCCESS) return {};
  char value[512] = {};
  DWORD size = sizeof value - 1;
  const LSTATUS status =
      RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return {};
  return std::string(value);
}

std::optional<DWORD> ReadNumber(const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyA(HKEY_CURRENT_USER, kSettingsKey, &key) != ERROR_SUCCESS) return {};
  DWORD value = 0, size = sizeof value, type = 0;
  const LSTATUS status =
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_DWORD) return {};
  return value;
}

class DriverLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteRegistryTree(HKEY_CURRENT_USER, "SOFTWARE\\Norva");
    library = LoadLibraryA(PathNextToExecutable(DriverLibraryFileName()).c_str());
    ASSERT_NE(library, nullptr) << "the driver library next to the test program";
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  }
  void TearDown() override {
    CoUninitialize();
    if (library != nullptr) {
      EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
      EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kDriverKey, "CLSID"), std::nullopt);
      FreeLibrary(library);
    }
    DeleteRegistryTree(HKEY_CURRENT_USER, "SOFTWARE\\Norva");
  }

  HRESULT Call(const char* entryPoint) {
    auto function =
        reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(library, entryPoint)));
    return function != nullptr ? function() : E_FAIL;
  }

  static IASIO* CreateDriver() {
    void* object = nullptr;
    const HRESULT hr =
        CoCreateInstance(kDriverClass, nullptr, CLSCTX_INPROC_SERVER, kDriverClass, &object);
    EXPECT_EQ(hr, S_OK);
    return static_cast<IASIO*>(object);
  }

  HMODULE library = nullptr;
};

TEST_F(DriverLibraryTest, RegistersItselfWhereHostsLook) {
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kDriverKey, "CLSID"),
            "{C8817D90-B773-48F1-8708-4ECD6D913F64}");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kDriverKey, "Description"), "NORVA KX-7 ASIO");
  const char* serverKey = "CLSID\\{C8817D90-B773-48F1-8708-4ECD6D913F64}\\InprocServer32";
  const std::optional<std::string> path = ReadString(HKEY_CLASSES_ROOT, serverKey, nullptr);
  ASSERT_TRUE(path.has_value());
  std::string baseName = KX7_MODULE_BASE_NAME;
  for (char& c : baseName) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(path->find(baseName), std::string::npos) << *path;
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, serverKey, "ThreadingModel"), "Apartment");
#ifdef _WIN32
  // Each bitness's library registers in its own registry view only.
  const auto inView = [](REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
      return false;
    RegCloseKey(key);
    return true;
  };
  const bool x86 = sizeof(void*) == 4;
  EXPECT_TRUE(inView(x86 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY));
  EXPECT_FALSE(inView(x86 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY));
#endif
}

TEST_F(DriverLibraryTest, AnswersItsQuerySurfaceThroughCoCreateInstance) {
  IASIO* asio = CreateDriver();
  ASSERT_NE(asio, nullptr);
  char text[128] = {};
  asio->getDriverName(text);
  EXPECT_STREQ(text, "NORVA KX-7 ASIO");
  EXPECT_EQ(asio->getDriverVersion(), 1);
  EXPECT_EQ(asio->init(nullptr), kDeviceInside ? ASIOTrue : ASIOFalse);
  asio->getErrorMessage(text);
  EXPECT_STREQ(text, kDeviceInside ? "ASIO OK" : "ASIO Driver open Failure!");
  int32_t inputs = 0, outputs = 0;
  EXPECT_EQ(asio->getChannels(&inputs, &outputs), ASE_OK);
  EXPECT_EQ(inputs + outputs, 4);
  int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
  EXPECT_EQ(asio->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
  EXPECT_EQ(preferred, 128);
  EXPECT_EQ(asio->canSampleRate(44100.0), ASE_OK);
  EXPECT_EQ(asio->canSampleRate(32000.0), ASE_NoClock);
  EXPECT_EQ(asio->future(kAsioCanTimeInfo, nullptr), ASE_SUCCESS);

  ASIOCallbacks callbacks{};
  callbacks.bufferSwitch = [](int32_t, ASIOBool) {};
  callbacks.asioMessage = [](int32_t, int32_t, void*, double*) -> int32_t { return 1; };
  ASIOBufferInfo infos[3] = {{ASIOTrue, 0, {nullptr, nullptr}},
                             {ASIOFalse, 0, {nullptr, nullptr}},
                             {ASIOFalse, 1, {nullptr, nullptr}}};
  ASSERT_EQ(asio->createBuffers(infos, 3, 256, &callbacks), ASE_OK);
  EXPECT_NE(infos[2].buffers[1], nullptr);
  // Streaming through the DLL with the device inside is the host's test under Wine.
  if (!kDeviceInside) {
    EXPECT_EQ(asio->start(), ASE_NotPresent);
  }
  EXPECT_EQ(asio->stop(), ASE_OK);
  EXPECT_EQ(asio->disposeBuffers(), ASE_OK);
  EXPECT_EQ(asio->Release(), 0u);
}

TEST_F(DriverLibraryTest, SettingsStoredByOneDriverAreLoadedByTheNext) {
  IASIO* first = CreateDriver();
  ASSERT_NE(first, nullptr);
  first->init(nullptr);
  first->Release();
  EXPECT_EQ(ReadNumber(kx7::kBufferSizePreferredValue), std::optional<DWORD>(128));
  EXPECT_EQ(ReadNumber("Modeless Control Panel"), std::optional<DWORD>(0));
  EXPECT_EQ(ReadNumber("Show Metrics"), std::nullopt);

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, kSettingsKey, &key), ERROR_SUCCESS);
  const DWORD size = 512;
  RegSetValueExA(key, kx7::kBufferSizePreferredValue, 0, REG_DWORD,
                 reinterpret_cast<const BYTE*>(&size), sizeof size);
  RegCloseKey(key);

  IASIO* second = CreateDriver();
  ASSERT_NE(second, nullptr);
  second->init(nullptr);
  int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
  second->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
  EXPECT_EQ(preferred, 512);
  second->Release();
  EXPECT_EQ(ReadNumber(kx7::kBufferSizePreferredValue), std::optional<DWORD>(512));
}

TEST_F(DriverLibraryTest, ListingWithoutInitKeepsTheStoredSettings) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kSettingsKey, &key), ERROR_SUCCESS);
  const DWORD size = 512, flag = 1;
  RegSetValueExA(key, kx7::kBufferSizePreferredValue, 0, REG_DWORD,
                 reinterpret_cast<const BYTE*>(&size), sizeof size);
  RegSetValueExA(key, "Auto-open Control Panel", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flag),
                 sizeof flag);
  RegCloseKey(key);
  for (int i = 0; i < 3; ++i) {
    IASIO* lister = CreateDriver();
    ASSERT_NE(lister, nullptr);
    char name[32] = {};
    lister->getDriverName(name);
    lister->Release();
  }
  EXPECT_EQ(ReadNumber(kx7::kBufferSizePreferredValue), std::optional<DWORD>(512));
  EXPECT_EQ(ReadNumber("Auto-open Control Panel"), std::optional<DWORD>(1));
}

// A host that makes the driver on a thread without COM (through the class factory) and releases
// it on one of its threads in the multithreaded apartment keeps that apartment.
TEST_F(DriverLibraryTest, ReleasingOnAnotherThreadLeavesThatThreadsComAlone) {
  typedef HRESULT(STDMETHODCALLTYPE * GetClassObject)(REFCLSID, REFIID, LPVOID*);
  const auto getClassObject = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
  ASSERT_NE(getClassObject, nullptr);
  IASIO* made = nullptr;
  std::thread([&] {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(kDriverClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(factory->CreateInstance(nullptr, kDriverClass, reinterpret_cast<void**>(&made)),
              S_OK);
    factory->Release();
  }).join();
  ASSERT_NE(made, nullptr);
  std::thread([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    made->Release();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
  }).join();
}

}  // namespace
}  // namespace kx7test

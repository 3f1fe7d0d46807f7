#include "library/ClassFactory.h"

#include <new>

#include "driver/AsioDriver.h"
#include "product/DriverIdentity.h"

const ClassTemplate classTemplates[] = {
    {kDriverDisplayName, &CLSID_NorvaKx7Asio, CreateDriverInstance, nullptr},
};
const int classTemplateCount = static_cast<int>(sizeof classTemplates / sizeof classTemplates[0]);

HRESULT CClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

ULONG CClassFactory::AddRef() { return static_cast<ULONG>(referenceCount.fetch_add(1) + 1); }

ULONG CClassFactory::Release() {
  const LONG count = referenceCount.fetch_sub(1) - 1;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  // An aggregated object can only be asked for its IUnknown.
  if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;

  HRESULT hr = S_OK;
  INonDelegatingUnknown* object = classTemplate->create(outer, &hr);
  if (object == nullptr) return E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete object;
    return hr;
  }
  // A failed query leaves the count at 0 and the release destroys the object.
  object->NonDelegatingAddRef();
  hr = object->NonDelegatingQueryInterface(riid, ppv);
  object->NonDelegatingRelease();
  return hr;
}

HRESULT CClassFactory::LockServer(BOOL lock) {
  if (lock) {
    serverLockCount.fetch_add(1);
  } else {
    serverLockCount.fetch_sub(1);
  }
  return S_OK;
}

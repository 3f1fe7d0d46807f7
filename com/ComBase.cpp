#include "com/ComBase.h"

std::atomic<LONG> objectCount{0};
std::atomic<LONG> serverLockCount{0};
HINSTANCE moduleHandle = nullptr;

CUnknown::CUnknown(const WCHAR* /*name*/, IUnknown* outerUnknown, HRESULT* /*phr*/)
    : outer(outerUnknown) {}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown)) {
    *ppv = static_cast<INonDelegatingUnknown*>(this);
    NonDelegatingAddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() {
  const LONG count = referenceCount.fetch_add(1) + 1;
  return static_cast<ULONG>(count < 1 ? 1 : count);
}

ULONG CUnknown::NonDelegatingRelease() {
  const LONG count = referenceCount.fetch_sub(1) - 1;
  if (count == 0) {
    // References taken and dropped during destruction must not start a second one.
    referenceCount.store(1);
    OnLastRelease();
    return 0;
  }
  return static_cast<ULONG>(count < 1 ? 1 : count);
}

void CUnknown::OnLastRelease() { delete this; }

HRESULT CUnknown::GetInterface(IUnknown* object, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = object;
  object->AddRef();
  return S_OK;
}

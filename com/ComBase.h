// The small COM object framework under the driver object: a live-object count for
// DllCanUnloadNow, the non-delegating IUnknown and its atomic reference count.
#pragma once

#include <atomic>

#include "platform/com.h"

// Number of live objects derived from CBaseObject; the library may unload when it is 0.
extern std::atomic<LONG> objectCount;
// Balance of IClassFactory::LockServer calls.
extern std::atomic<LONG> serverLockCount;
// The library's own instance handle, saved at process attach.
extern HINSTANCE moduleHandle;

class CBaseObject {
 public:
  CBaseObject() { objectCount.fetch_add(1); }
  CBaseObject(const CBaseObject&) = delete;
  CBaseObject& operator=(const CBaseObject&) = delete;
  ~CBaseObject() { objectCount.fetch_sub(1); }
};

struct INonDelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
  virtual ~INonDelegatingUnknown() = default;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  // The name and the result slot are accepted for the creators' sake; only the outer unknown is
  // kept.
  CUnknown(const WCHAR* name, IUnknown* outer, HRESULT* phr);

  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

  // Delegating IUnknown: to the aggregating object when there is one, else to this object's
  // non-delegating face.
  HRESULT OwnerQueryInterface(REFIID riid, void** ppv) {
    return outer != nullptr ? outer->QueryInterface(riid, ppv)
                            : NonDelegatingQueryInterface(riid, ppv);
  }
  ULONG OwnerAddRef() { return outer != nullptr ? outer->AddRef() : NonDelegatingAddRef(); }
  ULONG OwnerRelease() { return outer != nullptr ? outer->Release() : NonDelegatingRelease(); }

 protected:
  // Stores `object` in `*ppv` and adds a reference through the interface's own AddRef.
  static HRESULT GetInterface(IUnknown* object, void** ppv);
  // Called once the last reference has gone; deletes the object unless a derived class must
  // let it outlive a thread of its own that is still running.
  virtual void OnLastRelease();

 private:
  IUnknown* const outer;  // null when the object is not aggregated
  std::atomic<LONG> referenceCount{0};
};

// Delegating IUnknown methods for a class deriving from an interface and from CUnknown.
#define DECLARE_DELEGATING_IUNKNOWN                                            \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override { \
    return OwnerQueryInterface(riid, ppv);                                     \
  }                                                                            \
  ULONG STDMETHODCALLTYPE AddRef() override { return OwnerAddRef(); }          \
  ULONG STDMETHODCALLTYPE Release() override { return OwnerRelease(); }

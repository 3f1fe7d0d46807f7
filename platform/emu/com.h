// COM basics for in-process servers: IUnknown, IClassFactory, apartments and CoCreateInstance,
// which goes through HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 as Windows does.
#pragma once

#include "platform/emu/errors.h"
#include "platform/emu/types.h"

#define COINIT_APARTMENTTHREADED 0x2u
#define COINIT_MULTITHREADED 0x0u
#define CLSCTX_INPROC_SERVER 0x1u
#define CLSCTX_INPROC_HANDLER 0x2u
#define CLSCTX_LOCAL_SERVER 0x4u
#define CLSCTX_ALL 0x17u

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};

extern "C" {
extern const IID IID_IUnknown;       // {00000000-0000-0000-C000-000000000046}
extern const IID IID_IClassFactory;  // {00000001-0000-0000-C000-000000000046}
extern const GUID GUID_NULL;

HRESULT CoInitialize(LPVOID reserved);
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize(void);
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
int StringFromGUID2(REFGUID guid, LPOLESTR text, int size);
LPVOID CoTaskMemAlloc(SIZE_T size);
void CoTaskMemFree(LPVOID memory);
HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid,
                         LPVOID* object);
}

typedef HRESULT(STDMETHODCALLTYPE* LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDMETHODCALLTYPE* LPFNCANUNLOADNOW)(void);

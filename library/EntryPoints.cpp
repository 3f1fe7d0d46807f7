// The library's COM entry points: class objects, unloading and process attach/detach.
#include <new>

#include "library/ClassFactory.h"
#include "library/EntryPoints.h"
#include "platform/module_of.h"

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
    return E_NOINTERFACE;
  }
  for (int i = 0; i < classTemplateCount; ++i) {
    if (!IsEqualCLSID(clsid, *classTemplates[i].classId)) continue;
    if (ppv == nullptr) return E_POINTER;
    auto* factory = new (std::nothrow) CClassFactory(&classTemplates[i]);
    if (factory == nullptr) {
      *ppv = nullptr;
      return E_OUTOFMEMORY;
    }
    *ppv = static_cast<IClassFactory*>(factory);
    factory->AddRef();
    return S_OK;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
  return (serverLockCount.load() > 0 || objectCount.load() != 0) ? S_FALSE : S_OK;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(module);
      moduleHandle = module;
      for (int i = 0; i < classTemplateCount; ++i) {
        if (classTemplates[i].load != nullptr)
          classTemplates[i].load(TRUE, classTemplates[i].classId);
      }
      break;
    case DLL_PROCESS_DETACH:
      for (int i = 0; i < classTemplateCount; ++i) {
        if (classTemplates[i].load != nullptr)
          classTemplates[i].load(FALSE, classTemplates[i].classId);
      }
      break;
    default:
      break;
  }
  return TRUE;
}

#ifndef _WIN32
// No loader calls DllMain here: the library does its process attach and detach work itself.
namespace {

__attribute__((constructor)) void AttachLibrary() {
  DllMain(ModuleHolding(reinterpret_cast<const void*>(&DllMain), false), DLL_PROCESS_ATTACH,
          nullptr);
}
__attribute__((destructor)) void DetachLibrary() {
  DllMain(moduleHandle, DLL_PROCESS_DETACH, nullptr);
}

}  // namespace
#endif

// The module whose image holds an address: the library itself, found from one of its own
// functions or objects. `hold` takes a reference the caller lets go of with FreeLibrary (or
// FreeLibraryAndExitThread); without it the module is only named.
#pragma once

#include "platform/windows.h"

inline HMODULE ModuleHolding(const void* address, bool hold) {
  HMODULE module = nullptr;
  const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                      (hold ? 0 : GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
  GetModuleHandleExA(flags, static_cast<LPCSTR>(address), &module);
  return module;
}

// A thread's hold on the module its code is in, so that a host freeing the library cannot unload
// code the thread still runs: taken by whoever starts the thread, let go by the thread as its
// last act, which leaves the module's code and ends the thread in one step.
inline HMODULE HoldModuleForThread(const void* code) { return ModuleHolding(code, true); }
inline void ExitThreadReleasingModule(HMODULE module, DWORD exitCode) {
  if (module != nullptr) FreeLibraryAndExitThread(module, exitCode);
}

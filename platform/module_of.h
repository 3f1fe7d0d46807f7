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

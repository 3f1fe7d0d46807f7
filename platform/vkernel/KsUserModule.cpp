// "ksuser.dll" as the virtual kernel provides it: a module whose one export is the virtual
// kernel's KsCreatePin. The Linux emulation's loader has it as a built-in module; the Windows
// build with the virtual kernel answers it through the Vk module calls, ahead of the real loader.
#include <cstring>

#include "platform/vkernel/DeviceCalls.h"
#include "platform/vkernel/KernelState.h"

#ifndef _WIN32
#include "platform/emu/builtin_modules.h"
#endif

namespace vk {
namespace {

// The pseudo-module that stands for "ksuser.dll" in the Windows build with the virtual kernel.
HMODULE const kKsUserModule = reinterpret_cast<HMODULE>(kHandleBase - 0x10);

bool IsKsUserName(const char* name) {
  if (name == nullptr) return false;
  const char* base = name;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c == '\\' || *c == '/') base = c + 1;
  }
  return SameText(base, "ksuser.dll") || SameText(base, "ksuser");
}

#ifndef _WIN32
// "ksuser.dll" of the Linux emulation exports the virtual kernel's KsCreatePin.
const bool ksUserRegistered = [] {
  PlatformRegisterBuiltinExport("ksuser.dll", "KsCreatePin",
                                reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&VkKsCreatePin)));
  return true;
}();
#endif

}  // namespace
}  // namespace vk

extern "C" {

HMODULE VkLoadLibraryA(LPCSTR fileName) {
  if (vk::IsKsUserName(fileName)) return vk::kKsUserModule;
  return LoadLibraryA(fileName);
}

FARPROC VkGetProcAddress(HMODULE module, LPCSTR procName) {
  if (module != vk::kKsUserModule) return GetProcAddress(module, procName);
  if (procName != nullptr && std::strcmp(procName, "KsCreatePin") == 0) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&VkKsCreatePin));
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL VkFreeLibrary(HMODULE module) {
  if (module == vk::kKsUserModule) return TRUE;
  return FreeLibrary(module);
}

}  // extern "C"

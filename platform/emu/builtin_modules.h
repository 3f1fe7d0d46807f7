// Modules that the emulation provides itself instead of loading a file ("Avrt.dll", "ksuser.dll").
// LoadLibraryA of such a name gives a module whose GetProcAddress answers from this table.
#pragma once

#include "platform/emu/types.h"

extern "C" {
// Adds or replaces an export of a built-in module; the module name is matched case-insensitively.
void PlatformRegisterBuiltinExport(LPCSTR moduleName, LPCSTR procName, FARPROC proc);
}

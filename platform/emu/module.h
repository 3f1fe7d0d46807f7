// Modules: loading libraries, entry points, the library's own handle and file name.
#pragma once

#include "platform/emu/types.h"

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001u
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004u

#define MB_OK 0x00000000u
#define MB_ICONERROR 0x00000010u
#define MB_ICONWARNING 0x00000030u
#define MB_ICONINFORMATION 0x00000040u
#define IDOK 1
#define IDCANCEL 2

extern "C" {
// A name without a path or extension gets ".so" here (".dll" on Windows). "Avrt.dll" and
// "ksuser.dll" are provided by the emulation itself.
HMODULE LoadLibraryA(LPCSTR fileName);
BOOL FreeLibrary(HMODULE module);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
HMODULE GetModuleHandleA(LPCSTR moduleName);
BOOL GetModuleHandleExA(DWORD flags, LPCSTR moduleNameOrAddress, HMODULE* module);
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
BOOL DisableThreadLibraryCalls(HMODULE module);

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
void OutputDebugStringA(LPCSTR text);
}

// The two entry points of the multimedia class scheduler ("Avrt.dll").
typedef HANDLE(WINAPI* PFN_AvSetMmThreadCharacteristicsA)(LPCSTR taskName, LPDWORD taskIndex);
typedef BOOL(WINAPI* PFN_AvRevertMmThreadCharacteristics)(HANDLE avrtHandle);

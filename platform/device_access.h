// The device-access calls of the kernel-streaming layer: SetupAPI enumeration, CreateFileA on a
// device path, DeviceIoControl and GetOverlappedResult, CloseHandle of device handles, and the
// "ksuser.dll" lookup of KsCreatePin. A Windows release build uses the real calls; the Linux build
// and the Windows build with KX7_VIRTUAL_DEVICE route them to the virtual kernel, which passes
// everything that is not its own (event handles, ordinary registry keys and modules) on to the real
// calls.
#pragma once

#include "platform/ks.h"
#include "platform/windows.h"

#if defined(_WIN32) && !defined(KX7_VIRTUAL_DEVICE)
#include <setupapi.h>
#else
#include "platform/vkernel/DeviceCalls.h"

#define SetupDiGetClassDevsA VkSetupDiGetClassDevsA
#define SetupDiEnumDeviceInterfaces VkSetupDiEnumDeviceInterfaces
#define SetupDiGetDeviceInterfaceDetailA VkSetupDiGetDeviceInterfaceDetailA
#define SetupDiGetDeviceInterfaceAlias VkSetupDiGetDeviceInterfaceAlias
#define SetupDiOpenDeviceInterfaceRegKey VkSetupDiOpenDeviceInterfaceRegKey
#define SetupDiDestroyDeviceInfoList VkSetupDiDestroyDeviceInfoList
#define RegQueryValueExA VkRegQueryValueExA
#define RegCloseKey VkRegCloseKey
#define CreateFileA VkCreateFileA
#define DeviceIoControl VkDeviceIoControl
#define CloseHandle VkCloseHandle
#define GetOverlappedResult VkGetOverlappedResult
// The real Windows loader would find the real "ksuser.dll"; the Linux emulation's loader already
// answers it from the virtual kernel.
#ifdef _WIN32
#define LoadLibraryA VkLoadLibraryA
#define GetProcAddress VkGetProcAddress
#define FreeLibrary VkFreeLibrary
#endif
#endif

#ifndef GENERIC_READ
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#endif
#ifndef FILE_SHARE_READ
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#endif
#ifndef OPEN_EXISTING
#define OPEN_EXISTING 3u
#endif
#ifndef FILE_ATTRIBUTE_NORMAL
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#endif
#ifndef FILE_FLAG_OVERLAPPED
#define FILE_FLAG_OVERLAPPED 0x40000000u
#endif

// KsCreatePin as found in "ksuser.dll": 0 on success, otherwise an error number.
typedef DWORD(WINAPI* PFNKSCREATEPIN)(HANDLE filterHandle, PKSPIN_CONNECT connect,
                                      ACCESS_MASK desiredAccess, PHANDLE connectionHandle);

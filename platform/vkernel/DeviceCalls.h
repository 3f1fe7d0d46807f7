// The device-access calls of the virtual kernel, shaped like their Win32 namesakes.
// platform/device_access.h maps the Win32 names to these where the virtual kernel stands in;
// handles, keys and modules that are not the virtual kernel's go to the real calls.
#pragma once

#include "platform/ks.h"
#include "platform/windows.h"

#ifdef _WIN32
#define VK_API
#else
#define VK_API __attribute__((visibility("default")))
#endif

extern "C" {
VK_API HDEVINFO VkSetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                       DWORD flags);
VK_API BOOL VkSetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device,
                                          const GUID* interfaceClassGuid, DWORD memberIndex,
                                          PSP_DEVICE_INTERFACE_DATA interfaceData);
VK_API BOOL VkSetupDiGetDeviceInterfaceDetailA(HDEVINFO set,
                                               PSP_DEVICE_INTERFACE_DATA interfaceData,
                                               PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                               DWORD detailSize, PDWORD requiredSize,
                                               PSP_DEVINFO_DATA device);
VK_API BOOL VkSetupDiGetDeviceInterfaceAlias(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                             const GUID* aliasInterfaceClassGuid,
                                             PSP_DEVICE_INTERFACE_DATA aliasInterfaceData);
VK_API HKEY VkSetupDiOpenDeviceInterfaceRegKey(HDEVINFO set,
                                               PSP_DEVICE_INTERFACE_DATA interfaceData,
                                               DWORD reserved, REGSAM desired);
VK_API BOOL VkSetupDiDestroyDeviceInfoList(HDEVINFO set);

VK_API LSTATUS VkRegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                  LPBYTE data, LPDWORD dataSize);
VK_API LSTATUS VkRegCloseKey(HKEY key);

VK_API HANDLE VkCreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                            LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                            DWORD flagsAndAttributes, HANDLE templateFile);
VK_API BOOL VkDeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer,
                              DWORD inBufferSize, LPVOID outBuffer, DWORD outBufferSize,
                              LPDWORD bytesReturned, LPOVERLAPPED overlapped);
VK_API BOOL VkCloseHandle(HANDLE handle);
// The result and byte count of an overlapped request on a device handle.
VK_API BOOL VkGetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                                  BOOL wait);

// KsCreatePin as "ksuser.dll" exports it: 0 or an error number.
VK_API DWORD WINAPI VkKsCreatePin(HANDLE filterHandle, PKSPIN_CONNECT connect,
                                  ACCESS_MASK desiredAccess, PHANDLE connectionHandle);

// Module lookup that answers "ksuser.dll" itself (used where the real loader would find the
// real module instead).
VK_API HMODULE VkLoadLibraryA(LPCSTR fileName);
VK_API FARPROC VkGetProcAddress(HMODULE module, LPCSTR procName);
VK_API BOOL VkFreeLibrary(HMODULE module);
}

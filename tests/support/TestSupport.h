// Helpers shared by the tests: registry clean-up and paths next to the test program.
#pragma once

#include <string>

#include "platform/windows.h"

namespace kx7test {

// Whether the driver library under test carries a KX-7 of its own, as the DLL of the
// virtual-device build does (its tests are built with KX7_VIRTUAL_DEVICE).
#ifdef KX7_VIRTUAL_DEVICE
inline constexpr bool kDeviceInside = true;
#else
inline constexpr bool kDeviceInside = false;
#endif

// Deletes a key with everything below it; a missing key is fine.
void DeleteRegistryTree(HKEY root, const std::string& path);

// Full path of a file in the folder of the running test program.
std::string PathNextToExecutable(const std::string& fileName);

// The driver library's file name in this build.
std::string DriverLibraryFileName();

}  // namespace kx7test

// Helpers shared by the tests: registry clean-up and paths next to the test program.
#pragma once

#include <string>

#include "platform/windows.h"

namespace kx7test {

// Deletes a key with everything below it; a missing key is fine.
void DeleteRegistryTree(HKEY root, const std::string& path);

// Full path of a file in the folder of the running test program.
std::string PathNextToExecutable(const std::string& fileName);

// The driver library's file name in this build.
std::string DriverLibraryFileName();

}  // namespace kx7test

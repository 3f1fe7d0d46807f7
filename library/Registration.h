// Registration of the driver under HKEY_CLASSES_ROOT\CLSID and HKEY_LOCAL_MACHINE\SOFTWARE\ASIO.
#pragma once

#include "platform/windows.h"

// Result codes of RegisterDriver and UnregisterDriver.
enum : LONG {
  kRegistrationOk = 0,
  kModuleNotLoaded = -101,
  kModulePathEmpty = -102,
  kClassIdToTextFailed = -103,
  kClassIdConversionFailed = -104
};

LONG RegisterDriver(REFCLSID classId, const char* moduleBaseName, const char* driverKeyName,
                    const char* description, const char* threadingModel);
LONG UnregisterDriver(REFCLSID classId, const char* moduleBaseName, const char* driverKeyName);

// 0 when the key `name` below `root`\`path` exists afterwards, -1 otherwise.
LONG CreateSubkeyIfMissing(HKEY root, const char* path, const char* name);
// Deletes `root`\`path`\`name` with every key below it, each key after its descendants.
LONG DeleteKeyTree(HKEY root, const char* path, const char* name);

#include "library/Registration.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/com.h"

namespace {

constexpr DWORD kPathLimit = 360;       // module path and stored server path
constexpr int kClassIdTextLimit = 100;  // class identifier text
constexpr DWORD kKeyNameLimit = 360;    // one enumerated subkey name

// Strings are stored with their terminating zero, so that readers always get a terminated text.
void SetStringValue(HKEY key, const char* name, const char* text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                 static_cast<DWORD>(std::strlen(text) + 1));
}

// Opens `root`\`path`, sets one string value and closes it again; a key that does not open
// skips the write.
void WriteStringValue(HKEY root, const std::string& path, const char* name, const char* text) {
  HKEY key = nullptr;
  if (RegOpenKeyA(root, path.c_str(), &key) != ERROR_SUCCESS) return;
  SetStringValue(key, name, text);
  RegCloseKey(key);
}

bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyA(root, path.c_str(), &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// The default value of the server key, lower-cased; empty when missing or over the limit.
std::string StoredServerPath(const std::string& serverKey) {
  HKEY key = nullptr;
  if (RegOpenKeyA(HKEY_CLASSES_ROOT, serverKey.c_str(), &key) != ERROR_SUCCESS) return {};
  std::string result;
  DWORD size = 0;
  if (RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS &&
      size <= kPathLimit) {
    char value[kPathLimit + 1] = {};
    if (RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) ==
        ERROR_SUCCESS) {
      CharLowerA(value);
      result = value;
    }
  }
  RegCloseKey(key);
  return result;
}

struct DriverModule {
  char path[kPathLimit];
  char classIdText[kClassIdTextLimit];
};

// The common first steps: the loaded library's lower-cased path and the class identifier text.
LONG IdentifyModule(REFCLSID classId, const char* moduleBaseName, DriverModule* module) {
  HMODULE handle = GetModuleHandleA(moduleBaseName);
  if (handle == nullptr) return kModuleNotLoaded;
  std::memset(module, 0, sizeof *module);
  if (GetModuleFileNameA(handle, module->path, kPathLimit) == 0 || module->path[0] == '\0') {
    return kModulePathEmpty;
  }
  module->path[kPathLimit - 1] = '\0';
  CharLowerA(module->path);

  LPOLESTR wideText = nullptr;
  if (FAILED(StringFromCLSID(classId, &wideText)) || wideText == nullptr) {
    return kClassIdToTextFailed;
  }
  const int converted = WideCharToMultiByte(CP_ACP, 0, wideText, -1, module->classIdText,
                                            kClassIdTextLimit, nullptr, nullptr);
  CoTaskMemFree(wideText);
  return converted == 0 ? kClassIdConversionFailed : kRegistrationOk;
}

struct KeyDeletionNode {
  HKEY parent;
  HKEY key;
  std::string name;
};

// Appends the nodes of every key below `key` (depth first, in enumeration order), then its own.
void CollectKeyTree(HKEY parent, HKEY key, const char* name, std::vector<KeyDeletionNode>* list) {
  char subkeyName[kKeyNameLimit];
  for (DWORD index = 0;; ++index) {
    if (RegEnumKeyA(key, index, subkeyName, kKeyNameLimit) != ERROR_SUCCESS) break;
    HKEY subkey = nullptr;
    if (RegOpenKeyExA(key, subkeyName, 0, KEY_ALL_ACCESS, &subkey) != ERROR_SUCCESS) continue;
    CollectKeyTree(key, subkey, subkeyName, list);
  }
  list->push_back({parent, key, name});
}

}  // namespace

LONG CreateSubkeyIfMissing(HKEY root, const char* path, const char* name) {
  char fullPath[2 * kKeyNameLimit];
  std::snprintf(fullPath, sizeof fullPath, "%s\\%s", path, name);
  HKEY key = nullptr;
  if (RegOpenKeyA(root, fullPath, &key) == ERROR_SUCCESS) {
    RegCloseKey(key);
    return 0;
  }
  HKEY parent = nullptr;
  if (RegOpenKeyA(root, path, &parent) != ERROR_SUCCESS) return -1;
  HKEY created = nullptr;
  const LSTATUS status = RegCreateKeyA(parent, name, &created);
  if (status == ERROR_SUCCESS) RegCloseKey(created);
  RegCloseKey(parent);
  return status == ERROR_SUCCESS ? 0 : -1;
}

LONG DeleteKeyTree(HKEY root, const char* path, const char* name) {
  HKEY parent = nullptr;
  if (RegOpenKeyA(root, path, &parent) != ERROR_SUCCESS) return -1;
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    RegCloseKey(parent);
    return -1;
  }
  std::vector<KeyDeletionNode> list;
  try {
    CollectKeyTree(parent, key, name, &list);
  } catch (const std::bad_alloc&) {
    for (const KeyDeletionNode& node : list) RegCloseKey(node.key);
    if (list.empty() || list.back().key != key) RegCloseKey(key);
    RegCloseKey(parent);
    return -1;
  }
  // Every key's node follows those of its descendants, so each is empty when it is deleted, and
  // its parent's handle is still open.
  for (const KeyDeletionNode& node : list) {
    RegCloseKey(node.key);
    RegDeleteKeyA(node.parent, node.name.c_str());
  }
  RegCloseKey(parent);
  return 0;
}

LONG RegisterDriver(REFCLSID classId, const char* moduleBaseName, const char* driverKeyName,
                    const char* description, const char* threadingModel) {
  DriverModule module;
  const LONG identified = IdentifyModule(classId, moduleBaseName, &module);
  if (identified != kRegistrationOk) return identified;

  const std::string classKey = std::string("CLSID\\") + module.classIdText;
  const std::string serverKey = classKey + "\\InprocServer32";
  bool writeClassEntries = true;
  if (KeyExists(HKEY_CLASSES_ROOT, classKey)) {
    if (StoredServerPath(serverKey) == module.path) {
      writeClassEntries = false;  // registered from this very file: leave it as it is
    } else {
      DeleteKeyTree(HKEY_CLASSES_ROOT, "CLSID", module.classIdText);
    }
  }
  if (writeClassEntries) {
    CreateSubkeyIfMissing(HKEY_CLASSES_ROOT, "CLSID", module.classIdText);
    WriteStringValue(HKEY_CLASSES_ROOT, classKey, nullptr, description);
    CreateSubkeyIfMissing(HKEY_CLASSES_ROOT, classKey.c_str(), "InprocServer32");
    WriteStringValue(HKEY_CLASSES_ROOT, serverKey, nullptr, module.path);
    WriteStringValue(HKEY_CLASSES_ROOT, serverKey, "ThreadingModel", threadingModel);
  }

  const std::string driverKey = std::string("SOFTWARE\\ASIO\\") + driverKeyName;
  if (!KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO")) {
    CreateSubkeyIfMissing(HKEY_LOCAL_MACHINE, "SOFTWARE", "ASIO");
  } else if (KeyExists(HKEY_LOCAL_MACHINE, driverKey)) {
    DeleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO", driverKeyName);
  }
  CreateSubkeyIfMissing(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO", driverKeyName);
  WriteStringValue(HKEY_LOCAL_MACHINE, driverKey, "CLSID", module.classIdText);
  WriteStringValue(HKEY_LOCAL_MACHINE, driverKey, "Description", description);
  return kRegistrationOk;
}

LONG UnregisterDriver(REFCLSID classId, const char* moduleBaseName, const char* driverKeyName) {
  DriverModule module;
  const LONG identified = IdentifyModule(classId, moduleBaseName, &module);
  if (identified != kRegistrationOk) return identified;

  if (KeyExists(HKEY_CLASSES_ROOT, std::string("CLSID\\") + module.classIdText)) {
    DeleteKeyTree(HKEY_CLASSES_ROOT, "CLSID", module.classIdText);
  }
  if (KeyExists(HKEY_LOCAL_MACHINE, std::string("SOFTWARE\\ASIO\\") + driverKeyName)) {
    DeleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO", driverKeyName);
  }
  return kRegistrationOk;
}

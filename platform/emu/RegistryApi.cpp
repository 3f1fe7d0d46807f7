// The narrow-character registry calls. An open key remembers its hive and path, so a key that
// was deleted, or a hive read back from disk, never leaves a dangling handle.
#include <cstring>
#include <map>

#include "platform/emu/RegistryStore.h"
#include "platform/emu/errors.h"
#include "platform/emu/registry.h"

using emu::RegistryHive;
using emu::RegistryKey;

namespace {

struct OpenKey {
  HKEY root;
  std::vector<std::string> path;
};

std::map<uintptr_t, OpenKey>& OpenKeys() {
  static auto* keys = new std::map<uintptr_t, OpenKey>;
  return *keys;
}

uintptr_t nextKeyHandle = 0x40000;

bool IsPredefined(HKEY key) { return emu::HiveOf(key) != nullptr; }

// Resolves a handle to its hive and path; false for an unknown handle.
bool Resolve(HKEY key, OpenKey* resolved) {
  if (IsPredefined(key)) {
    *resolved = {key, {}};
    return true;
  }
  auto found = OpenKeys().find(reinterpret_cast<uintptr_t>(key));
  if (found == OpenKeys().end()) return false;
  *resolved = found->second;
  return true;
}

HKEY NewHandle(const OpenKey& key) {
  const uintptr_t value = nextKeyHandle;
  nextKeyHandle += 4;
  OpenKeys()[value] = key;
  return reinterpret_cast<HKEY>(value);
}

// The key a handle names, or the error Windows gives.
LSTATUS Locate(HKEY key, RegistryHive** hive, RegistryKey** node, OpenKey* where) {
  if (!Resolve(key, where)) return ERROR_INVALID_HANDLE;
  *hive = emu::HiveOf(where->root);
  *node = (*hive)->Find(where->path);
  return *node != nullptr ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LSTATUS OpenSubkey(HKEY key, LPCSTR subKey, PHKEY result, bool create, LPDWORD disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  emu::RegistryGuard guard;
  RegistryHive* hive = nullptr;
  RegistryKey* node = nullptr;
  OpenKey where;
  const LSTATUS located = Locate(key, &hive, &node, &where);
  if (located != ERROR_SUCCESS) return located;
  bool created = false;
  for (const std::string& part : emu::SplitPath(subKey != nullptr ? subKey : "")) {
    RegistryKey* child = node->Child(part);
    if (child == nullptr) {
      if (!create) return ERROR_FILE_NOT_FOUND;
      node->children.push_back(std::make_unique<RegistryKey>());
      child = node->children.back().get();
      child->name = part;
      created = true;
    }
    where.path.push_back(child->name);
    node = child;
  }
  if (created) hive->Save();
  if (disposition != nullptr)
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle(where);
  return ERROR_SUCCESS;
}

// Runs `action` on the key a handle names, under the registry's lock.
template <typename Action>
LSTATUS WithKey(HKEY key, Action action) {
  emu::RegistryGuard guard;
  RegistryHive* hive = nullptr;
  RegistryKey* node = nullptr;
  OpenKey where;
  const LSTATUS located = Locate(key, &hive, &node, &where);
  if (located != ERROR_SUCCESS) return located;
  return action(*hive, *node);
}

LSTATUS CopyOut(const std::string& text, LPSTR name, DWORD size) {
  if (name == nullptr || text.size() + 1 > size) return ERROR_MORE_DATA;
  std::memcpy(name, text.c_str(), text.size() + 1);
  return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

LSTATUS RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  return OpenSubkey(key, subKey, result, false, nullptr);
}

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
  return OpenSubkey(key, subKey, result, false, nullptr);
}

LSTATUS RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  return OpenSubkey(key, subKey, result, true, nullptr);
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                        PHKEY result, LPDWORD disposition) {
  return OpenSubkey(key, subKey, result, true, disposition);
}

LSTATUS RegCloseKey(HKEY key) {
  if (IsPredefined(key)) return ERROR_SUCCESS;
  emu::RegistryGuard guard;
  return OpenKeys().erase(reinterpret_cast<uintptr_t>(key)) != 0 ? ERROR_SUCCESS
                                                                 : ERROR_INVALID_HANDLE;
}

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD, LPSTR, LPDWORD,
                      void*) {
  if (nameSize == nullptr) return ERROR_INVALID_PARAMETER;
  return WithKey(key, [&](RegistryHive&, RegistryKey& node) -> LSTATUS {
    if (index >= node.children.size()) return ERROR_NO_MORE_ITEMS;
    const std::string& child = node.children[index]->name;
    const LSTATUS status = CopyOut(child, name, *nameSize);
    if (status == ERROR_SUCCESS) *nameSize = static_cast<DWORD>(child.size());
    return status;
  });
}

LSTATUS RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize) {
  return RegEnumKeyExA(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD, LPDWORD type,
                      LPBYTE data, LPDWORD dataSize) {
  if (nameSize == nullptr) return ERROR_INVALID_PARAMETER;
  return WithKey(key, [&](RegistryHive&, RegistryKey& node) -> LSTATUS {
    if (index >= node.values.size()) return ERROR_NO_MORE_ITEMS;
    const emu::RegistryValue& value = node.values[index];
    LSTATUS status = CopyOut(value.name, name, *nameSize);
    if (status != ERROR_SUCCESS) return status;
    *nameSize = static_cast<DWORD>(value.name.size());
    if (type != nullptr) *type = value.type;
    if (dataSize != nullptr) {
      const DWORD needed = static_cast<DWORD>(value.data.size());
      if (data != nullptr && *dataSize < needed) status = ERROR_MORE_DATA;
      if (data != nullptr && status == ERROR_SUCCESS && needed > 0) {
        std::memcpy(data, value.data.data(), needed);
      }
      *dataSize = needed;
    }
    return status;
  });
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize) {
  if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
  return WithKey(key, [&](RegistryHive&, RegistryKey& node) -> LSTATUS {
    const emu::RegistryValue* value = node.Value(valueName != nullptr ? valueName : "");
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    if (type != nullptr) *type = value->type;
    const DWORD needed = static_cast<DWORD>(value->data.size());
    if (dataSize == nullptr) return ERROR_SUCCESS;
    if (data != nullptr && *dataSize < needed) {
      *dataSize = needed;
      return ERROR_MORE_DATA;
    }
    if (data != nullptr && needed > 0) std::memcpy(data, value->data.data(), needed);
    *dataSize = needed;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                       DWORD dataSize) {
  if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
  return WithKey(key, [&](RegistryHive& hive, RegistryKey& node) -> LSTATUS {
    const std::string name = valueName != nullptr ? valueName : "";
    emu::RegistryValue* value = node.Value(name);
    if (value == nullptr) {
      node.values.push_back({name, type, {}});
      value = &node.values.back();
    }
    value->type = type;
    value->data.assign(data, data + dataSize);
    hive.Save();
    return ERROR_SUCCESS;
  });
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) {
  return WithKey(key, [&](RegistryHive& hive, RegistryKey& node) -> LSTATUS {
    const std::string name = valueName != nullptr ? valueName : "";
    for (auto it = node.values.begin(); it != node.values.end(); ++it) {
      if (emu::SameName(it->name, name)) {
        node.values.erase(it);
        hive.Save();
        return ERROR_SUCCESS;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  });
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  return WithKey(key, [&](RegistryHive& hive, RegistryKey& node) -> LSTATUS {
    const std::vector<std::string> parts = emu::SplitPath(subKey != nullptr ? subKey : "");
    if (parts.empty()) return ERROR_INVALID_PARAMETER;
    RegistryKey* parent = &node;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
      parent = parent->Child(parts[i]);
      if (parent == nullptr) return ERROR_FILE_NOT_FOUND;
    }
    for (auto it = parent->children.begin(); it != parent->children.end(); ++it) {
      if (!emu::SameName((*it)->name, parts.back())) continue;
      if (!(*it)->children.empty()) return ERROR_ACCESS_DENIED;  // subkeys go first
      parent->children.erase(it);
      hive.Save();
      return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
  });
}

}  // extern "C"

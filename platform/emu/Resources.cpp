// Module resources from tables that libraries register at load, and the version block queries.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <string>

#include "platform/emu/errors.h"
#include "platform/emu/module.h"
#include "platform/emu/window.h"

namespace {

struct Resource {
  HMODULE module;
  std::string type;  // "#<number>" for an integer identifier, else the name
  std::string name;
  LPCVOID data;
  DWORD size;
};

struct Table {
  std::mutex lock;
  std::list<Resource> resources;  // a list, so HRSRC pointers stay valid
};

Table& Resources() {
  static Table* table = new Table;
  return *table;
}

// Integer identifiers and "#<number>" texts name the same resource; names ignore case.
std::string Key(LPCSTR name) {
  if (IS_INTRESOURCE(name)) return "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name));
  if (name[0] == '#') return "#" + std::to_string(std::strtoul(name + 1, nullptr, 10));
  return name;
}

HMODULE Effective(HMODULE module) { return module != nullptr ? module : GetModuleHandleA(nullptr); }

}  // namespace

extern "C" {

void PlatformRegisterResource(HMODULE module, LPCSTR type, LPCSTR name, LPCVOID data, DWORD size) {
  std::lock_guard<std::mutex> guard(Resources().lock);
  Resources().resources.push_back({Effective(module), Key(type), Key(name), data, size});
}

void PlatformUnregisterResources(HMODULE module) {
  std::lock_guard<std::mutex> guard(Resources().lock);
  Resources().resources.remove_if(
      [&](const Resource& resource) { return resource.module == Effective(module); });
}

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  if (name == nullptr || type == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const HMODULE owner = Effective(module);
  const std::string typeKey = Key(type), nameKey = Key(name);
  std::lock_guard<std::mutex> guard(Resources().lock);
  bool typeFound = false;
  for (Resource& resource : Resources().resources) {
    if (resource.module != owner || strcasecmp(resource.type.c_str(), typeKey.c_str()) != 0) {
      continue;
    }
    typeFound = true;
    if (strcasecmp(resource.name.c_str(), nameKey.c_str()) == 0) {
      return reinterpret_cast<HRSRC>(&resource);
    }
  }
  SetLastError(typeFound ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  if (resource == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return const_cast<void*>(reinterpret_cast<Resource*>(resource)->data);
}

LPVOID LockResource(HGLOBAL data) { return data; }

DWORD SizeofResource(HMODULE, HRSRC resource) {
  return resource != nullptr ? reinterpret_cast<Resource*>(resource)->size : 0;
}

// Resources need no freeing; like Windows, the call reports FALSE.
BOOL FreeResource(HGLOBAL) { return FALSE; }

// Answers the root block "\" of a VS_VERSIONINFO: its VS_FIXEDFILEINFO. Other sub-blocks are not
// kept here.
BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, UINT* length) {
  if (block == nullptr || subBlock == nullptr || buffer == nullptr || length == nullptr) {
    return FALSE;
  }
  if (std::string(subBlock) != "\\") return FALSE;
  const auto* bytes = static_cast<const BYTE*>(block);
  WORD blockLength = 0, valueLength = 0;
  std::memcpy(&blockLength, bytes, 2);
  std::memcpy(&valueLength, bytes + 2, 2);
  // Header: three WORDs, then the UTF-16 key "VS_VERSION_INFO" with its terminator, then
  // padding to a 32-bit boundary.
  constexpr size_t kValueOffset = (6 + 16 * 2 + 3) & ~size_t{3};
  if (valueLength != sizeof(VS_FIXEDFILEINFO) ||
      blockLength < kValueOffset + sizeof(VS_FIXEDFILEINFO)) {
    return FALSE;
  }
  const char16_t expected[] = u"VS_VERSION_INFO";
  if (std::memcmp(bytes + 6, expected, sizeof expected) != 0) return FALSE;
  auto* info = reinterpret_cast<VS_FIXEDFILEINFO*>(const_cast<BYTE*>(bytes + kValueOffset));
  if (info->dwSignature != VS_FFI_SIGNATURE) return FALSE;
  *buffer = info;
  *length = sizeof(VS_FIXEDFILEINFO);
  return TRUE;
}

}  // extern "C"

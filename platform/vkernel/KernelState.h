// The virtual kernel's shared state: registered interfaces and open handles (internal).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/vkernel/VirtualKernel.h"

namespace vk {

// Handle values far above those that real handle tables and the emulation hand out (on 32-bit
// Windows high in the range, where neither handle tables nor module addresses reach).
constexpr uintptr_t kHandleBase =
    sizeof(void*) == 4 ? uintptr_t{0xE0000000u} : static_cast<uintptr_t>(0x00004B5800000000ull);

// One interface of a device-information set, as enumeration or an alias query found it.
struct SetEntry {
  Registration id = 0;
  InterfaceDescription description;
  GUID category = {};
  DWORD flags = 0;
  bool alias = false;
};

struct DeviceInfoSet {
  GUID category = {};
  std::vector<SetEntry> entries;
};

struct HandleEntry {
  enum class Kind { File, Set, Key } kind = Kind::File;
  std::shared_ptr<FileObject> file;
  bool overlapped = false;
  std::shared_ptr<DeviceInfoSet> set;
  bool hasFriendlyName = false;
  std::string friendlyName;
};

HANDLE AddHandle(HandleEntry entry);
// Copies the entry of an open handle; false when the value is not an open handle of ours.
bool FindHandle(const void* handle, HandleEntry* entry);
bool RemoveHandle(const void* handle, HandleEntry* entry);

// The node whose interface has `path` in one of its categories (ASCII case ignored).
std::shared_ptr<DeviceNode> FindNodeByPath(const char* path);
// Copies of the registered interfaces listed under `category`, in registration order.
std::vector<SetEntry> InterfacesOf(const GUID& category, bool presentOnly);

bool SameText(const std::string& a, const std::string& b);

}  // namespace vk

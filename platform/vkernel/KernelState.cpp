// Registered interfaces and open handles of the virtual kernel, behind one lock. Device objects
// are always called with the lock released, so that they may complete requests freely.
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>

#include "platform/vkernel/KernelState.h"

namespace vk {
namespace {

struct InterfaceEntry {
  Registration id = 0;
  InterfaceDescription description;
  std::shared_ptr<DeviceNode> node;
};

struct Kernel {
  std::mutex lock;
  std::vector<InterfaceEntry> interfaces;
  Registration nextRegistration = 1;
  std::map<uintptr_t, HandleEntry> handles;
  uintptr_t nextHandle = kHandleBase;
};

// Constant-initialised, so that a hook may be installed while the module is still loading.
std::atomic<ActivityHook> activityHook{nullptr};

Kernel& State() {
  static Kernel* kernel = new Kernel;  // lives to the very end of the process
  return *kernel;
}

uintptr_t Key(const void* handle) { return reinterpret_cast<uintptr_t>(handle) & ~uintptr_t{3}; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string InterfacePath(const InterfaceDescription& description, const GUID& category) {
  char guid[40];
  std::snprintf(guid, sizeof guid, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                static_cast<unsigned>(category.Data1), category.Data2, category.Data3,
                category.Data4[0], category.Data4[1], category.Data4[2], category.Data4[3],
                category.Data4[4], category.Data4[5], category.Data4[6], category.Data4[7]);
  return "\\\\?\\" + description.instanceId + "#" + guid + "\\" + description.reference;
}

Registration RegisterInterface(InterfaceDescription description, std::shared_ptr<DeviceNode> node) {
  std::lock_guard<std::mutex> guard(State().lock);
  InterfaceEntry entry;
  entry.id = State().nextRegistration++;
  entry.description = std::move(description);
  entry.node = std::move(node);
  State().interfaces.push_back(std::move(entry));
  return State().interfaces.back().id;
}

bool UpdateInterface(Registration id, InterfaceDescription description) {
  std::lock_guard<std::mutex> guard(State().lock);
  for (InterfaceEntry& entry : State().interfaces) {
    if (entry.id != id) continue;
    entry.description = std::move(description);
    return true;
  }
  return false;
}

void UnregisterInterface(Registration id) {
  std::shared_ptr<DeviceNode> node;  // released outside the lock
  std::lock_guard<std::mutex> guard(State().lock);
  auto& interfaces = State().interfaces;
  for (auto it = interfaces.begin(); it != interfaces.end(); ++it) {
    if (it->id != id) continue;
    node = std::move(it->node);
    interfaces.erase(it);
    return;
  }
}

size_t OpenHandleCount() {
  std::lock_guard<std::mutex> guard(State().lock);
  return State().handles.size();
}

size_t OpenFileCount() {
  std::lock_guard<std::mutex> guard(State().lock);
  size_t count = 0;
  for (const auto& handle : State().handles) {
    if (handle.second.kind == HandleEntry::Kind::File) ++count;
  }
  return count;
}

void SetActivityHook(ActivityHook hook) { activityHook.store(hook, std::memory_order_release); }

void ReportActivity(Activity activity) {
  const ActivityHook hook = activityHook.load(std::memory_order_acquire);
  if (hook != nullptr) hook(activity);
}

bool IsVirtualHandle(const void* handle) {
  const uintptr_t key = Key(handle);
  if (key < kHandleBase) return false;
  std::lock_guard<std::mutex> guard(State().lock);
  return State().handles.count(key) != 0;
}

HANDLE AddHandle(HandleEntry entry) {
  std::lock_guard<std::mutex> guard(State().lock);
  State().nextHandle += 4;
  const uintptr_t value = State().nextHandle;
  State().handles.emplace(value, std::move(entry));
  return reinterpret_cast<HANDLE>(value);
}

bool FindHandle(const void* handle, HandleEntry* entry) {
  const uintptr_t key = Key(handle);
  if (key < kHandleBase) return false;
  std::lock_guard<std::mutex> guard(State().lock);
  auto found = State().handles.find(key);
  if (found == State().handles.end()) return false;
  *entry = found->second;
  return true;
}

bool RemoveHandle(const void* handle, HandleEntry* entry) {
  const uintptr_t key = Key(handle);
  if (key < kHandleBase) return false;
  std::lock_guard<std::mutex> guard(State().lock);
  auto found = State().handles.find(key);
  if (found == State().handles.end()) return false;
  *entry = std::move(found->second);
  State().handles.erase(found);
  return true;
}

std::shared_ptr<DeviceNode> FindNodeByPath(const char* path) {
  const std::string wanted(path);
  std::lock_guard<std::mutex> guard(State().lock);
  for (const InterfaceEntry& entry : State().interfaces) {
    for (const InterfaceCategory& category : entry.description.categories) {
      if (SameText(InterfacePath(entry.description, category.category), wanted)) return entry.node;
    }
  }
  return nullptr;
}

std::vector<SetEntry> InterfacesOf(const GUID& category, bool presentOnly) {
  std::vector<SetEntry> found;
  std::lock_guard<std::mutex> guard(State().lock);
  for (const InterfaceEntry& entry : State().interfaces) {
    for (const InterfaceCategory& listed : entry.description.categories) {
      if (std::memcmp(&listed.category, &category, sizeof(GUID)) != 0) continue;
      if (presentOnly && (listed.flags & SPINT_REMOVED) != 0) break;
      SetEntry item;
      item.id = entry.id;
      item.description = entry.description;
      item.category = category;
      item.flags = listed.flags;
      found.push_back(std::move(item));
      break;
    }
  }
  return found;
}

}  // namespace vk

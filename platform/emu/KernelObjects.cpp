#include "platform/emu/KernelObjects.h"

#include <unordered_map>

#include "platform/emu/CallCount.h"
#include "platform/emu/errors.h"

namespace emu {
namespace {

struct Table {
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  uintptr_t next = 0x1000;
};

Table& Objects() {
  static Table* table = new Table;  // lives to the very end of the process
  return *table;
}

thread_local DWORD lastError = 0;

uintptr_t Key(HANDLE handle) { return reinterpret_cast<uintptr_t>(handle) & ~uintptr_t{3}; }

}  // namespace

std::mutex& ObjectLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::condition_variable& ObjectSignal() {
  static std::condition_variable* signal = new std::condition_variable;
  return *signal;
}

HANDLE AddObject(std::shared_ptr<KernelObject> object) {
  std::lock_guard<std::mutex> guard(ObjectLock());
  Table& table = Objects();
  const uintptr_t value = table.next;
  table.next += 4;
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> FindObject(HANDLE handle) {
  auto& objects = Objects().objects;
  const auto found = objects.find(Key(handle));
  return found == objects.end() ? nullptr : found->second;
}

std::shared_ptr<KernelObject> FindThread(DWORD threadId) {
  for (const auto& entry : Objects().objects) {
    const auto& object = entry.second;
    if (object->kind == KernelObject::Kind::Thread && object->threadId == threadId) return object;
  }
  return nullptr;
}

std::unordered_set<DWORD>& LiveThreadIds() {
  // Never destroyed: a detached thread may still end after static destructors have run.
  static auto* live = new std::unordered_set<DWORD>;
  return *live;
}

bool RemoveObject(HANDLE handle) {
  std::lock_guard<std::mutex> guard(ObjectLock());
  return Objects().objects.erase(Key(handle)) != 0;
}

void SetLastErrorValue(DWORD error) { lastError = error; }

}  // namespace emu

extern "C" DWORD GetLastError(void) {
  emu::CountedCall counted(emu_test::PlatformCall::GetLastError);
  return emu::lastError;
}
extern "C" void SetLastError(DWORD error) { emu::lastError = error; }

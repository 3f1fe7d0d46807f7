// The handle table, CloseHandle and DuplicateHandle, and the dispatcher lock of all waits.
#include <mutex>
#include <unordered_map>
#include <utility>

#include "platform/emu/errors.h"
#include "platform/emu/kernel_objects.h"
#include "platform/emu/sync.h"

namespace kx7emu {
namespace {

constexpr uintptr_t kFirstHandle = 0x100;
constexpr uintptr_t kLastHandle = 0x7FFFFFF0;  // stays clear of the pseudo-handles and HKEYs
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

struct Dispatcher {
  Dispatcher() {
    pthread_mutex_init(&mutex, nullptr);
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&condition, &attributes);
    pthread_condattr_destroy(&attributes);
  }
  pthread_mutex_t mutex;
  pthread_cond_t condition;
};

// Never destroyed: threads may still wait or signal while the process exits.
Dispatcher& TheDispatcher() {
  static Dispatcher* dispatcher = new Dispatcher;
  return *dispatcher;
}

struct HandleTable {
  std::mutex mutex;
  uintptr_t next = kFirstHandle;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  std::unordered_map<const KernelObject*, int> handleCounts;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;
  return *table;
}

uintptr_t Key(HANDLE handle) { return reinterpret_cast<uintptr_t>(handle) & ~uintptr_t{3}; }

}  // namespace

pthread_mutex_t* DispatcherMutex() { return &TheDispatcher().mutex; }
pthread_cond_t* DispatcherCondition() { return &TheDispatcher().condition; }
void WakeWaiters() { pthread_cond_broadcast(&TheDispatcher().condition); }

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  if (!object) return nullptr;
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  if (table.next > kLastHandle) return nullptr;
  const uintptr_t value = table.next;
  table.next += 4;
  ++table.handleCounts[object.get()];
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> ReferenceHandle(HANDLE handle) {
  if (handle == kCurrentThread) return CurrentThreadObject();
  if (handle == kCurrentProcess || handle == nullptr) return nullptr;
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  const auto found = table.objects.find(Key(handle));
  return found == table.objects.end() ? nullptr : found->second;
}

}  // namespace kx7emu

using kx7emu::Table;

extern "C" BOOL CloseHandle(HANDLE handle) {
  if (handle == kx7emu::kCurrentThread || handle == kx7emu::kCurrentProcess) return TRUE;
  std::shared_ptr<kx7emu::KernelObject> object;
  bool last = false;
  {
    kx7emu::HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto found = table.objects.find(kx7emu::Key(handle));
    if (handle == nullptr || found == table.objects.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    object = std::move(found->second);
    table.objects.erase(found);
    const auto count = table.handleCounts.find(object.get());
    if (--count->second == 0) {
      table.handleCounts.erase(count);
      last = true;
    }
  }
  if (last) object->OnLastHandleClosed();
  return TRUE;  // the object goes when the last wait on it lets go
}

extern "C" BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess,
                                LPHANDLE target, DWORD /*access*/, BOOL /*inherit*/,
                                DWORD options) {
  constexpr DWORD kCloseSource = 0x1;  // DUPLICATE_CLOSE_SOURCE
  if (sourceProcess != kx7emu::kCurrentProcess || targetProcess != kx7emu::kCurrentProcess ||
      target == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::shared_ptr<kx7emu::KernelObject> object = kx7emu::ReferenceHandle(source);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *target = kx7emu::InsertHandle(std::move(object));
  if (*target == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  if ((options & kCloseSource) != 0) CloseHandle(source);
  return TRUE;
}

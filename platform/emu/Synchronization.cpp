// Events, waits, handles and interlocked operations with Windows semantics.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>

#include "platform/emu/CallCount.h"
#include "platform/emu/KernelObjects.h"
#include "platform/emu/errors.h"
#include "platform/emu/sync.h"
#include "platform/emu/test_hooks.h"

using emu::KernelObject;

namespace {

// Takes the signal of an object that is signalled: an auto-reset event is consumed.
void Consume(KernelObject& object) {
  if (object.kind == KernelObject::Kind::Event && !object.manualReset) object.signaled = false;
}

std::atomic<int> invalidHandleUses{0};

// A thread blocked in a wait with a finite time-out, with what it waits for (ObjectLock held).
struct BlockedWait {
  DWORD threadId = 0;
  std::vector<std::shared_ptr<KernelObject>> objects;
  bool waitAll = false;
  // Begun while timeGetTime was frozen: the wait also ends when the frozen clock reaches this.
  bool frozenTimed = false;
  DWORD frozenDeadline = 0;
  bool expired = false;
};
// The entries of the threads blocked now, each entry the thread's own: after a thread's first
// wait, waiting allocates nothing.
std::vector<BlockedWait*>& BlockedWaits() {
  static auto* waits = new std::vector<BlockedWait*>;
  return *waits;
}
// Tests in WaitUntilIdle. Only they need to hear that a thread started to wait: telling every
// waiting thread would wake each of them for nothing.
int idleWatchers = 0;

const BlockedWait* FindBlocked(DWORD threadId) {
  for (const BlockedWait* wait : BlockedWaits()) {
    if (wait->threadId == threadId) return wait;
  }
  return nullptr;
}

// The calling thread's entry in BlockedWaits while it waits; removed when the wait ends.
class IdleRegistration {
 public:
  IdleRegistration() = default;
  ~IdleRegistration() {
    if (entry_ == nullptr) return;
    auto& waits = BlockedWaits();
    waits.erase(std::find(waits.begin(), waits.end(), entry_));
    entry_->objects.clear();
  }
  IdleRegistration(const IdleRegistration&) = delete;
  IdleRegistration& operator=(const IdleRegistration&) = delete;
  void Register(const std::shared_ptr<KernelObject>* objects, DWORD count, bool waitAll,
                bool frozenTimed, DWORD frozenDeadline) {
    thread_local BlockedWait own;
    own.threadId = GetCurrentThreadId();
    own.objects.assign(objects, objects + count);
    own.waitAll = waitAll;
    own.frozenTimed = frozenTimed;
    own.frozenDeadline = frozenDeadline;
    own.expired = false;
    BlockedWaits().push_back(&own);
    entry_ = &own;
    if (idleWatchers > 0) emu::ObjectSignal().notify_all();
  }
  bool registered() const { return entry_ != nullptr; }
  bool expired() const { return entry_ != nullptr && entry_->expired; }

 private:
  BlockedWait* entry_ = nullptr;
};

// Whether a frozen clock at `now` has reached a wait's deadline (with the clock's wrap-around).
bool FrozenDeadlinePassed(const BlockedWait& wait, DWORD now) {
  return wait.frozenTimed && static_cast<int32_t>(now - wait.frozenDeadline) >= 0;
}

// Whether a blocked wait would end now.
bool Satisfied(const BlockedWait& wait) {
  if (wait.expired) return true;
  bool all = true;
  bool any = false;
  for (const auto& object : wait.objects) {
    all = all && object->signaled;
    any = any || object->signaled;
  }
  return wait.waitAll ? all : any;
}

}  // namespace

namespace emu_test {
int InvalidHandleUses() { return invalidHandleUses.load(); }

bool WaitUntilIdle(DWORD threadId, DWORD milliseconds) {
  std::unique_lock<std::mutex> lock(emu::ObjectLock());
  ++idleWatchers;
  // A thread that has returned is as idle as one that waits.
  const auto idle = [threadId] {
    const BlockedWait* found = FindBlocked(threadId);
    return (found != nullptr && !Satisfied(*found)) || emu::LiveThreadIds().count(threadId) == 0;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  bool result = idle();
  while (!result) {
    const bool timedOut = emu::ObjectSignal().wait_until(lock, deadline) == std::cv_status::timeout;
    result = idle();
    if (timedOut) break;
  }
  --idleWatchers;
  return result;
}
}  // namespace emu_test

namespace emu {
void ExpireFrozenWaits(DWORD now) {
  bool any = false;
  for (BlockedWait* wait : BlockedWaits()) {
    if (!wait->expired && FrozenDeadlinePassed(*wait, now)) {
      wait->expired = true;
      any = true;
    }
  }
  if (any) ObjectSignal().notify_all();
}

void SetEventsTogether(const HANDLE* events, size_t count) {
  std::lock_guard<std::mutex> guard(ObjectLock());
  for (size_t i = 0; i < count; ++i) {
    auto object = FindObject(events[i]);
    if (object && object->kind == KernelObject::Kind::Event) object->signaled = true;
  }
  ObjectSignal().notify_all();
}
}  // namespace emu

extern "C" {

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR) {
  auto event = std::make_shared<KernelObject>();
  event->kind = KernelObject::Kind::Event;
  event->manualReset = manualReset != FALSE;
  event->signaled = initialState != FALSE;
  return emu::AddObject(std::move(event));
}

BOOL SetEvent(HANDLE handle) {
  emu::CountedCall counted(emu_test::PlatformCall::SetEvent);
  std::lock_guard<std::mutex> guard(emu::ObjectLock());
  auto object = emu::FindObject(handle);
  if (!object || object->kind != KernelObject::Kind::Event) {
    emu::SetLastErrorValue(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->signaled = true;
  emu::ObjectSignal().notify_all();
  return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
  emu::CountedCall counted(emu_test::PlatformCall::ResetEvent);
  std::lock_guard<std::mutex> guard(emu::ObjectLock());
  auto object = emu::FindObject(handle);
  if (!object || object->kind != KernelObject::Kind::Event) {
    emu::SetLastErrorValue(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->signaled = false;
  return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  emu::CountedCall counted(emu_test::PlatformCall::WaitForMultipleObjects);
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
    emu::SetLastErrorValue(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::unique_lock<std::mutex> lock(emu::ObjectLock());
  std::shared_ptr<KernelObject> objects[MAXIMUM_WAIT_OBJECTS];
  for (DWORD i = 0; i < count; ++i) {
    objects[i] = emu::FindObject(handles[i]);  // kept alive even if closed during the wait
    if (!objects[i]) {
      invalidHandleUses.fetch_add(1);
      emu::SetLastErrorValue(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  DWORD frozenStart = 0;
  const bool frozenTimed = milliseconds != INFINITE && emu::FrozenTimeNow(&frozenStart);
  IdleRegistration idle;
  while (true) {
    if (waitAll) {
      bool all = true;
      for (DWORD i = 0; i < count; ++i) all = all && objects[i]->signaled;
      if (all) {
        for (DWORD i = 0; i < count; ++i) Consume(*objects[i]);
        return WAIT_OBJECT_0;
      }
    } else {
      for (DWORD i = 0; i < count; ++i) {
        if (objects[i]->signaled) {
          Consume(*objects[i]);
          return WAIT_OBJECT_0 + i;
        }
      }
    }
    if (milliseconds == 0 || idle.expired()) return WAIT_TIMEOUT;
    if (milliseconds == INFINITE) {
      emu::ObjectSignal().wait(lock);
      continue;
    }
    if (!idle.registered()) {
      idle.Register(objects, count, waitAll != FALSE, frozenTimed, frozenStart + milliseconds);
    }
    if (emu::ObjectSignal().wait_until(lock, deadline) == std::cv_status::timeout) {
      // One last look: the signal may have come with the time-out.
      milliseconds = 0;
    }
  }
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  emu::CountedCall counted(emu_test::PlatformCall::WaitForSingleObject);
  return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

BOOL CloseHandle(HANDLE handle) {
  if (!emu::RemoveObject(handle)) {
    invalidHandleUses.fetch_add(1);
    emu::SetLastErrorValue(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL DuplicateHandle(HANDLE, HANDLE source, HANDLE, LPHANDLE target, DWORD, BOOL, DWORD) {
  std::shared_ptr<KernelObject> object;
  {
    std::lock_guard<std::mutex> guard(emu::ObjectLock());
    object = emu::FindObject(source);
  }
  if (!object || target == nullptr) {
    emu::SetLastErrorValue(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *target = emu::AddObject(object);
  return TRUE;
}

LONG InterlockedIncrement(LONG volatile* value) {
  return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedDecrement(LONG volatile* value) {
  return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedExchange(LONG volatile* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}

}  // extern "C"

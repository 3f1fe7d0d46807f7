// Events and the waits on every waitable object: WaitForSingleObject, WaitForMultipleObjects.
#include <time.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "platform/emu/errors.h"
#include "platform/emu/kernel_objects.h"
#include "platform/emu/sync.h"

namespace kx7emu {
namespace {

class EventObject : public KernelObject {
 public:
  EventObject(bool manualReset, bool signaled) : manualReset_(manualReset), signaled_(signaled) {}
  bool IsWaitable() const override { return true; }
  bool IsSignaled() const override { return signaled_; }
  void Satisfy() override {
    if (!manualReset_) signaled_ = false;  // an auto-reset event releases one waiter per signal
  }
  void Set(bool signaled) { signaled_ = signaled; }

 private:
  const bool manualReset_;
  bool signaled_;  // guarded by the dispatcher lock
};

// The monotonic time at which a wait of the given length ends.
timespec Deadline(DWORD milliseconds) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  now.tv_sec += static_cast<time_t>(milliseconds / 1000);
  now.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (now.tv_nsec >= 1000000000L) {
    now.tv_sec += 1;
    now.tv_nsec -= 1000000000L;
  }
  return now;
}

// Waits until the objects satisfy the wait (any one, or all at once), consuming what the wait
// takes. Returns the WAIT_* result.
DWORD Wait(const std::vector<std::shared_ptr<KernelObject>>& objects, bool waitAll,
           DWORD milliseconds) {
  const timespec deadline = Deadline(milliseconds);
  DispatcherLock lock;
  for (;;) {
    if (waitAll) {
      bool all = true;
      for (const auto& object : objects) all = all && object->IsSignaled();
      if (all) {
        for (const auto& object : objects) object->Satisfy();
        return WAIT_OBJECT_0;
      }
    } else {
      for (size_t i = 0; i < objects.size(); ++i) {
        if (objects[i]->IsSignaled()) {
          objects[i]->Satisfy();
          return WAIT_OBJECT_0 + static_cast<DWORD>(i);
        }
      }
    }
    if (milliseconds == 0) return WAIT_TIMEOUT;
    if (milliseconds == INFINITE) {
      pthread_cond_wait(DispatcherCondition(), DispatcherMutex());
    } else if (pthread_cond_timedwait(DispatcherCondition(), DispatcherMutex(), &deadline) ==
               ETIMEDOUT) {
      milliseconds = 0;  // one last look at the objects, then time out
    }
  }
}

bool SetState(HANDLE handle, bool signaled) {
  const std::shared_ptr<EventObject> event = ReferenceHandleAs<EventObject>(handle);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  {
    DispatcherLock lock;
    event->Set(signaled);
  }
  if (signaled) WakeWaiters();
  return true;
}

}  // namespace
}  // namespace kx7emu

extern "C" HANDLE CreateEventA(LPSECURITY_ATTRIBUTES /*attributes*/, BOOL manualReset,
                               BOOL initialState, LPCSTR name) {
  if (name != nullptr && name[0] != '\0') {
    SetLastError(ERROR_NOT_SUPPORTED);  // named events cross processes; nothing here needs them
    return nullptr;
  }
  HANDLE handle = kx7emu::InsertHandle(
      std::make_shared<kx7emu::EventObject>(manualReset != FALSE, initialState != FALSE));
  if (handle == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return handle;
}

extern "C" BOOL SetEvent(HANDLE event) { return kx7emu::SetState(event, true) ? TRUE : FALSE; }

extern "C" BOOL ResetEvent(HANDLE event) { return kx7emu::SetState(event, false) ? TRUE : FALSE; }

extern "C" DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  std::shared_ptr<kx7emu::KernelObject> object = kx7emu::ReferenceHandle(handle);
  if (!object || !object->IsWaitable()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return kx7emu::Wait({std::move(object)}, false, milliseconds);
}

extern "C" DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                        DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<kx7emu::KernelObject>> objects;
  for (DWORD i = 0; i < count; ++i) {
    std::shared_ptr<kx7emu::KernelObject> object = kx7emu::ReferenceHandle(handles[i]);
    if (!object || !object->IsWaitable()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    for (const auto& earlier : objects) {
      if (waitAll && earlier == object) {  // Windows refuses one object twice in a wait-all
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
      }
    }
    objects.push_back(std::move(object));
  }
  return kx7emu::Wait(objects, waitAll != FALSE, milliseconds);
}

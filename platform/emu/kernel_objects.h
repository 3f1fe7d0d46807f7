// Kernel objects of the emulation: the handle table and the dispatcher lock under which every
// waitable object changes state. Internal to the platform library and its device model.
#pragma once

#include <pthread.h>

#include <memory>

#include "platform/emu/types.h"

namespace kx7emu {

// Base of everything a HANDLE can stand for. Waitable objects answer IsSignaled and Satisfy
// with the dispatcher lock held; Satisfy is called once per wait that the object completes
// (an auto-reset event clears itself there).
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  virtual bool IsWaitable() const { return false; }
  virtual bool IsSignaled() const { return false; }
  virtual void Satisfy() {}
  // Called without any lock held once the last handle of the object has been closed; waits
  // in progress may still hold the object.
  virtual void OnLastHandleClosed() {}
};

// The one lock that guards the state of every waitable object, and the condition (on the
// monotonic clock) that waiters sleep on. A signal changes state under the lock and then calls
// WakeWaiters, with or without the lock.
pthread_mutex_t* DispatcherMutex();
pthread_cond_t* DispatcherCondition();
void WakeWaiters();

class DispatcherLock {
 public:
  DispatcherLock() { pthread_mutex_lock(DispatcherMutex()); }
  ~DispatcherLock() { pthread_mutex_unlock(DispatcherMutex()); }
  DispatcherLock(const DispatcherLock&) = delete;
  DispatcherLock& operator=(const DispatcherLock&) = delete;
};

// Inserts an object and returns its new handle (a multiple of 4, never reused), or null when
// the table is full.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
// The object behind a handle; the two low bits of the value are ignored, as Windows does. The
// current-thread pseudo-handle gives the calling thread's object; unknown and closed handles and
// the current-process pseudo-handle give null.
std::shared_ptr<KernelObject> ReferenceHandle(HANDLE handle);
template <class T>
std::shared_ptr<T> ReferenceHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(ReferenceHandle(handle));
}
// The object of the calling thread (created for threads that the emulation did not start).
std::shared_ptr<KernelObject> CurrentThreadObject();

}  // namespace kx7emu

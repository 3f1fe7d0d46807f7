// The transport lock: it serialises the set-up and transport paths (init, createBuffers,
// disposeBuffers, start, stop, setSampleRate, controlPanel, the destructor) across the host's
// threads. The streaming thread never takes it: a host thread may hold it while waiting for that
// thread to end, so calls from inside the host's callback only ask, and the next host thread to
// take the lock finishes what they asked for.
#include "driver/AsioDriver.h"

namespace {

constexpr DWORD kLockPollMs = 2;

}  // namespace

CAsioDriver::TransportScope::TransportScope(CAsioDriver* owner) : driver(owner) {
  if (driver->OnStreamThread()) return;
  const DWORD self = GetCurrentThreadId();
  if (driver->transportOwner.load(std::memory_order_relaxed) == self) {
    entered = false;
    return;
  }
  driver->transportLock.lock();
  driver->transportOwner.store(self, std::memory_order_relaxed);
  locked = true;
  driver->ReapEndedStream();
}

CAsioDriver::TransportScope::~TransportScope() {
  if (locked) driver->UnlockTransport();
}

bool CAsioDriver::LockTransportWithin(DWORD milliseconds) {
  const DWORD self = GetCurrentThreadId();
  if (transportOwner.load(std::memory_order_relaxed) == self) return false;
  // Polled: only the destructor waits like this, and a timed wait of the mutex itself is not
  // seen by every thread checker.
  const DWORD t0 = timeGetTime();
  while (!transportLock.try_lock()) {
    if (timeGetTime() - t0 >= milliseconds) return false;
    Sleep(kLockPollMs);
  }
  transportOwner.store(self, std::memory_order_relaxed);
  return true;
}

void CAsioDriver::UnlockTransport() {
  transportOwner.store(0, std::memory_order_relaxed);
  transportLock.unlock();
}

void CAsioDriver::ReapEndedStream() {
  // Only a stop from inside the callback leaves a thread recorded with the stop flag set: every
  // other path that sets the flag waits for the thread before it lets go of the lock.
  if (streamThread != INVALID_HANDLE_VALUE && stopStreaming.load(std::memory_order_relaxed)) {
    EndStream();
  }
}

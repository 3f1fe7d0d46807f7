// The transport lock: it serialises the set-up and transport paths (init, createBuffers,
// disposeBuffers, start, stop, setSampleRate, controlPanel) across the host's threads. The
// streaming thread never takes it: a host thread may hold it while waiting for that thread to
// end, so calls from inside the host's callback only ask, and the next host thread to take the
// lock finishes what they asked for.
#include "driver/AsioDriver.h"

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

void CAsioDriver::UnlockTransport() {
  transportOwner.store(0, std::memory_order_relaxed);
  transportLock.unlock();
}

void CAsioDriver::ReapEndedStream() {
  // Only a stop from inside the callback leaves a run recorded with its stop asked for: every
  // other path that asks ends it before it lets go of the lock.
  if (stream != nullptr && stream->StopRequested()) EndStream();
}

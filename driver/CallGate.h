// Counts the host's calls inside the driver object. The last release closes the gate, so that
// later calls are refused, and waits a bounded time for the calls inside to leave; when they do
// not leave in time, the last of them to leave finishes the release. No path frees the object
// while a call is still inside it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/windows.h"

class CallGate {
 public:
  // False once the gate is closed: the call must return at once.
  bool Enter();
  // True when this was the last call out of a gate whose release was left to it: the caller
  // then finishes the release.
  bool Leave();
  // Closes the gate and waits up to `milliseconds` for the calls of other threads to leave. True
  // when no call is inside any more and the object may go now; false when the release is left
  // to the last call that leaves (which may be one of the calling thread's own).
  bool CloseAndDrain(DWORD milliseconds);

 private:
  static constexpr uint32_t kClosed = 1u << 31;
  static constexpr uint32_t kDeferred = 1u << 30;
  static constexpr uint32_t kCountMask = kDeferred - 1;
  std::atomic<uint32_t> state{0};
};

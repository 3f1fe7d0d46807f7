#include "driver/CallGate.h"

namespace {

// Calls the current thread has inside driver objects: a release from inside one of them (a host
// that releases from a callback the driver makes) must not wait for itself.
thread_local uint32_t callsOfThisThread = 0;
constexpr DWORD kDrainPollMs = 1;

}  // namespace

bool CallGate::Enter() {
  uint32_t seen = state.load(std::memory_order_relaxed);
  do {
    if ((seen & kClosed) != 0) return false;
  } while (!state.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire,
                                        std::memory_order_relaxed));
  ++callsOfThisThread;
  return true;
}

bool CallGate::Leave() {
  --callsOfThisThread;
  const uint32_t left = state.fetch_sub(1, std::memory_order_acq_rel) - 1;
  return (left & kDeferred) != 0 && (left & kCountMask) == 0;
}

bool CallGate::CloseAndDrain(DWORD milliseconds) {
  state.fetch_or(kClosed, std::memory_order_acq_rel);
  const uint32_t own = callsOfThisThread;
  // Bounded by the clock, and by the count of polls where a test holds the clock still.
  const DWORD t0 = timeGetTime();
  for (DWORD waited = 0; waited < milliseconds; waited += kDrainPollMs) {
    if ((state.load(std::memory_order_acquire) & kCountMask) <= own) break;
    if (timeGetTime() - t0 >= milliseconds) break;
    Sleep(kDrainPollMs);
  }
  uint32_t seen = state.load(std::memory_order_acquire);
  while ((seen & kCountMask) != 0) {
    if (state.compare_exchange_weak(seen, seen | kDeferred, std::memory_order_acq_rel)) {
      return false;
    }
  }
  return true;
}

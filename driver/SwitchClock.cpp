#include "driver/SwitchClock.h"

namespace {

constexpr uint64_t kNanosecondsPerMs = 1000000;
// timeGetTime wraps after 2^32 ms; the stamps wrap with it.
constexpr uint64_t kWrapNs = (uint64_t{1} << 32) * kNanosecondsPerMs;
constexpr int64_t kNanosecondsPerSecond = 1000000000;
constexpr int32_t kMaxDriftMs = 1;

}  // namespace

CSwitchClock::CSwitchClock() {
  LARGE_INTEGER counts{};
  if (QueryPerformanceFrequency(&counts) && counts.QuadPart > 0) frequency = counts.QuadPart;
}

void CSwitchClock::Anchor(DWORD nowMs, int64_t count) {
  anchorCount = count;
  anchorNs = uint64_t{nowMs} * kNanosecondsPerMs;
  anchored = true;
}

uint64_t CSwitchClock::Stamp(DWORD nowMs) {
  LARGE_INTEGER counter{};
  if (frequency == 0 || !QueryPerformanceCounter(&counter)) {
    return uint64_t{nowMs} * kNanosecondsPerMs;
  }
  if (!anchored) Anchor(nowMs, counter.QuadPart);
  const auto elapsedNs = [&]() -> uint64_t {
    const int64_t counts = counter.QuadPart - anchorCount;
    if (counts <= 0) return 0;
    // Seconds and the rest apart, so that the product cannot overflow.
    const int64_t seconds = counts / frequency;
    const int64_t rest = counts % frequency;
    return static_cast<uint64_t>(seconds * kNanosecondsPerSecond +
                                 rest * kNanosecondsPerSecond / frequency);
  };
  uint64_t stamp = (anchorNs + elapsedNs()) % kWrapNs;
  // The two clocks drifted apart (or the counter went back): timeGetTime's base wins.
  const auto drift = static_cast<int32_t>(static_cast<DWORD>(stamp / kNanosecondsPerMs) - nowMs);
  if (drift > kMaxDriftMs || drift < -kMaxDriftMs) {
    Anchor(nowMs, counter.QuadPart);
    stamp = anchorNs;
  }
  return stamp;
}

#include "driver/CaptureHalf.h"

#include <algorithm>
#include <cstring>

uint32_t CCaptureHalf::Take(const SampleConverter& converter, const int32_t* samples,
                            uint32_t count, uint64_t place, float* half, uint32_t halfSize) {
  uint32_t taken = 0;
  if (place < base) {
    taken = static_cast<uint32_t>(std::min<uint64_t>(count, base - place));
    place += taken;
  }
  const uint64_t end = base + halfSize;
  if (taken < count && place < end) {
    const uint32_t at = static_cast<uint32_t>(place - base);
    const uint32_t direct = std::min(count - taken, halfSize - at);
    if (half != nullptr) converter.CaptureInt32ToFloat(samples + taken, half + at, direct);
    taken += direct;
    written += direct;
    reached = std::max(reached, at + direct);
    place += direct;
  }
  // A frame of a later half: nothing more is coming for this one.
  if (taken < count) reached = halfSize;
  return taken;
}

uint32_t CCaptureHalf::Missing(uint32_t halfSize) const {
  const uint64_t end = base + halfSize;
  const uint64_t from = std::max(base, std::min(syncedFrom, end));
  const uint64_t due = end - from;
  return due > written ? static_cast<uint32_t>(due - written) : 0;
}

void CCaptureHalf::NextHalf(float* half, uint32_t halfSize) {
  base += halfSize;
  // The half still holds the samples of two periods ago, already converted for the host.
  if (half != nullptr) std::memset(half, 0, halfSize * sizeof(float));
  reached = 0;
  written = 0;
}

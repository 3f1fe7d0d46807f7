#include "driver/CaptureHalf.h"

#include <algorithm>
#include <cstring>

void CCaptureHalf::AlignTo(uint32_t frame) { frames = frame; }

void CCaptureHalf::Take(const SampleConverter& converter, const int32_t* samples, uint32_t count,
                        float* half, uint32_t halfSize) {
  const uint32_t room = frames < halfSize ? halfSize - frames : 0;
  const uint32_t direct = std::min(count, room);
  if (half != nullptr) converter.CaptureInt32ToFloat(samples, half + frames, direct);
  frames += direct;
  const uint32_t beyond = count - direct;
  const uint32_t kept = std::min(beyond, kCarryFrames - carried);
  converter.CaptureInt32ToFloat(samples + direct, carry + carried, kept);
  carried += kept;
  dropped += beyond - kept;
}

void CCaptureHalf::NextHalf(float* half, uint32_t halfSize) {
  const uint32_t moved = std::min(carried, halfSize);
  if (half != nullptr) {
    std::memcpy(half, carry, moved * sizeof(float));
    // What capture does not deliver in time stays silence: the half still holds last round's
    // samples, already converted for the host.
    std::memset(half + moved, 0, (halfSize - moved) * sizeof(float));
  }
  std::memmove(carry, carry + moved, (carried - moved) * sizeof(float));
  carried -= moved;
  frames = moved;
  dropped = 0;
}

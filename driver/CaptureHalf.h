// The capture side of the input half being filled: where the next captured frame goes, and the
// frames that arrived beyond the half's end, which open the next half. Capture packets can so be
// taken from the device as soon as they complete, however far capture runs ahead of render.
#pragma once

#include <cstdint>

#include "streaming/SampleConverter.h"

class CCaptureHalf {
 public:
  // Room for eight packets beyond the half's end: more than four packets in flight per direction
  // can put there.
  static constexpr uint32_t kCarryFrames = 512;

  // Capture starts at `frame` of the half (where render stands when capture first arrives).
  void AlignTo(uint32_t frame);
  // Puts `count` device samples at the capture position of `half` (null: counted, not written),
  // carries what lies beyond `halfSize`, and drops what the carry cannot hold.
  void Take(const SampleConverter& converter, const int32_t* samples, uint32_t count, float* half,
            uint32_t halfSize);
  // Frames written into the half, and frames of this half's packets that were dropped.
  uint32_t Frames() const { return frames; }
  uint32_t Dropped() const { return dropped; }
  // The next half begins: the carried frames go to its start.
  void NextHalf(float* half, uint32_t halfSize);

 private:
  float carry[kCarryFrames] = {};
  uint32_t carried = 0;
  uint32_t frames = 0;
  uint32_t dropped = 0;
};

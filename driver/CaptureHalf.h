// The capture side of the input half being filled. Every captured frame has a place in the
// capture stream, and the half takes the frames whose places fall inside it: a frame that comes
// after its half has gone is dropped, and a place no frame came for stays silence, so a lost or
// late packet never moves the input against the output.
#pragma once

#include <cstdint>

#include "streaming/SampleConverter.h"

class CCaptureHalf {
 public:
  // Frames before `place` were never captured (the microphone had not started): their silence
  // is not a loss.
  void SyncAt(uint64_t place) { syncedFrom = place; }
  // Puts device samples whose first frame has place `place` into `half` (null: counted, not
  // written). Returns how many of the `count` frames it took: those of earlier halves (dropped)
  // and of this one; it stops at the first frame of a later half, which completes this one.
  uint32_t Take(const SampleConverter& converter, const int32_t* samples, uint32_t count,
                uint64_t place, float* half, uint32_t halfSize);
  // Whether the half has every frame it will get: capture has reached its end.
  bool Complete(uint32_t halfSize) const { return reached >= halfSize; }
  // Frames that should have come for this half and did not.
  uint32_t Missing(uint32_t halfSize) const;
  // The place of the half's first frame.
  uint64_t Base() const { return base; }
  // The next half begins, all silence until capture fills it.
  void NextHalf(float* half, uint32_t halfSize);

 private:
  uint64_t base = 0;
  uint64_t syncedFrom = UINT64_MAX;
  uint32_t reached = 0;  // frames from the half's start up to the furthest place taken
  uint32_t written = 0;
};

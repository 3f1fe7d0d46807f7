// The buffer switches' time stamps: nanoseconds in timeGetTime's base (the same zero and the same
// wrap, so hosts can compare them with their own timeGetTime), refined below the millisecond by
// the performance counter. The counter is anchored against timeGetTime at the first stamp and
// anchored anew whenever the two drift apart by more than a millisecond.
//
// Threads: one thread at a time (the streaming thread of a run).
#pragma once

#include <cstdint>

#include "platform/windows.h"

class CSwitchClock {
 public:
  CSwitchClock();
  // The stamp for now, given timeGetTime read at the same moment.
  uint64_t Stamp(DWORD nowMs);

 private:
  void Anchor(DWORD nowMs, int64_t count);

  int64_t frequency = 0;  // counts per second; 0 when the counter cannot be read
  int64_t anchorCount = 0;
  uint64_t anchorNs = 0;
  bool anchored = false;
};

// The clock a diagnosis stamps completions with, and the wait for them. Against a real device it
// is the high-resolution performance counter and a plain wait; a test can put a device's own
// stepped clock in its place, so that the same run gives the same log every time.
#pragma once

#include <cstdint>

#include "platform/windows.h"

namespace kx7host {

class CompletionClock {
 public:
  virtual ~CompletionClock() = default;
  // A run at `rate` frames per second is about to start.
  virtual void BeginRun(uint32_t rate) { (void)rate; }
  // Nanoseconds on the clock; only differences within one run mean anything.
  virtual int64_t NowNs() = 0;
  // Waits until one of the events is signalled, or `milliseconds` pass: WaitForMultipleObjects'
  // answer (WAIT_OBJECT_0 + index, WAIT_TIMEOUT or WAIT_FAILED).
  virtual DWORD Wait(DWORD count, const HANDLE* events, DWORD milliseconds) = 0;
};

// QueryPerformanceCounter and WaitForMultipleObjects.
class PerformanceClock : public CompletionClock {
 public:
  PerformanceClock();
  int64_t NowNs() override;
  DWORD Wait(DWORD count, const HANDLE* events, DWORD milliseconds) override;

 private:
  int64_t frequency_ = 1;
};

}  // namespace kx7host

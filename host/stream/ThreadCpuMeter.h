// The CPU time of the thread that calls the host back (the driver's streaming thread), split into
// the host's callbacks and the rest, which is the driver's own cost per buffer switch. The
// callback names the thread and times itself with the thread's cycle count, precise but in a
// unit of its own (the performance counter's wall time where the system has no cycle count);
// the thread's whole CPU time comes from GetThreadTimes, read from outside over a window.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/windows.h"

namespace kx7host {

// One look at the thread, at either end of the window.
struct ThreadCpuReading {
  uint64_t cpu100ns = 0;         // kernel plus user time
  uint64_t cycles = 0;           // the thread's cycle count (cycle measure only)
  uint64_t callbackUnits = 0;    // cycles or counter ticks spent in callbacks so far
  uint64_t callbacks = 0;        // callbacks so far
  int64_t counter = 0;           // performance counter
  int64_t counterFrequency = 1;  // performance counter ticks per second
};

struct ThreadCpuFigures {
  bool measured = false;
  bool callbackByCycles = true;  // else by the callbacks' wall time
  double seconds = 0.0;          // wall time of the window
  uint64_t switches = 0;         // callbacks in the window
  double cpuUs = 0.0;            // the thread's CPU time in the window
  double callbackUs = 0.0;       // of which in the host's callbacks
  double PercentOfCore() const { return seconds > 0.0 ? cpuUs / (seconds * 1e4) : 0.0; }
  double RestPercentOfCore() const {
    return seconds > 0.0 ? (cpuUs - callbackUs) / (seconds * 1e4) : 0.0;
  }
  double UsPerSwitch() const { return switches > 0 ? cpuUs / switches : 0.0; }
  double CallbackUsPerSwitch() const { return switches > 0 ? callbackUs / switches : 0.0; }
  double RestUsPerSwitch() const { return UsPerSwitch() - CallbackUsPerSwitch(); }
};

// The figures of a window. The callbacks' share of the thread's cycles is their share of its CPU
// time; a callback wall time beyond the CPU time (the thread was preempted) counts as all of it.
ThreadCpuFigures SplitThreadCpu(const ThreadCpuReading& begin, const ThreadCpuReading& end,
                                bool callbackByCycles);

class ThreadCpuMeter {
 public:
  ThreadCpuMeter() = default;
  ~ThreadCpuMeter();
  ThreadCpuMeter(const ThreadCpuMeter&) = delete;
  ThreadCpuMeter& operator=(const ThreadCpuMeter&) = delete;

  // Inside the callback, first and last. No allocation, lock or wait.
  void CallbackBegins();
  void CallbackEnds();

  // From another thread, once a callback has run and before the thread ends: the window's start
  // and end. False when no callback has run or the thread cannot be read.
  bool Begin();
  bool End();
  ThreadCpuFigures Figures() const;

 private:
  bool Read(ThreadCpuReading* reading) const;
  uint64_t CallbackClock() const;

  std::atomic<DWORD> threadId_{0};
  std::atomic<bool> byCycles_{true};
  std::atomic<uint64_t> callbackUnits_{0};
  std::atomic<uint64_t> callbacks_{0};
  uint64_t callbackStart_ = 0;  // the callback thread's own
  HANDLE thread_ = nullptr;
  bool begun_ = false;
  bool ended_ = false;
  ThreadCpuReading begin_;
  ThreadCpuReading end_;
};

}  // namespace kx7host

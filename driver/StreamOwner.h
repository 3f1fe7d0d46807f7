// What a running stream asks of the object it streams for: the per-cycle delivery to the host,
// the error text, the latest switch's time and a rate the pins have taken. The driver object is
// the one owner; tests stand in for it to drive a run against the device directly.
//
// Threads: every call comes from the run's streaming thread while it is attached to its owner.
#pragma once

#include <cstdint>

class CRunningStream;

class IStreamOwner {
 public:
  // Hands the current half to the host (between run.EnterHost() and run.LeaveHost()) and turns
  // the buffer index over. False when the owner let the thread go during the host's callback:
  // the thread must then touch nothing of the owner.
  virtual bool DeliverCycle(CRunningStream& run) = 0;
  // Replaces the text the host reads as the error message.
  virtual void SetErrorMessage(const char* text) = 0;
  // The latest buffer switch's time stamp, in nanoseconds of the system time.
  virtual uint64_t LatestSwitchStamp() const = 0;
  // The pins now run at `rate`: the host reads it from here on, and the next time info is marked.
  virtual void TakeRate(double rate) = 0;

 protected:
  IStreamOwner() = default;
  ~IStreamOwner() = default;
  IStreamOwner(const IStreamOwner&) = default;
  IStreamOwner& operator=(const IStreamOwner&) = default;
};

// What a running stream asks of the object it streams for, all of it the owner's own: the error
// text, a rate the pins have taken, the figures it shows, and the end of a release that waited
// for the run. The host's side of the stream is the run's own (CHostBuffers). The driver object
// is the one owner; tests stand in for it to drive a run against the device directly.
//
// Threads: every call comes from the run's streaming thread while it is attached to its owner,
// except ReleaseAfterHost, which comes once the run has been let go.
#pragma once

#include <cstdint>

#include "driver/DeviceEventLog.h"

class CRunningStream;

class IStreamOwner {
 public:
  // Replaces the text the host reads as the error message.
  virtual void SetErrorMessage(const char* text) = 0;
  // The pins now run at `rate`: the host reads it from here on.
  virtual void TakeRate(double rate) = 0;
  // The figures the owner shows: one more drop-out, the round trip in frames, a device event.
  virtual void CountDropOut() = 0;
  virtual void ShowLatency(uint32_t frames) = 0;
  virtual void RecordEvent(DeviceEvent event) = 0;
  // The owner's last release waited for the run to come out of the host's callback it was let go
  // in (see CRunningStream::DeferOwnerRelease): called once, on the streaming thread, when it has.
  virtual void ReleaseAfterHost() = 0;

 protected:
  IStreamOwner() = default;
  ~IStreamOwner() = default;
  IStreamOwner(const IStreamOwner&) = default;
  IStreamOwner& operator=(const IStreamOwner&) = default;
};

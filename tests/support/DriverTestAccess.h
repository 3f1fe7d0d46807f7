// The tests' and benchmarks' one way into a driver object's private state: the friend of
// CAsioDriver, handing out references to what only the driver object shows: the running
// stream's figures and thread, the host's buffers (their time record, position and channel
// table), the device events and its control panel (whose own state ControlPanelTestAccess.h opens).
#pragma once

#include "driver/AsioDriver.h"

class CAsioDriverTestAccess {
 public:
  explicit CAsioDriverTestAccess(CAsioDriver& driver)
      : deviceEvents(driver.deviceEvents),
        dropOutCount(driver.dropOutCount),
        latencyCount(driver.latencyCount),
        panel(driver.panel),
        running(driver.running),
        streamThreadId(driver.streamThreadId),
        transportOwner(driver.transportOwner),
        owner(driver) {}

  // Whether a run exists, and its render pin; read only while no host call runs.
  bool HasStream() const { return owner.stream != nullptr; }
  CKsAudPin* RenderPin() const { return owner.stream ? owner.stream->RenderPin() : nullptr; }
  // What createBuffers made (null without buffers), and its time record.
  const std::shared_ptr<CHostBuffers>& HostBuffers() const { return owner.hostBuffers; }
  ASIOTime& Time() const { return owner.hostBuffers->asioTime; }
  // The input blocks (the spares included) and their channel numbers.
  int32_t InputCount() const { return owner.hostBuffers->inputCount; }
  int32_t InputNumber(int32_t k) const { return owner.hostBuffers->inputs[k].number; }
  // The run's watch for a device that left, while it looks (0 otherwise).
  DWORD WatchThreadId() const { return owner.stream ? owner.stream->WatchThreadId() : 0; }

  decltype(CAsioDriver::deviceEvents)& deviceEvents;
  decltype(CAsioDriver::dropOutCount)& dropOutCount;
  decltype(CAsioDriver::latencyCount)& latencyCount;
  decltype(CAsioDriver::panel)& panel;
  decltype(CAsioDriver::running)& running;
  decltype(CAsioDriver::streamThreadId)& streamThreadId;
  decltype(CAsioDriver::transportOwner)& transportOwner;

 private:
  CAsioDriver& owner;
};

// The private state of `driver`, for example Internals(*driver).dropOutCount.
inline CAsioDriverTestAccess Internals(CAsioDriver& driver) {
  return CAsioDriverTestAccess(driver);
}

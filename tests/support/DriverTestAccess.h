// The tests' and benchmarks' one way into a driver object's private state: the friend of
// CAsioDriver, handing out references to what only the driver object shows: the running
// stream's figures and thread, the time record and position, the buffers' channel table, the
// device events and its control panel (whose own state ControlPanelTestAccess.h opens).
#pragma once

#include "driver/AsioDriver.h"

class CAsioDriverTestAccess {
 public:
  explicit CAsioDriverTestAccess(CAsioDriver& driver)
      : activeInputs(driver.activeInputs),
        asioTime(driver.asioTime),
        deviceEvents(driver.deviceEvents),
        dropOutCount(driver.dropOutCount),
        inputChannels(driver.inputChannels),
        latencyCount(driver.latencyCount),
        panel(driver.panel),
        running(driver.running),
        samplePosition(driver.samplePosition),
        streamThreadId(driver.streamThreadId),
        systemTime(driver.systemTime),
        timeInfoMode(driver.timeInfoMode),
        transportOwner(driver.transportOwner),
        owner(driver) {}

  // Whether a run exists, and its render pin; read only while no host call runs.
  bool HasStream() const { return owner.stream != nullptr; }
  CKsAudPin* RenderPin() const { return owner.stream ? owner.stream->RenderPin() : nullptr; }
  // The run's watch for a device that left, while it looks (0 otherwise).
  DWORD WatchThreadId() const { return owner.stream ? owner.stream->WatchThreadId() : 0; }

  decltype(CAsioDriver::activeInputs)& activeInputs;
  decltype(CAsioDriver::asioTime)& asioTime;
  decltype(CAsioDriver::deviceEvents)& deviceEvents;
  decltype(CAsioDriver::dropOutCount)& dropOutCount;
  decltype(CAsioDriver::inputChannels)& inputChannels;
  decltype(CAsioDriver::latencyCount)& latencyCount;
  decltype(CAsioDriver::panel)& panel;
  decltype(CAsioDriver::running)& running;
  decltype(CAsioDriver::samplePosition)& samplePosition;
  decltype(CAsioDriver::streamThreadId)& streamThreadId;
  decltype(CAsioDriver::systemTime)& systemTime;
  decltype(CAsioDriver::timeInfoMode)& timeInfoMode;
  decltype(CAsioDriver::transportOwner)& transportOwner;

 private:
  CAsioDriver& owner;
};

// The private state of `driver`, for example Internals(*driver).dropOutCount.
inline CAsioDriverTestAccess Internals(CAsioDriver& driver) {
  return CAsioDriverTestAccess(driver);
}

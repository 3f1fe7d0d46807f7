// The device's event log as hosts and the control panel see it: each event by name, timed in
// seconds since start() last returned. Read on any thread without locking.
#pragma once

#include <atomic>

#include "asio/asio.h"
#include "driver/DeviceEventLog.h"
#include "panel/ControlPanel.h"
#include "platform/windows.h"
#include "product/DeviceEventRecord.h"

class CDeviceEventReport : public IPanelEventSource {
 public:
  explicit CDeviceEventReport(const DeviceEventLog* events) : log(events) {}
  CDeviceEventReport(const CDeviceEventReport&) = delete;
  CDeviceEventReport& operator=(const CDeviceEventReport&) = delete;

  // The time from which events are counted: when start() returns (and, so that a run's first
  // events come out near 0, also when it begins).
  void MarkStart(DWORD time) { startTime.store(time, std::memory_order_release); }
  // future's answer for kx7::kReadDeviceEventsSelector: fills `read` from its `first` on.
  ASIOError Read(kx7::DeviceEventRead* read) const;
  bool LatestEvent(const char** name, double* seconds) const override;

 private:
  double SecondsAt(DWORD time) const;

  const DeviceEventLog* log;
  std::atomic<DWORD> startTime{0};
};

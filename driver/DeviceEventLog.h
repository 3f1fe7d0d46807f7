// The device's events with their times, for the control panel and for hosts that ask. Any thread
// records without locking or allocating (the streaming thread among them); any thread reads.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/windows.h"

enum class DeviceEvent : uint8_t {
  kLost,
  kReturned,
  kSuspended,
  kResumed,
  kRateRestarted,
  kRenderUnderrun,
  kCaptureOverrun,
  kCaptureLost,
  kLateCallback,
};

// The event's name as hosts and the panel show it ("lost", "render-underrun", ...).
const char* DeviceEventName(DeviceEvent event);

struct DeviceEventRecord {
  DeviceEvent event;
  DWORD time;  // timeGetTime() when it was recorded
};

class DeviceEventLog {
 public:
  // The most recent events kept; older ones are overwritten.
  static constexpr uint32_t kCapacity = 256;

  void Record(DeviceEvent event) { Record(event, timeGetTime()); }
  void Record(DeviceEvent event, DWORD time);
  // How many events were ever recorded: the number the next one gets.
  uint32_t Count() const { return next.load(std::memory_order_acquire); }
  // Copies the events numbered from `first` on that are still kept, oldest first, up to `max`
  // of them; returns how many were copied and sets `*after` to the number after the last one
  // looked at, from which the next read goes on.
  uint32_t Read(uint32_t first, DeviceEventRecord* out, uint32_t max, uint32_t* after) const;
  // The latest event; false when none was recorded.
  bool Latest(DeviceEventRecord* out) const;

 private:
  // Each slot holds the event's number (low 24 bits, plus one), its kind and its time in one
  // word, so a reader sees a whole record or knows it was overwritten.
  std::atomic<uint64_t> slots[kCapacity] = {};
  std::atomic<uint32_t> next{0};
};

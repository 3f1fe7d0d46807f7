// The record through which a host reads the driver's log of device events with IASIO::future.
// Packed to 4 bytes like the ASIO records, so it has one layout on both bitnesses, whatever
// compiler built the host.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx7 {

// future(kReadDeviceEventsSelector, &read): the four characters "KX7E", far from the published
// selectors (small numbers and dates written in hexadecimal).
inline constexpr int32_t kReadDeviceEventsSelector = 0x4B583745;
inline constexpr uint32_t kDeviceEventNameSize = 24;
inline constexpr uint32_t kDeviceEventsPerRead = 32;

#pragma pack(push, 4)

struct DeviceEventEntry {
  double seconds;                   // since start() last returned; below 0 when before that
  char name[kDeviceEventNameSize];  // "lost", "render-underrun", ..., zero-terminated
};

struct DeviceEventRead {
  uint32_t size;      // in: sizeof(DeviceEventRead)
  uint32_t first;     // in: the number of the first event wanted; 0 for the oldest kept
  uint32_t count;     // out: entries filled, oldest first
  uint32_t next;      // out: the number to pass as `first` for the events after these
  uint32_t recorded;  // out: events recorded so far; all have been read when next == recorded
  uint32_t skipped;   // out: events from `first` up to `next` that were overwritten unread
  DeviceEventEntry events[kDeviceEventsPerRead];
};

#pragma pack(pop)

static_assert(sizeof(DeviceEventEntry) == 32, "one entry is 32 bytes");
static_assert(offsetof(DeviceEventEntry, name) == 8, "the name follows the seconds");
static_assert(offsetof(DeviceEventRead, first) == 4 && offsetof(DeviceEventRead, count) == 8 &&
                  offsetof(DeviceEventRead, next) == 12 &&
                  offsetof(DeviceEventRead, recorded) == 16 &&
                  offsetof(DeviceEventRead, skipped) == 20,
              "the header is six 32-bit words");
static_assert(offsetof(DeviceEventRead, events) == 24, "the entries follow the header");
static_assert(sizeof(DeviceEventRead) == 24 + 32 * kDeviceEventsPerRead, "no padding at the end");

}  // namespace kx7

#include "host/session/DeviceEventReader.h"

#include <cstring>

#include "product/DeviceEventRecord.h"

namespace kx7host {

namespace {

// Reads of a full record before a poll gives the rest to the next: a driver that keeps
// recording cannot hold the host here.
constexpr int kMaxReadsPerPoll = 64;

}  // namespace

bool DeviceEventReader::Poll(IASIO* driver) {
  if (!supported_ || driver == nullptr) return false;
  for (int reads = 0; reads < kMaxReadsPerPoll; ++reads) {
    kx7::DeviceEventRead read;
    std::memset(&read, 0, sizeof read);
    read.size = sizeof read;
    read.first = next_;
    if (driver->future(kx7::kReadDeviceEventsSelector, &read) != ASE_SUCCESS) {
      // A driver that never answered keeps no log; one that did keeps what it gave.
      supported_ = answered_;
      return supported_;
    }
    answered_ = true;
    const uint32_t count =
        read.count < kx7::kDeviceEventsPerRead ? read.count : kx7::kDeviceEventsPerRead;
    for (uint32_t i = 0; i < count; ++i) {
      const kx7::DeviceEventEntry& entry = read.events[i];
      const void* end = std::memchr(entry.name, '\0', sizeof entry.name);
      const size_t length =
          end != nullptr ? static_cast<const char*>(end) - entry.name : sizeof entry.name;
      events_.push_back({entry.seconds, std::string(entry.name, length)});
    }
    missed_ += read.skipped;
    const bool progressed = read.next != next_;
    next_ = read.next;
    if (!progressed || read.next == read.recorded) break;
  }
  return true;
}

}  // namespace kx7host

// Reads the device events that the KX-7 driver logs, through its own future() selector, as they
// come: each read goes on from the last. Other drivers do not answer the selector and are not
// asked again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "asio/asio.h"

namespace kx7host {

struct DeviceEventSeen {
  double seconds = 0.0;  // since start() returned
  std::string name;      // "lost", "returned", "late-callback", ...
};

class DeviceEventReader {
 public:
  // Reads everything new from `driver`; false when the driver keeps no such log. Call it from
  // one thread.
  bool Poll(IASIO* driver);
  bool Supported() const { return supported_; }
  const std::vector<DeviceEventSeen>& Events() const { return events_; }
  // Events the driver overwrote before they were read.
  uint64_t Missed() const { return missed_; }

 private:
  bool supported_ = true;
  bool answered_ = false;
  uint32_t next_ = 0;
  uint64_t missed_ = 0;
  std::vector<DeviceEventSeen> events_;
};

}  // namespace kx7host

// The commands that stream through a driver: stream and latency. Each returns the process exit
// status and writes its result to `out`, its complaints to `err`.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "host/common/DeviceOptions.h"
#include "host/common/ExitStatus.h"

namespace kx7host {

// stream: streams through two inputs and two outputs and reports the timing.
struct StreamOptions {
  std::string driverName;  // key name under SOFTWARE\ASIO; empty picks the default
  bool json = false;
  double seconds = 5.0;
  int32_t bufferSize = 0;   // 0: the driver's preferred size
  double sampleRate = 0.0;  // 0: the driver's current rate
  double toneHz = 1000.0;   // played on both outputs unless a WAV file is given
  std::string wavPath;      // played on the outputs instead of the tone
  int inputs = 2;           // inputs 0 .. inputs-1 are streamed (0 to 2)
  int outputs = 2;          // outputs 0 .. outputs-1 are streamed (0 to 2, not both 0)
  std::string recordPath;   // the streamed inputs are recorded here when not empty
  int recordBits = 24;      // 24 or 32
  double callbackLoad = 0;  // percent of each period the callback busy-waits
  MicrophoneKind microphone = MicrophoneKind::kLoopback;
  DeviceOptions device;
};
int Run(const StreamOptions& options, std::ostream& out, std::ostream& err);

// latency: measures the round trip from output L to input L.
struct LatencyOptions {
  std::string driverName;
  bool json = false;
  int32_t bufferSize = 0;   // 0: the driver's preferred size
  double sampleRate = 0.0;  // 0: the driver's current rate
  DeviceOptions device;
};
int Run(const LatencyOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kx7host

// The report of a stream run, as text or as one JSON object.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "host/common/JsonWriter.h"
#include "host/common/Statistics.h"
#include "host/session/DeviceEventReader.h"
#include "host/session/DriverSession.h"
#include "host/stream/ThreadCpuMeter.h"

namespace kx7host {

struct StreamReport {
  DriverSetup driver;
  std::string device;  // what the host knows of the device
  std::string signal;  // what was played
  int inputs = 2;      // channels streamed, and recorded when there is a recording
  int outputs = 2;
  double secondsRequested = 0.0;
  double secondsRun = 0.0;  // wall clock from start to stop

  uint64_t switches = 0;
  bool deviceClock = false;  // elapsed time from the device's packets (else the wall clock)
  uint64_t elapsedFrames = 0;
  uint64_t expectedSwitches = 0;
  uint64_t timedSwitches = 0;  // switches whose time and position were kept
  double periodUs = 0.0;       // buffer size over rate
  IntervalSummary intervals;
  PositionContinuity positions;
  uint64_t badIndexes = 0;
  uint64_t resetRequests = 0;

  bool hasDeviceCounters = false;
  uint64_t devicePackets = 0;
  uint64_t renderUnderruns = 0;
  uint64_t captureOverruns = 0;

  ThreadCpuFigures streamingThread;  // the thread that called the host back

  bool deviceEventsKept = false;  // the driver answered the device-event selector
  std::vector<DeviceEventSeen> deviceEvents;
  uint64_t deviceEventsMissed = 0;  // overwritten in the driver before they were read

  std::string recordPath;  // empty: nothing recorded
  int recordBits = 0;
  uint64_t recordFrames = 0;
  uint64_t recordFramesLost = 0;  // the writer fell behind, or the file reached its size limit

  // Switches missing against the device time; negative when more arrived than it implies.
  int64_t MissingSwitches() const {
    return static_cast<int64_t>(expectedSwitches) - static_cast<int64_t>(switches);
  }
  // Switches that start and stop may cut off at either end without anything going wrong.
  static constexpr int64_t kEdgeSwitches = 2;
  // Host-visible drop-outs: sample-position breaks, switches missing beyond the edges, and
  // halves the driver named with an impossible index.
  uint64_t DropOuts() const;
  uint64_t DeviceGlitches() const { return renderUnderruns + captureOverruns; }
};

// The "driver" object of a JSON report: the key name and what getDriverName answered.
void WriteDriverJson(JsonWriter& json, const DriverSetup& driver);

void PrintStreamText(const StreamReport& report, std::ostream& out);
void PrintStreamJson(const StreamReport& report, std::ostream& out);

}  // namespace kx7host

// The report of a latency run, as text or as one JSON object.
#pragma once

#include <ostream>
#include <string>

#include "host/session/DriverSession.h"
#include "host/stream/LatencyMeasure.h"

namespace kx7host {

struct LatencyReport {
  DriverSetup driver;
  std::string device;
  bool loopback = false;  // the device's own delay is known
  ClickPlan plan;
  LatencyMeasurement measured;
};

void PrintLatencyText(const LatencyReport& report, std::ostream& out);
void PrintLatencyJson(const LatencyReport& report, std::ostream& out);

}  // namespace kx7host

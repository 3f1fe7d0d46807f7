// What a driver answered to a probe, printed as text or as one JSON object.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "asio/asio.h"
#include "host/session/DriverDiscovery.h"

namespace kx7host {

struct ChannelReport {
  ASIOError result = ASE_OK;
  ASIOChannelInfo info = {};  // name always zero-terminated
};

struct ProbeReport {
  std::string driverName;  // getDriverName
  int32_t driverVersion = 0;
  ASIOBool initResult = ASIOFalse;
  std::string errorMessage;  // getErrorMessage after init

  ASIOError channelsResult = ASE_OK;
  int32_t numInputChannels = 0;
  int32_t numOutputChannels = 0;
  std::vector<ChannelReport> channels;  // inputs, then outputs

  ASIOError bufferSizeResult = ASE_OK;
  int32_t minSize = 0, maxSize = 0, preferredSize = 0, granularity = 0;

  ASIOError latenciesResult = ASE_OK;
  int32_t inputLatency = 0, outputLatency = 0;

  ASIOError sampleRateResult = ASE_OK;
  ASIOSampleRate sampleRate = 0.0;

  std::vector<std::pair<ASIOSampleRate, ASIOError>> canSampleRate;

  ASIOError clockSourcesResult = ASE_OK;
  std::vector<ASIOClockSource> clockSources;  // names always zero-terminated
};

void PrintProbeText(const AsioDriverEntry& entry, const ProbeReport& report, std::ostream& out);
void PrintProbeJson(const AsioDriverEntry& entry, const ProbeReport& report, std::ostream& out);

}  // namespace kx7host

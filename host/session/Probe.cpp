#include "host/session/Probe.h"

#include <algorithm>
#include <cstring>

namespace kx7host {

namespace {

// Limits on what a driver's answers may make the probe read or allocate.
constexpr int32_t kMaxChannelsProbed = 256;
constexpr int32_t kMaxClockSources = 32;

// Text a driver wrote into a buffer of `size` bytes, up to the first zero or the end.
std::string TextOf(const char* buffer, size_t size) {
  return std::string(buffer, std::find(buffer, buffer + size, '\0'));
}

template <size_t N>
void Terminate(char (&text)[N]) {
  text[N - 1] = '\0';
}

void ProbeChannels(IASIO* driver, ProbeReport& report) {
  const int32_t inputs = std::clamp(report.numInputChannels, 0, kMaxChannelsProbed);
  const int32_t outputs = std::clamp(report.numOutputChannels, 0, kMaxChannelsProbed);
  for (int32_t direction = 1; direction >= 0; --direction) {
    const int32_t count = direction == 1 ? inputs : outputs;
    for (int32_t channel = 0; channel < count; ++channel) {
      ChannelReport entry;
      entry.info.channel = channel;
      entry.info.isInput = direction == 1 ? ASIOTrue : ASIOFalse;
      entry.result = driver->getChannelInfo(&entry.info);
      Terminate(entry.info.name);
      // The record says which channel was asked about, whatever the driver did to it.
      entry.info.channel = channel;
      entry.info.isInput = direction == 1 ? ASIOTrue : ASIOFalse;
      report.channels.push_back(entry);
    }
  }
}

}  // namespace

ProbeReport ProbeDriver(IASIO* driver) {
  ProbeReport report;
  // Larger than any driver should write, and zeroed, so an overlong answer stays in bounds.
  char text[256] = {};
  driver->getDriverName(text);
  report.driverName = TextOf(text, sizeof text - 1);
  report.driverVersion = driver->getDriverVersion();
  report.initResult = driver->init(nullptr);
  std::memset(text, 0, sizeof text);
  driver->getErrorMessage(text);
  report.errorMessage = TextOf(text, sizeof text - 1);

  report.channelsResult = driver->getChannels(&report.numInputChannels, &report.numOutputChannels);
  if (report.channelsResult == ASE_OK) ProbeChannels(driver, report);

  report.bufferSizeResult = driver->getBufferSize(&report.minSize, &report.maxSize,
                                                  &report.preferredSize, &report.granularity);
  report.latenciesResult = driver->getLatencies(&report.inputLatency, &report.outputLatency);
  report.sampleRateResult = driver->getSampleRate(&report.sampleRate);
  for (ASIOSampleRate rate : kProbedSampleRates) {
    report.canSampleRate.emplace_back(rate, driver->canSampleRate(rate));
  }

  ASIOClockSource clocks[kMaxClockSources] = {};
  int32_t numSources = kMaxClockSources;
  report.clockSourcesResult = driver->getClockSources(clocks, &numSources);
  if (report.clockSourcesResult == ASE_OK) {
    numSources = std::clamp(numSources, 0, kMaxClockSources);
    for (int32_t i = 0; i < numSources; ++i) {
      Terminate(clocks[i].name);
      report.clockSources.push_back(clocks[i]);
    }
  }
  return report;
}

}  // namespace kx7host

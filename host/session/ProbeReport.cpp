#include "host/session/ProbeReport.h"

#include <iomanip>

#include "host/common/JsonWriter.h"
#include "host/session/AsioText.h"

namespace kx7host {

// ---- text ----

namespace {

constexpr int kLabelWidth = 18;

std::ostream& Label(std::ostream& out, const char* label) {
  return out << std::left << std::setw(kLabelWidth) << label;
}

std::string SampleTypeText(ASIOSampleType type) {
  const char* name = SampleTypeName(type);
  return name != nullptr ? std::string(name) : "type " + std::to_string(type);
}

}  // namespace

void PrintProbeText(const AsioDriverEntry& entry, const ProbeReport& report, std::ostream& out) {
  Label(out, "driver") << entry.name << "  " << entry.clsidText << '\n';
  Label(out, "getDriverName") << report.driverName << '\n';
  Label(out, "getDriverVersion") << report.driverVersion << '\n';
  Label(out, "init") << report.initResult
                     << (report.initResult == ASIOTrue ? " (ASIOTrue)" : " (ASIOFalse)") << '\n';
  Label(out, "getErrorMessage") << report.errorMessage << '\n';

  Label(out, "getChannels");
  if (report.channelsResult != ASE_OK) {
    out << "failed: " << AsioErrorText(report.channelsResult) << '\n';
  } else {
    out << report.numInputChannels << " inputs, " << report.numOutputChannels << " outputs\n";
  }
  for (const ChannelReport& channel : report.channels) {
    out << "  " << (channel.info.isInput ? "input  " : "output ") << std::right << std::setw(2)
        << channel.info.channel << "  ";
    if (channel.result != ASE_OK) {
      out << "getChannelInfo failed: " << AsioErrorText(channel.result) << '\n';
      continue;
    }
    out << std::left << std::setw(16) << channel.info.name << std::setw(16)
        << SampleTypeText(channel.info.type) << "group " << channel.info.channelGroup << "  "
        << (channel.info.isActive ? "active" : "inactive") << '\n';
  }

  Label(out, "getBufferSize");
  if (report.bufferSizeResult != ASE_OK) {
    out << "failed: " << AsioErrorText(report.bufferSizeResult) << '\n';
  } else {
    out << "min " << report.minSize << ", max " << report.maxSize << ", preferred "
        << report.preferredSize << ", granularity " << report.granularity << '\n';
  }
  Label(out, "getLatencies");
  if (report.latenciesResult != ASE_OK) {
    out << "failed: " << AsioErrorText(report.latenciesResult) << '\n';
  } else {
    out << "input " << report.inputLatency << ", output " << report.outputLatency << '\n';
  }
  Label(out, "getSampleRate");
  if (report.sampleRateResult != ASE_OK) {
    out << "failed: " << AsioErrorText(report.sampleRateResult) << '\n';
  } else {
    out << JsonNumber(report.sampleRate) << '\n';
  }
  out << "canSampleRate\n";
  for (const auto& [rate, result] : report.canSampleRate) {
    out << "  " << std::left << std::setw(8) << JsonNumber(rate) << AsioErrorText(result) << '\n';
  }
  Label(out, "getClockSources");
  if (report.clockSourcesResult != ASE_OK) {
    out << "failed: " << AsioErrorText(report.clockSourcesResult) << '\n';
    return;
  }
  out << report.clockSources.size() << (report.clockSources.size() == 1 ? " source" : " sources")
      << '\n';
  for (const ASIOClockSource& clock : report.clockSources) {
    out << "  " << std::right << std::setw(2) << clock.index << "  " << std::left << std::setw(16)
        << clock.name << "channel " << clock.associatedChannel << ", group "
        << clock.associatedGroup << (clock.isCurrentSource ? ", current" : "") << '\n';
  }
}

// ---- JSON ----

namespace {

// A failed query's value is replaced by {"error": code}.
void Error(JsonWriter& json, ASIOError result) {
  json.BeginObject();
  json.Member("error", result);
  json.EndObject();
}

}  // namespace

void PrintProbeJson(const AsioDriverEntry& entry, const ProbeReport& report, std::ostream& out) {
  JsonWriter json(out);
  json.BeginObject();
  json.Key("driver");
  json.BeginObject();
  json.Member("name", entry.name);
  json.Member("CLSID", entry.clsidText);
  json.Member("Description", entry.description);
  json.EndObject();
  json.Member("getDriverName", report.driverName);
  json.Member("getDriverVersion", report.driverVersion);
  json.Member("init", report.initResult);
  json.Member("getErrorMessage", report.errorMessage);

  json.Key("getChannels");
  if (report.channelsResult != ASE_OK) {
    Error(json, report.channelsResult);
  } else {
    json.BeginObject();
    json.Member("numInputChannels", report.numInputChannels);
    json.Member("numOutputChannels", report.numOutputChannels);
    json.EndObject();
  }
  json.Key("getChannelInfo");
  json.BeginArray();
  for (const ChannelReport& channel : report.channels) {
    json.BeginObject();
    json.Member("channel", channel.info.channel);
    json.Member("isInput", channel.info.isInput);
    if (channel.result != ASE_OK) {
      json.Member("error", channel.result);
    } else {
      json.Member("isActive", channel.info.isActive);
      json.Member("channelGroup", channel.info.channelGroup);
      json.Member("type", channel.info.type);
      json.Member("name", channel.info.name);
    }
    json.EndObject();
  }
  json.EndArray();

  json.Key("getBufferSize");
  if (report.bufferSizeResult != ASE_OK) {
    Error(json, report.bufferSizeResult);
  } else {
    json.BeginObject();
    json.Member("minSize", report.minSize);
    json.Member("maxSize", report.maxSize);
    json.Member("preferredSize", report.preferredSize);
    json.Member("granularity", report.granularity);
    json.EndObject();
  }
  json.Key("getLatencies");
  if (report.latenciesResult != ASE_OK) {
    Error(json, report.latenciesResult);
  } else {
    json.BeginObject();
    json.Member("inputLatency", report.inputLatency);
    json.Member("outputLatency", report.outputLatency);
    json.EndObject();
  }
  json.Key("getSampleRate");
  if (report.sampleRateResult != ASE_OK) {
    Error(json, report.sampleRateResult);
  } else {
    json.Number(report.sampleRate);
  }
  json.Key("canSampleRate");
  json.BeginObject();
  for (const auto& [rate, result] : report.canSampleRate) json.Member(JsonNumber(rate), result);
  json.EndObject();

  json.Key("getClockSources");
  if (report.clockSourcesResult != ASE_OK) {
    Error(json, report.clockSourcesResult);
  } else {
    json.BeginArray();
    for (const ASIOClockSource& clock : report.clockSources) {
      json.BeginObject();
      json.Member("index", clock.index);
      json.Member("associatedChannel", clock.associatedChannel);
      json.Member("associatedGroup", clock.associatedGroup);
      json.Member("isCurrentSource", clock.isCurrentSource);
      json.Member("name", clock.name);
      json.EndObject();
    }
    json.EndArray();
  }
  json.EndObject();
  out << '\n';
}

}  // namespace kx7host

#include "host/stream/StreamReport.h"

#include <cstdio>

#include "host/common/JsonWriter.h"

namespace kx7host {

uint64_t StreamReport::DropOuts() const {
  const int64_t missing = MissingSwitches() - kEdgeSwitches;
  return positions.discontinuities + badIndexes +
         (missing > 0 ? static_cast<uint64_t>(missing) : 0);
}

namespace {

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Count(int count, const char* what) {
  return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

// The events a run's report names on its line; the JSON carries them all.
constexpr size_t kEventsNamed = 12;

std::string EventsText(const StreamReport& r) {
  if (!r.deviceEventsKept) return "not kept by this driver";
  if (r.deviceEvents.empty() && r.deviceEventsMissed == 0) return "none";
  std::string text = std::to_string(r.deviceEvents.size());
  for (size_t i = 0; i < r.deviceEvents.size() && i < kEventsNamed; ++i) {
    text += (i == 0 ? ": " : ", ") + r.deviceEvents[i].name + " at " +
            Fixed(r.deviceEvents[i].seconds, 3) + " s";
  }
  if (r.deviceEvents.size() > kEventsNamed) {
    text += ", and " + std::to_string(r.deviceEvents.size() - kEventsNamed) + " more";
  }
  if (r.deviceEventsMissed > 0) {
    text +=
        " (" + std::to_string(r.deviceEventsMissed) + " more overwritten before they were read)";
  }
  return text;
}

std::string Milliseconds(int64_t frames, double rate) {
  return rate > 0.0 ? Fixed(static_cast<double>(frames) * 1000.0 / rate, 2) + " ms" : "? ms";
}

}  // namespace

void WriteDriverJson(JsonWriter& json, const DriverSetup& driver) {
  json.Key("driver");
  json.BeginObject();
  json.Member("name", driver.keyName);
  json.Member("getDriverName", driver.driverName);
  json.EndObject();
}

void PrintStreamText(const StreamReport& r, std::ostream& out) {
  const double rate = r.driver.sampleRate;
  out << "driver            " << r.driver.keyName << " (" << r.driver.driverName << ")\n";
  out << "device            " << r.device << '\n';
  out << "stream            " << r.driver.bufferSize << " frames at " << JsonNumber(rate) << " Hz, "
      << Count(r.inputs, "input") << ", " << Count(r.outputs, "output") << "; " << r.signal << '\n';
  out << "run               " << Fixed(r.secondsRun, 2) << " s (asked "
      << JsonNumber(r.secondsRequested) << " s)\n";
  out << "buffer switches   " << r.switches << ", device time implies " << r.expectedSwitches
      << " (" << r.elapsedFrames << " frames of "
      << (r.deviceClock ? "device packets" : "wall clock between first and last switch")
      << "); missing " << r.MissingSwitches() << '\n';
  out << "interval          mean " << Fixed(r.intervals.meanUs, 1) << " us, p99 "
      << Fixed(r.intervals.p99Us, 1) << " us, max " << Fixed(r.intervals.maxUs, 1) << " us, min "
      << Fixed(r.intervals.minUs, 1) << " us (nominal " << Fixed(r.periodUs, 1) << " us; "
      << r.intervals.overTwicePeriod << " over twice nominal; " << r.intervals.count
      << " intervals)\n";
  out << "sample position   ";
  if (r.positions.discontinuities == 0) {
    out << "continuous: every switch advanced by " << r.driver.bufferSize << " frames";
  } else {
    out << r.positions.discontinuities << " discontinuities; the first at switch "
        << r.positions.firstBreak << ", from " << r.positions.firstBreakFrom << " to "
        << r.positions.firstBreakTo;
  }
  out << " (" << r.positions.leadingZeros << " switches at 0 before start returned, "
      << r.positions.steps << " steps checked)\n";
  if (r.badIndexes > 0) out << "bad half index    " << r.badIndexes << " switches\n";
  if (r.resetRequests > 0) out << "reset requests    " << r.resetRequests << '\n';
  out << "latencies         input " << r.driver.inputLatency << " ("
      << Milliseconds(r.driver.inputLatency, rate) << "), output " << r.driver.outputLatency << " ("
      << Milliseconds(r.driver.outputLatency, rate) << ")\n";
  if (r.hasDeviceCounters) {
    out << "device            " << r.devicePackets << " packets, " << r.renderUnderruns
        << " render underruns, " << r.captureOverruns << " capture overruns\n";
  }
  out << "device events     " << EventsText(r) << '\n';
  const ThreadCpuFigures& cpu = r.streamingThread;
  out << "streaming thread  ";
  if (cpu.measured) {
    out << Fixed(cpu.PercentOfCore(), 2) << " % of a core, " << Fixed(cpu.UsPerSwitch(), 1)
        << " us per buffer switch: " << Fixed(cpu.CallbackUsPerSwitch(), 1)
        << " us in the host's callback, " << Fixed(cpu.RestUsPerSwitch(), 1) << " us the rest ("
        << Fixed(cpu.RestPercentOfCore(), 2) << " % of a core); " << cpu.switches << " switches in "
        << Fixed(cpu.seconds, 2) << " s, callbacks timed by "
        << (cpu.callbackByCycles ? "cycle count" : "wall clock") << '\n';
  } else {
    out << "not measured (no callback, or the thread's CPU time could not be read)\n";
  }
  if (!r.recordPath.empty()) {
    out << "recorded          " << r.recordPath << ": " << r.recordFrames << " frames, "
        << Count(r.inputs, "channel") << ", " << r.recordBits << "-bit PCM";
    if (r.recordFramesLost > 0) out << "; " << r.recordFramesLost << " frames lost";
    out << '\n';
  }
  out << "result            " << r.DropOuts() << " drop-outs, " << r.DeviceGlitches()
      << (r.hasDeviceCounters ? " device glitches" : " device glitches (not visible here)") << '\n';
}

void PrintStreamJson(const StreamReport& r, std::ostream& out) {
  JsonWriter json(out);
  json.BeginObject();
  WriteDriverJson(json, r.driver);
  json.Member("device", r.device);
  json.Member("signal", r.signal);
  json.Member("bufferSize", r.driver.bufferSize);
  json.Member("sampleRate", r.driver.sampleRate);
  json.Member("inputs", static_cast<int32_t>(r.inputs));
  json.Member("outputs", static_cast<int32_t>(r.outputs));
  json.Member("secondsRequested", r.secondsRequested);
  json.Member("secondsRun", r.secondsRun);
  json.Key("bufferSwitches");
  json.BeginObject();
  json.Member("count", static_cast<int64_t>(r.switches));
  json.Member("expected", static_cast<int64_t>(r.expectedSwitches));
  json.Member("missing", r.MissingSwitches());
  json.Member("elapsedFrames", static_cast<int64_t>(r.elapsedFrames));
  json.Member("clock", r.deviceClock ? "device" : "wall");
  json.Member("timed", static_cast<int64_t>(r.timedSwitches));
  json.EndObject();
  json.Key("intervalUs");
  json.BeginObject();
  json.Member("nominal", r.periodUs);
  json.Member("mean", r.intervals.meanUs);
  json.Member("p99", r.intervals.p99Us);
  json.Member("max", r.intervals.maxUs);
  json.Member("min", r.intervals.minUs);
  json.Member("overTwiceNominal", static_cast<int64_t>(r.intervals.overTwicePeriod));
  json.Member("count", static_cast<int64_t>(r.intervals.count));
  json.EndObject();
  json.Key("samplePosition");
  json.BeginObject();
  json.Member("continuous", r.positions.discontinuities == 0);
  json.Member("discontinuities", static_cast<int64_t>(r.positions.discontinuities));
  json.Member("stepsChecked", static_cast<int64_t>(r.positions.steps));
  json.Member("leadingZeros", static_cast<int64_t>(r.positions.leadingZeros));
  if (r.positions.discontinuities > 0) {
    json.Member("firstBreakAtSwitch", static_cast<int64_t>(r.positions.firstBreak));
    json.Member("firstBreakFrom", r.positions.firstBreakFrom);
    json.Member("firstBreakTo", r.positions.firstBreakTo);
  }
  json.EndObject();
  json.Member("badHalfIndexes", static_cast<int64_t>(r.badIndexes));
  json.Member("resetRequests", static_cast<int64_t>(r.resetRequests));
  json.Key("latencies");
  json.BeginObject();
  json.Member("input", r.driver.inputLatency);
  json.Member("output", r.driver.outputLatency);
  json.EndObject();
  json.Key("deviceCounters");
  if (r.hasDeviceCounters) {
    json.BeginObject();
    json.Member("packets", static_cast<int64_t>(r.devicePackets));
    json.Member("renderUnderruns", static_cast<int64_t>(r.renderUnderruns));
    json.Member("captureOverruns", static_cast<int64_t>(r.captureOverruns));
    json.EndObject();
  } else {
    json.Null();
  }
  // Always there, empty when the driver logged nothing or keeps no log.
  json.Key("deviceEvents");
  json.BeginArray();
  for (const DeviceEventSeen& event : r.deviceEvents) {
    json.BeginObject();
    json.Member("seconds", event.seconds);
    json.Member("event", event.name);
    json.EndObject();
  }
  json.EndArray();
  if (r.deviceEventsMissed > 0) {
    json.Member("deviceEventsMissed", static_cast<int64_t>(r.deviceEventsMissed));
  }
  json.Key("streamingThread");
  if (r.streamingThread.measured) {
    const ThreadCpuFigures& cpu = r.streamingThread;
    json.BeginObject();
    json.Member("percentOfCore", cpu.PercentOfCore());
    json.Member("usPerSwitch", cpu.UsPerSwitch());
    json.Member("callbackUsPerSwitch", cpu.CallbackUsPerSwitch());
    json.Member("restUsPerSwitch", cpu.RestUsPerSwitch());
    json.Member("restPercentOfCore", cpu.RestPercentOfCore());
    json.Member("switches", static_cast<int64_t>(cpu.switches));
    json.Member("seconds", cpu.seconds);
    json.Member("callbackMeasure", cpu.callbackByCycles ? "cycles" : "wall");
    json.EndObject();
  } else {
    json.Null();
  }
  json.Key("record");
  if (!r.recordPath.empty()) {
    json.BeginObject();
    json.Member("path", r.recordPath);
    json.Member("bits", static_cast<int32_t>(r.recordBits));
    json.Member("channels", static_cast<int32_t>(r.inputs));
    json.Member("frames", static_cast<int64_t>(r.recordFrames));
    json.Member("framesLost", static_cast<int64_t>(r.recordFramesLost));
    json.EndObject();
  } else {
    json.Null();
  }
  json.Member("dropOuts", static_cast<int64_t>(r.DropOuts()));
  json.Member("deviceGlitches", static_cast<int64_t>(r.DeviceGlitches()));
  json.EndObject();
  out << '\n';
}

}  // namespace kx7host

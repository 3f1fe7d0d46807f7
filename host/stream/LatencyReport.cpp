#include "host/stream/LatencyReport.h"

#include <cstdio>

#include "host/common/DeviceUnderTest.h"
#include "host/common/JsonWriter.h"
#include "host/stream/StreamReport.h"

namespace kx7host {

namespace {

std::string Ms(int64_t frames, double rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", static_cast<double>(frames) * 1000.0 / rate);
  return text;
}

}  // namespace

void PrintLatencyText(const LatencyReport& r, std::ostream& out) {
  const double rate = r.driver.sampleRate;
  const int64_t reported = int64_t{r.driver.inputLatency} + r.driver.outputLatency;
  out << "driver            " << r.driver.keyName << " (" << r.driver.driverName << ")\n";
  out << "device            " << r.device << '\n';
  out << "stream            " << r.driver.bufferSize << " frames at " << JsonNumber(rate) << " Hz; "
      << r.plan.clicks << " clicks on output L, one every " << r.plan.periodFrames << " frames\n";
  out << "clicks found      " << r.measured.clicksFound << " of " << r.plan.clicks << '\n';
  if (r.measured.clicksFound > 0) {
    out << "round trip        " << r.measured.medianFrames << " frames ("
        << Ms(r.measured.medianFrames, rate) << " ms)";
    if (r.measured.minFrames != r.measured.maxFrames) {
      out << ", from " << r.measured.minFrames << " to " << r.measured.maxFrames;
    }
    out << '\n';
  }
  out << "reported          input " << r.driver.inputLatency << " + output "
      << r.driver.outputLatency << " = " << reported << " frames (" << Ms(reported, rate)
      << " ms)\n";
  if (r.loopback && r.measured.clicksFound > 0) {
    const int64_t pipeline = r.measured.medianFrames - kLoopbackDelayFrames;
    out << "loopback delay    " << kLoopbackDelayFrames << " frames; the driver's round trip "
        << pipeline << " frames (" << Ms(pipeline, rate) << " ms)\n";
  }
}

void PrintLatencyJson(const LatencyReport& r, std::ostream& out) {
  JsonWriter json(out);
  json.BeginObject();
  WriteDriverJson(json, r.driver);
  json.Member("device", r.device);
  json.Member("bufferSize", r.driver.bufferSize);
  json.Member("sampleRate", r.driver.sampleRate);
  json.Member("clicks", static_cast<int64_t>(r.plan.clicks));
  json.Member("clickPeriodFrames", static_cast<int64_t>(r.plan.periodFrames));
  json.Member("clicksFound", static_cast<int64_t>(r.measured.clicksFound));
  json.Key("roundTrip");
  if (r.measured.clicksFound > 0) {
    json.BeginObject();
    json.Member("frames", r.measured.medianFrames);
    json.Member("ms", static_cast<double>(r.measured.medianFrames) * 1000.0 / r.driver.sampleRate);
    json.Member("minFrames", r.measured.minFrames);
    json.Member("maxFrames", r.measured.maxFrames);
    json.EndObject();
  } else {
    json.Null();
  }
  json.Key("reported");
  json.BeginObject();
  json.Member("input", r.driver.inputLatency);
  json.Member("output", r.driver.outputLatency);
  const int64_t reported = int64_t{r.driver.inputLatency} + r.driver.outputLatency;
  json.Member("frames", reported);
  json.Member("ms", static_cast<double>(reported) * 1000.0 / r.driver.sampleRate);
  json.EndObject();
  json.Key("loopbackDelayFrames");
  if (r.loopback) {
    json.Int(kLoopbackDelayFrames);
  } else {
    json.Null();
  }
  json.EndObject();
  out << '\n';
}

}  // namespace kx7host

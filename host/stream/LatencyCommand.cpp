// latency: plays clicks on output L, finds them in input L and reports the measured round trip
// beside the latencies the driver reports. On Linux the virtual KX-7 loops output L back to its
// microphone; on Windows a cable from output to input does the same.
#include <chrono>
#include <cstdio>
#include <thread>

#include "host/common/DeviceUnderTest.h"
#include "host/common/Interrupt.h"
#include "host/common/JsonWriter.h"
#include "host/session/DriverSession.h"
#include "host/stream/DriverStream.h"
#include "host/stream/LatencyMeasure.h"
#include "host/stream/StreamCommands.h"
#include "host/stream/StreamReport.h"
#include "host/stream/StreamSession.h"

namespace kx7host {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kClicks = 8;
constexpr double kClickAmplitude = 0.5;

std::string Ms(int64_t frames, double rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", static_cast<double>(frames) * 1000.0 / rate);
  return text;
}

struct LatencyReport {
  DriverSetup driver;
  std::string device;
  bool loopback = false;  // the device's own delay is known
  ClickPlan plan;
  LatencyMeasurement measured;
};

void PrintText(const LatencyReport& r, std::ostream& out) {
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

void PrintJson(const LatencyReport& r, std::ostream& out) {
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

}  // namespace

int Run(const LatencyOptions& options, std::ostream& out, std::ostream& err) {
  DeviceUnderTest device;
  std::string why;
  if (!device.Plug(options.device, MicrophoneKind::kLoopback, 0.0, &why)) {
    err << "kx7-host: " << why << '\n';
    return kExitFailed;
  }
  DriverSession driver;
  int status = driver.Open(options.driverName, 2, 2, options.bufferSize, options.sampleRate, err);
  if (status != kExitOk) return status;
  const DriverSetup& settings = driver.Setup();
  const int32_t frames = settings.bufferSize;

  LatencyReport report;
  report.plan =
      PlanClicks(frames, settings.sampleRate, kClicks, SampleOfAmplitude(kClickAmplitude));
  const uint64_t needed = FramesNeeded(report.plan);
  device.TimeRun(static_cast<double>(needed) / settings.sampleRate);
  SessionPlan plan;
  plan.bufferSize = frames;
  plan.maxTimedSwitches = static_cast<size_t>(needed / frames + 64);
  plan.captureFrames = static_cast<size_t>(needed);
  StreamSession session(plan);
  session.Signal().SetClicks(report.plan.firstFrame, report.plan.periodFrames, kClickAmplitude);

  DriverStream stream(driver, session);
  status = stream.CreateBuffers(err);
  if (status != kExitOk) return status;
  InterruptGuard interrupt;
  status = driver.Start(err);
  if (status != kExitOk) return status;
  // Runs until the clicks and their echoes are in; a stalled driver is given up on.
  const double limit = static_cast<double>(needed) / settings.sampleRate * 3.0 + 3.0;
  const Clock::time_point started = Clock::now();
  while (session.Switches() * static_cast<uint64_t>(frames) < needed &&
         std::chrono::duration<double>(Clock::now() - started).count() < limit &&
         !InterruptGuard::Interrupted()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  driver.Stop();
  report.driver = settings;
  report.device = device.Description();
  report.loopback = device.HasCounters();
  stream.Close();

  report.measured = MeasureClicks(session.CapturedLeft(), session.CapturedFrames(), report.plan);
  if (options.json) {
    PrintJson(report, out);
  } else {
    PrintText(report, out);
  }
  if (report.measured.clicksFound == 0) {
    err << "kx7-host: no click came back on input L"
        << (report.loopback ? "" : "; is output L connected to the input?") << '\n';
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace kx7host

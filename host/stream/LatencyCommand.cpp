// latency: plays clicks on output L, finds them in input L and reports the measured round trip
// beside the latencies the driver reports. On Linux the virtual KX-7 loops output L back to its
// microphone; on Windows a cable from output to input does the same.
#include <chrono>
#include <thread>

#include "host/common/DeviceUnderTest.h"
#include "host/common/Interrupt.h"
#include "host/session/DriverSession.h"
#include "host/stream/DriverStream.h"
#include "host/stream/LatencyMeasure.h"
#include "host/stream/LatencyReport.h"
#include "host/stream/StreamCommands.h"
#include "host/stream/StreamSession.h"

namespace kx7host {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kClicks = 8;
constexpr double kClickAmplitude = 0.5;

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
  const DriverSetup& setup = driver.Setup();
  const int32_t frames = setup.bufferSize;

  LatencyReport report;
  report.plan = PlanClicks(frames, setup.sampleRate, kClicks, SampleOfAmplitude(kClickAmplitude));
  const uint64_t needed = FramesNeeded(report.plan);
  device.TimeRun(static_cast<double>(needed) / setup.sampleRate);
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
  const double limit = static_cast<double>(needed) / setup.sampleRate * 3.0 + 3.0;
  const Clock::time_point started = Clock::now();
  while (session.Switches() * static_cast<uint64_t>(frames) < needed &&
         std::chrono::duration<double>(Clock::now() - started).count() < limit &&
         !InterruptGuard::Interrupted()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  driver.Stop();
  report.driver = setup;
  report.device = device.Description();
  report.loopback = device.HasCounters();
  stream.Close();

  report.measured = MeasureClicks(session.CapturedLeft(), session.CapturedFrames(), report.plan);
  if (options.json) {
    PrintLatencyJson(report, out);
  } else {
    PrintLatencyText(report, out);
  }
  if (report.measured.clicksFound == 0) {
    err << "kx7-host: no click came back on input L"
        << (report.loopback ? "" : "; is output L connected to the input?") << '\n';
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace kx7host

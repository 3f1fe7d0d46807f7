// stream: streams through the chosen inputs and outputs for a while, as a host does, playing a
// tone or a file, optionally recording the inputs, and reports how regularly the driver delivered.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "host/common/DeviceUnderTest.h"
#include "host/common/Interrupt.h"
#include "host/common/JsonWriter.h"
#include "host/common/ProgressLine.h"
#include "host/session/DeviceEventReader.h"
#include "host/session/DriverSession.h"
#include "host/stream/DriverStream.h"
#include "host/stream/Recorder.h"
#include "host/stream/StreamCommands.h"
#include "host/stream/StreamReport.h"
#include "host/stream/StreamSession.h"
#include "host/stream/WavFile.h"

namespace kx7host {

namespace {

using Clock = std::chrono::steady_clock;

// Time stamps kept for the interval figures: some hours at the smallest buffers.
constexpr uint64_t kMaxTimedSwitches = uint64_t{1} << 23;
constexpr double kToneAmplitude = 0.5;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string SignalText(const StreamOptions& options, const WavData& wav) {
  const char* where = options.outputs == 2 ? " on both outputs" : " on output L";
  if (options.outputs == 0) return "no outputs, nothing played";
  if (!options.wavPath.empty()) {
    return "playing " + options.wavPath + " (" + std::to_string(wav.channels) + " channels, " +
           std::to_string(wav.sampleRate) + " Hz)" + where;
  }
  return "playing a " + JsonNumber(options.toneHz) + " Hz tone" + where;
}

}  // namespace

int Run(const StreamOptions& options, std::ostream& out, std::ostream& err) {
  WavData wav;
  if (!options.wavPath.empty()) {
    std::string why;
    if (!ReadWavFile(options.wavPath, &wav, &why)) {
      err << "kx7-host: cannot play the WAV file: " << why << '\n';
      return kExitUsage;
    }
  }

  DeviceUnderTest device;  // outlives the driver, which streams through it
  std::string why;
  if (!device.Plug(options.device, options.microphone, options.seconds, &why)) {
    err << "kx7-host: " << why << '\n';
    return kExitFailed;
  }
  DriverSession driver;
  int status = driver.Open(options.driverName, options.inputs, options.outputs, options.bufferSize,
                           options.sampleRate, err);
  if (status != kExitOk) return status;
  const DriverSetup& settings = driver.Setup();
  const double rate = settings.sampleRate;
  const int32_t frames = settings.bufferSize;
  if (options.outputs > 0 && options.wavPath.empty() && options.toneHz >= rate / 2) {
    err << "kx7-host: a tone of " << JsonNumber(options.toneHz) << " Hz is not below half the "
        << JsonNumber(rate) << " Hz sample rate\n";
    return kExitUsage;
  }
  if (options.outputs > 0 && !options.wavPath.empty() && std::fabs(wav.sampleRate - rate) > 0.5) {
    err << "kx7-host: note: " << options.wavPath << " is at " << wav.sampleRate
        << " Hz and plays at " << JsonNumber(rate) << " Hz unresampled\n";
  }

  SessionPlan plan;
  plan.bufferSize = frames;
  plan.inputs = options.inputs;
  plan.outputs = options.outputs;
  plan.callbackLoad = options.callbackLoad / 100.0;
  plan.sampleRate = rate;
  const double switchesPlanned = std::ceil(options.seconds * rate / frames * 1.25) + 64;
  plan.maxTimedSwitches = static_cast<size_t>(
      std::min<double>(switchesPlanned, static_cast<double>(kMaxTimedSwitches)));
  if (!options.recordPath.empty()) {
    // Two seconds of room, and never less than a few halves.
    plan.recordRingFrames = std::max<size_t>(static_cast<size_t>(rate * 2), 8 * frames);
  }
  StreamSession session(plan);
  if (options.wavPath.empty()) {
    session.Signal().SetTone(options.toneHz, rate, kToneAmplitude);
  } else {
    session.Signal().SetWav(&wav);
  }

  Recorder recorder;
  if (!options.recordPath.empty() &&
      !recorder.Open(options.recordPath, static_cast<uint32_t>(std::lround(rate)), options.inputs,
                     options.recordBits, &why)) {
    err << "kx7-host: cannot record: " << why << '\n';
    return kExitUsage;
  }

  DriverStream stream(driver, session);
  status = stream.CreateBuffers(err);
  if (status != kExitOk) return status;

  const uint64_t packets0 = device.PacketsElapsed();
  const uint64_t underruns0 = device.RenderUnderruns();
  const uint64_t overruns0 = device.CaptureOverruns();
  auto glitches = [&] {
    return session.PositionBreaks() + session.BadIndexes() + session.RecordFramesLost() / frames +
           (device.RenderUnderruns() - underruns0) + (device.CaptureOverruns() - overruns0);
  };

  recorder.Start(session.Recording());
  InterruptGuard interrupt;
  DeviceEventReader events;
  const Clock::time_point started = Clock::now();
  status = driver.Start(err);
  if (status != kExitOk) return status;
  // The streaming thread's cost is taken from here to the stop, while the thread still runs.
  session.CpuMeter().Begin();
  {
    ProgressLine progress(stderr, IsTerminal(stderr));
    double elapsed = 0.0;
    while ((elapsed = SecondsSince(started)) < options.seconds && !InterruptGuard::Interrupted()) {
      if (progress.Enabled()) {
        progress.Show(FormatProgress(elapsed, options.seconds, session.Switches(), glitches()));
      }
      device.DropRecord();
      events.Poll(driver.Driver());
      const double left = options.seconds - elapsed;
      std::this_thread::sleep_for(std::chrono::duration<double>(std::min(left, 0.25)));
    }
  }
  session.CpuMeter().End();
  driver.Stop();
  const double secondsRun = SecondsSince(started);
  events.Poll(driver.Driver());

  StreamReport report;
  report.driver = settings;
  report.device = device.Description();
  report.signal = SignalText(options, wav);
  report.inputs = options.inputs;
  report.outputs = options.outputs;
  report.secondsRequested = options.seconds;
  report.secondsRun = secondsRun;
  report.hasDeviceCounters = device.HasCounters();
  report.devicePackets = device.PacketsElapsed() - packets0;
  report.renderUnderruns = device.RenderUnderruns() - underruns0;
  report.captureOverruns = device.CaptureOverruns() - overruns0;
  report.streamingThread = session.CpuMeter().Figures();
  report.deviceEventsKept = events.Supported();
  report.deviceEvents = events.Events();
  report.deviceEventsMissed = events.Missed();
  stream.Close();

  report.switches = session.Switches();
  const std::vector<int64_t> stamps = session.Stamps();
  report.timedSwitches = stamps.size();
  report.periodUs = frames * 1e6 / rate;
  report.intervals = SummarizeIntervals(stamps, report.periodUs);
  report.positions = CheckPositions(session.Positions(), frames);
  report.positions.discontinuities =
      std::max<size_t>(report.positions.discontinuities, session.PositionBreaks());
  report.badIndexes = session.BadIndexes();
  report.resetRequests = session.ResetRequests();
  if (device.HasCounters()) {
    report.deviceClock = true;
    report.elapsedFrames = report.devicePackets * kDevicePacketFrames;
  } else if (stamps.size() >= 2) {
    // The wall clock from the first to the last switch, plus the half the first one closed.
    const double seconds = static_cast<double>(stamps.back() - stamps.front()) / 1e9;
    report.elapsedFrames = static_cast<uint64_t>(std::llround(seconds * rate)) + frames;
  }
  report.expectedSwitches = ExpectedSwitches(report.elapsedFrames, frames);

  bool recorded = true;
  if (!options.recordPath.empty()) {
    recorded = recorder.Finish();
    report.recordPath = options.recordPath;
    report.recordBits = options.recordBits;
    report.recordFrames = recorder.FramesWritten();
    report.recordFramesLost = session.RecordFramesLost() + recorder.FramesRefused();
  }
  if (options.json) {
    PrintStreamJson(report, out);
  } else {
    PrintStreamText(report, out);
  }
  if (!recorded) {
    err << "kx7-host: writing " << options.recordPath << " failed\n";
    return kExitFailed;
  }
  if (InterruptGuard::Interrupted()) err << "kx7-host: interrupted\n";
  return kExitOk;
}

}  // namespace kx7host

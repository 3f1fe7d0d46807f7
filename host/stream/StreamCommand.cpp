// stream: streams through the chosen inputs and outputs for a while, as a host does, playing a
// tone or a file, optionally recording the inputs, and reports how regularly the driver delivered.
// In four steps: check what was asked against the driver, plan the session, run it, report.
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

// The device's counters at one moment, to take the run's share of them.
struct DeviceCounters {
  uint64_t packets = 0;
  uint64_t renderUnderruns = 0;
  uint64_t captureOverruns = 0;
};

DeviceCounters CountersOf(const DeviceUnderTest& device) {
  return {device.PacketsElapsed(), device.RenderUnderruns(), device.CaptureOverruns()};
}

// Check: what was asked, against the rate the driver runs at. A tone must be below half the rate;
// a WAV file of another rate plays unresampled, which is worth a note.
int CheckSignal(const StreamOptions& options, const WavData& wav, double rate, std::ostream& err) {
  if (options.outputs > 0 && options.wavPath.empty() && options.toneHz >= rate / 2) {
    err << "kx7-host: a tone of " << JsonNumber(options.toneHz) << " Hz is not below half the "
        << JsonNumber(rate) << " Hz sample rate\n";
    return kExitUsage;
  }
  if (options.outputs > 0 && !options.wavPath.empty() && std::fabs(wav.sampleRate - rate) > 0.5) {
    err << "kx7-host: note: " << options.wavPath << " is at " << wav.sampleRate
        << " Hz and plays at " << JsonNumber(rate) << " Hz unresampled\n";
  }
  return kExitOk;
}

// Plan: the session's channels, room for time stamps and for the recording.
SessionPlan PlanSession(const StreamOptions& options, const DriverSetup& setup) {
  SessionPlan plan;
  plan.bufferSize = setup.bufferSize;
  plan.inputs = options.inputs;
  plan.outputs = options.outputs;
  plan.callbackLoad = options.callbackLoad / 100.0;
  plan.sampleRate = setup.sampleRate;
  const double switchesPlanned =
      std::ceil(options.seconds * setup.sampleRate / setup.bufferSize * 1.25) + 64;
  plan.maxTimedSwitches = static_cast<size_t>(
      std::min<double>(switchesPlanned, static_cast<double>(kMaxTimedSwitches)));
  if (!options.recordPath.empty()) {
    // Two seconds of room, and never less than a few halves.
    plan.recordRingFrames =
        std::max<size_t>(static_cast<size_t>(setup.sampleRate * 2), 8 * setup.bufferSize);
  }
  return plan;
}

// Run: starts the driver, streams for the options' seconds (or until Ctrl-C) and stops it. Fills
// what only the run can see: its length, the device's counters, the streaming thread's cost and
// the driver's device events. Shows nothing but the progress line, on a terminal. Ctrl-C, which the
// caller's InterruptGuard catches, ends it early.
int StreamFor(const StreamOptions& options, DeviceUnderTest& device, DriverSession& driver,
              StreamSession& session, StreamReport* report, std::ostream& err) {
  const int32_t frames = driver.Setup().bufferSize;
  const DeviceCounters before = CountersOf(device);
  auto glitches = [&] {
    return session.PositionBreaks() + session.BadIndexes() + session.RecordFramesLost() / frames +
           (device.RenderUnderruns() - before.renderUnderruns) +
           (device.CaptureOverruns() - before.captureOverruns);
  };
  DeviceEventReader events;
  const Clock::time_point started = Clock::now();
  const int status = driver.Start(err);
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
  report->secondsRun = SecondsSince(started);
  events.Poll(driver.Driver());

  const DeviceCounters after = CountersOf(device);
  report->hasDeviceCounters = device.HasCounters();
  report->devicePackets = after.packets - before.packets;
  report->renderUnderruns = after.renderUnderruns - before.renderUnderruns;
  report->captureOverruns = after.captureOverruns - before.captureOverruns;
  report->streamingThread = session.CpuMeter().Figures();
  report->deviceEventsKept = events.Supported();
  report->deviceEvents = events.Events();
  report->deviceEventsMissed = events.Missed();
  return kExitOk;
}

// Report: the switches' figures, from what the session kept once the driver is gone.
void AddSwitchFigures(const StreamSession& session, StreamReport* report) {
  const int32_t frames = report->driver.bufferSize;
  const double rate = report->driver.sampleRate;
  report->switches = session.Switches();
  const std::vector<int64_t> stamps = session.Stamps();
  report->timedSwitches = stamps.size();
  report->periodUs = frames * 1e6 / rate;
  report->intervals = SummarizeIntervals(stamps, report->periodUs);
  report->positions = CheckPositions(session.Positions(), frames);
  report->positions.discontinuities =
      std::max<size_t>(report->positions.discontinuities, session.PositionBreaks());
  report->badIndexes = session.BadIndexes();
  report->resetRequests = session.ResetRequests();
  if (report->hasDeviceCounters) {
    report->deviceClock = true;
    report->elapsedFrames = report->devicePackets * kDevicePacketFrames;
  } else if (stamps.size() >= 2) {
    // The wall clock from the first to the last switch, plus the half the first one closed.
    const double seconds = static_cast<double>(stamps.back() - stamps.front()) / 1e9;
    report->elapsedFrames = static_cast<uint64_t>(std::llround(seconds * rate)) + frames;
  }
  report->expectedSwitches = ExpectedSwitches(report->elapsedFrames, frames);
}

// Report: closes the recording and adds its figures; false when the file could not be written.
bool FinishRecording(const StreamOptions& options, const StreamSession& session, Recorder& recorder,
                     StreamReport* report) {
  const bool recorded = recorder.Finish();
  report->recordPath = options.recordPath;
  report->recordBits = options.recordBits;
  report->recordFrames = recorder.FramesWritten();
  report->recordFramesLost = session.RecordFramesLost() + recorder.FramesRefused();
  return recorded;
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
  const DriverSetup& setup = driver.Setup();
  status = CheckSignal(options, wav, setup.sampleRate, err);
  if (status != kExitOk) return status;

  StreamSession session(PlanSession(options, setup));
  if (options.wavPath.empty()) {
    session.Signal().SetTone(options.toneHz, setup.sampleRate, kToneAmplitude);
  } else {
    session.Signal().SetWav(&wav);
  }
  Recorder recorder;
  if (!options.recordPath.empty() &&
      !recorder.Open(options.recordPath, static_cast<uint32_t>(std::lround(setup.sampleRate)),
                     options.inputs, options.recordBits, &why)) {
    err << "kx7-host: cannot record: " << why << '\n';
    return kExitUsage;
  }
  DriverStream stream(driver, session);
  status = stream.CreateBuffers(err);
  if (status != kExitOk) return status;

  StreamReport report;
  report.driver = setup;
  report.signal = SignalText(options, wav);
  report.inputs = options.inputs;
  report.outputs = options.outputs;
  report.secondsRequested = options.seconds;
  recorder.Start(session.Recording());
  InterruptGuard interrupt;  // until the report is out: the driver is let go and reported on
  status = StreamFor(options, device, driver, session, &report, err);
  if (status != kExitOk) return status;
  report.device = device.Description();  // with the device's life events of the run
  stream.Close();

  AddSwitchFigures(session, &report);
  const bool recorded =
      options.recordPath.empty() || FinishRecording(options, session, recorder, &report);
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

// kx7-host diagnose against the virtual KX-7, whose answers are known: each timing profile and
// layout is named in the verdict, and the figures match the model's settings. The streams run
// on the device's stepped clock, which the diagnosis itself steps from completion to completion,
// so every run gives the same log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "host/diagnose/Diagnose.h"
#include "platform/vkernel/VirtualKernel.h"
#include "product/Kx7Facts.h"
#include "virtual_device/Kx7Scenarios.h"
#include "virtual_device/VirtualKsDevice.h"

namespace kx7host {
namespace {

using vkx7::Kx7Scenario;

constexpr double kSeconds = 0.25;
// The most the clock moves in one step when nothing is due.
constexpr uint64_t kMaxStepFrames = 16 * vkx7::kPacketFrames;

// Timer noise of a busy machine: a share of the waits wake late, by up to a number of
// milliseconds, the same way on every run.
struct TimerNoise {
  double lateShare = 0.0;
  double maxLateMs = 0.0;
  uint32_t seed = 0x6A09E667u;
};

// The device's own clock: time is its frames at the run's rate, and a wait with nothing done
// yet moves the clock to the next completion. It can be made to stand still after a number of
// waits, as a device that stops completing would, or to wake late now and then: the device
// runs on meanwhile, and what completed is seen at the late moment.
class SteppedClock : public CompletionClock {
 public:
  explicit SteppedClock(vkx7::VirtualKsDevice& device, uint64_t stepsBeforeStandstill = ~0ull,
                        TimerNoise noise = TimerNoise())
      : device_(device), stepsLeft_(stepsBeforeStandstill), noise_(noise) {}
  void BeginRun(uint32_t rate) override { rate_ = rate; }
  int64_t NowNs() override {
    return static_cast<int64_t>(static_cast<double>(device_.FramesElapsed()) * 1e9 / rate_);
  }
  DWORD Wait(DWORD count, const HANDLE* events, DWORD) override {
    const DWORD woke = WaitForMultipleObjects(count, events, FALSE, 0);
    if (woke != WAIT_TIMEOUT) return woke;
    if (stepsLeft_ == 0) return WaitForMultipleObjects(count, events, FALSE, 1);
    --stepsLeft_;
    device_.StepToNextCompletion(kMaxStepFrames);
    if (noise_.lateShare > 0.0 && Uniform() < noise_.lateShare) {
      const auto late = static_cast<uint64_t>(Uniform() * noise_.maxLateMs * rate_ / 1000.0);
      for (uint64_t moved = 0; moved < late;) moved += device_.StepToNextCompletion(late - moved);
      ++lateWakes_;
    }
    return WaitForMultipleObjects(count, events, FALSE, 0);
  }
  uint64_t LateWakes() const { return lateWakes_; }

 private:
  double Uniform() {  // xorshift32
    noise_.seed ^= noise_.seed << 13;
    noise_.seed ^= noise_.seed >> 17;
    noise_.seed ^= noise_.seed << 5;
    return static_cast<double>(noise_.seed) / 4294967296.0;
  }

  vkx7::VirtualKsDevice& device_;
  uint64_t stepsLeft_;
  TimerNoise noise_;
  uint64_t lateWakes_ = 0;
  uint32_t rate_ = 48000;
};

// Interrupts the run at the first progress it is shown.
class InterruptingMonitor : public DiagnoseMonitor {
 public:
  void Streaming(uint32_t, double, double, uint64_t, uint64_t) override { interrupted_ = true; }
  bool Interrupted() override { return interrupted_; }

 private:
  bool interrupted_ = false;
};

double PacketMs(uint32_t rate) { return 64000.0 / rate; }

// The distance of a phase from a wanted one, around the grid.
double PhaseError(const PhaseFigures& phase, double wantedMs) {
  const double difference = std::fabs(phase.ms - wantedMs);
  return std::min(difference, phase.periodMs - difference);
}

bool AnyLineHolds(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

class DiagnoseTest : public ::testing::Test {
 protected:
  void TearDown() override {
    device.reset();
    EXPECT_EQ(vk::OpenHandleCount(), handlesBefore_) << "a filter or pin was left open";
  }

  // Diagnoses a virtual KX-7 with the profile and scenarios at the rates.
  Diagnosis Run(const std::string& profile, std::vector<Kx7Scenario> scenarios,
                std::vector<uint32_t> rates, DiagnoseMonitor* monitor = nullptr,
                uint64_t stepsBeforeStandstill = ~0ull, TimerNoise noise = TimerNoise(),
                double seconds = kSeconds) {
    device = std::make_unique<vkx7::VirtualKx7>(vkx7::LayoutOf(scenarios));
    vkx7::TimingProfile timing;
    EXPECT_TRUE(vkx7::TimingProfile::Parse(profile, &timing));
    device->SetTimingProfile(timing);
    for (Kx7Scenario scenario : scenarios) vkx7::ApplyScenario(*device, scenario);
    device->Plug();
    SteppedClock clock(*device, stepsBeforeStandstill, noise);
    DiagnoseMonitor quiet;
    DiagnosisPlan options;
    options.seconds = seconds;
    options.rates = std::move(rates);
    options.device = "virtual KX-7 (" + profile + ")";
    Diagnosis diagnosis = Diagnose(options, clock, monitor != nullptr ? *monitor : quiet);
    EXPECT_EQ(device->PinState(vkx7::Direction::Capture), -1) << "the capture pin is still open";
    EXPECT_EQ(device->PinState(vkx7::Direction::Render), -1) << "the render pin is still open";
    return diagnosis;
  }

  std::unique_ptr<vkx7::VirtualKx7> device;

 private:
  size_t handlesBefore_ = vk::OpenHandleCount();
};

TEST_F(DiagnoseTest, TheIdealProfileIsNamedInBothLayoutsWithOneCompletionPerPacket) {
  for (const auto& [scenarios, layout] :
       {std::make_pair(std::vector<Kx7Scenario>{}, "single-filter"),
        std::make_pair(std::vector<Kx7Scenario>{Kx7Scenario::TwoFilter}, "two-filter")}) {
    SCOPED_TRACE(layout);
    const Diagnosis diagnosis = Run("ideal", scenarios, {44100, 96000});
    EXPECT_TRUE(diagnosis.verdict.kx7Found);
    EXPECT_EQ(diagnosis.verdict.layout, layout);
    EXPECT_NE(diagnosis.verdict.classDriver.find("1.0"), std::string::npos);
    EXPECT_EQ(diagnosis.verdict.profile, "ideal");
    EXPECT_TRUE(diagnosis.verdict.problems.empty()) << diagnosis.verdict.problems.front();
    ASSERT_EQ(diagnosis.runs.size(), 2u);
    for (const RateRun& run : diagnosis.runs) {
      SCOPED_TRACE(run.rate);
      for (const PinRun* pin : {&run.capture, &run.render}) {
        EXPECT_EQ(pin->streamedFormat, "extensible 24-bit");
        const PinFigures& figures = pin->figures;
        EXPECT_NEAR(figures.batchingMs, PacketMs(run.rate), 0.01);
        EXPECT_NEAR(figures.intervals.meanMs, PacketMs(run.rate), 0.01);
        EXPECT_NEAR(figures.intervals.maxMs, PacketMs(run.rate), 0.01);
        EXPECT_DOUBLE_EQ(figures.packetsPerBurst, 1.0);
        EXPECT_NEAR(figures.completions, kSeconds * run.rate / 64, 2);
        EXPECT_EQ(figures.gaps + figures.emptyPackets + figures.failedRequests, 0u);
        EXPECT_EQ(figures.timeValid, figures.completions) << "the model stamps every header";
      }
      EXPECT_EQ(run.capture.packetBytes, 192u);
      EXPECT_EQ(run.render.packetBytes, kx7::kRenderPacketBytes);
      ASSERT_TRUE(run.phase.known);
      EXPECT_LT(PhaseError(run.phase, 0.0), 0.01) << "both directions complete together";
    }
    // Every filter of the layout is listed, read and picked for its direction.
    const size_t filters = layout == std::string("two-filter") ? 2 : 1;
    EXPECT_EQ(diagnosis.filters.size(), filters);
    EXPECT_EQ(diagnosis.kx7Filters.size(), filters);
    for (const FilterListing& filter : diagnosis.filters) {
      EXPECT_TRUE(filter.kx7);
      EXPECT_TRUE(filter.pickedForCapture || filter.pickedForRender) << filter.why;
      EXPECT_EQ(filter.pickedForCapture, filter.capture);
    }
  }
}

TEST_F(DiagnoseTest, UsbFramesGiveAOneMillisecondGridWithCaptureHalfAFrameLater) {
  const Diagnosis diagnosis = Run("usb-1ms", {}, {44100, 48000, 96000});
  EXPECT_EQ(diagnosis.verdict.layout, "single-filter");
  EXPECT_EQ(diagnosis.verdict.profile, "usb-1ms");
  EXPECT_EQ(diagnosis.verdict.perRateProfiles.size(), 6u);
  EXPECT_TRUE(diagnosis.verdict.problems.empty()) << diagnosis.verdict.problems.front();
  for (const RateRun& run : diagnosis.runs) {
    SCOPED_TRACE(run.rate);
    for (const PinRun* pin : {&run.capture, &run.render}) {
      const PinFigures& figures = pin->figures;
      EXPECT_NEAR(figures.batchingMs, 1.0, 0.01);
      EXPECT_GT(figures.onGrid, 0.99);
      // Keeping up: one packet per packet time on average, never dry.
      EXPECT_NEAR(figures.intervals.meanMs, PacketMs(run.rate), 0.02);
      EXPECT_NEAR(figures.completedPerNominal, 1.0, 0.02);
      EXPECT_EQ(figures.gaps, 0u);
      // Whole milliseconds between completions (of 44 or 45 frames at 44100 Hz), and at
      // 96000 Hz one or two per millisecond.
      EXPECT_NEAR(figures.intervals.maxMs, run.rate == 96000 ? 1.0 : 2.0, 0.03);
      EXPECT_LE(figures.largestBurst, 2u);
    }
    EXPECT_LT(PhaseError(run.phase, 0.5), 0.01) << run.phase.ms;
  }
}

TEST_F(DiagnoseTest, FourMillisecondUrbsBatchPacketsAndRunDryAt96000Hz) {
  Diagnosis diagnosis = Run("urb-4ms", {}, {48000});
  EXPECT_EQ(diagnosis.verdict.profile, "urb-4ms");
  EXPECT_TRUE(diagnosis.verdict.problems.empty()) << diagnosis.verdict.problems.front();
  const RateRun& steady = diagnosis.runs.at(0);
  for (const PinRun* pin : {&steady.capture, &steady.render}) {
    EXPECT_NEAR(pin->figures.batchingMs, 4.0, 0.01);
    EXPECT_NEAR(pin->figures.packetsPerBurst, 3.0, 0.1) << "4 ms hold three packets";
    EXPECT_EQ(pin->figures.gaps, 0u);
  }
  EXPECT_LT(PhaseError(steady.phase, 2.0), 0.01) << steady.phase.ms;

  // At 96000 Hz the four packets in flight last 2.67 ms: each URB leaves the pins dry.
  diagnosis = Run("urb-4ms", {}, {96000});
  EXPECT_EQ(diagnosis.verdict.profile, "urb-4ms");
  const RateRun& dry = diagnosis.runs.at(0);
  EXPECT_NEAR(dry.capture.figures.packetsPerBurst, 4.0, 0.1);
  EXPECT_NEAR(dry.capture.figures.completedPerNominal, 4.0 / 6.0, 0.03);
  EXPECT_GT(dry.capture.figures.gaps, 50u);
  // What the log implies was lost is what the device counted, give or take the run's edges.
  EXPECT_NEAR(static_cast<double>(dry.capture.figures.framesLost),
              static_cast<double>(device->CaptureFramesLost()), 0.05 * device->CaptureFramesLost());
  EXPECT_NEAR(static_cast<double>(dry.render.figures.framesLost),
              static_cast<double>(device->RenderUnderruns() * 64),
              0.05 * device->RenderUnderruns() * 64);
  EXPECT_TRUE(AnyLineHolds(diagnosis.verdict.problems, "At 96000 Hz the render pin ran dry"));
  EXPECT_TRUE(AnyLineHolds(diagnosis.verdict.problems, "At 96000 Hz the capture pin ran dry"));
}

TEST_F(DiagnoseTest, TheUsbAudio2FilterIsReadButNotStreamed) {
  const Diagnosis diagnosis = Run("ideal", {Kx7Scenario::UsbAudio2}, {48000});
  EXPECT_EQ(diagnosis.verdict.layout, "uac2");
  EXPECT_NE(diagnosis.verdict.classDriver.find("2.0"), std::string::npos);
  EXPECT_EQ(diagnosis.verdict.profile, "");
  EXPECT_TRUE(AnyLineHolds(diagnosis.verdict.problems, "looped streaming only"));
  ASSERT_EQ(diagnosis.filters.size(), 1u);
  EXPECT_TRUE(diagnosis.filters[0].realtime);
  EXPECT_FALSE(diagnosis.filters[0].pickedForCapture || diagnosis.filters[0].pickedForRender);
  EXPECT_NE(diagnosis.filters[0].why.find("looped"), std::string::npos) << diagnosis.filters[0].why;
  // Its pins are still read in full: the looped interface is what tells.
  ASSERT_EQ(diagnosis.kx7Filters.size(), 1u);
  const PinListing& renderPin = diagnosis.kx7Filters[0].pins.at(0);
  ASSERT_EQ(renderPin.interfaces.size(), 1u);
  EXPECT_EQ(renderPin.interfaces[0].Id, static_cast<ULONG>(KSINTERFACE_STANDARD_LOOPED_STREAMING));
  EXPECT_EQ(renderPin.dataRanges.size(), 2u) << "the attribute list is no range";
  EXPECT_TRUE(renderPin.dataRanges[0].hasAttributes);
  EXPECT_EQ(renderPin.dataRanges[1].audio.MaximumBitsPerSample, 24u);
  EXPECT_FALSE(diagnosis.runs.at(0).render.filterFound);
  EXPECT_TRUE(diagnosis.runs.at(0).render.log.empty());
}

TEST_F(DiagnoseTest, AHeldPinIsReportedNotFoughtOverAndTheOtherDirectionStillStreams) {
  Diagnosis diagnosis = Run("ideal", {Kx7Scenario::PinInUse}, {48000});
  const RateRun& held = diagnosis.runs.at(0);
  EXPECT_TRUE(held.render.busy);
  EXPECT_EQ(held.render.trials.size(), 1u) << "no further tries at a held pin";
  EXPECT_TRUE(held.render.log.empty());
  EXPECT_GT(held.capture.figures.completions, 100u);
  EXPECT_TRUE(AnyLineHolds(diagnosis.verdict.problems, "in use by another application"));

  diagnosis = Run("ideal", {Kx7Scenario::NoBandwidth}, {48000});
  const RateRun& refused = diagnosis.runs.at(0);
  ASSERT_FALSE(refused.render.states.empty());
  EXPECT_EQ(refused.render.states[0].state, static_cast<ULONG>(KSSTATE_ACQUIRE));
  EXPECT_TRUE(FAILED(refused.render.states[0].result));
  EXPECT_TRUE(refused.render.streamedFormat.empty());
  EXPECT_GT(refused.capture.figures.completions, 100u);
  EXPECT_TRUE(AnyLineHolds(diagnosis.verdict.problems, "render pin could not start"));

  diagnosis = Run("ideal", {Kx7Scenario::ZeroFirstReads}, {48000});
  EXPECT_EQ(diagnosis.runs.at(0).capture.figures.emptyPackets, 4u);
  EXPECT_TRUE(AnyLineHolds(diagnosis.verdict.observations, "handed back 4 packets empty"));
}

TEST_F(DiagnoseTest, FramingThatAPinAnswersIsReadWithinItsReply) {
  device = std::make_unique<vkx7::VirtualKx7>();
  vkx7::PropertyMatch plain;
  plain.set = KSPROPSETID_Connection;
  plain.id = KSPROPERTY_CONNECTION_ALLOCATORFRAMING;
  plain.onPinHandle = true;
  KSALLOCATOR_FRAMING framing = {};
  framing.Frames = 8;
  framing.FrameSize = 1440;  // 480 stereo 24-bit frames
  std::vector<BYTE> reply(sizeof framing);
  std::memcpy(reply.data(), &framing, sizeof framing);
  device->ReplaceReply(plain, reply);
  // An extended reply that claims three items and holds one.
  vkx7::PropertyMatch extended = plain;
  extended.id = KSPROPERTY_CONNECTION_ALLOCATORFRAMING_EX;
  KSALLOCATOR_FRAMING_EX framingEx = {};
  framingEx.CountItems = 3;
  framingEx.FramingItem[0].Frames = 4;
  framingEx.FramingItem[0].FramingRange.Range.MaxFrameSize = 768;
  reply.assign(sizeof framingEx, 0);
  std::memcpy(reply.data(), &framingEx, sizeof framingEx);
  device->ReplaceReply(extended, reply);
  device->Plug();
  SteppedClock clock(*device);
  DiagnoseMonitor monitor;
  DiagnosisPlan options;
  options.seconds = 0.05;
  options.rates = {48000};
  const Diagnosis diagnosis = Diagnose(options, clock, monitor);
  const FramingReport& render = diagnosis.runs.at(0).render.framing;
  ASSERT_EQ(render.plainResult, S_OK);
  EXPECT_EQ(render.plain.FrameSize, 1440u);
  ASSERT_EQ(render.extendedResult, S_OK);
  EXPECT_EQ(render.countItems, 3u);
  ASSERT_EQ(render.items.size(), 1u);
  EXPECT_EQ(render.items[0].FramingRange.Range.MaxFrameSize, 768u);
  EXPECT_TRUE(AnyLineHolds(diagnosis.verdict.observations, "asks for frames of 1440 bytes"));
}

TEST_F(DiagnoseTest, WithoutAKx7TheOtherFiltersAreListedAndNothingIsStreamed) {
  vkx7::VirtualKsDevice other(vkx7::OtherAudioDescription());
  other.Plug();
  SteppedClock clock(other);
  DiagnoseMonitor monitor;
  const Diagnosis diagnosis = Diagnose(DiagnosisPlan(), clock, monitor);
  EXPECT_FALSE(diagnosis.verdict.kx7Found);
  EXPECT_EQ(diagnosis.filters.size(), 2u);
  for (const FilterListing& filter : diagnosis.filters) {
    EXPECT_FALSE(filter.kx7);
    EXPECT_NE(filter.why.find("not the KX-7"), std::string::npos);
  }
  EXPECT_TRUE(diagnosis.runs.empty());
  EXPECT_TRUE(AnyLineHolds(diagnosis.verdict.problems, "No NORVA KX-7 was found"));
}

TEST_F(DiagnoseTest, AnInterruptEndsTheRunWithEveryPinClosed) {
  // The clock stands still after 100 completions, so the run is still streaming when the
  // waiting thread first shows progress, and is interrupted there.
  InterruptingMonitor monitor;
  const Diagnosis diagnosis = Run("ideal", {}, {44100, 48000, 96000}, &monitor, 100);
  EXPECT_TRUE(diagnosis.interrupted);
  ASSERT_EQ(diagnosis.runs.size(), 1u);
  EXPECT_LT(diagnosis.runs[0].secondsRun, kSeconds);
  EXPECT_GT(diagnosis.runs[0].render.figures.completions, 50u);
  EXPECT_TRUE(AnyLineHolds(diagnosis.verdict.observations, "cut short"));
}

TEST_F(DiagnoseTest, ProfilesKeepTheirNamesWhenSomeWakesOfABusyMachineComeLate) {
  // A quarter to nearly a third of the waits wake up to a millisecond late (or a fifth up to
  // two), as on a busy machine: the completions seen then are stamped late.
  const TimerNoise noises[] = {
      {0.25, 1.0, 0x6A09E667u}, {0.3, 1.0, 0xBB67AE85u}, {0.2, 2.0, 0x3C6EF372u}};
  for (const TimerNoise& noise : noises) {
    for (const char* profile : {"ideal", "usb-1ms", "urb-2ms", "urb-4ms", "urb-8ms"}) {
      SCOPED_TRACE(std::string(profile) + ", " + std::to_string(noise.lateShare) +
                   " late by up to " + std::to_string(noise.maxLateMs) + " ms");
      const Diagnosis diagnosis =
          Run(profile, {}, {44100, 48000, 96000}, nullptr, ~0ull, noise, 1.0);
      EXPECT_EQ(diagnosis.verdict.profile, profile);
      // With a quarter late, every rate and direction on its own; with more, the majority.
      if (noise.lateShare > 0.25) continue;
      for (const std::string& line : diagnosis.verdict.perRateProfiles) {
        EXPECT_NE(line.find(std::string(": ") + profile + " ("), std::string::npos) << line;
      }
    }
  }
  // What the noise does: a fifth to a third of the completions are off the packet grid.
  const Diagnosis noisy = Run("ideal", {}, {48000}, nullptr, ~0ull, noises[0], 1.0);
  const std::vector<CompletionRecord>& log = noisy.runs.at(0).render.log;
  ASSERT_GT(log.size(), 500u);
  size_t off = 0;
  for (const CompletionRecord& record : log) {
    const int64_t frames = (record.timeNs * 48000 + 500000000) / 1000000000;
    off += frames % vkx7::kPacketFrames != 0 ? 1 : 0;
  }
  const double share = static_cast<double>(off) / static_cast<double>(log.size());
  EXPECT_GT(share, 0.2);
  EXPECT_LT(share, 0.3);
}

TEST_F(DiagnoseTest, ADeviceThatSpreadsEveryCompletionIsStillJitter) {
  for (const TimerNoise& noise : {TimerNoise(), TimerNoise{0.25, 1.0, 0x6A09E667u}}) {
    const Diagnosis diagnosis =
        Run("jitter-16", {}, {44100, 48000, 96000}, nullptr, ~0ull, noise, 1.0);
    EXPECT_EQ(diagnosis.verdict.profile.rfind("jitter-", 0), 0u) << diagnosis.verdict.profile;
  }
}

}  // namespace
}  // namespace kx7host

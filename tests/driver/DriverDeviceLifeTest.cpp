// The device's life under a running stream, on the stepped clock with the system clock moved in
// step with it: a device that leaves, returns, sleeps or stalls never stops the host's buffer
// switches, and the stream resumes by itself; a new rate while running restarts the pins.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "driver/StreamingFixture.h"
#include "virtual_device/Kx7Scenarios.h"

namespace kx7test {
namespace {

constexpr int32_t kHalf = 128;
constexpr double kRate = 48000.0;
constexpr double kPeriodMs = kHalf * 1000.0 / kRate;
// The device clock moves in steps no longer than a millisecond, so that every wait the driver
// times by the system clock ends at its own millisecond.
constexpr uint64_t kStepFrames = 32;
// Where the scenarios strike, counted from the pins' first run.
constexpr uint64_t kTriggerFrames = 12000;  // 0.25 s at 48 kHz
// The two switches of the start's handshake both come at position 0.
constexpr size_t kHandshake = 1;

DWORD StampMs(const SwitchRecord& record) {
  const uint64_t ns = (static_cast<uint64_t>(record.stamp.hi) << 32) | record.stamp.lo;
  return static_cast<DWORD>(ns / 1000000u);
}

uint64_t Position(const SwitchRecord& record) {
  return (static_cast<uint64_t>(record.position.hi) << 32) | record.position.lo;
}

// Rate of the latest pin made by the device, from its connect record.
ULONG LatestPinRate(const vkx7::VirtualKsDevice& device) {
  const vkx7::DeviceRecord record = device.Record();
  for (auto it = record.connects.rbegin(); it != record.connects.rend(); ++it) {
    if (it->result != ERROR_SUCCESS) continue;
    WAVEFORMATEX format;
    std::memcpy(&format, it->connect.data() + sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT),
                sizeof format);
    return format.nSamplesPerSec;
  }
  return 0;
}

class DeviceLifeTest : public StreamingTest {
 protected:
  void SetUp() override {
    StreamingTest::SetUp();
    host.answerTimeInfo = true;
    device.SetMicrophone(vkx7::MicrophoneSource::Tone(1000.0, 0.5));
  }

  // Starts at 128 frames and 48 kHz; from here on the system clock follows the device's.
  void StartStreaming() {
    Prepare(kHalf);
    ASSERT_EQ(Start(), ASE_OK);
    startFrame = device.FramesElapsed();
    startMs = timeGetTime();
    if (stallAfterStart) device.StallRender(true);
  }
  void CallsInTheGap(const char* name, double intoMs, const char* event);

  // Lets both of the run's threads answer: the watch first, whose finding wakes the loop.
  bool Settle() {
    for (int pass = 0; pass < 2; ++pass) {
      if (!SettleThread(Internals(*driver).WatchThreadId())) return false;
      if (!SettleThread(Internals(*driver).streamThreadId.load())) return false;
    }
    return true;
  }

  // Moves the device clock by `frames`, and the system clock with it at the driver's rate.
  bool Advance(uint64_t frames) {
    while (frames > 0) {
      uint64_t left = std::min(frames, kStepFrames);
      frames -= left;
      ASIOSampleRate rate = 0.0;
      driver->getSampleRate(&rate);
      while (left > 0) {
        const uint64_t moved = device.StepToNextCompletion(left);
        left -= moved;
        carryMs += static_cast<double>(moved) * 1000.0 / rate;
        if (!Settle()) return false;
      }
      const auto whole = static_cast<DWORD>(carryMs);
      if (whole > 0) {
        carryMs -= whole;
        emu_test::AdvanceTime(whole);
        if (!Settle()) return false;
      }
    }
    return true;
  }
  bool AdvanceMs(double ms) { return Advance(static_cast<uint64_t>(ms * kRate / 1000.0)); }

  // The system clock's millisecond at a frame of the device clock (at 48 kHz throughout).
  double MsAt(uint64_t frame) const {
    return startMs + static_cast<double>(frame - startFrame) * 1000.0 / kRate;
  }
  double MsOf(const char* what) const {
    for (const vkx7::LifeEvent& event : device.LifeEvents()) {
      if (event.what == what) return MsAt(event.frame);
    }
    ADD_FAILURE() << "the device never had " << what;
    return 0.0;
  }

  struct Event {
    std::string name;
    DWORD ms;
  };
  std::vector<Event> Events() const {
    DeviceEventRecord records[64];
    uint32_t after = 0;
    const uint32_t count = Internals(*driver).deviceEvents.Read(0, records, 64, &after);
    std::vector<Event> events;
    for (uint32_t i = 0; i < count; ++i) {
      events.push_back({DeviceEventName(records[i].event), records[i].time});
    }
    return events;
  }
  std::vector<std::string> EventNames() const {
    std::vector<std::string> names;
    for (const Event& event : Events()) names.push_back(event.name);
    return names;
  }

  std::string ErrorText() {
    char text[128] = {};
    driver->getErrorMessage(text);
    return text;
  }

  // What the host saw over switches [from, to): the longest time between two, whether each
  // position follows the one before by a half, and how many were silent.
  struct Seen {
    DWORD longestGapMs = 0;
    bool continuous = true;
    size_t silent = 0;
    size_t count = 0;
  };
  Seen Look(size_t from, size_t to) const {
    Seen seen;
    for (size_t k = from + 1; k < to; ++k) {
      seen.longestGapMs =
          std::max(seen.longestGapMs, StampMs(host.switches[k]) - StampMs(host.switches[k - 1]));
      if (Position(host.switches[k]) != Position(host.switches[k - 1]) + kHalf && seen.continuous) {
        seen.continuous = false;
        std::printf("position jumps at switch %zu: %llu after %llu\n", k,
                    static_cast<unsigned long long>(Position(host.switches[k])),
                    static_cast<unsigned long long>(Position(host.switches[k - 1])));
      }
    }
    for (size_t k = from; k < to; ++k) {
      const auto& input = host.switches[k].inputs[0];
      seen.silent += std::all_of(input.begin(), input.end(), [](int32_t s) { return s == 0; });
    }
    seen.count = to > from ? to - from : 0;
    return seen;
  }
  // The first switch at or after a millisecond of the system clock.
  size_t SwitchAt(double ms) const {
    size_t k = 0;
    while (k < host.switches.size() && StampMs(host.switches[k]) < ms) ++k;
    return k;
  }

  // For the report: one line per scenario.
  void Report(const char* scenario, size_t from) {
    const Seen seen = Look(from, host.switches.size());
    const double spanMs = StampMs(host.switches.back()) - StampMs(host.switches[from]);
    // Both the driver's events and the device's own, in ms from the device's first.
    const std::vector<vkx7::LifeEvent> life = device.LifeEvents();
    const double origin = life.empty() ? startMs : MsAt(life.front().frame);
    std::string events;
    for (const Event& event : Events()) {
      char item[64];
      std::snprintf(item, sizeof item, " %s@%+.1f", event.name.c_str(),
                    static_cast<double>(event.ms) - origin);
      events += item;
    }
    events += " | device:";
    for (const vkx7::LifeEvent& event : life) {
      char item[64];
      std::snprintf(item, sizeof item, " %s@%+.1f", event.what.c_str(), MsAt(event.frame) - origin);
      events += item;
    }
    std::printf(
        "[%s] switches %zu, implied %.0f, longest gap %lu ms, drop-outs %u, events"
        "%s (ms), text \"%s\"\n",
        scenario, seen.count, spanMs / kPeriodMs + 1, static_cast<unsigned long>(seen.longestGapMs),
        Internals(*driver).dropOutCount.load(), events.c_str(), ErrorText().c_str());
  }

  void Apply(vkx7::Kx7Scenario scenario) {
    vkx7::ApplyScenario(device, scenario, vkx7::LifeTiming::AfterFrames(kTriggerFrames));
  }

  bool stallAfterStart = false;  // the render pin stalls once the start has returned
  uint64_t startFrame = 0;
  DWORD startMs = 0;
  double carryMs = 0.0;
};

// The host's clock never stops: at most a period (rounded up to the clock's millisecond) and
// the detection between two switches.
constexpr DWORD kLongestGapMs = 4;

TEST_P(DeviceLifeTest, AnUnpluggedDeviceLeavesTheHostsClockRunningWithSilenceAndSaysSo) {
  Apply(vkx7::Kx7Scenario::Unplug);
  StartStreaming();
  ASSERT_TRUE(AdvanceMs(1500));
  EXPECT_EQ(EventNames(), std::vector<std::string>{"lost"});
  // The clock steps behind the device by less than a step and a millisecond.
  EXPECT_NEAR(Events()[0].ms, MsOf("removed"), 2.0) << "a failed request is noticed at once";
  EXPECT_EQ(ErrorText(), "NORVA KX-7 was disconnected.");
  EXPECT_EQ(emu_test::TimerPeriodsHeld(), 1) << "the silence clock's waits are fine-grained";
  EXPECT_EQ(Internals(*driver).dropOutCount.load(), 1u) << "the gap is one drop-out";
  const size_t lost = SwitchAt(MsOf("removed") + 1);
  const Seen seen = Look(lost, host.switches.size());
  EXPECT_LE(seen.longestGapMs, kLongestGapMs);
  EXPECT_TRUE(seen.continuous);
  EXPECT_EQ(seen.silent, seen.count) << "zeros in while the device is away";
  const double spanMs = StampMs(host.switches.back()) - StampMs(host.switches[lost]);
  EXPECT_NEAR(static_cast<double>(seen.count), spanMs / kPeriodMs + 1, 1.5);
  Report("unplug", kHandshake);
}

// stop, disposeBuffers, init and the last Release in a scenario's gap, `intoMs` into the run:
// each returns and leaves nothing running. The times are reported, not asserted.
void DeviceLifeTest::CallsInTheGap(const char* name, double intoMs, const char* event) {
  StartStreaming();
  ASSERT_TRUE(AdvanceMs(intoMs));
  ASSERT_FALSE(EventNames().empty());
  EXPECT_EQ(EventNames().back(), event);
  const auto timed = [](auto&& call) {
    const auto t0 = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  };
  ASIOError stopped = ASE_NotPresent;
  ASIOError disposed = ASE_NotPresent;
  ASIOBool initialised = ASIOFalse;
  const double stopMs = timed([&] { stopped = driver->stop(); });
  const double disposeMs = timed([&] { disposed = driver->disposeBuffers(); });
  const double initMs = timed([&] { initialised = driver->init(nullptr); });
  EXPECT_EQ(stopped, ASE_OK);
  EXPECT_EQ(disposed, ASE_OK);
  EXPECT_EQ(initialised, ASIOTrue) << "an initialised driver stays so";
  EXPECT_FALSE(Internals(*driver).HasStream());
  const double releaseMs = timed([&] { driver.Reset(); });
  std::printf("[%s gap] stop %.2f ms, disposeBuffers %.2f ms, init %.2f ms, Release %.2f ms\n",
              name, stopMs, disposeMs, initMs, releaseMs);
}

TEST_P(DeviceLifeTest, HostCallsWorkWhileTheDeviceIsAway) {
  Apply(vkx7::Kx7Scenario::Unplug);
  CallsInTheGap("unplug", 400, "lost");
}

TEST_P(DeviceLifeTest, HostCallsWorkWhileTheDeviceSleeps) {
  Apply(vkx7::Kx7Scenario::Suspend);
  CallsInTheGap("suspend", 1000, "suspended");
}

TEST_P(DeviceLifeTest, HostCallsWorkWhileTheDeviceIsAwayInItsSleep) {
  Apply(vkx7::Kx7Scenario::SuspendReenumerate);
  CallsInTheGap("suspend-reenumerate", 2000, "lost");
}

TEST_P(DeviceLifeTest, HostCallsWorkWhileTheRenderPinIsStalled) {
  stallAfterStart = true;
  CallsInTheGap("stall", 1000, "lost");
}

TEST_P(DeviceLifeTest, AReturningDeviceIsReopenedAndHeardWithoutTheHost) {
  Apply(vkx7::Kx7Scenario::Replug);
  StartStreaming();
  const uint32_t freshLatency = Internals(*driver).latencyCount.load();
  ASSERT_TRUE(AdvanceMs(3000));
  ASSERT_EQ(EventNames(), (std::vector<std::string>{"lost", "returned"}));
  const double arrived = MsOf("arrived");
  EXPECT_GE(Events()[1].ms, arrived);
  EXPECT_LE(Events()[1].ms, arrived + 2000) << "back within 2 s of its interface";
  EXPECT_EQ(ErrorText(), "ASIO OK");
  EXPECT_EQ(emu_test::TimerPeriodsHeld(), 0) << "the timer is let go with the silence";
  EXPECT_EQ(Internals(*driver).dropOutCount.load(), 1u);
  EXPECT_EQ(Internals(*driver).latencyCount.load(), freshLatency) << "as at a fresh start";
  EXPECT_EQ(LatestPinRate(device), 48000u);
  const Seen seen = Look(kHandshake, host.switches.size());
  EXPECT_TRUE(seen.continuous);
  // Between the loss and the first switch of the returned device: the silence clock's pace,
  // then at most the returned pins' first halves.
  EXPECT_LE(Look(SwitchAt(MsOf("removed") + 1), SwitchAt(Events()[1].ms)).longestGapMs,
            kLongestGapMs);
  const Seen after = Look(SwitchAt(Events()[1].ms + 50), host.switches.size());
  EXPECT_GT(after.count, 100u);
  EXPECT_EQ(after.silent, 0u) << "the microphone is heard again";
  EXPECT_LE(after.longestGapMs, kLongestGapMs);
  Report("replug", kHandshake);
}

// A rate set while the device is away is the one it is reopened at.
TEST_P(DeviceLifeTest, ARateSetWhileTheDeviceIsAwayIsTheOneItReturnsAt) {
  Apply(vkx7::Kx7Scenario::Replug);
  StartStreaming();
  ASSERT_TRUE(AdvanceMs(500));
  ASSERT_EQ(EventNames(), std::vector<std::string>{"lost"});
  auto changed = std::async(std::launch::async, [this] { return driver->setSampleRate(96000.0); });
  while (changed.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
    ASSERT_TRUE(Advance(kStepFrames));
  }
  ASSERT_EQ(changed.get(), ASE_OK);
  const size_t from = host.switches.size();
  ASSERT_TRUE(AdvanceMs(2500));
  ASSERT_EQ(EventNames(), (std::vector<std::string>{"lost", "returned"}));
  EXPECT_EQ(LatestPinRate(device), 96000u);
  for (size_t k = from + 1; k < host.switches.size(); ++k) {
    ASSERT_EQ(host.switches[k].rateSeen, 96000.0) << k;
  }
  // The silence clock keeps the new period: a 96 kHz half of 128 frames is 1.33 ms.
  EXPECT_LE(Look(from + 1, SwitchAt(Events()[1].ms)).longestGapMs, 2u);
}

TEST_P(DeviceLifeTest, AHostThatStoppedWhileTheDeviceWasAwayFindsItAtTheNextStart) {
  Apply(vkx7::Kx7Scenario::Replug);
  StartStreaming();
  ASSERT_TRUE(AdvanceMs(400));
  ASSERT_EQ(driver->stop(), ASE_OK);
  ASSERT_TRUE(AdvanceMs(2500));  // the device returns meanwhile
  const size_t before = host.switches.size();
  ASSERT_EQ(Start(), ASE_OK);
  RunCycles(static_cast<unsigned>(before) + 10);
  EXPECT_EQ(ErrorText(), "ASIO OK");
  EXPECT_EQ(EventNames(), std::vector<std::string>{"lost"});
}

TEST_P(DeviceLifeTest, ASleepIsOneGapAfterWhichTheStreamResumesByItself) {
  Apply(vkx7::Kx7Scenario::Suspend);
  StartStreaming();
  ASSERT_TRUE(AdvanceMs(4000));
  ASSERT_EQ(EventNames(), (std::vector<std::string>{"suspended", "resumed"}));
  // Noticed once render has been silent for 500 ms; resumed with the pins' first completion.
  EXPECT_NEAR(Events()[0].ms, MsOf("asleep") + 500, kPeriodMs + 1);
  EXPECT_NEAR(Events()[1].ms, MsOf("awake"), 2);
  EXPECT_EQ(Internals(*driver).dropOutCount.load(), 1u) << "one gap, not a storm";
  EXPECT_EQ(ErrorText(), "ASIO OK") << "a sleeping device is not a lost one";
  const Seen seen = Look(kHandshake, host.switches.size());
  EXPECT_TRUE(seen.continuous);
  EXPECT_LE(Look(SwitchAt(Events()[0].ms), SwitchAt(Events()[1].ms)).longestGapMs, kLongestGapMs);
  EXPECT_LE(seen.longestGapMs, 500 + kLongestGapMs) << "only the detection stops the clock";
  const Seen after = Look(SwitchAt(Events()[1].ms + 50), host.switches.size());
  EXPECT_GT(after.count, 100u);
  EXPECT_EQ(after.silent, 0u);
  Report("suspend", kHandshake);
}

TEST_P(DeviceLifeTest, ADeviceReenumeratedInItsSleepIsLostAndReturns) {
  Apply(vkx7::Kx7Scenario::SuspendReenumerate);
  StartStreaming();
  ASSERT_TRUE(AdvanceMs(4500));
  ASSERT_EQ(EventNames(), (std::vector<std::string>{"suspended", "lost", "returned"}));
  EXPECT_NEAR(Events()[1].ms, MsOf("removed"), 2.0);
  EXPECT_LE(Events()[2].ms, MsOf("arrived") + 2000);
  EXPECT_EQ(ErrorText(), "ASIO OK");
  EXPECT_EQ(Internals(*driver).dropOutCount.load(), 1u);
  const Seen seen = Look(kHandshake, host.switches.size());
  EXPECT_TRUE(seen.continuous);
  EXPECT_EQ(Look(SwitchAt(Events()[2].ms + 50), host.switches.size()).silent, 0u);
  Report("suspend-reenumerate", kHandshake);
}

// A render pin that runs but completes nothing for 500 ms is lost as well; the host's clock goes
// on, and the stream resumes when the pin completes again.
TEST_P(DeviceLifeTest, AStalledDeviceIsLostAfterHalfASecondAndResumesWhenItMovesAgain) {
  StartStreaming();
  ASSERT_TRUE(AdvanceMs(200));
  const DWORD stalledAt = timeGetTime();
  device.StallRender(true);
  ASSERT_TRUE(AdvanceMs(1000));
  ASSERT_EQ(EventNames(), std::vector<std::string>{"lost"});
  EXPECT_LE(Events()[0].ms, stalledAt + 500);
  EXPECT_GE(Events()[0].ms + kPeriodMs + 1, stalledAt + 500.0);
  EXPECT_EQ(ErrorText(), "NORVA KX-7 was disconnected.");
  const size_t silentFrom = SwitchAt(Events()[0].ms);
  EXPECT_LE(Look(silentFrom, host.switches.size()).longestGapMs, kLongestGapMs);
  device.StallRender(false);
  ASSERT_TRUE(AdvanceMs(500));
  EXPECT_EQ(EventNames(), (std::vector<std::string>{"lost", "returned"}));
  EXPECT_EQ(ErrorText(), "ASIO OK");
  EXPECT_TRUE(Look(kHandshake, host.switches.size()).continuous);
  std::printf("[stall] render stalled at %+.1f ms\n", static_cast<double>(stalledAt) - startMs);
  Report("stall", kHandshake);
}

// setSampleRate while running: the pins run at the new rate before the call returns, and from
// then on the rate the host reads, its time info and the pins agree at every callback.
TEST_P(DeviceLifeTest, ANewRateRestartsTheRunningPinsBeforeTheCallReturns) {
  StartStreaming();
  ASSERT_TRUE(AdvanceMs(100));
  const size_t asked = host.switches.size();
  auto changed = std::async(std::launch::async, [this] { return driver->setSampleRate(96000.0); });
  while (changed.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
    ASSERT_TRUE(Advance(kStepFrames));
  }
  ASSERT_EQ(changed.get(), ASE_OK);
  EXPECT_EQ(LatestPinRate(device), 96000u) << "restarted before the call returned";
  ASSERT_TRUE(Advance(96000 / 4));
  // The switches go over from one rate to the other once, and every one agrees with the pins.
  size_t first = asked;
  while (first < host.switches.size() && host.switches[first].rateSeen != 96000.0) ++first;
  ASSERT_GT(host.switches.size(), first + 50);
  for (size_t k = asked; k < host.switches.size(); ++k) {
    const double rate = k < first ? 48000.0 : 96000.0;
    ASSERT_EQ(host.switches[k].rateSeen, rate) << k;
    ASSERT_EQ(host.switches[k].rateReported, rate) << k;
  }
  EXPECT_NE(host.switches[first].flagsSeen & kSampleRateChanged, 0u);
  EXPECT_EQ(host.switches[first + 1].flagsSeen & kSampleRateChanged, 0u);
  EXPECT_EQ(EventNames(), std::vector<std::string>{"rate-restarted"});
  EXPECT_TRUE(Look(kHandshake, host.switches.size()).continuous);
  std::printf(
      "[rate] asked at switch %zu, first at 96 kHz %zu, %.1f ms apart; longest gap %lu ms\n", asked,
      first, static_cast<double>(StampMs(host.switches[first]) - StampMs(host.switches[asked])),
      static_cast<unsigned long>(Look(kHandshake, host.switches.size()).longestGapMs));
}

TEST_P(DeviceLifeTest, ANewRateFromInsideTheCallbackTakesEffectRightAfterIt) {
  StartStreaming();
  ASSERT_TRUE(AdvanceMs(100));
  const size_t asked = host.switches.size();
  ASIOError result = ASE_NotPresent;
  host.insideCallback = [&] {
    if (host.switches.size() == asked + 1) result = driver->setSampleRate(88200.0);
  };
  ASSERT_TRUE(AdvanceMs(200));
  host.insideCallback = nullptr;
  EXPECT_EQ(result, ASE_OK);
  EXPECT_EQ(LatestPinRate(device), 88200u);
  ASSERT_GT(host.switches.size(), asked + 20);
  for (size_t k = asked + 1; k < host.switches.size(); ++k) {
    ASSERT_EQ(host.switches[k].rateSeen, 88200.0) << k;
  }
  EXPECT_NE(host.switches[asked + 1].flagsSeen & kSampleRateChanged, 0u)
      << "the first callback at the new rate is marked";
  EXPECT_EQ(EventNames(), std::vector<std::string>{"rate-restarted"});
}

// A rate the pins refuse although their ranges offer it: the host is told, and the stream goes
// on at the old rate, which the host reads.
TEST_P(DeviceLifeTest, ARateThePinsRefuseLeavesTheStreamAtTheOldRate) {
  device.RefuseRate(96000);
  StartStreaming();
  ASSERT_TRUE(AdvanceMs(100));
  auto changed = std::async(std::launch::async, [this] { return driver->setSampleRate(96000.0); });
  while (changed.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
    ASSERT_TRUE(Advance(kStepFrames));
  }
  EXPECT_EQ(changed.get(), ASE_NoClock);
  double rate = 0.0;
  driver->getSampleRate(&rate);
  EXPECT_EQ(rate, 48000.0);
  EXPECT_EQ(LatestPinRate(device), 48000u);

  // Asked from inside the callback, the refusal shows only when the pins are made: the rate
  // goes back to the old one before the next callback.
  const size_t asked = host.switches.size();
  ASIOError inside = ASE_NotPresent;
  host.insideCallback = [&] {
    if (host.switches.size() == asked + 1) inside = driver->setSampleRate(96000.0);
  };
  ASSERT_TRUE(AdvanceMs(200));
  host.insideCallback = nullptr;
  EXPECT_EQ(inside, ASE_OK);
  for (size_t k = asked + 1; k < host.switches.size(); ++k) {
    ASSERT_EQ(host.switches[k].rateSeen, 48000.0) << k;
    ASSERT_EQ(host.switches[k].rateReported, 48000.0) << k;
  }
  EXPECT_GT(host.switches.size(), asked + 50) << "streaming goes on";
  EXPECT_TRUE(EventNames().empty());
  device.RefuseRate(0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DeviceLifeTest, KX7_STREAMING_LAYOUTS);

}  // namespace
}  // namespace kx7test

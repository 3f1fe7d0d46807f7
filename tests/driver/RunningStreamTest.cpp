// A running stream built against the virtual KX-7 directly, with a test owner in place of the
// driver object: the halves it delivers, how it ends when its owner's callback blocks, a device
// that leaves under it, and a pin whose reads come back at once and empty.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/HostBuffers.h"
#include "driver/Kx7Device.h"
#include "driver/RunningStream.h"
#include "driver/StreamOwner.h"
#include "platform/emu/test_hooks.h"
#include "product/Kx7Facts.h"
#include "streaming/SampleConverter.h"
#include "support/DeviceStepping.h"
#include "virtual_device/Kx7Scenarios.h"
#include "virtual_device/VirtualKsDevice.h"

namespace kx7test {
namespace {

constexpr uint32_t kBufferSize = 128;
constexpr uint32_t kPacketsPerHalf = kBufferSize / vkx7::kPacketFrames;
constexpr float kLeftOut = 0.25f;
constexpr float kRightOut = -0.25f;
constexpr double kPi = 3.14159265358979323846;

// Stands in for the driver object and its host: makes the host's buffers, records each half the
// host is handed, answers like a host's callback by filling the output half, and blocks inside
// the callback when asked to.
class TestOwner final : public IStreamOwner {
 public:
  TestOwner() : release(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    current = this;
    callbacks.bufferSwitch = &TestOwner::OnSwitch;
    for (int c = 0; c < 4; ++c)
      infos[c] = {c < 2 ? ASIOTrue : ASIOFalse, c % 2, {nullptr, nullptr}};
    EXPECT_EQ(CHostBuffers::Create(infos, 4, kBufferSize, &callbacks, 48000.0, &host), ASE_OK);
  }
  ~TestOwner() {
    current = nullptr;
    CloseHandle(release);
  }
  TestOwner(const TestOwner&) = delete;
  TestOwner& operator=(const TestOwner&) = delete;

  void SetErrorMessage(const char* text) override {
    std::lock_guard<std::mutex> guard(lock);
    errors.emplace_back(text);
  }
  void TakeRate(double rate) override { takenRate.store(rate); }
  void CountDropOut() override { dropOuts.fetch_add(1); }
  void ShowLatency(uint32_t frames) override { latency.store(frames); }
  void RecordEvent(DeviceEvent) override {}
  void ReleaseAfterHost() override {}

  std::vector<std::string> Errors() {
    std::lock_guard<std::mutex> guard(lock);
    return errors;
  }

  ASIOBufferInfo infos[4];  // inputs 0 and 1, outputs 0 and 1
  ASIOCallbacks callbacks{};
  std::shared_ptr<CHostBuffers> host;
  std::atomic<uint32_t> dropOuts{0};
  std::atomic<uint32_t> latency{0};
  std::atomic<unsigned> calls{0};
  std::atomic<double> takenRate{0.0};
  // Runs inside each callback on the streaming thread (a host's work, say).
  std::function<void()> insideCallback;
  // The call (counted from 1) that blocks inside the callback until `release` is set; 0: none.
  unsigned blockAt = 0;
  std::atomic<bool> blocked{false};
  HANDLE release;

  std::mutex lock;
  std::vector<uint32_t> indices;
  std::vector<float> captured;  // the left input's halves, as the host got them
  bool inputsAgree = true;
  std::vector<std::string> errors;

 private:
  static void OnSwitch(int32_t index, ASIOBool) { current->Switch(static_cast<uint32_t>(index)); }
  void Switch(uint32_t index) {
    const auto* left = static_cast<const int32_t*>(infos[0].buffers[index]);
    const auto* right = static_cast<const int32_t*>(infos[1].buffers[index]);
    {
      std::lock_guard<std::mutex> guard(lock);
      indices.push_back(index);
      for (uint32_t f = 0; f < kBufferSize; ++f) {
        captured.push_back(static_cast<float>(left[f] / 2147483647.5));
      }
      inputsAgree = inputsAgree && std::memcmp(left, right, kBufferSize * sizeof(int32_t)) == 0;
    }
    calls.fetch_add(1);
    if (insideCallback) insideCallback();
    if (blockAt != 0 && calls.load() == blockAt) {
      blocked.store(true);
      // In finite waits, so the test's stepping sees the thread idle meanwhile.
      while (WaitForSingleObject(release, 50) == WAIT_TIMEOUT) {
      }
    }
    const int32_t out[2] = {static_cast<int32_t>(kLeftOut * 2147483648.0),
                            static_cast<int32_t>(kRightOut * 2147483648.0)};
    for (int c = 0; c < 2; ++c) {
      auto* half = static_cast<int32_t*>(infos[2 + c].buffers[index]);
      std::fill(half, half + kBufferSize, out[c]);
    }
  }
  static TestOwner* current;
};

TestOwner* TestOwner::current = nullptr;

template <typename Predicate>
bool WaitFor(Predicate predicate, int milliseconds = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

class RunningStreamTest : public ::testing::TestWithParam<vkx7::Kx7Layout> {
 protected:
  void SetUp() override {
    device.Plug();
    emu_test::FreezeTime(5000);  // the loop's waits follow the packets, not the clock
  }
  void TearDown() override {
    if (run != nullptr) {
      End();
      EXPECT_TRUE(run->DeviceReleased());
    }
    run.reset();
    emu_test::UnfreezeTime();
  }

  // Opens the device as a start does and starts a run on it, stepped until its pins run.
  void Start() {
    CKx7Device opened;
    ASSERT_TRUE(opened.FindFilters());
    ASSERT_TRUE(opened.CreatePins(48000.0));
    run = std::make_shared<CRunningStream>(&owner, owner.host, 48000.0, opened);
    EXPECT_FALSE(opened.HasPins()) << "the run took the pins over";
    ASSERT_TRUE(CRunningStream::StartThread(run));
    ASSERT_TRUE(WaitFor([&] {
      return device.PinState(vkx7::Direction::Render) == KSSTATE_RUN &&
             device.PinState(vkx7::Direction::Capture) == KSSTATE_RUN;
    }));
  }

  bool StepPackets(unsigned packets) {
    for (unsigned i = 0; i < packets; ++i) {
      if (!StepFrames(device, vkx7::kPacketFrames, [&] { return run->ThreadId(); })) {
        return false;
      }
    }
    return true;
  }

  // Steps until the owner has had `halves` halves in all.
  bool StepToHalf(unsigned halves) {
    for (unsigned packet = 0; owner.calls.load() < halves; ++packet) {
      if (packet > 4 * halves * kPacketsPerHalf || !StepPackets(1)) return false;
    }
    return true;
  }

  // Ends the run as a stop does, the device running meanwhile; whether it ended in the bound.
  bool End(DWORD milliseconds = 2000) {
    auto ended = std::async(std::launch::async, [&] { return run->EndWithin(milliseconds); });
    while (ended.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
      device.Step(1);
    }
    return ended.get();
  }

  vkx7::VirtualKx7 device{GetParam()};
  TestOwner owner;
  std::shared_ptr<CRunningStream> run;
};

// The halves come one per buffer period of device time, alternating, both inputs holding the
// microphone: a tone that runs on without a break across the halves. The owner's output reaches
// the device.
TEST_P(RunningStreamTest, HalvesComeAtTheBufferPeriodWithTheMicrophonesSamples) {
  constexpr double kHz = 1000.0;
  device.SetMicrophone(vkx7::MicrophoneSource::Tone(kHz, 0.5));
  Start();
  ASSERT_TRUE(StepPackets(4 * kPacketsPerHalf));
  const unsigned before = owner.calls.load();
  ASSERT_GE(before, 2u);
  ASSERT_TRUE(StepPackets(12 * kPacketsPerHalf));
  EXPECT_EQ(owner.calls.load() - before, 12u) << "one half per buffer period";
  EXPECT_EQ(run->Cycles(), owner.calls.load());
  EXPECT_EQ(owner.dropOuts.load(), 0u);

  std::lock_guard<std::mutex> guard(owner.lock);
  for (size_t k = 1; k < owner.indices.size(); ++k) {
    ASSERT_EQ(owner.indices[k], owner.indices[k - 1] ^ 1u) << "half " << k;
  }
  EXPECT_TRUE(owner.inputsAgree) << "the second input repeats the microphone";
  // Past the first halves, every three samples of a sine lie on its recurrence: a frame
  // missing, repeated or out of place anywhere breaks it.
  const std::vector<float>& x = owner.captured;
  const double twoCos = 2.0 * std::cos(2.0 * kPi * kHz / 48000.0);
  float peak = 0.0f;
  for (size_t n = before * kBufferSize + 1; n + 1 < x.size(); ++n) {
    ASSERT_NEAR(x[n + 1] + x[n - 1], twoCos * x[n], 1e-4) << "frame " << n;
    peak = std::max(peak, std::fabs(x[n]));
  }
  EXPECT_NEAR(peak, 0.5f, 0.01f);

  // The latest packet played is the owner's output, at full gain past the fade-in.
  const std::vector<BYTE> played = device.RenderedBytes();
  ASSERT_GE(played.size(), kx7::kRenderPacketBytes);
  const BYTE* last = played.data() + played.size() - kx7::kRenderPacketBytes;
  const SampleConverter converter;
  const float sent[2] = {kLeftOut, kRightOut};
  for (int c = 0; c < 2; ++c) {
    int32_t expected = converter.RenderFloatToInt32(sent[c]);
    converter.Int32ToInt24PackedInPlace(&expected, 1);
    EXPECT_EQ(std::memcmp(last + 3 * c, &expected, 3), 0) << "channel " << c;
  }
}

// Capture packets keep their places: a run whose first packet is lost writes its first half
// from the middle without a drop-out; a packet one packet late is still in time; a lost one
// costs its half one drop-out, and the offset between capture and render stays.
TEST_P(RunningStreamTest, CapturePacketsKeepTheirPlacesWhenLateOrLost) {
  // The capture-to-render offset at 128 frames: the input half's age and the output latency.
  constexpr uint32_t kOffset = 128 + 128 + 192;
  device.SetMicrophone(vkx7::MicrophoneSource::Tone(1000.0, 0.5));
  device.WithholdCapturePackets(1);
  Start();
  ASSERT_TRUE(StepToHalf(6));
  EXPECT_EQ(owner.dropOuts.load(), 0u);
  EXPECT_EQ(owner.latency.load(), kOffset) << "the packet kept its place";
  {
    std::lock_guard<std::mutex> guard(owner.lock);
    const std::vector<float>& first = owner.captured;
    for (uint32_t f = 0; f < vkx7::kPacketFrames; ++f) ASSERT_EQ(first[f], 0.0f) << f;
    bool heard = false;
    for (uint32_t f = vkx7::kPacketFrames; f < kBufferSize; ++f) heard = heard || first[f] != 0;
    EXPECT_TRUE(heard);
  }

  device.DelayCapturePackets(1, 1);
  ASSERT_TRUE(StepToHalf(12));
  EXPECT_EQ(owner.dropOuts.load(), 0u);
  device.WithholdCapturePackets(1);
  ASSERT_TRUE(StepToHalf(22));
  EXPECT_EQ(owner.dropOuts.load(), 1u);
  EXPECT_EQ(owner.latency.load(), kOffset);
}

// A rate asked for by the host: the pins restart at it, the owner is told, and the halves go
// on; a rate the pins refuse leaves them, and the owner, at the old one.
TEST_P(RunningStreamTest, ARateTakenIsHandedToTheOwnerAndARefusedOneIsNot) {
  Start();
  ASSERT_TRUE(StepToHalf(4));
  const auto changeTo = [&](double rate) {
    auto changed = std::async(std::launch::async, [&] {
      bool restarted = false;
      const ASIOError result = run->ChangeRate(rate, 2000, &restarted);
      EXPECT_EQ(restarted, result == ASE_OK);
      return result;
    });
    while (changed.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
      device.Step(1);
    }
    return changed.get();
  };
  EXPECT_EQ(changeTo(96000.0), ASE_OK);
  EXPECT_EQ(owner.takenRate.load(), 96000.0);
  owner.takenRate.store(0.0);
  EXPECT_EQ(changeTo(12345.0), ASE_NoClock);
  EXPECT_EQ(owner.takenRate.load(), 0.0) << "a refused rate is not the owner's";
  const unsigned before = owner.calls.load();
  ASSERT_TRUE(StepToHalf(before + 4)) << "the halves go on at the rate taken";
}

// A callback that always takes longer than its period keeps halves due: the host's rate is still
// taken between them, not left to wait out its bound while the loop catches up.
TEST_P(RunningStreamTest, ARateIsTakenWhileTheCallbackIsSlowerThanItsPeriod) {
  Start();
  ASSERT_TRUE(StepToHalf(4));
  std::atomic<bool> slow{true};
  owner.insideCallback = [&] {
    // Device time passes while the host works: one and a half periods.
    if (slow.load()) AdvanceClock(device, 3 * kBufferSize / 2);
  };
  const unsigned before = owner.calls.load();
  // Once a callback has come the loop keeps itself busy: each callback makes the next half due.
  ASSERT_TRUE(WaitFor([&] {
    device.Step(1);
    return owner.calls.load() > before + 8;
  }));
  bool restarted = false;
  EXPECT_EQ(run->ChangeRate(96000.0, 2000, &restarted), ASE_OK);
  EXPECT_TRUE(restarted);
  EXPECT_EQ(owner.takenRate.load(), 96000.0);
  slow.store(false);
}

// A rate asked for while the callback runs, and a stop asked before the loop takes it (a host
// that stops from inside its callback): the request is answered at once, not after its bound,
// and nothing was restarted; the next start makes the pins at the rate.
TEST_P(RunningStreamTest, ARateAskedForWhenTheRunIsStoppingIsAnsweredAtOnce) {
  owner.blockAt = 3;
  Start();
  ASSERT_TRUE(StepPackets(3 * kPacketsPerHalf));
  ASSERT_TRUE(WaitFor([&] { return owner.blocked.load(); }));
  bool restarted = true;
  auto changed =
      std::async(std::launch::async, [&] { return run->ChangeRate(96000.0, 2000, &restarted); });
  EXPECT_EQ(changed.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout)
      << "the request waits for the thread";
  const auto t0 = std::chrono::steady_clock::now();
  run->RequestStop();
  EXPECT_EQ(changed.get(), ASE_OK);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));
  EXPECT_FALSE(restarted);
  EXPECT_EQ(owner.takenRate.load(), 0.0);
  SetEvent(owner.release);
  EXPECT_TRUE(End());
}

// An owner whose callback does not return: the run's end keeps its bound and lets the thread
// go with the device; once released the thread touches the owner no more, then lets the device
// go and ends.
TEST_P(RunningStreamTest, ABlockedCallbackIsLetGoWithinTheBoundAndTheThreadEndsOnceReleased) {
  owner.blockAt = 3;
  Start();
  ASSERT_TRUE(StepPackets(3 * kPacketsPerHalf));
  ASSERT_TRUE(WaitFor([&] { return owner.blocked.load(); }));

  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(run->EndWithin(200));
  const auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(waited, std::chrono::milliseconds(2000)) << "the end waits at most about its bound";
  EXPECT_FALSE(run->Ended());
  EXPECT_FALSE(run->DeviceReleased()) << "the thread still holds the pins";

  SetEvent(owner.release);
  ASSERT_TRUE(WaitFor([&] {
    device.Step(1);
    return run->Ended();
  }));
  EXPECT_TRUE(run->DeviceReleased());
  EXPECT_EQ(owner.calls.load(), 3u) << "no call to the owner after it let the thread go";
  EXPECT_EQ(owner.host->HalfIndex(), 0u) << "the half let go in is not turned over";
  EXPECT_TRUE(owner.Errors().empty());
}

// A device unplugged under the run: the owner is told why, and the halves go on at the buffer
// period on the system clock, with silence in.
TEST_P(RunningStreamTest, AnUnpluggedDeviceIsReportedAndTheHalvesGoOnInSilence) {
  device.SetMicrophone(vkx7::MicrophoneSource::Tone(1000.0, 0.5));
  vkx7::ApplyScenario(device, vkx7::Kx7Scenario::Unplug,
                      vkx7::LifeTiming::AfterFrames(8 * vkx7::kPacketFrames));
  Start();
  ASSERT_TRUE(StepPackets(12));
  ASSERT_TRUE(WaitFor([&] { return run->DeviceLost(); }));
  ASSERT_TRUE(WaitFor([&] { return !owner.Errors().empty(); }));
  EXPECT_EQ(owner.Errors().front(), "NORVA KX-7 was disconnected.");
  // The silence clock follows the system clock, held still until now.
  emu_test::UnfreezeTime();
  const unsigned lostAt = owner.calls.load();
  ASSERT_TRUE(WaitFor([&] { return owner.calls.load() >= lostAt + 8; }));
  EXPECT_TRUE(End());
  std::lock_guard<std::mutex> guard(owner.lock);
  for (size_t n = (lostAt + 1) * kBufferSize; n < owner.captured.size(); ++n) {
    ASSERT_EQ(owner.captured[n], 0.0f) << "frame " << n;
  }
}

// A pin that hands every read back at once and empty, as a stack can after removal: the thread
// sends at most one ring of reads per buffer period instead of spinning, and its end keeps its
// bound.
TEST_P(RunningStreamTest, ReadsThatComeBackAtOnceEmptyCannotMakeTheThreadSpin) {
  vkx7::ApplyScenario(device, vkx7::Kx7Scenario::EmptyReads,
                      vkx7::LifeTiming::AfterFrames(8 * vkx7::kPacketFrames));
  Start();
  ASSERT_TRUE(StepPackets(8 * kPacketsPerHalf));
  const unsigned before = owner.calls.load();
  emu_test::CountPlatformCalls(run->ThreadId());
  ASSERT_TRUE(StepPackets(40 * kPacketsPerHalf));
  const uint64_t calls = emu_test::CountedPlatformCalls(emu_test::PlatformCall::DeviceIoControl);
  emu_test::CountPlatformCalls(0);
  const uint64_t periods = owner.calls.load() - before;
  ASSERT_GE(periods, 1u);
  // Each period: its two render packets, and at most one ring of reads.
  const uint64_t ring = kx7::StreamPacketsFor(kBufferSize) + kx7::kSpareStreamPackets;
  EXPECT_LE(calls, periods * (2 + ring) + ring + 2);
  EXPECT_TRUE(End());
}

std::string LayoutName(const ::testing::TestParamInfo<vkx7::Kx7Layout>& param) {
  return param.param == vkx7::Kx7Layout::TwoFilter ? "TwoFilter" : "UsbAudio";
}

INSTANTIATE_TEST_SUITE_P(Layouts, RunningStreamTest,
                         ::testing::Values(vkx7::Kx7Layout::UsbAudio, vkx7::Kx7Layout::TwoFilter),
                         LayoutName);

}  // namespace
}  // namespace kx7test

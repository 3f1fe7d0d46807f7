// Hosts whose callback takes most of its period, on the stepped clock: the callback moves the
// device clock on by its share of the period, so the device plays and captures meanwhile as it
// would while a real host computes. At 90 % nothing may be lost, whatever the completion timing.
#include <chrono>
#include <cmath>
#include <future>
#include <string>

#include "driver/StreamingFixture.h"

namespace kx7test {
namespace {

// Stream time per run. The sanitizers step the clock many times slower: there the same runs are
// shorter.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr double kStreamSeconds = 3.0;
#else
constexpr double kStreamSeconds = 30.0;
#endif

struct LoadFigures {
  uint64_t underruns = 0;
  uint64_t framesLost = 0;
  uint32_t dropOuts = 0;
  size_t switches = 0;
};

class LoadTest : public StreamingTest {
 protected:
  LoadFigures Stream(const char* profile, double rate, int32_t bufferSize, double seconds,
                     double load) {
    vkx7::TimingProfile timing;
    EXPECT_TRUE(vkx7::TimingProfile::Parse(profile, &timing)) << profile;
    device.SetTimingProfile(timing);
    host.switches.clear();
    Prepare(bufferSize);
    EXPECT_EQ(driver->setSampleRate(rate), ASE_OK);
    LoadFigures figures;
    if (Start() != ASE_OK) {
      ADD_FAILURE() << "start failed";
      return figures;
    }
    const uint64_t underruns = device.RenderUnderruns();
    const uint64_t lost = device.CaptureFramesLost();
    const uint32_t dropOuts = Internals(*driver).dropOutCount.load();
    const auto busy = static_cast<uint64_t>(std::llround(load * bufferSize));
    host.insideCallback = [&] { AdvanceClock(device, busy); };
    // Stream time is device time, the callback's share of it included.
    const uint64_t end = device.FramesElapsed() + static_cast<uint64_t>(seconds * rate);
    EXPECT_TRUE(
        StepUntil(device, end, [this] { return Internals(*driver).streamThreadId.load(); }));
    host.insideCallback = nullptr;
    figures.underruns = device.RenderUnderruns() - underruns;
    figures.framesLost = device.CaptureFramesLost() - lost;
    figures.dropOuts = Internals(*driver).dropOutCount.load() - dropOuts;
    auto stopped = std::async(std::launch::async, [this] { return driver->stop(); });
    while (stopped.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
      device.Step(1);
    }
    EXPECT_EQ(stopped.get(), ASE_OK);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    figures.switches = host.switches.size();
    return figures;
  }

  // A stretch of stream at 90 % load: nothing lost, no drop-out, every switch made.
  void ExpectNothingLost(const char* profile, double rate, int32_t bufferSize) {
    SCOPED_TRACE(std::string(profile) + " at " + std::to_string(rate) + " Hz, " +
                 std::to_string(bufferSize) + " frames");
    const LoadFigures figures = Stream(profile, rate, bufferSize, kStreamSeconds, 0.9);
    EXPECT_EQ(figures.underruns, 0u);
    EXPECT_EQ(figures.framesLost, 0u);
    EXPECT_EQ(figures.dropOuts, 0u);
    EXPECT_GE(figures.switches, static_cast<size_t>((kStreamSeconds - 1) * rate / bufferSize));
  }
};

// The smallest buffer, where the margin is most of the host's time, at every rate and profile.
TEST_P(LoadTest, NinetyPercentLoadAtTheSmallestBufferInEveryProfile) {
  for (const char* profile : {"ideal", "usb-1ms", "urb-2ms"}) {
    for (double rate : {44100.0, 48000.0, 96000.0}) ExpectNothingLost(profile, rate, 64);
  }
}

// Every larger buffer at every rate, in the profile whose completions come latest.
TEST_P(LoadTest, NinetyPercentLoadAtEveryBufferSizeWithTwoMillisecondTransfers) {
  for (double rate : {44100.0, 48000.0, 96000.0}) {
    for (int32_t bufferSize = 128; bufferSize <= 2048; bufferSize *= 2) {
      ExpectNothingLost("urb-2ms", rate, bufferSize);
    }
  }
}

// Every larger buffer at every rate in the other two profiles.
TEST_P(LoadTest, NinetyPercentLoadAtEveryBufferSizeWithPromptCompletions) {
  for (const char* profile : {"ideal", "usb-1ms"}) {
    for (double rate : {44100.0, 48000.0, 96000.0}) {
      for (int32_t bufferSize = 128; bufferSize <= 2048; bufferSize *= 2) {
        ExpectNothingLost(profile, rate, bufferSize);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layout, LoadTest, ::testing::Values(vkx7::Kx7Layout::UsbAudio),
                         kx7test::LayoutName);

}  // namespace
}  // namespace kx7test

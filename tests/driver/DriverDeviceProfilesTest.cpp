// The streaming driver against the virtual KX-7's timing profiles: completions at USB frame
// ends, in URB bursts and with jitter. Capture loses nothing, and the only drop-out allowed is in
// the first half.
#include <chrono>
#include <future>
#include <string>

#include "driver/StreamingFixture.h"

namespace kx7test {
namespace {

// What one stretch of streaming came to.
struct Figures {
  uint32_t dropOutsAfterFirstHalf = 0;
  uint64_t framesLost = 0;
  uint64_t underruns = 0;
  size_t switches = 0;
  uint32_t latency = 0;
};

class DeviceProfileTest : public StreamingTest {
 protected:
  // Prepares, starts at `rate` under `profile`, streams `seconds` of device time and stops.
  Figures Stream(const char* profile, double rate, int32_t bufferSize, double seconds) {
    vkx7::TimingProfile timing;
    EXPECT_TRUE(vkx7::TimingProfile::Parse(profile, &timing)) << profile;
    device.SetTimingProfile(timing);
    host.switches.clear();
    uint32_t dropOutsAtFirst = 0;
    host.insideCallback = [&] {
      if (host.switches.size() == 1) dropOutsAtFirst = Internals(*driver).dropOutCount.load();
    };
    Prepare(bufferSize);
    EXPECT_EQ(driver->setSampleRate(rate), ASE_OK);
    Figures figures;
    if (Start() != ASE_OK) {
      ADD_FAILURE() << "start failed";
      return figures;
    }
    // Counted from the end of the start, like the drop-outs: before capture is aligned, where
    // the device's completion grid falls against the start decides whether a packet is lost.
    const uint64_t lost = device.CaptureFramesLost();
    const uint64_t underruns = device.RenderUnderruns();
    EXPECT_TRUE(StepFrames(device, static_cast<uint64_t>(seconds * rate),
                           [this] { return Internals(*driver).streamThreadId.load(); }));
    figures.dropOutsAfterFirstHalf = Internals(*driver).dropOutCount.load() - dropOutsAtFirst;
    figures.latency = Internals(*driver).latencyCount.load();
    // Counted before the stop: the device keeps stepping while the thread lets its pins go, and
    // what it loses then is no part of the stream.
    figures.framesLost = device.CaptureFramesLost() - lost;
    figures.underruns = device.RenderUnderruns() - underruns;
    // The device keeps running while stop waits, so the thread sees the request at once.
    auto stopped = std::async(std::launch::async, [this] { return driver->stop(); });
    while (stopped.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
      device.Step(1);
    }
    EXPECT_EQ(stopped.get(), ASE_OK);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    host.insideCallback = nullptr;
    figures.switches = host.switches.size();
    return figures;
  }
};

TEST_P(DeviceProfileTest, NoCaptureIsLostAndNoHalfDropsOut) {
  struct Case {
    const char* profile;
    double rate;
  };
  const Case cases[] = {{"ideal", 48000},   {"usb-1ms", 44100}, {"usb-1ms", 48000},
                        {"usb-1ms", 96000}, {"urb-2ms", 44100}, {"urb-2ms", 48000},
                        {"jitter", 44100},  {"jitter", 96000}};
  for (const Case& c : cases) {
    for (int32_t bufferSize : {64, 512}) {
      SCOPED_TRACE(std::string(c.profile) + " at " + std::to_string(c.rate) + " Hz, " +
                   std::to_string(bufferSize) + " frames");
      const Figures figures = Stream(c.profile, c.rate, bufferSize, 0.25);
      EXPECT_EQ(figures.dropOutsAfterFirstHalf, 0u);
      EXPECT_EQ(figures.framesLost, 0u);
      EXPECT_EQ(figures.underruns, 0u);
      EXPECT_GE(figures.switches, static_cast<size_t>(0.24 * c.rate / bufferSize));
    }
  }
}

TEST_P(DeviceProfileTest, CompletionsAtUsbFrameEndsCostNoLatency) {
  // Capture that comes half a USB frame after render still fills its half: the driver waits for
  // it rather than counting a drop-out.
  for (const char* profile : {"usb-1ms", "urb-2ms", "ideal"}) {
    const Figures figures = Stream(profile, 48000, 128, 0.1);
    EXPECT_EQ(figures.latency, 128u + 128u + 192u) << profile;
    EXPECT_EQ(figures.dropOutsAfterFirstHalf, 0u) << profile;
  }
}

TEST_P(DeviceProfileTest, BurstsOfEightMillisecondsFindReadsAndWritesQueued) {
  // 8 ms at 48000 Hz are six packets per burst; the rings' spare packets hold them.
  const Figures figures = Stream("urb-8ms", 48000, 128, 0.5);
  EXPECT_EQ(figures.framesLost, 0u);
  EXPECT_EQ(figures.underruns, 0u);
  EXPECT_GE(figures.switches, static_cast<size_t>(0.45 * 48000 / 128));
}

INSTANTIATE_TEST_SUITE_P(Layouts, DeviceProfileTest, KX7_STREAMING_LAYOUTS);

}  // namespace
}  // namespace kx7test

// The driver's timing on the stepped clock of the virtual KX-7: the round trip that kx7-host's
// latency measurement finds is what getLatencies reports, a lost or late capture packet leaves
// input and output aligned, and a host whose callback takes 90 % of its period loses nothing.
#include <atomic>
#include <cmath>
#include <string>

#include "driver/StreamingFixture.h"
#include "host/stream/LatencyMeasure.h"
#include "product/Kx7Facts.h"

namespace kx7test {
namespace {

constexpr uint32_t kLoopbackFrames = 40;
constexpr int32_t kClick = 1 << 29;

class TimingTest : public StreamingTest {
 protected:
  void SetUp() override {
    StreamingTest::SetUp();
    device.SetMicrophone(vkx7::MicrophoneSource::Loopback(kLoopbackFrames));
  }

  // Streams with a click train on output L and returns the round trips found, minus the
  // loopback; `during` runs once the stream has started.
  kx7host::LatencyMeasurement RoundTrip(double rate, int32_t bufferSize,
                                        const std::function<void()>& during = nullptr) {
    const kx7host::ClickPlan plan = kx7host::PlanClicks(bufferSize, rate, 4, kClick);
    host.output = [plan, bufferSize](int k, int c, int f) {
      const uint64_t frame = static_cast<uint64_t>(k) * bufferSize + f;
      const bool click =
          c == 0 && frame >= plan.firstFrame && (frame - plan.firstFrame) % plan.periodFrames == 0;
      return click ? kClick : 0;
    };
    Prepare(bufferSize);
    EXPECT_EQ(driver->setSampleRate(rate), ASE_OK);
    EXPECT_EQ(Start(), ASE_OK);
    if (during) during();
    const uint64_t needed = kx7host::FramesNeeded(plan);
    RunCycles(static_cast<unsigned>(needed / bufferSize + 1));
    std::vector<int32_t> input;
    for (const SwitchRecord& record : host.switches) {
      input.insert(input.end(), record.inputs[0].begin(), record.inputs[0].end());
    }
    kx7host::LatencyMeasurement measured = kx7host::MeasureClicks(input, input.size(), plan);
    measured.minFrames -= kLoopbackFrames;
    measured.maxFrames -= kLoopbackFrames;
    EXPECT_EQ(measured.clicksFound, plan.clicks);
    return measured;
  }

  int32_t ReportedRoundTrip() {
    int32_t input = 0, output = 0;
    EXPECT_EQ(driver->getLatencies(&input, &output), ASE_OK);
    return input + output;
  }
};

TEST_P(TimingTest, TheMeasuredRoundTripIsTheReportedInputAndOutputLatency) {
  struct Case {
    double rate;
    int32_t bufferSize;
  };
  const Case cases[] = {{48000, 64},   {48000, 128},  {48000, 256}, {48000, 512},
                        {48000, 1024}, {48000, 2048}, {44100, 256}, {96000, 256}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bufferSize) + " frames at " + std::to_string(c.rate) + " Hz");
    host.switches.clear();
    const kx7host::LatencyMeasurement measured = RoundTrip(c.rate, c.bufferSize);
    EXPECT_EQ(measured.minFrames, ReportedRoundTrip());
    EXPECT_EQ(measured.maxFrames, ReportedRoundTrip());
    EXPECT_EQ(ReportedRoundTrip(), 2 * c.bufferSize + 192);
    EXPECT_EQ(Internals(*driver).latencyCount.load(), static_cast<uint32_t>(ReportedRoundTrip()));
    EXPECT_EQ(Internals(*driver).dropOutCount.load(), 0u);
    EXPECT_EQ(driver->stop(), ASE_OK);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
  }
}

TEST_P(TimingTest, LostAndLateCapturePacketsLeaveTheRoundTripAsItWas) {
  // Capture packets that never come, and one that comes after its half has gone.
  const auto faults = [this] {
    RunCycles(12);
    device.WithholdCapturePackets(2);
    RunCycles(30);
    device.DelayCapturePackets(1, 8);
    RunCycles(50);
    device.WithholdCapturePackets(1);
  };
  const kx7host::LatencyMeasurement measured = RoundTrip(48000, 128, faults);
  EXPECT_EQ(measured.minFrames, ReportedRoundTrip());
  EXPECT_EQ(measured.maxFrames, ReportedRoundTrip());
  // The late packet holds back the packets behind it, which are served in order.
  EXPECT_GE(Internals(*driver).dropOutCount.load(), 3u);
  EXPECT_EQ(Internals(*driver).latencyCount.load(), static_cast<uint32_t>(ReportedRoundTrip()));
  uint32_t lost = 0;
  DeviceEventRecord records[DeviceEventLog::kCapacity];
  uint32_t after = 0;
  const uint32_t count =
      Internals(*driver).deviceEvents.Read(0, records, DeviceEventLog::kCapacity, &after);
  for (uint32_t i = 0; i < count; ++i) lost += records[i].event == DeviceEvent::kCaptureLost;
  EXPECT_GE(lost, 3u);
}

// A device that hands its requests back in bursts of 8 ms (six packets at 48 kHz): the spare
// packets of the rings keep reads and writes at the device meanwhile, so no capture is lost.
TEST_P(TimingTest, BurstsOfEightMillisecondsLoseNoCapture) {
  vkx7::TimingProfile profile;
  ASSERT_TRUE(vkx7::TimingProfile::Parse("urb-8ms", &profile));
  device.SetTimingProfile(profile);
  for (int32_t bufferSize : {64, 256, 1024}) {
    SCOPED_TRACE(std::to_string(bufferSize) + " frames");
    host.switches.clear();
    const uint64_t lostBefore = device.CaptureFramesLost();
    const uint64_t underrunsBefore = device.RenderUnderruns();
    const kx7host::LatencyMeasurement measured = RoundTrip(48000, bufferSize);
    EXPECT_EQ(device.CaptureFramesLost(), lostBefore);
    EXPECT_EQ(Internals(*driver).dropOutCount.load(), 0u);
    // Where the margin is shorter than a burst, the device runs dry once at the start, and all
    // output after it comes one packet late: the queue a burst needs.
    const int64_t late = 64 * static_cast<int64_t>(device.RenderUnderruns() - underrunsBefore);
    EXPECT_EQ(late, bufferSize == 64 ? 64 : 0);
    EXPECT_EQ(measured.minFrames, ReportedRoundTrip() + late);
    EXPECT_EQ(measured.maxFrames, ReportedRoundTrip() + late);
    EXPECT_EQ(driver->stop(), ASE_OK);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
  }
}

// A host whose callback once takes far longer than its period: the device runs dry meanwhile,
// and the output of that time is dropped, so that input and output stay aligned afterwards.
TEST_P(TimingTest, AHostLateOnceLeavesTheRoundTripAsItWas) {
  for (const uint32_t late : {3u, 7u}) {
    SCOPED_TRACE(std::to_string(late) + " periods late");
    host.switches.clear();
    const uint64_t underrunsBefore = device.RenderUnderruns();
    std::atomic<bool> done{false};
    const auto lateOnce = [&] {
      RunCycles(6);
      host.insideCallback = [&] {
        if (!done.exchange(true)) AdvanceClock(device, late * 128);
      };
      RunCycles(2);
    };
    const kx7host::LatencyMeasurement measured = RoundTrip(48000, 128, lateOnce);
    host.insideCallback = nullptr;
    EXPECT_GT(device.RenderUnderruns(), underrunsBefore);
    EXPECT_EQ(measured.minFrames, ReportedRoundTrip());
    EXPECT_EQ(measured.maxFrames, ReportedRoundTrip());
    EXPECT_EQ(driver->stop(), ASE_OK);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
  }
}

INSTANTIATE_TEST_SUITE_P(Layout, TimingTest, ::testing::Values(vkx7::Kx7Layout::UsbAudio),
                         kx7test::LayoutName);

}  // namespace
}  // namespace kx7test

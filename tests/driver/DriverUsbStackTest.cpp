// The streaming driver against behaviours of the real USB audio stack: reads refused while their
// time stamps are still set, empty first reads, property requests that pend, pins that cannot
// run or are held elsewhere, the UAC 2.0 driver, and what getErrorMessage says after each failed
// start.
#include <chrono>
#include <future>

#include "driver/StreamingFixture.h"
#include "virtual_device/Kx7Scenarios.h"

namespace kx7test {
namespace {

std::string ErrorText(CAsioDriver& driver) {
  char text[128] = {};
  driver.getErrorMessage(text);
  return text;
}

TEST_P(StreamingTest, ReadsGoBackWithCleanHeadersSoAStrictDriverFillsThem) {
  device.SetStrictHeaders(true);
  device.SetMicrophone(vkx7::MicrophoneSource::Tone(1000.0, 0.5));
  Prepare(128);
  ASSERT_EQ(Start(), ASE_OK);
  RunCycles(12);
  EXPECT_EQ(Internals(*driver).dropOutCount.load(), 0u);
  EXPECT_EQ(device.CaptureFramesLost(), 0u);
  bool heard = false;
  for (int32_t sample : host.switches.back().inputs[0]) heard = heard || sample != 0;
  EXPECT_TRUE(heard) << "every read was filled, not handed back empty";
}

TEST_P(StreamingTest, EmptyFirstReadsAreNotTakenForCaptureThatArrived) {
  device.CompleteReadsEmpty(4);
  Prepare(128);
  ASSERT_EQ(Start(), ASE_OK);
  RunCycles(10);
  EXPECT_EQ(Internals(*driver).dropOutCount.load(), 0u);
  // The frames before the first data are silence, not lost, and move nothing.
  EXPECT_EQ(Internals(*driver).latencyCount.load(), 128u + 128u + 192u);
}

TEST_P(StreamingTest, PropertyRequestsThatPendAreAnsweredAsIfTheyHadNot) {
  device.SetPendingProperties(true);
  Prepare(128);
  ASSERT_EQ(Start(), ASE_OK);
  RunCycles(6);
  EXPECT_EQ(Internals(*driver).dropOutCount.load(), 0u);
  EXPECT_EQ(Internals(*driver).latencyCount.load(), 128u + 128u + 192u);
  EXPECT_EQ(driver->stop(), ASE_OK);
  device.SetPendingProperties(false);
}

TEST_P(StreamingTest, APinThatCannotRunEndsStartAtOnce) {
  // The clock stands still: a start that waited for its handshake time-out would never return.
  for (vkx7::Direction refused : {vkx7::Direction::Render, vkx7::Direction::Capture}) {
    device.RefuseBandwidth(refused, true);
    Prepare(64);
    auto started = std::async(std::launch::async, [this] { return driver->start(); });
    ASSERT_EQ(started.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(started.get(), ASE_HWMalfunction);
    EXPECT_EQ(ErrorText(*driver),
              "NORVA KX-7 could not start streaming: no USB bandwidth for it, or the device "
              "failed.");
    EXPECT_FALSE(Internals(*driver).HasStream());
    EXPECT_TRUE(host.switches.empty());
    EXPECT_EQ(driver->stop(), ASE_OK);
    EXPECT_EQ(device.PinState(refused), -1) << "pins closed by stop";
    device.RefuseBandwidth(refused, false);
  }
  EXPECT_EQ(Start(), ASE_OK) << "and with bandwidth it starts";
}

TEST_P(StreamingTest, AFailedStartSaysWhyAndNeverAsioOk) {
  EXPECT_EQ(driver->start(), ASE_NotPresent) << "no buffers yet";
  EXPECT_NE(ErrorText(*driver), "ASIO OK");

  device.HoldPin(vkx7::Direction::Render, true);
  Prepare(128);
  EXPECT_EQ(ErrorText(*driver), "ASIO OK") << "init does not create pins";
  EXPECT_EQ(driver->start(), ASE_NotPresent);
  EXPECT_EQ(ErrorText(*driver), "NORVA KX-7 is in use by another application.");
  device.HoldPin(vkx7::Direction::Render, false);

  device.SetPossibleInstances(vkx7::Kx7StreamingPin(GetParam(), vkx7::Direction::Capture).filter,
                              vkx7::Kx7StreamingPin(GetParam(), vkx7::Direction::Capture).pinId, 0);
  EXPECT_EQ(driver->start(), ASE_NotPresent);
  EXPECT_EQ(ErrorText(*driver), "NORVA KX-7 is in use by another application.");

  device.Unplug();
  EXPECT_EQ(driver->start(), ASE_NotPresent);
  EXPECT_EQ(ErrorText(*driver), "NORVA KX-7 hardware not found.");
}

// Another application takes the pins for 2 s of device time after the first stop: a start
// meanwhile says so, and one after they are free streams again.
TEST_P(StreamingTest, PinsTakenBetweenRunsRefuseTheStartOnlyWhileTheyAreHeld) {
  vkx7::ApplyScenario(device, vkx7::Kx7Scenario::TakenBetweenRuns);
  Prepare(128);
  ASSERT_EQ(Start(), ASE_OK);
  RunCycles(4);
  ASSERT_EQ(driver->stop(), ASE_OK);
  const unsigned heldPackets =
      static_cast<unsigned>(vkx7::kTakenSeconds * 48000 / vkx7::kPacketFrames);
  EXPECT_EQ(driver->start(), ASE_NotPresent);
  EXPECT_EQ(ErrorText(*driver), "NORVA KX-7 is in use by another application.");
  EXPECT_FALSE(Internals(*driver).HasStream());
  device.Step(heldPackets - 1);
  EXPECT_EQ(driver->start(), ASE_NotPresent) << "a packet before the pins are free";
  EXPECT_EQ(ErrorText(*driver), "NORVA KX-7 is in use by another application.");
  device.Step(1);
  host.switches.clear();
  ASSERT_EQ(Start(), ASE_OK);
  EXPECT_EQ(ErrorText(*driver), "ASIO OK");
  RunCycles(6);
  EXPECT_EQ(Internals(*driver).dropOutCount.load(), 0u);
  EXPECT_EQ(driver->stop(), ASE_OK);
}

TEST_F(DriverTest, AKx7OnTheUsbAudio2DriverIsNamedAsSuch) {
  vkx7::VirtualKx7 device(vkx7::Kx7Layout::UsbAudio2);
  device.Plug();
  DriverHandle driver;
  EXPECT_EQ(driver->init(nullptr), ASIOFalse);
  HostRecorder host;
  ASIOBufferInfo info{ASIOFalse, 0, {nullptr, nullptr}};
  ASSERT_EQ(driver->createBuffers(&info, 1, 128, &host.callbacks), ASE_OK);
  EXPECT_EQ(driver->start(), ASE_NotPresent);
  EXPECT_EQ(ErrorText(*driver),
            "NORVA KX-7 runs on the USB Audio 2.0 driver, which this driver cannot stream "
            "through.");
}

}  // namespace
}  // namespace kx7test

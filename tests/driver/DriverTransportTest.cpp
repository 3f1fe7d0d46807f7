// Start, stop and the sample position without a device.
#include "driver/DriverFixture.h"

namespace kx7test {
namespace {

using DriverTransportTest = DriverTest;

TEST_F(DriverTransportTest, StartNeedsBuffersAndADevice) {
  DriverHandle driver;
  EXPECT_EQ(driver->start(), ASE_NotPresent);
  HostRecorder host;
  ASIOBufferInfo info{ASIOFalse, 0, {nullptr, nullptr}};
  ASSERT_EQ(driver->createBuffers(&info, 1, 128, &host.callbacks), ASE_OK);
  EXPECT_EQ(driver->start(), ASE_NotPresent);
  char error[124];
  driver->getErrorMessage(error);
  EXPECT_STREQ(error, "NORVA KX-7 hardware not found.");
  EXPECT_EQ(driver->stop(), ASE_OK);
  EXPECT_EQ(driver->stop(), ASE_OK);
}

TEST_F(DriverTransportTest, SamplePositionSplitsIntoHighAndLowWords) {
  DriverHandle driver;
  HostRecorder host;
  ASIOBufferInfo info{ASIOFalse, 0, {nullptr, nullptr}};
  ASSERT_EQ(driver->createBuffers(&info, 1, 128, &host.callbacks), ASE_OK);
  CHostBuffers& buffers = *Internals(*driver).HostBuffers();
  ASIOSamples position{};
  ASIOTimeStamp stamp{};
  buffers.Publish(uint64_t{3} << 31, (uint64_t{3} << 32) | 5);  // 1.5 x 2^32
  ASSERT_EQ(driver->getSamplePosition(&position, &stamp), ASE_OK);
  EXPECT_EQ(position.hi, 1u);
  EXPECT_EQ(position.lo, 2147483648u);
  EXPECT_EQ(stamp.hi, 3u);
  EXPECT_EQ(stamp.lo, 5u);
  buffers.Publish(4294967295u, 0);
  driver->getSamplePosition(&position, &stamp);
  EXPECT_EQ(position.hi, 0u);
  EXPECT_EQ(position.lo, 4294967295u);
  buffers.Publish(uint64_t{1} << 32, 0);
  driver->getSamplePosition(&position, &stamp);
  EXPECT_EQ(position.hi, 1u);
  EXPECT_EQ(position.lo, 0u);
}

TEST_F(DriverTransportTest, ReleasingTheLastReferenceAfterBuffersFreesThem) {
  DriverHandle driver;
  HostRecorder host;
  ASIOBufferInfo infos[2] = {{ASIOTrue, 0, {nullptr, nullptr}}, {ASIOFalse, 1, {nullptr, nullptr}}};
  ASSERT_EQ(driver->createBuffers(infos, 2, 256, &host.callbacks), ASE_OK);
  driver.Reset();  // the sanitizer builds report anything left behind
}

// A host that calls back into the driver from the asioMessage query that createBuffers makes
// while it holds the transport lock gets an answer instead of waiting for itself.
TEST_F(DriverTransportTest, ACallBackFromInsideCreateBuffersIsRefusedNotDeadlocked) {
  DriverHandle driver;
  static IASIO* reentered = nullptr;
  static ASIOError answers[4] = {};
  reentered = &*driver;
  ASIOCallbacks callbacks{};
  callbacks.bufferSwitch = [](int32_t, ASIOBool) {};
  callbacks.asioMessage = [](int32_t, int32_t, void*, double*) -> int32_t {
    ASIOBufferInfo info{ASIOFalse, 0, {nullptr, nullptr}};
    answers[0] = reentered->disposeBuffers();
    answers[1] = reentered->createBuffers(&info, 1, 64, nullptr);
    answers[2] = reentered->start();
    answers[3] = reentered->setSampleRate(44100.0);
    return 0;
  };
  ASIOBufferInfo info{ASIOFalse, 0, {nullptr, nullptr}};
  ASSERT_EQ(driver->createBuffers(&info, 1, 128, &callbacks), ASE_OK);
  for (ASIOError answer : answers) EXPECT_EQ(answer, ASE_InvalidMode);
  ASIOChannelInfo made{};
  made.channel = 0;
  made.isInput = ASIOFalse;
  ASSERT_EQ(driver->getChannelInfo(&made), ASE_OK);
  EXPECT_EQ(made.isActive, ASIOTrue) << "the buffers being made stay";
  double rate = 0;
  driver->getSampleRate(&rate);
  EXPECT_EQ(rate, 48000.0);
  EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
}

}  // namespace
}  // namespace kx7test

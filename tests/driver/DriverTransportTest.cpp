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
  ASIOSamples position{};
  ASIOTimeStamp stamp{};
  driver->samplePosition = 6442450944.0;  // 1.5 x 2^32
  driver->systemTime = (uint64_t{3} << 32) | 5;
  ASSERT_EQ(driver->getSamplePosition(&position, &stamp), ASE_OK);
  EXPECT_EQ(position.hi, 1u);
  EXPECT_EQ(position.lo, 2147483648u);
  EXPECT_EQ(stamp.hi, 3u);
  EXPECT_EQ(stamp.lo, 5u);
  driver->samplePosition = 4294967295.0;
  driver->getSamplePosition(&position, &stamp);
  EXPECT_EQ(position.hi, 0u);
  EXPECT_EQ(position.lo, 4294967295u);
  driver->samplePosition = 4294967296.0;
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

}  // namespace
}  // namespace kx7test

// Sample rate and clock source.
#include "driver/DriverFixture.h"

namespace kx7test {
namespace {

using DriverSampleRateTest = DriverTest;

TEST_F(DriverSampleRateTest, AcceptsEveryRateOfTheClosedRange) {
  DriverHandle driver;
  for (double rate : {44100.0, 48000.0, 50000.0, 88200.0, 96000.0}) {
    EXPECT_EQ(driver->canSampleRate(rate), ASE_OK) << rate;
  }
  for (double rate : {32000.0, 44099.9, 96000.1, 192000.0, 0.0, -48000.0}) {
    EXPECT_EQ(driver->canSampleRate(rate), ASE_NoClock) << rate;
  }
}

TEST_F(DriverSampleRateTest, SettingTheCurrentRateChangesNothing) {
  DriverHandle driver;
  HostRecorder host;
  ASIOBufferInfo info{ASIOFalse, 0, {nullptr, nullptr}};
  ASSERT_EQ(driver->createBuffers(&info, 1, 128, &host.callbacks), ASE_OK);
  EXPECT_EQ(driver->setSampleRate(48000.0), ASE_OK);
  EXPECT_EQ(host.sampleRateCalls, 0);
  EXPECT_EQ(Internals(*driver).Time().timeInfo.flags & kSampleRateChanged, 0u);
}

// A host that hears sampleRateDidChange for its own change takes it for the device's clock and
// resets; the change is marked in the next ASIOTime instead.
TEST_F(DriverSampleRateTest, TheHostsOwnNewRateIsMarkedInTimeInfoNotAnnounced) {
  DriverHandle driver;
  HostRecorder host;
  ASIOBufferInfo info{ASIOFalse, 0, {nullptr, nullptr}};
  ASSERT_EQ(driver->createBuffers(&info, 1, 128, &host.callbacks), ASE_OK);
  EXPECT_EQ(driver->setSampleRate(96000.0), ASE_OK);
  EXPECT_EQ(host.sampleRateCalls, 0);
  EXPECT_EQ(host.asioMessageCalls, 1) << "only createBuffers' time-info query, no reset request";
  EXPECT_NE(Internals(*driver).Time().timeInfo.flags & kSampleRateChanged, 0u);
  EXPECT_EQ(Internals(*driver).Time().timeInfo.sampleRate, 96000.0);
  double rate = 0;
  ASSERT_EQ(driver->getSampleRate(&rate), ASE_OK);
  EXPECT_EQ(rate, 96000.0);
}

TEST_F(DriverSampleRateTest, ARefusedRateKeepsTheCurrentOne) {
  DriverHandle driver;
  EXPECT_EQ(driver->setSampleRate(22050.0), ASE_NoClock);
  double rate = 0;
  driver->getSampleRate(&rate);
  EXPECT_EQ(rate, 48000.0);
  // Without buffers there is no host to tell; the rate still changes.
  EXPECT_EQ(driver->setSampleRate(44100.0), ASE_OK);
  driver->getSampleRate(&rate);
  EXPECT_EQ(rate, 44100.0);
}

TEST_F(DriverSampleRateTest, OneInternalClockSource) {
  DriverHandle driver;
  ASIOClockSource clocks[4] = {};
  int32_t count = 4;
  ASSERT_EQ(driver->getClockSources(clocks, &count), ASE_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(clocks[0].index, 0);
  EXPECT_EQ(clocks[0].associatedChannel, -1);
  EXPECT_EQ(clocks[0].associatedGroup, -1);
  EXPECT_EQ(clocks[0].isCurrentSource, ASIOTrue);
  EXPECT_STREQ(clocks[0].name, "Internal");
  EXPECT_EQ(driver->setClockSource(0), ASE_OK) << "without buffers there is no record to mark";
  HostRecorder host;
  ASIOBufferInfo info{ASIOFalse, 0, {nullptr, nullptr}};
  ASSERT_EQ(driver->createBuffers(&info, 1, 128, &host.callbacks), ASE_OK);
  EXPECT_EQ(driver->setClockSource(1), ASE_NotPresent);
  EXPECT_EQ(Internals(*driver).Time().timeInfo.flags & kClockSourceChanged, 0u);
  EXPECT_EQ(driver->setClockSource(0), ASE_OK);
  EXPECT_NE(Internals(*driver).Time().timeInfo.flags & kClockSourceChanged, 0u);
}

}  // namespace
}  // namespace kx7test

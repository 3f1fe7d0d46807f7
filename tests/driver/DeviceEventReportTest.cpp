// The device-event log as a host reads it through the driver's own future() selector: the
// record's layout, reading on from where the last read ended, times from the latest start.
#include "driver/DeviceEventReport.h"

#include <cstring>

#include "driver/DriverFixture.h"

namespace kx7test {
namespace {

kx7::DeviceEventRead ReadFrom(uint32_t first) {
  kx7::DeviceEventRead read;
  std::memset(&read, 0xA5, sizeof read);  // whatever the host's memory held
  read.size = sizeof read;
  read.first = first;
  return read;
}

TEST(DeviceEventReportTest, AHostReadsEverythingInFullRecordsGoingOnFromTheLastNext) {
  DeviceEventLog log;
  CDeviceEventReport report(&log);
  report.MarkStart(10000);
  const uint32_t total = kx7::kDeviceEventsPerRead + 8;
  for (uint32_t i = 0; i < total; ++i) {
    log.Record(i % 2 == 0 ? DeviceEvent::kRenderUnderrun : DeviceEvent::kLost, 10000 + 250 * i);
  }
  kx7::DeviceEventRead read = ReadFrom(0);
  ASSERT_EQ(report.Read(&read), ASE_SUCCESS);
  EXPECT_EQ(read.count, kx7::kDeviceEventsPerRead);
  EXPECT_EQ(read.next, kx7::kDeviceEventsPerRead);
  EXPECT_EQ(read.recorded, total);
  EXPECT_EQ(read.skipped, 0u);
  EXPECT_STREQ(read.events[0].name, "render-underrun");
  EXPECT_EQ(read.events[0].seconds, 0.0);
  EXPECT_STREQ(read.events[1].name, "lost");
  EXPECT_EQ(read.events[1].seconds, 0.25);

  read = ReadFrom(read.next);
  ASSERT_EQ(report.Read(&read), ASE_SUCCESS);
  EXPECT_EQ(read.count, 8u);
  EXPECT_EQ(read.next, total);
  EXPECT_EQ(read.next, read.recorded) << "all read";
  EXPECT_DOUBLE_EQ(read.events[7].seconds, (total - 1) * 0.25);
  // The entries after the last filled one are cleared, not left as the host's bytes.
  EXPECT_EQ(read.events[8].name[0], '\0');
  EXPECT_EQ(read.events[8].seconds, 0.0);

  read = ReadFrom(total);
  ASSERT_EQ(report.Read(&read), ASE_SUCCESS);
  EXPECT_EQ(read.count, 0u);
  EXPECT_EQ(read.next, total);
}

TEST(DeviceEventReportTest, EventsOverwrittenUnreadAreCountedAndAFirstNotYetGivenReadsNothing) {
  DeviceEventLog log;
  CDeviceEventReport report(&log);
  const uint32_t total = DeviceEventLog::kCapacity + 5;
  for (uint32_t i = 0; i < total; ++i) log.Record(DeviceEvent::kLateCallback, i);
  kx7::DeviceEventRead read = ReadFrom(0);
  ASSERT_EQ(report.Read(&read), ASE_SUCCESS);
  EXPECT_EQ(read.skipped, 5u);
  EXPECT_EQ(read.next, 5u + kx7::kDeviceEventsPerRead);
  EXPECT_EQ(read.events[0].seconds, 0.005) << "the oldest still kept";

  read = ReadFrom(total + 100);
  ASSERT_EQ(report.Read(&read), ASE_SUCCESS);
  EXPECT_EQ(read.count, 0u);
  EXPECT_EQ(read.skipped, 0u);
  EXPECT_EQ(read.next, total);
}

TEST(DeviceEventReportTest, SecondsCountFromTheLatestStartAcrossTheClockWrap) {
  DeviceEventLog log;
  CDeviceEventReport report(&log);
  const char* name = nullptr;
  double seconds = -1.0;
  EXPECT_FALSE(report.LatestEvent(&name, &seconds));
  report.MarkStart(0xFFFFF000u);  // 4096 ms before the 32-bit clock wraps
  log.Record(DeviceEvent::kCaptureLost, 0xFFFFEFF6u);
  log.Record(DeviceEvent::kReturned, 904u);
  kx7::DeviceEventRead read = ReadFrom(0);
  ASSERT_EQ(report.Read(&read), ASE_SUCCESS);
  EXPECT_DOUBLE_EQ(read.events[0].seconds, -0.010) << "during the start, before it returned";
  EXPECT_DOUBLE_EQ(read.events[1].seconds, 5.0);
  ASSERT_TRUE(report.LatestEvent(&name, &seconds));
  EXPECT_STREQ(name, "returned");
  EXPECT_DOUBLE_EQ(seconds, 5.0);
}

TEST_F(DriverTest, TheDriversOwnSelectorAnswersWithTheLogAndNothingElseChanges) {
  DriverHandle driver;
  Internals(*driver).deviceEvents.Record(DeviceEvent::kSuspended, 1500);
  kx7::DeviceEventRead read = ReadFrom(0);
  ASSERT_EQ(driver->future(kx7::kReadDeviceEventsSelector, &read), ASE_SUCCESS);
  ASSERT_EQ(read.count, 1u);
  EXPECT_STREQ(read.events[0].name, "suspended");
  // A record of another size or none at all is refused untouched.
  EXPECT_EQ(driver->future(kx7::kReadDeviceEventsSelector, nullptr), ASE_InvalidParameter);
  read = ReadFrom(0);
  read.size = sizeof read - 4;
  EXPECT_EQ(driver->future(kx7::kReadDeviceEventsSelector, &read), ASE_InvalidParameter);
  EXPECT_EQ(read.first, 0u);
  EXPECT_EQ(read.count, 0xA5A5A5A5u);
  // Neighbouring values are no selectors of this driver.
  for (int32_t selector : {kx7::kReadDeviceEventsSelector - 1, kx7::kReadDeviceEventsSelector + 1,
                           0x4B583744, 12, 0}) {
    EXPECT_EQ(driver->future(selector, &read), ASE_NotPresent) << selector;
  }
}

}  // namespace
}  // namespace kx7test

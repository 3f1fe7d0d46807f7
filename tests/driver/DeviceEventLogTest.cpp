#include "driver/DeviceEventLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<DeviceEventRecord> ReadAll(const DeviceEventLog& log, uint32_t first,
                                       uint32_t* after = nullptr) {
  std::vector<DeviceEventRecord> out(DeviceEventLog::kCapacity);
  out.resize(log.Read(first, out.data(), static_cast<uint32_t>(out.size()), after));
  return out;
}

TEST(DeviceEventLogTest, KeepsEventsInOrderAndGoesOnFromWhereAReadEnded) {
  DeviceEventLog log;
  DeviceEventRecord latest{};
  EXPECT_FALSE(log.Latest(&latest));
  log.Record(DeviceEvent::kLost, 100);
  log.Record(DeviceEvent::kReturned, 2100);
  uint32_t after = 0;
  const auto first = ReadAll(log, 0, &after);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].event, DeviceEvent::kLost);
  EXPECT_EQ(first[1].time, 2100u);
  EXPECT_EQ(after, 2u);
  log.Record(DeviceEvent::kRateRestarted, 0xFFFFFFF0u);
  const auto next = ReadAll(log, after);
  ASSERT_EQ(next.size(), 1u);
  EXPECT_EQ(next[0].event, DeviceEvent::kRateRestarted);
  EXPECT_EQ(next[0].time, 0xFFFFFFF0u);
  ASSERT_TRUE(log.Latest(&latest));
  EXPECT_STREQ(DeviceEventName(latest.event), "rate-restarted");
}

TEST(DeviceEventLogTest, AReaderThatFellBehindGetsTheOldestStillKept) {
  DeviceEventLog log;
  const uint32_t total = DeviceEventLog::kCapacity + 10;
  for (uint32_t i = 0; i < total; ++i) log.Record(DeviceEvent::kLateCallback, i);
  uint32_t after = 0;
  const auto kept = ReadAll(log, 0, &after);
  ASSERT_EQ(kept.size(), DeviceEventLog::kCapacity);
  EXPECT_EQ(kept.front().time, 10u);
  EXPECT_EQ(kept.back().time, total - 1);
  EXPECT_EQ(after, total);
}

TEST(DeviceEventLogTest, WritersOnSeveralThreadsLoseNothingAReaderSeesWhole) {
  DeviceEventLog log;
  constexpr uint32_t kEach = 100;
  // A reader going along with the writers gets every event once, none skipped while written.
  std::atomic<bool> writing{true};
  std::vector<DeviceEventRecord> along;
  std::thread reader([&] {
    uint32_t next = 0;
    while (writing.load() || next != log.Count()) {
      const auto got = ReadAll(log, next, &next);
      along.insert(along.end(), got.begin(), got.end());
    }
  });
  std::thread a([&] {
    for (uint32_t i = 0; i < kEach; ++i) log.Record(DeviceEvent::kCaptureLost, i);
  });
  std::thread b([&] {
    for (uint32_t i = 0; i < kEach; ++i) log.Record(DeviceEvent::kRenderUnderrun, 1000 + i);
  });
  a.join();
  b.join();
  writing.store(false);
  reader.join();
  EXPECT_EQ(along.size(), 2 * kEach);
  const auto all = ReadAll(log, 0);
  ASSERT_EQ(all.size(), 2 * kEach);
  for (const DeviceEventRecord& r : all) {
    EXPECT_EQ(r.event == DeviceEvent::kCaptureLost, r.time < 1000) << r.time;
  }
}

}  // namespace

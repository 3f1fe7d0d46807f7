// The host's side of the driver's device-event log: reading it as the driver hands it out, a
// driver that keeps none, and the events in the stream report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "host/session/DeviceEventReader.h"
#include "host/stream/StreamReport.h"
#include "product/DeviceEventRecord.h"
#include "support/StubAsioDriver.h"

namespace kx7host {
namespace {

// Answers future: with the device-event selector from a list of events (kept from `kept` on,
// as a driver whose log overwrote the older ones), or with ASE_NotPresent when it keeps no log.
class EventDriver : public kx7test::StubAsioDriver {
 public:
  ASIOError future(int32_t selector, void* opt) override {
    ++calls;
    if (!keepsLog || selector != kx7::kReadDeviceEventsSelector) return ASE_NotPresent;
    auto* read = static_cast<kx7::DeviceEventRead*>(opt);
    if (read->size != sizeof *read) return ASE_InvalidParameter;
    const uint32_t recorded = static_cast<uint32_t>(events.size());
    uint32_t number = std::max(read->first, kept);
    read->skipped = number - read->first;
    read->count = 0;
    for (; number < recorded && read->count < kx7::kDeviceEventsPerRead; ++number) {
      kx7::DeviceEventEntry& entry = read->events[read->count++];
      entry.seconds = number * 0.5;
      std::snprintf(entry.name, sizeof entry.name, "%s", events[number].c_str());
    }
    read->next = number;
    read->recorded = recorded;
    return ASE_SUCCESS;
  }

  bool keepsLog = true;
  uint32_t kept = 0;
  std::vector<std::string> events;
  int calls = 0;
};

TEST(DeviceEventReader, ReadsEveryEventInFullRecordsAndThenOnlyWhatIsNew) {
  EventDriver driver;
  for (int i = 0; i < 40; ++i) driver.events.push_back(i % 2 == 0 ? "lost" : "returned");
  DeviceEventReader reader;
  ASSERT_TRUE(reader.Poll(&driver));
  ASSERT_EQ(reader.Events().size(), 40u);
  EXPECT_EQ(driver.calls, 2) << "one full record, then the rest";
  EXPECT_EQ(reader.Events()[39].name, "returned");
  EXPECT_EQ(reader.Events()[39].seconds, 19.5);

  driver.events.push_back("late-callback");
  ASSERT_TRUE(reader.Poll(&driver));
  ASSERT_EQ(reader.Events().size(), 41u);
  EXPECT_EQ(reader.Events().back().name, "late-callback");
  EXPECT_EQ(reader.Missed(), 0u);
}

TEST(DeviceEventReader, CountsWhatTheDriverOverwroteBeforeItWasRead) {
  EventDriver driver;
  for (int i = 0; i < 10; ++i) driver.events.push_back("capture-lost");
  driver.kept = 6;
  DeviceEventReader reader;
  ASSERT_TRUE(reader.Poll(&driver));
  EXPECT_EQ(reader.Events().size(), 4u);
  EXPECT_EQ(reader.Missed(), 6u);
  EXPECT_EQ(reader.Events().front().seconds, 3.0);
}

TEST(DeviceEventReader, ADriverWithoutTheLogIsAskedOnceAndAFailureLaterKeepsWhatWasRead) {
  EventDriver other;
  other.keepsLog = false;
  DeviceEventReader reader;
  EXPECT_FALSE(reader.Poll(&other));
  EXPECT_FALSE(reader.Poll(&other));
  EXPECT_EQ(other.calls, 1);
  EXPECT_FALSE(reader.Supported());

  EventDriver driver;
  driver.events = {"suspended"};
  DeviceEventReader kept;
  ASSERT_TRUE(kept.Poll(&driver));
  driver.keepsLog = false;
  EXPECT_TRUE(kept.Poll(&driver));
  EXPECT_TRUE(kept.Supported());
  EXPECT_EQ(kept.Events().size(), 1u);
}

std::string WithoutBlanks(std::string text) {
  text.erase(std::remove_if(text.begin(), text.end(),
                            [](unsigned char c) { return std::isspace(c) != 0; }),
             text.end());
  return text;
}

TEST(DeviceEventReport, JsonAlwaysCarriesTheEventsAndTextNamesThem) {
  StreamReport report;
  report.deviceEventsKept = true;
  std::ostringstream json;
  PrintStreamJson(report, json);
  EXPECT_NE(WithoutBlanks(json.str()).find("\"deviceEvents\":[]"), std::string::npos) << json.str();
  std::ostringstream text;
  PrintStreamText(report, text);
  EXPECT_NE(text.str().find("device events     none\n"), std::string::npos) << text.str();

  report.deviceEvents = {{1.5, "lost"}, {3.5, "returned"}};
  json.str("");
  PrintStreamJson(report, json);
  EXPECT_NE(WithoutBlanks(json.str())
                .find("\"deviceEvents\":[{\"seconds\":1.5,\"event\":\"lost\"},"
                      "{\"seconds\":3.5,\"event\":\"returned\"}]"),
            std::string::npos)
      << json.str();
  text.str("");
  PrintStreamText(report, text);
  EXPECT_NE(text.str().find("device events     2: lost at 1.500 s, returned at 3.500 s\n"),
            std::string::npos)
      << text.str();

  report.deviceEventsKept = false;
  report.deviceEvents.clear();
  json.str("");
  PrintStreamJson(report, json);
  EXPECT_NE(WithoutBlanks(json.str()).find("\"deviceEvents\":[]"), std::string::npos);
}

}  // namespace
}  // namespace kx7host

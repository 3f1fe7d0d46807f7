// The device's events as a host of a running driver reads them: recorded while the stream runs,
// timed from the moment start returned, the times of a later run counted from its own start.
#include <cstring>

#include "driver/StreamingFixture.h"
#include "product/DeviceEventRecord.h"

namespace kx7test {
namespace {

std::vector<std::pair<std::string, double>> ReadEvents(CAsioDriver& driver) {
  std::vector<std::pair<std::string, double>> events;
  kx7::DeviceEventRead read;
  std::memset(&read, 0, sizeof read);
  read.size = sizeof read;
  EXPECT_EQ(driver.future(kx7::kReadDeviceEventsSelector, &read), ASE_SUCCESS);
  for (uint32_t i = 0; i < read.count; ++i) {
    events.emplace_back(read.events[i].name, read.events[i].seconds);
  }
  return events;
}

using Events = std::vector<std::pair<std::string, double>>;

TEST_P(StreamingTest, EventsOfARunAreTimedFromItsStartAndOfTheNextFromThatOnesStart) {
  Prepare(128);
  EXPECT_TRUE(ReadEvents(*driver).empty());
  ASSERT_EQ(Start(), ASE_OK);  // the clock stands at 5000 ms
  RunCycles(4);
  Internals(*driver).deviceEvents.Record(DeviceEvent::kLost, 6000);
  Internals(*driver).deviceEvents.Record(DeviceEvent::kReturned, 8250);
  EXPECT_EQ(ReadEvents(*driver), (Events{{"lost", 1.0}, {"returned", 3.25}}));
  ASSERT_EQ(driver->stop(), ASE_OK);

  emu_test::FreezeTime(20000);
  host.switches.clear();
  ASSERT_EQ(Start(), ASE_OK);
  Internals(*driver).deviceEvents.Record(DeviceEvent::kRateRestarted, 20500);
  EXPECT_EQ(ReadEvents(*driver),
            (Events{{"lost", -14.0}, {"returned", -11.75}, {"rate-restarted", 0.5}}));
  EXPECT_EQ(driver->stop(), ASE_OK);
}

}  // namespace
}  // namespace kx7test

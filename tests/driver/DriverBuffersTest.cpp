// Channels, double buffers and latencies.
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "driver/DriverFixture.h"

namespace kx7test {
namespace {

using DriverBuffersTest = DriverTest;

ASIOChannelInfo ChannelInfo(CAsioDriver& driver, int32_t channel, bool input) {
  ASIOChannelInfo info{};
  info.channel = channel;
  info.isInput = input ? ASIOTrue : ASIOFalse;
  EXPECT_EQ(driver.getChannelInfo(&info), ASE_OK);
  return info;
}

// How many of the four channels getChannelInfo reports active.
int ActiveChannels(CAsioDriver& driver) {
  int active = 0;
  for (const bool input : {true, false}) {
    for (int32_t channel : {0, 1}) active += ChannelInfo(driver, channel, input).isActive;
  }
  return active;
}

// Whether start refuses for want of buffers, that is the driver holds no host callbacks.
bool StartWantsBuffers(CAsioDriver& driver) {
  char error[124] = {};
  const ASIOError result = driver.start();
  driver.getErrorMessage(error);
  return result == ASE_NotPresent &&
         std::strcmp(error, "Buffers must be created before start.") == 0;
}

std::vector<ASIOBufferInfo> Buffers(std::initializer_list<std::pair<bool, int32_t>> channels) {
  std::vector<ASIOBufferInfo> infos;
  for (const auto& [input, channel] : channels) {
    infos.push_back({input ? ASIOTrue : ASIOFalse, channel, {nullptr, nullptr}});
  }
  return infos;
}

TEST_F(DriverBuffersTest, ShowsTwoInputsAndTwoOutputsWithTheirNames) {
  DriverHandle driver;
  int32_t inputs = 0, outputs = 0;
  ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
  EXPECT_EQ(inputs, 2);
  EXPECT_EQ(outputs, 2);
  const ASIOChannelInfo micRight = ChannelInfo(*driver, 1, true);
  EXPECT_STREQ(micRight.name, "Microphone R");
  EXPECT_EQ(micRight.type, ASIOSTInt32LSB);
  EXPECT_EQ(micRight.channelGroup, 0);
  EXPECT_EQ(micRight.isActive, ASIOFalse);
  EXPECT_STREQ(ChannelInfo(*driver, 0, true).name, "Microphone L");
  EXPECT_STREQ(ChannelInfo(*driver, 0, false).name, "Output L");
  EXPECT_STREQ(ChannelInfo(*driver, 1, false).name, "Output R");
}

TEST_F(DriverBuffersTest, ChannelInfoRefusesChannelsOutsideTheSet) {
  DriverHandle driver;
  for (int32_t channel : {-1, 2, 255}) {
    ASIOChannelInfo info{};
    info.channel = channel;
    std::strcpy(info.name, "untouched");
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_InvalidParameter);
    EXPECT_STREQ(info.name, "untouched");
  }
}

TEST_F(DriverBuffersTest, OneOutputGetsSpareInputsThatAreNeverActive) {
  DriverHandle driver;
  HostRecorder host;
  auto infos = Buffers({{false, 1}});
  ASSERT_EQ(driver->createBuffers(infos.data(), 1, 128, &host.callbacks), ASE_OK);
  // The capture path always has two input buffers to fill; the spares are nobody's channel.
  EXPECT_EQ(Internals(*driver).InputCount(), 2);
  EXPECT_EQ(Internals(*driver).InputNumber(0), 255);
  EXPECT_EQ(Internals(*driver).InputNumber(1), 255);
  EXPECT_EQ(ChannelInfo(*driver, 1, false).isActive, ASIOTrue);
  EXPECT_EQ(ActiveChannels(*driver), 1);
  // The host's halves are the two halves of one writable block (the streaming tests check that
  // what the host writes there is what the device renders).
  auto* block = static_cast<int32_t*>(infos[0].buffers[0]);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(infos[0].buffers[1], block + 128);
  block[255] = 1;
  EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
  EXPECT_EQ(ActiveChannels(*driver), 0);
  EXPECT_TRUE(StartWantsBuffers(*driver)) << "disposeBuffers forgets the host's callbacks";
}

TEST_F(DriverBuffersTest, BadChannelListsLeaveNoBufferBehind) {
  DriverHandle driver;
  HostRecorder host;
  // Each refusal comes after a set that was fine: the refused request also ends that one. What
  // it allocated on the way is freed too, which the sanitizer builds check.
  auto fine = Buffers({{true, 0}, {false, 1}});
  auto threeInputs = Buffers({{true, 0}, {true, 1}, {true, 0}});
  auto badChannel = Buffers({{false, 0}, {false, 2}});
  const std::function<ASIOError()> refusals[] = {
      [&] { return driver->createBuffers(threeInputs.data(), 3, 128, &host.callbacks); },
      [&] { return driver->createBuffers(badChannel.data(), 2, 128, &host.callbacks); },
      [&] { return driver->createBuffers(nullptr, 2, 128, &host.callbacks); },
      [&] { return driver->createBuffers(fine.data(), 2, 128, nullptr); }};
  for (const auto& refused : refusals) {
    ASSERT_EQ(driver->createBuffers(fine.data(), 2, 128, &host.callbacks), ASE_OK);
    EXPECT_EQ(refused(), ASE_InvalidParameter);
    EXPECT_EQ(ActiveChannels(*driver), 0);
    EXPECT_TRUE(StartWantsBuffers(*driver));
  }
  EXPECT_EQ(driver->createBuffers(nullptr, 0, 128, &host.callbacks), ASE_OK)
      << "no channels at all is a valid request";
  EXPECT_EQ(ActiveChannels(*driver), 0);
  EXPECT_EQ(Internals(*driver).InputCount(), 2) << "the capture path still has its two spares";
}

TEST_F(DriverBuffersTest, SizesTheCycleCannotServeAreRefused) {
  DriverHandle driver;
  HostRecorder host;
  auto infos = Buffers({{true, 0}, {false, 0}, {false, 1}});
  // Outside the advertised 64 to 2048, or not whole packets.
  for (int32_t size : {0, -64, 32, 100, 96, 63, 65, 2112, 4096, 65536, 0x7FFFFFC0}) {
    EXPECT_EQ(driver->createBuffers(infos.data(), 3, size, &host.callbacks), ASE_InvalidMode)
        << size;
    EXPECT_EQ(ActiveChannels(*driver), 0) << size;
  }
  int32_t inLatency = 0, outLatency = 0;
  driver->getLatencies(&inLatency, &outLatency);
  EXPECT_EQ(inLatency, 128) << "a refused size changes nothing";
  for (int32_t size : {64, 192, 2048}) {
    EXPECT_EQ(driver->createBuffers(infos.data(), 3, size, &host.callbacks), ASE_OK) << size;
  }
  infos = Buffers({{true, 0}, {false, 0}, {false, 1}});
  EXPECT_EQ(driver->createBuffers(infos.data(), 3, 4096, &host.callbacks), ASE_InvalidMode);
  EXPECT_EQ(infos[0].buffers[0], nullptr);
  EXPECT_EQ(ActiveChannels(*driver), 0) << "the sets made before are gone too";
  EXPECT_TRUE(StartWantsBuffers(*driver));
}

// A host's other thread (a transport display, say) asks for the position while its main thread
// makes and disposes the buffers: the answers come from whole records, never from freed ones.
TEST_F(DriverBuffersTest, PositionsAskedWhileAnotherThreadMakesAndDisposesBuffers) {
  DriverHandle driver;
  HostRecorder host;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done.load()) {
      ASIOSamples position{};
      ASIOTimeStamp stamp{};
      EXPECT_EQ(driver->getSamplePosition(&position, &stamp), ASE_OK);
      driver->setClockSource(0);
    }
  });
  for (int round = 0; round < 300; ++round) {
    auto infos = Buffers({{true, 0}, {false, 0}, {false, 1}});
    EXPECT_EQ(driver->createBuffers(infos.data(), 3, round % 2 == 0 ? 64 : 2048, &host.callbacks),
              ASE_OK);
    if (round % 3 == 0) {
      EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    }
  }
  done.store(true);
  reader.join();
}

TEST_F(DriverBuffersTest, LatenciesFollowTheBufferSize) {
  DriverHandle driver;
  HostRecorder host;
  int32_t in = 0, out = 0;
  driver->getLatencies(&in, &out);
  EXPECT_EQ(in, 128);
  EXPECT_EQ(out, 128 + 192);
  auto infos = Buffers({{true, 0}, {false, 0}});
  // The output half goes to the device behind a half and 192 frames still queued there.
  for (int32_t size : {256, 64, 2048}) {
    ASSERT_EQ(driver->createBuffers(infos.data(), 2, size, &host.callbacks), ASE_OK);
    driver->getLatencies(&in, &out);
    EXPECT_EQ(in, size);
    EXPECT_EQ(out, size + 192);
  }
  driver->disposeBuffers();
  driver->getLatencies(&in, &out);
  EXPECT_EQ(in, 2048) << "latencies keep their values after disposeBuffers";
  EXPECT_EQ(out, 2048 + 192);
}

TEST_F(DriverBuffersTest, AsksTheHostOnceForTimeInfo) {
  DriverHandle driver;
  HostRecorder host;
  auto infos = Buffers({{false, 0}});
  ASSERT_EQ(driver->createBuffers(infos.data(), 1, 128, &host.callbacks), ASE_OK);
  EXPECT_EQ(host.asioMessageCalls, 1);
  EXPECT_EQ(host.lastSelector, kAsioSupportsTimeInfo);
  EXPECT_TRUE(Internals(*driver).HostBuffers()->TimeInfoMode());
  EXPECT_EQ(Internals(*driver).Time().timeInfo.flags, 7u);
  EXPECT_EQ(Internals(*driver).Time().timeInfo.speed, 1.0);
  EXPECT_EQ(Internals(*driver).Time().timeInfo.sampleRate, 48000.0);
  EXPECT_EQ(Internals(*driver).Time().timeCode.flags, 0u) << "no time code is valid or running";

  host.timeInfoAnswer = 0;
  ASSERT_EQ(driver->createBuffers(infos.data(), 1, 128, &host.callbacks), ASE_OK);
  EXPECT_FALSE(Internals(*driver).HostBuffers()->TimeInfoMode());

  // A host without asioMessage counts as answering 0.
  host.callbacks.asioMessage = nullptr;
  host.timeInfoAnswer = 1;
  ASSERT_EQ(driver->createBuffers(infos.data(), 1, 128, &host.callbacks), ASE_OK);
  EXPECT_FALSE(Internals(*driver).HostBuffers()->TimeInfoMode());
}

TEST_F(DriverBuffersTest, PreferredSizeIsAlwaysOneTheHostCanCreate) {
  const std::pair<uint32_t, int32_t> cases[] = {{128, 128},   {512, 512},   {100, 128},
                                                {0, 64},      {64, 64},     {65, 128},
                                                {2048, 2048}, {4096, 2048}, {0xFFFFFFFF, 2048}};
  for (const auto& [stored, reported] : cases) {
    SettingsStoreForTest().Write(kx7::kBufferSizePreferredValue, stored);
    DriverHandle driver;
    driver->init(nullptr);  // reads the settings, although it finds no device
    int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    ASSERT_EQ(driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(minSize, 64);
    EXPECT_EQ(maxSize, 2048);
    EXPECT_EQ(preferred, reported) << stored;
    EXPECT_EQ(granularity, -1);
  }
}

}  // namespace
}  // namespace kx7test

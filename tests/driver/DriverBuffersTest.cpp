// Channels, double buffers and latencies.
#include <cstring>
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
  EXPECT_EQ(Internals(*driver).activeOutputs, 1);
  EXPECT_EQ(Internals(*driver).activeInputs, 2);
  EXPECT_EQ(Internals(*driver).inputChannels[0], 255);
  EXPECT_EQ(Internals(*driver).inputChannels[1], 255);
  EXPECT_EQ(ChannelInfo(*driver, 1, false).isActive, ASIOTrue);
  EXPECT_EQ(ChannelInfo(*driver, 0, false).isActive, ASIOFalse);
  EXPECT_EQ(ChannelInfo(*driver, 0, true).isActive, ASIOFalse);
  EXPECT_EQ(ChannelInfo(*driver, 1, true).isActive, ASIOFalse);
  // The host's halves are the two halves of one block; the float twin is never handed out.
  auto* block = static_cast<int32_t*>(infos[0].buffers[0]);
  EXPECT_EQ(block, Internals(*driver).outputBuffers[0]);
  EXPECT_EQ(infos[0].buffers[1], block + 128);
  EXPECT_NE(static_cast<void*>(Internals(*driver).outputFloatBuffers[0]), infos[0].buffers[0]);
  block[255] = 1;  // both halves are writable
  EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
  EXPECT_EQ(Internals(*driver).activeInputs, 0);
  EXPECT_EQ(Internals(*driver).activeOutputs, 0);
  EXPECT_EQ(Internals(*driver).callbacks, nullptr);
}

TEST_F(DriverBuffersTest, BadChannelListsLeaveNoBufferBehind) {
  DriverHandle driver;
  HostRecorder host;
  auto threeInputs = Buffers({{true, 0}, {true, 1}, {true, 0}});
  EXPECT_EQ(driver->createBuffers(threeInputs.data(), 3, 128, &host.callbacks),
            ASE_InvalidParameter);
  EXPECT_EQ(Internals(*driver).activeInputs, 0);
  EXPECT_EQ(Internals(*driver).callbacks, nullptr);
  auto badChannel = Buffers({{false, 0}, {false, 2}});
  EXPECT_EQ(driver->createBuffers(badChannel.data(), 2, 128, &host.callbacks),
            ASE_InvalidParameter);
  EXPECT_EQ(Internals(*driver).activeOutputs, 0);
  EXPECT_EQ(driver->createBuffers(nullptr, 2, 128, &host.callbacks), ASE_InvalidParameter);
  auto fine = Buffers({{true, 0}});
  EXPECT_EQ(driver->createBuffers(fine.data(), 1, 128, nullptr), ASE_InvalidParameter);
  EXPECT_EQ(Internals(*driver).activeInputs, 0);
  EXPECT_EQ(driver->createBuffers(nullptr, 0, 128, &host.callbacks), ASE_OK)
      << "no channels at all is a valid request";
  EXPECT_EQ(Internals(*driver).activeInputs, 2);
}

TEST_F(DriverBuffersTest, SizesTheCycleCannotServeAreRefused) {
  DriverHandle driver;
  HostRecorder host;
  auto infos = Buffers({{true, 0}, {false, 0}, {false, 1}});
  for (int32_t size : {0, -64, 100, 96, 63, 65}) {
    EXPECT_EQ(driver->createBuffers(infos.data(), 3, size, &host.callbacks), ASE_InvalidMode)
        << size;
    EXPECT_EQ(Internals(*driver).activeInputs + Internals(*driver).activeOutputs, 0) << size;
  }
  int32_t inLatency = 0, outLatency = 0;
  driver->getLatencies(&inLatency, &outLatency);
  EXPECT_EQ(inLatency, 128) << "a refused size changes nothing";
  for (int32_t size : {64, 192, 4096}) {
    EXPECT_EQ(driver->createBuffers(infos.data(), 3, size, &host.callbacks), ASE_OK) << size;
  }
  EXPECT_EQ(driver->createBuffers(infos.data(), 3, 0x7FFFFFC0, &host.callbacks), ASE_NoMemory);
  EXPECT_EQ(infos[0].buffers[0], nullptr);
  EXPECT_EQ(Internals(*driver).activeInputs + Internals(*driver).activeOutputs, 0);
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
  EXPECT_TRUE(Internals(*driver).timeInfoMode);
  EXPECT_EQ(Internals(*driver).asioTime.timeInfo.flags, 7u);
  EXPECT_EQ(Internals(*driver).asioTime.timeInfo.speed, 1.0);
  EXPECT_EQ(Internals(*driver).asioTime.timeInfo.sampleRate, 48000.0);
  EXPECT_EQ(Internals(*driver).asioTime.timeCode.flags, 0u) << "no time code is valid or running";

  host.timeInfoAnswer = 0;
  ASSERT_EQ(driver->createBuffers(infos.data(), 1, 128, &host.callbacks), ASE_OK);
  EXPECT_FALSE(Internals(*driver).timeInfoMode);

  // A host without asioMessage counts as answering 0.
  host.callbacks.asioMessage = nullptr;
  host.timeInfoAnswer = 1;
  ASSERT_EQ(driver->createBuffers(infos.data(), 1, 128, &host.callbacks), ASE_OK);
  EXPECT_FALSE(Internals(*driver).timeInfoMode);
}

TEST_F(DriverBuffersTest, PreferredSizeIsAlwaysOneTheHostCanCreate) {
  DriverHandle driver;
  const std::pair<uint32_t, int32_t> cases[] = {{128, 128},   {512, 512},   {100, 128},
                                                {0, 64},      {64, 64},     {65, 128},
                                                {2048, 2048}, {4096, 2048}, {0xFFFFFFFF, 2048}};
  for (const auto& [stored, reported] : cases) {
    Internals(*driver).preferredBufferSize = stored;
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

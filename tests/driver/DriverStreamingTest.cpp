// The driver streaming against the virtual KX-7: start and stop, the buffer-switch cycle, the
// rendered bytes, capture into both inputs, and the time information handed to the host.
#include <algorithm>
#include <cstring>

#include "driver/StreamingFixture.h"
#include "product/Kx7Facts.h"
#include "streaming/SampleConverter.h"

namespace kx7test {
namespace {

constexpr size_t kPacketBytes = kx7::kRenderPacketBytes;

// Packets of silence the render stream queues before it starts: the output latency and a half.
unsigned PrimedPackets(int32_t bufferSize) {
  return kx7::StreamPacketsFor(static_cast<uint32_t>(bufferSize));
}

int32_t HostSample(int k, int c, int f) {
  const int32_t value = (k + 1) * 0x01000000 / 64 + f * 0x1000;
  return c == 0 ? value : -value;
}

// The packed bytes the device must play for host sample `value`, with the fade-in's gain.
void ExpectedBytes(int32_t value, float gain, bool fade, uint8_t out[3]) {
  SampleConverter converter;
  float asFloat = 0;
  converter.Int32ToFloat32(&value, &asFloat, 1);
  int32_t device = converter.RenderFloatToInt32(asFloat);
  if (fade) device = static_cast<int32_t>(static_cast<float>(device) * gain);
  converter.Int32ToInt24PackedInPlace(&device, 1);
  std::memcpy(out, &device, 3);
}

// The device's bytes of frame `frame` of its packet `packet`, channel `channel`.
const uint8_t* RenderedSample(const std::vector<BYTE>& bytes, size_t packet, int frame,
                              int channel) {
  return bytes.data() + packet * kPacketBytes + frame * 6 + channel * 3;
}

TEST_P(StreamingTest, StartAnswersAfterTwoSwitchesAndPositionsAdvanceByTheBufferSize) {
  Prepare(128);
  ASSERT_EQ(Start(), ASE_OK);
  ASSERT_EQ(host.switches.size(), 2u);
  EXPECT_TRUE(Internals(*driver).running.load());
  for (const SwitchRecord& record : host.switches) {
    EXPECT_EQ(record.position.lo, 0u);
    EXPECT_EQ(record.position.hi, 0u);
    EXPECT_FALSE(record.viaTimeInfo);
  }
  RunCycles(12);
  for (size_t k = 0; k < host.switches.size(); ++k) {
    EXPECT_EQ(host.switches[k].index, static_cast<int32_t>(k % 2)) << k;
    const uint32_t expected = k < 2 ? 0u : static_cast<uint32_t>((k - 1) * 128);
    EXPECT_EQ(host.switches[k].position.lo, expected) << k;
  }
  // The frozen clock stands at 5000 ms: 5e9 ns = 1 x 2^32 + 705032704.
  EXPECT_EQ(host.switches.back().stamp.hi, 1u);
  EXPECT_EQ(host.switches.back().stamp.lo, 705032704u);
  EXPECT_EQ(driver->stop(), ASE_OK);
  EXPECT_FALSE(Internals(*driver).running.load());
  EXPECT_FALSE(Internals(*driver).HasStream());
  EXPECT_EQ(device.PinState(vkx7::kRenderFilter, vkx7::kStreamingPin), -1) << "pins closed";
  EXPECT_EQ(device.QueuedWrites(), 0u);
  EXPECT_EQ(device.QueuedReads(), 0u);
  EXPECT_EQ(Internals(*driver).dropOutCount.load(), 0u);
  // The input half's age and what the device holds at the switch.
  EXPECT_EQ(Internals(*driver).latencyCount.load(), 128u + 128u + 192u);
}

TEST_P(StreamingTest, TwoSilentHalvesThenAFadeInEachHalfRightBehindThePrimedSilence) {
  Prepare(128);
  host.output = HostSample;
  ASSERT_EQ(Start(), ASE_OK);
  RunCycles(9);
  const unsigned primed = PrimedPackets(128);
  ASSERT_TRUE(StepPackets(primed));  // play what the loop has queued
  const std::vector<BYTE> bytes = device.RenderedBytes();
  ASSERT_GE(bytes.size(), (primed + 18) * kPacketBytes);
  for (size_t i = 0; i < (primed + 4) * kPacketBytes; ++i) {
    ASSERT_EQ(bytes[i], 0) << "byte " << i << " of the silent start";
  }
  // The half of switch k follows the primed silence and the halves before it.
  for (size_t block = 4; block < 18; ++block) {
    const int k = static_cast<int>(block / 2);
    for (int f = 0; f < 64; ++f) {
      const int frame = static_cast<int>(block % 2) * 64 + f;
      for (int c = 0; c < 2; ++c) {
        uint8_t expected[3];
        ExpectedBytes(HostSample(k, c, frame), static_cast<float>(f) * 0.015625f, block == 4,
                      expected);
        ASSERT_EQ(std::memcmp(RenderedSample(bytes, primed + block, f, c), expected, 3), 0)
            << "block " << block << " frame " << f << " channel " << c;
      }
    }
  }
}

// The host's output channel 0 is the device's left and 1 its right, in whatever order and subset
// the host made them: each side carries its channel's samples or silence. A number given twice
// is refused.
TEST_P(StreamingTest, EachOutputChannelPlaysOnItsOwnSide) {
  ASSERT_EQ(driver->init(nullptr), ASIOTrue);
  const int32_t sent[2] = {0x40000000, 0x20000000};
  host.output = [&](int, int c, int) { return sent[c]; };
  host.bufferSize = 64;
  const unsigned primed = PrimedPackets(64);
  for (const std::vector<int>& numbers : std::vector<std::vector<int>>{{1}, {1, 0}, {0}, {0, 1}}) {
    host.infoCount = 0;
    for (int number : numbers)
      host.infos[host.infoCount++] = {ASIOFalse, number, {nullptr, nullptr}};
    ASSERT_EQ(driver->createBuffers(host.infos, host.infoCount, 64, &host.callbacks), ASE_OK);
    host.switches.clear();
    const size_t before = device.RenderedBytes().size() / kPacketBytes;
    ASSERT_EQ(Start(), ASE_OK);
    RunCycles(8);
    ASSERT_TRUE(StepPackets(primed));
    const std::vector<BYTE> bytes = device.RenderedBytes();
    ASSERT_GE(bytes.size(), (before + primed + 8) * kPacketBytes);
    for (int side = 0; side < 2; ++side) {
      const bool made = std::find(numbers.begin(), numbers.end(), side) != numbers.end();
      uint8_t expected[3] = {0, 0, 0};
      if (made) ExpectedBytes(sent[side], 1.0f, false, expected);
      for (size_t k = 3; k < 8; ++k) {
        for (int f = 0; f < 64; ++f) {
          ASSERT_EQ(std::memcmp(RenderedSample(bytes, before + primed + k, f, side), expected, 3),
                    0)
              << "outputs " << ::testing::PrintToString(numbers) << " side " << side;
        }
      }
    }
    ASSERT_EQ(driver->stop(), ASE_OK);
  }
  host.infos[0] = {ASIOFalse, 0, {nullptr, nullptr}};
  host.infos[1] = {ASIOFalse, 0, {nullptr, nullptr}};
  EXPECT_EQ(driver->createBuffers(host.infos, 2, 64, &host.callbacks), ASE_InvalidParameter);
  host.infos[0] = {ASIOTrue, 1, {nullptr, nullptr}};
  host.infos[1] = {ASIOTrue, 1, {nullptr, nullptr}};
  EXPECT_EQ(driver->createBuffers(host.infos, 2, 64, &host.callbacks), ASE_InvalidParameter);
  EXPECT_EQ(driver->start(), ASE_NotPresent) << "nothing was made";
}

// Where frame `f` of the output of switch k comes back, on a loopback with no delay of its own:
// the switch and frame of the input that carries it.
struct Return {
  size_t switchIndex;
  int frame;
};
Return ReturnOf(int32_t bufferSize, int k, int f) {
  const int64_t roundTrip = 2 * int64_t{bufferSize} + 192;
  const int64_t at = roundTrip + int64_t{k} * bufferSize + f;
  return {static_cast<size_t>(at / bufferSize), static_cast<int>(at % bufferSize)};
}

TEST_P(StreamingTest, TheMicrophoneReachesBothInputsAndTheLoopbackReturnsTheHostOutput) {
  device.SetMicrophone(vkx7::MicrophoneSource::Loopback(0));
  Prepare(128);
  host.output = HostSample;
  ASSERT_EQ(Start(), ASE_OK);
  RunCycles(16);
  for (const SwitchRecord& record : host.switches) {
    ASSERT_EQ(record.inputs[0], record.inputs[1]);
  }
  // The output of switch k is heard the reported input and output latencies later.
  for (int k = 3; ReturnOf(128, k + 1, 0).switchIndex < host.switches.size(); ++k) {
    for (int f = 0; f < 128; ++f) {
      const Return back = ReturnOf(128, k, f);
      const int32_t sent = HostSample(k, 0, f) & ~0xFF;  // the device keeps 24 bits
      ASSERT_NEAR(host.switches[back.switchIndex].inputs[0][back.frame], sent, 1)
          << "switch " << k << " frame " << f;
    }
  }
  EXPECT_EQ(Internals(*driver).dropOutCount.load(), 0u);
}

// Switch k of a start carries position (k - 2) x B, the first two 0, however many switches the
// start took to return; a second start counts afresh. The stepped clock's stamps are whole
// milliseconds, as the device time they follow.
TEST_P(StreamingTest, PositionsCountFromTheFirstSwitchOfEachStart) {
  ASSERT_EQ(driver->init(nullptr), ASIOTrue);
  for (const double rate : {44100.0, 48000.0, 96000.0}) {
    ASSERT_EQ(driver->setSampleRate(rate), ASE_OK);
    for (const int32_t size : {64, 128, 2048}) {
      Prepare(size);
      for (int start = 0; start < 2; ++start) {
        host.switches.clear();
        ASSERT_EQ(Start(), ASE_OK);
        RunCycles(6);
        for (size_t i = 0; i < host.switches.size(); ++i) {
          const uint64_t expected = i < 2 ? 0 : (i - 1) * static_cast<uint64_t>(size);
          const ASIOSamples& position = host.switches[i].position;
          ASSERT_EQ((uint64_t{position.hi} << 32) | position.lo, expected)
              << rate << " Hz, " << size << " frames, switch " << i + 1;
          const ASIOTimeStamp& stamp = host.switches[i].stamp;
          ASSERT_EQ(((uint64_t{stamp.hi} << 32) | stamp.lo) % 1000000u, 0u)
              << "stepped stamps stay whole milliseconds";
        }
        ASSERT_EQ(driver->stop(), ASE_OK);
      }
      ASSERT_EQ(driver->disposeBuffers(), ASE_OK);
    }
  }
}

TEST_P(StreamingTest, TimeInfoCarriesPositionAndStampAndClearsTheChangeFlags) {
  host.answerTimeInfo = true;
  Prepare(256);
  ASSERT_TRUE(Internals(*driver).HostBuffers()->TimeInfoMode());
  ASSERT_EQ(Start(), ASE_OK);
  ASSERT_EQ(driver->setSampleRate(48000.0), ASE_OK);  // same rate: no change flagged
  RunCycles(4);
  uint32_t flags = __atomic_load_n(&Internals(*driver).Time().timeInfo.flags, __ATOMIC_RELAXED);
  EXPECT_EQ(flags & 0x30u, 0u);
  __atomic_or_fetch(&Internals(*driver).Time().timeInfo.flags, kSampleRateChanged,
                    __ATOMIC_RELAXED);
  RunCycles(6);
  EXPECT_NE(host.switches[4].flagsSeen & kSampleRateChanged, 0u) << "seen by the host once";
  EXPECT_EQ(host.switches[5].flagsSeen & kSampleRateChanged, 0u) << "then cleared";
  for (size_t k = 0; k < host.switches.size(); ++k) {
    EXPECT_TRUE(host.switches[k].viaTimeInfo);
    EXPECT_EQ(host.switches[k].position.lo, k < 2 ? 0u : static_cast<uint32_t>((k - 1) * 256));
    EXPECT_EQ(host.switches[k].stamp.lo, 705032704u);
  }
}

TEST_P(StreamingTest, MissingTimeInfoCallbackFallsBackToThePlainSwitch) {
  host.answerTimeInfo = true;
  host.callbacks.bufferSwitchTimeInfo = nullptr;
  Prepare(64);
  ASSERT_EQ(Start(), ASE_OK);
  RunCycles(3);
  for (const SwitchRecord& record : host.switches) EXPECT_FALSE(record.viaTimeInfo);
}

TEST_P(StreamingTest, PlainSwitchNeverTouchesTheTimeRecord) {
  Prepare(64);
  std::memset(&Internals(*driver).Time(), 0x5A, sizeof Internals(*driver).Time());
  ASSERT_EQ(Start(), ASE_OK);
  RunCycles(4);
  ASIOTime untouched;
  std::memset(&untouched, 0x5A, sizeof untouched);
  EXPECT_EQ(std::memcmp(&Internals(*driver).Time(), &untouched, sizeof untouched), 0);
}

// The suites of this file and of the faults' file, in both layouts.
TEST_P(StreamingTest, EachPacketCostsOneWaitAndOneRequestPerPinAndNoEventCall) {
  using emu_test::PlatformCall;
  Prepare(64);
  ASSERT_EQ(Start(), ASE_OK);
  RunCycles(8);  // past the silent cycles and the fade-in
  // The thread waits now; from here on its every call is counted.
  emu_test::CountPlatformCalls(Internals(*driver).streamThreadId.load());
  constexpr unsigned kPackets = 16;
  ASSERT_TRUE(StepPackets(kPackets));
  const auto calls = [](PlatformCall call) { return emu_test::CountedPlatformCalls(call); };
  EXPECT_EQ(calls(PlatformCall::WaitForMultipleObjects), kPackets);
  EXPECT_EQ(calls(PlatformCall::WaitForSingleObject), 0u);
  EXPECT_EQ(calls(PlatformCall::SetEvent) + calls(PlatformCall::ResetEvent), 0u);
  EXPECT_EQ(calls(PlatformCall::DeviceIoControl), 2 * kPackets);
  EXPECT_EQ(calls(PlatformCall::GetOverlappedResult), 0u);
  EXPECT_EQ(calls(PlatformCall::timeGetTime), kPackets) << "one time stamp per half";
  emu_test::CountPlatformCalls(0);
  EXPECT_EQ(host.switches.size(), 8u + kPackets);
}

INSTANTIATE_TEST_SUITE_P(Layouts, StreamingTest, KX7_STREAMING_LAYOUTS);

}  // namespace
}  // namespace kx7test

// Packet streaming of the virtual KX-7: clocks, microphone sources, glitch counters, faults and
// the record of what it played.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "../ks/Kx7Fixture.h"
#include "product/Kx7Facts.h"

namespace kx7test {
namespace {

constexpr size_t kRenderBytes = kx7::kRenderPacketBytes;
constexpr size_t kCaptureBytes = kx7::kCapturePacketBytes;

int32_t Sample24(const BYTE* p) {
  const uint32_t word = p[0] | (p[1] << 8) | (p[2] << 16);
  return static_cast<int32_t>(word << 8) >> 8;
}

void Put24(BYTE* p, int32_t value) {
  p[0] = static_cast<BYTE>(value);
  p[1] = static_cast<BYTE>(value >> 8);
  p[2] = static_cast<BYTE>(value >> 16);
}

// Both pins of the KX-7 at one rate, paused, as the driver's stream objects hold them.
class StreamingTest : public Kx7Test {
 protected:
  void SetUp() override {
    Kx7Test::SetUp();
    capture_ = OpenFilter<CKsAudCapFilter>(vkx7::kCaptureFilter);
    render_ = OpenFilter<CKsAudRenFilter>(vkx7::kRenderFilter);
    capturePin = capture_->CreateCapturePin(AsWfx(ExtensibleFormat(1, 48000)), 1);
    renderPin = render_->CreateRenderPin(AsWfx(ExtensibleFormat(2, 48000)), 0);
    ASSERT_NE(capturePin, nullptr);
    ASSERT_NE(renderPin, nullptr);
    ASSERT_EQ(capturePin->SetState(KSSTATE_PAUSE), S_OK);
    ASSERT_EQ(renderPin->SetState(KSSTATE_PAUSE), S_OK);
  }
  void TearDown() override {
    // Stopping completes whatever is still queued before the packets go away.
    capturePin->SetState(KSSTATE_STOP);
    renderPin->SetState(KSSTATE_STOP);
    reads.clear();
    writes.clear();
    capture_.reset();
    render_.reset();
    Kx7Test::TearDown();
  }

  TestPacket& QueueRead(size_t bytes = kCaptureBytes) {
    reads.push_back(std::make_unique<TestPacket>(bytes, false));
    EXPECT_EQ(capturePin->ReadData(&reads.back()->header, &reads.back()->overlapped), S_OK);
    return *reads.back();
  }
  // A render packet whose left channel counts up from `first` and whose right is its negative.
  TestPacket& QueueWrite(int32_t first) {
    writes.push_back(std::make_unique<TestPacket>(kRenderBytes, true));
    TestPacket& packet = *writes.back();
    for (size_t frame = 0; frame < 64; ++frame) {
      Put24(&packet.data[frame * 6], first + static_cast<int32_t>(frame));
      Put24(&packet.data[frame * 6 + 3], -(first + static_cast<int32_t>(frame)));
    }
    EXPECT_EQ(renderPin->WriteData(&packet.header, &packet.overlapped), S_OK);
    return packet;
  }
  void Run() {
    ASSERT_EQ(renderPin->SetState(KSSTATE_RUN), S_OK);
    ASSERT_EQ(capturePin->SetState(KSSTATE_RUN), S_OK);
  }

  CKsAudPin* capturePin = nullptr;
  CKsAudPin* renderPin = nullptr;
  std::vector<std::unique_ptr<TestPacket>> reads;
  std::vector<std::unique_ptr<TestPacket>> writes;

 private:
  std::unique_ptr<CKsAudCapFilter> capture_;
  std::unique_ptr<CKsAudRenFilter> render_;
};

TEST_F(StreamingTest, SteppedClockMovesOnePacketPerStepAndOnlyWhileRunning) {
  TestPacket& w0 = QueueWrite(0);
  TestPacket& w1 = QueueWrite(64);
  TestPacket& r0 = QueueRead();
  TestPacket& r1 = QueueRead();
  device.Step(3);  // paused: nothing moves, nothing is counted
  EXPECT_FALSE(w0.Done());
  EXPECT_FALSE(r0.Done());
  EXPECT_EQ(device.RenderUnderruns(), 0u);
  Run();
  device.Step();
  EXPECT_TRUE(w0.Done());
  EXPECT_FALSE(w1.Done());
  EXPECT_TRUE(r0.Done());
  EXPECT_FALSE(r1.Done());
  EXPECT_EQ(r0.header.DataUsed, kCaptureBytes);
  device.Step();
  EXPECT_TRUE(w1.Done());
  EXPECT_TRUE(r1.Done());
  EXPECT_EQ(device.RenderUnderruns(), 0u);
  EXPECT_EQ(device.CaptureOverruns(), 0u);
  device.Step(2);  // nothing queued in either direction
  EXPECT_EQ(device.RenderUnderruns(), 2u);
  EXPECT_EQ(device.CaptureOverruns(), 2u);

  std::vector<BYTE> expected(w0.data);
  expected.insert(expected.end(), w1.data.begin(), w1.data.end());
  EXPECT_EQ(device.RenderedBytes(), expected);
}

TEST_F(StreamingTest, ShortReadsAreFilledInTurnAndPartialFramesDropped) {
  TestPacket& half = QueueRead(96);
  TestPacket& rest = QueueRead(97);  // 32 whole frames and one byte
  Run();
  device.Step();
  EXPECT_TRUE(half.Done());
  EXPECT_TRUE(rest.Done());
  EXPECT_EQ(half.header.DataUsed, 96u);
  EXPECT_EQ(rest.header.DataUsed, 96u);
  EXPECT_EQ(device.CaptureOverruns(), 0u);
}

TEST_F(StreamingTest, LoopbackHearsTheLeftChannelAfterTheDelay) {
  const ULONG delay = 100;
  ASSERT_TRUE(device.SetMicrophone(vkx7::MicrophoneSource::Loopback(delay)));
  for (int i = 0; i < 4; ++i) {
    QueueWrite(1000 + 64 * i);
    QueueRead();
  }
  Run();
  device.Step(4);
  std::vector<int32_t> heard;
  for (const auto& read : reads) {
    ASSERT_TRUE(read->Done());
    for (size_t i = 0; i < read->header.DataUsed; i += 3) heard.push_back(Sample24(&read->data[i]));
  }
  ASSERT_EQ(heard.size(), 256u);
  for (size_t frame = 0; frame < heard.size(); ++frame) {
    const int32_t expected = frame < delay ? 0 : 1000 + static_cast<int32_t>(frame - delay);
    ASSERT_EQ(heard[frame], expected) << "frame " << frame;
  }
}

TEST_F(StreamingTest, ToneAndWavSources) {
  ASSERT_TRUE(device.SetMicrophone(vkx7::MicrophoneSource::Tone(750, 0.5)));
  TestPacket& tone = QueueRead();
  Run();
  device.Step();
  int32_t peak = 0;
  for (size_t i = 0; i < kCaptureBytes; i += 3) peak = std::max(peak, Sample24(&tone.data[i]));
  // 750 Hz at 48000 Hz has a period of 64 frames: one packet holds its crest.
  EXPECT_NEAR(peak, 0x400000, 2);

  const std::string path = ::testing::TempDir() + "kx7-source.wav";
  {
    const int16_t samples[3] = {0x1234, -2, 0x7FFF};
    const uint32_t dataSize = sizeof samples;
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + dataSize);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(48000);
    u32(96000);
    u16(2);
    u16(16);
    out.write("data", 4);
    u32(dataSize);
    out.write(reinterpret_cast<const char*>(samples), sizeof samples);
  }
  ASSERT_TRUE(device.SetMicrophone(vkx7::MicrophoneSource::WavFile(path)));
  TestPacket& wav = QueueRead();
  device.Step();
  ASSERT_TRUE(wav.Done());
  const int32_t expected[4] = {0x123400, -0x200, 0x7FFF00, 0x123400};  // repeats
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Sample24(&wav.data[3 * i]), expected[i]);

  std::ofstream(path, std::ios::binary | std::ios::trunc) << "RIFF....WAVEjunk";
  EXPECT_FALSE(device.SetMicrophone(vkx7::MicrophoneSource::WavFile(path)));
  EXPECT_FALSE(device.SetMicrophone(vkx7::MicrophoneSource::WavFile(path + ".missing")));
  std::remove(path.c_str());
}

TEST_F(StreamingTest, CapturePacketsWithheldOrLate) {
  TestPacket& first = QueueRead();
  TestPacket& second = QueueRead();
  Run();
  device.WithholdCapturePackets(1);
  device.Step();
  EXPECT_FALSE(first.Done());
  EXPECT_EQ(device.CaptureOverruns(), 0u);
  device.Step();
  EXPECT_TRUE(first.Done());

  device.DelayCapturePackets(1, 2);
  device.Step();  // the second read fills but is held back
  EXPECT_FALSE(second.Done());
  TestPacket& third = QueueRead();
  device.Step();
  EXPECT_TRUE(third.Done());
  EXPECT_FALSE(second.Done());
  device.Step();
  EXPECT_TRUE(second.Done());
  EXPECT_EQ(second.header.DataUsed, kCaptureBytes);
}

TEST_F(StreamingTest, StalledRenderNeitherPlaysNorCounts) {
  TestPacket& write = QueueWrite(0);
  Run();
  device.StallRender(true);
  device.Step(3);
  EXPECT_FALSE(write.Done());
  EXPECT_EQ(device.RenderUnderruns(), 0u);
  EXPECT_TRUE(device.RenderedBytes().empty());
  device.StallRender(false);
  device.Step();
  EXPECT_TRUE(write.Done());

  device.RejectWrites(vkx7::kForever);
  TestPacket rejected(kRenderBytes, true);
  EXPECT_EQ(renderPin->WriteData(&rejected.header, &rejected.overlapped), E_FAIL);
  device.RejectWrites(0);
  EXPECT_EQ(renderPin->WriteData(&rejected.header, &rejected.overlapped), S_OK);
  ASSERT_EQ(renderPin->SetState(KSSTATE_STOP), S_OK);
  EXPECT_TRUE(rejected.Done());
}

TEST_F(StreamingTest, RecordKeepsRequestsAndStates) {
  const vkx7::DeviceRecord record = device.Record();
  ASSERT_EQ(record.connects.size(), 2u);
  EXPECT_EQ(record.connects[0].filter, static_cast<int>(vkx7::kCaptureFilter));
  ASSERT_EQ(record.states.size(), 2u);
  EXPECT_EQ(record.states[1].state, static_cast<ULONG>(KSSTATE_PAUSE));
  size_t pinQueries = 0;
  for (const vkx7::RequestRecord& request : record.requests) {
    if (request.code == IOCTL_KS_PROPERTY && IsEqualGUID(request.set, KSPROPSETID_Pin)) {
      ++pinQueries;
    }
  }
  EXPECT_GT(pinQueries, 0u);
  device.ClearRecord();
  QueueRead();
  const vkx7::DeviceRecord after = device.Record();
  ASSERT_EQ(after.requests.size(), 1u);
  EXPECT_EQ(after.requests[0].code, IOCTL_KS_READ_STREAM);
  EXPECT_EQ(after.requests[0].result, static_cast<DWORD>(ERROR_IO_PENDING));
}

TEST_F(StreamingTest, TheRenderRecordStopsAtItsBoundAndCountsWhatCameAfter) {
  // Large writes of numbered packets, a few past the record's bound in all.
  constexpr size_t kPacketsPerWrite = 16384;
  constexpr size_t kWriteBytes = kPacketsPerWrite * kRenderBytes;
  const size_t writeCount = vkx7::kMaxRecordedRenderBytes / kWriteBytes + 2;
  for (size_t i = 0; i < writeCount; ++i) {
    writes.push_back(std::make_unique<TestPacket>(kWriteBytes, true));
    Put24(writes.back()->data.data(), static_cast<int32_t>(i + 1));
    ASSERT_EQ(renderPin->WriteData(&writes.back()->header, &writes.back()->overlapped), S_OK);
  }
  Run();
  device.Step(static_cast<unsigned>(writeCount * kPacketsPerWrite));
  EXPECT_EQ(device.RenderUnderruns(), 0u);
  const vkx7::DeviceRecord record = device.Record();
  ASSERT_EQ(record.rendered.size(), vkx7::kMaxRecordedRenderBytes);
  EXPECT_EQ(record.renderedNotRecorded, writeCount * kWriteBytes - vkx7::kMaxRecordedRenderBytes);
  // What is kept is the beginning, in order.
  EXPECT_EQ(Sample24(&record.rendered[0]), 1);
  EXPECT_EQ(Sample24(&record.rendered[kWriteBytes]), 2);
}

TEST_F(StreamingTest, RealTimeClockCompletesQueuedPackets) {
  for (int i = 0; i < 4; ++i) {
    QueueWrite(64 * i);
    QueueRead();
  }
  device.UseRealTimeClock();
  Run();
  // No timing is asserted: each packet completes within a generous bound, in order.
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(writes[i]->Done(5000)) << "write " << i;
    EXPECT_TRUE(reads[i]->Done(5000)) << "read " << i;
  }
  device.UseSteppedClock();
  EXPECT_GE(device.PacketsElapsed(), 4u);
  EXPECT_EQ(device.RenderedBytes().size(), 4 * kRenderBytes);
}

}  // namespace
}  // namespace kx7test

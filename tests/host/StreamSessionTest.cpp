// The host's callbacks, driven the way a driver drives them: which halves they fill and read,
// what they record, and how they count the driver's mistakes without going out of bounds.
#include <gtest/gtest.h>

#include <vector>

#include "host/session/DriverSession.h"
#include "host/stream/StreamSession.h"
#include "support/StubAsioDriver.h"

namespace kx7host {
namespace {

// Answers getSamplePosition with a settable position; nothing else is used.
class PositionDriver : public kx7test::StubAsioDriver {
 public:
  ASIOError getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) override {
    position->hi = static_cast<uint32_t>(samplePosition >> 32);
    position->lo = static_cast<uint32_t>(samplePosition);
    stamp->hi = stamp->lo = 0;
    return ASE_OK;
  }

  uint64_t samplePosition = 0;
};

constexpr int32_t kSize = 4;

// Two-half blocks for the session's records, as createBuffers hands them out.
struct Blocks {
  explicit Blocks(StreamSession& session) {
    for (int c = 0; c < session.BufferInfoCount(); ++c) {
      data[c].assign(2 * kSize, 0);
      for (int32_t i = 0; i < 2 * kSize; ++i) data[c][i] = 1000 * (c + 1) + i;
      session.BufferInfos()[c].buffers[0] = data[c].data();
      session.BufferInfos()[c].buffers[1] = data[c].data() + kSize;
    }
  }
  std::vector<int32_t> data[4];
};

TEST(StreamSession, EachSwitchFillsTheOutputHalfItNamesAndRecordsTheInputHalf) {
  SessionPlan plan;
  plan.bufferSize = kSize;
  plan.maxTimedSwitches = 2;
  plan.recordRingFrames = 2 * kSize;
  plan.captureFrames = 6;
  StreamSession session(plan);
  ASSERT_EQ(session.BufferInfos()[0].isInput, ASIOTrue);
  ASSERT_EQ(session.BufferInfos()[1].channelNum, 1);
  ASSERT_EQ(session.BufferInfos()[2].isInput, ASIOFalse);
  Blocks blocks(session);
  session.Signal().SetClicks(0, 1, 1.0);  // every frame of output L is full scale
  PositionDriver driver;
  session.Activate(&driver);

  session.OnBufferSwitch(1);
  // Half 1 of output L is filled, output R is silent there; half 0 is untouched.
  for (int32_t i = 0; i < kSize; ++i) {
    EXPECT_EQ(blocks.data[2][kSize + i], SampleOfAmplitude(1.0));
    EXPECT_EQ(blocks.data[3][kSize + i], 0);
    EXPECT_EQ(blocks.data[2][i], 3000 + i);
  }
  std::vector<int32_t> recorded(2 * kSize);
  ASSERT_EQ(session.Recording()->Pop(recorded.data(), recorded.size()), recorded.size());
  EXPECT_EQ(recorded, (std::vector<int32_t>{1004, 2004, 1005, 2005, 1006, 2006, 1007, 2007}));

  // Input L is captured switch after switch, as far as the capture buffer reaches.
  session.OnBufferSwitch(0);
  session.OnBufferSwitch(1);
  EXPECT_EQ(session.CapturedLeft(), (std::vector<int32_t>{1004, 1005, 1006, 1007, 1000, 1001}));
  EXPECT_EQ(session.CapturedFrames(), 6u);
  // The ring holds two halves; with two waiting, a third is counted as lost.
  EXPECT_EQ(session.RecordFramesLost(), 0u);
  session.OnBufferSwitch(0);
  EXPECT_EQ(session.RecordFramesLost(), static_cast<uint64_t>(kSize));
  EXPECT_EQ(session.Switches(), 4u);
  EXPECT_EQ(session.Stamps().size(), 2u);  // only as many as were planned
}

TEST(StreamSession, InputOnlyOutputOnlyAndMonoSessionsUseOnlyTheirOwnChannels) {
  const struct {
    int inputs, outputs;
    std::vector<std::pair<bool, int>> records;  // isInput, channel
    std::vector<int32_t> recorded;              // half 0, interleaved
  } cases[] = {
      {2, 0, {{true, 0}, {true, 1}}, {1000, 2000, 1001, 2001, 1002, 2002, 1003, 2003}},
      {0, 2, {{false, 0}, {false, 1}}, {}},
      {1, 1, {{true, 0}, {false, 0}}, {1000, 1001, 1002, 1003}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.inputs << " in, " << c.outputs << " out");
    SessionPlan plan;
    plan.bufferSize = kSize;
    plan.inputs = c.inputs;
    plan.outputs = c.outputs;
    plan.recordRingFrames = 2 * kSize;
    plan.captureFrames = kSize;
    StreamSession session(plan);
    ASSERT_EQ(session.BufferInfoCount(), static_cast<int32_t>(c.records.size()));
    for (size_t i = 0; i < c.records.size(); ++i) {
      EXPECT_EQ(session.BufferInfos()[i].isInput != 0, c.records[i].first) << i;
      EXPECT_EQ(session.BufferInfos()[i].channelNum, c.records[i].second) << i;
    }
    Blocks blocks(session);
    session.Signal().SetClicks(0, 1, 1.0);
    PositionDriver driver;
    session.Activate(&driver);
    session.OnBufferSwitch(0);
    for (size_t i = 0; i < c.records.size(); ++i) {
      if (c.records[i].first) continue;
      // Output L carries the clicks, output R silence.
      const int32_t expected = c.records[i].second == 0 ? SampleOfAmplitude(1.0) : 0;
      for (int32_t f = 0; f < kSize; ++f) EXPECT_EQ(blocks.data[i][f], expected) << i;
    }
    if (c.inputs == 0) {
      EXPECT_EQ(session.Recording(), nullptr);
      EXPECT_EQ(session.CapturedFrames(), 0u);
      continue;
    }
    std::vector<int32_t> recorded(c.recorded.size() + 8);  // room for more than there is
    recorded.resize(session.Recording()->Pop(recorded.data(), recorded.size()));
    EXPECT_EQ(recorded, c.recorded);
    EXPECT_EQ(session.CapturedLeft(), (std::vector<int32_t>{1000, 1001, 1002, 1003}));
  }
}

TEST(StreamSession, CountsPositionBreaksAndBadHalfIndexesWithoutTouchingBuffers) {
  SessionPlan plan;
  plan.bufferSize = kSize;
  plan.maxTimedSwitches = 16;
  StreamSession session(plan);
  Blocks blocks(session);
  session.Signal().SetClicks(0, 1, 1.0);
  PositionDriver driver;
  session.Activate(&driver);
  const Blocks before = blocks;

  for (uint64_t position : {0, 0, 4, 8, 16, 20}) {
    driver.samplePosition = position;
    session.OnBufferSwitch(0);
  }
  EXPECT_EQ(session.PositionBreaks(), 1u);  // 8 to 16
  EXPECT_EQ(session.Positions(), (std::vector<int64_t>{0, 0, 4, 8, 16, 20}));
  const std::vector<int64_t> stamps = session.Stamps();
  for (size_t i = 1; i < stamps.size(); ++i) EXPECT_GE(stamps[i], stamps[i - 1]);

  blocks = before;
  driver.samplePosition = 24;
  session.OnBufferSwitch(2);
  session.OnBufferSwitch(-1);
  EXPECT_EQ(session.BadIndexes(), 2u);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(blocks.data[c], before.data[c]);
  EXPECT_EQ(session.Switches(), 8u);
  // A 64-bit position beyond 2^32 is read from both words.
  driver.samplePosition = (uint64_t{1} << 32) + 28;
  session.OnBufferSwitch(1);
  EXPECT_EQ(session.Positions().back(), static_cast<int64_t>((uint64_t{1} << 32) + 28));
}

TEST(StreamSession, TheCallbacksServeOnlyTheActiveSessionAndAnswerTheHostQueries) {
  SessionPlan plan;
  plan.bufferSize = kSize;
  plan.maxTimedSwitches = 4;
  StreamSession session(plan);
  Blocks blocks(session);
  ASIOCallbacks* callbacks = session.Callbacks();
  PositionDriver driver;

  callbacks->bufferSwitch(0, ASIOFalse);  // not active yet: nothing happens
  EXPECT_EQ(session.Switches(), 0u);
  session.Activate(&driver);
  callbacks->bufferSwitch(0, ASIOFalse);
  ASIOTime time = {};
  EXPECT_EQ(callbacks->bufferSwitchTimeInfo(&time, 1, ASIOFalse), nullptr);
  EXPECT_EQ(session.Switches(), 2u);
  session.Deactivate();
  callbacks->bufferSwitch(0, ASIOFalse);
  EXPECT_EQ(session.Switches(), 2u);

  EXPECT_EQ(callbacks->asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr), 1);
  EXPECT_EQ(callbacks->asioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr, nullptr),
            1);
  EXPECT_EQ(callbacks->asioMessage(kAsioSelectorSupported, kAsioSupportsTimeCode, nullptr, nullptr),
            0);
  EXPECT_EQ(callbacks->asioMessage(kAsioEngineVersion, 0, nullptr, nullptr), 2);
  EXPECT_EQ(callbacks->asioMessage(kAsioMMCCommand, 0, nullptr, nullptr), 0);
}

TEST(StreamSession, BufferSizesFollowTheDriversAnswer) {
  // min 64, max 2048, preferred 128, granularity -1: powers of two in range.
  EXPECT_TRUE(DriverSession::BufferSizeAllowed(64, 64, 2048, 128, -1));
  EXPECT_TRUE(DriverSession::BufferSizeAllowed(2048, 64, 2048, 128, -1));
  EXPECT_FALSE(DriverSession::BufferSizeAllowed(96, 64, 2048, 128, -1));
  EXPECT_FALSE(DriverSession::BufferSizeAllowed(32, 64, 2048, 128, -1));
  EXPECT_FALSE(DriverSession::BufferSizeAllowed(4096, 64, 2048, 128, -1));
  // Steps from the minimum.
  EXPECT_TRUE(DriverSession::BufferSizeAllowed(96, 64, 512, 128, 32));
  EXPECT_FALSE(DriverSession::BufferSizeAllowed(100, 64, 512, 128, 32));
  // Granularity 0: only the preferred size.
  EXPECT_TRUE(DriverSession::BufferSizeAllowed(256, 64, 512, 256, 0));
  EXPECT_FALSE(DriverSession::BufferSizeAllowed(128, 64, 512, 256, 0));
  EXPECT_FALSE(DriverSession::BufferSizeAllowed(0, 0, 512, 0, -1));
}

}  // namespace
}  // namespace kx7host

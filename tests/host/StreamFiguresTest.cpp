// The figures a stream run is judged by, and the pieces that produce them without allocating in
// the callback: intervals, position continuity, the recording ring, the progress line, the
// played signals and the search for clicks in the captured input.
#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "host/common/ProgressLine.h"
#include "host/common/Statistics.h"
#include "host/stream/LatencyMeasure.h"
#include "host/stream/SampleRing.h"
#include "host/stream/SignalGenerator.h"

namespace kx7host {
namespace {

TEST(StreamFigures, IntervalsGiveMeanNearestRankP99AndMaximum) {
  // 100 intervals: 98 of 1000 us, one of 3000 us, one of 9000 us.
  std::vector<int64_t> stamps = {0};
  for (int i = 0; i < 98; ++i) stamps.push_back(stamps.back() + 1000000);
  stamps.push_back(stamps.back() + 3000000);
  stamps.push_back(stamps.back() + 9000000);
  const IntervalSummary s = SummarizeIntervals(stamps, 1000.0);
  EXPECT_EQ(s.count, 100u);
  EXPECT_DOUBLE_EQ(s.meanUs, (98 * 1000.0 + 3000 + 9000) / 100);
  EXPECT_DOUBLE_EQ(s.p99Us, 3000.0);  // rank 99 of 100 sorted
  EXPECT_DOUBLE_EQ(s.maxUs, 9000.0);
  EXPECT_DOUBLE_EQ(s.minUs, 1000.0);
  EXPECT_EQ(s.overTwicePeriod, 2u);

  EXPECT_EQ(SummarizeIntervals({}, 1.0).count, 0u);
  EXPECT_EQ(SummarizeIntervals({5}, 1.0).count, 0u);
}

TEST(StreamFigures, PositionsMayStartAtZeroAndMustThenAdvanceByOneBuffer) {
  PositionContinuity c = CheckPositions({0, 0, 0, 128, 256, 384}, 128);
  EXPECT_EQ(c.leadingZeros, 3u);
  EXPECT_EQ(c.steps, 5u);
  EXPECT_EQ(c.discontinuities, 0u);

  c = CheckPositions({0, 0, 128, 256, 512, 640, 640}, 128);
  EXPECT_EQ(c.discontinuities, 2u);
  EXPECT_EQ(c.firstBreak, 4u);
  EXPECT_EQ(c.firstBreakFrom, 256);
  EXPECT_EQ(c.firstBreakTo, 512);

  // A position that falls back to 0 mid-run is a break, not a fresh start.
  EXPECT_EQ(CheckPositions({0, 64, 0, 64}, 64).discontinuities, 1u);
  EXPECT_EQ(CheckPositions({}, 64).steps, 0u);
  EXPECT_EQ(ExpectedSwitches(64 * 1000, 128), 500u);
  EXPECT_EQ(ExpectedSwitches(1000, 0), 0u);
}

TEST(StreamFigures, RingKeepsOrderAcrossWrapAndRefusesWhatDoesNotFit) {
  SampleRing ring(6);  // rounded up to 8
  EXPECT_EQ(ring.Capacity(), 8u);
  std::vector<int32_t> in(8), out(8);
  std::iota(in.begin(), in.end(), 1);
  for (int round = 0; round < 5; ++round) {
    ASSERT_TRUE(ring.Push(in.data(), 6));
    EXPECT_FALSE(ring.Push(in.data(), 3));  // 6 + 3 > 8: nothing is written
    ASSERT_EQ(ring.Pop(out.data(), 4), 4u);
    ASSERT_EQ(ring.Pop(out.data() + 4, 8), 2u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], i + 1) << "round " << round;
  }
  EXPECT_EQ(ring.Pop(out.data(), 8), 0u);
}

TEST(StreamFigures, ProgressIsDrawnOnlyWhenEnabledAndErasedAfterwards) {
  EXPECT_EQ(FormatProgress(2.5, 5.0, 1171, 1),
            "   2.5 s / 5.0 s   1171 buffer switches   1 glitch");
  EXPECT_EQ(FormatProgress(0.0, 60.0, 0, 0), "   0.0 s / 60.0 s   0 buffer switches   0 glitches");

  for (bool enabled : {false, true}) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
      ProgressLine line(file, enabled);
      line.Show("long text");
      line.Show("short");
    }
    std::rewind(file);
    char buffer[128] = {};
    const size_t got = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    const std::string text(buffer, got);
    if (!enabled) {
      EXPECT_EQ(text, "");
    } else {
      // The shorter text covers the longer one's tail; the end clears the line.
      EXPECT_EQ(text, "\rlong text\rshort    \r     \r");
    }
  }
}

TEST(StreamFigures, ClicksFallOnTheirFramesAcrossCallsOnTheLeftOnly) {
  SignalGenerator signal;
  signal.SetClicks(5, 7, 0.5);
  std::vector<int32_t> left(30, -1), right(30, -1);
  for (size_t at = 0; at < 30; at += 4) {  // in pieces that do not divide the period
    const size_t n = std::min<size_t>(4, 30 - at);
    signal.Fill(left.data() + at, right.data() + at, n);
  }
  for (size_t f = 0; f < 30; ++f) {
    const bool click = f == 5 || f == 12 || f == 19 || f == 26;
    EXPECT_EQ(left[f], click ? SampleOfAmplitude(0.5) : 0) << f;
    EXPECT_EQ(right[f], 0) << f;
  }
}

TEST(StreamFigures, ToneAndWavFillBothOutputs) {
  SignalGenerator signal;
  signal.SetTone(12000.0, 48000.0, 1.0);  // a quarter cycle per frame
  std::vector<int32_t> left(8), right(8);
  signal.Fill(left.data(), right.data(), 8);
  EXPECT_EQ(left, right);
  EXPECT_EQ(left[0], 0);
  EXPECT_EQ(left[1], 2147483647);
  EXPECT_EQ(left[5], 2147483647);  // periodic over calls and frames
  EXPECT_NEAR(left[3], -2147483647, 1);

  WavData mono;
  mono.channels = 1;
  mono.samples = {10, 20, 30};
  signal.SetWav(&mono);
  signal.Fill(left.data(), right.data(), 4);
  EXPECT_EQ(std::vector<int32_t>(left.begin(), left.begin() + 4),
            (std::vector<int32_t>{10, 20, 30, 10}));
  EXPECT_EQ(std::vector<int32_t>(right.begin(), right.begin() + 4),
            (std::vector<int32_t>{10, 20, 30, 10}));
  WavData stereo;
  stereo.channels = 3;  // only the first two channels play
  stereo.samples = {1, 2, 3, 4, 5, 6};
  signal.SetWav(&stereo);
  signal.Fill(left.data(), nullptr, 3);
  EXPECT_EQ(std::vector<int32_t>(left.begin(), left.begin() + 3), (std::vector<int32_t>{1, 4, 1}));
}

TEST(StreamFigures, ClicksAreFoundAtTheirDelayAndQuietOrLostOnesAreNot) {
  ClickPlan plan;
  plan.firstFrame = 100;
  plan.periodFrames = 1000;
  plan.clicks = 4;
  plan.clickValue = 1 << 30;
  std::vector<int32_t> input(5100, 3);  // a little noise
  // Clicks 0 and 2 come back inverted and spread over a few frames after 437 frames; click 1 is
  // lost; click 3 comes back too quietly to count.
  for (size_t k : {size_t{0}, size_t{2}}) {
    const size_t at = plan.firstFrame + k * plan.periodFrames + 437;
    input[at - 1] = -(1 << 26);  // below half the peak: not the arrival yet
    input[at] = -(1 << 29);
    input[at + 1] = -(1 << 28);
  }
  input[plan.firstFrame + 3 * plan.periodFrames + 437] = 1 << 26;
  const LatencyMeasurement m = MeasureClicks(input, input.size(), plan);
  EXPECT_EQ(m.clicksFound, 2u);
  EXPECT_EQ(m.medianFrames, 437);
  EXPECT_EQ(m.minFrames, 437);
  EXPECT_EQ(m.maxFrames, 437);

  // Capture that ended early only searches what it holds.
  EXPECT_EQ(MeasureClicks(input, 600, plan).clicksFound, 1u);
  EXPECT_EQ(MeasureClicks({}, 0, plan).clicksFound, 0u);

  const ClickPlan planned = PlanClicks(2048, 48000.0, 8, 1 << 30);
  EXPECT_GE(planned.firstFrame, 5u * 2048);  // past the silent halves and the fade-in
  EXPECT_GT(planned.periodFrames, 2u * 2048 + 256 + 2048);
  EXPECT_EQ(FramesNeeded(planned), planned.firstFrame + 9 * planned.periodFrames);
}

}  // namespace
}  // namespace kx7host

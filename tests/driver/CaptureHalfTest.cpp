// The input half filled by place: gaps stay silence, frames of a gone half are dropped, frames of
// a later half complete this one and wait, and frames before capture began are no loss.
#include <gtest/gtest.h>

#include <vector>

#include "driver/CaptureHalf.h"

namespace {

constexpr uint32_t kHalf = 128;

std::vector<int32_t> Samples(uint32_t count, int32_t value) {
  return std::vector<int32_t>(count, value);
}

TEST(CaptureHalfTest, PacketsGoToTheirPlacesAndAGapStaysSilence) {
  const SampleConverter converter;
  CCaptureHalf captured;
  std::vector<float> half(kHalf, 0.0f);
  captured.SyncAt(0);
  const auto first = Samples(64, 1 << 30);
  EXPECT_EQ(captured.Take(converter, first.data(), 32, 0, half.data(), kHalf), 32u);
  EXPECT_FALSE(captured.Complete(kHalf));
  // Frames 32..63 never came; the next packet starts at 64 and runs 32 frames past the half.
  const auto second = Samples(96, -(1 << 30));
  EXPECT_EQ(captured.Take(converter, second.data(), 96, 64, half.data(), kHalf), 64u);
  EXPECT_TRUE(captured.Complete(kHalf)) << "a frame of the next half has come";
  EXPECT_EQ(captured.Missing(kHalf), 32u);
  float up = 0, down = 0;
  converter.CaptureInt32ToFloat(first.data(), &up, 1);
  converter.CaptureInt32ToFloat(second.data(), &down, 1);
  ASSERT_NE(up, down);
  EXPECT_EQ(half[31], up);
  for (uint32_t f = 32; f < 64; ++f) ASSERT_EQ(half[f], 0.0f) << f;
  EXPECT_EQ(half[64], down);

  // The next half starts silent and takes the rest of the packet at its start.
  half.assign(kHalf, 7.0f);
  captured.NextHalf(half.data(), kHalf);
  EXPECT_EQ(captured.Base(), kHalf);
  for (float sample : half) ASSERT_EQ(sample, 0.0f);
  EXPECT_EQ(captured.Take(converter, second.data() + 64, 32, 128, half.data(), kHalf), 32u);
  EXPECT_EQ(half[0], down);
  EXPECT_EQ(captured.Missing(kHalf), kHalf - 32);
}

TEST(CaptureHalfTest, FramesOfAGoneHalfAreDroppedAndFramesBeforeTheStartAreNoLoss) {
  const SampleConverter converter;
  CCaptureHalf captured;
  std::vector<float> half(kHalf, 0.0f);
  captured.SyncAt(96);  // the microphone delivered nothing before frame 96
  const auto samples = Samples(64, 1 << 20);
  EXPECT_EQ(captured.Take(converter, samples.data(), 32, 96, half.data(), kHalf), 32u);
  EXPECT_TRUE(captured.Complete(kHalf));
  EXPECT_EQ(captured.Missing(kHalf), 0u);
  captured.NextHalf(half.data(), kHalf);
  // A late packet whose first half belongs to the half that has gone: that part is dropped.
  EXPECT_EQ(captured.Take(converter, samples.data(), 64, 96, half.data(), kHalf), 64u);
  EXPECT_NE(half[0], 0.0f);
  EXPECT_EQ(half[32], 0.0f);
  EXPECT_EQ(captured.Missing(kHalf), kHalf - 32);
}

}  // namespace

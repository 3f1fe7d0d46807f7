// Bit-exact checks of every conversion between device, container, float and host formats.
#include "streaming/SampleConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

int32_t FloatToInt(float value) {
  float buffer[1] = {value};
  SampleConverter().Float32ToInt32InPlace(buffer, 1);
  int32_t result;
  std::memcpy(&result, buffer, sizeof result);
  return result;
}

float IntToFloat(int32_t value) {
  float out = 0;
  SampleConverter().Int32ToFloat32(&value, &out, 1);
  return out;
}

float CaptureToFloat(int32_t value) {
  float out = 0;
  SampleConverter().CaptureInt32ToFloat(&value, &out, 1);
  return out;
}

uint32_t Expand(uint8_t b0, uint8_t b1, uint8_t b2) {
  uint8_t buffer[4] = {b0, b1, b2, 0xEE};
  SampleConverter().Int24PackedToInt32InPlace(buffer, 1);
  uint32_t result;
  std::memcpy(&result, buffer, sizeof result);
  return result;
}

std::vector<uint8_t> Pack(int32_t value) {
  int32_t buffer[1] = {value};
  SampleConverter().Int32ToInt24PackedInPlace(buffer, 1);
  const auto* bytes = reinterpret_cast<const uint8_t*>(buffer);
  return {bytes[0], bytes[1], bytes[2]};
}

TEST(SampleConverter, ExpandsPackedSamplesLeftJustified) {
  EXPECT_EQ(Expand(0x00, 0x00, 0x80), 0x80000000u);
  EXPECT_EQ(Expand(0xFF, 0xFF, 0x7F), 0x7FFFFF00u);
  EXPECT_EQ(Expand(0x01, 0x00, 0x00), 0x00000100u);
}

TEST(SampleConverter, ExpandsInPlaceWithinFourBytesPerSample) {
  std::vector<uint8_t> buffer(4 * 5 + 4, 0xAB);
  for (int i = 0; i < 5; ++i) {
    buffer[3 * i] = static_cast<uint8_t>(i);
    buffer[3 * i + 1] = static_cast<uint8_t>(0x10 + i);
    buffer[3 * i + 2] = static_cast<uint8_t>(0x20 + i);
  }
  SampleConverter().Int24PackedToInt32InPlace(buffer.data(), 5);
  for (int i = 0; i < 5; ++i) {
    uint32_t value;
    std::memcpy(&value, &buffer[4 * i], sizeof value);
    EXPECT_EQ(value, (0x20u + i) << 24 | (0x10u + i) << 16 | static_cast<uint32_t>(i) << 8) << i;
  }
  for (size_t i = 20; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xAB) << i;
}

TEST(SampleConverter, PacksBitsEightToThirtyOneWithoutRounding) {
  EXPECT_EQ(Pack(0x12345678), (std::vector<uint8_t>{0x56, 0x34, 0x12}));
  EXPECT_EQ(Pack(-1), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Pack(0x000000FF), (std::vector<uint8_t>{0x00, 0x00, 0x00}));
}

TEST(SampleConverter, PacksInPlaceWritingExactlyThreeBytesPerSample) {
  int32_t buffer[4] = {0x11223344, 0x55667788, 0x0A0B0C0D, 0x7E7E7E7E};
  SampleConverter().Int32ToInt24PackedInPlace(buffer, 3);
  const auto* bytes = reinterpret_cast<const uint8_t*>(buffer);
  const uint8_t expected[9] = {0x33, 0x22, 0x11, 0x77, 0x66, 0x55, 0x0C, 0x0B, 0x0A};
  EXPECT_EQ(std::memcmp(bytes, expected, 9), 0);
  // Bytes 9 to 11 still hold the third source sample's tail; the fourth sample is untouched.
  EXPECT_EQ(bytes[9], 0x0C);
  EXPECT_EQ(buffer[3], 0x7E7E7E7E);
}

TEST(SampleConverter, FloatToHostScalesAndTruncates) {
  EXPECT_EQ(FloatToInt(1.0f), 2147483647);
  EXPECT_EQ(FloatToInt(-1.0f), -2147483647);
  EXPECT_EQ(FloatToInt(0.5f), 1073741823);
  EXPECT_EQ(FloatToInt(-0.5f), -1073741823);
  EXPECT_EQ(FloatToInt(0.0f), 0);
}

TEST(SampleConverter, FloatToHostSaturatesInsteadOfWrapping) {
  EXPECT_EQ(FloatToInt(1.5f), kMax);
  EXPECT_EQ(FloatToInt(-1.5f), kMin);
  EXPECT_EQ(FloatToInt(std::numeric_limits<float>::infinity()), kMax);
  EXPECT_EQ(FloatToInt(-std::numeric_limits<float>::infinity()), kMin);
  EXPECT_EQ(FloatToInt(std::nanf("")), 0);
}

TEST(SampleConverter, HostToFloatScalesByTwoToTheMinus31) {
  EXPECT_EQ(IntToFloat(0), 0.0f);
  EXPECT_EQ(IntToFloat(1), 4.656612873077393e-10f);
  EXPECT_EQ(IntToFloat(0x40000000), 0.5f);
  EXPECT_EQ(IntToFloat(kMin), -1.0f);
  EXPECT_EQ(IntToFloat(kMax), 1.0f);
}

TEST(SampleConverter, CaptureToFloatInvertsTheSign) {
  EXPECT_EQ(CaptureToFloat(kMin), 1.0f);
  EXPECT_EQ(CaptureToFloat(0x7FFFFF00), -0.99999988079071044921875f);
  EXPECT_EQ(CaptureToFloat(0), 0.0f);
}

TEST(SampleConverter, RenderFloatInvertsAndSaturates) {
  const SampleConverter converter;
  EXPECT_EQ(converter.RenderFloatToInt32(0.5f), -1073741824);
  EXPECT_EQ(converter.RenderFloatToInt32(1.0f), kMin);
  EXPECT_EQ(converter.RenderFloatToInt32(0.0f), 0);
  // The host's most negative sample leaves as the most positive one, not as a wrapped extreme.
  EXPECT_EQ(converter.RenderFloatToInt32(-1.0f), kMax);
  EXPECT_EQ(converter.RenderFloatToInt32(-3.0f), kMax);
  EXPECT_EQ(converter.RenderFloatToInt32(3.0f), kMin);
  EXPECT_EQ(converter.RenderFloatToInt32(std::nanf("")), 0);
}

TEST(SampleConverter, CapturePathEndToEnd) {
  // Device value -> container -> float -> host: the magnitude drops by exactly one unit.
  const SampleConverter converter;
  for (const auto& [device, host] : std::vector<std::pair<int32_t, int32_t>>{
           {65536, -65535}, {256, -255}, {kMin, kMax}, {0, 0}}) {
    float value = 0;
    converter.CaptureInt32ToFloat(&device, &value, 1);
    converter.Float32ToInt32InPlace(&value, 1);
    int32_t result;
    std::memcpy(&result, &value, sizeof result);
    EXPECT_EQ(result, host) << device;
  }
}

TEST(SampleConverter, RenderPathEndToEnd) {
  const SampleConverter converter;
  for (const auto& [host, bytes] :
       std::vector<std::pair<int32_t, std::vector<uint8_t>>>{{1 << 30, {0x00, 0x00, 0xC0}},
                                                             {1, {0xFF, 0xFF, 0xFF}},
                                                             {0x12345678, {0xA9, 0xCB, 0xED}}}) {
    float value = 0;
    converter.Int32ToFloat32(&host, &value, 1);
    EXPECT_EQ(Pack(converter.RenderFloatToInt32(value)), bytes) << host;
  }
}

TEST(SampleConverter, RenderBlockInterleavesFadesInAndSilencesAMissingChannel) {
  const SampleConverter converter;
  std::vector<float> left(64);
  std::vector<float> right(64);
  for (int f = 0; f < 64; ++f) {
    left[f] = 0.5f - f / 128.0f;
    right[f] = -1.0f + f / 32.0f;
  }
  int32_t block[128];
  converter.RenderFloatToInt32Block(left.data(), right.data(), block, 64, false);
  for (int f = 0; f < 64; ++f) {
    EXPECT_EQ(block[2 * f], converter.RenderFloatToInt32(left[f])) << f;
    EXPECT_EQ(block[2 * f + 1], converter.RenderFloatToInt32(right[f])) << f;
  }
  // The fade-in scales frame f by f/64 after the conversion: frame 0 is silent, frame 32 halved.
  converter.RenderFloatToInt32Block(left.data(), nullptr, block, 64, true);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(block[64], converter.RenderFloatToInt32(left[32]) / 2);
  EXPECT_EQ(
      block[126],
      static_cast<int32_t>(static_cast<float>(converter.RenderFloatToInt32(left[63])) * 0.984375f));
  for (int f = 0; f < 64; ++f) EXPECT_EQ(block[2 * f + 1], 0) << f;
}

TEST(SampleConverter, ZeroCountTouchesNothing) {
  const SampleConverter converter;
  uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  converter.Int24PackedToInt32InPlace(bytes, 0);
  converter.Int32ToInt24PackedInPlace(reinterpret_cast<int32_t*>(bytes), 0);
  converter.Float32ToInt32InPlace(reinterpret_cast<float*>(bytes), 0);
  const uint8_t expected[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(std::memcmp(bytes, expected, 8), 0);
  float out = 7.0f;
  const int32_t in = 5;
  converter.Int32ToFloat32(&in, &out, 0);
  converter.CaptureInt32ToFloat(&in, &out, 0);
  EXPECT_EQ(out, 7.0f);
  int32_t block[2] = {9, 9};
  converter.RenderFloatToInt32Block(&out, &out, block, 0, true);
  EXPECT_EQ(block[0], 9);
}

}  // namespace

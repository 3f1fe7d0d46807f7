#include "streaming/SampleConverter.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr float kTwoPowMinus31 = 4.656612873077393e-10f;  // bits 0x30000000
constexpr float kMinusTwoPow31 = -2147483648.0f;          // bits 0xCF000000
constexpr double kFloatToInt32Scale = 2147483647.49999;
constexpr double kInt32Limit = 2147483648.0;  // 2^31

// Truncates toward zero and saturates to the signed 32-bit range; NaN gives 0. Without the
// saturation a full-scale sample would wrap to the opposite extreme, an audible click.
int32_t TruncateSaturated(double value) {
  if (std::isnan(value)) return 0;
  if (value >= kInt32Limit) return std::numeric_limits<int32_t>::max();
  if (value <= -kInt32Limit) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace

void SampleConverter::Int24PackedToInt32InPlace(uint8_t* buffer, uint32_t count) const {
  for (uint32_t i = count; i-- > 0;) {
    const uint8_t* in = buffer + 3u * i;
    const uint32_t value = (static_cast<uint32_t>(in[2]) << 24) |
                           (static_cast<uint32_t>(in[1]) << 16) |
                           (static_cast<uint32_t>(in[0]) << 8);
    std::memcpy(buffer + 4u * i, &value, sizeof value);
  }
}

void SampleConverter::Int32ToInt24PackedInPlace(int32_t* buffer, uint32_t count) const {
  auto* bytes = reinterpret_cast<uint8_t*>(buffer);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t value;
    std::memcpy(&value, bytes + 4u * i, sizeof value);
    uint8_t* out = bytes + 3u * i;
    out[0] = static_cast<uint8_t>(value >> 8);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 24);
  }
}

void SampleConverter::Float32ToInt32InPlace(float* buffer, uint32_t count) const {
  auto* bytes = reinterpret_cast<uint8_t*>(buffer);
  for (uint32_t i = 0; i < count; ++i) {
    float sample;
    std::memcpy(&sample, bytes + 4u * i, sizeof sample);
    const int32_t value = TruncateSaturated(static_cast<double>(sample) * kFloatToInt32Scale);
    std::memcpy(bytes + 4u * i, &value, sizeof value);
  }
}

void SampleConverter::Int32ToFloat32(const int32_t* source, float* destination,
                                     uint32_t count) const {
  for (uint32_t i = 0; i < count; ++i) {
    destination[i] = static_cast<float>(source[i]) * kTwoPowMinus31;
  }
}

void SampleConverter::CaptureInt32ToFloat(const int32_t* source, float* destination,
                                          uint32_t count) const {
  for (uint32_t i = 0; i < count; ++i) {
    destination[i] = static_cast<float>(source[i]) * -kTwoPowMinus31;
  }
}

int32_t SampleConverter::RenderFloatToInt32(float sample) const {
  const float product = sample * kMinusTwoPow31;  // single-precision product, as the device expects
  return TruncateSaturated(static_cast<double>(product));
}

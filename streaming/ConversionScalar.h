// One sample of each conversion, in plain scalar code: the whole of the portable kernels and the
// tails that the vector kernels leave over. Every vector kernel must give exactly these results.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace conversion {

constexpr float kTwoPowMinus31 = 4.656612873077393e-10f;  // bits 0x30000000
constexpr float kMinusTwoPow31 = -2147483648.0f;          // bits 0xCF000000
constexpr double kFloatToInt32Scale = 2147483647.49999;
constexpr double kInt32Limit = 2147483648.0;  // 2^31
constexpr float kFadeStep = 0.015625f;        // 1/64: the fade-in rises over 64 frames
constexpr uint32_t kFadeFrames = 64;

// Truncates toward zero and saturates to the signed 32-bit range; NaN gives 0. Without the
// saturation a full-scale sample would wrap to the opposite extreme, an audible click.
inline int32_t TruncateSaturated(double value) {
  if (std::isnan(value)) return 0;
  if (value >= kInt32Limit) return INT32_MAX;
  if (value <= -kInt32Limit) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// Expands samples [first, last) of a packed 24-bit buffer in place, last first, so that every
// sample is read before a wider write can reach it.
inline void ExpandPacked24(uint8_t* buffer, uint32_t first, uint32_t last) {
  for (uint32_t i = last; i-- > first;) {
    const uint8_t* in = buffer + 3u * i;
    const uint32_t value = (static_cast<uint32_t>(in[2]) << 24) |
                           (static_cast<uint32_t>(in[1]) << 16) |
                           (static_cast<uint32_t>(in[0]) << 8);
    std::memcpy(buffer + 4u * i, &value, sizeof value);
  }
}

// Packs samples [first, last) of 32-bit samples to their bits 8 to 31, first to last, into a
// destination that is the source itself (the write position 3i never passes the read position
// 4i) or does not overlap it.
inline void PackTo24(const uint8_t* source, uint8_t* destination, uint32_t first, uint32_t last) {
  for (uint32_t i = first; i < last; ++i) {
    uint32_t value;
    std::memcpy(&value, source + 4u * i, sizeof value);
    uint8_t* out = destination + 3u * i;
    out[0] = static_cast<uint8_t>(value >> 8);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 24);
  }
}

// Floats [first, last) to host integers in the same storage, scaled by 2147483647.49999 in double.
inline void FloatToHost(uint8_t* buffer, uint32_t first, uint32_t last) {
  for (uint32_t i = first; i < last; ++i) {
    float sample;
    std::memcpy(&sample, buffer + 4u * i, sizeof sample);
    const int32_t value = TruncateSaturated(static_cast<double>(sample) * kFloatToInt32Scale);
    std::memcpy(buffer + 4u * i, &value, sizeof value);
  }
}

inline void IntToFloat(const int32_t* source, float* destination, uint32_t first, uint32_t last,
                       float scale) {
  for (uint32_t i = first; i < last; ++i) destination[i] = static_cast<float>(source[i]) * scale;
}

// One float to a device integer: the single-precision product with -2^31, saturated.
inline int32_t RenderSample(float sample) {
  return TruncateSaturated(static_cast<double>(sample * kMinusTwoPow31));
}

// Frames [first, last) of a stereo render block; a missing channel is silence, and with
// `fadeIn` frame f below 64 is scaled by f/64 after the conversion.
inline void RenderFrames(const float* left, const float* right, int32_t* block, uint32_t first,
                         uint32_t last, bool fadeIn) {
  for (uint32_t f = first; f < last; ++f) {
    int32_t* frame = block + 2u * f;
    frame[0] = left != nullptr ? RenderSample(left[f]) : 0;
    frame[1] = right != nullptr ? RenderSample(right[f]) : 0;
    if (fadeIn && f < kFadeFrames) {
      const float gain = static_cast<float>(f) * kFadeStep;
      frame[0] = static_cast<int32_t>(static_cast<float>(frame[0]) * gain);
      frame[1] = static_cast<int32_t>(static_cast<float>(frame[1]) * gain);
    }
  }
}

}  // namespace conversion

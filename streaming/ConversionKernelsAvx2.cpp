// The AVX2 kernels, eight samples at a time. Only these functions are built for AVX2, and they
// run only where the CPU has it, so the library still loads and runs on any x86-64 CPU. The
// tails go through the scalar conversions.
#include <immintrin.h>

#include "streaming/ConversionKernels.h"
#include "streaming/ConversionScalar.h"

#pragma GCC push_options
#pragma GCC target("avx2")

namespace {

// Samples 0-3 of 32 packed bytes (from 0) to the low 128-bit lane, 4-7 to the high one, then
// each to bytes 1-3 of its 32-bit slot.
__m256i ExpandOctet(const uint8_t* packed) {
  const __m256i toLanes = _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0);
  const __m256i toSlots = _mm256_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,
                                           0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
  const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(packed));
  return _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(bytes, toLanes), toSlots);
}

// In-place expansion runs from the end, 16 samples a step: both octets are read (32 bytes at
// 3i each) before either is written (at 4i), and the writes of a step start at 4i, past what
// any later step reads (up to 3i + 8).
void ExpandPacked24(uint8_t* buffer, uint32_t count) {
  const uint32_t blocks = count & ~7u;
  conversion::ExpandPacked24(buffer, blocks, count);
  uint32_t i = blocks;
  for (; i >= 16; i -= 16) {
    const __m256i high = ExpandOctet(buffer + 3u * (i - 8));
    const __m256i low = ExpandOctet(buffer + 3u * (i - 16));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(buffer + 4u * (i - 8)), high);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(buffer + 4u * (i - 16)), low);
  }
  if (i != 0) _mm256_storeu_si256(reinterpret_cast<__m256i*>(buffer), ExpandOctet(buffer));
}

// Eight samples' bits 8-31 as 24 bytes at the bottom of a vector: bytes 1-3 of each slot to the
// front of its lane, then the two lanes' 12 bytes side by side.
__m256i PackOctet(const uint8_t* samples) {
  const __m256i fromSlots =
      _mm256_setr_epi8(1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15, -1, -1, -1, -1, 1, 2, 3, 5, 6, 7, 9,
                       10, 11, 13, 14, 15, -1, -1, -1, -1);
  const __m256i joinLanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
  const __m256i values = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples));
  return _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(values, fromSlots), joinLanes);
}

// Packing runs forward, which is safe in place: each octet is read before its 24 bytes are
// written at 3i, short of the next octet at 4i + 32. A full 32-byte store spills 8 bytes that the
// next octet rewrites; the last octet stores its 24 bytes exactly, so nothing past 3 x count
// changes.
void PackTo24(const uint8_t* source, uint8_t* destination, uint32_t count) {
  uint32_t i = 0;
  for (; i + 24 <= count; i += 16) {
    const __m256i first = PackOctet(source + 4u * i);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 3u * i), first);
    const __m256i second = PackOctet(source + 4u * i + 32);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 3u * i + 24), second);
  }
  for (; i + 8 <= count; i += 8) {
    const __m256i packed = PackOctet(source + 4u * i);
    uint8_t* out = destination + 3u * i;
    if (i + 16 <= count) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(packed, 1));
    }
  }
  conversion::PackTo24(source, destination, i, count);
}

// Eight floats to host integers with single-precision steps only; see FloatToHostQuad in the
// SSE2 kernels for why this equals the truncated double product.
__m256i FloatToHostOctet(__m256 samples) {
  const __m256 limit = _mm256_set1_ps(2147483648.0f);
  const __m256 scaled = _mm256_mul_ps(samples, limit);
  const __m256i truncated = _mm256_cvttps_epi32(scaled);
  const __m256i whole =
      _mm256_castps_si256(_mm256_cmp_ps(_mm256_cvtepi32_ps(truncated), scaled, _CMP_EQ_OQ));
  const __m256i value = _mm256_add_epi32(truncated, _mm256_sign_epi32(whole, truncated));
  const __m256i above = _mm256_castps_si256(_mm256_cmp_ps(scaled, limit, _CMP_GE_OQ));
  const __m256i ordered = _mm256_castps_si256(_mm256_cmp_ps(scaled, scaled, _CMP_ORD_Q));
  return _mm256_and_si256(_mm256_xor_si256(value, above), ordered);
}

// The same without the saturation and NaN steps, right for samples strictly between -1 and 1,
// which is nearly all audio. Every other sample truncates to 0x80000000, which `lowest` keeps.
__m256i FloatToHostWithin(__m256 samples, __m256i& lowest) {
  const __m256 scaled = _mm256_mul_ps(samples, _mm256_set1_ps(2147483648.0f));
  const __m256i truncated = _mm256_cvttps_epi32(scaled);
  const __m256i whole =
      _mm256_castps_si256(_mm256_cmp_ps(_mm256_cvtepi32_ps(truncated), scaled, _CMP_EQ_OQ));
  lowest = _mm256_min_epi32(lowest, truncated);
  return _mm256_add_epi32(truncated, _mm256_sign_epi32(whole, truncated));
}

bool HoldsLowest(__m256i values) {
  return _mm256_movemask_epi8(_mm256_cmpeq_epi32(values, _mm256_set1_epi32(INT32_MIN))) != 0;
}

// Runs of 32 samples take the short path, and the full one only when a sample is out of range;
// nothing is stored before the run's check, since the conversion is in place.
void FloatToHost(uint8_t* buffer, uint32_t count) {
  constexpr uint32_t kOctets = 4;
  uint32_t i = 0;
  for (; i + 8 * kOctets <= count; i += 8 * kOctets) {
    auto* at = reinterpret_cast<__m256i*>(buffer + 4u * i);
    __m256i lowest = _mm256_set1_epi32(INT32_MAX);
    __m256i values[kOctets];
#pragma GCC unroll 4
    for (uint32_t k = 0; k < kOctets; ++k) {
      values[k] = FloatToHostWithin(_mm256_castsi256_ps(_mm256_loadu_si256(at + k)), lowest);
    }
    if (HoldsLowest(lowest)) {
#pragma GCC unroll 4
      for (uint32_t k = 0; k < kOctets; ++k) {
        values[k] = FloatToHostOctet(_mm256_castsi256_ps(_mm256_loadu_si256(at + k)));
      }
    }
#pragma GCC unroll 4
    for (uint32_t k = 0; k < kOctets; ++k) _mm256_storeu_si256(at + k, values[k]);
  }
  for (; i + 8 <= count; i += 8) {
    auto* at = reinterpret_cast<__m256i*>(buffer + 4u * i);
    _mm256_storeu_si256(at, FloatToHostOctet(_mm256_castsi256_ps(_mm256_loadu_si256(at))));
  }
  conversion::FloatToHost(buffer, i, count);
}

__m256 IntToFloatOctet(const int32_t* source, __m256 factor) {
  const __m256i samples = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source));
  return _mm256_mul_ps(_mm256_cvtepi32_ps(samples), factor);
}

void IntToFloat(const int32_t* source, float* destination, uint32_t count, float scale) {
  const __m256 factor = _mm256_set1_ps(scale);
  uint32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    _mm256_storeu_ps(destination + i, IntToFloatOctet(source + i, factor));
    _mm256_storeu_ps(destination + i + 8, IntToFloatOctet(source + i + 8, factor));
  }
  if (i + 8 <= count) {
    _mm256_storeu_ps(destination + i, IntToFloatOctet(source + i, factor));
    i += 8;
  }
  conversion::IntToFloat(source, destination, i, count, scale);
}

// Eight floats to device integers. The conversion gives 0x80000000 for NaN and for products out
// of range; NaN is zeroed first, and products at or above 2^31 flip to 0x7FFFFFFF.
__m256i RenderOctet(const float* samples) {
  const __m256 product =
      _mm256_mul_ps(_mm256_loadu_ps(samples), _mm256_set1_ps(conversion::kMinusTwoPow31));
  const __m256 above = _mm256_cmp_ps(product, _mm256_set1_ps(2147483648.0f), _CMP_GE_OQ);
  const __m256i value =
      _mm256_cvttps_epi32(_mm256_and_ps(product, _mm256_cmp_ps(product, product, _CMP_ORD_Q)));
  return _mm256_xor_si256(value, _mm256_castps_si256(above));
}

// The bare conversion, right unless the product is at or above 2^31 or NaN; both give
// 0x80000000, which `lowest` keeps.
__m256i RenderOctetWithin(const float* samples, __m256i& lowest) {
  const __m256i value = _mm256_cvttps_epi32(
      _mm256_mul_ps(_mm256_loadu_ps(samples), _mm256_set1_ps(conversion::kMinusTwoPow31)));
  lowest = _mm256_min_epi32(lowest, value);
  return value;
}

__m256i FadeOctet(__m256i samples, uint32_t frame) {
  const __m256 frames = _mm256_cvtepi32_ps(_mm256_add_epi32(
      _mm256_set1_epi32(static_cast<int32_t>(frame)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
  const __m256 gain = _mm256_mul_ps(frames, _mm256_set1_ps(conversion::kFadeStep));
  return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(samples), gain));
}

// Eight frames, left beside right: within each lane frames 0, 1 | 4, 5 and 2, 3 | 6, 7, then the
// lanes put in order.
void StoreFrames(int32_t* out, __m256i left, __m256i right) {
  const __m256i low = _mm256_unpacklo_epi32(left, right);
  const __m256i high = _mm256_unpackhi_epi32(left, right);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(low, high, 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8),
                      _mm256_permute2x128_si256(low, high, 0x31));
}

// Octets [0, end) of a render block in full, a missing channel silent and the frames below 64
// faded with `fadeIn`.
void RenderOctets(const float* left, const float* right, int32_t* block, uint32_t end,
                  bool fadeIn) {
  for (uint32_t f = 0; f < end; f += 8) {
    __m256i l = left != nullptr ? RenderOctet(left + f) : _mm256_setzero_si256();
    __m256i r = right != nullptr ? RenderOctet(right + f) : _mm256_setzero_si256();
    if (fadeIn && f < conversion::kFadeFrames) {
      l = FadeOctet(l, f);
      r = FadeOctet(r, f);
    }
    StoreFrames(block + 2u * f, l, r);
  }
}

// Octets [f, end) with the bare conversion, a missing channel silent, and faded with kFade (all
// of them below frame 64). Returns the lowest value converted.
template <bool kFade>
__m256i RenderOctetsWithin(const float* left, const float* right, int32_t* block, uint32_t f,
                           uint32_t end) {
  __m256i lowest = _mm256_set1_epi32(INT32_MAX);
  for (; f < end; f += 8) {
    __m256i l = left != nullptr ? RenderOctetWithin(left + f, lowest) : _mm256_setzero_si256();
    __m256i r = right != nullptr ? RenderOctetWithin(right + f, lowest) : _mm256_setzero_si256();
    if (kFade) {
      l = FadeOctet(l, f);
      r = FadeOctet(r, f);
    }
    StoreFrames(block + 2u * f, l, r);
  }
  return lowest;
}

// Both channels, octets [f, end), sixteen frames a step where they can be, with the bare
// conversion and no fade. Returns the lowest value converted.
__m256i RenderStereoOctetsWithin(const float* left, const float* right, int32_t* block, uint32_t f,
                                 uint32_t end) {
  __m256i lowest = _mm256_set1_epi32(INT32_MAX);
  for (; f + 16 <= end; f += 16) {
    const __m256i l0 = RenderOctetWithin(left + f, lowest);
    const __m256i r0 = RenderOctetWithin(right + f, lowest);
    const __m256i l1 = RenderOctetWithin(left + f + 8, lowest);
    const __m256i r1 = RenderOctetWithin(right + f + 8, lowest);
    StoreFrames(block + 2u * f, l0, r0);
    StoreFrames(block + 2u * f + 16, l1, r1);
  }
  if (f < end) {
    const __m256i l = RenderOctetWithin(left + f, lowest);
    StoreFrames(block + 2u * f, l, RenderOctetWithin(right + f, lowest));
  }
  return lowest;
}

// The bare conversion first; a block that shows a product at or above 2^31 or a NaN is
// converted again in full. The frames that fade and blocks with a missing channel take the
// general loop.
void RenderFrames(const float* left, const float* right, int32_t* block, uint32_t frames,
                  bool fadeIn) {
  const uint32_t octets = frames & ~7u;
  uint32_t f = 0;
  __m256i lowest = _mm256_set1_epi32(INT32_MAX);
  if (fadeIn) {
    f = octets < conversion::kFadeFrames ? octets : conversion::kFadeFrames;
    lowest = RenderOctetsWithin<true>(left, right, block, 0, f);
  }
  const __m256i rest = left != nullptr && right != nullptr
                           ? RenderStereoOctetsWithin(left, right, block, f, octets)
                           : RenderOctetsWithin<false>(left, right, block, f, octets);
  if (HoldsLowest(_mm256_min_epi32(lowest, rest))) RenderOctets(left, right, block, octets, fadeIn);
  conversion::RenderFrames(left, right, block, octets, frames, fadeIn);
}

constexpr ConversionKernels kAvx2 = {"avx2",      ExpandPacked24, PackTo24,
                                     FloatToHost, IntToFloat,     RenderFrames};

}  // namespace

#pragma GCC pop_options

const ConversionKernels& Avx2ConversionKernels() { return kAvx2; }

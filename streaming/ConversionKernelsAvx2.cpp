// The AVX2 kernels, eight samples at a time. Only these functions are built for AVX2, and they
// run only where the CPU has it, so the library still loads and runs on any x86-64 CPU. The
// tails go through the scalar conversions.
#include <immintrin.h>

#include "streaming/ConversionKernels.h"
#include "streaming/ConversionScalar.h"

#pragma GCC push_options
#pragma GCC target("avx2")

namespace {

// In-place expansion runs block by block from the end: a block reads 32 bytes at 3i before it
// writes 32 at 4i, and the block below it reads no further than 3i + 8, short of 4i.
void ExpandPacked24(uint8_t* buffer, uint32_t count) {
  const uint32_t blocks = count & ~7u;
  conversion::ExpandPacked24(buffer, blocks, count);
  // Samples 0-3 to the low 128-bit lane, 4-7 to the high one, then each to bytes 1-3 of its slot.
  const __m256i toLanes = _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0);
  const __m256i toSlots = _mm256_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,
                                           0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
  for (uint32_t i = blocks; i != 0;) {
    i -= 8;
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(buffer + 3u * i));
    const __m256i samples =
        _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(bytes, toLanes), toSlots);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(buffer + 4u * i), samples);
  }
}

// Packing runs forward, which is safe in place. A full 32-byte store at 3i spills 8 bytes that
// the next block rewrites; the last block stores its 24 bytes exactly, so nothing past 3 x count
// changes.
void PackTo24(const uint8_t* source, uint8_t* destination, uint32_t count) {
  // Bytes 1-3 of each slot to the front of its lane, then the two lanes' 12 bytes side by side.
  const __m256i fromSlots =
      _mm256_setr_epi8(1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15, -1, -1, -1, -1, 1, 2, 3, 5, 6, 7, 9,
                       10, 11, 13, 14, 15, -1, -1, -1, -1);
  const __m256i joinLanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
  uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i samples = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + 4u * i));
    const __m256i packed =
        _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(samples, fromSlots), joinLanes);
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

void IntToFloat(const int32_t* source, float* destination, uint32_t count, float scale) {
  const __m256 factor = _mm256_set1_ps(scale);
  uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i samples = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i));
    _mm256_storeu_ps(destination + i, _mm256_mul_ps(_mm256_cvtepi32_ps(samples), factor));
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

__m256i FadeOctet(__m256i samples, uint32_t frame) {
  const __m256 frames = _mm256_cvtepi32_ps(_mm256_add_epi32(
      _mm256_set1_epi32(static_cast<int32_t>(frame)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
  const __m256 gain = _mm256_mul_ps(frames, _mm256_set1_ps(conversion::kFadeStep));
  return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(samples), gain));
}

// The whole octets of a render block, each sample through `convert`; returns the frames done.
template <typename Convert>
uint32_t RenderOctets(const float* left, const float* right, int32_t* block, uint32_t frames,
                      bool fadeIn, Convert convert) {
  uint32_t f = 0;
  for (; f + 8 <= frames; f += 8) {
    __m256i l = left != nullptr ? convert(left + f) : _mm256_setzero_si256();
    __m256i r = right != nullptr ? convert(right + f) : _mm256_setzero_si256();
    if (fadeIn && f < conversion::kFadeFrames) {
      l = FadeOctet(l, f);
      r = FadeOctet(r, f);
    }
    // Within each lane: frames 0, 1 | 4, 5 and 2, 3 | 6, 7; the lanes are then put in order.
    const __m256i low = _mm256_unpacklo_epi32(l, r);
    const __m256i high = _mm256_unpackhi_epi32(l, r);
    auto* out = reinterpret_cast<__m256i*>(block + 2u * f);
    _mm256_storeu_si256(out, _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(low, high, 0x31));
  }
  return f;
}

// The bare conversion is right unless a product is at or above 2^31 or NaN; both give
// 0x80000000, and a block that shows one is converted again in full.
void RenderFrames(const float* left, const float* right, int32_t* block, uint32_t frames,
                  bool fadeIn) {
  __m256i lowest = _mm256_set1_epi32(INT32_MAX);
  const uint32_t done =
      RenderOctets(left, right, block, frames, fadeIn, [&lowest](const float* samples) {
        const __m256i value = _mm256_cvttps_epi32(
            _mm256_mul_ps(_mm256_loadu_ps(samples), _mm256_set1_ps(conversion::kMinusTwoPow31)));
        lowest = _mm256_min_epi32(lowest, value);
        return value;
      });
  if (HoldsLowest(lowest)) RenderOctets(left, right, block, frames, fadeIn, RenderOctet);
  conversion::RenderFrames(left, right, block, done, frames, fadeIn);
}

constexpr ConversionKernels kAvx2 = {"avx2",      ExpandPacked24, PackTo24,
                                     FloatToHost, IntToFloat,     RenderFrames};

}  // namespace

#pragma GCC pop_options

const ConversionKernels& Avx2ConversionKernels() { return kAvx2; }

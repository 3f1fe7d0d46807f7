// The SSE2 kernels, four samples at a time; SSE2 is part of every x86-64 CPU. The tails go
// through the scalar conversions.
#include <emmintrin.h>

#include "streaming/ConversionKernels.h"
#include "streaming/ConversionScalar.h"

namespace {

// In-place expansion runs block by block from the end: a block reads 16 bytes at 3i before it
// writes 16 at 4i, and the block below it reads no further than 3i + 4, short of 4i.
void ExpandPacked24(uint8_t* buffer, uint32_t count) {
  const uint32_t blocks = count & ~3u;
  conversion::ExpandPacked24(buffer, blocks, count);
  const __m128i lowSample = _mm_set1_epi64x(0x00000000FFFFFF00);
  const __m128i highSample = _mm_set1_epi64x(static_cast<int64_t>(0xFFFFFF0000000000));
  for (uint32_t i = blocks; i != 0;) {
    i -= 4;
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + 3u * i));
    // Each 64-bit half takes two samples: bytes 0 to 5, and bytes 6 to 11.
    const __m128i pairs = _mm_unpacklo_epi64(bytes, _mm_srli_si128(bytes, 6));
    const __m128i samples = _mm_or_si128(_mm_and_si128(_mm_slli_epi64(pairs, 8), lowSample),
                                         _mm_and_si128(_mm_slli_epi64(pairs, 16), highSample));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(buffer + 4u * i), samples);
  }
}

// Packing runs forward, which is safe in place. A full 16-byte store at 3i spills 4 bytes that
// the next block rewrites; the last block stores its 12 bytes exactly, so nothing past 3 x count
// changes.
void PackTo24(const uint8_t* source, uint8_t* destination, uint32_t count) {
  const __m128i lowSample = _mm_set1_epi64x(0x0000000000FFFFFF);
  const __m128i highSample = _mm_set1_epi64x(0x0000FFFFFF000000);
  uint32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i top =
        _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 4u * i)), 8);
    // Each 64-bit half holds two packed samples in its bytes 0 to 5; close the gap between them.
    const __m128i pairs = _mm_or_si128(_mm_and_si128(top, lowSample),
                                       _mm_and_si128(_mm_srli_epi64(top, 8), highSample));
    const __m128i packed =
        _mm_or_si128(_mm_move_epi64(pairs), _mm_slli_si128(_mm_srli_si128(pairs, 8), 6));
    uint8_t* out = destination + 3u * i;
    if (i + 8 <= count) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed);
    } else {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
      const int32_t rest = _mm_cvtsi128_si32(_mm_srli_si128(packed, 8));
      std::memcpy(out + 8, &rest, sizeof rest);
    }
  }
  conversion::PackTo24(source, destination, i, count);
}

// Four floats to host integers with single-precision steps only. The double product x S, with
// S = 2147483647.49999 = 2^31 - d and d just above 1/2, lies below A = x 2^31 (exact in single
// precision) by x d, less than one and far more than the double's rounding, and closer to A than
// any non-integer A is to an integer: it truncates to A moved one toward zero when A is a whole
// number, and to A truncated when it is not. NaN gives 0, A >= 2^31 saturates to 2^31 - 1, and
// A < -2^31 converts to -2^31 by itself.
__m128i FloatToHostQuad(__m128 samples) {
  const __m128 limit = _mm_set1_ps(2147483648.0f);
  const __m128 scaled = _mm_mul_ps(samples, limit);
  const __m128i truncated = _mm_cvttps_epi32(scaled);
  const __m128i whole = _mm_castps_si128(_mm_cmpeq_ps(_mm_cvtepi32_ps(truncated), scaled));
  const __m128 zero = _mm_setzero_ps();
  const __m128i sign = _mm_sub_epi32(_mm_castps_si128(_mm_cmplt_ps(scaled, zero)),
                                     _mm_castps_si128(_mm_cmpgt_ps(scaled, zero)));
  const __m128i above = _mm_castps_si128(_mm_cmpge_ps(scaled, limit));
  const __m128i ordered = _mm_castps_si128(_mm_cmpord_ps(scaled, scaled));
  return _mm_and_si128(_mm_xor_si128(_mm_sub_epi32(truncated, _mm_and_si128(whole, sign)), above),
                       ordered);
}

void FloatToHost(uint8_t* buffer, uint32_t count) {
  uint32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    auto* at = reinterpret_cast<__m128i*>(buffer + 4u * i);
    _mm_storeu_si128(at, FloatToHostQuad(_mm_loadu_ps(reinterpret_cast<float*>(at))));
  }
  conversion::FloatToHost(buffer, i, count);
}

void IntToFloat(const int32_t* source, float* destination, uint32_t count, float scale) {
  const __m128 factor = _mm_set1_ps(scale);
  uint32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i samples = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
    _mm_storeu_ps(destination + i, _mm_mul_ps(_mm_cvtepi32_ps(samples), factor));
  }
  conversion::IntToFloat(source, destination, i, count, scale);
}

// Four floats to device integers. The conversion gives 0x80000000 for NaN and for products out
// of range; NaN is zeroed first, and products at or above 2^31 flip to 0x7FFFFFFF.
__m128i RenderQuad(const float* samples) {
  if (samples == nullptr) return _mm_setzero_si128();
  const __m128 product = _mm_mul_ps(_mm_loadu_ps(samples), _mm_set1_ps(conversion::kMinusTwoPow31));
  const __m128 above = _mm_cmpge_ps(product, _mm_set1_ps(2147483648.0f));
  const __m128i value = _mm_cvttps_epi32(_mm_and_ps(product, _mm_cmpord_ps(product, product)));
  return _mm_xor_si128(value, _mm_castps_si128(above));
}

__m128i FadeQuad(__m128i samples, uint32_t frame) {
  const __m128 frames = _mm_cvtepi32_ps(
      _mm_add_epi32(_mm_set1_epi32(static_cast<int32_t>(frame)), _mm_setr_epi32(0, 1, 2, 3)));
  const __m128 gain = _mm_mul_ps(frames, _mm_set1_ps(conversion::kFadeStep));
  return _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(samples), gain));
}

void RenderFrames(const float* left, const float* right, int32_t* block, uint32_t frames,
                  bool fadeIn) {
  uint32_t f = 0;
  for (; f + 4 <= frames; f += 4) {
    __m128i l = RenderQuad(left != nullptr ? left + f : nullptr);
    __m128i r = RenderQuad(right != nullptr ? right + f : nullptr);
    if (fadeIn && f < conversion::kFadeFrames) {
      l = FadeQuad(l, f);
      r = FadeQuad(r, f);
    }
    auto* out = reinterpret_cast<__m128i*>(block + 2u * f);
    _mm_storeu_si128(out, _mm_unpacklo_epi32(l, r));
    _mm_storeu_si128(out + 1, _mm_unpackhi_epi32(l, r));
  }
  conversion::RenderFrames(left, right, block, f, frames, fadeIn);
}

constexpr ConversionKernels kSse2 = {"sse2",      ExpandPacked24, PackTo24,
                                     FloatToHost, IntToFloat,     RenderFrames};

}  // namespace

const ConversionKernels& Sse2ConversionKernels() { return kSse2; }

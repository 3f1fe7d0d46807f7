// The AVX-512 set: packing to 24 bits, floats to host integers and the render block sixteen
// samples at a time (packing 64 where it can); the other conversions from the AVX2 set. Only these
// kernels are built for AVX-512, and they run only where the CPU has it.
#include <immintrin.h>

#include "streaming/ConversionKernels.h"
#include "streaming/ConversionScalar.h"

#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw")
// GCC 12's AVX-512 header starts several intrinsics from a deliberately undefined vector, which
// its own flow analysis then reports as uninitialized.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

namespace {

// With A = x 2^31 (exact), the double product truncates to ceil(|A|) - 1 carrying the sign of A
// (see FloatToHostQuad in the SSE2 kernels), and a conversion rounding up gives ceil(|A|) in one
// step. Zero and NaN give 0; |A| >= 2^31 converts to 0x80000000, one less is 2^31 - 1, the
// saturated value; below -2^31 the result is -2^31.
__m512i FloatToHostSixteen(__m512 samples) {
  const __m512 scaled = _mm512_mul_ps(samples, _mm512_set1_ps(2147483648.0f));
  const __m512 magnitude = _mm512_castsi512_ps(
      _mm512_and_si512(_mm512_castps_si512(scaled), _mm512_set1_epi32(INT32_MAX)));
  const __mmask16 counted = _mm512_cmp_ps_mask(magnitude, _mm512_setzero_ps(), _CMP_NEQ_OQ);
  const __m512i ceiling =
      _mm512_maskz_cvt_roundps_epi32(counted, magnitude, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC);
  const __m512i size = _mm512_maskz_sub_epi32(counted, ceiling, _mm512_set1_epi32(1));
  const __mmask16 negative = _mm512_cmp_ps_mask(scaled, _mm512_setzero_ps(), _CMP_LT_OQ);
  const __m512i value = _mm512_mask_sub_epi32(size, negative, _mm512_setzero_si512(), size);
  const __mmask16 under =
      _mm512_cmp_ps_mask(scaled, _mm512_set1_ps(conversion::kMinusTwoPow31), _CMP_LT_OQ);
  return _mm512_mask_mov_epi32(value, under, _mm512_set1_epi32(INT32_MIN));
}

void FloatToHost(uint8_t* buffer, uint32_t count) {
  uint32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    auto* at = reinterpret_cast<float*>(buffer + 4u * i);
    _mm512_storeu_si512(at, FloatToHostSixteen(_mm512_loadu_ps(at)));
  }
  conversion::FloatToHost(buffer, i, count);
}

// Sixteen samples' bits 8-31: bytes 1-3 of each slot to the front of its 128-bit lane, so that
// dwords 0-2, 4-6, 8-10 and 12-14 hold the 48 packed bytes.
__m512i PackLanes(const uint8_t* samples) {
  const __m512i fromSlots = _mm512_broadcast_i32x4(
      _mm_setr_epi8(1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15, -1, -1, -1, -1));
  return _mm512_shuffle_epi8(_mm512_loadu_si512(samples), fromSlots);
}

// Packing runs forward, which is safe in place: 64 samples (256 bytes at 4i) are read before
// their 192 bytes are written at 3i, three full stores that join the four vectors' lanes; then
// sixteen at a time, a block's 48 bytes at 3i ending before the next block's samples at
// 4i + 64, and a masked store writing exactly those 48 bytes.
void PackTo24(const uint8_t* source, uint8_t* destination, uint32_t count) {
  // Dword k of the packed stream is dword (k / 3) * 4 + k % 3 of the shuffled lanes, counted
  // from the first of the two vectors given: 16 or more picks from the second.
  const __m512i first = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18, 20);
  const __m512i second =
      _mm512_setr_epi32(5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18, 20, 21, 22, 24, 25);
  const __m512i third =
      _mm512_setr_epi32(10, 12, 13, 14, 16, 17, 18, 20, 21, 22, 24, 25, 26, 28, 29, 30);
  uint32_t i = 0;
  for (; i + 64 <= count; i += 64) {
    const uint8_t* in = source + 4u * i;
    const __m512i a = PackLanes(in);
    const __m512i b = PackLanes(in + 64);
    const __m512i c = PackLanes(in + 128);
    const __m512i d = PackLanes(in + 192);
    uint8_t* out = destination + 3u * i;
    _mm512_storeu_si512(out, _mm512_permutex2var_epi32(a, first, b));
    _mm512_storeu_si512(out + 64, _mm512_permutex2var_epi32(b, second, c));
    _mm512_storeu_si512(out + 128, _mm512_permutex2var_epi32(c, third, d));
  }
  const __m512i joinLanes = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 3, 7, 11, 15);
  for (; i + 16 <= count; i += 16) {
    const __m512i packed = _mm512_permutexvar_epi32(joinLanes, PackLanes(source + 4u * i));
    _mm512_mask_storeu_epi32(destination + 3u * i, 0x0FFF, packed);
  }
  conversion::PackTo24(source, destination, i, count);
}

// Sixteen floats to device integers: the product with -2^31 is exact, so truncating it is right
// except for NaN (0) and products at or above 2^31 (2^31 - 1).
__m512i RenderSixteen(const float* samples) {
  const __m512 product =
      _mm512_mul_ps(_mm512_loadu_ps(samples), _mm512_set1_ps(conversion::kMinusTwoPow31));
  const __mmask16 ordered = _mm512_cmp_ps_mask(product, product, _CMP_ORD_Q);
  const __mmask16 above = _mm512_cmp_ps_mask(product, _mm512_set1_ps(2147483648.0f), _CMP_GE_OQ);
  const __m512i value = _mm512_maskz_cvtt_roundps_epi32(ordered, product, _MM_FROUND_NO_EXC);
  return _mm512_mask_mov_epi32(value, above, _mm512_set1_epi32(INT32_MAX));
}

// The bare truncation, right unless the product is at or above 2^31 or NaN; both give
// 0x80000000, which `lowest` keeps.
__m512i RenderSixteenWithin(const float* samples, __m512i& lowest) {
  const __m512i value = _mm512_cvttps_epi32(
      _mm512_mul_ps(_mm512_loadu_ps(samples), _mm512_set1_ps(conversion::kMinusTwoPow31)));
  lowest = _mm512_min_epi32(lowest, value);
  return value;
}

__m512i FadeSixteen(__m512i samples, uint32_t frame) {
  const __m512i frames =
      _mm512_add_epi32(_mm512_set1_epi32(static_cast<int32_t>(frame)),
                       _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  const __m512 gain =
      _mm512_mul_ps(_mm512_cvtepi32_ps(frames), _mm512_set1_ps(conversion::kFadeStep));
  return _mm512_cvttps_epi32(_mm512_mul_ps(_mm512_cvtepi32_ps(samples), gain));
}

// Sixteen frames, left beside right.
void StoreFrames(int32_t* out, __m512i left, __m512i right) {
  const __m512i firstHalf =
      _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
  const __m512i secondHalf =
      _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
  _mm512_storeu_si512(out, _mm512_permutex2var_epi32(left, firstHalf, right));
  _mm512_storeu_si512(out + 16, _mm512_permutex2var_epi32(left, secondHalf, right));
}

// Frames [0, end) in steps of sixteen, in full, a missing channel silent and the frames below
// 64 faded with `fadeIn`.
void RenderSteps(const float* left, const float* right, int32_t* block, uint32_t end, bool fadeIn) {
  for (uint32_t f = 0; f < end; f += 16) {
    __m512i l = left != nullptr ? RenderSixteen(left + f) : _mm512_setzero_si512();
    __m512i r = right != nullptr ? RenderSixteen(right + f) : _mm512_setzero_si512();
    if (fadeIn && f < conversion::kFadeFrames) {
      l = FadeSixteen(l, f);
      r = FadeSixteen(r, f);
    }
    StoreFrames(block + 2u * f, l, r);
  }
}

// Frames [f, end) with the bare truncation, a missing channel silent, and faded with kFade (all
// of them below frame 64). Returns the lowest value converted.
template <bool kFade>
__m512i RenderStepsWithin(const float* left, const float* right, int32_t* block, uint32_t f,
                          uint32_t end) {
  __m512i lowest = _mm512_set1_epi32(INT32_MAX);
  for (; f < end; f += 16) {
    __m512i l = left != nullptr ? RenderSixteenWithin(left + f, lowest) : _mm512_setzero_si512();
    __m512i r = right != nullptr ? RenderSixteenWithin(right + f, lowest) : _mm512_setzero_si512();
    if (kFade) {
      l = FadeSixteen(l, f);
      r = FadeSixteen(r, f);
    }
    StoreFrames(block + 2u * f, l, r);
  }
  return lowest;
}

// Both channels, frames [f, end), with the bare truncation and no fade. Returns the lowest value
// converted.
__m512i RenderStereoStepsWithin(const float* left, const float* right, int32_t* block, uint32_t f,
                                uint32_t end) {
  __m512i lowest = _mm512_set1_epi32(INT32_MAX);
  for (; f < end; f += 16) {
    const __m512i l = RenderSixteenWithin(left + f, lowest);
    StoreFrames(block + 2u * f, l, RenderSixteenWithin(right + f, lowest));
  }
  return lowest;
}

// The bare truncation first; a block that shows a product at or above 2^31 or a NaN is
// converted again in full. The frames that fade and blocks with a missing channel take the
// general loop.
void RenderFrames(const float* left, const float* right, int32_t* block, uint32_t frames,
                  bool fadeIn) {
  const uint32_t steps = frames & ~15u;
  uint32_t f = 0;
  __m512i lowest = _mm512_set1_epi32(INT32_MAX);
  if (fadeIn) {
    f = steps < conversion::kFadeFrames ? steps : conversion::kFadeFrames;
    lowest = RenderStepsWithin<true>(left, right, block, 0, f);
  }
  const __m512i rest = left != nullptr && right != nullptr
                           ? RenderStereoStepsWithin(left, right, block, f, steps)
                           : RenderStepsWithin<false>(left, right, block, f, steps);
  const __mmask16 outside =
      _mm512_cmpeq_epi32_mask(_mm512_min_epi32(lowest, rest), _mm512_set1_epi32(INT32_MIN));
  if (outside != 0) RenderSteps(left, right, block, steps, fadeIn);
  conversion::RenderFrames(left, right, block, steps, frames, fadeIn);
}

}  // namespace

#pragma GCC diagnostic pop
#pragma GCC pop_options

const ConversionKernels& Avx512ConversionKernels() {
  static const ConversionKernels kAvx512 = [] {
    ConversionKernels set = Avx2ConversionKernels();
    set.name = "avx512";
    set.packTo24 = PackTo24;
    set.floatToHost = FloatToHost;
    set.renderFrames = RenderFrames;
    return set;
  }();
  return kAvx512;
}

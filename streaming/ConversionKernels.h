// The sets of conversion kernels behind SampleConverter: a portable one, and on x86-64 vector
// sets for SSE2 (every x86-64 CPU), AVX2 and AVX-512, chosen at run time. Every set gives the same
// bytes.
#pragma once

#include <cstddef>
#include <cstdint>

struct ConversionKernels {
  const char* name;
  // Packed 24-bit samples to left-justified 32-bit samples, in place (4 x count bytes).
  void (*expandPacked24)(uint8_t* buffer, uint32_t count);
  // 32-bit samples to packed 24-bit samples, writing exactly 3 x count bytes; the destination is
  // the source (in place) or does not overlap it.
  void (*packTo24)(const uint8_t* source, uint8_t* destination, uint32_t count);
  // Floats to host integers in the same storage.
  void (*floatToHost)(uint8_t* buffer, uint32_t count);
  // Integers to floats multiplied by `scale` (2^-31 or -2^-31).
  void (*intToFloat)(const int32_t* source, float* destination, uint32_t count, float scale);
  // Two float channels (null: silence) to an interleaved stereo block of device integers.
  void (*renderFrames)(const float* left, const float* right, int32_t* block, uint32_t frames,
                       bool fadeIn);
};

const ConversionKernels& PortableConversionKernels();
#if defined(__x86_64__)
const ConversionKernels& Sse2ConversionKernels();
const ConversionKernels& Avx2ConversionKernels();
const ConversionKernels& Avx512ConversionKernels();
#endif

// The sets this CPU can run, the portable one first and the widest last.
struct ConversionKernelList {
  const ConversionKernels* sets[4];
  size_t count;
};
ConversionKernelList SupportedConversionKernels();

#include "streaming/SampleConverter.h"

#include <atomic>

#include "streaming/ConversionKernels.h"
#include "streaming/ConversionScalar.h"

namespace {

// The widest supported set, found on first use. Threads that race there store the same
// pointer, and the sets are constants, so neither a lock nor an ordering is needed.
const ConversionKernels& Kernels() {
  static std::atomic<const ConversionKernels*> chosen{nullptr};
  const ConversionKernels* kernels = chosen.load(std::memory_order_relaxed);
  if (kernels == nullptr) {
    const ConversionKernelList supported = SupportedConversionKernels();
    kernels = supported.sets[supported.count - 1];
    chosen.store(kernels, std::memory_order_relaxed);
  }
  return *kernels;
}

}  // namespace

void SampleConverter::Int24PackedToInt32InPlace(uint8_t* buffer, uint32_t count) const {
  Kernels().expandPacked24(buffer, count);
}

void SampleConverter::Int32ToInt24PackedInPlace(int32_t* buffer, uint32_t count) const {
  auto* bytes = reinterpret_cast<uint8_t*>(buffer);
  Kernels().packTo24(bytes, bytes, count);
}

void SampleConverter::Int32ToInt24Packed(const int32_t* source, uint8_t* destination,
                                         uint32_t count) const {
  Kernels().packTo24(reinterpret_cast<const uint8_t*>(source), destination, count);
}

void SampleConverter::Float32ToInt32InPlace(float* buffer, uint32_t count) const {
  Kernels().floatToHost(reinterpret_cast<uint8_t*>(buffer), count);
}

void SampleConverter::Int32ToFloat32(const int32_t* source, float* destination,
                                     uint32_t count) const {
  Kernels().intToFloat(source, destination, count, conversion::kTwoPowMinus31);
}

void SampleConverter::CaptureInt32ToFloat(const int32_t* source, float* destination,
                                          uint32_t count) const {
  Kernels().intToFloat(source, destination, count, -conversion::kTwoPowMinus31);
}

int32_t SampleConverter::RenderFloatToInt32(float sample) const {
  return conversion::RenderSample(sample);
}

void SampleConverter::RenderFloatToInt32Block(const float* left, const float* right, int32_t* block,
                                              uint32_t frames, bool fadeIn) const {
  Kernels().renderFrames(left, right, block, frames, fadeIn);
}

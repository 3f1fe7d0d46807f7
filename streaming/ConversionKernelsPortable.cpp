// The portable kernels: the scalar conversions, one sample at a time.
#include "streaming/ConversionKernels.h"
#include "streaming/ConversionScalar.h"

namespace {

void ExpandPacked24(uint8_t* buffer, uint32_t count) {
  conversion::ExpandPacked24(buffer, 0, count);
}

void PackTo24(const uint8_t* source, uint8_t* destination, uint32_t count) {
  conversion::PackTo24(source, destination, 0, count);
}

void FloatToHost(uint8_t* buffer, uint32_t count) { conversion::FloatToHost(buffer, 0, count); }

void IntToFloat(const int32_t* source, float* destination, uint32_t count, float scale) {
  conversion::IntToFloat(source, destination, 0, count, scale);
}

void RenderFrames(const float* left, const float* right, int32_t* block, uint32_t frames,
                  bool fadeIn) {
  conversion::RenderFrames(left, right, block, 0, frames, fadeIn);
}

constexpr ConversionKernels kPortable = {"portable",  ExpandPacked24, PackTo24,
                                         FloatToHost, IntToFloat,     RenderFrames};

}  // namespace

const ConversionKernels& PortableConversionKernels() { return kPortable; }

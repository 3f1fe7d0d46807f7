// Conversions between the device's packed 24-bit PCM, the 32-bit container, the float working
// format and the host's 32-bit integer samples. Both directions invert the sign of the audio,
// which the device relies on. The class holds no state; each operation runs the widest kernel
// set that the CPU supports, and every set gives the same bytes.
#pragma once

#include <cstdint>

class SampleConverter {
 public:
  // Packed 24-bit samples (3 bytes each) to left-justified 32-bit samples, in place, last first.
  void Int24PackedToInt32InPlace(uint8_t* buffer, uint32_t count) const;
  // 32-bit samples to packed 24-bit samples (bits 8 to 31), in place, first to last.
  void Int32ToInt24PackedInPlace(int32_t* buffer, uint32_t count) const;
  // The same into 3 x count bytes of a destination that does not overlap the source.
  void Int32ToInt24Packed(const int32_t* source, uint8_t* destination, uint32_t count) const;
  // Float samples to 32-bit integers in the same storage, scaled by 2147483647.49999 in double.
  void Float32ToInt32InPlace(float* buffer, uint32_t count) const;
  // Host integers to floats scaled by 2^-31.
  void Int32ToFloat32(const int32_t* source, float* destination, uint32_t count) const;
  // Device capture integers to floats scaled by -2^-31.
  void CaptureInt32ToFloat(const int32_t* source, float* destination, uint32_t count) const;
  // One float sample to a device integer scaled by -2^31.
  int32_t RenderFloatToInt32(float sample) const;
  // A render block: `frames` frames of the two float channels (a null channel is silence), each
  // sample as RenderFloatToInt32 gives it, interleaved left then right into `block`. With
  // `fadeIn` the frames below 64 are scaled by frame/64 after the conversion.
  void RenderFloatToInt32Block(const float* left, const float* right, int32_t* block,
                               uint32_t frames, bool fadeIn) const;
};

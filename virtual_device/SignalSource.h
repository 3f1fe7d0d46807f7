// Microphone signals of the virtual device: silence, a sine tone, or the first channel of a WAV
// file played over and over. Samples are signed and left-aligned in 32 bits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ks.h"

namespace vkx7 {

class SignalSource {
 public:
  void SetSilence();
  void SetTone(double hz, double amplitude);
  // Loads a RIFF/WAVE file: PCM of 8, 16, 24 or 32 bits, or 32-bit float, plain or extensible.
  // False (source unchanged) when the file cannot be read or holds no samples.
  bool LoadWav(const std::string& path);
  // The next sample at the given rate.
  int32_t Next(ULONG rate);

 private:
  enum class Kind { Silence, Tone, Samples } kind_ = Kind::Silence;
  double hz_ = 0.0;
  double amplitude_ = 0.0;
  double phase_ = 0.0;
  std::vector<int32_t> samples_;
  size_t position_ = 0;
};

// Parses WAV file bytes into left-aligned samples of their first channel; false when malformed.
bool ParseWav(const std::vector<uint8_t>& file, std::vector<int32_t>* samples);

}  // namespace vkx7

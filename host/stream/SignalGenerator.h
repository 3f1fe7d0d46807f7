// What the host plays on its two outputs: silence, a sine tone on both, a WAV file looped, or a
// train of single-sample clicks on the left output only. Fill allocates nothing, so it runs in the
// buffer-switch callback.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/stream/WavFile.h"

namespace kx7host {

class SignalGenerator {
 public:
  void SetSilence();
  // A sine of `hz` at `rate`, `amplitude` of full scale, on both outputs.
  void SetTone(double hz, double rate, double amplitude);
  // The file's first channel on the left output and its second (else the first again) on the
  // right, from the start again after the end. `wav` must outlive the generator's use.
  void SetWav(const WavData* wav);
  // One sample of `amplitude` on the left output at frames first, first + period, ... (counted
  // from the first frame filled); the right output stays silent.
  void SetClicks(uint64_t firstFrame, uint64_t periodFrames, double amplitude);

  // Writes the next `frames` frames into the two channel buffers (either may be null).
  void Fill(int32_t* left, int32_t* right, size_t frames);

 private:
  enum class Kind { kSilence, kTone, kWav, kClicks } kind_ = Kind::kSilence;
  double phase_ = 0.0;  // in cycles, 0 to 1
  double step_ = 0.0;   // cycles per frame
  double scale_ = 0.0;  // peak in sample units
  const WavData* wav_ = nullptr;
  size_t wavFrame_ = 0;
  uint64_t frame_ = 0;  // frames filled so far
  uint64_t firstClick_ = 0;
  uint64_t clickPeriod_ = 1;
  int32_t clickValue_ = 0;
};

// `amplitude` (0 to 1) of full scale as a 32-bit sample.
int32_t SampleOfAmplitude(double amplitude);

}  // namespace kx7host

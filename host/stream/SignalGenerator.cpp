#include "host/stream/SignalGenerator.h"

#include <algorithm>
#include <cmath>

namespace kx7host {

namespace {
constexpr double kTwoPi = 6.283185307179586;
}

int32_t SampleOfAmplitude(double amplitude) {
  return static_cast<int32_t>(std::clamp(amplitude, 0.0, 1.0) * 2147483647.0);
}

void SignalGenerator::SetSilence() {
  kind_ = Kind::kSilence;
  frame_ = 0;
}

void SignalGenerator::SetTone(double hz, double rate, double amplitude) {
  kind_ = Kind::kTone;
  phase_ = 0.0;
  step_ = rate > 0.0 ? hz / rate : 0.0;
  step_ -= std::floor(step_);
  scale_ = std::clamp(amplitude, 0.0, 1.0) * 2147483647.0;
  frame_ = 0;
}

void SignalGenerator::SetWav(const WavData* wav) {
  if (wav == nullptr || wav->Frames() == 0) {
    SetSilence();
    return;
  }
  kind_ = Kind::kWav;
  wav_ = wav;
  wavFrame_ = 0;
  frame_ = 0;
}

void SignalGenerator::SetClicks(uint64_t firstFrame, uint64_t periodFrames, double amplitude) {
  kind_ = Kind::kClicks;
  firstClick_ = firstFrame;
  clickPeriod_ = std::max<uint64_t>(periodFrames, 1);
  clickValue_ = SampleOfAmplitude(amplitude);
  frame_ = 0;
}

void SignalGenerator::Fill(int32_t* left, int32_t* right, size_t frames) {
  for (size_t f = 0; f < frames; ++f, ++frame_) {
    int32_t l = 0, r = 0;
    switch (kind_) {
      case Kind::kSilence:
        break;
      case Kind::kTone:
        l = r = static_cast<int32_t>(std::lround(scale_ * std::sin(kTwoPi * phase_)));
        phase_ += step_;
        if (phase_ >= 1.0) phase_ -= 1.0;
        break;
      case Kind::kWav: {
        const int32_t* frame = wav_->samples.data() + wavFrame_ * wav_->channels;
        l = frame[0];
        r = wav_->channels > 1 ? frame[1] : frame[0];
        if (++wavFrame_ == wav_->Frames()) wavFrame_ = 0;
        break;
      }
      case Kind::kClicks:
        if (frame_ >= firstClick_ && (frame_ - firstClick_) % clickPeriod_ == 0) l = clickValue_;
        break;
    }
    if (left != nullptr) left[f] = l;
    if (right != nullptr) right[f] = r;
  }
}

}  // namespace kx7host

#include "virtual_device/SignalSource.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vkx7 {
namespace {

constexpr double kPi = 3.14159265358979323846;

uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

int32_t FromFloat(double value) {
  if (!(value > -1.0)) return INT32_MIN;  // also catches NaN
  if (value >= 1.0) return INT32_MAX;
  return static_cast<int32_t>(std::lround(value * 2147483648.0));
}

}  // namespace

bool ParseWav(const std::vector<uint8_t>& file, std::vector<int32_t>* samples) {
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
      std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
    return false;
  }
  uint16_t tag = 0, channels = 0, bits = 0;
  bool haveFormat = false;
  const uint8_t* data = nullptr;
  size_t dataSize = 0;
  size_t offset = 12;
  while (file.size() - offset >= 8) {
    const uint8_t* chunk = file.data() + offset;
    const size_t size = Read32(chunk + 4);
    const size_t available = file.size() - offset - 8;
    const size_t body = size < available ? size : available;
    if (std::memcmp(chunk, "fmt ", 4) == 0 && body >= 16) {
      tag = Read16(chunk + 8);
      channels = Read16(chunk + 10);
      bits = Read16(chunk + 22);
      if (tag == WAVE_FORMAT_EXTENSIBLE && body >= 40) tag = Read16(chunk + 32);
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      data = chunk + 8;
      dataSize = body;
    }
    if (body != size) break;  // cut short: nothing follows
    offset += 8 + size + (size & 1);
    if (offset > file.size()) break;
  }
  const bool pcm = tag == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
  const bool ieee = tag == 3 && bits == 32;
  if (!haveFormat || data == nullptr || channels == 0 || !(pcm || ieee)) return false;
  const size_t frameBytes = static_cast<size_t>(channels) * (bits / 8);
  const size_t frames = dataSize / frameBytes;
  if (frames == 0) return false;
  samples->assign(frames, 0);
  for (size_t i = 0; i < frames; ++i) {
    const uint8_t* p = data + i * frameBytes;
    int32_t value = 0;
    if (ieee) {
      float f;
      std::memcpy(&f, p, sizeof f);
      value = FromFloat(f);
    } else if (bits == 8) {
      value = static_cast<int32_t>(static_cast<uint32_t>(p[0] ^ 0x80u) << 24);
    } else {
      uint32_t word = 0;
      for (unsigned b = 0; b < bits / 8u; ++b) word |= static_cast<uint32_t>(p[b]) << (8 * b);
      value = static_cast<int32_t>(word << (32 - bits));
    }
    (*samples)[i] = value;
  }
  return true;
}

void SignalSource::SetSilence() {
  kind_ = Kind::Silence;
  samples_.clear();
}

void SignalSource::SetTone(double hz, double amplitude) {
  kind_ = Kind::Tone;
  hz_ = hz;
  amplitude_ = amplitude < 0.0 ? 0.0 : (amplitude > 1.0 ? 1.0 : amplitude);
  phase_ = 0.0;
  samples_.clear();
}

bool SignalSource::LoadWav(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  std::vector<int32_t> samples;
  if (!ParseWav(file, &samples)) return false;
  kind_ = Kind::Samples;
  samples_ = std::move(samples);
  position_ = 0;
  return true;
}

int32_t SignalSource::Next(ULONG rate) {
  switch (kind_) {
    case Kind::Silence:
      return 0;
    case Kind::Tone: {
      const int32_t value = FromFloat(amplitude_ * std::sin(phase_));
      if (rate != 0) phase_ = std::fmod(phase_ + 2.0 * kPi * hz_ / rate, 2.0 * kPi);
      return value;
    }
    case Kind::Samples: {
      const int32_t value = samples_[position_];
      position_ = (position_ + 1) % samples_.size();
      return value;
    }
  }
  return 0;
}

}  // namespace vkx7

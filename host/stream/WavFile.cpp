#include "host/stream/WavFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace kx7host {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr size_t kHeaderBytes = 44;
// Larger files are refused rather than read into memory.
constexpr size_t kMaxFileBytes = size_t{1} << 30;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

int32_t FloatToSample(double value) {
  if (!(value == value)) return 0;  // NaN
  const double scaled = std::round(std::clamp(value, -1.0, 1.0) * 2147483648.0);
  return static_cast<int32_t>(std::clamp(scaled, -2147483648.0, 2147483647.0));
}

// One sample of the data chunk, left-aligned in 32 bits.
int32_t DecodeSample(const uint8_t* p, uint16_t bits, bool isFloat) {
  if (isFloat) {
    if (bits == 32) {
      float value;
      std::memcpy(&value, p, sizeof value);
      return FloatToSample(value);
    }
    double value;
    std::memcpy(&value, p, sizeof value);
    return FloatToSample(value);
  }
  switch (bits) {
    case 8:  // unsigned, centred on 128
      return static_cast<int32_t>(static_cast<uint32_t>(p[0] ^ 0x80) << 24);
    case 16:
      return static_cast<int32_t>(static_cast<uint32_t>(Le16(p)) << 16);
    case 24:
      return static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 |
                                  static_cast<uint32_t>(p[1]) << 16 |
                                  static_cast<uint32_t>(p[2]) << 24);
    default:
      return static_cast<int32_t>(Le32(p));
  }
}

bool Fail(std::string* why, const std::string& text) {
  *why = text;
  return false;
}

}  // namespace

bool ParseWavBytes(const std::vector<uint8_t>& bytes, WavData* wav, std::string* why) {
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    return Fail(why, "not a RIFF/WAVE file");
  }
  const uint8_t* format = nullptr;
  uint32_t formatSize = 0;
  const uint8_t* data = nullptr;
  size_t dataSize = 0;
  // Chunks are walked within the file as it is, whatever the RIFF size claims.
  size_t offset = 12;
  while (offset + 8 <= bytes.size()) {
    const uint8_t* chunk = bytes.data() + offset;
    const uint32_t size = Le32(chunk + 4);
    const size_t available = bytes.size() - offset - 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0 && format == nullptr) {
      if (size > available) return Fail(why, "the format chunk is cut short");
      format = chunk + 8;
      formatSize = size;
    } else if (std::memcmp(chunk, "data", 4) == 0 && data == nullptr) {
      data = chunk + 8;
      dataSize = std::min<size_t>(size, available);
    }
    if (size > available) break;
    offset += 8 + size + (size & 1);
  }
  if (format == nullptr) return Fail(why, "no format chunk");
  if (formatSize < 16) return Fail(why, "the format chunk is too short");
  if (data == nullptr) return Fail(why, "no data chunk");

  uint16_t tag = Le16(format);
  const uint16_t channels = Le16(format + 2);
  const uint32_t rate = Le32(format + 4);
  const uint16_t blockAlign = Le16(format + 12);
  const uint16_t bits = Le16(format + 14);
  if (tag == kFormatExtensible) {
    if (formatSize < 40) return Fail(why, "the extensible format chunk is too short");
    tag = Le16(format + 24);  // the first two bytes of the sub-format GUID
  }
  const bool isFloat = tag == kFormatFloat;
  if (tag != kFormatPcm && !isFloat) {
    return Fail(why, "format tag " + std::to_string(tag) + " is neither PCM nor float");
  }
  const bool bitsOk =
      isFloat ? (bits == 32 || bits == 64) : (bits == 8 || bits == 16 || bits == 24 || bits == 32);
  if (!bitsOk) return Fail(why, std::to_string(bits) + "-bit samples are not supported");
  if (channels == 0) return Fail(why, "the format has no channels");
  if (rate == 0) return Fail(why, "the sample rate is 0");
  const uint32_t bytesPerSample = bits / 8u;
  if (blockAlign != channels * bytesPerSample) {
    return Fail(why, "the block alignment " + std::to_string(blockAlign) + " does not match " +
                         std::to_string(channels) + " channels of " + std::to_string(bits) +
                         " bits");
  }
  const size_t frames = dataSize / blockAlign;
  if (frames == 0) return Fail(why, "the data chunk holds no whole frame");

  wav->sampleRate = rate;
  wav->channels = channels;
  wav->bitsPerSample = bits;
  wav->isFloat = isFloat;
  wav->samples.resize(frames * channels);
  for (size_t i = 0; i < wav->samples.size(); ++i) {
    wav->samples[i] = DecodeSample(data + i * bytesPerSample, bits, isFloat);
  }
  return true;
}

bool ReadWavFile(const std::string& path, WavData* wav, std::string* why) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return Fail(why, "cannot open " + path + ": " + std::strerror(errno));
  std::vector<uint8_t> bytes;
  uint8_t block[65536];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
    if (bytes.size() + got > kMaxFileBytes) {
      std::fclose(file);
      return Fail(why, path + " is larger than 1 GiB");
    }
    bytes.insert(bytes.end(), block, block + got);
  }
  const bool readError = std::ferror(file) != 0;
  std::fclose(file);
  if (readError) return Fail(why, "cannot read " + path);
  std::string problem;
  if (!ParseWavBytes(bytes, wav, &problem)) return Fail(why, path + ": " + problem);
  return true;
}

WavWriter::~WavWriter() { Close(); }

bool WavWriter::Open(const std::string& path, uint32_t sampleRate, uint16_t channels, uint16_t bits,
                     std::string* why) {
  Close();
  if ((bits != 24 && bits != 32) || channels == 0) {
    return Fail(why, "only 24- and 32-bit PCM with at least one channel can be written");
  }
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return Fail(why, "cannot create " + path + ": " + std::strerror(errno));
  channels_ = channels;
  bytesPerSample_ = static_cast<uint16_t>(bits / 8);
  framesWritten_ = 0;
  framesRefused_ = 0;
  failed_ = false;

  uint8_t header[kHeaderBytes] = {};
  const uint16_t blockAlign = static_cast<uint16_t>(channels * bytesPerSample_);
  std::memcpy(header, "RIFF", 4);
  PutLe32(header + 4, static_cast<uint32_t>(kHeaderBytes - 8));
  std::memcpy(header + 8, "WAVEfmt ", 8);
  PutLe32(header + 16, 16);
  PutLe16(header + 20, kFormatPcm);
  PutLe16(header + 22, channels);
  PutLe32(header + 24, sampleRate);
  PutLe32(header + 28, sampleRate * blockAlign);
  PutLe16(header + 32, blockAlign);
  PutLe16(header + 34, bits);
  std::memcpy(header + 36, "data", 4);
  PutLe32(header + 40, 0);
  if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) {
    std::fclose(file_);
    file_ = nullptr;
    return Fail(why, "cannot write to " + path);
  }
  return true;
}

bool WavWriter::Write(const int32_t* interleaved, size_t frames) {
  if (file_ == nullptr) return false;
  const uint64_t blockAlign = uint64_t{channels_} * bytesPerSample_;
  // The RIFF size (data plus 36 header bytes) must fit in 32 bits.
  const uint64_t maxFrames = (0xFFFFFFFFull - (kHeaderBytes - 8) - 1) / blockAlign;
  const uint64_t room = maxFrames - std::min(framesWritten_, maxFrames);
  const size_t taken = static_cast<size_t>(std::min<uint64_t>(frames, room));
  framesRefused_ += frames - taken;
  const size_t count = taken * channels_;
  scratch_.resize(count * bytesPerSample_);
  uint8_t* out = scratch_.data();
  for (size_t i = 0; i < count; ++i) {
    const uint32_t sample = static_cast<uint32_t>(interleaved[i]);
    for (int byte = 4 - bytesPerSample_; byte < 4; ++byte) {
      *out++ = static_cast<uint8_t>(sample >> (8 * byte));
    }
  }
  if (!scratch_.empty() &&
      std::fwrite(scratch_.data(), 1, scratch_.size(), file_) != scratch_.size()) {
    failed_ = true;
  }
  framesWritten_ += taken;
  return !failed_;
}

bool WavWriter::Close() {
  if (file_ == nullptr) return !failed_;
  const uint64_t dataBytes = framesWritten_ * channels_ * bytesPerSample_;
  uint8_t size[4];
  bool ok = !failed_;
  // A chunk of odd size is followed by a pad byte that the RIFF size counts.
  const uint64_t pad = dataBytes & 1;
  if (pad != 0) ok = ok && std::fputc(0, file_) != EOF;
  PutLe32(size, static_cast<uint32_t>(dataBytes + pad + kHeaderBytes - 8));
  ok = ok && std::fseek(file_, 4, SEEK_SET) == 0 && std::fwrite(size, 1, 4, file_) == 4;
  PutLe32(size, static_cast<uint32_t>(dataBytes));
  ok = ok && std::fseek(file_, 40, SEEK_SET) == 0 && std::fwrite(size, 1, 4, file_) == 4;
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  failed_ = !ok;
  return ok;
}

}  // namespace kx7host

// RIFF/WAVE files: reading what a user plays and writing what the host records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kx7host {

// Interleaved samples, each signed and left-aligned in 32 bits (full scale 2^31).
struct WavData {
  uint32_t sampleRate = 0;
  uint16_t channels = 0;
  uint16_t bitsPerSample = 0;
  bool isFloat = false;
  std::vector<int32_t> samples;

  size_t Frames() const { return channels == 0 ? 0 : samples.size() / channels; }
};

// Parses a WAV file's bytes: PCM of 8, 16, 24 or 32 bits or 32/64-bit float, plain or
// extensible. A data chunk cut short keeps its whole frames. False, with `why`, when the bytes
// are no such file or hold no frame.
bool ParseWavBytes(const std::vector<uint8_t>& bytes, WavData* wav, std::string* why);

// Reads and parses a file; false, with `why`, when it cannot be read or parsed.
bool ReadWavFile(const std::string& path, WavData* wav, std::string* why);

// Writes integer PCM (24 or 32 bits) incrementally: the header is written first and its sizes
// are filled in by Close. A file never grows past what the 32-bit RIFF sizes can describe.
class WavWriter {
 public:
  WavWriter() = default;
  ~WavWriter();
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  // Creates (or truncates) the file; false, with `why`, when it cannot be written.
  bool Open(const std::string& path, uint32_t sampleRate, uint16_t channels, uint16_t bits,
            std::string* why);
  // Appends whole frames of left-aligned 32-bit samples, keeping the top `bits` of each.
  // Frames beyond the format's size limit are counted in FramesRefused and not written.
  bool Write(const int32_t* interleaved, size_t frames);
  // Fills in the sizes and closes; false when any write failed.
  bool Close();

  uint64_t FramesWritten() const { return framesWritten_; }
  uint64_t FramesRefused() const { return framesRefused_; }

 private:
  std::FILE* file_ = nullptr;
  uint16_t channels_ = 0;
  uint16_t bytesPerSample_ = 0;
  uint64_t framesWritten_ = 0;
  uint64_t framesRefused_ = 0;
  bool failed_ = false;
  std::vector<uint8_t> scratch_;
};

}  // namespace kx7host

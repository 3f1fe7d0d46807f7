// Moves the recording from the callback's ring into a WAV file on a thread of its own, so the
// callback never waits for the disk.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "host/stream/SampleRing.h"
#include "host/stream/WavFile.h"

namespace kx7host {

class Recorder {
 public:
  Recorder() = default;
  ~Recorder() { Finish(); }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Creates the file (`channels` 1 or 2, `bits` 24 or 32); false, with `why`, when it cannot.
  bool Open(const std::string& path, uint32_t sampleRate, int channels, int bits, std::string* why);
  // Starts draining `ring` (interleaved frames of the file's channels) into the file.
  void Start(SampleRing* ring);
  // Drains what is left, ends the thread and closes the file; false when a write failed.
  bool Finish();

  uint64_t FramesWritten() const { return writer_.FramesWritten(); }
  uint64_t FramesRefused() const { return writer_.FramesRefused(); }

 private:
  void Drain();

  WavWriter writer_;
  SampleRing* ring_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::vector<int32_t> chunk_;
  size_t channels_ = 2;
  bool open_ = false;
  bool ok_ = true;
};

}  // namespace kx7host

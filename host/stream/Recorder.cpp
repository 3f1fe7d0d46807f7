#include "host/stream/Recorder.h"

#include <chrono>

namespace kx7host {

bool Recorder::Open(const std::string& path, uint32_t sampleRate, int channels, int bits,
                    std::string* why) {
  channels_ = static_cast<size_t>(channels);
  open_ = writer_.Open(path, sampleRate, static_cast<uint16_t>(channels),
                       static_cast<uint16_t>(bits), why);
  ok_ = open_;
  return open_;
}

void Recorder::Start(SampleRing* ring) {
  if (!open_ || ring == nullptr || thread_.joinable()) return;
  ring_ = ring;
  chunk_.resize(16384);  // whole frames of one or two channels
  stop_.store(false);
  thread_ = std::thread([this] {
    while (!stop_.load(std::memory_order_acquire)) {
      Drain();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
}

void Recorder::Drain() {
  // The ring holds whole frames only, as each push is a whole half of the recorded inputs.
  size_t got = 0;
  while ((got = ring_->Pop(chunk_.data(), chunk_.size())) > 0) {
    ok_ = writer_.Write(chunk_.data(), got / channels_) && ok_;
  }
}

bool Recorder::Finish() {
  if (!open_) return ok_;
  if (thread_.joinable()) {
    stop_.store(true, std::memory_order_release);
    thread_.join();
  }
  if (ring_ != nullptr) Drain();
  ok_ = writer_.Close() && ok_;
  open_ = false;
  return ok_;
}

}  // namespace kx7host

#include "host/stream/SampleRing.h"

#include <algorithm>

namespace kx7host {

namespace {

size_t RoundUpToPowerOfTwo(size_t value) {
  size_t result = 1;
  while (result < value) result <<= 1;
  return result;
}

}  // namespace

SampleRing::SampleRing(size_t capacity)
    : storage_(RoundUpToPowerOfTwo(std::max<size_t>(capacity, 2))), mask_(storage_.size() - 1) {}

bool SampleRing::Push(const int32_t* samples, size_t count) {
  const uint64_t written = written_.load(std::memory_order_relaxed);
  const uint64_t read = read_.load(std::memory_order_acquire);
  if (count > storage_.size() - static_cast<size_t>(written - read)) return false;
  for (size_t i = 0; i < count; ++i) storage_[(written + i) & mask_] = samples[i];
  written_.store(written + count, std::memory_order_release);
  return true;
}

size_t SampleRing::Pop(int32_t* samples, size_t count) {
  const uint64_t read = read_.load(std::memory_order_relaxed);
  const uint64_t written = written_.load(std::memory_order_acquire);
  const size_t taken = std::min(count, static_cast<size_t>(written - read));
  for (size_t i = 0; i < taken; ++i) samples[i] = storage_[(read + i) & mask_];
  read_.store(read + taken, std::memory_order_release);
  return taken;
}

}  // namespace kx7host

// A single-producer, single-consumer ring of samples: the buffer-switch callback pushes what it
// records without locking or allocating, a writer thread takes it out.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx7host {

class SampleRing {
 public:
  // Allocates room for at least `capacity` samples (rounded up to a power of two).
  explicit SampleRing(size_t capacity);

  // Producer: appends all `count` samples, or none when they do not fit (returns false).
  bool Push(const int32_t* samples, size_t count);
  // Consumer: takes up to `count` samples; returns how many.
  size_t Pop(int32_t* samples, size_t count);

  size_t Capacity() const { return storage_.size(); }

 private:
  std::vector<int32_t> storage_;
  size_t mask_ = 0;
  std::atomic<uint64_t> written_{0};  // written by the producer only
  std::atomic<uint64_t> read_{0};     // written by the consumer only
};

}  // namespace kx7host

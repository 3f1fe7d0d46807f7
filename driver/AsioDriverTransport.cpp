// Start, stop and the sample position.
#include "driver/AsioDriver.h"

namespace {

constexpr double kTwoPow32 = 4294967296.0;
constexpr double kTwoPowMinus32 = 2.3283064365386963e-10;

}  // namespace

ASIOError CAsioDriver::start() {
  if (callbacks == nullptr) return ASE_NotPresent;
  // The device and its pins come with the streaming engine; without them nothing can start.
  OpenDevice();
  running.store(false);
  samplePosition.store(0.0);
  systemTime.store(0);
  bufferIndex.store(0);
  capturePin = nullptr;
  renderPin = nullptr;
  return ASE_NotPresent;
}

ASIOError CAsioDriver::stop() {
  ReleaseEnumerators();
  running.store(false);
  return ASE_OK;
}

ASIOError CAsioDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
  if (sPos == nullptr || tStamp == nullptr) return ASE_InvalidParameter;
  const uint64_t stamp = systemTime.load(std::memory_order_relaxed);
  tStamp->hi = static_cast<uint32_t>(stamp >> 32);
  tStamp->lo = static_cast<uint32_t>(stamp);
  const double position = samplePosition.load(std::memory_order_relaxed);
  if (position < kTwoPow32) {
    sPos->hi = 0;
    sPos->lo = static_cast<uint32_t>(position);
  } else {
    sPos->hi = static_cast<uint32_t>(position * kTwoPowMinus32);
    sPos->lo = static_cast<uint32_t>(position - sPos->hi * kTwoPow32);
  }
  return ASE_OK;
}

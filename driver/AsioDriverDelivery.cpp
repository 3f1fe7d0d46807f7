// The per-cycle delivery to the host at the end of each half: time stamp, sample position, the
// input halves as the host's integers, the host's callback, and its output halves as floats.
#include "driver/AsioDriver.h"
#include "driver/WordSplit.h"

bool CAsioDriver::DeliverCycle(CRunningStream& run) {
  if (callbacks == nullptr) return true;
  const double now = static_cast<double>(timeGetTime()) * 1000000.0;
  const SplitWords stamp = SplitIntoWords(now);
  systemTime.store((static_cast<uint64_t>(stamp.hi) << 32) | stamp.lo, std::memory_order_relaxed);
  if (running.load(std::memory_order_relaxed)) {
    samplePosition.store(samplePosition.load(std::memory_order_relaxed) + bufferSize,
                         std::memory_order_relaxed);
  }
  const uint32_t index = bufferIndex.load(std::memory_order_relaxed);
  const uint32_t halfStart = index * bufferSize;
  for (int32_t c = 0; c < activeInputs; ++c) {
    if (inputBuffers[c] == nullptr) continue;
    converter.Float32ToInt32InPlace(reinterpret_cast<float*>(inputBuffers[c] + halfStart),
                                    bufferSize);
  }
  const bool timeInfo = timeInfoMode && callbacks->bufferSwitchTimeInfo != nullptr;
  if (timeInfo) {
    // setSampleRate leaves the record to this thread while it runs.
    asioTime.timeInfo.sampleRate = sampleRate.load(std::memory_order_relaxed);
    ReadSamplePosition(&asioTime.timeInfo.samplePosition, &asioTime.timeInfo.systemTime);
  }
  ASIOCallbacks* const host = callbacks;
  run.EnterHost();
  if (timeInfo) {
    host->bufferSwitchTimeInfo(&asioTime, static_cast<int32_t>(index), ASIOFalse);
  } else if (host->bufferSwitch != nullptr) {
    host->bufferSwitch(static_cast<int32_t>(index), ASIOFalse);
  }
  // Let go during the callback: the buffers, the record and the callbacks may all be gone.
  if (!run.LeaveHost()) return false;
  if (timeInfo) ClearTimeInfoFlags(kSampleRateChanged | kClockSourceChanged);
  for (int32_t c = 0; c < activeOutputs; ++c) {
    if (outputBuffers[c] == nullptr || outputFloatBuffers[c] == nullptr) continue;
    converter.Int32ToFloat32(outputBuffers[c] + halfStart, outputFloatBuffers[c] + halfStart,
                             bufferSize);
  }
  bufferIndex.store(index ^ 1u, std::memory_order_relaxed);
  return true;
}

uint64_t CAsioDriver::LatestSwitchStamp() const {
  return systemTime.load(std::memory_order_relaxed);
}

// Start, stop and the sample position.
#include <cstring>

#include "driver/AsioDriver.h"
#include "driver/StartFailureText.h"
#include "driver/WordSplit.h"

ASIOError CAsioDriver::start() {
  if (callbacks == nullptr) {
    std::strcpy(errorMessage, kNoBuffersText);
    return ASE_NotPresent;
  }
  // A running thread keeps its pins; a second start changes nothing.
  if (running.load(std::memory_order_relaxed)) return ASE_OK;
  OpenDevice();
  running.store(false, std::memory_order_relaxed);
  samplePosition.store(0.0, std::memory_order_relaxed);
  systemTime.store(0, std::memory_order_relaxed);
  bufferIndex.store(0, std::memory_order_relaxed);
  capturePin = nullptr;
  renderPin = nullptr;
  if (captureFilter != nullptr) capturePin = CreateCapturePinAtRate(captureFilter, sampleRate);
  if (renderFilter != nullptr) renderPin = CreateRenderPinAtRate(renderFilter, sampleRate);
  if (capturePin == nullptr || renderPin == nullptr) return ASE_NotPresent;
  if (!StartStreamThread()) return StreamStartFailure();
  running.store(true, std::memory_order_relaxed);
  if (autoOpenPanel.load(std::memory_order_relaxed)) OpenControlPanel(true);
  return ASE_OK;
}

ASIOError CAsioDriver::stop() {
  if (panelWindow.load() != nullptr) CloseControlPanel();
  if (OnStreamThread()) {
    // Called from inside the host's callback: the thread ends once the callback has returned,
    // and what it uses is released by the next stop from another thread.
    stopStreaming.store(true, std::memory_order_relaxed);
    return ASE_OK;
  }
  StopStreamThread();
  ReleaseEnumerators();
  running.store(false, std::memory_order_relaxed);
  return ASE_OK;
}

bool CAsioDriver::OnStreamThread() const {
  const DWORD id = streamThreadId.load(std::memory_order_relaxed);
  return id != 0 && GetCurrentThreadId() == id;
}

ASIOError CAsioDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
  if (sPos == nullptr || tStamp == nullptr) return ASE_InvalidParameter;
  const uint64_t stamp = systemTime.load(std::memory_order_relaxed);
  tStamp->hi = static_cast<uint32_t>(stamp >> 32);
  tStamp->lo = static_cast<uint32_t>(stamp);
  const double position = samplePosition.load(std::memory_order_relaxed);
  // Below 2^32 the high word is 0 and the low word the position itself.
  const SplitWords words = SplitIntoWords(position);
  sPos->hi = words.hi;
  sPos->lo = words.lo;
  return ASE_OK;
}

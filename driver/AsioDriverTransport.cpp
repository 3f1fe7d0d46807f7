// Start, stop and the sample position.
#include "driver/AsioDriver.h"
#include "driver/StartFailureText.h"
#include "driver/WordSplit.h"

ASIOError CAsioDriver::start() {
  // Inside the callback the stream is already there, unless the host has just asked it to end.
  if (OnStreamThread()) {
    return stopStreaming.load(std::memory_order_relaxed) ? ASE_InvalidMode : ASE_OK;
  }
  const TransportScope scope(this);
  if (!scope.Entered()) return ASE_InvalidMode;
  if (callbacks == nullptr) {
    SetErrorMessage(kNoBuffersText);
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
  // The capture pin decides: a start that cannot have it does not take the render pin from a
  // driver object that may be about to stream.
  if (renderFilter != nullptr && capturePin != nullptr) {
    renderPin = CreateRenderPinAtRate(renderFilter, sampleRate);
  }
  // A failed start lets the device go at once, so that another driver object can have it.
  if (capturePin == nullptr || renderPin == nullptr) {
    ReleaseEnumerators();
    return ASE_NotPresent;
  }
  if (!StartStreamThread()) {
    const ASIOError failure = StreamStartFailure();
    ReleaseEnumerators();
    return failure;
  }
  running.store(true, std::memory_order_relaxed);
  if (settings.autoOpenPanel.load(std::memory_order_relaxed)) OpenControlPanel(true);
  return ASE_OK;
}

ASIOError CAsioDriver::stop() {
  if (OnStreamThread()) {
    RequestStreamEnd();
    return ASE_OK;
  }
  const TransportScope scope(this);
  if (!scope.Entered()) return ASE_InvalidMode;
  EndStream();
  return ASE_OK;
}

void CAsioDriver::EndStream() {
  // The thread first: once it has ended, no panel can be opened from inside the callback.
  StopStreamThread();
  CloseControlPanel();
  ReleaseEnumerators();
  running.store(false, std::memory_order_relaxed);
}

void CAsioDriver::RequestStreamEnd() {
  // The thread ends once the callback has returned; the next transport call from a host thread
  // joins it and releases the device. Waiting here would wait for this very thread.
  stopStreaming.store(true, std::memory_order_relaxed);
  panel.TryAskToClose();
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

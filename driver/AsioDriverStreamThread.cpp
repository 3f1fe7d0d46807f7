// The run's start with the two-buffer-switch handshake (and what a failed one tells the host),
// its end within the stop's bound, and the figures it hands the driver while it streams.
#include <new>

#include "driver/AsioDriver.h"
#include "driver/StartFailureText.h"

namespace {

constexpr DWORD kHandshakeMs = 1000;
constexpr DWORD kStopWaitMs = 2000;

}  // namespace

bool CAsioDriver::StartStreamThread(CKx7Device& device) {
  dropOutCount.store(0, std::memory_order_relaxed);
  latencyCount.store(0, std::memory_order_relaxed);
  std::shared_ptr<CRunningStream> run(new (std::nothrow) CRunningStream(
      this, hostBuffers, sampleRate.load(std::memory_order_relaxed), device));
  if (run == nullptr) return false;
  if (!CRunningStream::StartThread(run)) {
    startFailure = ASE_HWMalfunction;
    return false;
  }
  stream = run;
  streamThreadId.store(run->ThreadId(), std::memory_order_relaxed);
  // The run signals its second switch (or its failure); however many came before, positions
  // count from its first.
  if (run->AwaitStarted(kHandshakeMs)) return true;
  startFailure = run->Failure();
  StopStreamThread();
  return false;
}

ASIOError CAsioDriver::StreamStartFailure() {
  if (startFailure == ASE_NotPresent) {
    SetErrorMessage(kHardwareNotFoundText);
    return ASE_NotPresent;
  }
  SetErrorMessage(startFailure == ASE_OK ? kStreamSilentText : kStreamRefusedText);
  return ASE_HWMalfunction;
}

void CAsioDriver::StopStreamThread() {
  std::shared_ptr<CRunningStream> run = std::move(stream);
  streamThreadId.store(0, std::memory_order_relaxed);
  if (run == nullptr) return;
  // A stop from inside the host's callback can only ask: the thread ends after the callback.
  if (OnStreamThread()) {
    run->RequestStop();
    return;
  }
  // A thread that does not end in time is let go with what it holds; until it has let the
  // device go, a new start is refused.
  if (!run->EndWithin(kStopWaitMs)) endedStream = std::move(run);
}

void CAsioDriver::CountDropOut() { dropOutCount.fetch_add(1, std::memory_order_relaxed); }

void CAsioDriver::ShowLatency(uint32_t frames) {
  latencyCount.store(frames, std::memory_order_relaxed);
}

void CAsioDriver::RecordEvent(DeviceEvent event) { deviceEvents.Record(event); }

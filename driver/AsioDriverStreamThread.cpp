// The run's start with the two-buffer-switch handshake (and what a failed one tells the host),
// and its end within the stop's bound.
#include <new>

#include "driver/AsioDriver.h"
#include "driver/StartFailureText.h"

namespace {

constexpr DWORD kHandshakeMs = 1000;
constexpr DWORD kHandshakePollMs = 10;
constexpr uint32_t kHandshakeCycles = 2;
constexpr DWORD kStopWaitMs = 2000;

}  // namespace

bool CAsioDriver::StartStreamThread(CKx7Device& device) {
  dropOutCount.store(0, std::memory_order_relaxed);
  latencyCount.store(0, std::memory_order_relaxed);
  StreamBinding binding;
  binding.owner = this;
  binding.bufferSize = bufferSize;
  binding.activeInputs = activeInputs;
  binding.activeOutputs = activeOutputs;
  for (int c = 0; c < 2; ++c) {
    binding.inputBuffers[c] = inputBuffers[c];
    binding.outputFloatBuffers[c] = outputFloatBuffers[c];
  }
  binding.bufferIndex = &bufferIndex;
  binding.dropOutCount = &dropOutCount;
  binding.latencyCount = &latencyCount;
  binding.events = &deviceEvents;
  binding.threadId = &streamThreadId;
  binding.sampleRate = sampleRate.load(std::memory_order_relaxed);
  binding.converter = converter;
  binding.avSetMmThreadCharacteristics = pAvSetMmThreadCharacteristicsA;
  binding.avRevertMmThreadCharacteristics = pAvRevertMmThreadCharacteristics;
  std::shared_ptr<CRunningStream> run(new (std::nothrow) CRunningStream(binding, device));
  if (run == nullptr) return false;
  if (!CRunningStream::StartThread(run)) {
    startFailure = ASE_HWMalfunction;
    return false;
  }
  stream = run;
  streamThreadId.store(run->ThreadId(), std::memory_order_relaxed);
  const DWORD t0 = timeGetTime();
  while (timeGetTime() - t0 < kHandshakeMs) {
    if (run->Cycles() >= kHandshakeCycles) break;
    if (run->Failure() != ASE_OK) break;
    Sleep(kHandshakePollMs);
  }
  if (run->Cycles() >= kHandshakeCycles) return true;
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

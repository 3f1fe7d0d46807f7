// The streaming thread: its start with the two-buffer-switch handshake (and what a failed one
// tells the host), its end, and its set-up at time-critical priority inside the "Pro Audio"
// scheduling task.
#include <cstring>

#include "driver/AsioDriver.h"
#include "driver/StartFailureText.h"

namespace {

constexpr DWORD kHandshakeMs = 1000;
constexpr DWORD kHandshakePollMs = 10;
constexpr uint32_t kHandshakeCycles = 2;
constexpr DWORD kStopWaitMs = 2000;

}  // namespace

bool CAsioDriver::StartStreamThread() {
  cycleCount.store(0, std::memory_order_relaxed);
  stopStreaming.store(false, std::memory_order_relaxed);
  dropOutCount.store(0, std::memory_order_relaxed);
  latencyCount.store(0, std::memory_order_relaxed);
  streamFailure.store(ASE_OK, std::memory_order_relaxed);
  if (streamThread == INVALID_HANDLE_VALUE) {
    unsigned threadId = 0;
    const uintptr_t handle = _beginthreadex(nullptr, 0, StreamThreadProc, this, 0, &threadId);
    if (handle != 0) {
      streamThread = reinterpret_cast<HANDLE>(handle);
      streamThreadId.store(threadId, std::memory_order_relaxed);
    }
  }
  const DWORD t0 = timeGetTime();
  while (timeGetTime() - t0 < kHandshakeMs) {
    if (cycleCount.load(std::memory_order_acquire) >= kHandshakeCycles) break;
    if (streamFailure.load(std::memory_order_acquire) != ASE_OK) break;
    Sleep(kHandshakePollMs);
  }
  if (cycleCount.load(std::memory_order_acquire) >= kHandshakeCycles) return true;
  StopStreamThread();
  return false;
}

ASIOError CAsioDriver::StreamStartFailure() {
  const ASIOError failure = streamFailure.load(std::memory_order_acquire);
  if (failure == ASE_NotPresent) {
    SetErrorMessage(kHardwareNotFoundText);
    return ASE_NotPresent;
  }
  SetErrorMessage(failure == ASE_OK ? kStreamSilentText : kStreamRefusedText);
  return ASE_HWMalfunction;
}

void CAsioDriver::StopStreamThread() {
  stopStreaming.store(true, std::memory_order_relaxed);
  if (streamThread == INVALID_HANDLE_VALUE) return;
  // A stop from inside the host's callback can only ask: the thread ends after the callback.
  if (OnStreamThread()) return;
  // The pins and buffers must outlive the thread, so the wait goes on until it has ended; its
  // own waits are bounded, so only a host callback that never returns can hold it here.
  DWORD result = WAIT_TIMEOUT;
  while (result == WAIT_TIMEOUT) result = WaitForSingleObject(streamThread, kStopWaitMs);
  CloseHandle(streamThread);
  streamThread = INVALID_HANDLE_VALUE;
  streamThreadId.store(0, std::memory_order_relaxed);
}

unsigned WINAPI CAsioDriver::StreamThreadProc(void* argument) {
  if (argument == nullptr) return 0;
  auto* driver = static_cast<CAsioDriver*>(argument);
  driver->streamThreadId.store(GetCurrentThreadId(), std::memory_order_relaxed);
  const HRESULT comResult = CoInitialize(nullptr);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  HANDLE task = nullptr;
  if (driver->pAvSetMmThreadCharacteristicsA != nullptr) {
    DWORD taskIndex = 0;
    task = driver->pAvSetMmThreadCharacteristicsA("Pro Audio", &taskIndex);
  }
  driver->RunStreamLoop();
  if (driver->pAvRevertMmThreadCharacteristics != nullptr && task != nullptr) {
    driver->pAvRevertMmThreadCharacteristics(task);
  }
  // Only a successful CoInitialize is balanced.
  if (SUCCEEDED(comResult)) CoUninitialize();
  // Released from inside the host's callback: the object goes now that nothing runs on it.
  if (driver->deleteAfterStream.load(std::memory_order_acquire)) delete driver;
  return 0;
}

void CAsioDriver::OnLastRelease() {
  if (OnStreamThread()) {
    RequestStreamEnd();
    deleteAfterStream.store(true, std::memory_order_release);
    return;
  }
  delete this;
}

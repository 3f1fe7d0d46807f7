// Start, stop and the sample position.
#include "driver/AsioDriver.h"
#include "driver/StartFailureText.h"

namespace {

// How long a start waits for a run that was let go to let the device go.
constexpr int kEndedRunPolls = 100;
constexpr DWORD kEndedRunPollMs = 2;

}  // namespace

ASIOError CAsioDriver::start() {
  return HostCall<ASIOError>(ASE_HWMalfunction, [this] { return Start(); });
}

ASIOError CAsioDriver::Start() {
  // Inside the callback the run is already there, unless the host has just asked it to end.
  if (OnStreamThread()) {
    return CRunningStream::Current()->StopRequested() ? ASE_InvalidMode : ASE_OK;
  }
  const TransportScope scope(this);
  if (!scope.Entered()) return ASE_InvalidMode;
  if (hostBuffers == nullptr) {
    SetErrorMessage(kNoBuffersText);
    return ASE_NotPresent;
  }
  // A running thread keeps its pins; a second start changes nothing.
  if (running.load(std::memory_order_relaxed)) return ASE_OK;
  // A run that was let go inside a host callback that has not returned still holds the pins.
  if (DeviceHeldByEndedRun()) {
    SetErrorMessage(kHeldByEndedStreamText);
    return ASE_NotPresent;
  }
  CKx7Device device;
  OpenDevice(device);
  running.store(false, std::memory_order_relaxed);
  hostBuffers->ResetForStart();
  if (device.captureFilter != nullptr) {
    device.capturePin = CreateCapturePinAtRate(device.captureFilter, sampleRate);
  }
  // The capture pin decides: a start that cannot have it does not take the render pin from a
  // driver object that may be about to stream. A failed start lets the device go at once, so
  // that another driver object can have it.
  if (device.renderFilter != nullptr && device.capturePin != nullptr) {
    device.renderPin = CreateRenderPinAtRate(device.renderFilter, sampleRate);
  }
  if (!device.HasPins()) return ASE_NotPresent;
  // Events count from start's return; those of the handshake, from its beginning until then.
  eventReport.MarkStart(timeGetTime());
  if (!StartStreamThread(device)) return StreamStartFailure();
  running.store(true, std::memory_order_relaxed);
  eventReport.MarkStart(timeGetTime());
  SetErrorMessage(kAsioOkText);
  if (settings.autoOpenPanel.load(std::memory_order_relaxed)) OpenControlPanel(true);
  return ASE_OK;
}

ASIOError CAsioDriver::stop() {
  return HostCall<ASIOError>(ASE_OK, [this] { return Stop(); });
}

ASIOError CAsioDriver::Stop() {
  if (OnStreamThread()) {
    // The thread ends once the callback has returned; the next transport call from a host
    // thread reaps the run. Waiting here would wait for this very thread.
    CRunningStream::Current()->RequestStop();
    panel.TryAskToClose();
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
  running.store(false, std::memory_order_relaxed);
}

bool CAsioDriver::DeviceHeldByEndedRun() {
  if (endedStream == nullptr) return false;
  // A run on its way out (its callback has returned) lets the pins go within moments.
  for (int poll = 0; poll < kEndedRunPolls && !endedStream->DeviceReleased(); ++poll) {
    Sleep(kEndedRunPollMs);
  }
  if (endedStream->DeviceReleased()) endedStream.reset();
  return endedStream != nullptr;
}

bool CAsioDriver::OnStreamThread() const {
  const CRunningStream* run = CRunningStream::Current();
  return run != nullptr && run->Owner() == static_cast<const IStreamOwner*>(this);
}

ASIOError CAsioDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
  if (sPos == nullptr || tStamp == nullptr) return ASE_InvalidParameter;
  // From inside the callback the run's own record answers: it lives as long as the run, also
  // when the driver has let go of the buffers or been released meanwhile.
  const CRunningStream* run = CRunningStream::Current();
  if (run != nullptr && run->Owner() == static_cast<const IStreamOwner*>(this)) {
    run->Host().ReadPosition(sPos, tStamp);
    return ASE_OK;
  }
  // Another host thread may dispose or make the buffers meanwhile.
  const std::shared_ptr<CHostBuffers> host = std::atomic_load(&hostBuffers);
  if (host == nullptr) {
    *sPos = {0, 0};
    *tStamp = {0, 0};
    return ASE_OK;
  }
  host->ReadPosition(sPos, tStamp);
  return ASE_OK;
}

// The device's life under a running stream: a device that fails or goes silent is ridden out on
// the silence clock, and the stream resumes by itself when the device streams again, returns as a
// new instance, or wakes from sleep. A rate asked for while running restarts the pins at it.
#include <cmath>

#include "driver/RunningStream.h"
#include "driver/StartFailureText.h"
#include "ks/KsAudPin.h"
#include "streaming/InputCapture.h"
#include "streaming/OutputRender.h"

void CRunningStream::Note(DeviceEvent event) { owner->RecordEvent(event); }

DWORD CRunningStream::LatestSwitchTime() const {
  if (cycleCount.load(std::memory_order_relaxed) == 0) return timeGetTime();
  return latestSwitchMs;
}

bool CRunningStream::TendDevice(Wake wake) {
  if (DeviceFailed()) return RideOutLoss(true);
  if (stall.Stalled(wake == Wake::Capture, cycleCount.load(std::memory_order_relaxed), renderDone,
                    captureNext, latestSwitchMs, CurrentRate())) {
    return RideOutLoss(false);
  }
  if (RateAsked() && !TakeRequestedRate()) return RideOutLoss(true);
  return !StopRequested();
}

bool CRunningStream::RideOutLoss(bool failed) {
  // A pin that answers and says it is paused was paused under the run: the system sleeps.
  bool gone = failed || device.renderPin == nullptr;
  bool paused = false;
  if (!gone) {
    KSSTATE state = KSSTATE_STOP;
    gone = FAILED(device.renderPin->GetState(&state));
    paused = !gone && state == KSSTATE_PAUSE;
  }
  // The whole gap is one drop-out, however long it lasts.
  owner->CountDropOut();
  if (gone) {
    LetDeviceGo();
  } else {
    Become(paused ? Life::kSuspended : Life::kStalled);
  }
  const bool attached = RunSilenceClock();
  watch.Stop();
  watch.Discard();
  return attached && !StopRequested() && life == Life::kStreaming && render != nullptr;
}

void CRunningStream::Become(Life next) {
  const Life was = life;
  life = next;
  switch (next) {
    case Life::kSuspended:
      Note(DeviceEvent::kSuspended);
      return;
    case Life::kStalled:
      NoteLost();
      return;
    case Life::kAway:
      // Stalled already counts as lost; a device that left in its sleep (its hub lost power),
      // or failed while streaming, is lost now.
      if (was == Life::kStreaming || was == Life::kSuspended) NoteLost();
      return;
    case Life::kStreaming:
      if (was == Life::kSuspended) {
        Note(DeviceEvent::kResumed);
      } else if (was != Life::kStreaming) {
        Note(DeviceEvent::kReturned);
        owner->SetErrorMessage(kAsioOkText);
      }
      return;
  }
}

void CRunningStream::NoteLost() {
  Note(DeviceEvent::kLost);
  deviceLost.store(true, std::memory_order_release);
  owner->SetErrorMessage(kDisconnectedText);
}

void CRunningStream::LetDeviceGo() {
  Become(Life::kAway);
  CloseStreams();
  device.ReleaseEnumerators();
  watch.Start();
}

bool CRunningStream::AwaitSilentHalf(DWORD t0, double dueMs) {
  while (!StopRequested()) {
    if (RateAsked() && !TakeRequestedRate()) LetDeviceGo();
    const double now = static_cast<double>(timeGetTime() - t0);
    if (now >= dueMs) return true;
    HANDLE events[4] = {stopEvent, controlEvent, nullptr, nullptr};
    DWORD count = 2;
    const DWORD foundAt = count;
    const bool away = life == Life::kAway;
    if (away && watch.FoundEvent() != nullptr) events[count++] = watch.FoundEvent();
    const DWORD renderAt = count;
    if (!away && render != nullptr && render->AwaitedEvent() != nullptr) {
      events[count++] = render->AwaitedEvent();
    }
    const auto wait = static_cast<DWORD>(std::ceil(dueMs - now));
    const DWORD woke = WaitForMultipleObjects(count, events, FALSE, wait);
    if (StopRequested()) break;
    double returnedRate = 0.0;
    if (woke == WAIT_OBJECT_0 + foundAt && away && watch.Take(device, &returnedRate)) {
      // The device is back as a new instance, opened by the watch at the rate it read.
      const bool atRate = returnedRate == CurrentRate() || RemakePins(CurrentRate());
      if (!atRate || !ReopenStreams()) {
        LetDeviceGo();
        continue;
      }
      Become(Life::kStreaming);
      return false;
    }
    if (woke == WAIT_OBJECT_0 + renderAt && !away && !OnSilentRenderWake()) return false;
  }
  return false;
}

bool CRunningStream::OnSilentRenderWake() {
  if (!render->WaitPacket(0)) {
    render->DismissWake();
    return true;
  }
  const bool refused = render->TakeRefusal() | capture->TakeRefusal();
  if (refused || render->PacketFailed()) {
    LetDeviceGo();
    return true;
  }
  // The pins complete again: after a sleep, or a stall that ended.
  if (!ReopenStreams()) {
    LetDeviceGo();
    return true;
  }
  Become(Life::kStreaming);
  return false;
}

bool CRunningStream::ReopenStreams() {
  CloseStreams();
  if (!OpenStreams()) {
    CloseStreams();
    streamFailure.store(ASE_OK, std::memory_order_release);
    return false;
  }
  ResetStreamState();
  stall.Restart(cycleCount.load(std::memory_order_relaxed), renderDone, captureNext);
  return true;
}

bool CRunningStream::RemakePins(double newRate) {
  CloseStreams();
  device.ClosePins();
  return device.CreatePins(newRate);
}

bool CRunningStream::RateAsked() const {
  return rateAfterCallback != 0.0 || rateRequest.load(std::memory_order_acquire) == kAsked;
}

bool CRunningStream::TakeRequestedRate() {
  // The callback's own request first, then the host's: a callback that asks at every switch
  // must not keep the host's request waiting until its bound runs out.
  if (rateAfterCallback != 0.0) {
    const double wanted = rateAfterCallback;
    rateAfterCallback = 0.0;
    // Pins that could not be had again leave the host's request to the device's tending.
    if (!RestartAtRate(wanted, false)) return false;
  }
  uint32_t asked = kAsked;
  if (!rateRequest.compare_exchange_strong(asked, kTaken, std::memory_order_acq_rel)) return true;
  return RestartAtRate(askedRate.load(std::memory_order_acquire), true);
}

bool CRunningStream::RestartAtRate(double wanted, bool fromHost) {
  const double old = CurrentRate();
  bool streams = true;
  bool refused = false;
  if (life != Life::kAway && wanted != old) {
    if (RemakePins(wanted)) {
      Note(DeviceEvent::kRateRestarted);
    } else {
      refused = true;
      streams = RemakePins(old);
    }
    streams = streams && ReopenStreams();
  }
  if (!refused) rate.store(wanted, std::memory_order_release);
  // The rate the pins run at is what the host reads from here on, and the next callback's
  // time info is marked. A change asked from inside a callback that the pins refused after all
  // goes back to the old rate.
  if (!refused || !fromHost) {
    owner->TakeRate(CurrentRate());
    host->SetTimeInfoFlags(kSampleRateChanged);
  }
  if (fromHost) {
    rateRequest.store(refused ? kRateRefused : kRateRunning, std::memory_order_release);
    SetEvent(rateAnswered);
  }
  return streams;
}

ASIOError CRunningStream::ChangeRate(double wanted, DWORD milliseconds, bool* restarted) {
  *restarted = false;
  if (controlEvent == nullptr || rateAnswered == nullptr || Ended()) return ASE_NoClock;
  ResetEvent(rateAnswered);
  askedRate.store(wanted, std::memory_order_release);
  rateRequest.store(kAsked, std::memory_order_release);
  SetEvent(controlEvent);
  // A stop asked meanwhile (from inside the callback) ends the loop before it takes the rate.
  HANDLE waits[2] = {rateAnswered, stopEvent};
  if (WaitForMultipleObjects(2, waits, FALSE, milliseconds) != WAIT_OBJECT_0) {
    // Not taken: the run is stopping, or the thread is inside a callback that does not return.
    uint32_t asked = kAsked;
    if (rateRequest.compare_exchange_strong(asked, kNoRequest, std::memory_order_acq_rel)) {
      return StopRequested() ? ASE_OK : ASE_NoClock;
    }
    // Taken: the thread is in the driver's own bounded steps of the restart.
    WaitForSingleObject(rateAnswered, milliseconds);
  }
  *restarted = rateRequest.exchange(kNoRequest, std::memory_order_acq_rel) == kRateRunning;
  return *restarted ? ASE_OK : ASE_NoClock;
}

bool CRunningStream::ChangeRateAfterCallback(double wanted) {
  if (life != Life::kAway && !device.PinsTakeRate(wanted)) return false;
  rateAfterCallback = wanted;
  return true;
}

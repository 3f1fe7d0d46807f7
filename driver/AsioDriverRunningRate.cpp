// A new rate while the stream runs: the run restarts its pins at it, so that the rate the host
// reads, the one its time info carries and the one the pins run at agree at every callback.
#include "driver/AsioDriver.h"

namespace {

// How long setSampleRate waits for the streaming thread to restart the pins.
constexpr DWORD kRateRestartMs = 2000;

}  // namespace

ASIOError CAsioDriver::RestartRunAt(ASIOSampleRate rate, bool* taken) {
  *taken = false;
  if (OnStreamThread()) {
    // Inside the callback: the pins cannot be restarted under it; right after it they are.
    CRunningStream* run = CRunningStream::Current();
    if (run->StopRequested()) return ASE_OK;
    return run->ChangeRateAfterCallback(rate) ? ASE_OK : ASE_NoClock;
  }
  // Without a run (or with one on its way out) the next start makes the pins at the rate.
  if (stream == nullptr || stream->StopRequested() || stream->Ended()) return ASE_OK;
  return stream->ChangeRate(rate, kRateRestartMs, taken);
}

void CAsioDriver::TakeRate(double rate) { sampleRate.store(rate); }

#include "driver/StallRule.h"

namespace {

// A render pin that completes nothing for this long is silent: sleeping, stalled or gone.
constexpr DWORD kStallMs = 500;
// Silence counts only once the start has seen its buffer switches: a device that never streams
// fails the start instead.
constexpr uint32_t kArmedCycles = 2;

}  // namespace

bool CStallRule::Stalled(bool captureWake, uint32_t cycles, uint64_t renderDone,
                         uint64_t captureNext, DWORD latestSwitchMs, double rate) {
  const bool rendered = renderDone != stampedRenderDone;
  if (rendered) {
    stampedRenderDone = renderDone;
    captureAtRender = captureNext;
  }
  if (cycles != stampedCycles) {
    stampedCycles = cycles;
    if (renderDone != renderAtSwitch) lastHalfTime = latestSwitchMs;
    renderAtSwitch = renderDone;
  }
  if (rendered || cycles < kArmedCycles) {
    waitMs = kStallMs;
    return false;
  }
  if (captureWake) {
    const double capturedMs = static_cast<double>(captureNext - captureAtRender) * 1000.0 / rate;
    return capturedMs >= kStallMs;
  }
  const DWORD silent = timeGetTime() - lastHalfTime;
  waitMs = silent >= kStallMs ? kStallMs : kStallMs - silent;
  return silent >= kStallMs;
}

void CStallRule::Restart(uint32_t cycles, uint64_t renderDone, uint64_t captureNext) {
  stampedCycles = cycles;
  stampedRenderDone = renderAtSwitch = renderDone;
  captureAtRender = captureNext;
  lastHalfTime = timeGetTime();
}

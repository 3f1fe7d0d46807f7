// CStallRule: when a render pin that completes nothing counts as silent. Render that stays silent
// while capture goes on is stalled after 500 ms of captured frames; with nothing completing, after
// 500 ms from the latest switch in whose period render completed (the stamp the host got, so the
// clock is read only on time-outs).
//
// Threads: the streaming thread alone.
#pragma once

#include <cstdint>

#include "platform/windows.h"

class CStallRule {
 public:
  // After a wake of the loop (`captureWake`: capture woke it), with the switches so far, render's
  // and capture's progress and the latest switch's time: whether render is silent.
  bool Stalled(bool captureWake, uint32_t cycles, uint64_t renderDone, uint64_t captureNext,
               DWORD latestSwitchMs, double rate);
  // How long the loop may wait before render counts as silent.
  DWORD WaitMs() const { return waitMs; }
  // The streams were opened anew: silence counts from now.
  void Restart(uint32_t cycles, uint64_t renderDone, uint64_t captureNext);

 private:
  // Render's progress as the rule last saw it, and where capture stood then.
  uint64_t stampedRenderDone = 0;
  uint64_t captureAtRender = 0;
  // The latest switch in whose period render completed, its time and render's progress at it.
  uint32_t stampedCycles = 0;
  uint64_t renderAtSwitch = 0;
  DWORD lastHalfTime = 0;
  DWORD waitMs = 500;
};

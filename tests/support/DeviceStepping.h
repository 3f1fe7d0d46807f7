// Moving a virtual KX-7's stepped clock under a streaming driver: completion by completion, and
// after each the driver's streaming thread is given the time to answer until it waits again. The
// device then sees the driver's answer before its next moment, whatever the timing profile, so a
// run is the same every time.
#pragma once

#include <cstdint>

#include "platform/emu/test_hooks.h"
#include "virtual_device/VirtualKsDevice.h"

namespace kx7test {

// Longest a streaming thread may take to answer one completion before a run counts as hung.
inline constexpr DWORD kSettleMs = 20000;

// Waits until the thread (0: none yet) is idle again; false when it did not settle in time.
inline bool SettleThread(DWORD threadId) {
  return threadId == 0 || emu_test::WaitUntilIdle(threadId, kSettleMs);
}

// Moves the clock by `frames`, letting the thread answer every completion on the way (and
// finish what it is doing before the first step).
template <typename ThreadId>
bool StepFrames(vkx7::VirtualKsDevice& device, uint64_t frames, const ThreadId& threadId) {
  if (!SettleThread(threadId())) return false;
  while (frames > 0) {
    frames -= device.StepToNextCompletion(frames);
    if (!SettleThread(threadId())) return false;
  }
  return true;
}

// Moves the clock until the device has reached `frame`, letting the thread answer every
// completion; a host's callback may move it on too (AdvanceClock), and that time counts.
template <typename ThreadId>
bool StepUntil(vkx7::VirtualKsDevice& device, uint64_t frame, const ThreadId& threadId) {
  if (!SettleThread(threadId())) return false;
  while (device.FramesElapsed() < frame) {
    device.StepToNextCompletion(frame - device.FramesElapsed());
    if (!SettleThread(threadId())) return false;
  }
  return true;
}

// Moves the clock by `frames` from the calling thread without waiting for the streaming thread:
// device time that passes while a host's callback works.
inline void AdvanceClock(vkx7::VirtualKsDevice& device, uint64_t frames) {
  while (frames > 0) frames -= device.StepToNextCompletion(frames);
}

}  // namespace kx7test

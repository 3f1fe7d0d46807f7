// Timers: SetTimer and KillTimer, and the WM_TIMER messages a thread's queue hands out when one
// is due. A timer belongs to the queue of its window's thread, or of the calling thread.
#include "platform/emu/WindowState.h"
#include "platform/emu/sync.h"

namespace emu {
namespace {

bool Due(DWORD now, DWORD due) { return static_cast<LONG>(now - due) >= 0; }

}  // namespace

bool TakeDueTimer(MessageQueue& queue, HWND window, UINT filterMin, UINT filterMax, bool remove,
                  MSG* message) {
  const DWORD now = timeGetTime();
  for (Timer& timer : queue.timers) {
    if (!Due(now, timer.due) || !InRange(WM_TIMER, filterMin, filterMax)) continue;
    if (window != nullptr && !IsSelfOrChild(timer.window, window)) continue;
    *message = MSG{timer.window, WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.proc), now, {}};
    if (remove) timer.due = now + timer.period;
    return true;
  }
  return false;
}

// Tests steer the clock, so a pending timer is looked at again at least every 20 ms.
std::chrono::milliseconds TimerWait(const MessageQueue& queue) {
  const DWORD now = timeGetTime();
  LONG wait = 20;
  for (const Timer& timer : queue.timers) {
    const LONG left = static_cast<LONG>(timer.due - now);
    if (left < wait) wait = left < 1 ? 1 : left;
  }
  return std::chrono::milliseconds(wait);
}

}  // namespace emu

using emu::FindOrFail;
using emu::Manager;
using emu::MessageQueue;
using emu::QueueOfCurrentThread;
using emu::Timer;
using emu::Window;

extern "C" {

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerProc) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  MessageQueue* owner = nullptr;
  if (window != nullptr) {
    Window* found = FindOrFail(window);
    if (found == nullptr) return 0;
    owner = &Manager().queues[found->threadId];
  } else {
    id = Manager().nextTimerId++;
    owner = &QueueOfCurrentThread();
  }
  const UINT period = elapse < 10 ? 10 : elapse;
  MessageQueue& queue = *owner;
  for (Timer& timer : queue.timers) {
    if (timer.window == window && timer.id == id) {
      timer = Timer{window, id, period, timeGetTime() + period, timerProc};
      return window != nullptr ? 1 : id;
    }
  }
  queue.timers.push_back(Timer{window, id, period, timeGetTime() + period, timerProc});
  Manager().wake.notify_all();
  return window != nullptr ? 1 : id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  for (auto& [threadId, queue] : Manager().queues) {
    for (auto it = queue.timers.begin(); it != queue.timers.end(); ++it) {
      if (it->window == window && it->id == id) {
        queue.timers.erase(it);
        return TRUE;
      }
    }
  }
  return FALSE;
}

}  // extern "C"

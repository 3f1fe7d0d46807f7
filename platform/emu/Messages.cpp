// Messages and queues: sending runs the window procedure on the window's own thread, posting
// queues a message for that thread; GetMessageA and PeekMessageA take what is queued, then a
// quit request, then a due timer; dispatching and the dialog keys.
#include <algorithm>
#include <chrono>

#include "platform/emu/WindowState.h"
#include "platform/emu/errors.h"
#include "platform/emu/module.h"
#include "platform/emu/sync.h"

namespace {

using emu::Find;
using emu::FindOrFail;
using emu::InRange;
using emu::IsSelfOrChild;
using emu::Manager;
using emu::MessageQueue;
using emu::Window;

// Takes the next message that matches the filter: posted messages first, then a quit request,
// then a due timer. Lock held.
bool Take(MessageQueue& queue, HWND window, UINT filterMin, UINT filterMax, bool remove,
          MSG* message) {
  for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
    if (!InRange(it->message, filterMin, filterMax)) continue;
    if (window != nullptr && !IsSelfOrChild(it->hwnd, window)) continue;
    *message = *it;
    if (remove) queue.posted.erase(it);
    return true;
  }
  if (queue.quit && window == nullptr && InRange(WM_QUIT, filterMin, filterMax)) {
    *message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0, timeGetTime(), {}};
    if (remove) queue.quit = false;
    return true;
  }
  return emu::TakeDueTimer(queue, window, filterMin, filterMax, remove, message);
}

}  // namespace

extern "C" {

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard<std::mutex> guard(Manager().lock);
    Window* found = FindOrFail(window);
    if (found == nullptr) return 0;
    if (found->threadId != GetCurrentThreadId()) {
      LRESULT result = 0;
      emu::DataMessage(*found, message, wParam, lParam, &result);
      return result;
    }
  }
  return emu::WindowProcedure(window, message, wParam, lParam);
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND control = GetDlgItem(dialog, id);
  return control != nullptr ? SendMessageA(control, message, wParam, lParam) : 0;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  Window* target = FindOrFail(window);
  if (target == nullptr) return FALSE;
  Manager().queues[target->threadId].posted.push_back(
      MSG{window, message, wParam, lParam, timeGetTime(), {}});
  Manager().wake.notify_all();
  return TRUE;
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  auto found = Manager().queues.find(threadId);
  if (found == Manager().queues.end()) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  found->second.posted.push_back(MSG{nullptr, message, wParam, lParam, timeGetTime(), {}});
  Manager().wake.notify_all();
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  MessageQueue& queue = emu::QueueOfCurrentThread();
  queue.quit = true;
  queue.quitCode = exitCode;
}

BOOL GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax) {
  if (message == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  std::unique_lock<std::mutex> lock(Manager().lock);
  if (window != nullptr && FindOrFail(window) == nullptr) return -1;
  MessageQueue& queue = emu::QueueOfCurrentThread();
  while (!Take(queue, window, filterMin, filterMax, true, message)) {
    if (queue.timers.empty()) {
      Manager().wake.wait(lock);
    } else {
      Manager().wake.wait_for(lock, emu::TimerWait(queue));
    }
  }
  return message->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
  if (message == nullptr) return FALSE;
  std::lock_guard<std::mutex> guard(Manager().lock);
  MessageQueue& queue = emu::QueueOfCurrentThread();
  return Take(queue, window, filterMin, filterMax, (remove & PM_REMOVE) != 0, message) ? TRUE
                                                                                       : FALSE;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask) {
  // The handles are looked at between short waits on the queue; a message wakes the wait at once.
  // The real clock bounds it: tests may hold timeGetTime still.
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  const auto slice = std::chrono::milliseconds(count > 0 ? 1 : 20);
  while (true) {
    if (count > 0) {
      const DWORD got = WaitForMultipleObjects(count, handles, waitAll, 0);
      if (got != WAIT_TIMEOUT) return got;
    }
    std::unique_lock<std::mutex> lock(Manager().lock);
    MessageQueue& queue = emu::QueueOfCurrentThread();
    MSG peeked;
    if (wakeMask != 0 && Take(queue, nullptr, 0, 0, false, &peeked)) return WAIT_OBJECT_0 + count;
    const auto now = Clock::now();
    if (milliseconds != INFINITE && now >= deadline) return WAIT_TIMEOUT;
    auto until = now + std::min<Clock::duration>(slice, emu::TimerWait(queue));
    if (milliseconds != INFINITE) until = std::min(until, deadline);
    Manager().wake.wait_until(lock, until);
  }
}

// Keys are not turned into characters here: nothing in the system reads WM_CHAR.
BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* message) {
  if (message == nullptr) return 0;
  if (message->message == WM_TIMER && message->lParam != 0) {
    reinterpret_cast<TIMERPROC>(message->lParam)(
        message->hwnd, WM_TIMER, static_cast<UINT_PTR>(message->wParam), timeGetTime());
    return 0;
  }
  if (message->hwnd == nullptr) return 0;
  {
    std::lock_guard<std::mutex> guard(Manager().lock);
    Window* found = FindOrFail(message->hwnd);
    if (found == nullptr || found->threadId != GetCurrentThreadId()) return 0;
  }
  return emu::WindowProcedure(message->hwnd, message->message, message->wParam, message->lParam);
}

BOOL IsDialogMessageA(HWND dialog, LPMSG message) {
  if (message == nullptr) return FALSE;
  {
    std::lock_guard<std::mutex> guard(Manager().lock);
    if (Find(dialog) == nullptr || message->hwnd == nullptr ||
        !IsSelfOrChild(message->hwnd, dialog)) {
      return FALSE;
    }
  }
  if (message->message == WM_KEYDOWN &&
      (message->wParam == VK_ESCAPE || message->wParam == VK_RETURN)) {
    // Escape is the Cancel button, Enter the default (OK) button.
    const int id = message->wParam == VK_ESCAPE ? IDCANCEL : IDOK;
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    return TRUE;
  }
  DispatchMessageA(message);
  return TRUE;
}

}  // extern "C"

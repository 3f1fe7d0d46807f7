// The window manager's state: the window table, the per-thread queues and their lifetime.
#include "platform/emu/WindowState.h"

#include "platform/emu/errors.h"
#include "platform/emu/sync.h"
#include "platform/emu/test_hooks.h"

namespace emu {
namespace {

// Removes the thread's queue and its windows when the thread ends: a thread's windows go with it.
struct QueueOwner {
  DWORD threadId = 0;
  ~QueueOwner();
};
thread_local QueueOwner queueOwner;

QueueOwner::~QueueOwner() {
  if (threadId == 0) return;
  std::lock_guard<std::mutex> guard(Manager().lock);
  std::vector<HWND> owned;
  for (auto& [handle, window] : Manager().windows) {
    if (window.threadId == threadId && window.parent == nullptr) owned.push_back(handle);
  }
  for (HWND handle : owned) Forget(handle);
  Manager().queues.erase(threadId);
}

}  // namespace

WindowManagerState& Manager() {
  static WindowManagerState* state =
      new WindowManagerState;  // lives to the very end of the process
  return *state;
}

MessageQueue& QueueOfCurrentThread() {
  const DWORD id = GetCurrentThreadId();
  queueOwner.threadId = id;
  return Manager().queues[id];
}

Window* Find(HWND handle) {
  auto found = Manager().windows.find(handle);
  return found == Manager().windows.end() ? nullptr : &found->second;
}

Window* FindOrFail(HWND handle) {
  Window* window = Find(handle);
  if (window == nullptr) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return window;
}

HWND AddWindow(Window window) {
  WindowManagerState& state = Manager();
  window.handle = reinterpret_cast<HWND>(state.nextHandle);
  state.nextHandle += 0x10;
  const HWND handle = window.handle;
  state.windows.emplace(handle, std::move(window));
  return handle;
}

void Forget(HWND handle) {
  Window* window = Find(handle);
  if (window == nullptr) return;
  const std::vector<HWND> children = window->children;
  for (HWND child : children) Forget(child);
  for (auto& [id, queue] : Manager().queues) {
    auto& posted = queue.posted;
    for (auto it = posted.begin(); it != posted.end();) {
      it = it->hwnd == handle ? posted.erase(it) : it + 1;
    }
    auto& timers = queue.timers;
    for (auto it = timers.begin(); it != timers.end();) {
      it = it->window == handle ? timers.erase(it) : it + 1;
    }
  }
  Manager().windows.erase(handle);
}

bool IsSelfOrChild(HWND window, HWND filter) {
  if (filter == nullptr || window == filter) return true;
  Window* found = Find(window);
  return found != nullptr && found->parent != nullptr && IsSelfOrChild(found->parent, filter);
}

bool InRange(UINT message, UINT filterMin, UINT filterMax) {
  return (filterMin == 0 && filterMax == 0) || (message >= filterMin && message <= filterMax);
}

}  // namespace emu

namespace emu_test {

int WindowCount() {
  std::lock_guard<std::mutex> guard(emu::Manager().lock);
  return static_cast<int>(emu::Manager().windows.size());
}

}  // namespace emu_test

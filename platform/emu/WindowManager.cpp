// The headless window manager: windows and their data, per-thread message queues, timers, and
// the default behaviour of dialogs, buttons, statics and drop-down lists. One lock guards it all;
// window and dialog procedures are always called with the lock released.
#include <strings.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/emu/errors.h"
#include "platform/emu/module.h"
#include "platform/emu/sync.h"
#include "platform/emu/test_hooks.h"
#include "platform/emu/window.h"

namespace {

// Posted to a combo box by the test hook: the user picked entry wParam.
constexpr UINT kUserPick = 0xC0DE;
// Dialog base units of the emulated dialog font, and the emulated primary screen.
constexpr int kBaseUnitX = 6, kBaseUnitY = 13;
constexpr int kScreenWidth = 1280, kScreenHeight = 1024;
constexpr const char kDialogClass[] = "#32770";

enum class Kind { Dialog, Button, Static, ComboBox };

struct Window {
  HWND handle = nullptr;
  Kind kind = Kind::Static;
  int id = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  std::string text;
  RECT rect{};
  HWND parent = nullptr;
  DWORD threadId = 0;
  bool visible = false;
  DLGPROC dialogProc = nullptr;
  LONG_PTR userData = 0;
  std::vector<HWND> children;
  std::vector<std::string> items;
  int selection = CB_ERR;
  int check = BST_UNCHECKED;
};

struct Timer {
  HWND window;
  UINT_PTR id;
  UINT period;
  DWORD due;
  TIMERPROC proc;
};

struct Queue {
  std::deque<MSG> posted;
  std::vector<Timer> timers;
  bool quit = false;
  int quitCode = 0;
};

struct State {
  std::mutex lock;
  std::condition_variable wake;
  std::map<HWND, Window> windows;
  std::map<DWORD, Queue> queues;
  uintptr_t nextHandle = 0x20000;
  UINT_PTR nextTimerId = 0x7000;
  bool failDialogs = false;
};

State& Manager() {
  static State* state = new State;  // lives to the very end of the process
  return *state;
}

// Removes the thread's queue and its windows when the thread ends: a thread's windows go with it.
struct QueueOwner {
  DWORD threadId = 0;
  ~QueueOwner();
};
thread_local QueueOwner queueOwner;

Queue& QueueOfCurrentThread() {
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

// Removes a window, its children, their timers and the messages posted to them. Lock held.
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

bool InRange(UINT message, UINT filterMin, UINT filterMax) {
  return (filterMin == 0 && filterMax == 0) || (message >= filterMin && message <= filterMax);
}

bool IsSelfOrChild(HWND window, HWND filter) {
  if (filter == nullptr || window == filter) return true;
  Window* found = Find(window);
  return found != nullptr && found->parent != nullptr && IsSelfOrChild(found->parent, filter);
}

bool Due(DWORD now, DWORD due) { return static_cast<LONG>(now - due) >= 0; }

// Takes the next message that matches the filter: posted messages first, then a quit request,
// then a due timer. Lock held.
bool Take(Queue& queue, HWND window, UINT filterMin, UINT filterMax, bool remove, MSG* message) {
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

// How long a blocked GetMessageA may sleep before a timer could be due. Tests steer the clock,
// so a pending timer is looked at again at least every 20 ms.
std::chrono::milliseconds TimerWait(const Queue& queue) {
  const DWORD now = timeGetTime();
  LONG wait = 20;
  for (const Timer& timer : queue.timers) {
    const LONG left = static_cast<LONG>(timer.due - now);
    if (left < wait) wait = left < 1 ? 1 : left;
  }
  return std::chrono::milliseconds(wait);
}

bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  Window* target = FindOrFail(window);
  if (target == nullptr) return false;
  Manager().queues[target->threadId].posted.push_back(
      MSG{window, message, wParam, lParam, timeGetTime(), {}});
  Manager().wake.notify_all();
  return true;
}

int CopyText(const std::string& text, LPSTR buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  const int count =
      static_cast<int>(text.size()) < size - 1 ? static_cast<int>(text.size()) : size - 1;
  std::memcpy(buffer, text.data(), static_cast<size_t>(count));
  buffer[count] = '\0';
  return count;
}

// Messages answered from a window's own data: text, check state, list and selection. Lock held.
bool DataMessage(Window& window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  const bool combo = window.kind == Kind::ComboBox;
  const int count = static_cast<int>(window.items.size());
  const int index = static_cast<int>(static_cast<INT_PTR>(wParam));
  switch (message) {
    case WM_SETTEXT:
      window.text = lParam != 0 ? reinterpret_cast<LPCSTR>(lParam) : "";
      *result = TRUE;
      return true;
    case WM_GETTEXT: {
      const std::string& text =
          combo ? (window.selection >= 0 ? window.items[window.selection] : std::string())
                : window.text;
      *result = CopyText(text, reinterpret_cast<LPSTR>(lParam), index);
      return true;
    }
    case WM_GETTEXTLENGTH:
      *result = static_cast<LRESULT>(
          combo ? (window.selection >= 0 ? window.items[window.selection].size() : 0)
                : window.text.size());
      return true;
    default:
      break;
  }
  if (window.kind == Kind::Button) {
    if (message == BM_GETCHECK) {
      *result = window.check;
      return true;
    }
    if (message == BM_SETCHECK) {
      window.check = index;
      *result = 0;
      return true;
    }
  }
  if (!combo) return false;
  switch (message) {
    case CB_ADDSTRING:
      window.items.emplace_back(lParam != 0 ? reinterpret_cast<LPCSTR>(lParam) : "");
      *result = count;
      return true;
    case CB_GETCOUNT:
      *result = count;
      return true;
    case CB_GETCURSEL:
      *result = window.selection;
      return true;
    case CB_SETCURSEL:
      window.selection = index >= 0 && index < count ? index : CB_ERR;
      *result = window.selection;
      return true;
    case CB_GETLBTEXT:
      if (index < 0 || index >= count || lParam == 0) {
        *result = CB_ERR;
      } else {
        std::strcpy(reinterpret_cast<LPSTR>(lParam), window.items[index].c_str());
        *result = static_cast<LRESULT>(window.items[index].size());
      }
      return true;
    case CB_GETLBTEXTLEN:
      *result =
          index >= 0 && index < count ? static_cast<LRESULT>(window.items[index].size()) : CB_ERR;
      return true;
    case CB_RESETCONTENT:
      window.items.clear();
      window.selection = CB_ERR;
      *result = 0;
      return true;
    default:
      return false;
  }
}

struct Snapshot {
  Kind kind;
  int id;
  HWND parent;
  DLGPROC dialogProc;
  DWORD threadId;
  DWORD style;
};

bool TakeSnapshot(HWND window, Snapshot* snapshot) {
  Window* found = FindOrFail(window);
  if (found == nullptr) return false;
  *snapshot = {found->kind,       found->id,       found->parent,
               found->dialogProc, found->threadId, found->style};
  return true;
}

LRESULT Notify(HWND parent, int id, int code, HWND control) {
  return SendMessageA(parent, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
}

// The window procedure of every class, run on the window's own thread.
LRESULT WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Snapshot self{};
  {
    std::lock_guard<std::mutex> guard(Manager().lock);
    if (!TakeSnapshot(window, &self)) return 0;
  }
  if (self.kind == Kind::Dialog && self.dialogProc != nullptr) {
    const INT_PTR handled = self.dialogProc(window, message, wParam, lParam);
    if (handled != 0) return handled;
  }
  switch (message) {
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_CLOSE:
      // A dialog's close box acts as its Cancel button.
      if (self.kind == Kind::Dialog) {
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, IDCANCEL)));
      }
      return 0;
    case BM_CLICK:
      if (self.kind != Kind::Button) return 0;
      if ((self.style & 0xF) == BS_AUTOCHECKBOX) {
        const LRESULT checked = SendMessageA(window, BM_GETCHECK, 0, 0);
        SendMessageA(window, BM_SETCHECK, checked == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
      }
      if (self.parent != nullptr) Notify(self.parent, self.id, BN_CLICKED, window);
      return 0;
    case kUserPick:
      if (self.kind != Kind::ComboBox) return 0;
      SendMessageA(window, CB_SETCURSEL, wParam, 0);
      if (self.parent != nullptr) Notify(self.parent, self.id, CBN_SELCHANGE, window);
      return 0;
    default:
      break;
  }
  std::lock_guard<std::mutex> guard(Manager().lock);
  Window* found = Find(window);
  LRESULT result = 0;
  if (found != nullptr) DataMessage(*found, message, wParam, lParam, &result);
  return result;
}

Kind KindOfClass(const char* className, bool* known) {
  *known = true;
  if (strcasecmp(className, "Button") == 0) return Kind::Button;
  if (strcasecmp(className, "Static") == 0) return Kind::Static;
  if (strcasecmp(className, "ComboBox") == 0) return Kind::ComboBox;
  *known = false;
  return Kind::Static;
}

RECT DialogUnitsToPixels(short x, short y, short cx, short cy) {
  const LONG left = x * kBaseUnitX / 4, top = y * kBaseUnitY / 8;
  return RECT{left, top, left + cx * kBaseUnitX / 4, top + cy * kBaseUnitY / 8};
}

HWND AddWindow(Window window) {
  State& state = Manager();
  window.handle = reinterpret_cast<HWND>(state.nextHandle);
  state.nextHandle += 0x10;
  const HWND handle = window.handle;
  state.windows.emplace(handle, std::move(window));
  return handle;
}

// Builds a dialog and its controls from a template, hidden, without calling its procedure.
HWND BuildDialog(const EmuDialogTemplate& layout, HWND parent, DLGPROC dialogProc) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  if (Manager().failDialogs) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  QueueOfCurrentThread();
  Window dialog;
  dialog.kind = Kind::Dialog;
  dialog.style = layout.style & ~WS_VISIBLE;
  dialog.exStyle = layout.exStyle;
  dialog.text = layout.caption != nullptr ? layout.caption : "";
  dialog.rect = DialogUnitsToPixels(layout.x, layout.y, layout.cx, layout.cy);
  dialog.parent = nullptr;  // an owner window is not a parent
  (void)parent;
  dialog.threadId = GetCurrentThreadId();
  dialog.dialogProc = dialogProc;
  const HWND handle = AddWindow(std::move(dialog));
  for (int i = 0; i < layout.controlCount; ++i) {
    const EmuDialogControl& control = layout.controls[i];
    bool known = false;
    Window child;
    child.kind = KindOfClass(control.className, &known);
    if (!known) {
      Forget(handle);
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    child.id = control.id;
    child.style = control.style;
    child.exStyle = control.exStyle;
    if (child.kind != Kind::ComboBox) child.text = control.text != nullptr ? control.text : "";
    child.rect = DialogUnitsToPixels(control.x, control.y, control.cx, control.cy);
    child.parent = handle;
    child.threadId = GetCurrentThreadId();
    child.visible = (control.style & WS_VISIBLE) != 0;
    const HWND childHandle = AddWindow(std::move(child));
    Find(handle)->children.push_back(childHandle);
  }
  return handle;
}

}  // namespace

namespace emu_test {

bool PostComboPick(HWND comboBox, int index) {
  return PostMessageA(comboBox, kUserPick, static_cast<WPARAM>(index), 0) != FALSE;
}

int WindowCount() {
  std::lock_guard<std::mutex> guard(Manager().lock);
  return static_cast<int>(Manager().windows.size());
}

void FailDialogCreation(bool fail) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  Manager().failDialogs = fail;
}

}  // namespace emu_test

extern "C" {

HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC dialogProc,
                        LPARAM initParam) {
  const HRSRC resource = FindResourceA(instance, templateName, RT_DIALOG);
  if (resource == nullptr) return nullptr;
  const auto* layout =
      static_cast<const EmuDialogTemplate*>(LockResource(LoadResource(instance, resource)));
  if (layout == nullptr) return nullptr;
  const HWND dialog = BuildDialog(*layout, parent, dialogProc);
  if (dialog == nullptr) return nullptr;
  if (dialogProc != nullptr) dialogProc(dialog, WM_INITDIALOG, 0, initParam);
  if (!IsWindow(dialog)) return nullptr;  // destroyed while it initialised
  if ((layout->style & WS_VISIBLE) != 0) ShowWindow(dialog, SW_SHOW);
  return dialog;
}

BOOL DestroyWindow(HWND window) {
  std::vector<HWND> order;
  {
    std::lock_guard<std::mutex> guard(Manager().lock);
    Window* found = FindOrFail(window);
    if (found == nullptr) return FALSE;
    if (found->threadId != GetCurrentThreadId()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    order.push_back(window);
    order.insert(order.end(), found->children.begin(), found->children.end());
  }
  // The window hears of its destruction before its children, as on Windows.
  for (HWND handle : order) WindowProcedure(handle, WM_DESTROY, 0, 0);
  std::lock_guard<std::mutex> guard(Manager().lock);
  Forget(window);
  return TRUE;
}

// A modeless dialog is only hidden; its owner destroys it.
BOOL EndDialog(HWND dialog, INT_PTR) {
  if (!IsWindow(dialog)) return FALSE;
  ShowWindow(dialog, SW_HIDE);
  return TRUE;
}

BOOL IsWindow(HWND window) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  return Find(window) != nullptr;
}

BOOL IsWindowVisible(HWND window) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  for (Window* found = Find(window); found != nullptr; found = Find(found->parent)) {
    if (!found->visible) return FALSE;
    if (found->parent == nullptr) return TRUE;
  }
  return FALSE;
}

BOOL ShowWindow(HWND window, int command) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  Window* found = FindOrFail(window);
  if (found == nullptr) return FALSE;
  const bool wasVisible = found->visible;
  found->visible = command != SW_HIDE;
  return wasVisible ? TRUE : FALSE;
}

BOOL SetForegroundWindow(HWND window) { return IsWindow(window); }

HWND FindWindowA(LPCSTR className, LPCSTR windowName) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  for (auto& [handle, window] : Manager().windows) {
    if (window.parent != nullptr) continue;
    if (className != nullptr && strcasecmp(className, kDialogClass) != 0) continue;
    if (windowName != nullptr && strcasecmp(windowName, window.text.c_str()) != 0) continue;
    return handle;
  }
  return nullptr;
}

HWND GetParent(HWND window) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  Window* found = FindOrFail(window);
  return found != nullptr ? found->parent : nullptr;
}

HWND GetDlgItem(HWND dialog, int id) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  Window* found = FindOrFail(dialog);
  if (found == nullptr) return nullptr;
  for (HWND child : found->children) {
    if (Find(child)->id == id) return child;
  }
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

int GetDlgCtrlID(HWND window) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  Window* found = FindOrFail(window);
  return found != nullptr ? found->id : 0;
}

DWORD GetWindowThreadProcessId(HWND window, LPDWORD processId) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  Window* found = FindOrFail(window);
  if (found == nullptr) return 0;
  if (processId != nullptr) *processId = GetCurrentProcessId();
  return found->threadId;
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
  return SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0;
}

int GetWindowTextA(HWND window, LPSTR text, int size) {
  if (text != nullptr && size > 0) text[0] = '\0';
  std::lock_guard<std::mutex> guard(Manager().lock);
  Window* found = FindOrFail(window);
  LRESULT result = 0;
  if (found != nullptr)
    DataMessage(*found, WM_GETTEXT, size, reinterpret_cast<LPARAM>(text), &result);
  return static_cast<int>(result);
}

int GetWindowTextLengthA(HWND window) {
  return static_cast<int>(SendMessageA(window, WM_GETTEXTLENGTH, 0, 0));
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  const HWND control = GetDlgItem(dialog, id);
  return control != nullptr && SetWindowTextA(control, text);
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size) {
  if (text != nullptr && size > 0) text[0] = '\0';
  const HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return 0;
  return static_cast<UINT>(
      SendMessageA(control, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(text)));
}

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  Window* found = FindOrFail(window);
  if (found == nullptr) return 0;
  if (index != GWLP_USERDATA) {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  const LONG_PTR previous = found->userData;
  found->userData = value;
  return previous;
}

LONG_PTR GetWindowLongPtrA(HWND window, int index) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  Window* found = FindOrFail(window);
  if (found == nullptr) return 0;
  if (index != GWLP_USERDATA) {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  return found->userData;
}

BOOL GetWindowRect(HWND window, LPRECT rect) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  Window* found = FindOrFail(window);
  if (found == nullptr || rect == nullptr) return FALSE;
  *rect = found->rect;
  // Children keep positions relative to their parent; the rectangle is in screen coordinates.
  for (Window* parent = Find(found->parent); parent != nullptr; parent = Find(parent->parent)) {
    rect->left += parent->rect.left;
    rect->right += parent->rect.left;
    rect->top += parent->rect.top;
    rect->bottom += parent->rect.top;
  }
  return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  Window* found = FindOrFail(window);
  if (found == nullptr) return FALSE;
  found->rect = RECT{x, y, x + width, y + height};
  return TRUE;
}

int GetSystemMetrics(int index) {
  if (index == SM_CXSCREEN) return kScreenWidth;
  if (index == SM_CYSCREEN) return kScreenHeight;
  return 0;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard<std::mutex> guard(Manager().lock);
    Window* found = FindOrFail(window);
    if (found == nullptr) return 0;
    if (found->threadId != GetCurrentThreadId()) {
      LRESULT result = 0;
      DataMessage(*found, message, wParam, lParam, &result);
      return result;
    }
  }
  return WindowProcedure(window, message, wParam, lParam);
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND control = GetDlgItem(dialog, id);
  return control != nullptr ? SendMessageA(control, message, wParam, lParam) : 0;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return Post(window, message, wParam, lParam) ? TRUE : FALSE;
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
  Queue& queue = QueueOfCurrentThread();
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
  Queue& queue = QueueOfCurrentThread();
  while (!Take(queue, window, filterMin, filterMax, true, message)) {
    if (queue.timers.empty()) {
      Manager().wake.wait(lock);
    } else {
      Manager().wake.wait_for(lock, TimerWait(queue));
    }
  }
  return message->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
  if (message == nullptr) return FALSE;
  std::lock_guard<std::mutex> guard(Manager().lock);
  Queue& queue = QueueOfCurrentThread();
  return Take(queue, window, filterMin, filterMax, (remove & PM_REMOVE) != 0, message) ? TRUE
                                                                                       : FALSE;
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
  return WindowProcedure(message->hwnd, message->message, message->wParam, message->lParam);
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

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerProc) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  Queue* owner = nullptr;
  if (window != nullptr) {
    Window* found = FindOrFail(window);
    if (found == nullptr) return 0;
    owner = &Manager().queues[found->threadId];
  } else {
    id = Manager().nextTimerId++;
    owner = &QueueOfCurrentThread();
  }
  const UINT period = elapse < 10 ? 10 : elapse;
  Queue& queue = *owner;
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

// Windows and dialogs: a dialog built from its template, destruction, visibility, lookup by
// identifier or caption, and the window's own data (text, user data, position).
#include <strings.h>

#include <utility>

#include "platform/emu/WindowState.h"
#include "platform/emu/errors.h"
#include "platform/emu/module.h"
#include "platform/emu/sync.h"
#include "platform/emu/test_hooks.h"

namespace {

using emu::AddWindow;
using emu::Find;
using emu::FindOrFail;
using emu::Manager;
using emu::Window;
using emu::WindowKind;

// Dialog base units of the emulated dialog font, and the emulated primary screen.
constexpr int kBaseUnitX = 6, kBaseUnitY = 13;
constexpr int kScreenWidth = 1280, kScreenHeight = 1024;
constexpr const char kDialogClass[] = "#32770";

RECT DialogUnitsToPixels(short x, short y, short cx, short cy) {
  const LONG left = x * kBaseUnitX / 4, top = y * kBaseUnitY / 8;
  return RECT{left, top, left + cx * kBaseUnitX / 4, top + cy * kBaseUnitY / 8};
}

// Builds a dialog and its controls from a template, hidden, without calling its procedure.
HWND BuildDialog(const EmuDialogTemplate& layout, HWND parent, DLGPROC dialogProc) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  if (Manager().failDialogs) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  emu::QueueOfCurrentThread();
  Window dialog;
  dialog.kind = WindowKind::Dialog;
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
    child.kind = emu::KindOfClass(control.className, &known);
    if (!known) {
      emu::Forget(handle);
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    child.id = control.id;
    child.style = control.style;
    child.exStyle = control.exStyle;
    if (child.kind != WindowKind::ComboBox)
      child.text = control.text != nullptr ? control.text : "";
    child.rect = DialogUnitsToPixels(control.x, control.y, control.cx, control.cy);
    child.parent = handle;
    child.threadId = GetCurrentThreadId();
    child.visible = (control.style & WS_VISIBLE) != 0;
    const HWND childHandle = AddWindow(std::move(child));
    Find(handle)->children.push_back(childHandle);
  }
  return handle;
}

// The one window value kept for the caller (GWLP_USERDATA), or null with the error set. Lock held.
LONG_PTR* UserDataSlot(HWND window, int index) {
  Window* found = FindOrFail(window);
  if (found == nullptr) return nullptr;
  if (index != GWLP_USERDATA) {
    SetLastError(ERROR_INVALID_INDEX);
    return nullptr;
  }
  return &found->userData;
}

}  // namespace

namespace emu_test {

void FailDialogCreation(bool fail) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  Manager().failDialogs = fail;
}

void HoldDialogCreation(HANDLE release) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  Manager().holdDialogs = release;
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
  HANDLE hold = nullptr;
  {
    std::lock_guard<std::mutex> guard(Manager().lock);
    hold = Manager().holdDialogs;
  }
  if (hold != nullptr) WaitForSingleObject(hold, INFINITE);
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
  for (HWND handle : order) emu::WindowProcedure(handle, WM_DESTROY, 0, 0);
  std::lock_guard<std::mutex> guard(Manager().lock);
  emu::Forget(window);
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
    emu::DataMessage(*found, WM_GETTEXT, size, reinterpret_cast<LPARAM>(text), &result);
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
  LONG_PTR* slot = UserDataSlot(window, index);
  return slot != nullptr ? std::exchange(*slot, value) : 0;
}

LONG_PTR GetWindowLongPtrA(HWND window, int index) {
  std::lock_guard<std::mutex> guard(Manager().lock);
  const LONG_PTR* slot = UserDataSlot(window, index);
  return slot != nullptr ? *slot : 0;
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

}  // extern "C"

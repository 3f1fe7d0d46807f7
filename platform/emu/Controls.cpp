// The window classes: the default behaviour of dialogs, buttons, statics and drop-down lists,
// and the messages each answers from its own data (text, check state, list and selection).
#include <strings.h>

#include <cstring>

#include "platform/emu/WindowState.h"
#include "platform/emu/module.h"
#include "platform/emu/test_hooks.h"

namespace emu {
namespace {

// Posted to a combo box by the test hook: the user picked entry wParam.
constexpr UINT kUserPick = 0xC0DE;

int CopyText(const std::string& text, LPSTR buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  const int count =
      static_cast<int>(text.size()) < size - 1 ? static_cast<int>(text.size()) : size - 1;
  std::memcpy(buffer, text.data(), static_cast<size_t>(count));
  buffer[count] = '\0';
  return count;
}

struct Snapshot {
  WindowKind kind;
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

}  // namespace

bool DataMessage(Window& window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  const bool combo = window.kind == WindowKind::ComboBox;
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
  if (window.kind == WindowKind::Button) {
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

LRESULT WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Snapshot self{};
  {
    std::lock_guard<std::mutex> guard(Manager().lock);
    if (!TakeSnapshot(window, &self)) return 0;
  }
  if (self.kind == WindowKind::Dialog && self.dialogProc != nullptr) {
    const INT_PTR handled = self.dialogProc(window, message, wParam, lParam);
    if (handled != 0) return handled;
  }
  switch (message) {
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_CLOSE:
      // A dialog's close box acts as its Cancel button.
      if (self.kind == WindowKind::Dialog) {
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, IDCANCEL)));
      }
      return 0;
    case BM_CLICK:
      if (self.kind != WindowKind::Button) return 0;
      if ((self.style & 0xF) == BS_AUTOCHECKBOX) {
        const LRESULT checked = SendMessageA(window, BM_GETCHECK, 0, 0);
        SendMessageA(window, BM_SETCHECK, checked == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
      }
      if (self.parent != nullptr) Notify(self.parent, self.id, BN_CLICKED, window);
      return 0;
    case kUserPick:
      if (self.kind != WindowKind::ComboBox) return 0;
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

WindowKind KindOfClass(const char* className, bool* known) {
  *known = true;
  if (strcasecmp(className, "Button") == 0) return WindowKind::Button;
  if (strcasecmp(className, "Static") == 0) return WindowKind::Static;
  if (strcasecmp(className, "ComboBox") == 0) return WindowKind::ComboBox;
  *known = false;
  return WindowKind::Static;
}

}  // namespace emu

namespace emu_test {

bool PostComboPick(HWND comboBox, int index) {
  return PostMessageA(comboBox, emu::kUserPick, static_cast<WPARAM>(index), 0) != FALSE;
}

}  // namespace emu_test

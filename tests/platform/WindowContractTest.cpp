// What the control panel relies on from the dialog manager and the resource calls, for both
// builds: on Linux against the emulation, in the cross build against Windows itself (under Wine,
// which needs an X display for dialogs). The program carries the driver's resources.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/windows.h"
#include "resources/resource.h"

namespace {

// What the dialog procedure was told, in order.
struct Record {
  LPARAM initParam = 0;
  std::vector<WPARAM> commands;
  std::vector<UINT_PTR> timers;
  int closes = 0;
  int destroys = 0;
};
Record* record = nullptr;

INT_PTR CALLBACK RecordingProc(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      record->initParam = lParam;
      return TRUE;
    case WM_COMMAND:
      record->commands.push_back(wParam);
      break;
    case WM_TIMER:
      record->timers.push_back(wParam);
      break;
    case WM_CLOSE:
      record->closes++;
      break;
    case WM_DESTROY:
      record->destroys++;
      break;
    default:
      break;
  }
  return FALSE;
}

class WindowContract : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "dialogs need an X display";
#endif
    record = &seen;
    dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_CONTROL_PANEL),
                                nullptr, RecordingProc, 1234);
    ASSERT_NE(dialog, nullptr) << GetLastError();
  }
  void TearDown() override {
    if (dialog != nullptr && IsWindow(dialog)) DestroyWindow(dialog);
    record = nullptr;
  }

  // Handles every message that is waiting, as a modeless dialog's loop does.
  void Pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (!IsDialogMessageA(dialog, &message)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    }
  }

  bool Commanded(int id) {
    for (WPARAM command : seen.commands) {
      if (command == MAKEWPARAM(id, BN_CLICKED)) return true;
    }
    return false;
  }

  Record seen;
  HWND dialog = nullptr;
};

TEST_F(WindowContract, DialogIsBuiltFromTheTemplateHiddenWithItsControls) {
  EXPECT_EQ(seen.initParam, 1234);
  EXPECT_FALSE(IsWindowVisible(dialog));
  char text[64] = {};
  GetWindowTextA(dialog, text, sizeof text);
  EXPECT_STREQ(text, "Dialog");
  for (int id : {IDOK, IDC_METRICS, IDC_MODELESS, IDC_AUTO_OPEN, IDC_VERSION, IDC_BUFFER_SIZE,
                 IDC_BUFFER_SIZE_LABEL}) {
    EXPECT_NE(GetDlgItem(dialog, id), nullptr) << id;
  }
  EXPECT_EQ(GetDlgItem(dialog, 4242), nullptr);
  GetDlgItemTextA(dialog, IDC_BUFFER_SIZE_LABEL, text, sizeof text);
  EXPECT_STREQ(text, "Preferred ASIO Buffer Size");
  GetDlgItemTextA(dialog, IDC_MODELESS, text, sizeof text);
  EXPECT_STREQ(text, "Modeless Control Panel ");

  ShowWindow(dialog, SW_SHOWNORMAL);
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, IDC_MODELESS)));
  ShowWindow(GetDlgItem(dialog, IDC_MODELESS), SW_HIDE);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDC_MODELESS)));

  SetWindowTextA(dialog, "Title");
  SetDlgItemTextA(dialog, IDC_VERSION, "Version line");
  GetWindowTextA(dialog, text, sizeof text);
  EXPECT_STREQ(text, "Title");
  GetDlgItemTextA(dialog, IDC_VERSION, text, sizeof text);
  EXPECT_STREQ(text, "Version line");

  EXPECT_EQ(SetWindowLongPtrA(dialog, GWLP_USERDATA, 77), 0);
  EXPECT_EQ(GetWindowLongPtrA(dialog, GWLP_USERDATA), 77);

  RECT rect{};
  ASSERT_TRUE(GetWindowRect(dialog, &rect));
  MoveWindow(dialog, 100, 50, rect.right - rect.left, rect.bottom - rect.top, FALSE);
  RECT moved{};
  GetWindowRect(dialog, &moved);
  EXPECT_EQ(moved.left, 100);
  EXPECT_EQ(moved.top, 50);
  EXPECT_EQ(moved.right - moved.left, rect.right - rect.left);

  EXPECT_TRUE(DestroyWindow(dialog));
  EXPECT_EQ(seen.destroys, 1);
  EXPECT_FALSE(IsWindow(dialog));
}

TEST_F(WindowContract, DropDownListKeepsEntriesAndSelectionWithoutNotifying) {
  const HWND combo = GetDlgItem(dialog, IDC_BUFFER_SIZE);
  EXPECT_EQ(SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("64")), 0);
  EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_BUFFER_SIZE, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>("128")),
            1);
  EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
  // An index past the list selects nothing (as for a preferred size above every entry).
  EXPECT_EQ(SendMessageA(combo, CB_SETCURSEL, 6, 0), CB_ERR);
  EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(SendMessageA(combo, CB_SETCURSEL, 1, 0), 1);
  EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 1);
  char text[16] = {};
  EXPECT_EQ(SendMessageA(combo, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(text)), 3);
  EXPECT_STREQ(text, "128");
  Pump();
  EXPECT_TRUE(seen.commands.empty()) << "a program's selection is not the user's pick";
}

TEST_F(WindowContract, ClicksKeysAndTheCloseBoxReachTheDialogAsCommands) {
  ShowWindow(dialog, SW_SHOWNORMAL);
  PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  Pump();
  EXPECT_TRUE(Commanded(IDOK));
  seen.commands.clear();
  PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
  Pump();
  EXPECT_TRUE(Commanded(IDCANCEL));
  seen.commands.clear();
  PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  Pump();
  EXPECT_EQ(seen.closes, 1);
  EXPECT_TRUE(Commanded(IDCANCEL)) << "the close box acts as the Cancel button";
}

TEST_F(WindowContract, TimersAndTheQuitMessageArriveThroughGetMessage) {
  ASSERT_NE(SetTimer(dialog, 100, 10, nullptr), 0u);
  MSG message{};
  ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
  while (message.message != WM_TIMER) ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
  EXPECT_EQ(message.hwnd, dialog);
  EXPECT_EQ(message.wParam, 100u);
  DispatchMessageA(&message);
  ASSERT_FALSE(seen.timers.empty());
  EXPECT_EQ(seen.timers.back(), 100u);
  EXPECT_TRUE(KillTimer(dialog, 100));

  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0));
  EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
  EXPECT_EQ(message.message, WM_QUIT);
}

TEST_F(WindowContract, AThreadThatNeverUsedWindowsHasNoQueueToPostTo) {
  std::atomic<DWORD> threadId{0};
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread idle([&] {
    threadId = GetCurrentThreadId();
    WaitForSingleObject(go, INFINITE);
  });
  while (threadId.load() == 0) Sleep(1);
  EXPECT_FALSE(PostThreadMessageA(threadId.load(), WM_QUIT, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
  SetEvent(go);
  idle.join();
  CloseHandle(go);
}

TEST(ResourceContract, VersionRootGivesTheFixedFileInfo) {
  const HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(1), RT_VERSION);
  ASSERT_NE(resource, nullptr);
  const void* block = LockResource(LoadResource(nullptr, resource));
  ASSERT_NE(block, nullptr);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block, "\\", reinterpret_cast<void**>(&info), &length));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(info->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(info->dwProductVersionMS, 0x00010001u);
  EXPECT_EQ(info->dwProductVersionLS, 0x00000000u);
  EXPECT_EQ(info->dwFileVersionMS, info->dwProductVersionMS);
  EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(77), RT_VERSION), nullptr);
  EXPECT_NE(FindResourceA(nullptr, MAKEINTRESOURCEA(IDD_CONTROL_PANEL), RT_DIALOG), nullptr);
}

}  // namespace

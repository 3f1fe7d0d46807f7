// The control panel: a modeless dialog on a thread of its own. The host opens it through
// controlPanel, start opens it when auto-open is set; its buttons, stop and the destructor close
// it.
#include <cstdio>
#include <cstring>

#include "driver/AsioDriver.h"
#include "product/Kx7Facts.h"
#include "resources/resource.h"

namespace {

constexpr UINT_PTR kMetricsTimer = 100;
constexpr UINT kMetricsPeriodMs = 400;
// A panel that the host opened and closes again this quickly belongs to a host that cannot wait
// for a modal panel: later panels are then waited for.
constexpr DWORD kQuickCloseMs = 200;
constexpr DWORD kThreadEndWaitMs = 2000;
constexpr LRESULT kBufferSizeCount = kx7::kOfferedBufferSizeCount;
constexpr char kPanelTitle[] = KX7_PRODUCT_NAME " Control Panel";
constexpr char kVersionPrefix[] = KX7_PRODUCT_NAME " Control Panel Version: ";

// Waits a bounded time for a panel thread that is ending, then releases its handle. Gives false
// when the thread is still running; its handle then stays recorded.
bool ReleaseEndedThread(HANDLE* thread) {
  if (*thread == INVALID_HANDLE_VALUE) return true;
  if (WaitForSingleObject(*thread, kThreadEndWaitMs) != WAIT_OBJECT_0) return false;
  CloseHandle(*thread);
  *thread = INVALID_HANDLE_VALUE;
  return true;
}

}  // namespace

ASIOError CAsioDriver::controlPanel() {
  if (panelWindow.load() != nullptr) return ASE_OK;
  {
    const TransportScope scope(this);
    if (!scope.Entered()) return ASE_InvalidMode;
    if (panelWindow.load() != nullptr) return ASE_OK;
    panelOpenTime.store(timeGetTime());
    panelOpenedByHost.store(true);
    OpenControlPanel(true);
    // Inside the host's callback the stream must go on: nothing there waits for the user.
    if (!scope.Locked() || modelessPanel.load()) return ASE_OK;
    // Counted while the lock is still held, so that a destructor sees this call.
    panelWaiters.fetch_add(1);
  }
  // Without the lock, so that another thread's stop can close the panel.
  WaitForPanelToClose();
  panelWaiters.fetch_sub(1);
  return ASE_OK;
}

void CAsioDriver::OpenControlPanel(bool noWait) {
  {
    // The streaming thread only tries: a host thread may hold the lock while it waits for a
    // panel thread.
    std::unique_lock<std::mutex> guard(panelLock, std::defer_lock);
    if (OnStreamThread()) {
      if (!guard.try_lock()) return;
    } else {
      guard.lock();
    }
    if (panelWindow.load() != nullptr) return;
    if (panelThread != INVALID_HANDLE_VALUE) {
      // A panel that another opener started is on its way: that is the panel.
      if (panelStarting.load()) return;
      // The previous panel thread is ending; a second one must not run before it has ended.
      if (!ReleaseEndedThread(&panelThread)) return;
    }
    panelQuit.store(false);
    panelStarting.store(true);
    unsigned threadId = 0;
    const uintptr_t thread = _beginthreadex(nullptr, 0, PanelThreadProc, this, 0, &threadId);
    if (thread == 0) {
      // No thread will ever clear panelStarting: nothing to wait for.
      panelStarting.store(false);
      panelOpenedByHost.store(false);
      return;
    }
    panelThread = reinterpret_cast<HANDLE>(thread);
    panelThreadId = threadId;
  }
  while (panelStarting.load()) Sleep(2);
  if (noWait || modelessPanel.load()) return;
  WaitForPanelToClose();
}

void CAsioDriver::WaitForPanelToClose() {
  while (panelWindow.load() != nullptr && !modelessPanel.load()) Sleep(20);
  // The panel has closed: let its thread finish before the host goes on (it may unload us).
  std::lock_guard<std::mutex> guard(panelLock);
  if (panelWindow.load() == nullptr && !panelStarting.load()) ReleaseEndedThread(&panelThread);
}

void CAsioDriver::CloseControlPanel() {
  std::lock_guard<std::mutex> guard(panelLock);
  if (panelWindow.load() == nullptr) {
    // No panel; a thread whose panel closed by itself is finished off.
    if (!panelStarting.load()) ReleaseEndedThread(&panelThread);
    return;
  }
  AskPanelToClose();
  // A thread that does not end in time keeps its handle recorded: no second panel thread starts
  // until it has ended, and the destructor releases the handle.
  ReleaseEndedThread(&panelThread);
}

void CAsioDriver::AskPanelToClose() {
  if (panelWindow.load() == nullptr) return;
  if (panelOpenedByHost.load() && timeGetTime() - panelOpenTime.load() < kQuickCloseMs) {
    modelessPanel.store(false);
  }
  // The flag first, so that the loop woken by the message sees it.
  panelQuit.store(true);
  PostThreadMessageA(panelThreadId, WM_QUIT, 0, 0);
}

unsigned WINAPI CAsioDriver::PanelThreadProc(void* argument) {
  auto* driver = static_cast<CAsioDriver*>(argument);
  const HRESULT com = CoInitialize(nullptr);
  const HWND window = CreateDialogParamA(moduleHandle, MAKEINTRESOURCEA(IDD_CONTROL_PANEL), nullptr,
                                         PanelDialogProc, reinterpret_cast<LPARAM>(driver));
  driver->panelWindow.store(window);
  if (window == nullptr) {
    driver->panelStarting.store(false);
  } else {
    ShowWindow(window, SW_SHOWNORMAL);
    driver->panelStarting.store(false);
    if (!driver->panelQuit.load()) {
      MSG message;
      while (true) {
        // WM_QUIT (0) only wakes the loop to look at panelQuit; a failing call (-1) fills no
        // message and would fail again.
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == -1) break;
        if (got != 0 && !IsDialogMessageA(window, &message)) {
          TranslateMessage(&message);
          DispatchMessageA(&message);
        }
        if (driver->panelQuit.load()) break;
      }
    }
    if (IsWindow(window)) DestroyWindow(window);
  }
  // panelOpenedByHost before panelWindow: once the window is gone, a new controlPanel may set it.
  driver->panelOpenedByHost.store(false);
  driver->panelWindow.store(nullptr);
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

INT_PTR CALLBACK CAsioDriver::PanelDialogProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* driver = reinterpret_cast<CAsioDriver*>(lParam);
    RECT rect{};
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    MoveWindow(window, GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2,
               GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2, width, height, FALSE);
    SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
    SetWindowTextA(window, kPanelTitle);

    for (uint32_t index = 0; index < kx7::kOfferedBufferSizeCount; ++index) {
      char text[16];
      std::snprintf(text, sizeof text, "%u", kx7::OfferedBufferSize(index));
      SendDlgItemMessageA(window, IDC_BUFFER_SIZE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    // A preference above the offered sizes selects no entry.
    const WPARAM selection = kx7::OfferedBufferSizeIndex(driver->preferredBufferSize.load());
    SendDlgItemMessageA(window, IDC_BUFFER_SIZE, CB_SETCURSEL, selection, 0);

    ShowWindow(GetDlgItem(window, IDC_MODELESS), SW_HIDE);
    ShowWindow(GetDlgItem(window, IDC_AUTO_OPEN), SW_HIDE);

    char version[96];
    std::snprintf(version, sizeof version, "%s", kVersionPrefix);
    const size_t used = std::strlen(version);
    GetProductVersionText(version + used, sizeof version - used);
    SetDlgItemTextA(window, IDC_VERSION, version);

    SetTimer(window, kMetricsTimer, kMetricsPeriodMs, nullptr);
    return TRUE;
  }

  // Messages that come before WM_INITDIALOG find no driver yet.
  auto* driver = reinterpret_cast<CAsioDriver*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (driver == nullptr) return FALSE;
  switch (message) {
    case WM_CLOSE:
    case WM_DESTROY:
      driver->panelQuit.store(true);
      break;
    case WM_COMMAND: {
      const WORD id = LOWORD(wParam);
      const WORD notification = HIWORD(wParam);
      if ((id == IDOK && notification == 0) || id == IDCANCEL) {
        DestroyWindow(window);
      } else if (id == IDC_BUFFER_SIZE && notification == CBN_SELCHANGE) {
        // Only an entry of the list names a size; no selection (CB_ERR) changes nothing.
        const LRESULT index = SendDlgItemMessageA(window, IDC_BUFFER_SIZE, CB_GETCURSEL, 0, 0);
        if (index >= 0 && index < kBufferSizeCount) {
          driver->preferredBufferSize.store(kx7::OfferedBufferSize(static_cast<uint32_t>(index)));
        }
      }
      break;
    }
    case WM_TIMER:
      if (wParam == kMetricsTimer && driver->showMetrics.load()) {
        const uint32_t latency = driver->latencyCount.load(std::memory_order_relaxed);
        char text[96];
        std::snprintf(text, sizeof text, "DropOut:%u | Latency:%u (%.1fms)",
                      driver->dropOutCount.load(std::memory_order_relaxed), latency,
                      latency * 1000.0 / driver->sampleRate);
        SetDlgItemTextA(window, IDC_METRICS, text);
      }
      break;
    default:
      break;
  }
  return FALSE;
}

void CAsioDriver::GetProductVersionText(char* text, size_t size) {
  if (text == nullptr || size == 0) return;
  text[0] = '\0';
  const HRSRC resource = FindResourceA(moduleHandle, MAKEINTRESOURCEA(1), RT_VERSION);
  if (resource == nullptr) return;
  const HGLOBAL loaded = LoadResource(moduleHandle, resource);
  const void* block = loaded != nullptr ? LockResource(loaded) : nullptr;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (block != nullptr &&
      VerQueryValueA(block, "\\", reinterpret_cast<void**>(&info), &length) != FALSE &&
      info != nullptr && length >= sizeof(VS_FIXEDFILEINFO)) {
    std::snprintf(text, size, "%u.%u.%u.%u", HIWORD(info->dwProductVersionMS),
                  LOWORD(info->dwProductVersionMS), HIWORD(info->dwProductVersionLS),
                  LOWORD(info->dwProductVersionLS));
  }
  if (loaded != nullptr) FreeResource(loaded);
}

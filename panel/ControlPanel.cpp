// The control panel: a modeless dialog on a thread of its own. The host opens it through
// controlPanel, start opens it when auto-open is set; its buttons, stop and the driver's release
// close it.
#include "panel/ControlPanel.h"

#include <cstdio>
#include <cstring>

#include "com/ComBase.h"
#include "platform/module_of.h"
#include "product/Kx7Facts.h"
#include "resources/resource.h"

namespace {

constexpr UINT_PTR kMetricsTimer = 100;
constexpr UINT kMetricsPeriodMs = 400;
// A panel that the host opened and closes again this quickly belongs to a host that cannot wait
// for a modal panel: later panels are then waited for.
constexpr DWORD kQuickCloseMs = 200;
constexpr DWORD kThreadEndWaitMs = 2000;
// How often a caller waiting for the panel to close looks at it between the host's messages.
constexpr DWORD kCloseWaitSliceMs = 20;
constexpr LRESULT kBufferSizeCount = kx7::kOfferedBufferSizeCount;
constexpr char kPanelTitle[] = KX7_PRODUCT_NAME " Control Panel";
constexpr char kVersionPrefix[] = KX7_PRODUCT_NAME " Control Panel Version: ";

// Waits a bounded time for a panel thread that is ending, then releases its handle. Gives false
// when the thread is still running; its handle then stays recorded.
bool ReleaseEndedThread(HANDLE* thread, DWORD milliseconds = kThreadEndWaitMs) {
  if (*thread == INVALID_HANDLE_VALUE) return true;
  if (WaitForSingleObject(*thread, milliseconds) != WAIT_OBJECT_0) return false;
  CloseHandle(*thread);
  *thread = INVALID_HANDLE_VALUE;
  return true;
}

// Shows the device's latest event ("Last event: lost at 12.3 s"); nothing until there is one.
void ShowLatestEvent(HWND window, const IPanelEventSource* events) {
  const char* name = nullptr;
  double seconds = 0.0;
  if (events == nullptr || !events->LatestEvent(&name, &seconds)) return;
  char text[64];
  // An event of the start itself, before start returned, shows as at 0.
  std::snprintf(text, sizeof text, "Last event: %s at %.1f s", name, seconds > 0.0 ? seconds : 0.0);
  SetDlgItemTextA(window, IDC_LAST_EVENT, text);
}

}  // namespace

CControlPanel::CControlPanel(DriverSettings* driverSettings, PanelFigures driverFigures)
    : settings(driverSettings), figures(driverFigures) {
  panelOpenTime = timeGetTime();
}

void CControlPanel::NoteOpenedByHost() {
  panelOpenTime.store(timeGetTime());
  panelOpenedByHost.store(true);
}

void CControlPanel::Open(bool noWait, bool onStreamThread) {
  {
    // The streaming thread only tries: a host thread may hold the lock while it waits for a
    // panel thread.
    std::unique_lock<std::mutex> guard(panelLock, std::defer_lock);
    if (onStreamThread) {
      if (!guard.try_lock()) return;
    } else {
      guard.lock();
    }
    if (panelWindow.load() != nullptr) return;
    if (panelThread != INVALID_HANDLE_VALUE) {
      // A panel that another opener started is on its way: that is the panel.
      if (panelStarting.load()) return;
      // The previous panel thread is ending; a second one must not run before it has ended.
      // The streaming thread does not wait for it: the next callback's call may find it gone.
      if (!ReleaseEndedThread(&panelThread, onStreamThread ? 0 : kThreadEndWaitMs)) return;
    }
    panelQuit.store(false);
    panelStarting.store(true);
    // The thread holds the library until its last instruction: a host may release the driver and
    // free unused libraries while the panel is still closing.
    threadModule = HoldModuleForThread(reinterpret_cast<const void*>(&CControlPanel::ThreadProc));
    unsigned threadId = 0;
    const uintptr_t thread = _beginthreadex(nullptr, 0, ThreadProc, this, 0, &threadId);
    if (thread == 0) {
      if (threadModule != nullptr) FreeLibrary(threadModule);
      threadModule = nullptr;
      // No thread will ever clear panelStarting: nothing to wait for.
      panelStarting.store(false);
      panelOpenedByHost.store(false);
      return;
    }
    panelThread = reinterpret_cast<HANDLE>(thread);
    panelThreadId = threadId;
  }
  // Inside the host's callback the window comes up on its own thread: making it takes longer
  // than a buffer period.
  if (onStreamThread) return;
  while (panelStarting.load()) Sleep(2);
  if (noWait || settings->modelessPanel.load()) return;
  WaitForClose();
}

void CControlPanel::WaitForClose() {
  // The caller is usually the host's window thread: its windows go on painting and answering
  // while it waits, and a WM_QUIT taken here is put back for the host's own loop.
  bool quitTaken = false;
  int quitCode = 0;
  while ((panelWindow.load() != nullptr || panelStarting.load()) &&
         !settings->modelessPanel.load()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, kCloseWaitSliceMs, QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quitTaken = true;
        quitCode = static_cast<int>(message.wParam);
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  if (quitTaken) PostQuitMessage(quitCode);
  // The panel has closed: let its thread finish before the host goes on (it may unload us).
  std::lock_guard<std::mutex> guard(panelLock);
  if (panelWindow.load() == nullptr && !panelStarting.load()) ReleaseEndedThread(&panelThread);
}

void CControlPanel::Close() {
  std::lock_guard<std::mutex> guard(panelLock);
  if (panelWindow.load() == nullptr && !panelStarting.load()) {
    // No panel; a thread whose panel closed by itself is finished off.
    ReleaseEndedThread(&panelThread);
    return;
  }
  AskToClose();
  // A thread that does not end in time keeps its handle recorded: no second panel thread starts
  // until it has ended, and the driver's release releases the handle.
  ReleaseEndedThread(&panelThread);
}

void CControlPanel::TryAskToClose() {
  std::unique_lock<std::mutex> guard(panelLock, std::try_to_lock);
  if (guard.owns_lock()) AskToClose();
}

void CControlPanel::AskToClose() {
  // A panel still coming up (opened from inside the callback) closes as soon as it is made: its
  // thread reads the flag before its message loop, and a thread with a queue gets the message.
  if (panelWindow.load() == nullptr && !panelStarting.load()) return;
  if (panelOpenedByHost.load() && timeGetTime() - panelOpenTime.load() < kQuickCloseMs) {
    settings->modelessPanel.store(false);
  }
  // The flag first, so that the loop woken by the message sees it.
  panelQuit.store(true);
  PostThreadMessageA(panelThreadId, WM_QUIT, 0, 0);
}

void CControlPanel::WaitForWaiters(DWORD milliseconds) const {
  const DWORD t0 = timeGetTime();
  while (panelWaiters.load() > 0 && timeGetTime() - t0 < milliseconds) Sleep(2);
}

void CControlPanel::ReleaseThread() {
  if (panelThread == INVALID_HANDLE_VALUE) return;
  // A panel that the user closed may still be ending: it runs our code until it has returned.
  WaitForSingleObject(panelThread, kThreadEndWaitMs);
  CloseHandle(panelThread);
  panelThread = INVALID_HANDLE_VALUE;
}

unsigned WINAPI CControlPanel::ThreadProc(void* argument) {
  auto* panel = static_cast<CControlPanel*>(argument);
  // Taken now: once the window is gone, the panel object may go with the driver.
  const HMODULE module = panel->threadModule;
  const HRESULT com = CoInitialize(nullptr);
  const HWND window = CreateDialogParamA(moduleHandle, MAKEINTRESOURCEA(IDD_CONTROL_PANEL), nullptr,
                                         DialogProc, reinterpret_cast<LPARAM>(panel));
  panel->panelWindow.store(window);
  if (window == nullptr) {
    panel->panelStarting.store(false);
  } else {
    ShowWindow(window, SW_SHOWNORMAL);
    panel->panelStarting.store(false);
    if (!panel->panelQuit.load()) {
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
        if (panel->panelQuit.load()) break;
      }
    }
    if (IsWindow(window)) DestroyWindow(window);
  }
  // panelOpenedByHost before panelWindow: once the window is gone, a new controlPanel may set it.
  panel->panelOpenedByHost.store(false);
  panel->panelWindow.store(nullptr);
  if (SUCCEEDED(com)) CoUninitialize();
  ExitThreadReleasingModule(module, 0);
  return 0;
}

INT_PTR CALLBACK CControlPanel::DialogProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* panel = reinterpret_cast<CControlPanel*>(lParam);
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
    const WPARAM selection =
        kx7::OfferedBufferSizeIndex(panel->settings->preferredBufferSize.load());
    SendDlgItemMessageA(window, IDC_BUFFER_SIZE, CB_SETCURSEL, selection, 0);

    ShowWindow(GetDlgItem(window, IDC_MODELESS), SW_HIDE);
    ShowWindow(GetDlgItem(window, IDC_AUTO_OPEN), SW_HIDE);

    char version[96];
    std::snprintf(version, sizeof version, "%s", kVersionPrefix);
    const size_t used = std::strlen(version);
    GetProductVersionText(version + used, sizeof version - used);
    SetDlgItemTextA(window, IDC_VERSION, version);

    ShowLatestEvent(window, panel->figures.events);
    SetTimer(window, kMetricsTimer, kMetricsPeriodMs, nullptr);
    return TRUE;
  }

  // Messages that come before WM_INITDIALOG find no panel yet.
  auto* panel = reinterpret_cast<CControlPanel*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (panel == nullptr) return FALSE;
  switch (message) {
    case WM_CLOSE:
    case WM_DESTROY:
      panel->panelQuit.store(true);
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
          panel->settings->preferredBufferSize.store(
              kx7::OfferedBufferSize(static_cast<uint32_t>(index)));
        }
      }
      break;
    }
    case WM_TIMER:
      if (wParam == kMetricsTimer) ShowLatestEvent(window, panel->figures.events);
      if (wParam == kMetricsTimer && panel->settings->showMetrics.load()) {
        const PanelFigures& figures = panel->figures;
        const uint32_t latency = figures.latencyCount->load(std::memory_order_relaxed);
        char text[96];
        std::snprintf(text, sizeof text, "DropOut:%u | Latency:%u (%.1fms)",
                      figures.dropOutCount->load(std::memory_order_relaxed), latency,
                      latency * 1000.0 / figures.sampleRate->load());
        SetDlgItemTextA(window, IDC_METRICS, text);
      }
      break;
    default:
      break;
  }
  return FALSE;
}

void CControlPanel::GetProductVersionText(char* text, size_t size) {
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

// The control panel: a modeless dialog on a thread of its own that shows and changes the
// driver's settings and, when asked to, its running figures. The driver owns one and opens and
// closes it; the panel sees of the driver only the settings and the figures given here.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "panel/DriverSettings.h"
#include "platform/windows.h"

// The latest of the device's events, which the panel shows beside the figures.
class IPanelEventSource {
 public:
  // False when there is none; else its name and its time in seconds since the stream started.
  virtual bool LatestEvent(const char** name, double* seconds) const = 0;

 protected:
  ~IPanelEventSource() = default;
};

// The driver's running figures that the panel's metrics line shows, and its device events.
struct PanelFigures {
  const std::atomic<uint32_t>* dropOutCount;
  const std::atomic<uint32_t>* latencyCount;
  const std::atomic<double>* sampleRate;
  const IPanelEventSource* events;
};

class CControlPanel {
 public:
  CControlPanel(DriverSettings* settings, PanelFigures figures);
  CControlPanel(const CControlPanel&) = delete;
  CControlPanel& operator=(const CControlPanel&) = delete;

  bool IsOpen() const { return panelWindow.load() != nullptr; }
  // The host asks for the panel: records when, for the quick-close rule.
  void NoteOpenedByHost();
  // Starts the panel thread unless a panel is open or on its way, and waits until its window
  // exists; unless `noWait`, or the panel is modeless, also until it has closed. On the streaming
  // thread (`onStreamThread`) it waits for nothing: it only tries the lock, opens nothing when
  // that fails or an old panel thread is still ending, and returns once the thread is started.
  void Open(bool noWait, bool onStreamThread);
  // Waits while a panel that does not let its opener go is open, then lets its thread finish.
  void WaitForClose();
  // Closes the panel and waits a bounded time for its thread.
  void Close();
  // From inside the host's callback: asks the panel to close when the lock is free, waits for
  // nothing.
  void TryAskToClose();

  // controlPanel calls waiting for their panel to close, which the driver's release lets return
  // first (for at most `milliseconds`).
  void AddWaiter() { panelWaiters.fetch_add(1); }
  void RemoveWaiter() { panelWaiters.fetch_sub(1); }
  void WaitForWaiters(DWORD milliseconds) const;
  // At the driver's release: waits a bounded time for a thread whose panel the user closed and
  // releases its handle.
  void ReleaseThread();

  // The product version of the module's version resource ("1.1.0.0"), empty without one.
  static void GetProductVersionText(char* text, size_t size);

 private:
  // The panel tests' view of the panel thread's records and of the settings.
  friend class CControlPanelTestAccess;

  // Applies the quick-close rule and tells the panel thread to end; the caller holds panelLock.
  void AskToClose();
  static unsigned WINAPI ThreadProc(void* argument);
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  DriverSettings* settings;
  PanelFigures figures;
  // Held by the host's threads while they start, end or release the panel thread; never by the
  // panel thread, and only tried by the streaming thread. Guards panelThread and panelThreadId.
  std::mutex panelLock;
  HANDLE panelThread = INVALID_HANDLE_VALUE;
  DWORD panelThreadId = 0;
  // The panel thread's own reference to the library, which the thread lets go of as it ends.
  HMODULE threadModule = nullptr;
  std::atomic<HWND> panelWindow{nullptr};
  std::atomic<bool> panelQuit{false};
  std::atomic<bool> panelStarting{false};
  std::atomic<bool> panelOpenedByHost{false};
  std::atomic<DWORD> panelOpenTime{0};
  std::atomic<int> panelWaiters{0};
};

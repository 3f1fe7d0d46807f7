// The host's way to the control panel, and the driver's openings and closings of it.
#include "driver/AsioDriver.h"

ASIOError CAsioDriver::controlPanel() {
  return HostCall<ASIOError>(ASE_NotPresent, [this] { return ControlPanel(); });
}

ASIOError CAsioDriver::ControlPanel() {
  if (panel.IsOpen()) return ASE_OK;
  {
    const TransportScope scope(this);
    if (!scope.Entered()) return ASE_InvalidMode;
    if (panel.IsOpen()) return ASE_OK;
    // A panel opened before init shows, and at the end stores, what the user has stored.
    if (scope.Locked() && !settings.Loaded()) settings.Load();
    panel.NoteOpenedByHost();
    OpenControlPanel(true);
    // Inside the host's callback the stream must go on: nothing there waits for the user.
    if (!scope.Locked() || settings.modelessPanel.load()) return ASE_OK;
    // Counted while the lock is still held, so that a destructor sees this call.
    panel.AddWaiter();
  }
  // Without the lock, so that another thread's stop can close the panel.
  panel.WaitForClose();
  panel.RemoveWaiter();
  return ASE_OK;
}

void CAsioDriver::OpenControlPanel(bool noWait) { panel.Open(noWait, OnStreamThread()); }

void CAsioDriver::CloseControlPanel() { panel.Close(); }

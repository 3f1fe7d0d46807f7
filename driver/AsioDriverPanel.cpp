// The control panel: a modeless dialog on a thread of its own.
#include <cstdio>

#include "driver/AsioDriver.h"

ASIOError CAsioDriver::controlPanel() { return ASE_OK; }

void CAsioDriver::OpenControlPanel(bool /*noWait*/) {}

void CAsioDriver::CloseControlPanel() {}

unsigned WINAPI CAsioDriver::PanelThreadProc(void* /*argument*/) { return 0; }

INT_PTR CALLBACK CAsioDriver::PanelDialogProc(HWND /*window*/, UINT /*message*/,
                                              WPARAM /*wParam*/, LPARAM /*lParam*/) {
  return 0;
}

void CAsioDriver::GetProductVersionText(char* text, size_t size) {
  if (text != nullptr && size > 0) std::snprintf(text, size, "Version 1.1.0.0");
}

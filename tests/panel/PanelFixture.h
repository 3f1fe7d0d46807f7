// A driver object whose control panel's private state is open to the tests, and helpers that find
// the panel and read it through the window functions of the headless dialog manager.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "driver/AsioDriver.h"
#include "platform/emu/test_hooks.h"
#include "product/Kx7Facts.h"
#include "resources/resource.h"
#include "support/ControlPanelTestAccess.h"
#include "support/DriverHandle.h"
#include "support/DriverTestAccess.h"
#include "support/TestSupport.h"

namespace kx7test {

inline constexpr char kPanelTitle[] = "NORVA KX-7 ASIO Control Panel";
using kx7::kSettingsKey;

// Polls a condition every 2 ms for up to 10 s; the bound only keeps a failing test from hanging.
inline bool WaitUntil(const std::function<bool()>& condition) {
  for (int i = 0; i < 5000; ++i) {
    if (condition()) return true;
    Sleep(2);
  }
  return condition();
}

inline HWND FindPanel() { return FindWindowA("#32770", kPanelTitle); }

inline std::string ItemText(HWND dialog, int id) {
  char text[256] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

inline std::vector<std::string> ComboEntries(HWND dialog) {
  std::vector<std::string> entries;
  const LRESULT count = SendDlgItemMessageA(dialog, IDC_BUFFER_SIZE, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char text[32] = {};
    SendDlgItemMessageA(dialog, IDC_BUFFER_SIZE, CB_GETLBTEXT, static_cast<WPARAM>(i),
                        reinterpret_cast<LPARAM>(text));
    entries.emplace_back(text);
  }
  return entries;
}

// The driver's control panel, and that panel's private state (its settings are the driver's).
inline CControlPanel& PanelOf(CAsioDriver& driver) { return Internals(driver).panel; }
inline CControlPanelTestAccess PanelInternals(CAsioDriver& driver) {
  return CControlPanelTestAccess(PanelOf(driver));
}

inline int PreferredSize(CAsioDriver* driver) {
  int32_t minimum = 0, maximum = 0, preferred = 0, granularity = 0;
  driver->getBufferSize(&minimum, &maximum, &preferred, &granularity);
  return preferred;
}

// Every test starts without settings, with the real clock, and ends without a panel window.
class PanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteRegistryTree(HKEY_CURRENT_USER, "SOFTWARE\\Norva");
    emu_test::UnfreezeTime();
    invalidHandleUses = emu_test::InvalidHandleUses();
  }
  void TearDown() override {
    emu_test::UnfreezeTime();
    emu_test::FailDialogCreation(false);
    EXPECT_TRUE(WaitUntil([] { return emu_test::WindowCount() == 0; }));
    EXPECT_EQ(emu_test::InvalidHandleUses(), invalidHandleUses)
        << "a handle was closed twice or waited on after it was closed";
    DeleteRegistryTree(HKEY_CURRENT_USER, "SOFTWARE\\Norva");
  }

  // Opens a panel that controlPanel does not wait for, and gives its window.
  HWND OpenModeless(CAsioDriver* driver) {
    // Loaded first, as controlPanel would: the setting made here is not read over.
    PanelInternals(*driver).settings.Load();
    PanelInternals(*driver).settings.modelessPanel.store(true);
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    EXPECT_TRUE(PanelOf(*driver).IsOpen());
    const HWND panel = FindPanel();
    EXPECT_NE(panel, nullptr);
    return panel;
  }

  int invalidHandleUses = 0;
};

}  // namespace kx7test

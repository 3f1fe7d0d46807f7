// What the panel shows and what its controls do, read and clicked through the window functions.
#include <cstring>
#include <thread>

#include "panel/PanelFixture.h"
#include "panel/SettingsStore.h"
#include "product/ProductInfo.h"
#include "resources/PanelLayout.h"

namespace kx7test {
namespace {

using PanelDialogTest = PanelTest;

TEST_F(PanelDialogTest, ShowsTitleVersionSizesAndNoticeCentredOnTheScreen) {
  DriverHandle driver;
  const HWND panel = OpenModeless(driver.operator->());
  EXPECT_EQ(FindPanel(), panel);
  EXPECT_TRUE(IsWindowVisible(panel));
  char title[64] = {};
  GetWindowTextA(panel, title, sizeof title);
  EXPECT_STREQ(title, kPanelTitle);
  EXPECT_EQ(ItemText(panel, IDC_VERSION),
            "NORVA KX-7 ASIO Control Panel Version: " KX7_VERSION_TEXT);
  EXPECT_EQ(ComboEntries(panel),
            (std::vector<std::string>{"64", "128", "256", "512", "1024", "2048"}));
  EXPECT_EQ(SendDlgItemMessageA(panel, IDC_BUFFER_SIZE, CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(ItemText(panel, IDC_METRICS), KX7_PANEL_NOTICE);
  EXPECT_EQ(ItemText(panel, IDC_BUFFER_SIZE_LABEL), "Preferred ASIO Buffer Size");
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(panel, IDC_MODELESS)));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(panel, IDC_AUTO_OPEN)));
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(panel, IDOK)));

  RECT rect{};
  ASSERT_TRUE(GetWindowRect(panel, &rect));
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  EXPECT_GT(width, 0);
  EXPECT_EQ(rect.left, GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2);
  EXPECT_EQ(rect.top, GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2);

  PanelOf(*driver).Close();
  EXPECT_FALSE(PanelOf(*driver).IsOpen());
  EXPECT_FALSE(IsWindow(panel));
}

TEST_F(PanelDialogTest, VersionTextComesFromTheVersionResource) {
  char text[32];
  CControlPanel::GetProductVersionText(text, sizeof text);
  EXPECT_STREQ(text, KX7_VERSION_TEXT);
  // A buffer too small is cut, never overrun.
  char small[4] = {'x', 'x', 'x', 'x'};
  CControlPanel::GetProductVersionText(small, sizeof small);
  EXPECT_STREQ(small, "1.1");
}

TEST_F(PanelDialogTest, PreselectionCountsTheSizesBelowThePreferredOne) {
  const struct {
    uint32_t preferred;
    LRESULT selection;
  } cases[] = {{128, 1}, {100, 1}, {64, 0}, {0, 0}, {63, 0}, {2048, 5}, {4096, CB_ERR}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.preferred);
    SettingsStore(kSettingsKey).Write(kx7::kBufferSizePreferredValue, c.preferred);
    DriverHandle driver;
    driver->init(nullptr);  // reads the settings, although it finds no device
    const HWND panel = OpenModeless(driver.operator->());
    EXPECT_EQ(SendDlgItemMessageA(panel, IDC_BUFFER_SIZE, CB_GETCURSEL, 0, 0), c.selection);
    PanelOf(*driver).Close();
    // Showing the list changes nothing: a size off the list stays until the user picks one.
    DeleteRegistryTree(HKEY_CURRENT_USER, "SOFTWARE\\Norva");
    driver.Reset();
    EXPECT_EQ(SettingsStore(kSettingsKey).Read(kx7::kBufferSizePreferredValue),
              std::optional<DWORD>(c.preferred));
  }
}

TEST_F(PanelDialogTest, PickedSizeIsReportedAtOnceAndStoredWhenTheDriverGoes) {
  DriverHandle driver;
  const HWND panel = OpenModeless(driver.operator->());
  const HWND combo = GetDlgItem(panel, IDC_BUFFER_SIZE);
  ASSERT_TRUE(emu_test::PostComboPick(combo, 4));
  EXPECT_TRUE(WaitUntil([&] { return PreferredSize(driver.operator->()) == 1024; }));
  EXPECT_EQ(SettingsStore(kSettingsKey).Read(kx7::kBufferSizePreferredValue), std::nullopt);
  ASSERT_TRUE(emu_test::PostComboPick(combo, 0));
  EXPECT_TRUE(WaitUntil([&] { return PreferredSize(driver.operator->()) == 64; }));
  ASSERT_TRUE(emu_test::PostComboPick(combo, 5));
  EXPECT_TRUE(WaitUntil([&] { return PreferredSize(driver.operator->()) == 2048; }));
  PanelOf(*driver).Close();
  driver.Reset();
  EXPECT_EQ(SettingsStore(kSettingsKey).Read(kx7::kBufferSizePreferredValue),
            std::optional<DWORD>(2048));
}

TEST_F(PanelDialogTest, ASelectionChangeWithoutAnEntryKeepsThePreferredSize) {
  SettingsStore(kSettingsKey).Write(kx7::kBufferSizePreferredValue, 256);
  DriverHandle driver;
  driver->init(nullptr);
  const HWND panel = OpenModeless(driver.operator->());
  const HWND combo = GetDlgItem(panel, IDC_BUFFER_SIZE);
  // The list cleared, a change notice arrives: there is no entry to take a size from.
  PostMessageA(combo, CB_RESETCONTENT, 0, 0);
  PostMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_BUFFER_SIZE, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
  PostMessageA(GetDlgItem(panel, IDOK), BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return !PanelOf(*driver).IsOpen(); }));
  EXPECT_EQ(PreferredSize(driver.operator->()), 256);
}

// The ways a user closes the panel, as the messages a real dialog gets for them.
enum class CloseBy { OkButton, EnterKey, EscapeKey, CloseBox };

void PostClose(HWND panel, CloseBy how) {
  switch (how) {
    case CloseBy::OkButton:
      PostMessageA(GetDlgItem(panel, IDOK), BM_CLICK, 0, 0);
      break;
    case CloseBy::EnterKey:
      PostMessageA(GetDlgItem(panel, IDC_BUFFER_SIZE), WM_KEYDOWN, VK_RETURN, 0);
      break;
    case CloseBy::EscapeKey:
      PostMessageA(panel, WM_KEYDOWN, VK_ESCAPE, 0);
      break;
    case CloseBy::CloseBox:
      PostMessageA(panel, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
  }
}

class PanelCloseTest : public PanelTest, public ::testing::WithParamInterface<CloseBy> {};

TEST_P(PanelCloseTest, WaitingControlPanelReturnsOnlyOnceTheUserClosedIt) {
  DriverHandle driver;
  std::atomic<bool> returned{false};
  std::thread host([&] {
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    returned.store(true);
  });
  ASSERT_TRUE(WaitUntil([&] { return FindPanel() != nullptr; }));
  const HWND panel = FindPanel();
  Sleep(60);  // a few of the host's polls: it must still be waiting
  EXPECT_FALSE(returned.load());
  PostClose(panel, GetParam());
  host.join();
  EXPECT_FALSE(PanelOf(*driver).IsOpen());
  EXPECT_FALSE(IsWindow(panel));
  EXPECT_FALSE(PanelInternals(*driver).panelOpenedByHost.load());
  // The waiting call also let the panel thread finish and released its handle.
  EXPECT_EQ(PanelInternals(*driver).panelThread, INVALID_HANDLE_VALUE);
  // A panel closed by the user does not change the setting.
  EXPECT_FALSE(PanelInternals(*driver).settings.modelessPanel.load());
}

INSTANTIATE_TEST_SUITE_P(UserActions, PanelCloseTest,
                         ::testing::Values(CloseBy::OkButton, CloseBy::EnterKey, CloseBy::EscapeKey,
                                           CloseBy::CloseBox));

TEST_F(PanelDialogTest, MetricsReplaceTheNoticeOnEveryTimerTickWhileSwitchedOn) {
  emu_test::FreezeTime(50000);
  DriverHandle driver;
  PanelInternals(*driver).settings.showMetrics.store(true);
  Internals(*driver).latencyCount.store(256);
  Internals(*driver).dropOutCount.store(0);
  const HWND panel = OpenModeless(driver.operator->());
  EXPECT_EQ(ItemText(panel, IDC_METRICS), KX7_PANEL_NOTICE);  // no tick yet
  emu_test::FreezeTime(50400);
  EXPECT_TRUE(
      WaitUntil([&] { return ItemText(panel, IDC_METRICS) == "DropOut:0 | Latency:256 (5.3ms)"; }));
  Internals(*driver).dropOutCount.store(3);
  Internals(*driver).latencyCount.store(4410);
  emu_test::FreezeTime(50800);
  EXPECT_TRUE(WaitUntil(
      [&] { return ItemText(panel, IDC_METRICS) == "DropOut:3 | Latency:4410 (91.9ms)"; }));
  PanelOf(*driver).Close();
}

TEST_F(PanelDialogTest, WithoutMetricsTheNoticeStays) {
  emu_test::FreezeTime(70000);
  DriverHandle driver;
  Internals(*driver).latencyCount.store(256);
  const HWND panel = OpenModeless(driver.operator->());
  emu_test::FreezeTime(71000);
  Sleep(100);  // room for the ticks that are due; none may change the text
  EXPECT_EQ(ItemText(panel, IDC_METRICS), KX7_PANEL_NOTICE);
  PanelOf(*driver).Close();
}

// The latest device event has a line of its own, with or without the figures, whose texts stay.
TEST_F(PanelDialogTest, TheLatestDeviceEventShowsBesideTheFigures) {
  emu_test::FreezeTime(90000);
  DriverHandle driver;
  Internals(*driver).latencyCount.store(256);
  const HWND panel = OpenModeless(driver.operator->());
  EXPECT_EQ(ItemText(panel, IDC_LAST_EVENT), "") << "no event yet";
  // No start yet: times count from the clock's zero.
  Internals(*driver).deviceEvents.Record(DeviceEvent::kLost, 12300);
  emu_test::FreezeTime(90400);
  EXPECT_TRUE(
      WaitUntil([&] { return ItemText(panel, IDC_LAST_EVENT) == "Last event: lost at 12.3 s"; }));
  EXPECT_EQ(ItemText(panel, IDC_METRICS), KX7_PANEL_NOTICE);

  PanelInternals(*driver).settings.showMetrics.store(true);
  Internals(*driver).deviceEvents.Record(DeviceEvent::kReturned, 14100);
  emu_test::FreezeTime(90800);
  EXPECT_TRUE(WaitUntil(
      [&] { return ItemText(panel, IDC_LAST_EVENT) == "Last event: returned at 14.1 s"; }));
  EXPECT_TRUE(
      WaitUntil([&] { return ItemText(panel, IDC_METRICS) == "DropOut:0 | Latency:256 (5.3ms)"; }));
  PanelOf(*driver).Close();
}

}  // namespace
}  // namespace kx7test

// The panel with streaming on the virtual KX-7: start opens it when auto-open is set, without
// waiting for it, and stop closes it.
#include "driver/StreamingFixture.h"

namespace kx7test {
namespace {

constexpr char kPanelTitle[] = "NORVA KX-7 ASIO Control Panel";

using PanelStreamingTest = StreamingTest;

TEST_P(PanelStreamingTest, StartOpensThePanelWithoutWaitingAndStopClosesIt) {
  Internals(*driver).autoOpenPanel.store(true);
  Internals(*driver).modelessPanel.store(false);  // start does not wait even so
  Prepare(128);
  ASSERT_EQ(Start(), ASE_OK);
  const HWND panel = FindWindowA("#32770", kPanelTitle);
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(IsWindowVisible(panel));
  // The panel came from start, not from the host: a stop right away keeps the setting.
  Internals(*driver).modelessPanel.store(true);
  EXPECT_EQ(driver->stop(), ASE_OK);
  EXPECT_FALSE(IsWindow(panel));
  EXPECT_EQ(FindWindowA("#32770", kPanelTitle), nullptr);
  EXPECT_TRUE(Internals(*driver).modelessPanel.load());
}

TEST_P(PanelStreamingTest, WithoutAutoOpenStartOpensNoPanel) {
  Prepare(128);
  ASSERT_EQ(Start(), ASE_OK);
  EXPECT_EQ(FindWindowA("#32770", kPanelTitle), nullptr);
  EXPECT_EQ(driver->stop(), ASE_OK);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PanelStreamingTest, KX7_STREAMING_LAYOUTS);

}  // namespace
}  // namespace kx7test

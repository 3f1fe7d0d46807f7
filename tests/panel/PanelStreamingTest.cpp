// The panel with streaming on the virtual KX-7: start opens it when auto-open is set, without
// waiting for it, and stop closes it.
#include "driver/StreamingFixture.h"
#include "panel/PanelFixture.h"

namespace kx7test {
namespace {

using PanelStreamingTest = StreamingTest;

TEST_P(PanelStreamingTest, StartOpensThePanelWithoutWaitingAndStopClosesIt) {
  PanelInternals(*driver).settings.autoOpenPanel.store(true);
  PanelInternals(*driver).settings.modelessPanel.store(false);  // start does not wait even so
  Prepare(128);
  ASSERT_EQ(Start(), ASE_OK);
  const HWND panel = FindPanel();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(IsWindowVisible(panel));
  // The panel came from start, not from the host: a stop right away keeps the setting.
  PanelInternals(*driver).settings.modelessPanel.store(true);
  EXPECT_EQ(driver->stop(), ASE_OK);
  EXPECT_FALSE(IsWindow(panel));
  EXPECT_EQ(FindPanel(), nullptr);
  EXPECT_TRUE(PanelInternals(*driver).settings.modelessPanel.load());
}

TEST_P(PanelStreamingTest, WithoutAutoOpenStartOpensNoPanel) {
  Prepare(128);
  ASSERT_EQ(Start(), ASE_OK);
  EXPECT_EQ(FindPanel(), nullptr);
  EXPECT_EQ(driver->stop(), ASE_OK);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PanelStreamingTest, KX7_STREAMING_LAYOUTS);

}  // namespace
}  // namespace kx7test

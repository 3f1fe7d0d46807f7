// Opening and closing the panel from the host's threads: waiting, the quick-close rule, failures
// and the hand-over with an ending panel thread.
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "panel/PanelFixture.h"
#include "panel/SettingsStore.h"

namespace kx7test {
namespace {

using PanelThreadTest = PanelTest;

TEST_F(PanelThreadTest, ASecondControlPanelReturnsAtOnceAndOpensNothing) {
  emu_test::FreezeTime(1000);
  DriverHandle driver;
  const HWND panel = OpenModeless(driver.operator->());
  EXPECT_EQ(PanelInternals(*driver).panelOpenTime.load(), 1000u);
  const int windows = emu_test::WindowCount();
  emu_test::FreezeTime(5000);
  PanelInternals(*driver).settings.modelessPanel.store(false);  // would make a new panel wait
  EXPECT_EQ(driver->controlPanel(), ASE_OK);
  EXPECT_EQ(FindPanel(), panel);
  EXPECT_EQ(emu_test::WindowCount(), windows);
  EXPECT_EQ(PanelInternals(*driver).panelOpenTime.load(), 1000u);
  PanelOf(*driver).Close();
}

TEST_F(PanelThreadTest, ClosingSoonAfterTheHostOpenedItSwitchesModelessOff) {
  const struct {
    DWORD openedAt;
    DWORD closedAfter;
    bool staysModeless;
  } cases[] = {{1000, 150, false},
               {1000, 199, false},
               {1000, 200, true},
               {1000, 250, true},
               {0xFFFFFFA0u, 150, false} /* the clock wraps */};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.openedAt << " + " << c.closedAfter);
    emu_test::FreezeTime(c.openedAt);
    DriverHandle driver;
    OpenModeless(driver.operator->());
    emu_test::FreezeTime(c.openedAt + c.closedAfter);
    PanelOf(*driver).Close();
    EXPECT_FALSE(PanelOf(*driver).IsOpen());
    EXPECT_EQ(PanelInternals(*driver).settings.modelessPanel.load(), c.staysModeless);
  }
}

TEST_F(PanelThreadTest, APanelThatStartOpenedIsNotWaitedForNorCountedAsTheHosts) {
  emu_test::FreezeTime(1000);
  DriverHandle driver;
  // Opened as start opens it: no waiting, although the panel is not modeless...
  PanelOf(*driver).Open(true, false);
  ASSERT_TRUE(PanelOf(*driver).IsOpen());
  EXPECT_FALSE(PanelInternals(*driver).panelOpenedByHost.load());
  // ...and a quick close keeps the setting, since the host did not open it.
  PanelInternals(*driver).settings.modelessPanel.store(true);
  PanelOf(*driver).Close();
  EXPECT_TRUE(PanelInternals(*driver).settings.modelessPanel.load());
}

TEST_F(PanelThreadTest, ClosingWithoutAPanelLeavesModelessAlone) {
  emu_test::FreezeTime(1000);
  DriverHandle driver;
  PanelInternals(*driver).settings.modelessPanel.store(true);
  PanelInternals(*driver).panelOpenedByHost.store(true);
  PanelInternals(*driver).panelOpenTime.store(1000);
  PanelOf(*driver).Close();
  EXPECT_TRUE(PanelInternals(*driver).settings.modelessPanel.load());
}

TEST_F(PanelThreadTest, AnotherThreadClosingThePanelEndsTheWaitingControlPanel) {
  DriverHandle driver;
  std::thread host([&] { EXPECT_EQ(driver->controlPanel(), ASE_OK); });
  ASSERT_TRUE(WaitUntil([&] { return PanelOf(*driver).IsOpen(); }));
  EXPECT_EQ(driver->stop(), ASE_OK);  // the host's other thread
  host.join();
  EXPECT_FALSE(PanelOf(*driver).IsOpen());
}

// A modal controlPanel on the host's window thread goes on running that thread's messages; what
// they do there (ask again, dispose, stop, release) behaves as from any other thread.
CAsioDriver* driverOfTheTimer = nullptr;
int timerTicks = 0;

void CALLBACK StopAndRelease(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  ++timerTicks;
  EXPECT_EQ(driverOfTheTimer->controlPanel(), ASE_OK) << "the open panel is the panel";
  driverOfTheTimer->disposeBuffers();
  EXPECT_EQ(driverOfTheTimer->stop(), ASE_OK);
  driverOfTheTimer->Release();
}

TEST_F(PanelThreadTest, AModalWaitRunsTheHostsMessagesAndHandsBackItsQuit) {
  timerTicks = 0;
  std::thread host([] {
    HRESULT hr = S_OK;
    driverOfTheTimer = new CAsioDriver(nullptr, &hr);
    driverOfTheTimer->NonDelegatingAddRef();
    ASSERT_NE(SetTimer(nullptr, 0, 150, StopAndRelease), 0u);
    PostQuitMessage(3);
    // Returns once the timer's stop has closed the panel; the release it made ends the object
    // as this call leaves it.
    EXPECT_EQ(driverOfTheTimer->controlPanel(), ASE_OK);
    MSG message{};
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(message.wParam, 3u);
  });
  host.join();
  EXPECT_EQ(timerTicks, 1);
}

TEST_F(PanelThreadTest, ADialogThatCannotBeCreatedIsNotWaitedFor) {
  DriverHandle driver;
  emu_test::FailDialogCreation(true);
  EXPECT_EQ(driver->controlPanel(), ASE_OK);  // modal, but there is nothing to wait for
  EXPECT_FALSE(PanelOf(*driver).IsOpen());
  EXPECT_FALSE(PanelInternals(*driver).panelStarting.load());
  emu_test::FailDialogCreation(false);
  OpenModeless(driver.operator->());
  PanelOf(*driver).Close();
}

TEST_F(PanelThreadTest, AThreadThatCannotBeStartedIsNotWaitedFor) {
  DriverHandle driver;
  emu_test::FailNextThreadStart();
  EXPECT_EQ(driver->controlPanel(), ASE_OK);
  EXPECT_FALSE(PanelOf(*driver).IsOpen());
  EXPECT_FALSE(PanelInternals(*driver).panelStarting.load());
  EXPECT_FALSE(PanelInternals(*driver).panelOpenedByHost.load());
  EXPECT_EQ(PanelInternals(*driver).panelThread, INVALID_HANDLE_VALUE);
  OpenModeless(driver.operator->());
  PanelOf(*driver).Close();
}

// Inside the host's callback the panel is opened without waiting for its window, which can take
// longer than a buffer period to come up; a stop meanwhile closes it as soon as it is made.
TEST_F(PanelThreadTest, APanelOpenedInsideTheCallbackIsNotWaitedForAndAStopMeanwhileClosesIt) {
  DriverHandle driver;
  const HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  emu_test::HoldDialogCreation(release);
  auto opened = std::async(std::launch::async, [&] { PanelOf(*driver).Open(true, true); });
  EXPECT_EQ(opened.wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << "the streaming thread waited for the window";
  EXPECT_TRUE(PanelInternals(*driver).panelStarting.load());
  std::atomic<DWORD> closer{0};
  std::thread stop([&] {
    closer.store(GetCurrentThreadId());
    PanelOf(*driver).Close();
  });
  // The stop waits for the panel thread (in a bounded wait) while the window is still held.
  EXPECT_TRUE(
      WaitUntil([&] { return closer.load() != 0 && emu_test::WaitUntilIdle(closer.load(), 10); }));
  emu_test::HoldDialogCreation(nullptr);
  SetEvent(release);
  stop.join();
  opened.wait();
  EXPECT_FALSE(PanelOf(*driver).IsOpen());
  EXPECT_EQ(PanelInternals(*driver).panelThread, INVALID_HANDLE_VALUE) << "the thread has ended";
  CloseHandle(release);
}

// A thread that stands for a panel thread in its last steps: window already cleared, handle
// still recorded. It ends when told to.
struct EndingPanelThread {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = nullptr;
  EndingPanelThread() {
    thread = reinterpret_cast<HANDLE>(_beginthreadex(
        nullptr, 0,
        [](void* event) -> unsigned {
          WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
          return 0;
        },
        release, 0, nullptr));
  }
  ~EndingPanelThread() { CloseHandle(release); }
};

TEST_F(PanelThreadTest, AnOpenerLetsAnEndingPanelThreadFinishBeforeStartingTheNext) {
  DriverHandle driver;
  EndingPanelThread ending;
  ASSERT_NE(ending.thread, nullptr);
  PanelInternals(*driver).panelThread = ending.thread;
  std::atomic<bool> returned{false};
  std::thread host([&] {
    PanelOf(*driver).Open(true, false);
    returned.store(true);
  });
  Sleep(50);
  EXPECT_FALSE(returned.load());
  EXPECT_EQ(emu_test::WindowCount(), 0) << "a second panel thread ran beside the ending one";
  SetEvent(ending.release);
  host.join();
  EXPECT_TRUE(PanelOf(*driver).IsOpen());
  EXPECT_NE(PanelInternals(*driver).panelThread,
            ending.thread);  // released, and a new thread recorded
  PanelOf(*driver).Close();
}

TEST_F(PanelThreadTest, AnOpenerGivesUpOnAPanelThreadThatDoesNotEnd) {
  DriverHandle driver;
  EndingPanelThread ending;
  ASSERT_NE(ending.thread, nullptr);
  PanelInternals(*driver).panelThread = ending.thread;
  PanelOf(*driver).Open(true, false);  // returns after its bounded wait
  EXPECT_FALSE(PanelOf(*driver).IsOpen());
  EXPECT_EQ(emu_test::WindowCount(), 0);
  EXPECT_EQ(PanelInternals(*driver).panelThread, ending.thread);  // still recorded, not closed
  SetEvent(ending.release);
  OpenModeless(driver.operator->());
  PanelOf(*driver).Close();
}

TEST_F(PanelThreadTest, RepeatedOpeningAndClosingReleasesEveryThreadHandleOnce) {
  DriverHandle driver;
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    const HWND panel = OpenModeless(driver.operator->());
    switch (round % 3) {
      case 0:
        PanelOf(*driver).Close();
        break;
      case 1:  // closed by the user; the next opener or closer finishes the thread off
        PostMessageA(panel, WM_KEYDOWN, VK_ESCAPE, 0);
        ASSERT_TRUE(WaitUntil([&] { return !PanelOf(*driver).IsOpen(); }));
        break;
      default:  // closed by the user while another thread closes it too
        PostMessageA(GetDlgItem(panel, IDOK), BM_CLICK, 0, 0);
        PanelOf(*driver).Close();
        break;
    }
  }
  PanelOf(*driver).Close();
  EXPECT_EQ(PanelInternals(*driver).panelThread, INVALID_HANDLE_VALUE);
  // The counts of the fixture's TearDown check that no handle was closed twice or waited on late.
}

TEST_F(PanelThreadTest, StopClosesAnOpenPanelAlsoWhenNotStreaming) {
  DriverHandle driver;
  const HWND panel = OpenModeless(driver.operator->());
  EXPECT_EQ(driver->stop(), ASE_OK);
  EXPECT_FALSE(PanelOf(*driver).IsOpen());
  EXPECT_FALSE(IsWindow(panel));
}

TEST_F(PanelThreadTest, TheDestructorClosesAnOpenPanelAndStoresWhatTheQuickCloseDecided) {
  const struct {
    DWORD releasedAfter;
    DWORD storedModeless;
  } cases[] = {{50, 0}, {300, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.releasedAfter);
    emu_test::FreezeTime(9000);
    DriverHandle driver;
    const HWND panel = OpenModeless(driver.operator->());
    emu_test::FreezeTime(9000 + c.releasedAfter);
    driver.Reset();
    EXPECT_FALSE(IsWindow(panel));
    EXPECT_EQ(emu_test::WindowCount(), 0);
    EXPECT_EQ(SettingsStore(kSettingsKey).Read("Modeless Control Panel"),
              std::optional<DWORD>(c.storedModeless));
  }
}

}  // namespace
}  // namespace kx7test

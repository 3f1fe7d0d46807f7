// Hosts that call the driver from inside their buffer switch, on the streaming thread, while
// their other threads stop, dispose or release: nothing there waits for the streaming thread or
// for a lock that a waiting host thread holds, and a stream ended from inside is cleaned up by
// the host's next call.
#include "driver/ConcurrencyFixture.h"

namespace kx7test {
namespace {

// What the host's thread does after the callback has called stop.
enum class FollowUp { kStart, kStop, kDisposeBuffers, kRelease };

std::string FollowUpName(const ::testing::TestParamInfo<FollowUp>& info) {
  switch (info.param) {
    case FollowUp::kStart:
      return "Start";
    case FollowUp::kStop:
      return "Stop";
    case FollowUp::kDisposeBuffers:
      return "DisposeBuffers";
    default:
      return "Release";
  }
}

class StopFromInsideTest : public ConcurrencyTest,
                           public ::testing::WithParamInterface<FollowUp> {};

TEST_P(StopFromInsideTest, TheHostsNextCallCleansUpAndANewStartStreams) {
  TestHost host;
  ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2));
  std::atomic<uint64_t> stopAt{0};
  std::atomic<ASIOError> inside{ASE_HWMalfunction};
  std::atomic<bool> stopped{false};
  host.onSwitch = [&](uint64_t n) {
    if (n < stopAt.load() || stopped.load()) return;
    inside.store(host.driver->stop());
    stopped.store(true);
  };
  for (int rep = 0; rep < Repetitions(120); ++rep) {
    watchdog.Kick("repetition " + std::to_string(rep));
    stopped.store(false);
    stopAt.store(~uint64_t{0});
    ASSERT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
    const uint64_t now = host.switches.load();
    stopAt.store(now + 1 + static_cast<uint64_t>(RandomBelow(3)));
    // The host's call comes before, while or after the ended thread finishes.
    if (rep % 2 == 0) {
      ASSERT_TRUE(WaitForSwitches(host, stopAt.load()));
      while (!stopped.load()) std::this_thread::yield();
    }
    RandomPause(3000);
    switch (GetParam()) {
      case FollowUp::kStart: {
        // A start that came before the stop finds the stream running; one after it streams anew.
        const bool stoppedBefore = stopped.load();
        const uint64_t before = host.switches.load();
        ASSERT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
        if (stoppedBefore) {
          EXPECT_GE(host.switches.load(), before + 2) << "start answered without streaming";
        }
        EXPECT_TRUE(OneOf(host.driver->stop(), {ASE_OK}));
        break;
      }
      case FollowUp::kStop:
        EXPECT_TRUE(OneOf(host.driver->stop(), {ASE_OK}));
        break;
      case FollowUp::kDisposeBuffers:
        EXPECT_TRUE(OneOf(host.driver->disposeBuffers(), {ASE_OK}));
        ASSERT_EQ(CreateBuffers(host), ASE_OK);
        break;
      case FollowUp::kRelease:
        EXPECT_EQ(host.driver->Release(), 0u);
        ExpectAllReleased("after repetition " + std::to_string(rep));
        host.driver = nullptr;
        ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2));
        break;
    }
    if (stopped.load()) {
      EXPECT_TRUE(OneOf(inside.load(), {ASE_OK}));
    }
    ASSERT_EQ(DeviceFilesOpen(), 0u) << "repetition " << rep;
  }
  Close(host);
}

INSTANTIATE_TEST_SUITE_P(HostCalls, StopFromInsideTest,
                         ::testing::Values(FollowUp::kStart, FollowUp::kStop,
                                           FollowUp::kDisposeBuffers, FollowUp::kRelease),
                         FollowUpName);

// What a host may call from inside its callback, with the results it gets there.
enum class Inside {
  kStop,
  kDisposeBuffers,
  kCreateBuffers,
  kSamplePosition,
  kControlPanel,
  kSetSampleRate,
  kStart,
  kInit,
  kCount
};

ASIOError CallInside(IASIO* driver, Inside call, uint64_t n, ASIOCallbacks* callbacks) {
  switch (call) {
    case Inside::kStop:
      return driver->stop();
    case Inside::kDisposeBuffers:
      return driver->disposeBuffers();
    case Inside::kCreateBuffers: {
      ASIOBufferInfo info{ASIOFalse, 0, {}};
      return driver->createBuffers(&info, 1, 128, callbacks);
    }
    case Inside::kSamplePosition: {
      ASIOSamples position{};
      ASIOTimeStamp stamp{};
      return driver->getSamplePosition(&position, &stamp);
    }
    case Inside::kControlPanel:
      return driver->controlPanel();
    case Inside::kSetSampleRate:
      return driver->setSampleRate(n % 2 == 0 ? 44100.0 : 48000.0);
    case Inside::kStart:
      return driver->start();
    default:
      return driver->init(nullptr) == ASIOTrue ? ASE_OK : ASE_NotPresent;
  }
}

// The answers inside the callback: the buffers cannot change under the thread that uses them,
// a stop only asks, and a start after that stop cannot restart the stream from within.
std::vector<ASIOError> AllowedInside(Inside call) {
  if (call == Inside::kDisposeBuffers || call == Inside::kCreateBuffers) return {ASE_InvalidMode};
  if (call == Inside::kStart) return {ASE_OK, ASE_InvalidMode};
  return {ASE_OK};
}

TEST_F(ConcurrencyTest, CallsFromInsideTheCallbackWhileAnotherThreadStopsNeverDeadlock) {
  TestHost host;
  ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2));
  std::atomic<int> call{0};
  std::atomic<int> wrong{0};
  std::atomic<int> lastWrong{0};
  host.onSwitch = [&](uint64_t n) {
    const auto what = static_cast<Inside>(call.load());
    const ASIOError result = CallInside(host.driver, what, n, &host.callbacks);
    if (!OneOf(result, AllowedInside(what))) {
      wrong.fetch_add(1);
      lastWrong.store(result);
    }
  };
  const int perCall = Repetitions(40);
  for (int rep = 0; rep < perCall * static_cast<int>(Inside::kCount); ++rep) {
    const int what = rep % static_cast<int>(Inside::kCount);
    watchdog.Kick("call " + std::to_string(what) + ", repetition " + std::to_string(rep));
    call.store(static_cast<int>(Inside::kSamplePosition));
    ASSERT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
    call.store(what);
    RandomPause(4000);
    // The host's thread takes the transport lock and waits for the streaming thread, which may
    // be inside one of these calls at that moment.
    switch (rep / static_cast<int>(Inside::kCount) % 3) {
      case 0:
        EXPECT_TRUE(OneOf(host.driver->stop(), {ASE_OK}));
        break;
      case 1:
        EXPECT_TRUE(OneOf(host.driver->disposeBuffers(), {ASE_OK}));
        ASSERT_EQ(CreateBuffers(host), ASE_OK);
        break;
      default:
        EXPECT_TRUE(OneOf(host.driver->setSampleRate(96000.0), {ASE_OK})) << "call " << what;
        EXPECT_TRUE(OneOf(host.driver->stop(), {ASE_OK}));
        EXPECT_TRUE(OneOf(host.driver->setSampleRate(48000.0), {ASE_OK}));
        break;
    }
    EXPECT_EQ(wrong.load(), 0) << "call " << what << " answered " << lastWrong.load();
    wrong.store(0);
    ASSERT_EQ(DeviceFilesOpen(), 0u) << "repetition " << rep;
  }
  Close(host);
}

// A host that drops its last reference from inside the buffer switch: the object outlives the
// loop that is calling the host, then goes with everything it held.
TEST_F(ConcurrencyTest, ReleaseFromInsideTheCallbackFreesTheDriverOnceItsLoopHasEnded) {
  TestHost host;
  for (int rep = 0; rep < Repetitions(20); ++rep) {
    watchdog.Kick("repetition " + std::to_string(rep));
    ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2));
    std::atomic<uint64_t> releaseAt{~uint64_t{0}};
    std::atomic<ULONG> remaining{~ULONG{0}};
    std::atomic<uint64_t> releasedAt{0};
    host.onSwitch = [&](uint64_t n) {
      if (n < releaseAt.load() || releasedAt.load() != 0) return;
      releasedAt.store(n);
      remaining.store(host.driver->Release());
    };
    ASSERT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
    // Once start has returned: the host's own call must not still be running on the object.
    releaseAt.store(host.switches.load() + 1 + static_cast<uint64_t>(RandomBelow(3)));
    ASSERT_TRUE(WaitForSwitches(host, releaseAt.load()));
    while (CanUnloadNow() != S_OK || DeviceFilesOpen() != 0) std::this_thread::yield();
    EXPECT_EQ(remaining.load(), 0u);
    EXPECT_EQ(host.switches.load(), releasedAt.load()) << "a buffer switch after the last release";
    host.driver = nullptr;
    host.onSwitch = nullptr;
    host.switches.store(0);
  }
}

}  // namespace
}  // namespace kx7test

// The driver object's life against hosts that end it from several threads: a stop on a thread of
// its own racing the last release (also with both cores kept busy), a host callback that never
// returns, and a release from inside the callback with the module asked to unload after it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "driver/ConcurrencyFixture.h"

// Each repetition takes about 5 s: one here, more under Wine where the crash was seen.
#ifndef KX7_STALL_REPETITIONS
#ifdef _WIN32
#define KX7_STALL_REPETITIONS 20
#else
#define KX7_STALL_REPETITIONS 1
#endif
#endif

namespace kx7test {
namespace {

template <typename Predicate>
bool WaitUntil(Predicate predicate, int milliseconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Keeps every core busy while it lives, so that the racing threads are preempted at random.
class CpuHog {
 public:
  CpuHog() {
    const unsigned cores = std::thread::hardware_concurrency();
    for (unsigned i = 0; i < (cores == 0 ? 2 : cores); ++i) {
      threads.emplace_back([this] {
        while (!done.load(std::memory_order_relaxed)) spin.fetch_add(1, std::memory_order_relaxed);
      });
    }
  }
  ~CpuHog() {
    done.store(true);
    for (std::thread& thread : threads) thread.join();
  }
  CpuHog(const CpuHog&) = delete;
  CpuHog& operator=(const CpuHog&) = delete;

 private:
  std::atomic<bool> done{false};
  std::atomic<uint64_t> spin{0};
  std::vector<std::thread> threads;
};

class LifetimeTest : public ConcurrencyTest, public ::testing::WithParamInterface<bool> {
 protected:
  // The host's stop thread holds no reference: its stop is racing the host thread's dispose and
  // last release. The release comes only once the stop has been called, as such a host orders it.
  void RaceStopWithTheLastRelease(int repetitions) {
    for (int rep = 0; rep < repetitions; ++rep) {
      watchdog.Kick("repetition " + std::to_string(rep));
      TestHost host;
      ASSERT_NO_FATAL_FAILURE(Prepare(host, 1 + RandomBelow(2), RandomBelow(3)));
      const uint64_t stopAt = 1 + static_cast<uint64_t>(RandomBelow(4));
      const int releaseDelay = 1000 + RandomBelow(3000);
      std::atomic<bool> stopCalled{false};
      std::atomic<ASIOError> stopped{ASE_HWMalfunction};
      std::thread stopper;
      IASIO* const driver = host.driver;
      host.onSwitch = [&](uint64_t n) {
        if (n != stopAt) return;
        stopper = std::thread([&] {
          stopCalled.store(true, std::memory_order_release);
          stopped.store(driver->stop());
        });
      };
      EXPECT_TRUE(OneOf(driver->start(), {ASE_OK}));
      ASSERT_TRUE(WaitForSwitches(host, stopAt));
      while (!stopCalled.load(std::memory_order_acquire)) std::this_thread::yield();
      RandomPause(releaseDelay);
      EXPECT_TRUE(OneOf(driver->disposeBuffers(), {ASE_OK}));
      const auto t0 = std::chrono::steady_clock::now();
      driver->Release();
      host.driver = nullptr;
      worstRelease = std::max(worstRelease, std::chrono::steady_clock::now() - t0);
      stopper.join();
      EXPECT_TRUE(OneOf(stopped.load(), {ASE_OK}));
      ExpectAllReleased("after repetition " + std::to_string(rep));
    }
    std::printf("worst last release: %.1f ms\n",
                std::chrono::duration<double, std::milli>(worstRelease).count());
  }

  std::chrono::steady_clock::duration worstRelease{};
};

TEST_P(LifetimeTest, StopOnItsOwnThreadRacesDisposeAndTheLastRelease) {
  std::unique_ptr<CpuHog> hog;
  if (GetParam()) hog = std::make_unique<CpuHog>();
  RaceStopWithTheLastRelease(Repetitions(GetParam() ? 100 : 200));
}

std::string LoadName(const ::testing::TestParamInfo<bool>& load) {
  return load.param ? "CoresBusy" : "Quiet";
}

INSTANTIATE_TEST_SUITE_P(Load, LifetimeTest, ::testing::Values(false, true), LoadName);

// A callback that never returns: stop keeps its bound, the run is let go holding the device,
// start says so, and release is safe; the module stays loaded until the callback returns.
TEST_F(ConcurrencyTest, ACallbackThatNeverReturnsIsLetGo) {
  TestHost host;
  ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2));
  std::atomic<bool> letGo{false};
  std::atomic<bool> stuck{false};
  host.onSwitch = [&](uint64_t n) {
    if (n < 4) return;
    stuck.store(true);
    while (!letGo.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  ASSERT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
  ASSERT_TRUE(WaitUntil([&] { return stuck.load(); }, 10000));
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(OneOf(host.driver->stop(), {ASE_OK}));
  const double stopMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  std::printf("stop with a callback that never returns: %.1f ms\n", stopMs);
  EXPECT_GT(DeviceFilesOpen(), 0u) << "the run that was let go still holds its pins";
  EXPECT_TRUE(OneOf(host.driver->start(), {ASE_NotPresent}));
  char text[128] = {};
  host.driver->getErrorMessage(text);
  EXPECT_STREQ(text, "NORVA KX-7 is still held by a stream that has not ended.");
  EXPECT_TRUE(OneOf(host.driver->disposeBuffers(), {ASE_OK}));
  t0 = std::chrono::steady_clock::now();
  host.driver->Release();
  host.driver = nullptr;
  std::printf(
      "release with a callback that never returns: %.1f ms\n",
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  EXPECT_EQ(CanUnloadNow(), S_FALSE) << "the streaming thread still runs the module's code";
  letGo.store(true);
  EXPECT_TRUE(WaitUntil([&] { return CanUnloadNow() == S_OK && DeviceFilesOpen() == 0; }, 10000));
  ExpectAllReleased("once the callback returned");
}

// The stream let go by a callback that never returns: once it has ended, start works again.
TEST_F(ConcurrencyTest, StartWorksAgainOnceALetGoStreamHasEnded) {
  TestHost host;
  ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2));
  std::atomic<bool> letGo{false};
  std::atomic<bool> stuck{false};
  host.onSwitch = [&](uint64_t n) {
    if (n != 4) return;
    stuck.store(true);
    while (!letGo.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  ASSERT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
  ASSERT_TRUE(WaitUntil([&] { return stuck.load(); }, 10000));
  EXPECT_TRUE(OneOf(host.driver->stop(), {ASE_OK}));
  letGo.store(true);
  ASSERT_TRUE(WaitUntil([&] { return DeviceFilesOpen() == 0; }, 10000));
  const uint64_t before = host.switches.load();
  const ASIOError started = host.driver->start();
  char text[128] = {};
  host.driver->getErrorMessage(text);
  EXPECT_TRUE(OneOf(started, {ASE_OK})) << text;
  EXPECT_TRUE(WaitForSwitches(host, before + 4));
  EXPECT_TRUE(OneOf(host.driver->stop(), {ASE_OK}));
  Close(host);
  ExpectAllReleased("at the end");
}

// A plug-in that stalls: its callback goes on reading and writing every sample of its halves,
// and asking for the position, for 3 s after stop gave up on it, while the host's main thread
// disposes, creates buffers of another size and releases. The blocks it uses, and the driver
// object it calls, stay until it returns; then everything goes.
TEST_F(ConcurrencyTest, AStalledCallbackKeepsItsBuffersWhileTheHostDisposesAndReleases) {
  std::unique_ptr<CpuHog> hog;
#ifdef _WIN32
  hog = std::make_unique<CpuHog>();
#endif
  for (int rep = 0; rep < KX7_STALL_REPETITIONS; ++rep) {
    watchdog.Kick("repetition " + std::to_string(rep));
    TestHost host;
    ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2, 128));
    std::atomic<bool> stuck{false};
    std::atomic<bool> returned{false};
    std::atomic<uint64_t> positions{0};
    IASIO* const driver = host.driver;
    host.onSwitch = [&](uint64_t n) {
      if (n != 4) return;
      // The blocks as createBuffers handed them out, before the host's records are reused.
      std::vector<int32_t*> halves;
      for (int i = 0; i < host.infoCount; ++i) {
        for (void* half : host.infos[i].buffers) halves.push_back(static_cast<int32_t*>(half));
      }
      stuck.store(true);
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
      int32_t sum = 0;
      while (std::chrono::steady_clock::now() < end) {
        for (int32_t* half : halves) {
          for (int f = 0; f < 128; ++f) {
            sum += half[f];
            half[f] = sum;
          }
        }
        ASIOSamples position{};
        ASIOTimeStamp stamp{};
        if (driver->getSamplePosition(&position, &stamp) == ASE_OK) positions.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      returned.store(true);
    };
    ASSERT_TRUE(OneOf(driver->start(), {ASE_OK}));
    ASSERT_TRUE(WaitUntil([&] { return stuck.load(); }, 10000));
    EXPECT_TRUE(OneOf(driver->stop(), {ASE_OK}));
    EXPECT_TRUE(OneOf(driver->disposeBuffers(), {ASE_OK}));
    EXPECT_TRUE(OneOf(CreateBuffers(host, 256), {ASE_OK}));
    driver->Release();
    host.driver = nullptr;
    const bool stillInside = !returned.load();
    if (stillInside) {
      EXPECT_EQ(CanUnloadNow(), S_FALSE) << "the stalled run and what it uses are still there";
    }
    ASSERT_TRUE(WaitUntil([&] { return returned.load(); }, 10000));
    EXPECT_GT(positions.load(), 0u);
    // Once it has returned, the run, its blocks and the driver object all go.
    EXPECT_TRUE(WaitUntil([&] { return CanUnloadNow() == S_OK && DeviceFilesOpen() == 0; }, 10000));
    ExpectAllReleased("after repetition " + std::to_string(rep));
  }
}

// The host releases its last reference from inside its callback; the module may unload only
// once the streaming thread has ended.
TEST_F(ConcurrencyTest, ReleaseFromInsideTheCallbackThenTheModuleIsAskedToUnload) {
  for (int rep = 0; rep < Repetitions(20); ++rep) {
    watchdog.Kick("repetition " + std::to_string(rep));
    TestHost host;
    ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2));
    std::atomic<bool> released{false};
    IASIO* const driver = host.driver;
    host.onSwitch = [&](uint64_t n) {
      if (n != 3) return;
      driver->Release();
      released.store(true);
    };
    ASSERT_TRUE(OneOf(driver->start(), {ASE_OK}));
    ASSERT_TRUE(WaitUntil([&] { return released.load(); }, 10000));
    host.driver = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return CanUnloadNow() == S_OK; }, 10000));
    ExpectAllReleased("after repetition " + std::to_string(rep));
  }
}

}  // namespace
}  // namespace kx7test

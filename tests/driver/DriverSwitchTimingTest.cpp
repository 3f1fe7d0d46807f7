// The position and time stamp a host gets on the real-time clock: positions count from the first
// switch of every start however long start took to return, and the stamps are finer than a
// millisecond, published with their position as one pair.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "driver/ConcurrencyFixture.h"
#include "platform/windows.h"

namespace kx7test {
namespace {

uint64_t Frames(const ASIOSamples& position) { return (uint64_t{position.hi} << 32) | position.lo; }
uint64_t Nanoseconds(const ASIOTimeStamp& stamp) { return (uint64_t{stamp.hi} << 32) | stamp.lo; }

// Keeps both cores busy while it lives.
class Load {
 public:
  Load() {
    for (int i = 0; i < 2; ++i) {
      threads.emplace_back([this] {
        while (!done.load(std::memory_order_relaxed)) spin.fetch_add(1, std::memory_order_relaxed);
      });
    }
  }
  ~Load() {
    done.store(true);
    for (std::thread& thread : threads) thread.join();
  }
  Load(const Load&) = delete;
  Load& operator=(const Load&) = delete;

 private:
  std::atomic<bool> done{false};
  std::atomic<uint64_t> spin{0};
  std::vector<std::thread> threads;
};

TEST_F(ConcurrencyTest, EveryStartCountsItsPositionsFromItsFirstSwitch) {
  constexpr int32_t kSize = 64;
  TestHost host;
  ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2, kSize));
  std::vector<uint64_t> positions;
  positions.reserve(4096);
  host.onSwitch = [&](uint64_t) {
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    host.driver->getSamplePosition(&position, &stamp);
    positions.push_back(Frames(position));
  };
  const Load load;
  std::vector<uint64_t> beforeReturn;
  for (int start = 0; start < Repetitions(100); ++start) {
    watchdog.Kick("start " + std::to_string(start));
    const uint64_t first = host.switches.load();
    ASSERT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
    beforeReturn.push_back(host.switches.load() - first);
    ASSERT_TRUE(WaitForSwitches(host, first + 6));
    ASSERT_TRUE(OneOf(host.driver->stop(), {ASE_OK}));
    const std::vector<uint64_t> run(positions.begin() + static_cast<std::ptrdiff_t>(first),
                                    positions.end());
    for (size_t i = 0; i < run.size(); ++i) {
      ASSERT_EQ(run[i], i < 2 ? 0 : (i - 1) * kSize) << "start " << start << ", switch " << i + 1;
    }
  }
  std::sort(beforeReturn.begin(), beforeReturn.end());
  std::printf(
      "switches before start returned (64 frames, 48 kHz, cores busy): min %llu, "
      "median %llu, max %llu over %zu starts\n",
      static_cast<unsigned long long>(beforeReturn.front()),
      static_cast<unsigned long long>(beforeReturn[beforeReturn.size() / 2]),
      static_cast<unsigned long long>(beforeReturn.back()), beforeReturn.size());
  Close(host);
  ExpectAllReleased("at the end");
}

// 64 frames at 96 kHz: the stamps' steps against the period, and a reader on a thread of its own
// that only ever sees a pair some switch published.
TEST_F(ConcurrencyTest, StampsAreFinerThanAMillisecondAndPublishedWithTheirPosition) {
  constexpr int32_t kSize = 64;
  constexpr double kRate = 96000.0;
  constexpr int kSeconds = 10;
  TestHost host;
  ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2, kSize));
  ASSERT_TRUE(OneOf(host.driver->setSampleRate(kRate), {ASE_OK}));
  std::vector<std::pair<uint64_t, uint64_t>> published;
  published.reserve(static_cast<size_t>(kSeconds * kRate / kSize * 2));
  int64_t farthestNs = 0;
  host.onSwitch = [&](uint64_t) {
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    host.driver->getSamplePosition(&position, &stamp);
    const uint64_t nowNs = uint64_t{timeGetTime()} * 1000000u;
    published.emplace_back(Frames(position), Nanoseconds(stamp));
    const auto distance = static_cast<int64_t>(nowNs - Nanoseconds(stamp));
    farthestNs = std::max(farthestNs, distance < 0 ? -distance : distance);
  };
  std::atomic<bool> reading{true};
  std::vector<std::pair<uint64_t, uint64_t>> seen;
  std::thread reader([&] {
    std::pair<uint64_t, uint64_t> last{~uint64_t{0}, 0};
    while (reading.load(std::memory_order_relaxed)) {
      ASIOSamples position{};
      ASIOTimeStamp stamp{};
      host.driver->getSamplePosition(&position, &stamp);
      const std::pair<uint64_t, uint64_t> pair{Frames(position), Nanoseconds(stamp)};
      if (pair != last) seen.push_back(pair);
      last = pair;
    }
  });
  ASSERT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
  for (int s = 0; s < kSeconds; ++s) {
    watchdog.Kick("second " + std::to_string(s));
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  ASSERT_TRUE(OneOf(host.driver->stop(), {ASE_OK}));
  reading.store(false);
  reader.join();

  ASSERT_GT(published.size(), 100u);
  std::vector<uint64_t> steps;
  size_t equal = 0;
  bool finer = false;
  for (size_t i = 1; i < published.size(); ++i) {
    const uint64_t step = published[i].second - published[i - 1].second;
    steps.push_back(step);
    if (step == 0) ++equal;
    if (step % 1000000u != 0) finer = true;
  }
  std::sort(steps.begin(), steps.end());
  std::printf(
      "stamps at 64 frames / 96 kHz over %d s: %zu switches, median step %.4f ms against "
      "a %.4f ms period, %zu equal consecutive stamps, farthest from timeGetTime "
      "%.3f ms\n",
      kSeconds, published.size(), steps[steps.size() / 2] / 1e6, kSize * 1000.0 / kRate, equal,
      static_cast<double>(farthestNs) / 1e6);
  EXPECT_TRUE(finer) << "not every step is whole milliseconds";

  // The start's first pair is the one before any switch.
  std::set<std::pair<uint64_t, uint64_t>> known(published.begin(), published.end());
  known.emplace(0, 0);
  size_t foreign = 0;
  for (const auto& pair : seen) foreign += known.count(pair) == 0 ? 1 : 0;
  std::printf("the reader saw %zu distinct pairs\n", seen.size());
  EXPECT_EQ(foreign, 0u) << "pairs no switch published";
  Close(host);
  ExpectAllReleased("at the end");
}

// A host behind a blocking-write interface: its main thread writes whole buffers into a ring of
// two as fast as the ring takes them, and each callback drains one. Switches in a burst (around
// the start, or halves handed over back to back) would find the ring short.
TEST_F(ConcurrencyTest, AHostFedThroughARingFromItsMainThreadNeverRunsShort) {
  constexpr int32_t kSize = 1024;
  constexpr int64_t kRing = 2 * kSize;
  TestHost host;
  ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2, kSize));
  ASSERT_TRUE(OneOf(host.driver->setSampleRate(44100.0), {ASE_OK}));
  std::atomic<int64_t> written{kRing};  // the ring starts full, as such an interface primes it
  std::atomic<int64_t> drained{0};
  std::atomic<int> underflows{0};
  host.onSwitch = [&](uint64_t) {
    if (written.load(std::memory_order_acquire) - drained.load(std::memory_order_relaxed) < kSize) {
      underflows.fetch_add(1);
    } else {
      drained.fetch_add(kSize, std::memory_order_release);
    }
  };
  ASSERT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < end) {
    // The blocking write: waits for room for one buffer, then writes it.
    while (written.load() - drained.load(std::memory_order_acquire) > kRing - kSize) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    written.fetch_add(kSize, std::memory_order_release);
  }
  ASSERT_TRUE(OneOf(host.driver->stop(), {ASE_OK}));
  std::printf("ring host at 1024 frames / 44.1 kHz: %llu switches, %d short\n",
              static_cast<unsigned long long>(host.switches.load()), underflows.load());
  EXPECT_EQ(underflows.load(), 0);
  Close(host);
  ExpectAllReleased("at the end");
}

}  // namespace
}  // namespace kx7test

// The built driver library, loaded and created as a host does, streaming through the virtual
// KX-7 on its real-time clock, for tests that call IASIO from several threads at once. On Linux
// the test plugs the device into the platform library it shares with the driver; the Windows
// library of the virtual-device build carries its own. Every test ends with DllCanUnloadNow
// answering S_OK and no filter or pin of the device open; a watchdog ends a test that stops
// making progress instead of letting it hang.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "asio/asio.h"
#include "support/TestSupport.h"

#ifndef _WIN32
#include "virtual_device/VirtualKsDevice.h"
#endif

namespace kx7test {

// Repetitions of the racy tests, sized for this build: the sanitizers and Wine run the same
// interleavings several times slower.
#if defined(__SANITIZE_THREAD__)
inline constexpr int kSlowdown = 2;
#elif defined(__SANITIZE_ADDRESS__) || defined(_WIN32)
inline constexpr int kSlowdown = 2;
#else
inline constexpr int kSlowdown = 1;
#endif
inline constexpr int Repetitions(int fastBuild) {
  return fastBuild / kSlowdown > 8 ? fastBuild / kSlowdown : 8;
}

// Ends the process with a failure when no stage has begun for `seconds`.
class Watchdog {
 public:
  explicit Watchdog(int seconds);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  // A new stage began; its name is what the failure names.
  void Kick(const std::string& stage);

 private:
  std::mutex lock;
  std::condition_variable wake;
  std::chrono::seconds bound;
  std::chrono::steady_clock::time_point deadline;
  std::string stage;
  bool done = false;
  std::thread thread;
};

// A host whose callbacks count buffer switches and run what the test puts into `onSwitch` on the
// streaming thread. ASIO callbacks carry no context, so each of the two slots serves one host.
struct TestHost {
  explicit TestHost(int slot = 0);
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  IASIO* driver = nullptr;
  ASIOCallbacks callbacks{};
  ASIOBufferInfo infos[4] = {};
  int infoCount = 0;
  bool answerTimeInfo = true;
  std::atomic<uint64_t> switches{0};
  std::atomic<int> rateChanges{0};
  std::atomic<double> rateInTimeInfo{0.0};
  // Runs inside each buffer switch with the switch's number (from 1); set only while no stream
  // exists.
  std::function<void(uint64_t)> onSwitch;
  int slot;
};

// Results a call may give; anything else, also an unpublished code, fails the test.
::testing::AssertionResult OneOf(ASIOError result, const std::vector<ASIOError>& allowed);

class ConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new driver object with one reference, through the library's class factory.
  IASIO* CreateDriver();
  // A driver object for the host when it has none, init, then createBuffers for the first
  // `inputs` inputs and `outputs` outputs.
  void Prepare(TestHost& host, int inputs, int outputs, int32_t bufferSize = 64);
  // disposeBuffers and the last Release.
  void Close(TestHost& host);
  // createBuffers alone, with the records that Prepare made.
  ASIOError CreateBuffers(TestHost& host, int32_t bufferSize = 64);
  // Waits, bounded, until the host has seen `count` buffer switches.
  static bool WaitForSwitches(const TestHost& host, uint64_t count, int milliseconds = 10000);
  // Filters and pins of the virtual KX-7 open right now.
  size_t DeviceFilesOpen();
  HRESULT CanUnloadNow();
  // The driver let everything go: no object alive, no filter or pin open.
  void ExpectAllReleased(const std::string& when);
  // Sleeps for a random time below `maxMicroseconds` (0 only yields).
  void RandomPause(int maxMicroseconds);
  int RandomBelow(int bound);

  Watchdog watchdog{60 * kSlowdown};
  std::mt19937 random;

 private:
  HMODULE library = nullptr;
  int invalidHandleUses = 0;
#ifndef _WIN32
  vkx7::VirtualKx7 device;
#endif
};

}  // namespace kx7test

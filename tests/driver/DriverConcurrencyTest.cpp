// Hosts that call the driver from several threads at once: stop on a thread of its own while
// another disposes and releases, start and stop racing, calls in any order from three threads,
// release while streaming, two driver objects for the one device, rate changes, the control
// panel and slow callbacks while streaming.
#include <array>
#include <vector>

#include "driver/ConcurrencyFixture.h"

namespace kx7test {
namespace {

struct Shape {
  int inputs;
  int outputs;
};

std::string ShapeName(const ::testing::TestParamInfo<Shape>& info) {
  return std::to_string(info.param.inputs) + "In" + std::to_string(info.param.outputs) + "Out";
}

class ConcurrencyShapeTest : public ConcurrencyTest, public ::testing::WithParamInterface<Shape> {};

// A host ends the stream from its callback by starting a thread that calls stop, while its main
// thread, seeing the stream end, disposes the buffers and releases the driver.
TEST_P(ConcurrencyShapeTest, StopOnAThreadOfItsOwnWhileTheHostDisposesAndReleases) {
  const Shape shape = GetParam();
  for (int rep = 0; rep < Repetitions(150); ++rep) {
    watchdog.Kick("repetition " + std::to_string(rep));
    TestHost host;
    ASSERT_NO_FATAL_FAILURE(Prepare(host, shape.inputs, shape.outputs));
    const uint64_t stopAt = 1 + static_cast<uint64_t>(RandomBelow(4));
    const int disposeDelay = RandomBelow(3000);
    std::atomic<bool> stopperStarted{false};
    std::atomic<ASIOError> stopped{ASE_HWMalfunction};
    std::thread stopper;
    host.onSwitch = [&](uint64_t n) {
      if (n != stopAt) return;
      // The stopping thread holds a reference of its own while it works.
      host.driver->AddRef();
      stopper = std::thread([&] {
        stopped.store(host.driver->stop());
        host.driver->Release();
      });
      stopperStarted.store(true, std::memory_order_release);
    };
    EXPECT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
    ASSERT_TRUE(WaitForSwitches(host, stopAt));
    while (!stopperStarted.load(std::memory_order_acquire)) std::this_thread::yield();
    RandomPause(disposeDelay);
    EXPECT_TRUE(OneOf(host.driver->disposeBuffers(), {ASE_OK}));
    host.driver->Release();  // the last reference, or the stopping thread's is
    stopper.join();
    EXPECT_TRUE(OneOf(stopped.load(), {ASE_OK}));
    ExpectAllReleased("after repetition " + std::to_string(rep));
  }
}

INSTANTIATE_TEST_SUITE_P(Streams, ConcurrencyShapeTest,
                         ::testing::Values(Shape{2, 0}, Shape{0, 2}, Shape{2, 2}), ShapeName);

TEST_F(ConcurrencyTest, StartAndTwoStopsRaceFromThreeThreads) {
  TestHost host;
  ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2));
  for (int rep = 0; rep < Repetitions(300); ++rep) {
    watchdog.Kick("repetition " + std::to_string(rep));
    const std::array<int, 3> delays = {RandomBelow(2000), RandomBelow(2000), RandomBelow(2000)};
    std::atomic<ASIOError> started{ASE_HWMalfunction};
    std::atomic<ASIOError> stopped[2] = {{ASE_HWMalfunction}, {ASE_HWMalfunction}};
    std::thread starter([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(delays[0]));
      started.store(host.driver->start());
    });
    std::thread stoppers[2];
    for (int i = 0; i < 2; ++i) {
      stoppers[i] = std::thread([&, i] {
        std::this_thread::sleep_for(std::chrono::microseconds(delays[1 + i]));
        stopped[i].store(host.driver->stop());
      });
    }
    starter.join();
    for (std::thread& stopper : stoppers) stopper.join();
    EXPECT_TRUE(OneOf(started.load(), {ASE_OK}));
    EXPECT_TRUE(OneOf(stopped[0].load(), {ASE_OK}));
    EXPECT_TRUE(OneOf(stopped[1].load(), {ASE_OK}));
    // Whichever came last, the driver is in a state from which it streams again.
    if (rep % 10 == 0) {
      EXPECT_TRUE(OneOf(host.driver->stop(), {ASE_OK}));
      const uint64_t before = host.switches.load();
      EXPECT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
      EXPECT_GE(host.switches.load(), before + 2) << "start returned before two buffer switches";
    }
    EXPECT_TRUE(OneOf(host.driver->stop(), {ASE_OK}));
    ASSERT_EQ(DeviceFilesOpen(), 0u) << "repetition " << rep;
  }
  Close(host);
}

// Every set-up, transport and query call, in random order from three threads at once.
TEST_F(ConcurrencyTest, AnyCallsInAnyOrderFromThreeThreads) {
  TestHost host;
  ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2));
  const int calls = Repetitions(600);
  std::vector<std::vector<int>> plans(3);
  for (std::vector<int>& plan : plans) {
    for (int i = 0; i < 2 * calls; ++i) plan.push_back(RandomBelow(1000000));
  }
  std::atomic<int> done{0};
  auto run = [&](const std::vector<int>& plan) {
    for (int i = 0; i < calls; ++i) {
      const int choice = plan[2 * i] % 9;
      std::this_thread::sleep_for(std::chrono::microseconds(plan[2 * i + 1] % 1500));
      IASIO* driver = host.driver;
      switch (choice) {
        case 0:
          EXPECT_TRUE(OneOf(driver->start(), {ASE_OK, ASE_NotPresent})) << "start";
          break;
        case 1:
          EXPECT_TRUE(OneOf(driver->stop(), {ASE_OK})) << "stop";
          break;
        case 2:
          EXPECT_TRUE(OneOf(driver->disposeBuffers(), {ASE_OK})) << "disposeBuffers";
          break;
        case 3: {
          // Each thread hands in records of its own; the host's pointers are its own matter.
          ASIOBufferInfo infos[3] = {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}};
          const int32_t size = 64 << (plan[2 * i + 1] % 3);
          EXPECT_TRUE(OneOf(driver->createBuffers(infos, 3, size, &host.callbacks), {ASE_OK}))
              << "createBuffers";
          break;
        }
        case 4:
          EXPECT_TRUE(OneOf(driver->setSampleRate(plan[2 * i] % 2 ? 44100.0 : 48000.0), {ASE_OK}))
              << "setSampleRate";
          break;
        case 5:
          EXPECT_EQ(driver->init(nullptr), ASIOTrue);
          break;
        case 6: {
          ASIOSamples position{};
          ASIOTimeStamp stamp{};
          EXPECT_TRUE(OneOf(driver->getSamplePosition(&position, &stamp), {ASE_OK}));
          ASIOSampleRate rate = 0;
          EXPECT_TRUE(OneOf(driver->getSampleRate(&rate), {ASE_OK}));
          EXPECT_TRUE(rate == 44100.0 || rate == 48000.0) << rate;
          break;
        }
        case 7: {
          ASIOChannelInfo info{};
          info.channel = plan[2 * i + 1] % 2;
          info.isInput = plan[2 * i] % 2;
          EXPECT_TRUE(OneOf(driver->getChannelInfo(&info), {ASE_OK}));
          EXPECT_EQ(info.type, ASIOSTInt32LSB);
          break;
        }
        default: {
          int32_t input = 0, output = 0;
          EXPECT_TRUE(OneOf(driver->getLatencies(&input, &output), {ASE_OK}));
          EXPECT_TRUE(input == 64 || input == 128 || input == 256) << input;
          char text[128] = {};
          driver->getErrorMessage(text);
          // Whole texts only: the one init left, or the one a start without buffers left.
          const std::string message = text;
          EXPECT_TRUE(message == "ASIO OK" || message == "Buffers must be created before start.")
              << message;
          break;
        }
      }
      if (i % 16 == 0) watchdog.Kick("call " + std::to_string(i));
    }
    done.fetch_add(1);
  };
  std::thread threads[3] = {std::thread(run, std::cref(plans[0])),
                            std::thread(run, std::cref(plans[1])),
                            std::thread(run, std::cref(plans[2]))};
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(done.load(), 3);
  Close(host);
}

TEST_F(ConcurrencyTest, ReleaseWhileStreamingWithoutStopEndsEverything) {
  for (int rep = 0; rep < Repetitions(80); ++rep) {
    watchdog.Kick("repetition " + std::to_string(rep));
    TestHost host;
    ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2, 64 << (rep % 3)));
    ASSERT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
    RandomPause(5000);
    EXPECT_EQ(host.driver->Release(), 0u);
    ExpectAllReleased("after repetition " + std::to_string(rep));
  }
}

// The device's streaming pins take one instance each: the capture pin decides which driver
// object streams, and the other's start fails without holding anything of the device.
TEST_F(ConcurrencyTest, TwoDriverObjectsTakeTheDeviceInTurn) {
  TestHost first(0), second(1);
  ASSERT_NO_FATAL_FAILURE(Prepare(first, 2, 2));
  ASSERT_NO_FATAL_FAILURE(Prepare(second, 2, 2));
  ASSERT_TRUE(OneOf(first.driver->start(), {ASE_OK}));
  EXPECT_TRUE(OneOf(second.driver->start(), {ASE_NotPresent}));
  const uint64_t streamed = first.switches.load();
  EXPECT_TRUE(WaitForSwitches(first, streamed + 4)) << "the first object stopped streaming";
  EXPECT_TRUE(OneOf(first.driver->stop(), {ASE_OK}));
  EXPECT_TRUE(OneOf(second.driver->start(), {ASE_OK})) << "the device is free again";
  EXPECT_TRUE(OneOf(second.driver->stop(), {ASE_OK}));

  for (int rep = 0; rep < Repetitions(120); ++rep) {
    watchdog.Kick("repetition " + std::to_string(rep));
    const int delay = RandomBelow(1500);
    std::atomic<ASIOError> results[2] = {{ASE_HWMalfunction}, {ASE_HWMalfunction}};
    std::thread other([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(delay));
      results[1].store(second.driver->start());
    });
    results[0].store(first.driver->start());
    other.join();
    ASSERT_TRUE(OneOf(results[0].load(), {ASE_OK, ASE_NotPresent}));
    ASSERT_TRUE(OneOf(results[1].load(), {ASE_OK, ASE_NotPresent}));
    EXPECT_NE(results[0].load() == ASE_OK, results[1].load() == ASE_OK)
        << "exactly one of the two streams, repetition " << rep;
    std::thread stopOther([&] { EXPECT_TRUE(OneOf(second.driver->stop(), {ASE_OK})); });
    EXPECT_TRUE(OneOf(first.driver->stop(), {ASE_OK}));
    stopOther.join();
    ASSERT_EQ(DeviceFilesOpen(), 0u) << "repetition " << rep;
  }
  Close(first);
  Close(second);
}

// A new rate is reported at once, never announced back to the host that set it; the running pins
// keep theirs until the next start, which streams at the new rate.
TEST_F(ConcurrencyTest, RateChangesWhileStreamingTakeEffectAtTheNextStart) {
  TestHost host;
  ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2));
  ASSERT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
  const int changes = Repetitions(60);
  std::thread changer([&] {
    for (int i = 0; i < changes; ++i) {
      EXPECT_TRUE(OneOf(host.driver->setSampleRate(i % 2 == 0 ? 44100.0 : 48000.0), {ASE_OK}));
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  });
  changer.join();
  EXPECT_EQ(host.rateChanges.load(), 0);
  const uint64_t now = host.switches.load();
  EXPECT_TRUE(WaitForSwitches(host, now + 2)) << "the stream ended";
  ASSERT_TRUE(OneOf(host.driver->setSampleRate(96000.0), {ASE_OK}));
  EXPECT_TRUE(OneOf(host.driver->stop(), {ASE_OK}));
  ASSERT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
  EXPECT_EQ(host.rateInTimeInfo.load(), 96000.0);
  Close(host);
}

// controlPanel waits for the user while the stream goes on; a stop from another thread closes
// the panel and so ends the wait.
TEST_F(ConcurrencyTest, AControlPanelThatWaitsWhileStreamingIsClosedByStop) {
  TestHost host;
  ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2));
  for (int rep = 0; rep < Repetitions(24); ++rep) {
    watchdog.Kick("repetition " + std::to_string(rep));
    ASSERT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
    std::atomic<bool> returned{false};
    std::thread panel([&] {
      EXPECT_TRUE(OneOf(host.driver->controlPanel(), {ASE_OK}));
      returned.store(true);
    });
    const uint64_t now = host.switches.load();
    EXPECT_TRUE(WaitForSwitches(host, now + 4)) << "the stream stalled with the panel";
    RandomPause(5000);
    // A stop that came before the panel had opened closes nothing: stop again until it has.
    do {
      EXPECT_TRUE(OneOf(host.driver->stop(), {ASE_OK}));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (!returned.load());
    panel.join();
  }
  Close(host);
}

// A host callback that takes three buffer periods: the stream falls behind, and stop still
// ends it once the callback has returned.
TEST_F(ConcurrencyTest, ACallbackSlowerThanTheBufferPeriodStillLetsStopReturn) {
  TestHost host;
  ASSERT_NO_FATAL_FAILURE(Prepare(host, 2, 2));
  host.onSwitch = [](uint64_t) { std::this_thread::sleep_for(std::chrono::microseconds(4000)); };
  for (int rep = 0; rep < Repetitions(24); ++rep) {
    watchdog.Kick("repetition " + std::to_string(rep));
    ASSERT_TRUE(OneOf(host.driver->start(), {ASE_OK}));
    const uint64_t now = host.switches.load();
    EXPECT_TRUE(WaitForSwitches(host, now + 1 + static_cast<uint64_t>(RandomBelow(4))));
    EXPECT_TRUE(OneOf(host.driver->stop(), {ASE_OK}));
    ASSERT_EQ(DeviceFilesOpen(), 0u);
  }
  Close(host);
}

}  // namespace
}  // namespace kx7test

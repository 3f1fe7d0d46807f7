// A driver streaming against a plugged virtual KX-7 on the stepped clock, in the layout the test
// is instantiated with. The test thread moves the device from one completion to the next and
// waits until the streaming thread has answered each, so every buffer switch happens at a known
// moment of the device clock, whatever the timing profile.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "driver/DriverFixture.h"
#include "platform/emu/test_hooks.h"
#include "product/Kx7Facts.h"
#include "support/DeviceStepping.h"
#include "virtual_device/VirtualKsDevice.h"

namespace vkx7 {
// Layouts by name in the test listings.
inline void PrintTo(Kx7Layout layout, std::ostream* out) {
  *out << (layout == Kx7Layout::TwoFilter ? "two filters" : "one filter");
}
}  // namespace vkx7

namespace kx7test {

// What the host saw at one buffer switch.
struct SwitchRecord {
  int32_t index = 0;
  ASIOSamples position{};
  ASIOTimeStamp stamp{};
  bool viaTimeInfo = false;
  uint32_t flagsSeen = 0;
  double rateSeen = 0.0;      // ASIOTime's sample rate (time-info callbacks)
  double rateReported = 0.0;  // getSampleRate inside the callback
  std::vector<int32_t> inputs[2];
};

// A host that records every buffer switch and fills its output halves from `output`.
struct StreamingHost {
  static inline StreamingHost* current = nullptr;
  IASIO* driver = nullptr;
  int32_t bufferSize = 0;
  ASIOBufferInfo infos[4] = {};
  int infoCount = 0;
  ASIOCallbacks callbacks{};
  bool answerTimeInfo = false;
  std::vector<SwitchRecord> switches;
  // Switches so far, for threads that must not read `switches` while the streaming thread writes.
  std::atomic<unsigned> switchCount{0};
  // The sample a host writes at buffer switch k into output channel c, frame f.
  std::function<int32_t(int k, int c, int f)> output = [](int, int, int) { return 0; };
  std::function<void()> insideCallback;

  StreamingHost() {
    current = this;
    switches.reserve(4096);
    callbacks.bufferSwitch = [](int32_t index, ASIOBool) { current->OnSwitch(index, nullptr); };
    callbacks.bufferSwitchTimeInfo = [](ASIOTime* time, int32_t index, ASIOBool) {
      current->OnSwitch(index, time);
      return time;
    };
    callbacks.asioMessage = [](int32_t selector, int32_t, void*, double*) -> int32_t {
      return selector == kAsioSupportsTimeInfo && current->answerTimeInfo ? 1 : 0;
    };
    callbacks.sampleRateDidChange = [](ASIOSampleRate) {};
  }
  ~StreamingHost() { current = nullptr; }

  void OnSwitch(int32_t index, ASIOTime* time) {
    SwitchRecord record;
    record.index = index;
    record.viaTimeInfo = time != nullptr;
    driver->getSamplePosition(&record.position, &record.stamp);
    driver->getSampleRate(&record.rateReported);
    if (time != nullptr) {
      record.rateSeen = time->timeInfo.sampleRate;
      record.flagsSeen = time->timeInfo.flags;
      record.position = time->timeInfo.samplePosition;
      record.stamp = time->timeInfo.systemTime;
    }
    const int k = static_cast<int>(switches.size());
    for (int i = 0; i < infoCount; ++i) {
      auto* half = static_cast<int32_t*>(infos[i].buffers[index]);
      if (infos[i].isInput != 0) {
        record.inputs[infos[i].channelNum].assign(half, half + bufferSize);
      } else {
        for (int f = 0; f < bufferSize; ++f) half[f] = output(k, infos[i].channelNum, f);
      }
    }
    switches.push_back(std::move(record));
    switchCount.fetch_add(1);
    if (insideCallback) insideCallback();
  }
};

template <typename Predicate>
bool WaitUntil(Predicate predicate, int milliseconds = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

class StreamingTest : public DriverTest, public ::testing::WithParamInterface<vkx7::Kx7Layout> {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    device.Plug();
    emu_test::FreezeTime(5000);  // the start handshake then waits for the packets, not the clock
    host.driver = &*driver;
  }
  void TearDown() override {
    // The device keeps running while the driver is released, so a streaming thread waiting for
    // a packet sees the stop at once.
    auto released = std::async(std::launch::async, [this] { driver.Reset(); });
    while (released.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
      device.Step(1);
    }
    emu_test::UnfreezeTime();
    DriverTest::TearDown();
  }

  // init and createBuffers for both inputs and `outputs` outputs.
  void Prepare(int32_t bufferSize, int outputs = 2) {
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    host.bufferSize = bufferSize;
    host.infoCount = 0;
    for (int c = 0; c < 2; ++c) host.infos[host.infoCount++] = {ASIOTrue, c, {nullptr, nullptr}};
    for (int c = 0; c < outputs; ++c) {
      host.infos[host.infoCount++] = {ASIOFalse, c, {nullptr, nullptr}};
    }
    ASSERT_EQ(driver->createBuffers(host.infos, host.infoCount, bufferSize, &host.callbacks),
              ASE_OK);
  }

  // Both pins run (render first, then capture) with their packets queued, and start has named
  // the streaming thread (which the stepping waits for): the thread may get there first.
  bool PinsReady() {
    return Internals(*driver).streamThreadId.load() != 0 &&
           device.PinState(vkx7::Direction::Render) == KSSTATE_RUN &&
           device.PinState(vkx7::Direction::Capture) == KSSTATE_RUN &&
           device.QueuedWrites() == kx7::StreamPacketsFor(static_cast<uint32_t>(host.bufferSize));
  }

  // One packet of device time, each completion in it answered by the streaming loop.
  bool StepPacket() {
    return StepFrames(device, vkx7::kPacketFrames,
                      [this] { return Internals(*driver).streamThreadId.load(); });
  }
  bool StepPackets(unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
      if (!StepPacket()) return false;
    }
    return true;
  }
  unsigned PacketsPerHalf() const { return static_cast<unsigned>(host.bufferSize) / 64; }
  // Packets the start handshake may take before a test gives up stepping.
  static constexpr unsigned kStartPacketBound = 400;

  // start, with the device stepped through the two buffer switches it waits for.
  ASIOError Start() {
    const unsigned before = host.switchCount.load();
    auto started = std::async(std::launch::async, [this] { return driver->start(); });
    if (!WaitUntil([&] {
          return PinsReady() ||
                 started.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        })) {
      ADD_FAILURE() << "the pins never ran";
    }
    // Two buffer switches: two halves of the ideal device, more where completions come later.
    for (unsigned packet = 0;
         packet < kStartPacketBound && host.switchCount.load() < before + 2 &&
         started.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
         ++packet) {
      if (!StepPacket()) break;
    }
    return started.get();
  }

  // Steps until `cycles` buffer switches have happened since the start.
  void RunCycles(unsigned cycles) {
    while (host.switches.size() < cycles) ASSERT_TRUE(StepPacket());
  }

  vkx7::VirtualKx7 device{GetParam()};
  StreamingHost host;
  DriverHandle driver;
};

// Names the instantiations of a streaming suite after the layout.
inline std::string LayoutName(const ::testing::TestParamInfo<vkx7::Kx7Layout>& info) {
  switch (info.param) {
    case vkx7::Kx7Layout::UsbAudio:
      return "UsbAudio";
    case vkx7::Kx7Layout::TwoFilter:
      return "TwoFilter";
    case vkx7::Kx7Layout::UsbAudio2:
      return "UsbAudio2";
  }
  return "Layout";
}

// The layouts a driver streams through: the class driver's single filter and the two filters.
#define KX7_STREAMING_LAYOUTS \
  ::testing::Values(vkx7::Kx7Layout::UsbAudio, vkx7::Kx7Layout::TwoFilter), kx7test::LayoutName

}  // namespace kx7test

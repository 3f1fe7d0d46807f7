// The streaming driver when the device misbehaves: lost or refused capture packets,
// a stalled or removed device, refused formats, a missing filter, and hosts that stop from odd
// places or from several threads.
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>

#include "driver/StreamingFixture.h"

namespace kx7test {
namespace {

// A device that refuses its reads, or fails its requests as a pulled cable does, is lost: the
// host's buffer switches go on at the buffer period with silence in, and it is told why, instead
// of a transport that freezes without a word.
// A callback stop gave up on keeps the host's blocks it uses: disposeBuffers and a new
// createBuffers drop only the driver's reference, and the old blocks go once it has returned.
TEST_P(StreamingTest, TheBlocksOfACallbackLetGoGoOnlyOnceItHasReturned) {
  Prepare(64);
  std::atomic<bool> stuck{false};
  const HANDLE letGo = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  host.insideCallback = [&] {
    if (host.switchCount.load() != 5) return;
    stuck.store(true);
    // In finite waits, so the test's stepping sees the thread idle meanwhile.
    while (WaitForSingleObject(letGo, 50) == WAIT_TIMEOUT) {
    }
  };
  ASSERT_EQ(Start(), ASE_OK);
  while (!stuck.load()) ASSERT_TRUE(StepPacket());
  // The stop's bound runs on the system clock.
  emu_test::UnfreezeTime();
  EXPECT_EQ(driver->stop(), ASE_OK);
  const std::weak_ptr<CHostBuffers> old = Internals(*driver).HostBuffers();
  ASSERT_EQ(driver->disposeBuffers(), ASE_OK);
  Prepare(128);
  EXPECT_NE(Internals(*driver).HostBuffers(), old.lock());
  EXPECT_FALSE(old.expired()) << "the callback still uses its blocks";
  EXPECT_EQ(old.use_count(), 1) << "only the run that was let go holds them";
  SetEvent(letGo);
  // The run ends once its pins have stopped, on the device's time.
  EXPECT_TRUE(WaitUntil([&] {
    device.Step(1);
    return old.expired();
  }));
  host.insideCallback = nullptr;
  CloseHandle(letGo);
}

TEST_P(StreamingTest, ALostDeviceKeepsTheHostsClockRunningWithSilence) {
  device.SetMicrophone(vkx7::MicrophoneSource::Tone(1000.0, 0.5));
  Prepare(128);
  ASSERT_EQ(Start(), ASE_OK);
  RunCycles(6);
  if (GetParam() == vkx7::Kx7Layout::UsbAudio) {
    device.Unplug();
  } else {
    device.RejectReads(vkx7::kForever, ERROR_DEVICE_NOT_CONNECTED);
  }
  ASSERT_TRUE(StepPacket());
  char text[128] = {};
  driver->getErrorMessage(text);
  EXPECT_STREQ(text, "NORVA KX-7 was disconnected.");
  // The silence clock follows the system clock, which the fixture holds still until now.
  emu_test::UnfreezeTime();
  const unsigned lostAt = host.switchCount.load();
  ASSERT_TRUE(WaitUntil([&] { return host.switchCount.load() >= lostAt + 8; }));
  EXPECT_EQ(driver->stop(), ASE_OK);
  for (size_t k = lostAt + 1; k < host.switches.size(); ++k) {
    for (int32_t sample : host.switches[k].inputs[0]) ASSERT_EQ(sample, 0) << "switch " << k;
    EXPECT_EQ(host.switches[k].position.lo - host.switches[k - 1].position.lo, 128u)
        << "the sample position goes on without a gap";
  }
  EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
  device.RejectReads(0);
}

// The frames of a lost capture packet are silence: never last round's samples, which the half
// still holds as the host's integers and which read as floats would reach full scale.
TEST_P(StreamingTest, ALostCapturePacketIsSilenceInItsPlace) {
  device.SetMicrophone(vkx7::MicrophoneSource::Tone(1000.0, 0.5));
  Prepare(128);
  ASSERT_EQ(Start(), ASE_OK);
  RunCycles(8);
  device.WithholdCapturePackets(1);
  RunCycles(20);
  ASSERT_GE(Internals(*driver).dropOutCount.load(), 1u);
  const double bound = 0.51 * 2147483648.0;
  int silent = 0;
  for (size_t k = 8; k < host.switches.size(); ++k) {
    for (int32_t sample : host.switches[k].inputs[0]) {
      ASSERT_LE(std::abs(static_cast<double>(sample)), bound) << "switch " << k;
      silent += sample == 0 ? 1 : 0;
    }
  }
  EXPECT_GE(silent, 64) << "the lost packet's frames are zeros";
  EXPECT_EQ(driver->stop(), ASE_OK);
}

TEST_P(StreamingTest, StartWhileRunningChangesNothing) {
  Prepare(64);
  ASSERT_EQ(Start(), ASE_OK);
  const DWORD thread = Internals(*driver).streamThreadId.load();
  auto* const pin = Internals(*driver).RenderPin();
  EXPECT_EQ(driver->start(), ASE_OK);
  EXPECT_EQ(Internals(*driver).streamThreadId.load(), thread);
  EXPECT_EQ(Internals(*driver).RenderPin(), pin);
  RunCycles(4);
  EXPECT_EQ(driver->stop(), ASE_OK);
}

TEST_P(StreamingTest, StopFromInsideTheCallbackEndsTheThreadAndTheNextStopReleases) {
  Prepare(64);
  ASSERT_EQ(Start(), ASE_OK);
  std::atomic<int> answer{1};
  host.insideCallback = [&] {
    if (host.switches.size() == 4) answer = driver->stop();
  };
  RunCycles(4);
  EXPECT_EQ(answer.load(), ASE_OK);
  EXPECT_EQ(driver->disposeBuffers(), ASE_OK) << "from the host's thread, it stops and frees";
  EXPECT_FALSE(Internals(*driver).HasStream());
  EXPECT_EQ(host.switches.size(), 4u);
}

TEST_P(StreamingTest, AfterAStopFromInsideTheCallbackTheHostsStartStreamsAgain) {
  Prepare(64);
  ASSERT_EQ(Start(), ASE_OK);
  host.insideCallback = [&] {
    if (host.switches.size() == 3) driver->stop();
  };
  RunCycles(3);
  host.insideCallback = nullptr;
  // The ended thread sees the stop at its next packet and stops its pins.
  device.Step(1);
  ASSERT_TRUE(
      WaitUntil([this] { return device.PinState(vkx7::Direction::Render) != KSSTATE_RUN; }));
  EXPECT_EQ(Start(), ASE_OK);
  EXPECT_EQ(host.switches.size(), 5u) << "the new stream's two switches";
  RunCycles(7);
  EXPECT_EQ(driver->stop(), ASE_OK);
}

// A stop that waits on another thread for a callback to return holds the transport lock; the
// last Release, coming meanwhile, waits for it before it frees anything.
TEST_P(StreamingTest, ReleaseWaitsForAStopStillRunningOnAnotherThread) {
  Prepare(64);
  ASSERT_EQ(Start(), ASE_OK);
  const HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> inCallback{false};
  std::atomic<bool> gateOpened{false};
  host.insideCallback = [&] {
    inCallback.store(true);
    WaitForSingleObject(gate, 20000);
  };
  // The thread counts as settled while it waits at the gate.
  for (int packet = 0; packet < 64 && !inCallback.load(); ++packet) ASSERT_TRUE(StepPacket());
  ASSERT_TRUE(inCallback.load());
  std::atomic<ASIOError> stopped{ASE_HWMalfunction};
  // Called past the vtable: the test's subclass makes the destructor change the vtable pointer,
  // which the driver object that hosts create never does.
  std::thread stopper([&] { stopped.store(driver->CAsioDriver::stop()); });
  ASSERT_TRUE(WaitUntil([&] { return Internals(*driver).transportOwner.load() != 0; }));
  std::atomic<bool> releasedBeforeGate{true};
  std::thread releaser([&] {
    driver.Reset();
    releasedBeforeGate.store(!gateOpened.load());
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the release is waiting by now
  gateOpened.store(true);
  SetEvent(gate);
  stopper.join();
  releaser.join();
  CloseHandle(gate);
  EXPECT_EQ(stopped.load(), ASE_OK);
  EXPECT_FALSE(releasedBeforeGate.load());
  EXPECT_EQ(device.PinState(vkx7::Direction::Render), -1);
}

// A host may start without init; a later init must not open the device again under the pins of
// the running stream.
TEST_P(StreamingTest, InitWhileStreamingLeavesThePinsToTheStream) {
  host.bufferSize = 64;
  host.infos[0] = {ASIOTrue, 0, {nullptr, nullptr}};
  host.infoCount = 1;
  ASSERT_EQ(driver->createBuffers(host.infos, 1, 64, &host.callbacks), ASE_OK);
  ASSERT_EQ(Start(), ASE_OK);
  EXPECT_EQ(driver->init(nullptr), ASIOTrue);
  char text[128] = {};
  driver->getErrorMessage(text);
  EXPECT_STREQ(text, "ASIO OK");
  EXPECT_TRUE(PinsReady());
  RunCycles(6);
  EXPECT_EQ(driver->stop(), ASE_OK);
}

TEST_P(StreamingTest, PlainPcmIsTriedWhenTheDeviceRefusesTheExtensibleFormat) {
  device.RefuseExtensibleFormat(true);
  Prepare(64);
  if (GetParam() == vkx7::Kx7Layout::UsbAudio) {
    // The class driver takes 24 bits only in the extensible format: nothing is left to try.
    EXPECT_EQ(Start(), ASE_NotPresent);
    char error[128];
    driver->getErrorMessage(error);
    EXPECT_STREQ(error, "NORVA KX-7 refused 24-bit audio at 48000 Hz.");
    return;
  }
  ASSERT_EQ(Start(), ASE_OK);
  std::vector<WORD> tags[2];
  for (const vkx7::ConnectRecord& connect : device.Record().connects) {
    WORD tag = 0;
    std::memcpy(&tag, connect.connect.data() + sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT),
                sizeof tag);
    tags[connect.filter].push_back(tag);
    if (tag == WAVE_FORMAT_EXTENSIBLE) {
      EXPECT_NE(connect.result, 0u);
    }
  }
  for (const auto& filterTags : tags) {
    ASSERT_FALSE(filterTags.empty());
    EXPECT_EQ(filterTags.back(), WAVE_FORMAT_PCM);
  }
  RunCycles(3);
}

TEST_P(StreamingTest, RemovalWhileStreamingNeitherCrashesNorHangsStop) {
  Prepare(128);
  ASSERT_EQ(Start(), ASE_OK);
  RunCycles(4);
  device.Unplug();
  EXPECT_EQ(driver->stop(), ASE_OK);
  EXPECT_FALSE(Internals(*driver).HasStream());
  EXPECT_EQ(driver->start(), ASE_NotPresent) << "the device is gone";
  device.Plug();
  EXPECT_EQ(Start(), ASE_OK) << "and back";
  RunCycles(host.switches.size() + 2);
}

TEST_P(StreamingTest, StopWhileTheDeviceIsStalledReturns) {
  Prepare(64);
  ASSERT_EQ(Start(), ASE_OK);
  device.StallRender(true);
  device.Step(3);
  EXPECT_EQ(driver->stop(), ASE_OK);
  EXPECT_FALSE(Internals(*driver).HasStream());
  device.StallRender(false);
}

TEST_P(StreamingTest, ADeviceThatNeverCompletesFailsTheStartHandshake) {
  emu_test::UnfreezeTime();
  device.StallRender(true);
  Prepare(64);
  EXPECT_EQ(driver->start(), ASE_HWMalfunction);
  EXPECT_FALSE(Internals(*driver).running.load());
  EXPECT_FALSE(Internals(*driver).HasStream());
  EXPECT_TRUE(host.switches.empty());
  EXPECT_EQ(driver->stop(), ASE_OK);
}

TEST_P(StreamingTest, StartAndStopLoopsWithPositionReadsFromAnotherThread) {
  emu_test::UnfreezeTime();
  device.UseRealTimeClock();
  Prepare(64);
  std::atomic<bool> done{false};
  std::thread reader([&] {
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    while (!done.load()) {
      driver->getSamplePosition(&position, &stamp);
      EXPECT_EQ(position.lo % 64, 0u);
      std::this_thread::yield();
    }
  });
  for (int run = 0; run < 5; ++run) {
    ASSERT_EQ(driver->start(), ASE_OK) << run;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(driver->stop(), ASE_OK);
  }
  done = true;
  reader.join();
  EXPECT_GE(host.switches.size(), 10u);
}

// A KX-7 that shows only its render filter.
vkx7::DeviceDescription RenderFilterOnly() {
  vkx7::DeviceDescription description = vkx7::Kx7Description(vkx7::Kx7Layout::TwoFilter);
  description.filters.erase(description.filters.begin() + vkx7::kCaptureFilter);
  return description;
}

TEST_F(DriverTest, OneMissingFilterMeansHardwareNotFound) {
  vkx7::VirtualKsDevice device(RenderFilterOnly());
  device.Plug();
  DriverHandle driver;
  EXPECT_EQ(driver->init(nullptr), ASIOFalse);
  HostRecorder host;
  ASIOBufferInfo info{ASIOFalse, 0, {nullptr, nullptr}};
  ASSERT_EQ(driver->createBuffers(&info, 1, 128, &host.callbacks), ASE_OK);
  EXPECT_EQ(driver->start(), ASE_NotPresent);
  char error[124];
  driver->getErrorMessage(error);
  EXPECT_STREQ(error, "NORVA KX-7 hardware not found.");
}

}  // namespace
}  // namespace kx7test

// The virtual KX-7's life in a run, as a client of the KS calls sees it on the stepped clock:
// removal and return, sleep and resume, reads that come back empty, pins another application
// takes between runs, and a loopback line that forgets a stopped stream.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../ks/Kx7Fixture.h"
#include "product/Kx7Facts.h"
#include "virtual_device/Kx7Scenarios.h"

namespace kx7test {
namespace {

using vkx7::Direction;
using vkx7::Kx7Scenario;

constexpr ULONG kRate = 48000;
constexpr ULONG kRenderBytes = kx7::kRenderPacketBytes;
constexpr ULONG kCaptureBytes = kx7::kCapturePacketBytes;
constexpr size_t kRing = 4;
// The run the scenarios are timed against: 150 packets, the trigger a third of the way in.
constexpr uint64_t kRunFrames = 150 * vkx7::kPacketFrames;
constexpr uint64_t kTrigger = kRunFrames / 3;
constexpr uint64_t kSecond = kRate;

// One completion a client saw: when, how, and with how many bytes.
struct Seen {
  uint64_t frame = 0;
  bool write = false;
  DWORD error = 0;
  ULONG dataUsed = 0;
};

// A client of both streaming pins that keeps four reads and four writes queued, re-queueing each
// as it completes, the way the driver's streams do.
class DeviceLifeTest : public ::testing::Test {
 protected:
  void SetUp() override { handlesBefore_ = vk::OpenHandleCount(); }
  void TearDown() override {
    ClosePins();
    device.reset();
    EXPECT_EQ(vk::OpenHandleCount(), handlesBefore_) << "a virtual kernel handle was left open";
  }

  void Make(std::vector<Kx7Scenario> scenarios, const vkx7::LifeTiming& timing) {
    device = std::make_unique<vkx7::VirtualKx7>(vkx7::LayoutOf(scenarios));
    for (Kx7Scenario scenario : scenarios) vkx7::ApplyScenario(*device, scenario, timing);
    device->Plug();
  }

  // Opens the filter and creates the pin of a direction; the error of the creation.
  DWORD CreatePin(Direction direction, HANDLE* pin) {
    const vkx7::PinLocation where = vkx7::Kx7StreamingPin(device->Layout(), direction);
    *pin = INVALID_HANDLE_VALUE;
    HANDLE filter =
        CreateFileA(device->FilterPath(where.filter).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (filter == INVALID_HANDLE_VALUE) return GetLastError();
    const WAVEFORMATEXTENSIBLE format =
        ExtensibleFormat(direction == Direction::Capture ? 1 : 2, kRate);
    std::vector<BYTE> record(sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + sizeof format);
    KSPIN_CONNECT connect = {};
    connect.Interface = vkx7::StandardInterface();
    connect.Medium = vkx7::StandardMedium();
    connect.PinId = where.pinId;
    connect.Priority.PriorityClass = KSPRIORITY_NORMAL;
    connect.Priority.PrioritySubClass = 1;
    KSDATAFORMAT dataFormat = {};
    dataFormat.FormatSize = sizeof dataFormat + sizeof format;
    dataFormat.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    dataFormat.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    dataFormat.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    std::memcpy(record.data(), &connect, sizeof connect);
    std::memcpy(record.data() + sizeof connect, &dataFormat, sizeof dataFormat);
    std::memcpy(record.data() + sizeof connect + sizeof dataFormat, &format, sizeof format);
    const DWORD error = VkKsCreatePin(filter, reinterpret_cast<PKSPIN_CONNECT>(record.data()),
                                      GENERIC_READ | GENERIC_WRITE, pin);
    CloseHandle(filter);  // the pin keeps what it needs
    if (error != ERROR_SUCCESS) *pin = INVALID_HANDLE_VALUE;
    return error;
  }

  static DWORD SetState(HANDLE pin, KSSTATE state) {
    KSPROPERTY property = {KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE,
                           KSPROPERTY_TYPE_SET};
    ULONG value = state;
    DWORD count = 0;
    return DeviceIoControl(pin, IOCTL_KS_PROPERTY, &property, sizeof property, &value, sizeof value,
                           &count, nullptr)
               ? ERROR_SUCCESS
               : GetLastError();
  }

  // Both pins created, running, with their rings queued. The run starts here.
  void StartPins() {
    ASSERT_EQ(CreatePin(Direction::Capture, &capturePin), 0u);
    ASSERT_EQ(CreatePin(Direction::Render, &renderPin), 0u);
    reads.clear();
    writes.clear();
    for (size_t i = 0; i < kRing; ++i) {
      reads.push_back(std::make_unique<TestPacket>(kCaptureBytes, false));
      writes.push_back(std::make_unique<TestPacket>(kRenderBytes, true));
    }
    ASSERT_EQ(SetState(renderPin, KSSTATE_RUN), 0u);
    ASSERT_EQ(SetState(capturePin, KSSTATE_RUN), 0u);
    for (size_t i = 0; i < kRing; ++i) {
      EXPECT_EQ(Queue(*reads[i], false), static_cast<DWORD>(ERROR_IO_PENDING));
      EXPECT_EQ(Queue(*writes[i], true), static_cast<DWORD>(ERROR_IO_PENDING));
    }
  }

  void ClosePins() {
    for (HANDLE* pin : {&capturePin, &renderPin}) {
      if (*pin != INVALID_HANDLE_VALUE) CloseHandle(*pin);
      *pin = INVALID_HANDLE_VALUE;
    }
  }

  // Sends one stream request: ERROR_IO_PENDING, ERROR_SUCCESS when done at once, or the error.
  DWORD Queue(TestPacket& packet, bool write) {
    packet.header.DataUsed = write ? kRenderBytes : 0;
    packet.header.OptionsFlags = 0;
    DWORD count = 0;
    const BOOL done = DeviceIoControl(
        write ? renderPin : capturePin, write ? IOCTL_KS_WRITE_STREAM : IOCTL_KS_READ_STREAM,
        nullptr, 0, &packet.header, sizeof packet.header, &count, &packet.overlapped);
    return done ? static_cast<DWORD>(ERROR_SUCCESS) : GetLastError();
  }

  // Moves the clock `frames` on, completion by completion, re-queueing each completed request
  // as long as the device takes it. What was seen is appended to `seen`; refused re-queues to
  // `refused`.
  void Pump(uint64_t frames) {
    const uint64_t end = device->FramesElapsed() + frames;
    while (device->FramesElapsed() < end) {
      device->StepToNextCompletion(end - device->FramesElapsed());
      for (bool write : {false, true}) {
        for (auto& packet : write ? writes : reads) {
          if (!packet->Done()) continue;
          DWORD bytes = 0;
          const BOOL ok = GetOverlappedResult(write ? renderPin : capturePin, &packet->overlapped,
                                              &bytes, FALSE);
          seen.push_back({device->FramesElapsed(), write,
                          ok ? static_cast<DWORD>(ERROR_SUCCESS) : GetLastError(),
                          packet->header.DataUsed});
          const DWORD again = Queue(*packet, write);
          if (again != ERROR_IO_PENDING && again != ERROR_SUCCESS) refused.push_back(again);
          if (again == ERROR_SUCCESS) packet->Done();  // taken back at once: not seen again
        }
      }
    }
  }

  // The completions seen between two frames (from included, to excluded).
  std::vector<Seen> Between(uint64_t from, uint64_t to) const {
    std::vector<Seen> found;
    for (const Seen& each : seen) {
      if (each.frame >= from && each.frame < to) found.push_back(each);
    }
    return found;
  }

  // Opening the path of an interface that is gone (Windows names it either way).
  static bool NotFound(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }

  static bool AllSucceeded(const std::vector<Seen>& list) {
    return std::all_of(list.begin(), list.end(), [](const Seen& s) { return s.error == 0; });
  }

  // How many KX-7 filters enumeration lists in the audio category.
  static int ListedAudioInterfaces() {
    HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return -1;
    int count = 0;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    while (SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, count, &data)) ++count;
    SetupDiDestroyDeviceInfoList(set);
    return count;
  }

  std::vector<std::string> LifeEventNames() const {
    std::vector<std::string> names;
    for (const vkx7::LifeEvent& event : device->LifeEvents()) names.push_back(event.what);
    return names;
  }

  std::unique_ptr<vkx7::VirtualKx7> device;
  HANDLE capturePin = INVALID_HANDLE_VALUE;
  HANDLE renderPin = INVALID_HANDLE_VALUE;
  std::vector<std::unique_ptr<TestPacket>> reads, writes;
  std::vector<Seen> seen;
  std::vector<DWORD> refused;

 private:
  size_t handlesBefore_ = 0;
};

TEST(LifeTiming, ThirdOfTheRunInSecondsOrFramesAndExactFrames) {
  EXPECT_EQ(vkx7::LifeTiming::ThirdOfRun(3.0).TriggerFrames(48000), 48000u);
  EXPECT_EQ(vkx7::LifeTiming::ThirdOfRun(1.5).TriggerFrames(96000), 48000u);
  EXPECT_EQ(vkx7::LifeTiming::ThirdOfRunFrames(9600).TriggerFrames(44100), 3200u);
  EXPECT_EQ(vkx7::LifeTiming::AfterFrames(77).TriggerFrames(96000), 77u);
  EXPECT_EQ(vkx7::LifeTiming().TriggerFrames(44100), 44100u) << "a third of a 3 s run";
  Kx7Scenario scenario;
  for (const char* name : {"unplug", "replug", "suspend", "suspend-reenumerate", "empty-reads",
                           "taken-between-runs"}) {
    ASSERT_TRUE(vkx7::ParseScenario(name, &scenario)) << name;
    EXPECT_TRUE(vkx7::IsLifeScenario(scenario));
    EXPECT_STREQ(vkx7::ScenarioName(scenario), name);
  }
  EXPECT_FALSE(vkx7::IsLifeScenario(Kx7Scenario::PinInUse));
}

TEST_F(DeviceLifeTest, UnplugFailsWhatIsQueuedAndLaterRequestsAndLeavesTheEnumeration) {
  Make({Kx7Scenario::Unplug}, vkx7::LifeTiming::ThirdOfRunFrames(kRunFrames));
  device->Step(10);  // the run starts when a pin first runs, not when the device was made
  const uint64_t start = device->FramesElapsed();
  StartPins();
  EXPECT_EQ(ListedAudioInterfaces(), 1);
  Pump(kRunFrames);

  const std::vector<Seen> before = Between(0, start + kTrigger);
  EXPECT_TRUE(AllSucceeded(before));
  EXPECT_GE(before.size(), 2 * (kTrigger / vkx7::kPacketFrames) - 2);
  // Everything queued at the moment fails with the removal's error, and nothing completes later.
  const std::vector<Seen> after = Between(start + kTrigger, ~0ull);
  ASSERT_EQ(after.size(), 2 * kRing);
  for (const Seen& each : after) {
    EXPECT_EQ(each.frame, start + kTrigger);
    EXPECT_EQ(each.error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    if (!each.write) {
      EXPECT_EQ(each.dataUsed, 0u);
    }
  }
  // Re-queueing on the dead handles is refused the same way.
  ASSERT_EQ(refused.size(), 2 * kRing);
  for (DWORD error : refused) EXPECT_EQ(error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_EQ(SetState(renderPin, KSSTATE_STOP), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));

  EXPECT_FALSE(device->IsPlugged());
  EXPECT_EQ(ListedAudioInterfaces(), 0);
  HANDLE pin = INVALID_HANDLE_VALUE;
  EXPECT_TRUE(NotFound(CreatePin(Direction::Capture, &pin)));
  ASSERT_EQ(device->LifeEvents().size(), 1u);
  EXPECT_EQ(device->LifeEvents()[0].what, "removed");
  EXPECT_EQ(device->LifeEvents()[0].frame, start + kTrigger);
}

TEST_F(DeviceLifeTest, ReplugBringsANewDeviceTwoSecondsLaterWhileOldHandlesStayDead) {
  Make({Kx7Scenario::Replug}, vkx7::LifeTiming::AfterFrames(kTrigger));
  StartPins();
  Pump(kTrigger + 2 * kSecond - 1);
  EXPECT_FALSE(device->IsPlugged()) << "still away a frame before the 2 s are up";
  HANDLE pin = INVALID_HANDLE_VALUE;
  EXPECT_TRUE(NotFound(CreatePin(Direction::Render, &pin)));
  Pump(1);
  EXPECT_TRUE(device->IsPlugged());
  EXPECT_EQ(ListedAudioInterfaces(), 1);
  EXPECT_EQ(LifeEventNames(), (std::vector<std::string>{"removed", "arrived"}));
  EXPECT_EQ(device->LifeEvents()[1].frame, kTrigger + 2 * kSecond);

  // The handles of before stay dead; new ones stream.
  EXPECT_EQ(SetState(renderPin, KSSTATE_RUN), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_EQ(Queue(*reads[0], false), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  ClosePins();
  seen.clear();
  refused.clear();
  StartPins();
  Pump(kRunFrames);
  EXPECT_TRUE(refused.empty());
  EXPECT_GE(seen.size(), 2 * (kRunFrames / vkx7::kPacketFrames) - 2);
  EXPECT_TRUE(AllSucceeded(seen));
  EXPECT_EQ(LifeEventNames().size(), 2u) << "the life happens once";
}

TEST_F(DeviceLifeTest, SuspendPausesTheRunningPinsForThreeSecondsKeepingWhatIsQueued) {
  Make({Kx7Scenario::Suspend}, vkx7::LifeTiming::AfterFrames(kTrigger));
  StartPins();
  Pump(kTrigger);
  EXPECT_EQ(device->PinState(Direction::Render), KSSTATE_PAUSE);
  EXPECT_EQ(device->PinState(Direction::Capture), KSSTATE_PAUSE);
  const size_t atSleep = seen.size();
  Pump(3 * kSecond - 1);
  // Completions simply stop: nothing fails, nothing completes, everything stays queued.
  EXPECT_EQ(seen.size(), atSleep);
  EXPECT_EQ(device->QueuedReads(), kRing);
  EXPECT_EQ(device->QueuedWrites(), kRing);
  EXPECT_EQ(device->PinState(Direction::Render), KSSTATE_PAUSE);
  Pump(1);
  EXPECT_EQ(device->PinState(Direction::Render), KSSTATE_RUN);
  EXPECT_EQ(device->PinState(Direction::Capture), KSSTATE_RUN);
  Pump(kRunFrames);
  // And go on after the resume, a packet at a time.
  const uint64_t wake = kTrigger + 3 * kSecond;
  const std::vector<Seen> after = Between(wake, ~0ull);
  EXPECT_TRUE(AllSucceeded(after));
  EXPECT_TRUE(refused.empty());
  EXPECT_GE(after.size(), 2 * (kRunFrames / vkx7::kPacketFrames) - 2);
  ASSERT_FALSE(after.empty());
  EXPECT_LE(after.front().frame, wake + vkx7::kPacketFrames);
  EXPECT_EQ(LifeEventNames(), (std::vector<std::string>{"asleep", "awake"}));
}

TEST_F(DeviceLifeTest, APinSetToRunDuringTheSleepWaitsForTheResume) {
  Make({Kx7Scenario::Suspend}, vkx7::LifeTiming::AfterFrames(kTrigger));
  StartPins();
  Pump(kTrigger + kSecond);
  // A client that re-creates its pins while the device sleeps.
  ClosePins();
  reads.clear();
  ASSERT_EQ(CreatePin(Direction::Render, &renderPin), 0u);
  EXPECT_EQ(SetState(renderPin, KSSTATE_RUN), 0u);
  EXPECT_EQ(device->PinState(Direction::Render), KSSTATE_PAUSE);
  writes.resize(1);
  EXPECT_EQ(Queue(*writes[0], true), static_cast<DWORD>(ERROR_IO_PENDING));
  seen.clear();
  Pump(2 * kSecond);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(device->PinState(Direction::Render), KSSTATE_RUN);
  Pump(vkx7::kPacketFrames);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen[0].error, 0u);
}

TEST_F(DeviceLifeTest, SuspendReenumerateLeavesDuringTheSleepAndIsBackAtTheResume) {
  Make({Kx7Scenario::SuspendReenumerate}, vkx7::LifeTiming::AfterFrames(kTrigger));
  StartPins();
  Pump(kTrigger + 3 * kSecond / 2 - 1);
  EXPECT_EQ(device->PinState(Direction::Capture), KSSTATE_PAUSE);
  const size_t asleep = seen.size();
  Pump(1);
  // The removal fails what the paused pins held.
  const std::vector<Seen> failed(seen.begin() + static_cast<long>(asleep), seen.end());
  ASSERT_EQ(failed.size(), 2 * kRing);
  for (const Seen& each : failed) {
    EXPECT_EQ(each.error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  }
  EXPECT_EQ(ListedAudioInterfaces(), 0);
  Pump(3 * kSecond / 2);
  EXPECT_TRUE(device->IsPlugged());
  EXPECT_EQ(LifeEventNames(), (std::vector<std::string>{"asleep", "removed", "awake", "arrived"}));
  EXPECT_EQ(device->LifeEvents()[3].frame, kTrigger + 3 * kSecond);
  EXPECT_EQ(SetState(capturePin, KSSTATE_RUN), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  ClosePins();
  seen.clear();
  StartPins();
  Pump(kRunFrames);
  EXPECT_GE(seen.size(), 2 * (kRunFrames / vkx7::kPacketFrames) - 2);
  EXPECT_TRUE(AllSucceeded(seen));
}

TEST_F(DeviceLifeTest, EmptyReadsCompleteAtOnceWithoutDataForGoodWhileWritesPlay) {
  Make({Kx7Scenario::EmptyReads}, vkx7::LifeTiming::AfterFrames(kTrigger));
  StartPins();
  Pump(kTrigger - 1);
  for (const Seen& each : seen) EXPECT_EQ(each.dataUsed, each.write ? kRenderBytes : kCaptureBytes);
  seen.clear();
  Pump(1);
  // The reads queued at the trigger come back at once, empty and successful.
  size_t emptyReads = 0;
  for (const Seen& each : seen) {
    if (each.write) continue;
    EXPECT_EQ(each.error, 0u);
    EXPECT_EQ(each.dataUsed, 0u);
    ++emptyReads;
  }
  EXPECT_EQ(emptyReads, kRing);
  // A read sent now completes within the call, empty; writes still play a packet at a time.
  TestPacket read(kCaptureBytes, false);
  EXPECT_EQ(Queue(read, false), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(read.Done());
  EXPECT_EQ(read.header.DataUsed, 0u);
  EXPECT_EQ(device->QueuedReads(), 0u);
  seen.clear();
  Pump(kRunFrames);
  size_t writesSeen = 0;
  for (const Seen& each : seen) {
    EXPECT_TRUE(each.write) << "no read is left queued to complete later";
    writesSeen += each.write ? 1 : 0;
  }
  EXPECT_NEAR(static_cast<double>(writesSeen), kRunFrames / vkx7::kPacketFrames, 1.0);
  EXPECT_EQ(device->RenderUnderruns(), 0u);
  EXPECT_EQ(LifeEventNames(), std::vector<std::string>{"reads-empty"});
}

TEST_F(DeviceLifeTest, TakenBetweenRunsRefusesThePinsForTwoSecondsAfterTheFirstStop) {
  Make({Kx7Scenario::TakenBetweenRuns}, vkx7::LifeTiming());
  StartPins();
  Pump(kRunFrames);
  EXPECT_TRUE(device->LifeEvents().empty()) << "the pins are free while they run";
  EXPECT_EQ(SetState(renderPin, KSSTATE_STOP), 0u);
  const uint64_t stopped = device->FramesElapsed();
  EXPECT_EQ(SetState(capturePin, KSSTATE_STOP), 0u);
  ClosePins();
  HANDLE pin = INVALID_HANDLE_VALUE;
  for (Direction direction : {Direction::Capture, Direction::Render}) {
    EXPECT_EQ(CreatePin(direction, &pin), static_cast<DWORD>(ERROR_BAD_COMMAND));
  }
  device->Step(static_cast<unsigned>(2 * kSecond / vkx7::kPacketFrames) - 1);
  EXPECT_EQ(CreatePin(Direction::Render, &pin), static_cast<DWORD>(ERROR_BAD_COMMAND));
  device->Step(1);
  EXPECT_EQ(LifeEventNames(), (std::vector<std::string>{"taken", "freed"}));
  EXPECT_EQ(device->LifeEvents()[1].frame, stopped + 2 * kSecond);
  StartPins();
  // Another application has had its turn: the next stop leaves the pins free.
  EXPECT_EQ(SetState(renderPin, KSSTATE_STOP), 0u);
  EXPECT_EQ(SetState(capturePin, KSSTATE_STOP), 0u);
  ClosePins();
  StartPins();
}

TEST_F(DeviceLifeTest, OnTheRealTimeClockTheDeviceReturnsThoughNoPinRunsWhileItIsAway) {
  Make({Kx7Scenario::Replug}, vkx7::LifeTiming::AfterFrames(4 * vkx7::kPacketFrames));
  device->UseRealTimeClock();
  StartPins();
  // The clock thread removes and returns the device while this thread looks at it.
  bool sawItAway = false;
  for (int i = 0; i < 1000 && LifeEventNames().size() < 2; ++i) {
    sawItAway = sawItAway || ListedAudioInterfaces() == 0;
    Sleep(10);
  }
  device->UseSteppedClock();
  EXPECT_TRUE(sawItAway);
  ASSERT_EQ(LifeEventNames(), (std::vector<std::string>{"removed", "arrived"}));
  EXPECT_EQ(ListedAudioInterfaces(), 1);
  EXPECT_EQ(Queue(*reads[0], false), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
}

TEST_F(DeviceLifeTest, ANewStreamNeverHearsTheLastOneOnTheLoopbackLine) {
  Make({}, vkx7::LifeTiming());
  device->SetMicrophone(vkx7::MicrophoneSource::Loopback(192));
  StartPins();
  // Full-scale output for a few packets, then stop with the loop still holding it.
  for (auto& write : writes) std::fill(write->data.begin(), write->data.end(), BYTE{0x40});
  device->Step(2);
  for (HANDLE pin : {renderPin, capturePin}) EXPECT_EQ(SetState(pin, KSSTATE_STOP), 0u);
  ClosePins();
  StartPins();  // silent output from here on
  for (auto& write : writes) std::fill(write->data.begin(), write->data.end(), BYTE{0});
  device->Step(8);
  for (const auto& read : reads) {
    ASSERT_TRUE(read->Done());
    EXPECT_EQ(read->header.DataUsed, kCaptureBytes);
    EXPECT_TRUE(std::all_of(read->data.begin(), read->data.end(), [](BYTE b) { return b == 0; }))
        << "the last stream's samples were heard";
  }
}

}  // namespace
}  // namespace kx7test

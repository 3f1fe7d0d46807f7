// The virtual KX-7 as the real USB audio class drivers present it: the single-filter layouts,
// completions at USB frame and URB ends or spread by jitter, stream headers as real drivers
// leave them, and the request behaviours of Windows and of those drivers, each as a named
// scenario on the stepped clock.
#include <cstring>
#include <memory>
#include <vector>

#include "../ks/Kx7Fixture.h"
#include "product/Kx7Facts.h"
#include "virtual_device/Kx7Scenarios.h"

namespace kx7test {
namespace {

using vkx7::Direction;
using vkx7::Kx7Layout;

constexpr ULONG kRenderBytes = kx7::kRenderPacketBytes;
constexpr ULONG kCaptureBytes = kx7::kCapturePacketBytes;

// Raw device access, as the KS layer does it, for a device in any layout.
class UsbStackTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (HANDLE handle : handles) CloseHandle(handle);
    handles.clear();
    device.reset();
  }

  void Make(Kx7Layout layout) {
    device = std::make_unique<vkx7::VirtualKx7>(layout);
    device->Plug();
  }

  HANDLE OpenFilter(size_t filter = 0) {
    HANDLE handle =
        CreateFileA(device->FilterPath(filter).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
    handles.push_back(handle);
    return handle;
  }

  // KsCreatePin with the standard interface (or `interfaceId`) and a wave format; the error.
  DWORD CreatePin(HANDLE filter, ULONG pinId, const WAVEFORMATEX* wfx, HANDLE* pin,
                  ULONG interfaceId = KSINTERFACE_STANDARD_STREAMING) {
    const ULONG waveSize =
        static_cast<ULONG>(wfx->wFormatTag == WAVE_FORMAT_PCM ? sizeof(WAVEFORMATEX)
                                                              : sizeof(WAVEFORMATEX) + wfx->cbSize);
    std::vector<BYTE> record(sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + waveSize);
    KSPIN_CONNECT connect = {};
    connect.Interface = vkx7::StandardInterface(interfaceId);
    connect.Medium = vkx7::StandardMedium();
    connect.PinId = pinId;
    connect.Priority.PriorityClass = KSPRIORITY_NORMAL;
    connect.Priority.PrioritySubClass = 1;
    KSDATAFORMAT format = {};
    format.FormatSize = sizeof format + waveSize;
    format.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    format.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    std::memcpy(record.data(), &connect, sizeof connect);
    std::memcpy(record.data() + sizeof connect, &format, sizeof format);
    std::memcpy(record.data() + sizeof connect + sizeof format, wfx, waveSize);
    *pin = INVALID_HANDLE_VALUE;
    const DWORD error = VkKsCreatePin(filter, reinterpret_cast<PKSPIN_CONNECT>(record.data()),
                                      GENERIC_READ | GENERIC_WRITE, pin);
    if (error == ERROR_SUCCESS) handles.push_back(*pin);
    return error;
  }

  // A property request on an overlapped handle: the error DeviceIoControl reports (0 when it
  // completed), the count it wrote.
  DWORD Property(HANDLE handle, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                 DWORD* count, OVERLAPPED* overlapped) {
    return DeviceIoControl(handle, IOCTL_KS_PROPERTY, const_cast<void*>(input), inputSize, output,
                           outputSize, count, overlapped)
               ? ERROR_SUCCESS
               : GetLastError();
  }

  DWORD SetState(HANDLE pin, KSSTATE state) {
    KSPROPERTY property = {KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE,
                           KSPROPERTY_TYPE_SET};
    ULONG value = state;
    DWORD count = 0;
    return Property(pin, &property, sizeof property, &value, sizeof value, &count, nullptr);
  }

  // Both streaming pins of the layout at `rate`, running, with nothing queued.
  void RunPins(ULONG rate) {
    const Kx7Layout layout = device->Layout();
    const WAVEFORMATEXTENSIBLE mono = ExtensibleFormat(1, rate);
    const WAVEFORMATEXTENSIBLE stereo = ExtensibleFormat(2, rate);
    const vkx7::PinLocation capture = vkx7::Kx7StreamingPin(layout, Direction::Capture);
    const vkx7::PinLocation render = vkx7::Kx7StreamingPin(layout, Direction::Render);
    ASSERT_EQ(CreatePin(OpenFilter(capture.filter), capture.pinId, AsWfx(mono), &capturePin), 0u);
    ASSERT_EQ(CreatePin(OpenFilter(render.filter), render.pinId, AsWfx(stereo), &renderPin), 0u);
    ASSERT_EQ(SetState(renderPin, KSSTATE_RUN), 0u);
    ASSERT_EQ(SetState(capturePin, KSSTATE_RUN), 0u);
  }

  TestPacket& Queue(bool write) {
    packets.push_back(std::make_unique<TestPacket>(write ? kRenderBytes : kCaptureBytes, write));
    TestPacket& packet = *packets.back();
    DWORD count = 0;
    const BOOL done = DeviceIoControl(
        write ? renderPin : capturePin, write ? IOCTL_KS_WRITE_STREAM : IOCTL_KS_READ_STREAM,
        nullptr, 0, &packet.header, sizeof packet.header, &count, &packet.overlapped);
    EXPECT_TRUE(done || GetLastError() == ERROR_IO_PENDING);
    return packet;
  }

  // The device-clock frame at which each packet completes, stepping completion by completion.
  std::vector<uint64_t> CompletionFrames(const std::vector<TestPacket*>& watched, uint64_t frames) {
    std::vector<uint64_t> at(watched.size(), 0);
    const uint64_t end = device->FramesElapsed() + frames;
    while (device->FramesElapsed() < end) {
      device->StepToNextCompletion(end - device->FramesElapsed());
      for (size_t i = 0; i < watched.size(); ++i) {
        if (at[i] == 0 && watched[i]->Done()) at[i] = device->FramesElapsed();
      }
    }
    return at;
  }

  std::unique_ptr<vkx7::VirtualKx7> device;
  std::vector<HANDLE> handles;
  std::vector<std::unique_ptr<TestPacket>> packets;
  HANDLE capturePin = INVALID_HANDLE_VALUE;
  HANDLE renderPin = INVALID_HANDLE_VALUE;
};

TEST(TimingProfile, NamesAndTheUsbFrameGrid) {
  vkx7::TimingProfile profile;
  for (const char* name : {"ideal", "usb-1ms", "urb-2ms", "urb-8ms", "jitter-16"}) {
    ASSERT_TRUE(vkx7::TimingProfile::Parse(name, &profile)) << name;
    EXPECT_EQ(profile.Name(), name);
  }
  ASSERT_TRUE(vkx7::TimingProfile::Parse("jitter", &profile));
  EXPECT_EQ(profile.jitterFrames, 16u) << "a quarter packet";
  for (const char* name : {"", "urb-ms", "urb-0ms", "urb-2", "usb-2ms", "jitter-x", "Ideal"}) {
    EXPECT_FALSE(vkx7::TimingProfile::Parse(name, &profile)) << name;
  }

  // 44.1 frames per millisecond: USB frames of 44 frames, every tenth of 45.
  const vkx7::TimingProfile usb = vkx7::TimingProfile::UsbFrames(1);
  std::vector<uint64_t> ends;
  for (uint64_t frame = 1; ends.size() < 10; ++frame) {
    const uint64_t end = vkx7::NextCompletionMoment(usb, true, 44100, frame);
    if (ends.empty() || end != ends.back()) ends.push_back(end);
  }
  EXPECT_EQ(ends, (std::vector<uint64_t>{44, 88, 132, 176, 220, 264, 308, 352, 396, 441}));
  // A packet completes at the end of the USB frame of its last sample; capture half a USB frame
  // later, and a URB of 4 ms at 48000 Hz every 192 frames.
  EXPECT_EQ(vkx7::NextCompletionMoment(usb, true, 48000, 64), 96u);
  EXPECT_EQ(vkx7::NextCompletionMoment(usb, false, 48000, 64), 72u);
  EXPECT_EQ(vkx7::NextCompletionMoment(usb, false, 48000, 73), 120u);
  EXPECT_EQ(vkx7::NextCompletionMoment(vkx7::TimingProfile::UsbFrames(4), true, 48000, 193), 384u);
  EXPECT_EQ(vkx7::NextCompletionMoment(vkx7::TimingProfile::Ideal(), true, 48000, 77), 77u);
}

TEST_F(UsbStackTest, UsbFrameCompletionsFollowTheCadenceWithCaptureOnItsOwnPhase) {
  Make(Kx7Layout::UsbAudio);
  device->SetTimingProfile(vkx7::TimingProfile::UsbFrames(1));
  RunPins(44100);
  std::vector<TestPacket*> writes, reads;
  for (int i = 0; i < 6; ++i) writes.push_back(&Queue(true));
  for (int i = 0; i < 7; ++i) reads.push_back(&Queue(false));
  const std::vector<uint64_t> rendered = CompletionFrames(writes, 6 * 64 + 64);
  // Packet n's last sample is frame 64n + 63; its USB frame ends at 44, 88, ..., 441 and on.
  EXPECT_EQ(rendered, (std::vector<uint64_t>{88, 132, 220, 264, 352, 396}));
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_TRUE(reads[i]->Done()) << i;
    EXPECT_EQ(reads[i]->header.DataUsed, kCaptureBytes);
  }
  EXPECT_EQ(device->CaptureOverruns(), 0u);

  // Capture on the same clock, its USB frames ending half a USB frame (22 frames) later.
  TearDown();
  Make(Kx7Layout::UsbAudio);
  device->SetTimingProfile(vkx7::TimingProfile::UsbFrames(1));
  RunPins(44100);
  reads.clear();
  for (int i = 0; i < 3; ++i) reads.push_back(&Queue(false));
  EXPECT_EQ(CompletionFrames(reads, 4 * 64), (std::vector<uint64_t>{66, 154, 198}));
}

TEST_F(UsbStackTest, UrbBurstsHandBackSeveralPacketsAtOnceAndOverrunFourReads) {
  Make(Kx7Layout::UsbAudio);
  device->SetTimingProfile(vkx7::TimingProfile::UsbFrames(8));
  RunPins(48000);
  std::vector<TestPacket*> writes;
  for (int i = 0; i < 8; ++i) writes.push_back(&Queue(true));
  for (int i = 0; i < 4; ++i) Queue(false);
  const std::vector<uint64_t> at = CompletionFrames(writes, 8 * 64);
  // 8 ms at 48000 Hz is 384 frames: six packets come back together, the rest 384 frames later.
  EXPECT_EQ(at, (std::vector<uint64_t>{384, 384, 384, 384, 384, 384, 0, 0}));
  // Four reads held until the URB ends leave the device nowhere to put packets 5 to 8.
  EXPECT_EQ(device->CaptureOverruns(), 4u);
  EXPECT_EQ(device->CaptureFramesLost(), 4u * 64u);
}

TEST_F(UsbStackTest, JitterDelaysEachCompletionBoundedlyAndKeepsTheOrder) {
  Make(Kx7Layout::UsbAudio);
  device->SetTimingProfile(vkx7::TimingProfile::Jitter(16));
  RunPins(96000);
  std::vector<TestPacket*> writes;
  for (int i = 0; i < 32; ++i) writes.push_back(&Queue(true));
  const std::vector<uint64_t> at = CompletionFrames(writes, 33 * 64);
  bool spread = false;
  for (size_t n = 0; n < at.size(); ++n) {
    const uint64_t end = 64 * (n + 1);
    EXPECT_GE(at[n], end) << n;
    EXPECT_LE(at[n], end + 16) << n;
    if (n > 0) {
      EXPECT_GE(at[n], at[n - 1]) << n;
    }
    spread = spread || at[n] != end;
  }
  EXPECT_TRUE(spread);
}

TEST_F(UsbStackTest, CompletionsStampTheHeaderAndStrictHeadersRefuseAStampedRead) {
  Make(Kx7Layout::UsbAudio);
  RunPins(48000);
  TestPacket& first = Queue(false);
  TestPacket& second = Queue(false);
  TestPacket& write = Queue(true);
  device->Step(2);
  ASSERT_TRUE(first.Done());
  ASSERT_TRUE(second.Done());
  ASSERT_TRUE(write.Done());
  const ULONG stamped = KSSTREAM_HEADER_OPTIONSF_TIMEVALID | KSSTREAM_HEADER_OPTIONSF_DURATIONVALID;
  EXPECT_EQ(second.header.OptionsFlags, stamped);
  EXPECT_EQ(second.header.DataUsed, kCaptureBytes);
  // 64 frames at 48000 Hz are 1333333 in 100-ns units; the second packet starts there.
  EXPECT_EQ(second.header.PresentationTime.Time, 13333);
  EXPECT_EQ(second.header.Duration, 13333);
  EXPECT_EQ(write.header.OptionsFlags, stamped);
  EXPECT_EQ(write.header.PresentationTime.Time, 0);

  // Queued again as it came back: accepted by a lenient driver, completed empty by a strict one.
  device->SetStrictHeaders(true);
  first.header.DataUsed = 0;
  DWORD count = 0;
  EXPECT_TRUE(DeviceIoControl(capturePin, IOCTL_KS_READ_STREAM, nullptr, 0, &first.header,
                              sizeof first.header, &count, &first.overlapped));
  EXPECT_TRUE(first.Done());
  EXPECT_EQ(first.header.DataUsed, 0u);
  second.header.OptionsFlags = 0;
  second.header.DataUsed = 0;
  EXPECT_FALSE(DeviceIoControl(capturePin, IOCTL_KS_READ_STREAM, nullptr, 0, &second.header,
                               sizeof second.header, &count, &second.overlapped));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  device->Step();
  EXPECT_TRUE(second.Done());
  EXPECT_EQ(second.header.DataUsed, kCaptureBytes);
}

TEST_F(UsbStackTest, FirstReadsCompleteEmptyWithoutLosingAnything) {
  Make(Kx7Layout::UsbAudio);
  RunPins(48000);
  device->CompleteReadsEmpty(2);
  std::vector<TestPacket*> reads;
  for (int i = 0; i < 4; ++i) reads.push_back(&Queue(false));
  device->Step(1);
  EXPECT_TRUE(reads[0]->Done());
  EXPECT_FALSE(reads[1]->Done()) << "one read per packet, empty or not";
  device->Step(3);
  const ULONG used[4] = {0, 0, kCaptureBytes, kCaptureBytes};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(reads[i]->header.DataUsed, used[i]) << i;
  EXPECT_EQ(device->CaptureOverruns(), 0u);
}

TEST_F(UsbStackTest, PendingPropertyRequestsAndCountsAsWindowsReportsThem) {
  Make(Kx7Layout::UsbAudio);
  HANDLE filter = OpenFilter();
  KSP_PIN ranges = {{KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, KSPROPERTY_TYPE_GET}, 0, 0};
  // A short buffer: ERROR_INSUFFICIENT_BUFFER leaves the count alone; the size query gets it.
  DWORD count = 12345;
  BYTE small[8];
  EXPECT_EQ(Property(filter, &ranges, sizeof ranges, small, sizeof small, &count, nullptr),
            static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(count, 12345u);
  EXPECT_EQ(Property(filter, &ranges, sizeof ranges, nullptr, 0, &count, nullptr),
            static_cast<DWORD>(ERROR_MORE_DATA));
  const DWORD size = count;

  device->SetPendingProperties(true);
  OVERLAPPED overlapped = {};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  count = 777;
  EXPECT_EQ(Property(filter, &ranges, sizeof ranges, nullptr, 0, &count, &overlapped),
            static_cast<DWORD>(ERROR_IO_PENDING));
  EXPECT_EQ(count, 777u) << "a pending request reports its count later";
  DWORD transferred = 0;
  EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 10000), WAIT_OBJECT_0);
  EXPECT_FALSE(GetOverlappedResult(filter, &overlapped, &transferred, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(transferred, size);

  std::vector<BYTE> reply(size);
  ResetEvent(overlapped.hEvent);
  EXPECT_EQ(Property(filter, &ranges, sizeof ranges, reply.data(), size, &count, &overlapped),
            static_cast<DWORD>(ERROR_IO_PENDING));
  EXPECT_TRUE(GetOverlappedResult(filter, &overlapped, &transferred, TRUE));
  EXPECT_EQ(transferred, size);
  KSMULTIPLE_ITEM header;
  std::memcpy(&header, reply.data(), sizeof header);
  EXPECT_EQ(header.Size, size);
  device->SetPendingProperties(false);
  CloseHandle(overlapped.hEvent);
}

TEST_F(UsbStackTest, OneFilterAtTheControlInterfaceWithAlignedRangesAndAnAttributeList) {
  Make(Kx7Layout::UsbAudio);
  EXPECT_NE(device->FilterPath(0).find("USB#VID_FA57&PID_0E1A&MI_00#"), std::string::npos);
  for (const GUID& category : {KSCATEGORY_AUDIO, KSCATEGORY_RENDER, KSCATEGORY_CAPTURE}) {
    HDEVINFO set =
        SetupDiGetClassDevsA(&category, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    EXPECT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &category, 0, &data));
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &category, 1, &data));
    SetupDiDestroyDeviceInfoList(set);
  }
  HANDLE filter = OpenFilter();
  const ULONG flows[4] = {KSPIN_DATAFLOW_IN, KSPIN_DATAFLOW_OUT, KSPIN_DATAFLOW_IN,
                          KSPIN_DATAFLOW_OUT};
  const ULONG communications[4] = {KSPIN_COMMUNICATION_SINK, KSPIN_COMMUNICATION_NONE,
                                   KSPIN_COMMUNICATION_NONE, KSPIN_COMMUNICATION_SINK};
  for (ULONG pin = 0; pin < 4; ++pin) {
    KSP_PIN flow = {{KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, KSPROPERTY_TYPE_GET}, pin, 0};
    KSP_PIN communication = {
        {KSPROPSETID_Pin, KSPROPERTY_PIN_COMMUNICATION, KSPROPERTY_TYPE_GET}, pin, 0};
    ULONG value = 0;
    DWORD count = 0;
    ASSERT_EQ(Property(filter, &flow, sizeof flow, &value, 4, &count, nullptr), 0u);
    EXPECT_EQ(value, flows[pin]) << pin;
    ASSERT_EQ(Property(filter, &communication, sizeof communication, &value, 4, &count, nullptr),
              0u);
    EXPECT_EQ(value, communications[pin]) << pin;
  }

  // Capture pin: 16-bit range with its attribute list, then the 24-bit range, each item on an
  // 8-byte boundary although the list is 36 bytes long.
  KSP_PIN ranges = {{KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, KSPROPERTY_TYPE_GET}, 3, 0};
  BYTE reply[512] = {};
  DWORD count = 0;
  ASSERT_EQ(Property(filter, &ranges, sizeof ranges, reply, sizeof reply, &count, nullptr), 0u);
  KSMULTIPLE_ITEM header;
  std::memcpy(&header, reply, sizeof header);
  EXPECT_EQ(header.Count, 3u);
  EXPECT_EQ(header.Size, 8u + 88u + 40u + 88u);
  KSDATARANGE_AUDIO sixteen, twentyFour;
  std::memcpy(&sixteen, reply + 8, sizeof sixteen);
  EXPECT_EQ(sixteen.DataRange.Flags & KSDATARANGE_ATTRIBUTES, KSDATARANGE_ATTRIBUTES);
  EXPECT_EQ(sixteen.MaximumBitsPerSample, 16u);
  KSMULTIPLE_ITEM list;
  std::memcpy(&list, reply + 8 + 88, sizeof list);
  EXPECT_EQ(list.Size, 36u);
  EXPECT_EQ(list.Count, 1u);
  std::memcpy(&twentyFour, reply + 8 + 88 + 40, sizeof twentyFour);
  EXPECT_EQ(twentyFour.DataRange.FormatSize, 88u);
  EXPECT_EQ(twentyFour.MaximumBitsPerSample, 24u);
  EXPECT_EQ(twentyFour.MaximumChannels, 1u);
}

TEST_F(UsbStackTest, ThePinsTakeOnlyTheExtensibleFormatForTwentyFourBits) {
  for (Kx7Layout layout : {Kx7Layout::UsbAudio, Kx7Layout::TwoFilter}) {
    Make(layout);
    const vkx7::PinLocation at = vkx7::Kx7StreamingPin(layout, Direction::Capture);
    HANDLE filter = OpenFilter(at.filter);
    const WAVEFORMATEX plain = PcmFormat(1, 48000);
    HANDLE pin = INVALID_HANDLE_VALUE;
    if (layout == Kx7Layout::UsbAudio) {
      EXPECT_EQ(CreatePin(filter, at.pinId, &plain, &pin), static_cast<DWORD>(ERROR_NO_MATCH));
      const WAVEFORMATEX sixteen = PcmFormat(1, 48000, 16);
      EXPECT_EQ(CreatePin(filter, at.pinId, &sixteen, &pin), 0u) << "16 bits may be plain";
    } else {
      EXPECT_EQ(CreatePin(filter, at.pinId, &plain, &pin), 0u);
    }
    TearDown();
  }
}

TEST_F(UsbStackTest, BandwidthRefusedPinHeldAndTheUac2FilterOfferingOnlyLoopedPins) {
  Make(Kx7Layout::UsbAudio);
  HANDLE filter = OpenFilter();
  const WAVEFORMATEXTENSIBLE mono = ExtensibleFormat(1, 48000);
  const WAVEFORMATEXTENSIBLE stereo = ExtensibleFormat(2, 48000);
  device->HoldPin(Direction::Render, true);
  HANDLE pin = INVALID_HANDLE_VALUE;
  EXPECT_EQ(CreatePin(filter, 0, AsWfx(stereo), &pin), static_cast<DWORD>(ERROR_BAD_COMMAND));
  ASSERT_EQ(CreatePin(filter, 3, AsWfx(mono), &pin), 0u) << "only the render pin is held";
  device->RefuseBandwidth(Direction::Capture, true);
  EXPECT_EQ(SetState(pin, KSSTATE_PAUSE), static_cast<DWORD>(ERROR_NO_SYSTEM_RESOURCES));
  EXPECT_EQ(SetState(pin, KSSTATE_ACQUIRE), static_cast<DWORD>(ERROR_NO_SYSTEM_RESOURCES));
  EXPECT_EQ(SetState(pin, KSSTATE_STOP), 0u);
  EXPECT_EQ(device->PinState(Direction::Capture), KSSTATE_STOP);
  device->RefuseBandwidth(Direction::Capture, false);
  EXPECT_EQ(SetState(pin, KSSTATE_PAUSE), 0u);
  TearDown();

  Make(Kx7Layout::UsbAudio2);
  HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_REALTIME, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  EXPECT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_REALTIME, 0, &data));
  SetupDiDestroyDeviceInfoList(set);
  filter = OpenFilter();
  KSP_PIN interfaces = {{KSPROPSETID_Pin, KSPROPERTY_PIN_INTERFACES, KSPROPERTY_TYPE_GET}, 0, 0};
  BYTE reply[64] = {};
  DWORD count = 0;
  ASSERT_EQ(Property(filter, &interfaces, sizeof interfaces, reply, sizeof reply, &count, nullptr),
            0u);
  KSPIN_INTERFACE offered;
  std::memcpy(&offered, reply + sizeof(KSMULTIPLE_ITEM), sizeof offered);
  EXPECT_EQ(count, sizeof(KSMULTIPLE_ITEM) + sizeof offered);
  EXPECT_EQ(offered.Id, static_cast<ULONG>(KSINTERFACE_STANDARD_LOOPED_STREAMING));
  EXPECT_EQ(CreatePin(filter, 0, AsWfx(stereo), &pin), static_cast<DWORD>(ERROR_NO_MATCH));
}

TEST(Kx7Scenarios, EveryNameIsKnownAndPicksItsLayout) {
  for (vkx7::Kx7Scenario scenario : vkx7::AllScenarios()) {
    vkx7::Kx7Scenario parsed;
    ASSERT_TRUE(vkx7::ParseScenario(vkx7::ScenarioName(scenario), &parsed));
    EXPECT_EQ(parsed, scenario);
  }
  vkx7::Kx7Scenario parsed;
  EXPECT_FALSE(vkx7::ParseScenario("usb-1ms", &parsed));
  EXPECT_EQ(vkx7::LayoutOf({vkx7::Kx7Scenario::StrictHeaders}), Kx7Layout::UsbAudio);
  EXPECT_EQ(vkx7::LayoutOf({vkx7::Kx7Scenario::TwoFilter}), Kx7Layout::TwoFilter);
  EXPECT_EQ(vkx7::LayoutOf({vkx7::Kx7Scenario::UsbAudio2}), Kx7Layout::UsbAudio2);
}

}  // namespace
}  // namespace kx7test

// A USB audio function as its class KS driver presents it, registered with the virtual kernel:
// filters with pins, data ranges and topology nodes, real answers to property requests, pin
// creation checked against the ranges, and packet streaming driven by a clock whose completions
// follow a timing profile. VirtualKx7 is the NORVA KX-7; other descriptions give other audio
// devices.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ks.h"
#include "platform/vkernel/VirtualKernel.h"
#include "product/Kx7Facts.h"
#include "virtual_device/TimingProfile.h"

namespace vkx7 {

// ---------------------------------------------------------------------------------------------
// What the device presents
// ---------------------------------------------------------------------------------------------
struct PinDescription {
  ULONG dataFlow = KSPIN_DATAFLOW_IN;
  ULONG communication = KSPIN_COMMUNICATION_SINK;
  std::vector<KSPIN_INTERFACE> interfaces;
  std::vector<KSPIN_MEDIUM> mediums;
  // Each a whole range record of FormatSize bytes; a range flagged KSDATARANGE_ATTRIBUTES is
  // followed by its attribute list as the next entry.
  std::vector<std::vector<BYTE>> dataRanges;
  // Whether a plain WAVE_FORMAT_PCM record of more than 16 bits is accepted; the USB audio class
  // driver takes such samples only in the extensible format.
  bool plainPcmAbove16Bits = true;
  ULONG possibleInstances = 1;
  ULONG possibleGlobalInstances = 1;
  GUID category = {};
  std::string name;  // answered as UTF-16
};

struct FilterDescription {
  vk::InterfaceDescription
      deviceInterface;  // path parts, categories with alias flags, friendly name
  std::vector<PinDescription> pins;
  std::vector<GUID> nodes;  // node types
  // The topology; when empty, the nodes are chained in order between the first two pins.
  std::vector<KSTOPOLOGY_CONNECTION> connections;
};

struct DeviceDescription {
  std::vector<FilterDescription> filters;
};

// A KSDATARANGE_AUDIO record (88 bytes).
std::vector<BYTE> AudioRange(ULONG maxChannels, ULONG minBits, ULONG maxBits, ULONG minRate,
                             ULONG maxRate, const GUID& subFormat = KSDATAFORMAT_SUBTYPE_PCM,
                             const GUID& specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX);
// A plain KSDATARANGE record (64 bytes), for bridge pins and non-audio ranges.
std::vector<BYTE> PlainRange(const GUID& majorFormat, const GUID& subFormat, const GUID& specifier);
// Marks a range as followed by an attribute list, and that list: one KSATTRIBUTE carrying
// `payload` extra bytes (its size need not be a multiple of 8).
void FlagAttributes(std::vector<BYTE>* range);
std::vector<BYTE> AttributeList(const GUID& attribute, ULONG payload);
KSPIN_INTERFACE StandardInterface(ULONG id = KSINTERFACE_STANDARD_STREAMING);
KSPIN_MEDIUM StandardMedium();

// How the KX-7 shows itself.
enum class Kx7Layout {
  // As the USB audio class 1.0 driver registers it: one device interface at the AudioControl
  // interface (mi_00) with the AUDIO, RENDER and CAPTURE aliases; render sink (pin 0), speaker
  // and microphone bridges (1, 2) and capture sink (3) in one filter with the nodes of both.
  UsbAudio,
  // Two filters: capture (mi_02, filter 0) and render (mi_01, filter 1), each with its streaming
  // sink pin 0 and bridge pin 1.
  TwoFilter,
  // As the USB audio class 2.0 driver registers it: the UsbAudio filter with the REALTIME alias
  // as well, whose streaming pins offer only the looped interface.
  UsbAudio2,
};

// The KX-7: one 24-bit capture channel and two 24-bit render channels, 44100 to 96000 Hz.
DeviceDescription Kx7Description(Kx7Layout layout = Kx7Layout::UsbAudio);
// Another audio device (16-bit stereo at 48000 Hz) whose paths lack the KX-7's hardware ID.
DeviceDescription OtherAudioDescription(int index = 0);

// The two-filter layout's filters and pins.
constexpr size_t kCaptureFilter = 0;
constexpr size_t kRenderFilter = 1;
constexpr ULONG kStreamingPin = 0;
constexpr ULONG kBridgePin = 1;

// Where a layout's streaming sink pins are.
struct PinLocation {
  size_t filter;
  ULONG pinId;
};
enum class Direction { Capture, Render };
PinLocation Kx7StreamingPin(Kx7Layout layout, Direction direction);
// Frames the device moves per packet, in each direction.
constexpr ULONG kPacketFrames = kx7::kPacketFrames;

// ---------------------------------------------------------------------------------------------
// Microphone
// ---------------------------------------------------------------------------------------------
struct MicrophoneSource {
  enum class Kind { Silence, Tone, WavFile, Loopback };
  Kind kind = Kind::Silence;
  double toneHz = 1000.0;
  double toneAmplitude = 0.5;  // of full scale
  std::string wavPath;         // PCM 8/16/24/32-bit or 32-bit float; first channel, repeated
  ULONG loopbackDelayFrames = 0;

  static MicrophoneSource Silence();
  static MicrophoneSource Tone(double hz, double amplitude);
  static MicrophoneSource WavFile(const std::string& path);
  // The left channel that the render pin played, heard `delayFrames` frames later.
  static MicrophoneSource Loopback(ULONG delayFrames);
};

// ---------------------------------------------------------------------------------------------
// Faults and the record
// ---------------------------------------------------------------------------------------------
constexpr ULONG kAnyPin = 0xFFFFFFFFu;
constexpr int kAnyFilter = -1;
constexpr int kForever = -1;

// Which property requests a fault applies to.
struct PropertyMatch {
  GUID set = {};
  ULONG id = 0;
  int filter = kAnyFilter;
  ULONG pinId = kAnyPin;     // the KSP_PIN's pin on a filter, or the pin of a pin handle
  bool onPinHandle = false;  // requests on a created pin rather than on the filter
};

struct RequestRecord {
  int filter = 0;
  bool onPinHandle = false;
  ULONG pinId = kAnyPin;  // the pin of a pin handle, or the KSP_PIN's pin when there is one
  DWORD code = 0;
  GUID set = {};  // property requests only
  ULONG id = 0;
  ULONG flags = 0;
  std::vector<BYTE> input;
  DWORD outputSize = 0;
  DWORD result = 0;  // the error number answered; ERROR_IO_PENDING for a queued stream request
};

struct ConnectRecord {
  int filter = 0;
  ULONG pinId = 0;
  std::vector<BYTE> connect;  // KSPIN_CONNECT, KSDATAFORMAT and the wave format, as sent
  DWORD result = 0;
};

struct StateRecord {
  int filter = 0;
  ULONG pinId = 0;
  ULONG state = 0;
  DWORD result = 0;
};

// The most requests a record keeps: a client that re-queues without end (reads that complete
// at once) must not exhaust the memory.
constexpr size_t kMaxRecordedRequests = size_t{1} << 19;
// The most rendered bytes a record keeps (about two minutes at 96 kHz): a long stream must not
// grow the record, and the copy when it grows, without end.
constexpr size_t kMaxRecordedRenderBytes = size_t{1} << 26;

struct DeviceRecord {
  std::vector<RequestRecord> requests;  // the first kMaxRecordedRequests
  uint64_t requestsNotRecorded = 0;     // and how many came after them
  std::vector<ConnectRecord> connects;
  std::vector<StateRecord> states;
  std::vector<BYTE> rendered;        // the first kMaxRecordedRenderBytes the render pins played
  uint64_t renderedNotRecorded = 0;  // and how many bytes came after them
};

// ---------------------------------------------------------------------------------------------
// The device's life: leaving, returning, sleeping, another application
// ---------------------------------------------------------------------------------------------
// Device time: frames of the device clock, and seconds as frames at the rate the device's pins
// first ran at. On the stepped clock every moment below is exact; the real-time clock keeps
// counting at that rate while a scheduled moment is still to come, even with no pin running.

// When the timed events of a device's life come, measured from the moment a pin of the device
// first goes to KSSTATE_RUN (the start of the run).
struct LifeTiming {
  // A third of the way into a run of `seconds` of stream (kx7-host's --seconds).
  static LifeTiming ThirdOfRun(double seconds);
  // A third of the way into a run of `frames` frames.
  static LifeTiming ThirdOfRunFrames(uint64_t frames);
  // Exactly `frames` frames into the run.
  static LifeTiming AfterFrames(uint64_t frames);
  // Frames from the start of the run to the events at `rate`.
  uint64_t TriggerFrames(ULONG rate) const;

  bool inFrames = false;
  double triggerSeconds = 1.0;  // a third of a 3 s run unless told otherwise
  uint64_t triggerFrames = 0;
};

// How long the timed states last, in seconds of device time.
constexpr double kAbsentSeconds = 2.0;  // from leaving to returning
constexpr double kAsleepSeconds = 3.0;  // from sleep to resume
constexpr double kTakenSeconds = 2.0;   // another application holds the pins after a stop

struct DeviceLife {
  // At the trigger the device is removed (see Unplug); with `returns` it arrives again
  // kAbsentSeconds later as a new device instance: handles opened before stay dead.
  bool leaves = false;
  bool returns = false;
  // At the trigger the running pins go to KSSTATE_PAUSE, keeping what is queued, and return
  // to KSSTATE_RUN kAsleepSeconds later (a pin set to run meanwhile is held paused until then).
  // With `reenumerates` the device is removed halfway through the sleep and arrives again at
  // the resume instead.
  bool sleeps = false;
  bool reenumerates = false;
  // From the trigger on, every read completes at once with DataUsed 0.
  bool readsEmpty = false;
  // When a pin that ran first stops (or is closed), another application holds the streaming
  // pins for kTakenSeconds: creating them fails with ERROR_BAD_COMMAND.
  bool takenAfterStop = false;
  LifeTiming timing;
};

// One event of the device's life as it happened: "removed", "arrived", "asleep", "awake",
// "reads-empty", "taken" or "freed", at a frame of the device clock, and in seconds of device
// time since the run's start.
struct LifeEvent {
  uint64_t frame = 0;
  double seconds = 0.0;
  std::string what;
};

namespace detail {
struct Core;
}

class VirtualKsDevice {
 public:
  explicit VirtualKsDevice(DeviceDescription description);
  virtual ~VirtualKsDevice();
  VirtualKsDevice(const VirtualKsDevice&) = delete;
  VirtualKsDevice& operator=(const VirtualKsDevice&) = delete;

  // Presence. Plugging registers the filters' interfaces with the virtual kernel; unplugging is
  // removal: the interfaces vanish, requests still queued fail with ERROR_DEVICE_NOT_CONNECTED,
  // and so does every new request on a handle opened before.
  void Plug();
  void Unplug();
  bool IsPlugged() const;
  // The device path of a filter in one of its categories (its first by default).
  std::string FilterPath(size_t filter, size_t categoryIndex = 0) const;
  // Changes what enumeration reports for a filter's interface (alias flags, names). Takes
  // effect at once when plugged.
  void SetInterface(size_t filter, const vk::InterfaceDescription& deviceInterface);

  // Clocks. The device clock counts sample frames; every 64 frames each running render pin
  // plays a packet and each running capture pin fills one, and completed requests are handed
  // back at the moments the timing profile gives (capture before render when both are due).
  // The stepped clock (the default) moves only when stepped. The real-time clock follows the
  // running render pin's rate (the capture pin's without one).
  void UseSteppedClock();
  void UseRealTimeClock();
  // Moves the stepped clock to the end of the `packets`-th next packet.
  void Step(unsigned packets = 1);
  // Moves the stepped clock to the next moment at which requests are handed back, but at most
  // `frames` frames; returns the frames it moved. A caller that lets the driver answer after
  // every such moment sees each completion in its order.
  uint64_t StepToNextCompletion(uint64_t frames);
  uint64_t PacketsElapsed() const;
  uint64_t FramesElapsed() const;
  void SetTimingProfile(const TimingProfile& profile);
  TimingProfile GetTimingProfile() const;

  // The microphone signal; false (source unchanged) when a WAV file cannot be read.
  bool SetMicrophone(const MicrophoneSource& source);

  // Faults.
  // The next `count` capture packets are never delivered: their frames are lost, reads wait.
  void WithholdCapturePackets(unsigned count);
  // The next `count` capture reads that fill complete `packets` packets late.
  void DelayCapturePackets(unsigned count, unsigned packets);
  // A stalled render pin neither plays nor completes writes.
  void StallRender(bool stalled);
  // The next `count` reads (writes) fail at once with `error`; kForever until set to 0.
  void RejectReads(int count, DWORD error = ERROR_GEN_FAILURE);
  void RejectWrites(int count, DWORD error = ERROR_GEN_FAILURE);
  // Matching property requests fail with `error`, `count` times or kForever.
  void FailProperty(const PropertyMatch& match, DWORD error = ERROR_GEN_FAILURE,
                    int count = kForever);
  // Matching property requests are answered with exactly these bytes (the size query reports
  // their size): malformed replies.
  void ReplaceReply(const PropertyMatch& match, std::vector<BYTE> reply);
  void ClearPropertyFaults();
  // Pin creation refuses every WAVE_FORMAT_EXTENSIBLE (plain WAVE_FORMAT_PCM) format.
  void RefuseExtensibleFormat(bool refuse);
  void RefusePlainPcmFormat(bool refuse);
  // Pin creation refuses `rate` although the ranges offer it, as a device whose ranges are wider
  // than the rates its clock can run; 0 refuses none again.
  void RefuseRate(ULONG rate);
  // How many instances of a pin may exist at once (0 exhausts it).
  void SetPossibleInstances(size_t filter, ULONG pinId, ULONG possible);

  // Behaviours of real USB audio stacks.
  // A read queued with OptionsFlags still carrying TIMEVALID or DURATIONVALID (as the previous
  // completion left them) completes at once with DataUsed 0.
  void SetStrictHeaders(bool strict);
  // The next `count` capture packets complete their reads with DataUsed 0 (the microphone is
  // not delivering yet; nothing is lost).
  void CompleteReadsEmpty(unsigned count);
  // Property requests pend (ERROR_IO_PENDING) and complete a little later from another thread.
  void SetPendingProperties(bool pending);
  // Leaving KSSTATE_STOP fails with ERROR_NO_SYSTEM_RESOURCES on the streaming pins of the
  // direction: no isochronous bandwidth for them.
  void RefuseBandwidth(Direction direction, bool refuse);
  // Another application holds the streaming pin of the direction: creating it fails with
  // ERROR_BAD_COMMAND.
  void HoldPin(Direction direction, bool held);

  // The comings and goings of the device in a run (replacing any set before), and what of them
  // has happened so far.
  void SetLife(const DeviceLife& life);
  DeviceLife GetLife() const;
  std::vector<LifeEvent> LifeEvents() const;

  // Device-side glitch counters: render packets due with no write queued, and capture packets
  // due with no read queued with the frames they lost.
  uint64_t RenderUnderruns() const;
  uint64_t CaptureOverruns() const;
  uint64_t CaptureFramesLost() const;
  // Stream requests the pins hold right now (queued, or done and not yet handed back).
  size_t QueuedReads() const;
  size_t QueuedWrites() const;
  // The state of the first open instance of a pin, or -1 when none is open.
  int PinState(size_t filter, ULONG pinId) const;
  // The same for the first open streaming pin of a direction, whatever the layout.
  int PinState(Direction direction) const;

  DeviceRecord Record() const;
  std::vector<BYTE> RenderedBytes() const;
  void ClearRecord();

 private:
  std::shared_ptr<detail::Core> core_;
};

class VirtualKx7 : public VirtualKsDevice {
 public:
  explicit VirtualKx7(Kx7Layout layout = Kx7Layout::UsbAudio)
      : VirtualKsDevice(Kx7Description(layout)), layout_(layout) {}
  Kx7Layout Layout() const { return layout_; }

 private:
  Kx7Layout layout_;
};

}  // namespace vkx7

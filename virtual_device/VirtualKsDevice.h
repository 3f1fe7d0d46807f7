// A USB audio function as its class KS driver presents it, registered with the virtual kernel:
// filters with pins, data ranges and topology nodes, real answers to property requests, pin
// creation checked against the ranges, and packet streaming driven by a clock. VirtualKx7 is
// the NORVA KX-7; other descriptions give other audio devices.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ks.h"
#include "platform/vkernel/VirtualKernel.h"

namespace vkx7 {

// ---------------------------------------------------------------------------------------------
// What the device presents
// ---------------------------------------------------------------------------------------------
struct PinDescription {
  ULONG dataFlow = KSPIN_DATAFLOW_IN;
  ULONG communication = KSPIN_COMMUNICATION_SINK;
  std::vector<KSPIN_INTERFACE> interfaces;
  std::vector<KSPIN_MEDIUM> mediums;
  std::vector<std::vector<BYTE>> dataRanges;  // each a whole range record of FormatSize bytes
  ULONG possibleInstances = 1;
  ULONG possibleGlobalInstances = 1;
  GUID category = {};
  std::string name;  // answered as UTF-16
};

struct FilterDescription {
  vk::InterfaceDescription
      deviceInterface;  // path parts, categories with alias flags, friendly name
  std::vector<PinDescription> pins;
  std::vector<GUID> nodes;  // node types; the topology chains them between the first two pins
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
KSPIN_INTERFACE StandardInterface(ULONG id = KSINTERFACE_STANDARD_STREAMING);
KSPIN_MEDIUM StandardMedium();

// The KX-7: filter 0 captures (one 24-bit channel), filter 1 renders (two 24-bit channels),
// 44100 to 96000 Hz; pin 0 of each is the streaming sink pin, pin 1 the bridge pin.
DeviceDescription Kx7Description();
// Another audio device (16-bit stereo at 48000 Hz) whose paths lack the KX-7's hardware ID.
DeviceDescription OtherAudioDescription(int index = 0);

constexpr size_t kCaptureFilter = 0;
constexpr size_t kRenderFilter = 1;
constexpr ULONG kStreamingPin = 0;
constexpr ULONG kBridgePin = 1;
// Frames the device moves per packet, in each direction.
constexpr ULONG kPacketFrames = 64;

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

struct DeviceRecord {
  std::vector<RequestRecord> requests;
  std::vector<ConnectRecord> connects;
  std::vector<StateRecord> states;
  std::vector<BYTE> rendered;  // every byte the render pins played, in order
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

  // Clocks. The stepped clock (the default) moves only when Step is called: each step is one
  // packet of 64 frames, render pins first, then capture pins. The real-time clock moves one
  // packet per 64 frames of the running render pin's rate (the capture pin's without one).
  void UseSteppedClock();
  void UseRealTimeClock();
  void Step(unsigned packets = 1);
  uint64_t PacketsElapsed() const;

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
  // How many instances of a pin may exist at once (0 exhausts it).
  void SetPossibleInstances(size_t filter, ULONG pinId, ULONG possible);

  // Device-side glitch counters: render packets due with no write queued, and capture packets
  // due with no read queued.
  uint64_t RenderUnderruns() const;
  uint64_t CaptureOverruns() const;
  // Stream requests queued on the pins right now.
  size_t QueuedReads() const;
  size_t QueuedWrites() const;
  // The state of the first open instance of a pin, or -1 when none is open.
  int PinState(size_t filter, ULONG pinId) const;

  DeviceRecord Record() const;
  std::vector<BYTE> RenderedBytes() const;
  void ClearRecord();

 private:
  std::shared_ptr<detail::Core> core_;
};

class VirtualKx7 : public VirtualKsDevice {
 public:
  VirtualKx7() : VirtualKsDevice(Kx7Description()) {}
};

}  // namespace vkx7

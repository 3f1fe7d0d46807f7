// What the KX-7 and the other audio devices present: filters, pins, ranges and nodes.
#include <cstring>

#include "virtual_device/VirtualKsDevice.h"

namespace vkx7 {
namespace {

PinDescription StreamingPin(ULONG dataFlow, std::vector<std::vector<BYTE>> ranges,
                            const GUID& category, const std::string& name) {
  PinDescription pin;
  pin.dataFlow = dataFlow;
  pin.communication = KSPIN_COMMUNICATION_SINK;
  pin.interfaces = {StandardInterface()};
  pin.mediums = {StandardMedium()};
  pin.dataRanges = std::move(ranges);
  pin.possibleInstances = 1;
  pin.possibleGlobalInstances = 1;
  pin.category = category;
  pin.name = name;
  return pin;
}

// The analog side of the filter: no communication, never instantiated.
PinDescription BridgePin(ULONG dataFlow, const GUID& category, const std::string& name) {
  PinDescription pin;
  pin.dataFlow = dataFlow;
  pin.communication = KSPIN_COMMUNICATION_NONE;
  pin.interfaces = {StandardInterface()};
  pin.mediums = {StandardMedium()};
  pin.dataRanges = {PlainRange(KSDATAFORMAT_TYPE_AUDIO, KSDATAFORMAT_SUBTYPE_ANALOG,
                               KSDATAFORMAT_SPECIFIER_NONE)};
  pin.possibleInstances = 0;
  pin.possibleGlobalInstances = 0;
  pin.category = category;
  pin.name = name;
  return pin;
}

vk::InterfaceDescription Interface(const std::string& instanceId, const std::string& reference,
                                   const GUID& direction, const std::string& friendlyName) {
  vk::InterfaceDescription description;
  description.instanceId = instanceId;
  description.reference = reference;
  description.categories = {{KSCATEGORY_AUDIO, SPINT_ACTIVE}, {direction, SPINT_ACTIVE}};
  description.friendlyName = friendlyName;
  return description;
}

}  // namespace

std::vector<BYTE> AudioRange(ULONG maxChannels, ULONG minBits, ULONG maxBits, ULONG minRate,
                             ULONG maxRate, const GUID& subFormat, const GUID& specifier) {
  KSDATARANGE_AUDIO range = {};
  range.DataRange.FormatSize = sizeof range;
  range.DataRange.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
  range.DataRange.SubFormat = subFormat;
  range.DataRange.Specifier = specifier;
  range.MaximumChannels = maxChannels;
  range.MinimumBitsPerSample = minBits;
  range.MaximumBitsPerSample = maxBits;
  range.MinimumSampleFrequency = minRate;
  range.MaximumSampleFrequency = maxRate;
  std::vector<BYTE> bytes(sizeof range);
  std::memcpy(bytes.data(), &range, sizeof range);
  return bytes;
}

std::vector<BYTE> PlainRange(const GUID& majorFormat, const GUID& subFormat,
                             const GUID& specifier) {
  KSDATARANGE range = {};
  range.FormatSize = sizeof range;
  range.MajorFormat = majorFormat;
  range.SubFormat = subFormat;
  range.Specifier = specifier;
  std::vector<BYTE> bytes(sizeof range);
  std::memcpy(bytes.data(), &range, sizeof range);
  return bytes;
}

KSPIN_INTERFACE StandardInterface(ULONG id) {
  KSPIN_INTERFACE item = {};
  item.Set = KSINTERFACESETID_Standard;
  item.Id = id;
  return item;
}

KSPIN_MEDIUM StandardMedium() {
  KSPIN_MEDIUM item = {};
  item.Set = KSMEDIUMSETID_Standard;
  item.Id = KSMEDIUM_TYPE_ANYINSTANCE;
  return item;
}

namespace {

// An attribute of the device's own, carried by one range of each streaming pin in the USB
// layouts; four bytes of payload make its list end off an 8-byte boundary.
constexpr GUID kVendorAttribute = {
    0x6B1C7A52, 0x93F0, 0x4E1D, {0x8A, 0x41, 0x5C, 0x2E, 0x77, 0x0B, 0xD9, 0x13}};
constexpr ULONG kVendorAttributePayload = 4;

DeviceDescription TwoFilterKx7() {
  FilterDescription capture;
  capture.deviceInterface = Interface("USB#VID_FA57&PID_0E1A&MI_02#7&2A4F61B3&0&0002", "GLOBAL",
                                      KSCATEGORY_CAPTURE, "Microphone (NORVA KX-7)");
  capture.pins = {StreamingPin(KSPIN_DATAFLOW_OUT,
                               {AudioRange(1, 24, 24, kx7::kMinSampleRate, kx7::kMaxSampleRate)},
                               PINNAME_CAPTURE, "Capture"),
                  BridgePin(KSPIN_DATAFLOW_IN, KSNODETYPE_MICROPHONE, "Microphone")};
  capture.nodes = {KSNODETYPE_VOLUME, KSNODETYPE_MUTE, KSNODETYPE_ADC};

  // A render pin lists a DirectSound-specifier range before the wave-format one, as USB audio
  // devices often do; only the latter describes wave formats.
  FilterDescription render;
  render.deviceInterface = Interface("usb#vid_fa57&pid_0E1A&mi_01#7&2a4f61b3&0&0001", "global",
                                     KSCATEGORY_RENDER, "Speakers (NORVA KX-7)");
  render.pins = {StreamingPin(KSPIN_DATAFLOW_IN,
                              {AudioRange(2, 24, 24, kx7::kMinSampleRate, kx7::kMaxSampleRate,
                                          KSDATAFORMAT_SUBTYPE_PCM, KSDATAFORMAT_SPECIFIER_DSOUND),
                               AudioRange(2, 24, 24, kx7::kMinSampleRate, kx7::kMaxSampleRate)},
                              KSCATEGORY_AUDIO, "Playback"),
                 BridgePin(KSPIN_DATAFLOW_OUT, KSNODETYPE_SPEAKER, "Speakers")};
  render.nodes = {KSNODETYPE_DAC, KSNODETYPE_VOLUME, KSNODETYPE_MUTE};

  DeviceDescription device;
  device.filters = {capture, render};
  return device;
}

// A streaming pin of the class driver: a 16-bit range (one per alternate setting of the USB
// interface) that carries an attribute list, then the 24-bit range; plain PCM of 24 bits is
// refused, and the UAC 2.0 driver offers the looped interface only.
PinDescription UsbStreamingPin(ULONG dataFlow, ULONG channels, const GUID& category,
                               const std::string& name, bool looped) {
  std::vector<BYTE> sixteenBits =
      AudioRange(channels, 16, 16, kx7::kMinSampleRate, kx7::kMaxSampleRate);
  FlagAttributes(&sixteenBits);
  PinDescription pin =
      StreamingPin(dataFlow,
                   {sixteenBits, AttributeList(kVendorAttribute, kVendorAttributePayload),
                    AudioRange(channels, 24, 24, kx7::kMinSampleRate, kx7::kMaxSampleRate)},
                   category, name);
  pin.plainPcmAbove16Bits = false;
  if (looped) pin.interfaces = {StandardInterface(KSINTERFACE_STANDARD_LOOPED_STREAMING)};
  return pin;
}

DeviceDescription UsbAudioKx7(bool audioClass2) {
  FilterDescription filter;
  filter.deviceInterface = Interface("USB#VID_FA57&PID_0E1A&MI_00#7&2A4F61B3&0&0000", "GLOBAL",
                                     KSCATEGORY_RENDER, "NORVA KX-7");
  filter.deviceInterface.categories.push_back({KSCATEGORY_CAPTURE, SPINT_ACTIVE});
  if (audioClass2) filter.deviceInterface.categories.push_back({KSCATEGORY_REALTIME, SPINT_ACTIVE});
  filter.pins = {UsbStreamingPin(KSPIN_DATAFLOW_IN, 2, KSCATEGORY_AUDIO, "Playback", audioClass2),
                 BridgePin(KSPIN_DATAFLOW_OUT, KSNODETYPE_SPEAKER, "Speakers"),
                 BridgePin(KSPIN_DATAFLOW_IN, KSNODETYPE_MICROPHONE, "Microphone"),
                 UsbStreamingPin(KSPIN_DATAFLOW_OUT, 1, PINNAME_CAPTURE, "Capture", audioClass2)};
  // Each direction's feature unit: render pin -> volume -> mute -> speakers, microphone ->
  // volume -> mute -> capture pin.
  filter.nodes = {KSNODETYPE_VOLUME, KSNODETYPE_MUTE, KSNODETYPE_VOLUME, KSNODETYPE_MUTE};
  filter.connections = {{KSFILTER_NODE, 0, 0, 1}, {0, 0, 1, 1}, {1, 0, KSFILTER_NODE, 1},
                        {KSFILTER_NODE, 2, 2, 1}, {2, 0, 3, 1}, {3, 0, KSFILTER_NODE, 3}};
  DeviceDescription device;
  device.filters = {filter};
  return device;
}

}  // namespace

void FlagAttributes(std::vector<BYTE>* range) {
  KSDATARANGE header;
  std::memcpy(&header, range->data(), sizeof header);
  header.Flags |= KSDATARANGE_ATTRIBUTES;
  std::memcpy(range->data(), &header, sizeof header);
}

std::vector<BYTE> AttributeList(const GUID& attribute, ULONG payload) {
  KSATTRIBUTE item = {};
  item.Size = static_cast<ULONG>(sizeof item + payload);
  item.Attribute = attribute;
  KSMULTIPLE_ITEM header;
  header.Size = static_cast<ULONG>(sizeof header + item.Size);
  header.Count = 1;
  std::vector<BYTE> bytes(header.Size, 0);
  std::memcpy(bytes.data(), &header, sizeof header);
  std::memcpy(bytes.data() + sizeof header, &item, sizeof item);
  return bytes;
}

DeviceDescription Kx7Description(Kx7Layout layout) {
  switch (layout) {
    case Kx7Layout::TwoFilter:
      return TwoFilterKx7();
    case Kx7Layout::UsbAudio2:
      return UsbAudioKx7(true);
    case Kx7Layout::UsbAudio:
      break;
  }
  return UsbAudioKx7(false);
}

PinLocation Kx7StreamingPin(Kx7Layout layout, Direction direction) {
  const bool render = direction == Direction::Render;
  if (layout == Kx7Layout::TwoFilter) {
    return {render ? kRenderFilter : kCaptureFilter, kStreamingPin};
  }
  return {0, render ? 0u : 3u};
}

DeviceDescription OtherAudioDescription(int index) {
  const std::string instance = "ROOT#MEDIA#000" + std::to_string(index % 10);
  FilterDescription capture;
  capture.deviceInterface =
      Interface(instance, "wave_in", KSCATEGORY_CAPTURE, "Line In (Generic Audio)");
  capture.pins = {StreamingPin(KSPIN_DATAFLOW_OUT, {AudioRange(2, 16, 16, 48000, 48000)},
                               PINNAME_CAPTURE, "Capture"),
                  BridgePin(KSPIN_DATAFLOW_IN, KSNODETYPE_MICROPHONE, "Line In")};
  capture.nodes = {KSNODETYPE_VOLUME, KSNODETYPE_ADC};

  FilterDescription render;
  render.deviceInterface =
      Interface(instance, "wave_out", KSCATEGORY_RENDER, "Speakers (Generic Audio)");
  render.pins = {StreamingPin(KSPIN_DATAFLOW_IN, {AudioRange(2, 16, 16, 48000, 48000)},
                              KSCATEGORY_AUDIO, "Playback"),
                 BridgePin(KSPIN_DATAFLOW_OUT, KSNODETYPE_SPEAKER, "Speakers")};
  render.nodes = {KSNODETYPE_DAC, KSNODETYPE_VOLUME};

  DeviceDescription device;
  device.filters = {capture, render};
  return device;
}

}  // namespace vkx7

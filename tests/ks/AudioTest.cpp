// Audio filters and pins: which ranges a pin keeps, the format-matching rule, the connect
// record's format, and how render and capture pins are created (with the render fallback).
#include <cstring>

#include "Kx7Fixture.h"

namespace kx7test {
namespace {

using AudioTest = Kx7Test;

std::vector<BYTE> RangesReply(const std::vector<std::vector<BYTE>>& ranges, ULONG count) {
  std::vector<BYTE> reply(8);
  for (const auto& range : ranges) reply.insert(reply.end(), range.begin(), range.end());
  KSMULTIPLE_ITEM header = {static_cast<ULONG>(reply.size()), count};
  std::memcpy(reply.data(), &header, sizeof header);
  return reply;
}

// A reply as KS lays one out: each item on an 8-byte boundary.
std::vector<BYTE> AlignedReply(const std::vector<std::vector<BYTE>>& items, ULONG count) {
  std::vector<BYTE> reply(8);
  for (const auto& item : items) {
    reply.insert(reply.end(), item.begin(), item.end());
    reply.resize((reply.size() + 7) / 8 * 8, 0);
  }
  KSMULTIPLE_ITEM header = {static_cast<ULONG>(reply.size()), count};
  std::memcpy(reply.data(), &header, sizeof header);
  return reply;
}

std::vector<BYTE> WithFormatSize(std::vector<BYTE> range, ULONG formatSize) {
  std::memcpy(range.data(), &formatSize, sizeof formatSize);
  return range;
}

// A device whose render filter's streaming pins carry the given ranges (one pin per entry).
class CustomRender {
 public:
  CustomRender(vkx7::VirtualKx7& kx7, const std::vector<std::vector<std::vector<BYTE>>>& pins) {
    kx7.Unplug();
    vkx7::DeviceDescription description = vkx7::Kx7Description(vkx7::Kx7Layout::TwoFilter);
    auto& filterPins = description.filters[vkx7::kRenderFilter].pins;
    const vkx7::PinDescription model = filterPins[0];
    filterPins.clear();
    for (const auto& ranges : pins) {
      vkx7::PinDescription pin = model;
      pin.dataRanges = ranges;
      filterPins.push_back(pin);
    }
    device = std::make_unique<vkx7::VirtualKsDevice>(description);
    device->Plug();
    HRESULT hr = E_FAIL;
    filter =
        std::make_unique<CKsAudRenFilter>(device->FilterPath(vkx7::kRenderFilter).c_str(), &hr);
    opened = filter->Instantiate();
    enumerated = filter->EnumeratePins();
  }
  CKsAudPin* Pin(ULONG index) {
    ULONG i = 0;
    for (CKsPin* pin : filter->m_RenderSinkPins) {
      if (i++ == index) return dynamic_cast<CKsAudPin*>(pin);
    }
    return nullptr;
  }

  std::unique_ptr<vkx7::VirtualKsDevice> device;
  std::unique_ptr<CKsAudRenFilter> filter;
  HRESULT opened = E_FAIL;
  HRESULT enumerated = E_FAIL;
};

TEST_F(AudioTest, MatchingRuleChannelsBitsRatesAndSubTypes) {
  CustomRender render(device, {{vkx7::AudioRange(2, 24, 24, 44100, 96000)},
                               {vkx7::AudioRange(8, 16, 32, 8000, 192000, GUID_NULL)},
                               {vkx7::AudioRange(2, 32, 32, 44100, 96000)}});
  ASSERT_EQ(render.enumerated, S_OK);
  CKsAudPin* pcm = render.Pin(0);
  CKsAudPin* wildcard = render.Pin(1);
  CKsAudPin* wide = render.Pin(2);
  ASSERT_TRUE(pcm && wildcard && wide);

  EXPECT_TRUE(pcm->IsFormatSupported(AsWfx(ExtensibleFormat(1, 48000))));
  EXPECT_TRUE(pcm->IsFormatSupported(AsWfx(ExtensibleFormat(2, 48000))));
  EXPECT_FALSE(pcm->IsFormatSupported(AsWfx(ExtensibleFormat(3, 48000))));
  const WAVEFORMATEX plain = PcmFormat(2, 48000);
  EXPECT_TRUE(pcm->IsFormatSupported(&plain));
  EXPECT_TRUE(wildcard->IsFormatSupported(&plain));

  // Both rate bounds are inclusive.
  EXPECT_TRUE(pcm->IsFormatSupported(AsWfx(ExtensibleFormat(2, 44100))));
  EXPECT_TRUE(pcm->IsFormatSupported(AsWfx(ExtensibleFormat(2, 96000))));
  EXPECT_FALSE(pcm->IsFormatSupported(AsWfx(ExtensibleFormat(2, 44099))));
  EXPECT_FALSE(pcm->IsFormatSupported(AsWfx(ExtensibleFormat(2, 96001))));

  // The container size counts, not the valid bits.
  EXPECT_FALSE(wide->IsFormatSupported(AsWfx(ExtensibleFormat(2, 48000, 24, 24))));
  EXPECT_TRUE(wide->IsFormatSupported(AsWfx(ExtensibleFormat(2, 48000, 32, 24))));

  // A float sub-type only fits the wildcard range.
  WAVEFORMATEXTENSIBLE ieee = ExtensibleFormat(2, 48000, 32, 32);
  ieee.SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
  EXPECT_FALSE(wide->IsFormatSupported(AsWfx(ieee)));
  EXPECT_TRUE(wildcard->IsFormatSupported(AsWfx(ieee)));

  // An extensible tag without room for the extension is not read past its 18 bytes.
  WAVEFORMATEX truncated = PcmFormat(2, 48000);
  truncated.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  truncated.cbSize = 0;
  EXPECT_FALSE(wildcard->IsFormatSupported(&truncated));
  EXPECT_FALSE(wildcard->IsFormatSupported(nullptr));
}

TEST_F(AudioTest, ConnectRecordFollowsTheFormat) {
  auto filter = OpenFilter<CKsAudRenFilter>(vkx7::kRenderFilter);
  CKsAudPin* pin = filter->FindViablePin(AsWfx(ExtensibleFormat(2, 48000)));
  ASSERT_NE(pin, nullptr);
  EXPECT_EQ(pin->m_cbPinCreateSize, sizeof(KSPIN_CONNECT) + 82u);
  EXPECT_EQ(pin->m_pksDataFormatWfx->FormatSize, 82u);
  EXPECT_EQ(pin->m_pksPinCreate->Priority.PriorityClass, KSPRIORITY_NORMAL);

  ASSERT_EQ(pin->SetFormat(AsWfx(ExtensibleFormat(2, 48000))), S_OK);
  EXPECT_EQ(pin->m_cbPinCreateSize, sizeof(KSPIN_CONNECT) + 104u);
  EXPECT_EQ(pin->m_pksDataFormatWfx->FormatSize, 104u);
  EXPECT_EQ(pin->m_pksDataFormatWfx->SampleSize, 6u);
  EXPECT_EQ(reinterpret_cast<BYTE*>(pin->m_pksPinCreate) + sizeof(KSPIN_CONNECT),
            reinterpret_cast<BYTE*>(pin->m_pksDataFormatWfx));

  // A PCM format's cbSize is not copied along: only its 18 bytes are.
  WAVEFORMATEX pcm[3] = {PcmFormat(1, 44100), {}, {}};
  pcm[0].cbSize = 22;
  std::memset(&pcm[1], 0xEE, sizeof pcm[1]);
  ASSERT_EQ(pin->SetFormat(&pcm[0]), S_OK);
  EXPECT_EQ(pin->m_cbPinCreateSize, sizeof(KSPIN_CONNECT) + 82u);
  EXPECT_EQ(pin->m_pksDataFormatWfx->FormatSize, 82u);
  EXPECT_EQ(pin->m_pksDataFormatWfx->SampleSize, 3u);
  EXPECT_EQ(std::memcmp(reinterpret_cast<BYTE*>(pin->m_pksPinCreate) + sizeof(KSPIN_CONNECT) + 64,
                        &pcm[0], 18),
            0);
  // The sub-type stays PCM whatever the format says; the saved copy is the format itself.
  EXPECT_TRUE(IsEqualGUID(pin->m_pksDataFormatWfx->SubFormat, KSDATAFORMAT_SUBTYPE_PCM));
  EXPECT_EQ(std::memcmp(pin->m_pWaveFormatEx, &pcm[0], 18), 0);
  EXPECT_EQ(pin->SetFormat(static_cast<const WAVEFORMATEX*>(nullptr)), E_FAIL);
}

TEST_F(AudioTest, RenderCreationFallsBackToEveryRenderSinkPin) {
  // The first pin fits but has no instance left; the second does not claim the format.
  CustomRender render(device, {{vkx7::AudioRange(2, 24, 24, 44100, 96000)},
                               {vkx7::AudioRange(2, 16, 16, 48000, 48000)}});
  ASSERT_EQ(render.enumerated, S_OK);
  render.device->SetPossibleInstances(vkx7::kRenderFilter, 0, 0);
  const WAVEFORMATEXTENSIBLE format = ExtensibleFormat(2, 48000);
  EXPECT_EQ(render.filter->CreateRenderPin(AsWfx(format), 0), nullptr);
  std::vector<ULONG> tried;
  for (const auto& connect : render.device->Record().connects) tried.push_back(connect.pinId);
  EXPECT_EQ(tried, (std::vector<ULONG>{0, 0, 1}));

  // With a 16-bit format the first fitting pin is the second one.
  const WAVEFORMATEX sixteen = PcmFormat(2, 48000, 16);
#ifndef _WIN32
  g_nKsTraceLevel = KS_TRACE_INFO;
#endif
  CKsAudPin* pin = render.filter->CreateRenderPin(&sixteen, KsStreamingModeStandard);
  ASSERT_NE(pin, nullptr);
  EXPECT_EQ(pin->GetId(), 1u);
#ifndef _WIN32
  EXPECT_NE(TakeTrace().find("Successfully instantiated Render Pin.  Handle = 0x"),
            std::string::npos);
  g_nKsTraceLevel = KS_TRACE_WARNING;
#endif
  EXPECT_TRUE(render.filter->CanCreateRenderPin(&sixteen));
  const WAVEFORMATEX mono8 = PcmFormat(1, 8000, 8);
  EXPECT_FALSE(render.filter->CanCreateRenderPin(&mono8));
#ifndef _WIN32
  EXPECT_EQ(TakeTrace(), "Could not find a Render pin that supports the given wave format");
#endif
}

TEST_F(AudioTest, CaptureCreationHasNoFallback) {
  auto filter = OpenFilter<CKsAudCapFilter>(vkx7::kCaptureFilter);
  device.SetPossibleInstances(vkx7::kCaptureFilter, vkx7::kStreamingPin, 0);
  EXPECT_EQ(filter->CreateCapturePin(AsWfx(ExtensibleFormat(1, 48000)), 1), nullptr);
  EXPECT_EQ(device.Record().connects.size(), 1u);
#ifndef _WIN32
  g_nKsTraceLevel = KS_TRACE_ERROR;
#endif
  EXPECT_EQ(filter->CreateCapturePin(AsWfx(ExtensibleFormat(2, 48000)), 1), nullptr);
  EXPECT_EQ(device.Record().connects.size(), 1u);
#ifndef _WIN32
  EXPECT_EQ(TakeTrace(), "Could not find a Capture pin that supports the given wave format");
#endif

  CKsPin* first = nullptr;
  EXPECT_EQ(filter->GetCapturePin(nullptr), E_POINTER);
  EXPECT_EQ(filter->GetCapturePin(&first), S_OK);
  EXPECT_EQ(first, filter->m_Pins.GetHead()->pData);
}

TEST_F(AudioTest, PlainPcmRetryWhenTheExtensibleFormatIsRefused) {
  device.RefuseExtensibleFormat(true);
  auto capture = OpenFilter<CKsAudCapFilter>(vkx7::kCaptureFilter);
  EXPECT_EQ(capture->CreateCapturePin(AsWfx(ExtensibleFormat(1, 44100)), 1), nullptr);
  const WAVEFORMATEX pcm = PcmFormat(1, 44100);
  CKsAudPin* pin = capture->CreateCapturePin(&pcm, KsStreamingModeStandard);
  ASSERT_NE(pin, nullptr);
  const auto connects = device.Record().connects;
  ASSERT_EQ(connects.size(), 2u);
  EXPECT_EQ(connects[0].connect.size(), sizeof(KSPIN_CONNECT) + 104u);
  EXPECT_NE(connects[0].result, 0u);
  ASSERT_EQ(connects[1].connect.size(), sizeof(KSPIN_CONNECT) + 82u);
  EXPECT_EQ(connects[1].result, 0u);
  WAVEFORMATEX sent;
  std::memcpy(&sent, connects[1].connect.data() + sizeof(KSPIN_CONNECT) + 64, sizeof sent);
  EXPECT_EQ(sent.nAvgBytesPerSec, 132300u);
  EXPECT_EQ(sent.nBlockAlign, 3u);
  KSPIN_CONNECT connect;
  std::memcpy(&connect, connects[1].connect.data(), sizeof connect);
  EXPECT_EQ(connect.Interface.Id, static_cast<ULONG>(KSINTERFACE_STANDARD_STREAMING));
  EXPECT_EQ(connect.PinId, vkx7::kStreamingPin);
}

TEST_F(AudioTest, EnumerationKeepsOnlyPinsWithCommunication) {
  auto filter = OpenFilter<CKsAudCapFilter>(vkx7::kCaptureFilter);
  ASSERT_EQ(filter->m_Pins.GetCount(), 1u);  // the bridge pin is not created
  CKsPin* pin = filter->m_Pins.GetHead()->pData;
  EXPECT_EQ(pin->GetType(), PinTypeCapture);
  EXPECT_NE(dynamic_cast<CKsAudCapPin*>(pin), nullptr);
  EXPECT_EQ(filter->m_CaptureSinkPins.GetCount(), 1u);

  device.Unplug();
  vkx7::DeviceDescription description = vkx7::Kx7Description(vkx7::Kx7Layout::TwoFilter);
  auto& pins = description.filters[vkx7::kCaptureFilter].pins;
  pins.erase(pins.begin());
  vkx7::VirtualKsDevice bridgesOnly(description);
  bridgesOnly.Plug();
  CKsAudCapFilter bare(bridgesOnly.FilterPath(vkx7::kCaptureFilter).c_str(), nullptr);
  ASSERT_EQ(bare.Instantiate(), S_OK);
#ifndef _WIN32
  g_nKsTraceLevel = 1;
#endif
  EXPECT_EQ(bare.EnumeratePins(), E_FAIL);
#ifndef _WIN32
  EXPECT_EQ(TakeTrace(), Joined({"Pin communication value doesn't make sense",
                                 "No valid pins found on the filter"}));
#endif
}

TEST_F(AudioTest, PinsWithoutStandardInterfaceMediumOrAudioRangesAreDiscarded) {
  device.Unplug();
  vkx7::DeviceDescription description = vkx7::Kx7Description(vkx7::Kx7Layout::TwoFilter);
  auto& pins = description.filters[vkx7::kRenderFilter].pins;
  vkx7::PinDescription model = pins[0];
  pins.clear();
  vkx7::PinDescription looped = model;
  looped.interfaces = {vkx7::StandardInterface(KSINTERFACE_STANDARD_LOOPED_STREAMING)};
  vkx7::PinDescription otherMedium = model;
  otherMedium.mediums[0].Id = 5;
  vkx7::PinDescription midi = model;
  midi.dataRanges = {vkx7::PlainRange(KSDATAFORMAT_TYPE_MUSIC, KSDATAFORMAT_SUBTYPE_MIDI,
                                      KSDATAFORMAT_SPECIFIER_NONE)};
  vkx7::PinDescription good = model;
  pins = {looped, otherMedium, midi, good};
  vkx7::VirtualKsDevice custom(description);
  custom.Plug();
  CKsAudRenFilter filter(custom.FilterPath(vkx7::kRenderFilter).c_str(), nullptr);
  ASSERT_EQ(filter.Instantiate(), S_OK);
  ASSERT_EQ(filter.EnumeratePins(), S_OK);
  ASSERT_EQ(filter.m_Pins.GetCount(), 1u);
  EXPECT_EQ(filter.m_Pins.GetHead()->pData->GetId(), 3u);
  EXPECT_FALSE(static_cast<CKsAudPin*>(filter.m_Pins.GetHead()->pData)->m_fLoopedPreferred);
}

TEST_F(AudioTest, MalformedRangeRepliesAreReadOnlyAsFarAsTheyAreWhole) {
  const std::vector<BYTE> good = vkx7::AudioRange(2, 24, 24, 44100, 96000);
  vkx7::PropertyMatch ranges;
  ranges.set = KSPROPSETID_Pin;
  ranges.id = KSPROPERTY_PIN_DATARANGES;
  ranges.filter = vkx7::kRenderFilter;
  ranges.pinId = vkx7::kStreamingPin;
  const WAVEFORMATEXTENSIBLE format = ExtensibleFormat(2, 48000);
  struct Case {
    const char* what;
    std::vector<BYTE> reply;
    ULONG keptRanges;  // audio ranges the pin keeps; the pin is discarded when none passed
    bool pinKept;
  };
  const std::vector<BYTE> shortAudio = WithFormatSize(
      std::vector<BYTE>(good.begin(), good.begin() + 64), 64);  // audio major, 64 bytes
  std::vector<BYTE> longer = good;  // four bytes more than a KSDATARANGE_AUDIO
  longer.resize(92, 0);
  longer = WithFormatSize(longer, 92);
  std::vector<BYTE> attributed = vkx7::AudioRange(2, 16, 16, 44100, 96000);
  vkx7::FlagAttributes(&attributed);
  const std::vector<BYTE> list = vkx7::AttributeList(KSDATAFORMAT_SPECIFIER_NONE, 4);  // 36 bytes
  std::vector<BYTE> goodAttributed = good;
  vkx7::FlagAttributes(&goodAttributed);
  std::vector<BYTE> hugeList = list;
  const ULONG hugeSize = 4096;
  std::memcpy(hugeList.data(), &hugeSize, sizeof hugeSize);
  const Case cases[] = {
      {"ranges on 8-byte boundaries", AlignedReply({longer, good}, 2), 2, true},
      {"an attribute list after its range", AlignedReply({attributed, list, good}, 3), 2, true},
      {"an attribute list running past the end", AlignedReply({goodAttributed, hugeList, good}, 3),
       1, true},
      {"count beyond the reply", RangesReply({good}, 3), 1, true},
      {"FormatSize 0", RangesReply({WithFormatSize(good, 0), good}, 2), 0, false},
      {"range running past the end", RangesReply({WithFormatSize(good, 200)}, 1), 0, false},
      {"range shorter than a header", RangesReply({WithFormatSize(good, 40), good}, 2), 0, false},
      {"audio range shorter than 88 bytes", RangesReply({shortAudio, good}, 2), 1, true},
      {"only a short audio range", RangesReply({shortAudio}, 1), 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    device.ClearPropertyFaults();
    device.ReplaceReply(ranges, c.reply);
    CKsAudRenFilter filter(device.FilterPath(vkx7::kRenderFilter).c_str(), nullptr);
    ASSERT_EQ(filter.Instantiate(), S_OK);
    filter.EnumeratePins();
    CKsAudPin* pin = filter.FindViablePin(AsWfx(format));
    if (!c.pinKept) {
      EXPECT_TRUE(filter.m_Pins.IsEmpty());
      continue;
    }
    ASSERT_EQ(filter.m_Pins.GetCount(), 1u);
    auto* kept = static_cast<CKsAudPin*>(filter.m_Pins.GetHead()->pData);
    EXPECT_EQ(kept->m_DataRanges.GetCount(), c.keptRanges);
    EXPECT_EQ(pin != nullptr, c.keptRanges != 0);
  }
}

}  // namespace
}  // namespace kx7test

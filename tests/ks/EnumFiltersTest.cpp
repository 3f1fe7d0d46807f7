// Filter enumeration by device-interface category, as the driver finds its capture and render
// filters among the machine's audio devices.
#include <algorithm>
#include <cctype>

#include "Kx7Fixture.h"

namespace kx7test {
namespace {

using EnumFiltersTest = Kx7Test;

const GUID kCapture[] = {KSCATEGORY_AUDIO, KSCATEGORY_CAPTURE};
const GUID kRender[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};

std::vector<std::string> Paths(const CKsEnumFilters& enumerator) {
  std::vector<std::string> paths;
  for (CKsFilter* filter : enumerator.m_Filters) paths.push_back(filter->m_szFilterName);
  return paths;
}

bool HasKx7Fragment(std::string path) {
  std::transform(path.begin(), path.end(), path.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return path.find("usb#vid_fa57&pid_0e1a") != std::string::npos;
}

TEST_F(EnumFiltersTest, FindsCaptureAndRenderFiltersInDiscoveryOrder) {
  vkx7::VirtualKsDevice other(vkx7::OtherAudioDescription());
  other.Plug();
  HRESULT hr = E_FAIL;
  CKsEnumFilters capture(&hr);
  ASSERT_EQ(hr, S_OK);
  ASSERT_EQ(capture.EnumFilters(FilterTypeCapture, kCapture, 2, TRUE, FALSE, TRUE), S_OK);
  EXPECT_EQ(Paths(capture), (std::vector<std::string>{device.FilterPath(vkx7::kCaptureFilter),
                                                      other.FilterPath(vkx7::kCaptureFilter)}));
  CKsFilter* first = capture.m_Filters.GetHead()->pData;
  EXPECT_EQ(first->GetType(), FilterTypeCapture);
  EXPECT_NE(dynamic_cast<CKsAudCapFilter*>(first), nullptr);
  EXPECT_STREQ(first->m_szFriendlyName, "Microphone (NORVA KX-7)");
  EXPECT_TRUE(HasKx7Fragment(first->m_szFilterName));
  EXPECT_FALSE(HasKx7Fragment(capture.m_Filters.GetTail()->pData->m_szFilterName));

  CKsEnumFilters render(&hr);
  ASSERT_EQ(render.EnumFilters(FilterTypeRender, kRender, 2, TRUE, FALSE, TRUE), S_OK);
  ASSERT_EQ(render.m_Filters.GetCount(), 2u);
  EXPECT_EQ(render.m_Filters.GetHead()->pData->GetType(), FilterTypeRender);
  EXPECT_TRUE(HasKx7Fragment(render.m_Filters.GetHead()->pData->m_szFilterName));
  // The path handed to the filter is the one of the first category, not of the alias.
  EXPECT_NE(std::string(render.m_Filters.GetHead()->pData->m_szFilterName)
                .find("{6994ad04-93ef-11d0-a3cc-00a0c9223196}"),
            std::string::npos);
}

TEST_F(EnumFiltersTest, TheClassDriversSingleFilterServesBothEnumerationsWithItsOwnPins) {
  device.Unplug();
  vkx7::VirtualKx7 usb(vkx7::Kx7Layout::UsbAudio);
  usb.Plug();
  CKsEnumFilters capture(nullptr);
  CKsEnumFilters render(nullptr);
  ASSERT_EQ(capture.EnumFilters(FilterTypeCapture, kCapture, 2, TRUE, FALSE, TRUE), S_OK);
  ASSERT_EQ(render.EnumFilters(FilterTypeRender, kRender, 2, TRUE, FALSE, TRUE), S_OK);
  ASSERT_EQ(Paths(capture), std::vector<std::string>{usb.FilterPath(0)});
  ASSERT_EQ(Paths(render), std::vector<std::string>{usb.FilterPath(0)});
  // The same path opened twice; each side creates its own pin, and they stream independently.
  auto* captureFilter = static_cast<CKsAudCapFilter*>(capture.m_Filters.GetHead()->pData);
  auto* renderFilter = static_cast<CKsAudRenFilter*>(render.m_Filters.GetHead()->pData);
  EXPECT_EQ(captureFilter->m_CaptureSinkPins.GetCount(), 1u);
  EXPECT_EQ(renderFilter->m_RenderSinkPins.GetCount(), 1u);
  const WAVEFORMATEXTENSIBLE mono = ExtensibleFormat(1, 96000);
  const WAVEFORMATEXTENSIBLE stereo = ExtensibleFormat(2, 96000);
  CKsAudPin* capturePin = captureFilter->CreateCapturePin(AsWfx(mono), KsStreamingModeStandard);
  CKsAudPin* renderPin = renderFilter->CreateRenderPin(AsWfx(stereo), KsStreamingModeDefault);
  ASSERT_NE(capturePin, nullptr);
  ASSERT_NE(renderPin, nullptr);
  EXPECT_EQ(capturePin->GetId(), 3u);
  EXPECT_EQ(renderPin->GetId(), 0u);
  // The 16-bit range with its attribute list is read past: both ranges are kept.
  EXPECT_EQ(capturePin->m_DataRanges.GetCount(), 2u);
  ASSERT_EQ(capturePin->SetState(KSSTATE_RUN), S_OK);
  EXPECT_EQ(usb.PinState(vkx7::Direction::Capture), KSSTATE_RUN);
  EXPECT_EQ(usb.PinState(vkx7::Direction::Render), KSSTATE_STOP);
}

TEST_F(EnumFiltersTest, OneCategoryAsksForNoAliasAndOtherKindsArePlainFilters) {
  vk::InterfaceDescription noAlias =
      vkx7::Kx7Description(vkx7::Kx7Layout::TwoFilter).filters[0].deviceInterface;
  noAlias.categories.resize(1);
  device.SetInterface(vkx7::kCaptureFilter, noAlias);
  CKsEnumFilters enumerator(nullptr);
  ASSERT_EQ(enumerator.EnumFilters(7, kCapture, 1, FALSE, FALSE, FALSE), S_OK);
  ASSERT_EQ(enumerator.m_Filters.GetCount(), 2u);
  for (CKsFilter* filter : enumerator.m_Filters) {
    EXPECT_EQ(dynamic_cast<CKsAudFilter*>(filter), nullptr);
    EXPECT_EQ(filter->GetType(), FilterTypeUnknown);
    // With all three flags clear the filter is kept without being opened.
    EXPECT_EQ(filter->GetHandle(), INVALID_HANDLE_VALUE);
  }
}

TEST_F(EnumFiltersTest, MissingOrDisabledAliasesSkipTheInterface) {
  struct Case {
    const char* what;
    bool listed;
    DWORD flags;
    const char* message;
  };
  const Case cases[] = {
      {"not registered", false, 0, "Failed to get requested DeviceInterfaceAlias"},
      {"disabled", true, 0, "DeviceInterfaceAlias disabled."},
      {"removed", true, SPINT_ACTIVE | SPINT_REMOVED, "DeviceInterfaceAlias disabled."}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    vk::InterfaceDescription description =
        vkx7::Kx7Description(vkx7::Kx7Layout::TwoFilter).filters[0].deviceInterface;
    if (c.listed) {
      description.categories[1].flags = c.flags;
    } else {
      description.categories.resize(1);
    }
    device.SetInterface(vkx7::kCaptureFilter, description);
    CKsEnumFilters enumerator(nullptr);
#ifndef _WIN32
    g_nKsTraceLevel = 5;
    TakeTrace();
#endif
    EXPECT_EQ(enumerator.EnumFilters(FilterTypeCapture, kCapture, 2, TRUE, FALSE, TRUE), E_FAIL);
#ifndef _WIN32
    g_nKsTraceLevel = 0;
    // The render filter, listed under the audio category too, has no capture alias at all.
    EXPECT_EQ(TakeTrace(), std::string(c.message) + "Failed to get requested DeviceInterfaceAlias");
#endif
    EXPECT_TRUE(enumerator.m_Filters.IsEmpty());
  }
}

TEST_F(EnumFiltersTest, FilterThatFailsIsDroppedAndEnumerationGoesOn) {
  device.Unplug();
  vkx7::DeviceDescription broken = vkx7::Kx7Description(vkx7::Kx7Layout::TwoFilter);
  broken.filters[vkx7::kCaptureFilter].deviceInterface.instanceId = "USB#VID_FA57&PID_0E1A&MI_02#9";
  broken.filters[vkx7::kCaptureFilter].pins.erase(
      broken.filters[vkx7::kCaptureFilter].pins.begin());
  vkx7::VirtualKsDevice first(broken);
  first.Plug();
  device.Plug();
  CKsEnumFilters enumerator(nullptr);
#ifndef _WIN32
  g_nKsTraceLevel = 1;
#endif
  ASSERT_EQ(enumerator.EnumFilters(FilterTypeCapture, kCapture, 2, TRUE, FALSE, TRUE), S_OK);
#ifndef _WIN32
  const std::string trace = TakeTrace();
  EXPECT_NE(trace.find("Failed to create filter for " + first.FilterPath(vkx7::kCaptureFilter)),
            std::string::npos);
#endif
  EXPECT_EQ(Paths(enumerator), (std::vector<std::string>{device.FilterPath(vkx7::kCaptureFilter)}));
}

TEST_F(EnumFiltersTest, NamesThatAreMissingStayEmpty) {
  for (bool keyMissing : {false, true}) {
    vk::InterfaceDescription description =
        vkx7::Kx7Description(vkx7::Kx7Layout::TwoFilter).filters[0].deviceInterface;
    description.hasFriendlyName = false;
    description.hasRegistryKey = !keyMissing;
    device.SetInterface(vkx7::kCaptureFilter, description);
    CKsEnumFilters enumerator(nullptr);
    ASSERT_EQ(enumerator.EnumFilters(FilterTypeCapture, kCapture, 2, TRUE, FALSE, TRUE), S_OK);
    EXPECT_STREQ(enumerator.m_Filters.GetHead()->pData->m_szFriendlyName, "");
  }
}

TEST_F(EnumFiltersTest, EveryCallStartsAfreshAndReleasesWhatItHad) {
  CKsEnumFilters enumerator(nullptr);
  ASSERT_EQ(enumerator.EnumFilters(FilterTypeRender, kRender, 2, TRUE, TRUE, TRUE), S_OK);
  auto* filter = static_cast<CKsAudRenFilter*>(enumerator.m_Filters.GetHead()->pData);
  EXPECT_EQ(filter->m_Nodes.GetCount(), 3u);
  ASSERT_NE(filter->CreateRenderPin(AsWfx(ExtensibleFormat(2, 48000)), 0), nullptr);
  const size_t openWithPin = vk::OpenHandleCount();
  ASSERT_EQ(enumerator.EnumFilters(FilterTypeRender, kRender, 2, TRUE, TRUE, TRUE), S_OK);
  EXPECT_EQ(vk::OpenHandleCount(), openWithPin - 1);  // the pin of the first call is gone
  EXPECT_EQ(device.PinState(vkx7::kRenderFilter, vkx7::kStreamingPin), -1);

  device.Unplug();
  EXPECT_EQ(enumerator.EnumFilters(FilterTypeRender, kRender, 2, TRUE, FALSE, TRUE), E_FAIL);
  EXPECT_TRUE(enumerator.m_Filters.IsEmpty());
  EXPECT_EQ(enumerator.EnumFilters(FilterTypeRender, nullptr, 2, TRUE, FALSE, TRUE), E_FAIL);
  const GUID nothing[] = {GUID_NULL};
  EXPECT_EQ(enumerator.EnumFilters(FilterTypeRender, nothing, 1, TRUE, FALSE, TRUE), E_FAIL);
}

}  // namespace
}  // namespace kx7test

// The choice of the KX-7's filters and pin formats that the driver and the diagnosis share.
#include <cstring>
#include <memory>
#include <string>

#include "Kx7Fixture.h"

namespace kx7test {
namespace {

TEST(DeviceChoice, TheHardwareIdIsFoundInAnyLetterCaseWithinAPathsLength) {
  EXPECT_TRUE(KsPathHasHardwareId("\\\\?\\USB#VID_FA57&PID_0E1A&MI_00#7&2a#{x}\\global",
                                  g_szKx7HardwareId));
  EXPECT_FALSE(KsPathHasHardwareId("\\\\?\\usb#vid_fa57&pid_0e1b#7", g_szKx7HardwareId));
  EXPECT_FALSE(KsPathHasHardwareId(nullptr, g_szKx7HardwareId));
  // Only what fits a path buffer counts: a fragment starting past it is not seen.
  const std::string longPath = std::string(MAX_PATH - 5, 'x') + "usb#vid_fa57&pid_0e1a";
  EXPECT_FALSE(KsPathHasHardwareId(longPath.c_str(), g_szKx7HardwareId));
}

TEST(DeviceChoice, TheKx7FormatsArePackedOrPaddedTwentyFourBitPcm) {
  const WAVEFORMATEXTENSIBLE capture = KsKx7CaptureFormat(44100);
  const WAVEFORMATEXTENSIBLE expected = ExtensibleFormat(1, 44100);
  EXPECT_EQ(std::memcmp(&capture, &expected, sizeof capture), 0);
  EXPECT_EQ(capture.Format.nAvgBytesPerSec, 132300u);

  const WAVEFORMATEXTENSIBLE render = KsKx7RenderFormat(44100);
  EXPECT_EQ(render.Format.nAvgBytesPerSec, 264600u);
  EXPECT_EQ(render.dwChannelMask, static_cast<DWORD>(SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT));

  // 24 valid bits in 32-bit containers.
  const WAVEFORMATEXTENSIBLE padded = KsKx7RenderFormat(96000, 32);
  EXPECT_EQ(padded.Format.nBlockAlign, 8);
  EXPECT_EQ(padded.Format.nAvgBytesPerSec, 768000u);
  EXPECT_EQ(padded.Format.wBitsPerSample, 32);
  EXPECT_EQ(padded.Samples.wValidBitsPerSample, 24);

  WAVEFORMATEXTENSIBLE plain = KsKx7CaptureFormat(48000);
  KsMakePlainPcm(&plain);
  const WAVEFORMATEX expectedPlain = PcmFormat(1, 48000);
  EXPECT_EQ(std::memcmp(&plain.Format, &expectedPlain, sizeof expectedPlain), 0);
  EXPECT_EQ(plain.dwChannelMask, 0u);
}

TEST(DeviceChoice, TheFirstFilterOfTheKindWithTheHardwareIdIsChosen) {
  const size_t handles = vk::OpenHandleCount();
  vkx7::VirtualKsDevice other(vkx7::OtherAudioDescription());
  other.Plug();
  vkx7::VirtualKx7 device(vkx7::Kx7Layout::TwoFilter);
  device.Plug();
  {
    std::unique_ptr<CKsEnumFilters> enumerator(KsNewEnumFilters());
    ASSERT_NE(enumerator, nullptr);
    CKsFilter* capture = KsFindDeviceFilter(enumerator.get(), FilterTypeCapture, KSCATEGORY_CAPTURE,
                                            g_szKx7HardwareId, TRUE);
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(std::string(capture->m_szFilterName), device.FilterPath(vkx7::kCaptureFilter));
    EXPECT_EQ(enumerator->m_Filters.GetCount(), 2u) << "both capture filters were enumerated";
    EXPECT_EQ(KsFindDeviceFilter(enumerator.get(), FilterTypeCapture, KSCATEGORY_REALTIME,
                                 g_szKx7HardwareId, FALSE),
              nullptr);
  }
  EXPECT_EQ(vk::OpenHandleCount(), handles);
}

TEST(DeviceChoice, ALoopedOnlyFilterIsSeenByItsPathButNotOpenedForStreaming) {
  vkx7::VirtualKx7 device(vkx7::Kx7Layout::UsbAudio2);
  device.Plug();
  std::unique_ptr<CKsEnumFilters> enumerator(KsNewEnumFilters());
  EXPECT_EQ(KsFindDeviceFilter(enumerator.get(), FilterTypeRender, KSCATEGORY_RENDER,
                               g_szKx7HardwareId, TRUE),
            nullptr);
  EXPECT_NE(KsFindDeviceFilter(enumerator.get(), FilterTypeUnknown, KSCATEGORY_REALTIME,
                               g_szKx7HardwareId, FALSE),
            nullptr);
}

}  // namespace
}  // namespace kx7test

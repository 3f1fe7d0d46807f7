// The virtual KX-7 as the DLL of the virtual-device build carries it: absent until devices are
// enumerated, then present once however often they are enumerated, clocked in real time while
// it is open, and looping the rendered left channel back to the microphone.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../ks/Kx7Fixture.h"
#include "ks/KsLayer.h"
#include "platform/device_access.h"
#include "product/Kx7Facts.h"
#include "virtual_device/VirtualKsDevice.h"

namespace {

const GUID kCapture[] = {KSCATEGORY_AUDIO, KSCATEGORY_CAPTURE};
const GUID kRender[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};

// A wait long enough for any scheduler; the clock itself needs about a millisecond per packet.
constexpr DWORD kPatience = 10000;

// The DLL's KX-7 shows itself as the USB audio class driver does: one filter for both directions.
std::string Kx7Path() {
  const vk::InterfaceDescription deviceInterface =
      vkx7::Kx7Description().filters[0].deviceInterface;
  return vk::InterfacePath(deviceInterface, deviceInterface.categories[0].category);
}

// Each test may run in a process of its own or after the others: the device is process-wide.
TEST(EmbeddedKx7, AbsentUntilDevicesAreEnumeratedThenPresentOnce) {
  HANDLE before = CreateFileA(Kx7Path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  EXPECT_EQ(before, INVALID_HANDLE_VALUE);
  if (before != INVALID_HANDLE_VALUE) CloseHandle(before);

  for (int round = 0; round < 2; ++round) {
    CKsEnumFilters capture(nullptr);
    ASSERT_EQ(capture.EnumFilters(FilterTypeCapture, kCapture, 2, TRUE, FALSE, TRUE), S_OK);
    ASSERT_EQ(capture.m_Filters.GetCount(), 1u) << "round " << round;
    EXPECT_EQ(std::string(capture.m_Filters.GetHead()->pData->m_szFilterName), Kx7Path());
    CKsEnumFilters render(nullptr);
    ASSERT_EQ(render.EnumFilters(FilterTypeRender, kRender, 2, TRUE, FALSE, TRUE), S_OK);
    ASSERT_EQ(render.m_Filters.GetCount(), 1u) << "round " << round;
    EXPECT_EQ(std::string(render.m_Filters.GetHead()->pData->m_szFilterName), Kx7Path());
  }
  EXPECT_EQ(vk::OpenFileCount(), 0u);
}

// Both pins run at 48000 Hz with no one stepping the clock; a level written to the left channel
// comes back on the microphone, and this works again after everything was closed.
TEST(EmbeddedKx7, StreamsInRealTimeWhileOpenAndLoopsTheLeftChannelBack) {
  constexpr int32_t kLevel = 0x123456;
  {
    CKsEnumFilters enumerator(nullptr);  // plugs the device in
    ASSERT_EQ(enumerator.EnumFilters(FilterTypeCapture, kCapture, 2, TRUE, FALSE, TRUE), S_OK);
  }
  for (int round = 0; round < 2; ++round) {
    HRESULT hr = E_FAIL;
    auto capture = std::make_unique<CKsAudCapFilter>(Kx7Path().c_str(), &hr);
    auto render = std::make_unique<CKsAudRenFilter>(Kx7Path().c_str(), &hr);
    ASSERT_EQ(capture->Instantiate(), S_OK);
    ASSERT_EQ(render->Instantiate(), S_OK);
    ASSERT_EQ(capture->EnumeratePins(), S_OK);
    ASSERT_EQ(render->EnumeratePins(), S_OK);
    const WAVEFORMATEXTENSIBLE mono = kx7test::ExtensibleFormat(1, 48000);
    const WAVEFORMATEXTENSIBLE stereo = kx7test::ExtensibleFormat(2, 48000);
    CKsAudPin* capturePin = capture->CreateCapturePin(kx7test::AsWfx(mono), 1);
    CKsAudPin* renderPin = render->CreateRenderPin(kx7test::AsWfx(stereo), 0);
    ASSERT_NE(capturePin, nullptr);
    ASSERT_NE(renderPin, nullptr);
    ASSERT_EQ(capturePin->SetState(KSSTATE_PAUSE), S_OK);
    ASSERT_EQ(renderPin->SetState(KSSTATE_PAUSE), S_OK);

    // 64 render packets of the level (left) and silence (right): far longer than the delay.
    std::vector<std::unique_ptr<kx7test::TestPacket>> writes;
    for (int i = 0; i < 64; ++i) {
      writes.push_back(std::make_unique<kx7test::TestPacket>(kx7::kRenderPacketBytes, true));
      for (size_t frame = 0; frame < 64; ++frame) {
        BYTE* left = &writes.back()->data[frame * 6];
        left[0] = kLevel & 0xFF;
        left[1] = (kLevel >> 8) & 0xFF;
        left[2] = (kLevel >> 16) & 0xFF;
      }
      ASSERT_EQ(renderPin->WriteData(&writes.back()->header, &writes.back()->overlapped), S_OK);
    }
    std::vector<std::unique_ptr<kx7test::TestPacket>> reads;
    for (int i = 0; i < 32; ++i) {
      reads.push_back(std::make_unique<kx7test::TestPacket>(kx7::kCapturePacketBytes, false));
      ASSERT_EQ(capturePin->ReadData(&reads.back()->header, &reads.back()->overlapped), S_OK);
    }
    ASSERT_EQ(renderPin->SetState(KSSTATE_RUN), S_OK);
    ASSERT_EQ(capturePin->SetState(KSSTATE_RUN), S_OK);

    bool heard = false;
    for (auto& read : reads) {
      ASSERT_TRUE(read->Done(kPatience)) << "round " << round << ": the clock does not run";
      for (size_t frame = 0; frame < 64; ++frame) {
        const BYTE* p = &read->data[frame * 3];
        heard = heard || (p[0] | (p[1] << 8) | (p[2] << 16)) == kLevel;
      }
    }
    EXPECT_TRUE(heard) << "round " << round;
    capturePin->SetState(KSSTATE_STOP);
    renderPin->SetState(KSSTATE_STOP);
    for (auto& write : writes) EXPECT_TRUE(write->Done(kPatience));
    capture.reset();
    render.reset();
    EXPECT_EQ(vk::OpenFileCount(), 0u);
  }
}

}  // namespace

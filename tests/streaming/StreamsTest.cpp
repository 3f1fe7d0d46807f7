// The capture and render streams on pins of the virtual KX-7: what they queue, what they hand
// out, and that their storage outlives every request the pin still holds.
#include <cstring>
#include <memory>

#include "ks/Kx7Fixture.h"
#include "product/Kx7Facts.h"
#include "streaming/InputCaptureKS.h"
#include "streaming/OutputRenderKS.h"

namespace kx7test {
namespace {

class StreamsTest : public Kx7Test {
 protected:
  void SetUp() override {
    Kx7Test::SetUp();
    captureFilter = OpenFilter<CKsAudCapFilter>(vkx7::kCaptureFilter);
    renderFilter = OpenFilter<CKsAudRenFilter>(vkx7::kRenderFilter);
    const WAVEFORMATEXTENSIBLE mono = ExtensibleFormat(1, 48000);
    const WAVEFORMATEXTENSIBLE stereo = ExtensibleFormat(2, 48000);
    capturePin = captureFilter->CreateCapturePin(AsWfx(mono), KsStreamingModeStandard);
    renderPin = renderFilter->CreateRenderPin(AsWfx(stereo), KsStreamingModeDefault);
    ASSERT_NE(capturePin, nullptr);
    ASSERT_NE(renderPin, nullptr);
  }
  void TearDown() override {
    captureFilter.reset();
    renderFilter.reset();
    Kx7Test::TearDown();
  }

  std::unique_ptr<CInputCaptureKS> NewCapture() {
    HRESULT hr = E_FAIL;
    auto stream = std::make_unique<CInputCaptureKS>(4, 64, capturePin, &hr);
    EXPECT_EQ(hr, S_OK);
    return stream;
  }
  std::unique_ptr<COutputRenderKS> NewRender(uint32_t primed = 4) {
    HRESULT hr = E_FAIL;
    auto stream = std::make_unique<COutputRenderKS>(4, 128, renderPin, &hr, primed);
    EXPECT_EQ(hr, S_OK);
    return stream;
  }

  std::unique_ptr<CKsAudCapFilter> captureFilter;
  std::unique_ptr<CKsAudRenFilter> renderFilter;
  CKsAudPin* capturePin = nullptr;
  CKsAudPin* renderPin = nullptr;
};

TEST_F(StreamsTest, CaptureHandsOutEachPacketOnceAndInOrder) {
  device.SetMicrophone(vkx7::MicrophoneSource::Tone(1000.0, 0.5));
  auto capture = NewCapture();
  EXPECT_EQ(device.PinState(vkx7::kCaptureFilter, vkx7::kStreamingPin), KSSTATE_PAUSE);
  EXPECT_EQ(device.QueuedReads(), 4u);
  EXPECT_EQ(capture->GetData(), nullptr) << "no packet is current before the first wait";
  EXPECT_EQ(capture->GetFrameCount(), 0u);
  EXPECT_FALSE(capture->WaitPacket(0)) << "still pending";

  capture->Start();
  device.Step(1);
  ASSERT_TRUE(capture->WaitPacket(0));
  EXPECT_EQ(capture->GetFrameCount(), 64u);
  const int32_t* data = capture->GetData();
  ASSERT_NE(data, nullptr);
  std::vector<int32_t> first(data, data + 64);
  EXPECT_EQ(std::vector<int32_t>(capture->GetData(), capture->GetData() + 64), first)
      << "a second GetData does not convert again";
  bool leftJustified = true;
  for (int32_t sample : first) leftJustified = leftJustified && (sample & 0xFF) == 0;
  EXPECT_TRUE(leftJustified);
  EXPECT_FALSE(capture->WaitPacket(0)) << "the current packet goes back first";

  capture->ReleasePacket();
  capture->ReleasePacket();
  EXPECT_EQ(device.QueuedReads(), 4u) << "a second release queues nothing";
  for (int i = 0; i < 7; ++i) {
    device.Step(1);
    ASSERT_TRUE(capture->WaitPacket(0)) << i;
    EXPECT_EQ(capture->GetFrameCount(), 64u);
    capture->ReleasePacket();
  }
  EXPECT_EQ(device.CaptureOverruns(), 0u);
}

TEST_F(StreamsTest, DestroyingAStreamWithRequestsQueuedWaitsForTheirCancellation) {
  {
    auto capture = NewCapture();
    auto render = NewRender();
    render->Start();
    capture->Start();
    device.Step(1);
  }
  EXPECT_EQ(device.QueuedReads(), 0u);
  EXPECT_EQ(device.QueuedWrites(), 0u);
  EXPECT_EQ(device.PinState(vkx7::kRenderFilter, vkx7::kStreamingPin), KSSTATE_STOP);
}

// Cancelled requests cost nothing of the ring's release bound, however deep the ring: each is
// taken back and the storage freed (the sanitizer build's leak check sees storage kept).
TEST_F(StreamsTest, ADeepRingIsFreedOnceItsCancelledRequestsAreBack) {
  {
    HRESULT hr = E_FAIL;
    CInputCaptureKS capture(67, 64, capturePin, &hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(device.QueuedReads(), 67u);
    capture.Start();
    device.Step(1);
  }
  EXPECT_EQ(device.QueuedReads(), 0u);
  EXPECT_EQ(device.PinState(vkx7::kCaptureFilter, vkx7::kStreamingPin), KSSTATE_STOP);
}

// Packets beyond the primed ones start free: they are filled first, after the primed silence.
TEST_F(StreamsTest, RenderPrimesPartOfItsRingAndFillsTheFreePacketsFirst) {
  auto render = NewRender(2);
  EXPECT_EQ(device.QueuedWrites(), 2u);
  EXPECT_EQ(render->FreePackets(), 2u);
  EXPECT_FALSE(render->WaitPacket(0)) << "the primed packets are still at the device";
  int32_t block[128] = {};
  block[0] = 0x7F000000;
  render->WriteFrames(block);
  render->Submit();
  EXPECT_EQ(render->FreePackets(), 1u);
  render->Start();
  device.Step(3);
  const std::vector<BYTE> played = device.RenderedBytes();
  ASSERT_EQ(played.size(), 3u * kx7::kRenderPacketBytes);
  EXPECT_EQ(played[2 * kx7::kRenderPacketBytes + 2], 0x7F) << "after the two primed packets";
  for (int packet = 0; packet < 3; ++packet) ASSERT_TRUE(render->WaitPacket(0)) << packet;
  EXPECT_EQ(render->FreePackets(), 4u);
}

TEST_F(StreamsTest, RenderQueuesSilenceThenPacksTheLoopsBlocks) {
  auto render = NewRender();
  EXPECT_EQ(device.QueuedWrites(), 4u);
  render->Start();
  device.Step(4);
  const std::vector<BYTE> silence = device.RenderedBytes();
  ASSERT_EQ(silence.size(), 4u * kx7::kRenderPacketBytes);
  for (BYTE b : silence) ASSERT_EQ(b, 0);

  int32_t block[128] = {};
  block[0] = 0x12345678;
  block[1] = 0x00000100;
  for (int packet = 0; packet < 5; ++packet) {
    ASSERT_TRUE(render->WaitPacket(0)) << packet;
    render->WriteFrames(block);
    render->Submit();
    if (packet < 4) device.Step(1);
  }
  device.Step(1);  // plays the fifth submission: every packet has come back
  for (int packet = 0; packet < 4; ++packet) ASSERT_TRUE(render->WaitPacket(0)) << packet;
  EXPECT_EQ(render->FreePackets(), 4u);
  EXPECT_FALSE(render->WaitPacket(0)) << "nothing is at the device";
  EXPECT_EQ(render->AwaitedEvent(), nullptr) << "nothing to wake for";
  const std::vector<BYTE> played = device.RenderedBytes();
  const BYTE expected[6] = {0x56, 0x34, 0x12, 0x01, 0x00, 0x00};
  EXPECT_EQ(std::memcmp(played.data() + 4 * kx7::kRenderPacketBytes, expected, 6), 0);
}

TEST_F(StreamsTest, RequestsGoBackWithCleanHeadersAndAPinThatWillNotPauseFailsTheStream) {
  // A driver that completes a read still stamped from its last completion hands it back empty.
  device.SetStrictHeaders(true);
  auto capture = NewCapture();
  auto render = NewRender();
  render->Start();
  capture->Start();
  for (int i = 0; i < 12; ++i) {
    device.Step(1);
    ASSERT_TRUE(capture->WaitPacket(0)) << i;
    EXPECT_EQ(capture->GetFrameCount(), 64u) << i;
    capture->ReleasePacket();
    ASSERT_TRUE(render->WaitPacket(0)) << i;
    render->Submit();
  }
  EXPECT_EQ(device.CaptureOverruns(), 0u);
  EXPECT_EQ(device.RenderUnderruns(), 0u);
  capture.reset();
  render.reset();

  device.RefuseBandwidth(vkx7::Direction::Capture, true);
  HRESULT hr = S_OK;
  CInputCaptureKS refused(4, 64, capturePin, &hr);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(device.QueuedReads(), 0u) << "nothing is queued on a pin that stayed stopped";
  device.RefuseBandwidth(vkx7::Direction::Capture, false);
}

TEST_F(StreamsTest, ALoopedPinGetsNoWrites) {
  auto render = NewRender();
  render->Start();
  device.Step(1);
  renderPin->m_fLoopedPreferred = TRUE;
  const HANDLE event = render->AwaitedEvent();
  ASSERT_TRUE(render->WaitPacket(0));
  render->Submit();
  EXPECT_EQ(device.QueuedWrites(), 3u);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "a packet not sent wakes nobody";
  renderPin->m_fLoopedPreferred = FALSE;
}

TEST_F(StreamsTest, ACompletionIsReadFromItsRequestAndALateSignalWakesNothing) {
  auto render = NewRender();
  render->Start();
  device.Step(1);
  const HANDLE event = render->AwaitedEvent();
  ASSERT_TRUE(render->WaitPacket(0));
  render->Submit();
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "sending it again cleared the event";
  // The signal of the completion taken above lands only now, after the packet went out again.
  SetEvent(event);
  device.Step(3);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(render->WaitPacket(0)) << i;
    render->Submit();
  }
  ASSERT_EQ(render->AwaitedEvent(), event);
  EXPECT_FALSE(render->WaitPacket(0)) << "the packet is still playing";
  render->DismissWake();
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  SetEvent(event);
  EXPECT_FALSE(render->WaitPacket(20)) << "a wait woken by a late signal takes no pending packet";
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  device.Step(1);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(render->WaitPacket(0));
}

}  // namespace
}  // namespace kx7test

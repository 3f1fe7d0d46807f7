// The I/O-control primitive, property requests and the trace convention, against the filters
// and pins of the virtual KX-7.
#include <thread>

#include "Kx7Fixture.h"

namespace kx7test {
namespace {

using IrpTargetTest = Kx7Test;

KSP_PIN PinProperty(ULONG id, ULONG pinId) {
  KSP_PIN property = {};
  property.Property.Set = KSPROPSETID_Pin;
  property.Property.Id = id;
  property.Property.Flags = KSPROPERTY_TYPE_GET;
  property.PinId = pinId;
  return property;
}

TEST_F(IrpTargetTest, InvalidHandlesFailWithoutTouchingTheCount) {
  for (HANDLE handle : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
    ULONG count = 1234;
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, nullptr, 0, nullptr, 0, &count),
              E_FAIL);
    EXPECT_EQ(count, 1234u);
  }
}

TEST_F(IrpTargetTest, SizeQueryOnlyForPropertiesWithoutOutputRoom) {
  CKsFilter filter(device.FilterPath(vkx7::kRenderFilter).c_str(), nullptr);
  ASSERT_EQ(filter.Instantiate(), S_OK);
  KSP_PIN property = PinProperty(KSPROPERTY_PIN_DATARANGES, vkx7::kStreamingPin);
  ULONG count = 0;
  // Two 88-byte ranges behind the 8-byte header.
  EXPECT_EQ(CKsIrpTarget::SyncIoctl(filter.GetHandle(), IOCTL_KS_PROPERTY, &property,
                                    sizeof property, nullptr, 0, &count),
            S_OK);
  EXPECT_EQ(count, 8u + 2 * 88u);
  BYTE small[16];
  count = 77;
  EXPECT_EQ(CKsIrpTarget::SyncIoctl(filter.GetHandle(), IOCTL_KS_PROPERTY, &property,
                                    sizeof property, small, sizeof small, &count),
            E_FAIL);
  EXPECT_EQ(count, 0u);
  // The filter refuses a reset request: an ordinary failure.
  ULONG reset = KSRESET_BEGIN;
  count = 77;
  EXPECT_EQ(CKsIrpTarget::SyncIoctl(filter.GetHandle(), IOCTL_KS_RESET_STATE, &reset, sizeof reset,
                                    nullptr, 0, &count),
            E_FAIL);
  EXPECT_EQ(count, 0u);
}

TEST_F(IrpTargetTest, PendingRequestIsWaitedForAndReportsItsCount) {
  auto filter = OpenFilter<CKsAudCapFilter>(vkx7::kCaptureFilter);
  const WAVEFORMATEXTENSIBLE format = ExtensibleFormat(1, 48000);
  CKsAudPin* pin = filter->CreateCapturePin(AsWfx(format), KsStreamingModeStandard);
  ASSERT_NE(pin, nullptr);
  ASSERT_EQ(pin->SetState(KSSTATE_RUN), S_OK);
  TestPacket packet(192, false);
  std::thread clock([this] {
    for (int i = 0; i < 5000 && device.QueuedReads() == 0; ++i) Sleep(1);
    device.Step();
  });
  ULONG count = 99;
  EXPECT_EQ(CKsIrpTarget::SyncIoctl(pin->GetHandle(), IOCTL_KS_READ_STREAM, nullptr, 0,
                                    &packet.header, sizeof packet.header, &count),
            S_OK);
  clock.join();
  EXPECT_EQ(count, sizeof packet.header) << "the completion's count, from GetOverlappedResult";
  EXPECT_EQ(packet.header.DataUsed, 192u);
}

TEST_F(IrpTargetTest, PendingPropertyRepliesKeepTheirSizesAndASizeQueryWithoutOneFails) {
  auto filter = OpenFilter<CKsAudRenFilter>(vkx7::kRenderFilter);
  device.SetPendingProperties(true);
  PKSMULTIPLE_ITEM reply = nullptr;
  ULONG size = 0;
  KSP_PIN property = PinProperty(KSPROPERTY_PIN_DATARANGES, vkx7::kStreamingPin);
  ASSERT_EQ(filter->GetPropertyMulti(KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, &property,
                                     sizeof property, &reply, &size),
            S_OK);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(size, 8u + 2 * 88u);
  EXPECT_EQ(reply->Count, 2u);
  KsFreeReply(reply);
  ULONG flow = 0;
  EXPECT_EQ(filter->GetPinPropertySimple(vkx7::kStreamingPin, KSPROPSETID_Pin,
                                         KSPROPERTY_PIN_DATAFLOW, &flow, sizeof flow),
            S_OK);
  EXPECT_EQ(flow, static_cast<ULONG>(KSPIN_DATAFLOW_IN));
  device.SetPendingProperties(false);

  // A size query refused with ERROR_INSUFFICIENT_BUFFER carries no size on Windows: a failure,
  // pending or not, and nothing is allocated.
  vkx7::PropertyMatch nodes;
  nodes.set = KSPROPSETID_Topology;
  nodes.id = KSPROPERTY_TOPOLOGY_NODES;
  device.FailProperty(nodes, ERROR_INSUFFICIENT_BUFFER);
  for (bool pending : {false, true}) {
    device.SetPendingProperties(pending);
    reply = nullptr;
    ULONG count = 99;
    KSPROPERTY request = {KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, KSPROPERTY_TYPE_GET};
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(filter->GetHandle(), IOCTL_KS_PROPERTY, &request,
                                      sizeof request, nullptr, 0, &count),
              E_FAIL);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(filter->GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &reply),
              E_FAIL);
    EXPECT_EQ(reply, nullptr);
  }
  device.SetPendingProperties(false);
}

TEST_F(IrpTargetTest, MultipleItemReads) {
  CKsFilter filter(device.FilterPath(vkx7::kCaptureFilter).c_str(), nullptr);
  ASSERT_EQ(filter.Instantiate(), S_OK);
  PKSMULTIPLE_ITEM reply = nullptr;
  ULONG size = 0;
  ASSERT_EQ(filter.GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &reply, &size),
            S_OK);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(size, 8u + 3 * 16u);
  EXPECT_EQ(reply->Count, 3u);
  KsFreeReply(reply);

  // The record form sends its pin with both requests.
  KSP_PIN property = PinProperty(KSPROPERTY_PIN_INTERFACES, vkx7::kStreamingPin);
  reply = nullptr;
  ASSERT_EQ(filter.GetPropertyMulti(KSPROPSETID_Pin, KSPROPERTY_PIN_INTERFACES, &property,
                                    sizeof property, &reply),
            S_OK);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(reply->Count, 1u);
  KsFreeReply(reply);

  // An empty reply leaves the out-pointer as it was.
  vkx7::PropertyMatch nodes;
  nodes.set = KSPROPSETID_Topology;
  nodes.id = KSPROPERTY_TOPOLOGY_NODES;
  device.ReplaceReply(nodes, {});
  reply = nullptr;
  EXPECT_EQ(filter.GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &reply), S_OK);
  EXPECT_EQ(reply, nullptr);
}

TEST_F(IrpTargetTest, SupportQueriesAndNodeProperties) {
  CKsFilter filter(device.FilterPath(vkx7::kRenderFilter).c_str(), nullptr);
  ASSERT_EQ(filter.Instantiate(), S_OK);
  EXPECT_EQ(filter.PropertySetSupport(KSPROPSETID_Pin), S_OK);
  EXPECT_EQ(filter.PropertySetSupport(KSPROPSETID_Connection), E_FAIL);
  ULONG access = 0;
  EXPECT_EQ(filter.PropertyBasicSupport(KSPROPSETID_Audio, KSPROPERTY_AUDIO_VOLUMELEVEL, &access),
            S_OK);
  EXPECT_EQ(access, KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET);

  // Render nodes: DAC, volume, mute; two channels.
  LONG volume = -6 * 65536;
  EXPECT_EQ(filter.SetNodePropertyChannel(1, 1, KSPROPSETID_Audio, KSPROPERTY_AUDIO_VOLUMELEVEL,
                                          &volume, sizeof volume),
            S_OK);
  LONG left = 1, right = 1;
  EXPECT_EQ(filter.GetNodePropertyChannel(1, 0, KSPROPSETID_Audio, KSPROPERTY_AUDIO_VOLUMELEVEL,
                                          &left, sizeof left),
            S_OK);
  EXPECT_EQ(filter.GetNodePropertyChannel(1, 1, KSPROPSETID_Audio, KSPROPERTY_AUDIO_VOLUMELEVEL,
                                          &right, sizeof right),
            S_OK);
  EXPECT_EQ(left, 0);
  EXPECT_EQ(right, -6 * 65536);
  // A mute request on the volume node, or a third channel, is refused.
  LONG mute = 0;
  EXPECT_EQ(filter.GetNodePropertyChannel(1, 0, KSPROPSETID_Audio, KSPROPERTY_AUDIO_MUTE, &mute,
                                          sizeof mute),
            E_FAIL);
  EXPECT_EQ(filter.GetNodePropertyChannel(2, 2, KSPROPSETID_Audio, KSPROPERTY_AUDIO_MUTE, &mute,
                                          sizeof mute),
            E_FAIL);
}

TEST_F(IrpTargetTest, CloseIsSafeToRepeat) {
  CKsFilter filter(device.FilterPath(vkx7::kRenderFilter).c_str(), nullptr);
  EXPECT_TRUE(filter.Close());  // never opened
  ASSERT_EQ(filter.Instantiate(), S_OK);
  EXPECT_TRUE(CKsIrpTarget::IsValidHandle(filter.GetHandle()));
  EXPECT_TRUE(filter.Close());
  EXPECT_EQ(filter.GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(filter.Close());
}

#ifndef _WIN32
TEST_F(IrpTargetTest, TraceLinesNestInCallOrderOnlyAboveTheThreshold) {
  ULONG count = 0;
  CKsIrpTarget::SyncIoctl(nullptr, IOCTL_KS_PROPERTY, nullptr, 0, nullptr, 0, &count);
  EXPECT_EQ(TakeTrace(), "");

  g_nKsTraceLevel = 1;
  CKsIrpTarget::SyncIoctl(nullptr, IOCTL_KS_PROPERTY, nullptr, 0, nullptr, 0, &count);
  EXPECT_EQ(TakeTrace(), "CKsIrpTarget::SyncIoctl Invalid Handle");

  g_nKsTraceLevel = 6;
  CKsIrpTarget::SyncIoctl(nullptr, IOCTL_KS_PROPERTY, nullptr, 0, nullptr, 0, &count);
  EXPECT_EQ(TakeTrace(),
            Joined({"CKsIrpTarget::SyncIoctl() Enter", "CKsIrpTarget::IsValidHandle() Enter",
                    "CKsIrpTarget::IsValidHandle() Leave", "CKsIrpTarget::SyncIoctl Invalid Handle",
                    "CKsIrpTarget::SyncIoctl Leave, returning 0x80004005"}));

  // A state change nests the property request, the I/O control and the closing of its event.
  auto filter = OpenFilter<CKsAudRenFilter>(vkx7::kRenderFilter);
  const WAVEFORMATEXTENSIBLE format = ExtensibleFormat(2, 48000);
  CKsAudPin* pin = filter->CreateRenderPin(AsWfx(format), KsStreamingModeDefault);
  ASSERT_NE(pin, nullptr);
  TakeTrace();
  EXPECT_EQ(pin->SetState(KSSTATE_PAUSE), S_OK);
  EXPECT_EQ(TakeTrace(),
            Joined({"CKsPin::SetState() Enter", "CKsIrpTarget::SetPropertySimple() Enter",
                    "CKsIrpTarget::SyncIoctl() Enter", "CKsIrpTarget::IsValidHandle() Enter",
                    "CKsIrpTarget::IsValidHandle() Leave", "CKsIrpTarget::SafeCloseHandle() Enter",
                    "CKsIrpTarget::IsValidHandle() Enter", "CKsIrpTarget::IsValidHandle() Leave",
                    "CKsIrpTarget::SafeCloseHandle() Leave",
                    "CKsIrpTarget::SyncIoctl Leave, returning 00000000",
                    "CKsIrpTarget::SetPropertySimple Leave, returning 00000000",
                    "CKsPin::SetState Leave, returning 00000000"}));
}

TEST(KsTrace, LongLinesAreCutToTheBuffer) {
  g_nKsTraceLevel = 1;
  emu_test::ClearDebugOutput();
  const std::string longText(1000, 'x');
  KsTrace(1, "%s%s", longText.c_str(), "tail");
  EXPECT_EQ(TakeTrace(), std::string(KS_TRACE_BUFFER_SIZE - 1, 'x'));
  KsTrace(2, "above the threshold");
  EXPECT_EQ(TakeTrace(), "");
  g_nKsTraceLevel = 0;
}
#endif

}  // namespace
}  // namespace kx7test

// Filters opened by path: pins classified by data flow and communication, topology nodes, and
// replies that do not fit.
#include <cstring>

#include "Kx7Fixture.h"

namespace kx7test {
namespace {

using FilterTest = Kx7Test;

std::vector<BYTE> NodesReply(ULONG claimed, ULONG present) {
  std::vector<BYTE> reply(8 + present * sizeof(GUID));
  KSMULTIPLE_ITEM header = {static_cast<ULONG>(reply.size()), claimed};
  std::memcpy(reply.data(), &header, sizeof header);
  for (ULONG i = 0; i < present; ++i) {
    std::memcpy(reply.data() + 8 + i * sizeof(GUID), &KSNODETYPE_VOLUME, sizeof(GUID));
  }
  return reply;
}

TEST_F(FilterTest, KX7RenderFilterOpensWithPinsAndNodes) {
  // Device paths come in mixed case; opening ignores it.
  std::string path = device.FilterPath(vkx7::kRenderFilter);
  for (char& c : path) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  HRESULT hr = E_FAIL;
  CKsFilter filter(path.c_str(), &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(filter.GetType(), FilterTypeUnknown);
  EXPECT_STREQ(filter.m_szFilterName, path.c_str());
  ASSERT_EQ(filter.Instantiate(), S_OK);
  ASSERT_EQ(filter.EnumeratePins(), S_OK);
  EXPECT_EQ(filter.m_Pins.GetCount(), 2u);
  ASSERT_EQ(filter.m_RenderSinkPins.GetCount(), 1u);
  EXPECT_EQ(filter.m_RenderSinkPins.GetHead()->pData->GetId(), vkx7::kStreamingPin);
  ASSERT_EQ(filter.m_NoCommPins.GetCount(), 1u);
  EXPECT_EQ(filter.m_NoCommPins.GetHead()->pData->GetId(), vkx7::kBridgePin);
  EXPECT_TRUE(filter.m_CaptureSinkPins.IsEmpty());

  ASSERT_EQ(filter.EnumerateNodes(), S_OK);
  ASSERT_EQ(filter.m_Nodes.GetCount(), 3u);
  const GUID expected[] = {KSNODETYPE_DAC, KSNODETYPE_VOLUME, KSNODETYPE_MUTE};
  ULONG index = 0;
  for (CKsNode* node : filter.m_Nodes) {
    EXPECT_EQ(node->GetId(), index);
    EXPECT_TRUE(IsEqualGUID(node->GetType(), expected[index]));
    EXPECT_EQ(node->GetCpuResources(), 0x454E4F4Eu);
    ++index;
  }
  HRESULT copied = E_FAIL;
  CKsNode copy(filter.m_Nodes.GetTail()->pData, &copied);
  EXPECT_EQ(copied, S_OK);
  EXPECT_EQ(copy.GetId(), 2u);
  CKsNode empty(static_cast<const CKsNode*>(nullptr), &copied);
  EXPECT_EQ(empty.GetId(), 0u);
  EXPECT_TRUE(IsEqualGUID(empty.GetType(), GUID_NULL));
}

TEST_F(FilterTest, ConstructionAndOpeningFailures) {
  HRESULT hr = S_OK;
  CKsFilter unnamed(nullptr, &hr);
  EXPECT_EQ(hr, E_INVALIDARG);

  const std::string longPath(300, 'p');
  CKsFilter longName(longPath.c_str(), &hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(std::string(longName.m_szFilterName), longPath.substr(0, 259));
  EXPECT_EQ(longName.Instantiate(), E_FAIL);
  EXPECT_EQ(longName.GetHandle(), INVALID_HANDLE_VALUE);
  // Destroyed without ever being opened: nothing to close.
}

TEST_F(FilterTest, PinsAreClassifiedByDataFlowAndCommunication) {
  device.Unplug();
  vkx7::DeviceDescription description = vkx7::Kx7Description(vkx7::Kx7Layout::TwoFilter);
  auto& pins = description.filters[vkx7::kRenderFilter].pins;
  pins[0].communication = KSPIN_COMMUNICATION_BOTH;
  vkx7::PinDescription source = pins[0];
  source.communication = KSPIN_COMMUNICATION_SOURCE;
  source.dataFlow = KSPIN_DATAFLOW_OUT;
  pins.push_back(source);
  vkx7::PinDescription odd = pins[0];
  odd.communication = 9;
  pins.push_back(odd);
  vkx7::VirtualKsDevice custom(description);
  custom.Plug();

  CKsFilter filter(custom.FilterPath(vkx7::kRenderFilter).c_str(), nullptr);
  ASSERT_EQ(filter.Instantiate(), S_OK);
  ASSERT_EQ(filter.EnumeratePins(), S_OK);
  EXPECT_EQ(filter.m_Pins.GetCount(), 4u);
  ASSERT_EQ(filter.m_RenderSinkPins.GetCount(), 1u);
  ASSERT_EQ(filter.m_RenderSourcePins.GetCount(), 1u);
  EXPECT_EQ(filter.m_RenderSinkPins.GetHead()->pData, filter.m_RenderSourcePins.GetHead()->pData);
  ASSERT_EQ(filter.m_CaptureSourcePins.GetCount(), 1u);
  EXPECT_EQ(filter.m_CaptureSourcePins.GetHead()->pData->GetId(), 2u);
  EXPECT_EQ(filter.m_NoCommPins.GetCount(), 1u);
  // The pin with communication 9 is kept but not classified.
  EXPECT_TRUE(filter.m_CaptureSinkPins.IsEmpty());
}

TEST_F(FilterTest, FilterWithoutPinTypesIsNotViable) {
  device.Unplug();
  vkx7::DeviceDescription description = vkx7::Kx7Description(vkx7::Kx7Layout::TwoFilter);
  description.filters[vkx7::kRenderFilter].pins.clear();
  description.filters[vkx7::kRenderFilter].nodes.clear();
  vkx7::VirtualKsDevice custom(description);
  custom.Plug();
  CKsFilter filter(custom.FilterPath(vkx7::kRenderFilter).c_str(), nullptr);
  ASSERT_EQ(filter.Instantiate(), S_OK);
#ifndef _WIN32
  g_nKsTraceLevel = 1;
#endif
  EXPECT_EQ(filter.EnumeratePins(), E_FAIL);
#ifndef _WIN32
  EXPECT_EQ(TakeTrace(), "Filter is not viable. It has no pins.");
#endif
  EXPECT_EQ(filter.EnumerateNodes(), S_OK);
  EXPECT_TRUE(filter.m_Nodes.IsEmpty());
}

TEST_F(FilterTest, OnlyBridgePinsStillMakeTheBaseEnumerationViable) {
  device.Unplug();
  vkx7::DeviceDescription description = vkx7::Kx7Description(vkx7::Kx7Layout::TwoFilter);
  auto& pins = description.filters[vkx7::kCaptureFilter].pins;
  pins.erase(pins.begin());
  vkx7::VirtualKsDevice custom(description);
  custom.Plug();
  CKsFilter filter(custom.FilterPath(vkx7::kCaptureFilter).c_str(), nullptr);
  ASSERT_EQ(filter.Instantiate(), S_OK);
  EXPECT_EQ(filter.EnumeratePins(), S_OK);
  EXPECT_EQ(filter.m_NoCommPins.GetCount(), 1u);
}

TEST_F(FilterTest, NodeRepliesThatDoNotFitAreNotUsed) {
  CKsFilter filter(device.FilterPath(vkx7::kCaptureFilter).c_str(), nullptr);
  ASSERT_EQ(filter.Instantiate(), S_OK);
  vkx7::PropertyMatch nodes;
  nodes.set = KSPROPSETID_Topology;
  nodes.id = KSPROPERTY_TOPOLOGY_NODES;

  // Count claims five nodes, the reply holds two.
  device.ReplaceReply(nodes, NodesReply(5, 2));
  EXPECT_EQ(filter.EnumerateNodes(), E_FAIL);
  EXPECT_TRUE(filter.m_Nodes.IsEmpty());

  // A Count so large that its byte size wraps 32 bits.
  device.ClearPropertyFaults();
  device.ReplaceReply(nodes, NodesReply(0x10000001u, 1));
  EXPECT_EQ(filter.EnumerateNodes(), E_FAIL);
  EXPECT_TRUE(filter.m_Nodes.IsEmpty());

  // A reply shorter than its header, and a header whose Size is smaller than the header.
  device.ClearPropertyFaults();
  device.ReplaceReply(nodes, {1, 0, 0});
  EXPECT_EQ(filter.EnumerateNodes(), S_OK);
  EXPECT_TRUE(filter.m_Nodes.IsEmpty());
  device.ClearPropertyFaults();
  std::vector<BYTE> lying = NodesReply(2, 2);
  lying[0] = 4;
  device.ReplaceReply(nodes, lying);
  EXPECT_EQ(filter.EnumerateNodes(), E_FAIL);

  // The request itself failing.
  device.ClearPropertyFaults();
  device.FailProperty(nodes);
  EXPECT_EQ(filter.EnumerateNodes(), E_FAIL);
  device.ClearPropertyFaults();
  EXPECT_EQ(filter.EnumerateNodes(), S_OK);
  EXPECT_EQ(filter.m_Nodes.GetCount(), 3u);
}

TEST_F(FilterTest, AbsurdPinCountIsBounded) {
  CKsFilter filter(device.FilterPath(vkx7::kCaptureFilter).c_str(), nullptr);
  ASSERT_EQ(filter.Instantiate(), S_OK);
  vkx7::PropertyMatch count;
  count.set = KSPROPSETID_Pin;
  count.id = KSPROPERTY_PIN_CTYPES;
  const ULONG huge = 0xFFFFFFFFu;
  std::vector<BYTE> reply(sizeof huge);
  std::memcpy(reply.data(), &huge, sizeof huge);
  device.ReplaceReply(count, reply);
  EXPECT_EQ(filter.EnumeratePins(), S_OK);
  EXPECT_EQ(filter.m_Pins.GetCount(), KS_MAX_PIN_TYPES);
}

TEST(KsList, KeepsInsertionOrderAndUnlinksAnyElement) {
  CKsList<int> list;
  int values[4] = {0, 1, 2, 3};
  for (int& value : values) ASSERT_TRUE(list.AddTail(&value));
  EXPECT_EQ(list.Remove(&values[2]), S_OK);
  EXPECT_EQ(list.Remove(&values[2]), E_FAIL);
  EXPECT_EQ(list.Remove(&values[3]), S_OK);  // the tail
  std::vector<int> seen;
  for (int* value : list) seen.push_back(*value);
  EXPECT_EQ(seen, (std::vector<int>{0, 1}));
  EXPECT_EQ(list.GetTail()->pData, &values[1]);
  EXPECT_EQ(list.RemoveHead(), &values[0]);
  EXPECT_EQ(list.RemoveHead(), &values[1]);
  EXPECT_EQ(list.RemoveHead(), nullptr);
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.GetTail(), nullptr);
  EXPECT_TRUE(list.AddTail(&values[0]));
  EXPECT_EQ(list.GetCount(), 1u);
}

}  // namespace
}  // namespace kx7test

// Pins: the descriptor read at construction, creation through KsCreatePin, states, resets and
// asynchronous stream requests, including what stopping and device removal do to them.
#include <cstring>

#include "Kx7Fixture.h"
#include "product/Kx7Facts.h"

namespace kx7test {
namespace {

using PinTest = Kx7Test;

std::string NarrowName(const CKsPin& pin) {
  std::string name;
  for (size_t i = 0; i + 1 < sizeof pin.m_szName && pin.m_szName[i] != 0; i += 2) {
    name += pin.m_szName[i];
  }
  return name;
}

TEST_F(PinTest, DescriptorIsReadFromTheFilter) {
  auto filter = OpenFilter<CKsAudRenFilter>(vkx7::kRenderFilter);
  CKsPin* pin = filter->m_Pins.GetHead()->pData;
  KsPinDescriptor* descriptor = pin->GetPinDescriptor();
  EXPECT_EQ(descriptor->cInterfaces, 1u);
  EXPECT_TRUE(IsEqualGUID(descriptor->pInterfaces[0].Set, KSINTERFACESETID_Standard));
  EXPECT_EQ(descriptor->cMediums, 1u);
  EXPECT_EQ(descriptor->cDataRanges, 2u);
  EXPECT_EQ(descriptor->DataFlow, static_cast<ULONG>(KSPIN_DATAFLOW_IN));
  EXPECT_EQ(descriptor->Communication, static_cast<ULONG>(KSPIN_COMMUNICATION_SINK));
  EXPECT_EQ(descriptor->CInstances.PossibleCount, 1u);
  EXPECT_EQ(descriptor->CInstances.CurrentCount, 0u);
  EXPECT_TRUE(IsEqualGUID(pin->m_guidCategory, KSCATEGORY_AUDIO));
  EXPECT_EQ(NarrowName(*pin), "Playback");
  EXPECT_EQ(pin->GetType(), PinTypeRender);
  EXPECT_TRUE(pin->HasDataRangeWithSpecifier(KSDATAFORMAT_SPECIFIER_DSOUND));
  EXPECT_FALSE(pin->HasDataRangeWithSpecifier(KSDATAFORMAT_SPECIFIER_NONE));
}

TEST_F(PinTest, PinWhoseQueriesAllFailIsStillConstructed) {
  CKsFilter filter(device.FilterPath(vkx7::kCaptureFilter).c_str(), nullptr);
  ASSERT_EQ(filter.Instantiate(), S_OK);
  HRESULT hr = E_FAIL;
  CKsPin pin(&filter, 7, &hr);  // no such pin: every query is refused
  EXPECT_EQ(hr, S_FALSE);
  const KsPinDescriptor* descriptor = pin.GetPinDescriptor();
  EXPECT_EQ(descriptor->cInterfaces, 0u);
  EXPECT_EQ(descriptor->pInterfaces, nullptr);
  EXPECT_EQ(descriptor->cMediums, 0u);
  EXPECT_EQ(descriptor->cDataRanges, 0u);
  EXPECT_FALSE(pin.HasDataRangeWithSpecifier(KSDATAFORMAT_SPECIFIER_WAVEFORMATEX));
  EXPECT_EQ(pin.Instantiate(FALSE), S_OK);  // without a connect record nothing is created
  EXPECT_FALSE(CKsIrpTarget::IsValidHandle(pin.GetHandle()));
}

TEST_F(PinTest, NameWithoutTerminatorIsEnded) {
  vkx7::PropertyMatch name;
  name.set = KSPROPSETID_Pin;
  name.id = KSPROPERTY_PIN_NAME;
  device.ReplaceReply(name, std::vector<BYTE>(259, 'A'));
  auto filter = OpenFilter<CKsAudRenFilter>(vkx7::kRenderFilter);
  const CKsPin* pin = filter->m_Pins.GetHead()->pData;
  EXPECT_EQ(pin->m_szName[257], 'A');
  EXPECT_EQ(pin->m_szName[258], 0);
  EXPECT_EQ(pin->m_szName[259], 0);
}

TEST_F(PinTest, SetPinConnectKeepsTheOldRecordOnBadInput) {
  CKsFilter filter(device.FilterPath(vkx7::kCaptureFilter).c_str(), nullptr);
  ASSERT_EQ(filter.Instantiate(), S_OK);
  CKsPin pin(&filter, vkx7::kStreamingPin, nullptr);
  std::vector<BYTE> record(80, 0x5A);
  EXPECT_EQ(pin.SetPinConnect(reinterpret_cast<PKSPIN_CONNECT>(record.data()), 80), S_OK);
  EXPECT_EQ(pin.m_cbPinCreateSize, 80u);
  EXPECT_EQ(
      pin.SetPinConnect(reinterpret_cast<PKSPIN_CONNECT>(record.data()), sizeof(KSPIN_CONNECT) - 1),
      E_INVALIDARG);
  EXPECT_EQ(pin.SetPinConnect(nullptr, 100), E_INVALIDARG);
  EXPECT_EQ(pin.m_cbPinCreateSize, 80u);
  EXPECT_EQ(reinterpret_cast<BYTE*>(pin.m_pksPinCreate)[79], 0x5A);
  // A pin never created closes without any state request.
  pin.ClosePin();
  EXPECT_TRUE(device.Record().states.empty());
}

TEST_F(PinTest, CreationFailuresAreFoldedIntoResults) {
  auto filter = OpenFilter<CKsAudCapFilter>(vkx7::kCaptureFilter);
  CKsAudPin* pin = filter->FindViablePin(AsWfx(ExtensibleFormat(1, 48000)));
  ASSERT_NE(pin, nullptr);
  device.RefuseExtensibleFormat(true);
  ASSERT_EQ(pin->SetFormat(AsWfx(ExtensibleFormat(1, 48000))), S_OK);
  EXPECT_EQ(pin->Instantiate(FALSE), HRESULT_FROM_WIN32(ERROR_NO_MATCH));
  EXPECT_EQ(static_cast<unsigned>(HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)), 0x8007001Fu);
  EXPECT_FALSE(CKsIrpTarget::IsValidHandle(pin->GetHandle()));
  // The same pin takes another format afterwards.
  const WAVEFORMATEX pcm = PcmFormat(1, 48000);
  ASSERT_EQ(pin->SetFormat(&pcm), S_OK);
  EXPECT_EQ(pin->Instantiate(FALSE), S_OK);
  // The looped interface is not offered by the device.
  pin->ClosePin();
  EXPECT_EQ(pin->Instantiate(TRUE), HRESULT_FROM_WIN32(ERROR_NO_MATCH));
  EXPECT_EQ(pin->m_pksPinCreate->Interface.Id, 1u);
  // Instances exhausted.
  device.SetPossibleInstances(vkx7::kCaptureFilter, vkx7::kStreamingPin, 0);
  EXPECT_EQ(pin->Instantiate(FALSE), HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES));
}

TEST_F(PinTest, StatesAreSetReadAndKeptOnlyWhenAccepted) {
  auto filter = OpenFilter<CKsAudRenFilter>(vkx7::kRenderFilter);
  CKsAudPin* pin = filter->CreateRenderPin(AsWfx(ExtensibleFormat(2, 48000)), 0);
  ASSERT_NE(pin, nullptr);
  KSSTATE state = KSSTATE_RUN;
  EXPECT_EQ(pin->GetState(&state), S_OK);
  EXPECT_EQ(state, KSSTATE_STOP);
  EXPECT_EQ(pin->GetState(nullptr), E_INVALIDARG);
  ASSERT_EQ(pin->SetState(KSSTATE_ACQUIRE), S_OK);
  ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), S_OK);
  EXPECT_EQ(pin->GetState(&state), S_OK);
  EXPECT_EQ(state, KSSTATE_PAUSE);
  EXPECT_STREQ(g_apszKsStateNames[state], "KSSTATE_PAUSE");

  vkx7::PropertyMatch stateRequest;
  stateRequest.set = KSPROPSETID_Connection;
  stateRequest.id = KSPROPERTY_CONNECTION_STATE;
  stateRequest.onPinHandle = true;
  device.FailProperty(stateRequest, ERROR_GEN_FAILURE, 1);
  EXPECT_EQ(pin->SetState(KSSTATE_RUN), E_FAIL);
  EXPECT_EQ(pin->m_ksState, KSSTATE_PAUSE);
  EXPECT_EQ(device.PinState(vkx7::kRenderFilter, vkx7::kStreamingPin), KSSTATE_PAUSE);

  // A state value outside KSSTATE is a malformed reply, not a state.
  const ULONG bogus = 17;
  std::vector<BYTE> reply(sizeof bogus);
  std::memcpy(reply.data(), &bogus, sizeof bogus);
  device.ReplaceReply(stateRequest, reply);
  EXPECT_EQ(pin->GetState(&state), E_FAIL);
  EXPECT_EQ(state, KSSTATE_PAUSE);

  EXPECT_EQ(pin->Reset(), S_OK);
  pin->ClosePin();
  EXPECT_EQ(pin->GetState(&state), E_FAIL);  // no handle
  const auto states = device.Record().states;
  ASSERT_FALSE(states.empty());
  EXPECT_EQ(states.back().state, static_cast<ULONG>(KSSTATE_STOP));  // closing stops first
}

TEST_F(PinTest, StreamRequestsPendAndStoppingCancelsThem) {
  auto filter = OpenFilter<CKsAudRenFilter>(vkx7::kRenderFilter);
  CKsAudPin* pin = filter->CreateRenderPin(AsWfx(ExtensibleFormat(2, 48000)), 0);
  ASSERT_NE(pin, nullptr);
  TestPacket first(kx7::kRenderPacketBytes, true), second(kx7::kRenderPacketBytes, true);
  for (size_t i = 0; i < first.data.size(); ++i) first.data[i] = static_cast<BYTE>(i);
  // A stopped pin takes no stream requests.
  EXPECT_EQ(pin->WriteData(&first.header, &first.overlapped), E_FAIL);
  ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), S_OK);
  EXPECT_EQ(pin->WriteData(&first.header, &first.overlapped), S_OK);
  EXPECT_EQ(pin->WriteData(&second.header, &second.overlapped), S_OK);
  EXPECT_EQ(pin->WriteData(nullptr, &second.overlapped), E_POINTER);
  EXPECT_EQ(device.QueuedWrites(), 2u);
  ASSERT_EQ(pin->SetState(KSSTATE_RUN), S_OK);
  device.Step();
  EXPECT_TRUE(first.Done());
  EXPECT_FALSE(second.Done());
  EXPECT_EQ(device.RenderedBytes(), first.data);

  KSAUDIO_POSITION position = {};
  EXPECT_EQ(pin->GetPosition(&position), S_OK);
  EXPECT_EQ(position.PlayOffset, kx7::kRenderPacketBytes);
  EXPECT_EQ(position.WriteOffset, 768u);
  EXPECT_EQ(pin->GetPosition(nullptr), E_INVALIDARG);
  EXPECT_EQ(pin->SetPosition(&position), S_OK);
  EXPECT_EQ(pin->SetPosition(nullptr), E_INVALIDARG);
  // A refused position request is traced with the way it went.
  vkx7::PropertyMatch positionRequest;
  positionRequest.set = KSPROPSETID_Audio;
  positionRequest.id = KSPROPERTY_AUDIO_POSITION;
  positionRequest.onPinHandle = true;
  device.FailProperty(positionRequest, ERROR_GEN_FAILURE, 2);
#ifndef _WIN32
  g_nKsTraceLevel = 1;
#endif
  EXPECT_EQ(pin->GetPosition(&position), E_FAIL);
#ifndef _WIN32
  EXPECT_EQ(TakeTrace(), "Failed to retrieve audio stream position - 0x80004005");
#endif
  EXPECT_EQ(pin->SetPosition(&position), E_FAIL);
#ifndef _WIN32
  EXPECT_EQ(TakeTrace(), "Failed to set audio stream position - 0x80004005");
#endif

  // Stopping completes the outstanding write: its buffers are free once SetState returns.
  ASSERT_EQ(pin->SetState(KSSTATE_STOP), S_OK);
  EXPECT_TRUE(second.Done());
  EXPECT_EQ(device.QueuedWrites(), 0u);
}

TEST_F(PinTest, RejectedRequestsFailAtOnce) {
  auto filter = OpenFilter<CKsAudCapFilter>(vkx7::kCaptureFilter);
  CKsAudPin* pin = filter->CreateCapturePin(AsWfx(ExtensibleFormat(1, 48000)), 1);
  ASSERT_NE(pin, nullptr);
  ASSERT_EQ(pin->SetState(KSSTATE_RUN), S_OK);
  TestPacket packet(192, false);
  device.RejectReads(1);
#ifndef _WIN32
  g_nKsTraceLevel = 1;
#endif
  EXPECT_EQ(pin->ReadData(&packet.header, &packet.overlapped), E_FAIL);
#ifndef _WIN32
  EXPECT_EQ(TakeTrace(), "DeviceIoControl Failed!  Error=0x0000001f");
#endif
  EXPECT_FALSE(packet.Done());
  EXPECT_EQ(pin->ReadData(&packet.header, &packet.overlapped), S_OK);
  // The wrong direction is refused too.
  TestPacket write(192, true);
  EXPECT_EQ(pin->WriteData(&write.header, &write.overlapped), E_FAIL);
#ifndef _WIN32
  EXPECT_EQ(TakeTrace(), "CKsPin::WriteData's DeviceIoControl Failed!  Error=0x0x000001");
#endif
  // The queued read must end before its packet goes away.
  ASSERT_EQ(pin->SetState(KSSTATE_STOP), S_OK);
  EXPECT_TRUE(packet.Done());
}

TEST_F(PinTest, RemovalFailsPendingAndNewRequests) {
  auto capture = OpenFilter<CKsAudCapFilter>(vkx7::kCaptureFilter);
  CKsAudPin* pin = capture->CreateCapturePin(AsWfx(ExtensibleFormat(1, 44100)), 1);
  ASSERT_NE(pin, nullptr);
  ASSERT_EQ(pin->SetState(KSSTATE_RUN), S_OK);
  TestPacket pending(192, false);
  ASSERT_EQ(pin->ReadData(&pending.header, &pending.overlapped), S_OK);
  device.Unplug();
  EXPECT_TRUE(pending.Done());
  EXPECT_EQ(pending.header.DataUsed, 0u);
  TestPacket later(192, false);
  EXPECT_EQ(pin->ReadData(&later.header, &later.overlapped), E_FAIL);
  EXPECT_EQ(pin->SetState(KSSTATE_STOP), E_FAIL);
  // Plugged in again, the old handles stay dead; a new filter works.
  device.Plug();
  EXPECT_EQ(pin->SetState(KSSTATE_PAUSE), E_FAIL);
  auto again = OpenFilter<CKsAudCapFilter>(vkx7::kCaptureFilter);
  EXPECT_NE(again->CreateCapturePin(AsWfx(ExtensibleFormat(1, 44100)), 1), nullptr);
}

}  // namespace
}  // namespace kx7test

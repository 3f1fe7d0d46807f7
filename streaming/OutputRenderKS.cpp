#include "streaming/OutputRenderKS.h"

#include "ks/KsAudPin.h"

namespace {

constexpr ULONG kBytesPerSample = 3;

}  // namespace

COutputRenderKS::COutputRenderKS(uint32_t packetCount, uint32_t packetSamples, CKsAudPin* pin,
                                 HRESULT* phr)
    : stream(pin, packetCount, packetSamples, packetSamples * kBytesPerSample, phr), audioPin(pin) {
  if (!stream.Ready()) return;
  for (uint32_t i = 0; i < packetCount; ++i) QueueWrite(i);
}

HRESULT COutputRenderKS::Start() { return stream.Start(); }

void COutputRenderKS::WriteFrames(const int32_t* block) {
  if (!stream.Ready()) return;
  converter.Int32ToInt24Packed(block,
                               static_cast<uint8_t*>(stream.ring.packets[nextPacket].header.Data),
                               stream.packetSamples);
}

void COutputRenderKS::Submit() {
  if (!stream.Ready()) return;
  if (audioPin->m_fLoopedPreferred) {
    stream.ring.Forget(nextPacket);
  } else {
    QueueWrite(nextPacket);
  }
  nextPacket = (nextPacket + 1) % stream.packetCount;
}

HANDLE COutputRenderKS::AwaitedEvent() {
  return stream.Ready() ? stream.ring.packetEvents[nextPacket] : nullptr;
}

bool COutputRenderKS::WaitPacket(DWORD milliseconds) {
  if (!stream.Ready()) return false;
  return stream.ring.AwaitCompletion(nextPacket, milliseconds);
}

void COutputRenderKS::DismissWake() {
  if (stream.Ready()) stream.ring.DismissStaleSignal(nextPacket);
}

bool COutputRenderKS::PacketFailed() {
  return stream.Ready() && stream.ring.CompletedWithError(nextPacket);
}

bool COutputRenderKS::TakeRefusal() {
  const bool was = refused;
  refused = false;
  return was;
}

void COutputRenderKS::QueueWrite(uint32_t i) {
  if (FAILED(stream.ring.QueueWrite(stream.pin, i))) refused = true;
}

#include "streaming/OutputRenderKS.h"

#include "ks/KsAudPin.h"

namespace {

constexpr ULONG kBytesPerSample = 3;

}  // namespace

COutputRenderKS::COutputRenderKS(uint32_t packetCount, uint32_t packetSamples, CKsAudPin* pin,
                                 HRESULT* phr, uint32_t primed)
    : stream(pin, packetCount, packetSamples, packetSamples * kBytesPerSample, phr), audioPin(pin) {
  if (!stream.Ready()) return;
  const uint32_t queued = primed < packetCount ? primed : packetCount;
  for (uint32_t i = 0; i < queued; ++i) QueueWrite(i);
  nextPacket = queued % packetCount;
  freeCount = packetCount - queued;
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
  if (freeCount > 0) {
    --freeCount;
  } else {
    // Queued without having come back: the ring is served in order all the same.
    awaitedPacket = nextPacket;
  }
}

HANDLE COutputRenderKS::AwaitedEvent() {
  if (!stream.Ready() || freeCount == stream.packetCount) return nullptr;
  return stream.ring.packetEvents[awaitedPacket];
}

bool COutputRenderKS::WaitPacket(DWORD milliseconds) {
  if (!stream.Ready() || freeCount == stream.packetCount) return false;
  if (!stream.ring.AwaitCompletion(awaitedPacket, milliseconds)) return false;
  lastDone = awaitedPacket;
  awaitedPacket = (awaitedPacket + 1) % stream.packetCount;
  ++freeCount;
  return true;
}

void COutputRenderKS::DismissWake() {
  if (stream.Ready() && freeCount != stream.packetCount) {
    stream.ring.DismissStaleSignal(awaitedPacket);
  }
}

bool COutputRenderKS::PacketFailed() {
  return stream.Ready() && stream.ring.CompletedWithError(lastDone);
}

bool COutputRenderKS::TakeRefusal() {
  const bool was = refused;
  refused = false;
  return was;
}

void COutputRenderKS::QueueWrite(uint32_t i) {
  if (FAILED(stream.ring.QueueWrite(stream.pin, i))) refused = true;
}

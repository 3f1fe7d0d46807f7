#include "streaming/OutputRenderKS.h"

#include "ks/KsAudPin.h"

namespace {

constexpr ULONG kBytesPerSample = 3;

}  // namespace

COutputRenderKS::COutputRenderKS(uint32_t packetCount_, uint32_t packetSamples_, CKsAudPin* pin_,
                                 HRESULT* phr)
    : packetCount(packetCount_), packetSamples(packetSamples_), pin(pin_) {
  const HRESULT paused = pin->SetState(KSSTATE_PAUSE);
  if (FAILED(paused)) {
    if (phr != nullptr) *phr = paused;
    return;
  }
  const ULONG bytes = packetSamples * kBytesPerSample;
  if (!ring.Allocate(packetCount, packetSamples, bytes, bytes)) {
    if (phr != nullptr) *phr = E_OUTOFMEMORY;
    return;
  }
  for (uint32_t i = 0; i < packetCount; ++i) ring.QueueWrite(pin, i);
  if (phr != nullptr) *phr = S_OK;
}

COutputRenderKS::~COutputRenderKS() {
  pin->SetState(KSSTATE_PAUSE);
  pin->SetState(KSSTATE_STOP);
  ring.Release();
}

HRESULT COutputRenderKS::Start() { return pin->SetState(KSSTATE_RUN); }

void COutputRenderKS::WriteFrames(const int32_t* block) {
  if (ring.packets == nullptr) return;
  converter.Int32ToInt24Packed(block, static_cast<uint8_t*>(ring.packets[nextPacket].header.Data),
                               packetSamples);
}

void COutputRenderKS::Submit() {
  if (ring.packets == nullptr) return;
  if (pin->m_fLoopedPreferred) {
    ring.Forget(nextPacket);
  } else {
    ring.QueueWrite(pin, nextPacket);
  }
  nextPacket = (nextPacket + 1) % packetCount;
}

HANDLE COutputRenderKS::AwaitedEvent() {
  return ring.packets != nullptr ? ring.packetEvents[nextPacket] : nullptr;
}

bool COutputRenderKS::WaitPacket(DWORD milliseconds) {
  if (ring.packets == nullptr) return false;
  return ring.AwaitCompletion(nextPacket, milliseconds);
}

void COutputRenderKS::DismissWake() {
  if (ring.packets != nullptr) ring.DismissStaleSignal(nextPacket);
}

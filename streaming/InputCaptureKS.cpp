#include "streaming/InputCaptureKS.h"

#include "ks/KsPin.h"

namespace {

constexpr ULONG kBytesPerSample = 3;

}  // namespace

CInputCaptureKS::CInputCaptureKS(uint32_t packetCount_, uint32_t packetSamples_, CKsPin* pin_,
                                 HRESULT* phr)
    : packetCount(packetCount_),
      packetSamples(packetSamples_),
      pin(pin_),
      currentPacket(packetCount_) {
  const HRESULT paused = pin->SetState(KSSTATE_PAUSE);
  if (FAILED(paused)) {
    if (phr != nullptr) *phr = paused;
    return;
  }
  if (!ring.Allocate(packetCount, packetSamples, packetSamples * kBytesPerSample, 0)) {
    if (phr != nullptr) *phr = E_OUTOFMEMORY;
    return;
  }
  for (uint32_t i = 0; i < packetCount; ++i) QueueRead(i);
  if (phr != nullptr) *phr = S_OK;
}

CInputCaptureKS::~CInputCaptureKS() {
  pin->SetState(KSSTATE_PAUSE);
  pin->SetState(KSSTATE_STOP);
  ring.Release();
}

HRESULT CInputCaptureKS::Start() { return pin->SetState(KSSTATE_RUN); }

void CInputCaptureKS::Flush(DWORD milliseconds) {
  for (uint32_t k = 0; k < packetCount * 4; ++k) {
    if (WaitPacket(milliseconds)) ReleasePacket();
  }
}

bool CInputCaptureKS::WaitPacket(DWORD milliseconds) {
  if (ring.packets == nullptr) return false;
  // The current packet must go back to the pin first, or the ring would be served out of order.
  if (currentPacket != packetCount) return false;
  if (!ring.AwaitCompletion(nextPacket, milliseconds)) return false;
  currentPacket = nextPacket;
  converted = false;
  nextPacket = (nextPacket + 1) % packetCount;
  return true;
}

int32_t* CInputCaptureKS::GetData() {
  if (currentPacket == packetCount) return nullptr;
  StreamPacket& packet = ring.packets[currentPacket];
  if (!converted) {
    converter.Int24PackedToInt32InPlace(static_cast<uint8_t*>(packet.header.Data), GetFrameCount());
    converted = true;
  }
  return static_cast<int32_t*>(packet.header.Data);
}

uint32_t CInputCaptureKS::GetFrameCount() {
  if (currentPacket == packetCount) return 0;
  const KSSTREAM_HEADER& header = ring.packets[currentPacket].header;
  // A device that reports more bytes than the packet holds gets no more than the packet.
  const ULONG used = header.DataUsed < header.FrameExtent ? header.DataUsed : header.FrameExtent;
  return used / kBytesPerSample;
}

HANDLE CInputCaptureKS::AwaitedEvent() {
  if (ring.packets == nullptr || currentPacket != packetCount) return nullptr;
  return ring.packetEvents[nextPacket];
}

void CInputCaptureKS::DismissWake() {
  if (ring.packets != nullptr && currentPacket == packetCount) ring.DismissStaleSignal(nextPacket);
}

uint32_t CInputCaptureKS::GetPacketFrames() { return packetSamples; }

void CInputCaptureKS::ReleasePacket() {
  if (currentPacket == packetCount) return;
  QueueRead(currentPacket);
  converted = false;
  currentPacket = packetCount;
}

void CInputCaptureKS::QueueRead(uint32_t i) { ring.QueueRead(pin, i); }

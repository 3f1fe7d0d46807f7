#include "streaming/InputCaptureKS.h"

#include "ks/KsPin.h"

namespace {

constexpr ULONG kBytesPerSample = 3;

}  // namespace

CInputCaptureKS::CInputCaptureKS(uint32_t packetCount, uint32_t packetSamples, CKsPin* pin,
                                 HRESULT* phr)
    : stream(pin, packetCount, packetSamples, 0, phr), currentPacket(packetCount) {
  if (!stream.Ready()) return;
  for (uint32_t i = 0; i < packetCount; ++i) QueueRead(i);
}

HRESULT CInputCaptureKS::Start() { return stream.Start(); }

void CInputCaptureKS::Flush(DWORD milliseconds) {
  for (uint32_t k = 0; k < stream.packetCount * 4; ++k) {
    if (WaitPacket(milliseconds)) ReleasePacket();
  }
}

bool CInputCaptureKS::WaitPacket(DWORD milliseconds) {
  if (!stream.Ready()) return false;
  // The current packet must go back to the pin first, or the ring would be served out of order.
  if (currentPacket != stream.packetCount) return false;
  if (!stream.ring.AwaitCompletion(nextPacket, milliseconds)) return false;
  currentPacket = nextPacket;
  converted = false;
  nextPacket = (nextPacket + 1) % stream.packetCount;
  return true;
}

int32_t* CInputCaptureKS::GetData() {
  if (currentPacket == stream.packetCount) return nullptr;
  StreamPacket& packet = stream.ring.packets[currentPacket];
  if (!converted) {
    converter.Int24PackedToInt32InPlace(static_cast<uint8_t*>(packet.header.Data), GetFrameCount());
    converted = true;
  }
  return static_cast<int32_t*>(packet.header.Data);
}

uint32_t CInputCaptureKS::GetFrameCount() {
  if (currentPacket == stream.packetCount || PacketFailed()) return 0;
  return FramesOf(currentPacket);
}

uint32_t CInputCaptureKS::FramesOf(uint32_t i) const {
  const KSSTREAM_HEADER& header = stream.ring.packets[i].header;
  // A device that reports more bytes than the packet holds gets no more than the packet.
  const ULONG used = header.DataUsed < header.FrameExtent ? header.DataUsed : header.FrameExtent;
  return used / kBytesPerSample;
}

uint32_t CInputCaptureKS::FramesCompletedAhead() {
  if (!stream.Ready()) return 0;
  // The reads complete in ring order from the awaited one; a held packet is not out.
  uint32_t frames = 0;
  uint32_t i = nextPacket;
  for (uint32_t k = 0; k < stream.packetCount; ++k) {
    if (!stream.ring.Completed(i) || stream.ring.CompletedWithError(i)) break;
    frames += FramesOf(i);
    i = (i + 1) % stream.packetCount;
  }
  return frames;
}

HANDLE CInputCaptureKS::AwaitedEvent() {
  if (!stream.Ready() || currentPacket != stream.packetCount) return nullptr;
  return stream.ring.packetEvents[nextPacket];
}

void CInputCaptureKS::DismissWake() {
  if (stream.Ready() && currentPacket == stream.packetCount) {
    stream.ring.DismissStaleSignal(nextPacket);
  }
}

uint32_t CInputCaptureKS::GetPacketFrames() { return stream.packetSamples; }

void CInputCaptureKS::ReleasePacket() {
  if (currentPacket == stream.packetCount) return;
  // Behind a held packet every packet waits its turn, so that reads go out in ring order.
  if (heldCount != 0) {
    HoldPacket();
    return;
  }
  QueueRead(currentPacket);
  converted = false;
  currentPacket = stream.packetCount;
}

bool CInputCaptureKS::PacketTime(LONGLONG* hundredNanoseconds) {
  if (currentPacket == stream.packetCount) return false;
  const KSSTREAM_HEADER& header = stream.ring.packets[currentPacket].header;
  const KSTIME& time = header.PresentationTime;
  if ((header.OptionsFlags & KSSTREAM_HEADER_OPTIONSF_TIMEVALID) == 0 || time.Denominator == 0 ||
      time.Time < 0) {
    return false;
  }
  *hundredNanoseconds = time.Time * static_cast<LONGLONG>(time.Numerator) / time.Denominator;
  return true;
}

bool CInputCaptureKS::PacketFailed() {
  return currentPacket != stream.packetCount && stream.ring.CompletedWithError(currentPacket);
}

void CInputCaptureKS::HoldPacket() {
  if (currentPacket == stream.packetCount) return;
  stream.ring.Forget(currentPacket);
  ++heldCount;
  converted = false;
  currentPacket = stream.packetCount;
}

void CInputCaptureKS::RequeueHeld() {
  const uint32_t count = stream.packetCount;
  const uint32_t first = (nextPacket + count - heldCount) % count;
  const uint32_t held = heldCount;
  heldCount = 0;
  for (uint32_t k = 0; k < held; ++k) QueueRead((first + k) % count);
}

bool CInputCaptureKS::TakeRefusal() {
  const bool was = refused;
  refused = false;
  return was;
}

void CInputCaptureKS::QueueRead(uint32_t i) {
  if (FAILED(stream.ring.QueueRead(stream.pin, i))) refused = true;
}

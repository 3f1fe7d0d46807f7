#include "ks/PacketRing.h"

#include <cstring>
#include <new>

#include "ks/KsPin.h"

PacketRing::~PacketRing() { Release(); }

bool PacketRing::Allocate(uint32_t count, uint32_t samples, ULONG extentBytes, ULONG used) {
  packetCount = count;
  usedBytes = used;
  packetBytes = samples * 4;
  packets = new (std::nothrow) StreamPacket[count];
  packetData = new (std::nothrow) uint8_t[static_cast<size_t>(count) * packetBytes];
  packetEvents = new (std::nothrow) HANDLE[count];
  outstanding = new (std::nothrow) bool[count];
  if (packets == nullptr || packetData == nullptr || packetEvents == nullptr ||
      outstanding == nullptr) {
    Free();
    return false;
  }
  std::memset(packetData, 0, static_cast<size_t>(count) * packetBytes);
  for (uint32_t i = 0; i < count; ++i) {
    packetEvents[i] = nullptr;
    outstanding[i] = false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    StreamPacket& packet = packets[i];
    std::memset(&packet, 0, sizeof packet);
    packet.overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (packet.overlapped.hEvent == nullptr) {
      Free();
      return false;
    }
    packetEvents[i] = packet.overlapped.hEvent;
    packet.header.Size = sizeof(KSSTREAM_HEADER);
    packet.header.PresentationTime.Numerator = 1;
    packet.header.PresentationTime.Denominator = 1;
    packet.header.FrameExtent = extentBytes;
    packet.header.DataUsed = used;
    packet.header.Data = packetData + static_cast<size_t>(i) * packetBytes;
  }
  return true;
}

void PacketRing::CleanHeader(uint32_t i) {
  KSSTREAM_HEADER& header = packets[i].header;
  header.TypeSpecificFlags = 0;
  header.PresentationTime.Time = 0;
  header.PresentationTime.Numerator = 1;
  header.PresentationTime.Denominator = 1;
  header.Duration = 0;
  header.DataUsed = usedBytes;
  header.OptionsFlags = 0;
}

HRESULT PacketRing::QueueRead(CKsPin* pin, uint32_t i) {
  CleanHeader(i);
  const HRESULT hr = pin->ReadData(&packets[i].header, &packets[i].overlapped);
  Queued(i, hr);
  return hr;
}

HRESULT PacketRing::QueueWrite(CKsPin* pin, uint32_t i) {
  CleanHeader(i);
  const HRESULT hr = pin->WriteData(&packets[i].header, &packets[i].overlapped);
  Queued(i, hr);
  return hr;
}

void PacketRing::Queued(uint32_t i, HRESULT hr) {
  outstanding[i] = SUCCEEDED(hr);
  // A request refused before it went out may have left the event as the last one set it.
  if (FAILED(hr)) Forget(i);
}

bool PacketRing::Completed(uint32_t i) const {
  return outstanding[i] && HasOverlappedIoCompleted(&packets[i].overlapped);
}

bool PacketRing::AwaitCompletion(uint32_t i, DWORD milliseconds) {
  if (!Completed(i) && milliseconds != 0 &&
      WaitForSingleObject(packetEvents[i], milliseconds) == WAIT_OBJECT_0 && !Completed(i)) {
    DismissStaleSignal(i);
    WaitForSingleObject(packetEvents[i], milliseconds);
  }
  if (!Completed(i)) return false;
  outstanding[i] = false;
  return true;
}

void PacketRing::DismissStaleSignal(uint32_t i) {
  ResetEvent(packetEvents[i]);
  // A completion that came meanwhile keeps its wake-up.
  if (Completed(i)) SetEvent(packetEvents[i]);
}

void PacketRing::Forget(uint32_t i) {
  outstanding[i] = false;
  ResetEvent(packetEvents[i]);
}

bool PacketRing::CompletedWithError(uint32_t i) const {
  // The status the pin left in the request: negative NTSTATUS values are failures.
  const auto status = static_cast<LONG>(
      static_cast<ULONG>(__atomic_load_n(&packets[i].overlapped.Internal, __ATOMIC_ACQUIRE)));
  return status < 0;
}

void PacketRing::Release(DWORD milliseconds) {
  if (packets == nullptr) return;
  // One bound for the whole ring, however many packets it has, counted in waits rather than read
  // from a clock that a test may hold still.
  constexpr DWORD kStepMs = 20;
  DWORD budget = milliseconds;
  for (uint32_t i = 0; i < packetCount; ++i) {
    // A request already done costs nothing of the bound; only the waits for one still out count.
    while (outstanding[i] && !AwaitCompletion(i, 0) && budget > 0) {
      const DWORD step = budget < kStepMs ? budget : kStepMs;
      budget -= step;
      AwaitCompletion(i, step);
    }
    if (outstanding[i]) {
      // The pin may still write into this storage: keeping it is the only safe choice.
      packets = nullptr;
      packetData = nullptr;
      packetEvents = nullptr;
      outstanding = nullptr;
      return;
    }
  }
  Free();
}

void PacketRing::Free() {
  if (packetEvents != nullptr) {
    for (uint32_t i = 0; i < packetCount; ++i) {
      if (packetEvents[i] != nullptr) CloseHandle(packetEvents[i]);
    }
  }
  delete[] packets;
  delete[] packetData;
  delete[] packetEvents;
  delete[] outstanding;
  packets = nullptr;
  packetData = nullptr;
  packetEvents = nullptr;
  outstanding = nullptr;
}

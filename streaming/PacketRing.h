// The storage of a stream's packet ring: the packet records, one block of sample data, one
// manual-reset event per packet, and which packets a pin still holds. The storage is freed only
// when no request is outstanding, since the pin writes into it until the request completes.
// Every request goes out with a clean header: what the pin wrote into it at its last completion
// (time stamps, flags, DataUsed) is cleared, as some drivers refuse a request still carrying it.
#pragma once

#include <cstdint>

#include "streaming/StreamPacket.h"

class CKsPin;

class PacketRing {
 public:
  PacketRing() = default;
  ~PacketRing();
  PacketRing(const PacketRing&) = delete;
  PacketRing& operator=(const PacketRing&) = delete;

  // Allocates `count` packets of `samples` 32-bit slots each, with headers whose FrameExtent is
  // `extentBytes` and DataUsed `used`. False (nothing kept) when memory or events ran out.
  bool Allocate(uint32_t count, uint32_t samples, ULONG extentBytes, ULONG used);

  // Queues packet i on the pin as a read or a write with a clean header and its event reset; a
  // request that the pin took (pending or done) is outstanding until its completion is seen.
  // The pin's answer (S_OK when it took the request).
  HRESULT QueueRead(CKsPin* pin, uint32_t i);
  HRESULT QueueWrite(CKsPin* pin, uint32_t i);
  // Waits for packet i's completion; true when it has completed. A completion is seen once: the
  // event is reset by the wait that saw it, so another wait (for several events) may look at
  // the event first without taking the completion away.
  bool AwaitCompletion(uint32_t i, DWORD milliseconds);

  // Waits until every outstanding request has completed or been cancelled, then frees the
  // storage. Storage that the pin still holds after a long bound is left allocated.
  void Release();

  StreamPacket* packets = nullptr;
  uint8_t* packetData = nullptr;
  HANDLE* packetEvents = nullptr;
  bool* outstanding = nullptr;
  uint32_t packetCount = 0;
  uint32_t packetBytes = 0;  // bytes of data per packet

 private:
  void CleanHeader(uint32_t i);
  void Free();

  ULONG usedBytes = 0;  // DataUsed of a request as it goes out
};

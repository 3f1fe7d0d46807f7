// The storage of a stream's packet ring: the packet records, one block of sample data, one
// auto-reset event per packet, and which packets a pin still holds. The storage is freed only
// when no request is outstanding, since the pin writes into it until the request completes.
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
  // `extentBytes` and DataUsed `usedBytes`. False (nothing kept) when memory or events ran out.
  bool Allocate(uint32_t count, uint32_t samples, ULONG extentBytes, ULONG usedBytes);

  // Queues packet i on the pin as a read or a write; a request that the pin took (pending or
  // done) is outstanding until its completion has been seen.
  void QueueRead(CKsPin* pin, uint32_t i);
  void QueueWrite(CKsPin* pin, uint32_t i);
  // Waits for packet i's completion; true when it has completed.
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
  void Free();
};

// The storage of a stream's packet ring: the packet records, one block of sample data, one
// manual-reset event per packet, and which packets a pin still holds. The storage is freed only
// when no request is outstanding, since the pin writes into it until the request completes.
// Every request goes out with a clean header: what the pin wrote into it at its last completion
// (time stamps, flags, DataUsed) is cleared, as some drivers refuse a request still carrying it.
// A request is seen done by its OVERLAPPED status, a read of memory; its manual-reset event only
// wakes a thread that has nothing else to do, and is cleared by the request that goes out next.
#pragma once

#include <cstdint>

#include "ks/StreamPacket.h"

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

  // Queues packet i on the pin as a read or a write with a clean header; sending it clears the
  // packet's event. A request that the pin took (pending or done) is outstanding until its
  // completion is taken. The pin's answer (S_OK when it took the request).
  HRESULT QueueRead(CKsPin* pin, uint32_t i);
  HRESULT QueueWrite(CKsPin* pin, uint32_t i);
  // Takes packet i's completion, waiting for it up to the time-out when it is not there yet
  // (with 0 no platform call is made); true when it has completed. A completion is taken once.
  bool AwaitCompletion(uint32_t i, DWORD milliseconds);
  // Packet i's event woke a waiter but the packet has not completed: the signal was that of an
  // earlier completion, taken before the event was set. Clears it, so that the event stands for
  // the packet's completion again. Only for this rare case: the streaming path never needs it.
  void DismissStaleSignal(uint32_t i);
  // Stops waiting for packet i: a packet that is not sent again must not look done when its turn
  // comes, nor wake a waiter.
  void Forget(uint32_t i);
  // Whether packet i's request is out and has completed, its completion not yet taken: a read
  // of the request's status, no call.
  bool Completed(uint32_t i) const;
  // Whether packet i's last completion carried an error status (a device that went away fails
  // every request it held).
  bool CompletedWithError(uint32_t i) const;

  // Waits until every outstanding request has completed or been cancelled, then frees the
  // storage. A stopped pin cancels its requests at once; storage that the pin still holds after
  // `milliseconds` in all is left allocated, since the pin may still write into it.
  void Release(DWORD milliseconds = kReleaseBoundMs);
  static constexpr DWORD kReleaseBoundMs = 400;

  StreamPacket* packets = nullptr;
  uint8_t* packetData = nullptr;
  HANDLE* packetEvents = nullptr;
  bool* outstanding = nullptr;
  uint32_t packetCount = 0;
  uint32_t packetBytes = 0;  // bytes of data per packet

 private:
  void CleanHeader(uint32_t i);
  void Queued(uint32_t i, HRESULT hr);
  void Free();

  ULONG usedBytes = 0;  // DataUsed of a request as it goes out
};

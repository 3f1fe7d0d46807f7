// What the capture and render streams share: their pin, paused when the stream is made and
// paused and stopped when it ends, and the ring of packets queued on it.
#pragma once

#include <cstdint>

#include "platform/windows.h"
#include "ks/PacketRing.h"

class CKsPin;

class PinStream {
 public:
  // Pauses the pin and allocates `packetCount` packets of `packetSamples` samples, each carrying
  // `usedBytes` when it goes out. `*phr` is S_OK, or why the stream cannot run.
  PinStream(CKsPin* pin, uint32_t packetCount, uint32_t packetSamples, ULONG usedBytes,
            HRESULT* phr);
  // Pauses and stops the pin, which cancels its requests, then frees the ring within its bound.
  ~PinStream();
  PinStream(const PinStream&) = delete;
  PinStream& operator=(const PinStream&) = delete;

  // Sets the pin running.
  HRESULT Start();
  bool Ready() const { return ring.packets != nullptr; }

  CKsPin* const pin;
  const uint32_t packetCount;
  const uint32_t packetSamples;
  PacketRing ring;
};

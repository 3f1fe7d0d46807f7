// COutputRenderKS: the render stream over the device's render pin, a ring of writes of packed
// 24-bit stereo packets, all queued as silence at first. Packets that come back wait, free, until
// the loop has frames for them; so the loop decides how much the device holds.
#pragma once

#include "streaming/OutputRender.h"
#include "streaming/PinStream.h"
#include "streaming/SampleConverter.h"

class CKsAudPin;

class COutputRenderKS : public COutputRender {
 public:
  // Pauses the pin and queues the first `primed` packets (all when more) as silence; the others
  // start free. `phr` is negative when the pin refused to pause or the packet storage could not
  // be allocated; the creator then deletes the object.
  COutputRenderKS(uint32_t packetCount, uint32_t packetSamples, CKsAudPin* pin, HRESULT* phr,
                  uint32_t primed = UINT32_MAX);
  ~COutputRenderKS() override = default;
  COutputRenderKS(const COutputRenderKS&) = delete;
  COutputRenderKS& operator=(const COutputRenderKS&) = delete;

  HRESULT Start() override;
  void WriteFrames(const int32_t* block) override;
  void Submit() override;
  bool WaitPacket(DWORD milliseconds) override;
  uint32_t FreePackets() const override { return freeCount; }
  uint32_t PacketCount() const override { return stream.packetCount; }
  HANDLE AwaitedEvent() override;
  void DismissWake() override;
  bool PacketFailed() override;
  bool TakeRefusal() override;

 private:
  void QueueWrite(uint32_t i);

  PinStream stream;
  CKsAudPin* const audioPin;
  uint32_t nextPacket = 0;     // the next to be refilled and queued
  uint32_t awaitedPacket = 0;  // the oldest still at the device
  uint32_t freeCount = 0;      // come back, not queued again: from nextPacket on
  uint32_t lastDone = 0;       // the packet WaitPacket last reported
  bool refused = false;
  SampleConverter converter;
};

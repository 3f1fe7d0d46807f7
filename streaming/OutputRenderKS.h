// COutputRenderKS: the render stream over the device's render pin, a ring of writes of packed
// 24-bit stereo packets. The completion of each write paces the streaming loop.
#pragma once

#include "streaming/OutputRender.h"
#include "streaming/PinStream.h"
#include "streaming/SampleConverter.h"

class CKsAudPin;

class COutputRenderKS : public COutputRender {
 public:
  // Pauses the pin and queues every packet as silence. `phr` is negative when the pin refused to
  // pause or the packet storage could not be allocated; the creator then deletes the object.
  COutputRenderKS(uint32_t packetCount, uint32_t packetSamples, CKsAudPin* pin, HRESULT* phr);
  ~COutputRenderKS() override = default;
  COutputRenderKS(const COutputRenderKS&) = delete;
  COutputRenderKS& operator=(const COutputRenderKS&) = delete;

  HRESULT Start() override;
  void WriteFrames(const int32_t* block) override;
  void Submit() override;
  bool WaitPacket(DWORD milliseconds) override;
  HANDLE AwaitedEvent() override;
  void DismissWake() override;
  bool PacketFailed() override;
  bool TakeRefusal() override;

 private:
  void QueueWrite(uint32_t i);

  PinStream stream;
  CKsAudPin* const audioPin;
  uint32_t nextPacket = 0;
  bool refused = false;
  SampleConverter converter;
};

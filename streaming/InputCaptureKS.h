// CInputCaptureKS: the capture stream over the device's capture pin, a ring of reads of packed
// 24-bit mono packets that the loop takes strictly in order.
#pragma once

#include "streaming/InputCapture.h"
#include "streaming/PinStream.h"
#include "streaming/SampleConverter.h"

class CKsPin;

class CInputCaptureKS : public CInputCapture {
 public:
  // Pauses the pin and queues every packet as a read. `phr` is negative when the pin refused to
  // pause or the packet storage could not be allocated; the creator then deletes the object.
  CInputCaptureKS(uint32_t packetCount, uint32_t packetSamples, CKsPin* pin, HRESULT* phr);
  ~CInputCaptureKS() override = default;
  CInputCaptureKS(const CInputCaptureKS&) = delete;
  CInputCaptureKS& operator=(const CInputCaptureKS&) = delete;

  HRESULT Start() override;
  void Flush(DWORD milliseconds) override;
  bool WaitPacket(DWORD milliseconds) override;
  HANDLE AwaitedEvent() override;
  void DismissWake() override;
  int32_t* GetData() override;
  uint32_t GetFrameCount() override;
  uint32_t GetPacketFrames() override;
  void ReleasePacket() override;
  bool PacketTime(LONGLONG* hundredNanoseconds) override;
  bool PacketFailed() override;
  void HoldPacket() override;
  void RequeueHeld() override;
  uint32_t HeldCount() override { return heldCount; }
  bool TakeRefusal() override;
  uint32_t FramesCompletedAhead() override;

 private:
  // The frames that packet i's completed read carries.
  uint32_t FramesOf(uint32_t i) const;
  void QueueRead(uint32_t i);

  PinStream stream;
  uint32_t nextPacket = 0;
  uint32_t currentPacket;  // packetCount: no packet is current
  // The held packets, a run in ring order that ends just before nextPacket.
  uint32_t heldCount = 0;
  bool converted = false;
  bool refused = false;
  SampleConverter converter;
};

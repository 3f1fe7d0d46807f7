// CInputCapture: a source of captured packets for the streaming loop, which polls it after every
// render packet and hands each packet back once its samples are taken.
#pragma once

#include <cstdint>

#include "platform/windows.h"

class CInputCapture {
 public:
  virtual ~CInputCapture() = default;
  virtual HRESULT Start() = 0;
  // Takes and re-queues the packets that complete within the time-out.
  virtual void Flush(DWORD /*milliseconds*/) {}
  // True when the awaited packet has completed; it is then the current packet.
  virtual bool WaitPacket(DWORD milliseconds) = 0;
  // The event the awaited packet's completion signals, for a wait on several streams at once;
  // such a wait leaves the completion to WaitPacket. Null while a packet is current.
  virtual HANDLE AwaitedEvent() = 0;
  // The awaited event woke the caller, yet WaitPacket(0) found nothing: clears the event, which
  // then wakes only for the awaited packet's completion.
  virtual void DismissWake() = 0;
  // The current packet's samples as 32-bit integers; null when no packet is current.
  virtual int32_t* GetData() = 0;
  // Samples in the current packet; 0 when none is current.
  virtual uint32_t GetFrameCount() = 0;
  virtual uint32_t GetPacketFrames() = 0;
  // Queues the current packet for the next read.
  virtual void ReleasePacket() = 0;
  // The current packet's time stamp, in 100-ns units of the pin's stream time, when the pin
  // gave a valid one; false otherwise.
  virtual bool PacketTime(LONGLONG* /*hundredNanoseconds*/) { return false; }
  // Whether the current packet's read completed with an error.
  virtual bool PacketFailed() { return false; }
  // Keeps the current packet back instead of queuing it: a pin that hands reads back at once,
  // empty or failed, must not be fed faster than the stream is paced. Held packets go out again,
  // in their order, with RequeueHeld.
  virtual void HoldPacket() { ReleasePacket(); }
  virtual void RequeueHeld() {}
  virtual uint32_t HeldCount() { return 0; }
  // Frames of the reads that completed after the awaited one's turn and are not taken yet: how
  // far the device has captured beyond the packets taken. Read from the requests, without a call.
  virtual uint32_t FramesCompletedAhead() { return 0; }
  // Whether the pin refused a read since the last call, which clears it.
  virtual bool TakeRefusal() { return false; }
};

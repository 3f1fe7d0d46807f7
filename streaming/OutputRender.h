// COutputRender: the sink that the streaming loop feeds one block of frames at a time, after
// the packet that is to carry it has come back from the device.
#pragma once

#include <cstdint>

#include "platform/windows.h"

class COutputRender {
 public:
  virtual ~COutputRender() = default;
  virtual HRESULT Start() = 0;
  // Fills the oldest packet that has come back from a block of interleaved 32-bit samples.
  virtual void WriteFrames(const int32_t* block) = 0;
  // Queues that packet and moves on to the next one that has come back.
  virtual void Submit() = 0;
  // True when the oldest packet still at the device has come back within the time-out; it is
  // then free to be refilled, and the one after it is awaited.
  virtual bool WaitPacket(DWORD milliseconds) = 0;
  // Packets that have come back and are not queued again yet, and packets in the ring.
  virtual uint32_t FreePackets() const = 0;
  virtual uint32_t PacketCount() const = 0;
  // The event the awaited packet's completion signals, for a wait on several streams at once;
  // such a wait leaves the completion to WaitPacket. Null when no packet is at the device.
  virtual HANDLE AwaitedEvent() = 0;
  // The awaited event woke the caller, yet WaitPacket(0) found nothing: clears the event, which
  // then wakes only for the next packet's completion.
  virtual void DismissWake() = 0;
  // Whether the packet that WaitPacket last reported completed with an error.
  virtual bool PacketFailed() { return false; }
  // Whether the pin refused a write since the last call, which clears it.
  virtual bool TakeRefusal() { return false; }
};

// CHostBuffers: the host's side of the stream, made by createBuffers: the double buffers of each
// active channel with its direction and channel number, the buffer size and half index, the
// host's callbacks and time-info record, the published sample position and time stamp, and the
// delivery of one half to the host. The driver holds one reference and a run another, so the
// blocks outlive a disposeBuffers or a release while a run that was let go is still inside the
// host's callback.
//
// Threads: made and dropped on a host thread; a run's streaming thread delivers through it and
// fills its halves; ReadPosition and ActiveMask on any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "asio/asio.h"
#include "streaming/SampleConverter.h"

class CRunningStream;

class CHostBuffers {
 public:
  static constexpr int32_t kChannelsPerDirection = 2;

  // The host's channels from `infos`, each block handed back in its buffers[]. ASE_OK with
  // `*made` set; ASE_InvalidParameter for a channel number out of range or given twice in one
  // direction, ASE_NoMemory when a block cannot be had.
  static ASIOError Create(ASIOBufferInfo* infos, int32_t numChannels, uint32_t bufferSize,
                          ASIOCallbacks* callbacks, double sampleRate,
                          std::shared_ptr<CHostBuffers>* made);
  ~CHostBuffers();
  CHostBuffers(const CHostBuffers&) = delete;
  CHostBuffers& operator=(const CHostBuffers&) = delete;

  uint32_t BufferSize() const { return bufferSize; }
  // Bit c: input c is active; bit 2 + c: output c.
  uint32_t ActiveMask() const { return activeMask; }
  bool TimeInfoMode() const { return timeInfoMode; }
  const ASIOTime& Time() const { return asioTime; }
  uint32_t HalfIndex() const { return halfIndex.load(std::memory_order_relaxed); }

  // Streaming thread: the current half of the first input (the microphone), as floats until its
  // delivery turns them into the host's integers; null without it.
  float* CaptureHalf() const;
  // Streaming thread: the other inputs' current halves carry the first's samples, or silence.
  void CopyCaptureToOtherInputs();
  void SilenceOtherInputs();
  // The host's output floats for the device's side (0 left, 1 right) from `frame` of the two
  // halves; null when the host made no buffer for that channel number.
  const float* OutputFloats(int32_t side, uint32_t frame) const;
  // Host thread, while no run delivers: the first half and position 0, as at a start.
  void ResetForStart();
  // Every half of every channel to zero, as at a start.
  void Clear();

  // Streaming thread: hands the current half to the host as switch `switchNumber` of the start
  // (1 for the first) at `stampNs`, and turns the half index over. False when the run was let go
  // during the host's callback: nothing but the run's own may be touched then.
  bool Deliver(CRunningStream& run, uint32_t switchNumber, uint64_t stampNs, double sampleRate);
  // Sets the position and stamp pair the host reads, as one record.
  void Publish(uint64_t position, uint64_t stampNs);
  // The latest published pair: lock-free, on any thread.
  void ReadPosition(ASIOSamples* position, ASIOTimeStamp* stamp) const;

  // Time-info flags, shared between host threads and the streaming thread.
  void SetTimeInfoFlags(uint32_t flags);
  void ClearTimeInfoFlags(uint32_t flags);
  // The rate the record carries while no run delivers.
  void SetRecordedRate(double rate) { asioTime.timeInfo.sampleRate = rate; }

 private:
  // The tests' view of the record and the channel table.
  friend class CAsioDriverTestAccess;
  static constexpr int32_t kNoChannel = -1;
  struct HostChannel {
    int32_t number = kNoChannel;
    int32_t* block = nullptr;  // two halves of the host's integers
    float* floats = nullptr;   // outputs: the halves as floats, for the render pin
  };
  explicit CHostBuffers(uint32_t size);
  bool AddChannel(ASIOBufferInfo& info, ASIOError* error);
  int32_t* AllocateBlock() const;

  const uint32_t bufferSize;
  HostChannel inputs[kChannelsPerDirection];
  HostChannel outputs[kChannelsPerDirection];
  int32_t inputCount = 0;
  int32_t outputCount = 0;
  uint32_t activeMask = 0;
  ASIOCallbacks* callbacks = nullptr;
  bool timeInfoMode = false;
  // The record's doubles on their natural alignment (its layout is packed to 4 bytes).
  alignas(8) ASIOTime asioTime{};
  std::atomic<uint32_t> halfIndex{0};
  SampleConverter converter;
  // The published pair: odd while being written.
  std::atomic<uint32_t> pairSequence{0};
  std::atomic<uint64_t> pairPosition{0};
  std::atomic<uint64_t> pairStamp{0};
};

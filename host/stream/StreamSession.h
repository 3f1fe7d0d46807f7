// The host's side of streaming: the ASIO callbacks and what they fill and record. Everything the
// buffer-switch callback touches is allocated beforehand; the callback neither allocates nor
// locks. ASIO callbacks carry no context, so one session at a time is active.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "asio/asio.h"
#include "host/stream/SampleRing.h"
#include "host/stream/SignalGenerator.h"
#include "host/stream/ThreadCpuMeter.h"

namespace kx7host {

struct SessionPlan {
  int32_t bufferSize = 0;
  int inputs = 2;               // inputs 0 .. inputs-1 are streamed (0 to 2)
  int outputs = 2;              // outputs 0 .. outputs-1 are streamed (0 to 2)
  size_t maxTimedSwitches = 0;  // switches whose time stamp and position are kept
  size_t recordRingFrames = 0;  // frames of room for the recording; 0 records nothing
  size_t captureFrames = 0;     // frames of input L kept from the start; 0 keeps none
  // The callback busy-waits this share (0 to 1) of the buffer period at `sampleRate` before it
  // fills its outputs: a host whose processing takes that long.
  double callbackLoad = 0;
  double sampleRate = 0;
};

class StreamSession {
 public:
  explicit StreamSession(const SessionPlan& plan);
  ~StreamSession();
  StreamSession(const StreamSession&) = delete;
  StreamSession& operator=(const StreamSession&) = delete;

  SignalGenerator& Signal() { return signal_; }
  // The CPU time of the thread that calls the callbacks, which time themselves.
  ThreadCpuMeter& CpuMeter() { return cpuMeter_; }

  // The records createBuffers fills: the planned inputs, then the planned outputs, each from
  // channel 0.
  ASIOBufferInfo* BufferInfos() { return infos_; }
  int32_t BufferInfoCount() const { return plan_.inputs + plan_.outputs; }
  static constexpr int32_t kMaxBufferInfos = 4;
  ASIOCallbacks* Callbacks() { return &callbacks_; }

  // Makes this the session the callbacks serve, with the driver they ask for the sample
  // position. Deactivate (also done by the destructor) after the driver has stopped.
  void Activate(IASIO* driver);
  void Deactivate();

  // Live counters, readable from any thread.
  uint64_t Switches() const { return switches_.load(std::memory_order_acquire); }
  uint64_t PositionBreaks() const { return positionBreaks_.load(std::memory_order_relaxed); }
  uint64_t BadIndexes() const { return badIndexes_.load(std::memory_order_relaxed); }
  uint64_t RecordFramesLost() const { return recordLost_.load(std::memory_order_relaxed); }
  uint64_t ResetRequests() const { return resetRequests_.load(std::memory_order_relaxed); }

  // The recording, for the writer thread: the planned inputs, interleaved.
  SampleRing* Recording() { return ring_.get(); }

  // After the driver has stopped: the time stamps (steady clock, ns) and sample positions of the
  // first switches, and the captured frames of input L.
  std::vector<int64_t> Stamps() const;
  std::vector<int64_t> Positions() const;
  const std::vector<int32_t>& CapturedLeft() const { return captured_; }
  size_t CapturedFrames() const;

  // The callback body, public for tests that play the driver.
  void OnBufferSwitch(int32_t index);

 private:
  static void BufferSwitch(int32_t index, ASIOBool directProcess);
  static ASIOTime* BufferSwitchTimeInfo(ASIOTime* params, int32_t index, ASIOBool directProcess);
  static void SampleRateDidChange(ASIOSampleRate rate);
  static int32_t AsioMessage(int32_t selector, int32_t value, void* message, double* opt);

  static std::atomic<StreamSession*> active_;

  SessionPlan plan_;
  IASIO* driver_ = nullptr;
  SignalGenerator signal_;
  ThreadCpuMeter cpuMeter_;
  ASIOBufferInfo infos_[kMaxBufferInfos] = {};
  ASIOCallbacks callbacks_ = {};
  std::vector<int64_t> stamps_;
  std::vector<int64_t> positions_;
  std::unique_ptr<SampleRing> ring_;
  std::vector<int32_t> interleaved_;  // one half of the inputs, for the ring
  std::vector<int32_t> captured_;
  int64_t lastPosition_ = 0;
  std::atomic<uint64_t> switches_{0};
  std::atomic<uint64_t> positionBreaks_{0};
  std::atomic<uint64_t> badIndexes_{0};
  std::atomic<uint64_t> recordLost_{0};
  std::atomic<uint64_t> resetRequests_{0};
};

}  // namespace kx7host

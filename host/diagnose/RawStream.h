// Raw streaming below the driver: a created capture pin and render pin (either may be missing)
// are streamed as the driver's streams do it, through the same packet ring: four 64-frame packets
// in flight per pin, each queued again with a clean header as soon as it completes, the render
// pin playing silence.
// Every completion is logged with the clock's time and what the pin left in the header. The
// stream runs on a thread of its own at time-critical priority, so that the thread that started
// it can show progress and pass on an interrupt.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "host/diagnose/CompletionClock.h"
#include "host/diagnose/Diagnosis.h"
#include "ks/KsPin.h"

namespace kx7host {

class RawStream {
 public:
  explicit RawStream(CompletionClock& clock);
  // Ends the thread (waiting for it) and frees the packets, unless a pin still holds one.
  ~RawStream();
  RawStream(const RawStream&) = delete;
  RawStream& operator=(const RawStream&) = delete;

  // Streams `pin` (created, in KSSTATE_PAUSE) with packets of `frameBytes`-byte frames; its
  // states, completion log and problems go to `run`, which must outlive the stream. False when
  // the packets cannot be had.
  bool AddPin(CKsPin* pin, bool render, ULONG frameBytes, PinRun* run);

  // Starts the thread: it queues the packets, sets the pins running and streams for `seconds`
  // of the clock at `rate`, then pauses and stops the pins. False when no thread could start.
  bool Start(uint32_t rate, double seconds);
  // Waits up to `milliseconds` for the stream to end; true once it has.
  bool WaitEnd(DWORD milliseconds);
  // Asks the stream to end early.
  void RequestStop();

  // Progress, readable while it streams.
  double SecondsStreamed() const;
  uint64_t Completions(bool render) const;

 private:
  struct Lane;
  static DWORD WINAPI ThreadMain(LPVOID parameter);
  void Run();
  void Loop();
  void Harvest(Lane& lane, int64_t timeNs);
  void Requeue(Lane& lane, uint32_t packet);
  void Finish();

  CompletionClock& clock_;
  std::unique_ptr<Lane> lanes_[2];  // capture, render
  HANDLE thread_ = nullptr;
  uint32_t rate_ = 0;
  double seconds_ = 0.0;
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> streamedNs_{0};
  std::atomic<uint64_t> completions_[2] = {{0}, {0}};
};

}  // namespace kx7host

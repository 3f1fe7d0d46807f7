// One run of the stream, from a start to its stop: the device objects opened for it, the capture
// and render streams over its pins, the streaming thread and the loop's state. The driver holds
// one reference and the thread another, so a thread that outlives its stop (a host callback that
// does not return) still has everything it uses, and nothing is freed under it.
//
// Threads: Start, EndWithin and the getters run on a host thread; RunLoop and its steps on the
// streaming thread; RequestStop and AbandonFromCallback on either. The thread touches its owner
// (the driver object: its counters, its error text) only while attached: once the
// owner has let it go, it ends without touching the owner again.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "asio/asio.h"
#include "com/ComBase.h"
#include "driver/CaptureHalf.h"
#include "driver/DeviceEventLog.h"
#include "driver/DeviceWatch.h"
#include "driver/HostBuffers.h"
#include "driver/Kx7Device.h"
#include "driver/StallRule.h"
#include "driver/StreamOwner.h"
#include "driver/SwitchClock.h"
#include "platform/avrt.h"
#include "platform/windows.h"
#include "product/Kx7Facts.h"
#include "streaming/SampleConverter.h"

class CInputCapture;
class COutputRender;

// Counting the stream as a live object keeps the module loaded while its thread may still run.
class CRunningStream : public CBaseObject {
 public:
  // Takes over the device's filters and pins; streams for `owner` into `host` at `rate`.
  CRunningStream(IStreamOwner* owner, std::shared_ptr<CHostBuffers> host, double rate,
                 CKx7Device& device);
  ~CRunningStream();
  CRunningStream(const CRunningStream&) = delete;
  CRunningStream& operator=(const CRunningStream&) = delete;

  // Host thread: starts the streaming thread, which holds `self` until it ends. False when no
  // thread could be made.
  static bool StartThread(const std::shared_ptr<CRunningStream>& self);
  // Any thread: asks the loop to end, waking it at once.
  void RequestStop();
  // Host thread: asks the loop to end and waits up to `milliseconds` for the thread. A thread
  // still inside the host's callback then is let go: it ends on its own once the callback
  // returns, touching nothing of the driver. True when the thread has ended.
  bool EndWithin(DWORD milliseconds);
  // Streaming thread, inside the host's callback (a stop or the last release from there): lets
  // the thread go now; it ends once the callback returns, touching nothing of the driver.
  void AbandonFromCallback();

  bool OnThread() const;
  // The run whose streaming thread is the calling thread; null on any other thread.
  static CRunningStream* Current();
  const IStreamOwner* Owner() const { return owner; }
  // The host's buffers this run delivers to.
  const CHostBuffers& Host() const { return *host; }
  bool StopRequested() const;
  DWORD ThreadId() const { return threadId.load(std::memory_order_relaxed); }
  // Whether the device was lost while this run streamed.
  bool DeviceLost() const { return deviceLost.load(std::memory_order_acquire); }
  // Buffer switches delivered, and why the streams could not run (ASE_OK while they can).
  uint32_t Cycles() const { return cycleCount.load(std::memory_order_acquire); }
  // The switches a start waits for: the host has been called twice.
  static constexpr uint32_t kStartedCycles = 2;
  // Host thread: waits up to `milliseconds` until the run has delivered its first two buffer
  // switches or has failed; true when it delivered them.
  bool AwaitStarted(DWORD milliseconds) const;
  ASIOError Failure() const { return streamFailure.load(std::memory_order_acquire); }
  // Whether the run has let its filters and pins go (its thread has ended, or never started).
  bool DeviceReleased() const { return deviceReleased.load(std::memory_order_acquire); }
  // Whether the thread has ended.
  bool Ended() const;
  CKsAudPin* CapturePin() const { return device.capturePin; }
  CKsAudPin* RenderPin() const { return device.renderPin; }
  // The thread that looks for a device that left, while it looks (0 otherwise).
  DWORD WatchThreadId() const { return watch.ThreadId(); }

  // Host thread, under the transport lock: restarts the pins at `rate` on the streaming thread
  // and waits for it, at most `milliseconds`. ASE_OK once the pins run at it (a lost device
  // takes it when it returns), or, with `*restarted` false, when the run was asked to stop
  // before it took the rate (the next start makes the pins at it); ASE_NoClock when the pins
  // refuse it and go on at the old rate, or when the thread did not answer in time.
  ASIOError ChangeRate(double rate, DWORD milliseconds, bool* restarted);
  // Streaming thread, inside the host's callback: whether the pins' ranges take `rate`; if so,
  // they are restarted at it as soon as the callback has returned.
  bool ChangeRateAfterCallback(double rate);

  // The thread's relation to the driver object. Working: it may touch the driver. InHost: it is
  // inside the host's callback. Detached: it only tears down what it owns. Abandoned: the driver
  // has let it go while it was inside the callback.
  enum Phase : uint32_t { kWorking, kInHost, kDetached, kAbandoned };
  // Streaming thread, around the host's callback. LeaveHost is false when the driver let the
  // thread go meanwhile: nothing of the driver may be touched any more.
  void EnterHost();
  bool LeaveHost();
  // The last release of the owner while this run, let go inside the host's callback, is still
  // in it: true when the thread will call the owner's ReleaseAfterHost once it has come out;
  // false when it is out already (or was never let go there), and the owner may go now.
  bool DeferOwnerRelease();

 private:
  static unsigned WINAPI ThreadProc(void* argument);
  // The thread's whole life: set-up at time-critical priority, the loop, the teardown.
  void Run();
  // Lets the filters and pins go; the thread's last use of the device.
  void ReleaseDevice();
  // Marks the thread detached from the driver, unless it was let go already.
  void Detach();

  // The loop and its steps (RunningStreamLoop.cpp), all on the streaming thread.
  void RunLoop();
  bool OpenStreams();
  // The loop's positions as at a start, for streams just opened.
  void ResetStreamState();
  void IdleUntilStopped();
  void CloseStreams();
  void ClearHostHalves();
  enum class Wake { Stop, Render, Capture, Nothing };
  Wake AwaitCompletion();
  // One wake: the render packets that came back, the capture that came in, the halves that are
  // complete handed to the host, the host's output to the device. False when the driver let
  // the thread go during the host's callback.
  bool OnWake(Wake wake);
  // Takes every render packet that has come back; true when one did.
  bool OnRenderPacket();
  void OnCaptureWake(bool took);
  // Takes the capture packets that completed, into the current half as far as they belong to
  // it; true when one was taken.
  bool DrainCapture();
  // Where the current capture packet's first frame belongs in the capture stream.
  uint64_t PlaceOfPacket(uint32_t frames);
  // Whether the current half is to be handed over: capture has filled it, or it is so late that
  // its missing frames count as lost.
  bool HalfDue() const;
  // Feeds the packets that came back with the host's output that is due.
  void FeedRender();
  // Frames (whole packets) by which the device's clock has gone past the end of its output.
  uint64_t PlayedPastOutput();
  // The device ran dry and its clock went on past the end of its output: the host's output for
  // that time is dropped, so that what follows plays at its place.
  void SkipPlayedSilence();
  void FillRenderBlock(uint32_t first);
  bool EndHalf();
  // Hands the current half to the host as the next switch of the start, stamped now. False
  // when the driver let the thread go during the host's callback.
  bool DeliverHalf();
  // Whether the device failed a request or refused one: it is gone.
  bool DeviceFailed();
  // The device is gone or silent: the host's clock goes on at the buffer period, with silence
  // in, until the run is stopped or the streams run again. False when the driver let the
  // thread go during the host's callback.
  bool RunSilenceClock();

  // The device's comings and goings and the rate (RunningStreamDevice.cpp), streaming thread.
  // After each wake of the loop: a device that failed or went silent is ridden out, a rate
  // asked for is taken. False when the loop is to end.
  bool TendDevice(Wake wake);
  // timeGetTime at the latest buffer switch (now, before the first).
  DWORD LatestSwitchTime() const;
  // The device failed (`failed`) or has completed nothing for the stall time: the silence
  // clock runs until it streams again. False when the loop is to end.
  bool RideOutLoss(bool failed);
  // Inside the silence clock: waits until `dueMs` after `t0` while watching for the device's
  // return, its resumption and a rate asked for. False when the silence is over (the streams
  // run again, or a stop was asked for).
  bool AwaitSilentHalf(DWORD t0, double dueMs);
  // A render completion while silent: false when the streams run again.
  bool OnSilentRenderWake();
  // The streams anew on the pins held, as at a start; the gap counts as one drop-out.
  bool ReopenStreams();
  // Closes the pins and makes them again at `rate`; false (pins closed) when they cannot be had.
  bool RemakePins(double rate);
  // The device's life under the run: streaming; silent with its pins held (riding out a stall);
  // its pins paused under the run (system sleep); gone, with the watch looking for it.
  enum class Life : uint8_t { kStreaming, kStalled, kSuspended, kAway };
  // The one place the device's life changes, with the event and error text each change brings.
  void Become(Life next);
  void NoteLost();
  // The device is gone: its filters and pins go, and the watch for its return begins.
  void LetDeviceGo();
  // Whether the callback or the host has asked for a rate not yet taken.
  bool RateAsked() const;
  // A rate asked for: taken on the running pins, or noted for a device that is away.
  bool TakeRequestedRate();
  // Restarts the pins at `wanted`, or back at the old rate when they refuse it; answers the
  // host's request when it is one. False when the pins could not be had at all.
  bool RestartAtRate(double wanted, bool fromHost);
  // Streaming thread, while attached: records a device event.
  void Note(DeviceEvent event);
  double CurrentRate() const { return rate.load(std::memory_order_acquire); }
  float* CurrentCaptureHalf() const;
  uint32_t HalfStart() const;

  IStreamOwner* const owner;
  std::shared_ptr<CHostBuffers> host;  // dropped when the thread ends
  SampleConverter converter;
  CSwitchClock switchClock;
  DWORD latestSwitchMs = 0;       // timeGetTime at the latest buffer switch
  HANDLE startedEvent = nullptr;  // manual-reset: two switches delivered, or a failure
  // Whether the thread has come out of the host's callback it was let go in, and whether the
  // owner's release waits for that.
  enum AfterHost : uint32_t { kNoRelease, kReleaseDeferred, kOutOfHost };
  std::atomic<uint32_t> afterHost{kNoRelease};
  CKx7Device device;
  HANDLE thread = nullptr;
  std::atomic<DWORD> threadId{0};
  HMODULE module = nullptr;  // the thread's own reference to the module
  // The run's own reference to "Avrt.dll", whose entry points the thread calls after the driver
  // object, which loaded it first, may be gone.
  HMODULE avrtModule = nullptr;
  HANDLE stopEvent = nullptr;
  std::atomic<bool> stopRequested{false};
  std::atomic<uint32_t> phase{kWorking};
  std::atomic<bool> deviceReleased{false};
  std::atomic<bool> threadEnded{false};
  std::atomic<uint32_t> cycleCount{0};
  std::atomic<bool> deviceLost{false};
  // Set by the thread when its streams cannot run; ends the start handshake at once.
  std::atomic<ASIOError> streamFailure{ASE_OK};
  // The rate the pins run at (or are made at when the device returns).
  std::atomic<double> rate{48000.0};
  // A rate change asked for by a host thread: the rate, and where the request stands.
  enum RateRequest : uint32_t { kNoRequest, kAsked, kTaken, kRateRunning, kRateRefused };
  std::atomic<double> askedRate{0.0};
  std::atomic<uint32_t> rateRequest{kNoRequest};
  HANDLE controlEvent = nullptr;  // wakes the loop for a request (auto-reset)
  HANDLE rateAnswered = nullptr;  // the thread's answer to a rate request (auto-reset)
  // The rate asked for from inside the host's callback, taken once it has returned (0: none).
  double rateAfterCallback = 0.0;

  // The watch for a device that left, while it is away.
  CDeviceWatch watch{&rate};

  // The loop's state, the streaming thread's alone.
  CInputCapture* capture = nullptr;
  COutputRender* render = nullptr;
  int32_t renderBlock[kx7::kPacketFrames * kx7::kRenderChannels] = {};
  uint32_t packetCount = 0;    // in each pin's ring, for this buffer size
  uint64_t renderDone = 0;     // frames of render packets that have come back
  uint32_t outputCursor = 0;   // first frame of the host's output not yet sent, in the two halves
  uint32_t outputPending = 0;  // frames of host output not yet sent
  uint64_t outputSent = 0;     // frames of host output sent (or dropped) since the start
  uint32_t primedPackets = 0;  // packets of silence the render pin started with
  // When the device ran out of output and the clock went on.
  struct DryRecord {
    uint64_t keptShift = 0;       // frames by which the output stays late after dry bursts
    bool beforeCallback = false;  // it was dry when the latest callback began
    bool now = false;             // it is dry now
    bool keeping = false;         // this time the shift is kept
  } dryRun;
  bool starved = false;      // the device ran out of output (counted once per time)
  bool synced = false;       // capture has delivered its first frames
  uint64_t captureNext = 0;  // the place of the frame after the last captured one
  bool packetHeld = false;   // the current capture packet belongs partly to a later half
  uint64_t packetPlace = 0;  // the held packet's place and frames already taken
  uint32_t packetTaken = 0;
  // A capture read or a render write completed with an error.
  bool captureFailed = false;
  bool renderFailed = false;
  // Empty or failed capture completions the pin may still be handed back at once this half.
  uint32_t quickRequeues = 0;
  CCaptureHalf captured;
  // When render counts as silent.
  CStallRule stall;
  Life life = Life::kStreaming;
};

// CAsioDriver: the one object an audio host holds. It implements IASIO and keeps what outlives one
// run of the stream: the host's buffers (a CHostBuffers it shares with the run), the rate, the
// error text, the user's settings and the control panel that shows them. What lives for one run
// (the device's filters and pins, the streams, the streaming thread and its loop) is a
// CRunningStream.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "asio/asio.h"
#include "com/ComBase.h"
#include "driver/CallGate.h"
#include "driver/DeviceEventLog.h"
#include "driver/DeviceEventReport.h"
#include "driver/HostBuffers.h"
#include "driver/Kx7Device.h"
#include "driver/RunningStream.h"
#include "driver/StreamOwner.h"
#include "panel/ControlPanel.h"
#include "panel/DriverSettings.h"
#include "platform/windows.h"

class CKsAudCapFilter;
class CKsAudRenFilter;
class CKsAudPin;
class CKsEnumFilters;

// The running stream reaches the driver only through IStreamOwner, which hosts do not see.
class CAsioDriver : public IASIO, public CUnknown, private IStreamOwner {
 public:
  CAsioDriver(IUnknown* outerUnknown, HRESULT* phr);
  ~CAsioDriver() override;

  DECLARE_DELEGATING_IUNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IASIO, in slot order.
  ASIOBool init(void* sysHandle) override;
  void getDriverName(char* name) override;
  int32_t getDriverVersion() override;
  void getErrorMessage(char* string) override;
  ASIOError start() override;
  ASIOError stop() override;
  ASIOError getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) override;
  ASIOError getLatencies(int32_t* inputLatency, int32_t* outputLatency) override;
  ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                          int32_t* granularity) override;
  ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
  ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
  ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
  ASIOError getClockSources(ASIOClockSource* clocks, int32_t* numSources) override;
  ASIOError setClockSource(int32_t reference) override;
  ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
  ASIOError getChannelInfo(ASIOChannelInfo* info) override;
  ASIOError createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                          ASIOCallbacks* callbacks) override;
  ASIOError disposeBuffers() override;
  ASIOError controlPanel() override;
  ASIOError future(int32_t selector, void* opt) override;
  ASIOError outputReady() override;

 private:
  // The tests' and benchmarks' view of the private state.
  friend class CAsioDriverTestAccess;

  // Runs a host call inside the call gate, turning any exception into `failure`: the last
  // release waits for calls that have entered, and calls that come after it are refused.
  template <typename Result, typename Body>
  Result HostCall(Result failure, Body&& body);
  void LeaveCall();

  // Device discovery and opening (host threads, under the transport lock).
  bool OpenDevice(CKx7Device& device);
  CKsAudCapFilter* FindCaptureFilter(CKsEnumFilters* enumerator);
  CKsAudRenFilter* FindRenderFilter(CKsEnumFilters* enumerator);
  CKsAudPin* CreateCapturePinAtRate(CKsAudCapFilter* filter, ASIOSampleRate rate);
  CKsAudPin* CreateRenderPinAtRate(CKsAudRenFilter* filter, ASIOSampleRate rate);

  // The IASIO bodies that HostCall runs.
  ASIOBool Init();
  ASIOError Start();
  ASIOError Stop();
  ASIOError SetSampleRate(ASIOSampleRate rate);
  ASIOError CreateBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                          ASIOCallbacks* callbacks);
  ASIOError DisposeBuffers();
  ASIOError ControlPanel();

  // Host thread under the transport lock: ends the run (bounded), closes the control panel and
  // lets the device go. From inside the host's callback it only asks the run to end.
  void EndStream();
  // Ends the run and drops the driver's reference to the host's buffers (a run let go inside
  // the callback keeps its own); the caller holds the transport lock.
  void ReleaseBuffers();
  // Whether a run that was let go still holds the device's pins.
  bool DeviceHeldByEndedRun();

  // The transport lock (see TransportScope). A run that a stop from inside the host's callback
  // ended is reaped by the next host thread that takes it.
  void ReapEndedStream();
  class TransportScope {
   public:
    // On a host thread, waits for the transport lock and reaps an ended run; on the streaming
    // thread, takes nothing. Entered() is false when this thread holds the lock already (a host
    // calling back in from a callback the driver makes while holding it).
    explicit TransportScope(CAsioDriver* owner);
    ~TransportScope();
    TransportScope(const TransportScope&) = delete;
    TransportScope& operator=(const TransportScope&) = delete;
    bool Entered() const { return entered; }
    // True on a host thread (the lock is held), false on the streaming thread.
    bool Locked() const { return locked; }

   private:
    CAsioDriver* driver;
    bool locked = false;
    bool entered = true;
  };
  void UnlockTransport();

  // The run (host threads, under the transport lock): made with the device's pins, started, and
  // waited for until it has delivered two buffer switches.
  bool StartStreamThread(CKx7Device& device);
  // After StartStreamThread failed: the error start reports, with its text in errorMessage.
  ASIOError StreamStartFailure();
  void StopStreamThread();
  // The run's owner, on its streaming thread: the error text, a rate the pins have taken, the
  // figures, and the end of a release that waited for a run let go inside the callback.
  void SetErrorMessage(const char* text) override;
  void TakeRate(double rate) override;
  void CountDropOut() override;
  void ShowLatency(uint32_t frames) override;
  void RecordEvent(DeviceEvent event) override;
  void ReleaseAfterHost() override;
  // True on the streaming thread, that is inside the host's buffer-switch callback.
  bool OnStreamThread() const;
  // The last reference dropped: waits (bounded) for host calls still inside, then deletes the
  // object; from inside the host's callback the run is let go first.
  void OnLastRelease() override;
  // Once no host call is inside: ends the run and deletes the object, or leaves the deletion
  // to a run let go inside the host's callback until it has come out of it.
  void FinishRelease();

  // Opens the control panel (see CControlPanel::Open) and closes it.
  void OpenControlPanel(bool noWait);
  void CloseControlPanel();

  // setSampleRate while a run exists: its pins restart at `rate` (from inside the host's
  // callback, once the callback has returned). ASE_NoClock when they cannot take it. `*taken`
  // is set when the run has stored the rate and marked the time info itself.
  ASIOError RestartRunAt(ASIOSampleRate rate, bool* taken);

  // Sets time-info flags in the host's record, when there is one.
  void SetTimeInfoFlags(uint32_t flags);

  // Lock order: transportLock before the panel's lock, never the other way. Only host threads take
  // transportLock, and none of them holds it while calling back into the host, except for the
  // asioMessage query of createBuffers. The streaming thread never waits for either lock.
  std::mutex transportLock;
  std::atomic<DWORD> transportOwner{0};  // thread holding transportLock, 0 when none
  CallGate calls;
  // The thread whose COM the constructor initialised (0: none); only that thread balances it.
  DWORD comThread = 0;
  std::atomic<ASIOSampleRate> sampleRate{48000.0};  // read by the panel thread
  // What createBuffers made; a run holds its own reference. Replaced by host threads under the
  // transport lock, always through std::atomic_store: getSamplePosition and setClockSource read
  // it from any thread without the lock (std::atomic_load).
  std::shared_ptr<CHostBuffers> hostBuffers;
  // The current run, and one that was let go while it still ran (host threads, transport lock).
  std::shared_ptr<CRunningStream> stream;
  std::shared_ptr<CRunningStream> endedStream;
  std::atomic<DWORD> streamThreadId{0};  // the current run's thread, 0 when none
  // Why the latest run could not start: ASE_OK when it did not deliver in time.
  ASIOError startFailure = ASE_OK;
  // The latest run's figures, which the panel shows; written by the run's thread while attached.
  std::atomic<uint32_t> dropOutCount{0};
  std::atomic<uint32_t> latencyCount{0};
  DeviceEventLog deviceEvents;
  // The log as future's reader and the panel see it, timed from the latest start.
  CDeviceEventReport eventReport{&deviceEvents};
  // Read by getLatencies on any thread; set by createBuffers, so they hold for a whole run.
  std::atomic<uint32_t> inputLatency{128};
  std::atomic<uint32_t> outputLatency{kx7::OutputLatencyFrames(128)};
  // What getChannelInfo reads on any thread: bit c, input c is active; bit 2 + c, output c.
  std::atomic<uint32_t> activeChannelMask{0};
  std::atomic<bool> initialised{false};
  std::atomic<bool> running{false};
  // Written by host threads under the transport lock; read by getErrorMessage on any thread.
  // errorLock is held only to copy the text.
  std::mutex errorLock;
  char errorMessage[128] = {};
  // The user's preferences, and the control panel that shows them with the running figures.
  DriverSettings settings;
  CControlPanel panel{&settings,
                      PanelFigures{&dropOutCount, &latencyCount, &sampleRate, &eventReport}};
};

template <typename Result, typename Body>
Result CAsioDriver::HostCall(Result failure, Body&& body) {
  if (!calls.Enter()) return failure;
  Result result = failure;
  try {
    result = body();
  } catch (...) {
    result = failure;
  }
  // The object may be gone after this: a release deferred to the last call inside deletes it.
  LeaveCall();
  return result;
}

// The create function of the driver's class template.
INonDelegatingUnknown* CreateDriverInstance(IUnknown* outer, HRESULT* phr);

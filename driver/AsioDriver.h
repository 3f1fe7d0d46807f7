// CAsioDriver: the one object an audio host holds. It implements IASIO and owns all driver state:
// the host's callbacks and double buffers, rate and buffer size, the device's filters and pins,
// the streaming thread, the user's settings and the control panel that shows them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "asio/asio.h"
#include "com/ComBase.h"
#include "panel/ControlPanel.h"
#include "panel/DriverSettings.h"
#include "platform/avrt.h"
#include "platform/windows.h"
#include "streaming/SampleConverter.h"

class CKsEnumFilters;
class CKsAudCapFilter;
class CKsAudRenFilter;
class CKsAudPin;

// Records whether the constructor's CoInitialize must be balanced by CoUninitialize.
struct ComInitialization {
  bool initialized;
};

class CAsioDriver : public IASIO, public CUnknown {
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

  // Device discovery and opening.
  bool OpenDevice();
  CKsAudCapFilter* FindCaptureFilter(CKsEnumFilters* enumerator);
  CKsAudRenFilter* FindRenderFilter(CKsEnumFilters* enumerator);
  CKsAudPin* CreateCapturePinAtRate(CKsAudCapFilter* filter, ASIOSampleRate rate);
  CKsAudPin* CreateRenderPinAtRate(CKsAudRenFilter* filter, ASIOSampleRate rate);
  void ReleaseEnumerators();

  // Start and stop on a host thread: ends the stream (joining its thread), closes the control
  // panel and releases the device. The caller holds the transport lock.
  void EndStream();
  // On the streaming thread, inside the host's callback: asks the stream to end without waiting.
  void RequestStreamEnd();
  // Frees the buffers after ending the stream; the caller holds the transport lock.
  void ReleaseBuffers();

  // The transport lock (see TransportScope). A stream that a stop from inside the host's
  // callback ended is reaped by the next host thread that takes it.
  void ReapEndedStream();
  class TransportScope {
   public:
    // On a host thread, waits for the transport lock and reaps an ended stream; on the streaming
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
  // Takes the lock for the destructor, waiting at most `milliseconds`; false when it could not.
  bool LockTransportWithin(DWORD milliseconds);
  void UnlockTransport();

  // The streaming thread.
  bool StartStreamThread();
  // After StartStreamThread failed: the error start reports, with its text in errorMessage.
  ASIOError StreamStartFailure();
  void StopStreamThread();
  static unsigned WINAPI StreamThreadProc(void* argument);
  void RunStreamLoop();
  void DeliverCycle();
  // True on the streaming thread, that is inside the host's buffer-switch callback.
  bool OnStreamThread() const;
  // The last reference dropped from inside the host's callback: the streaming thread deletes
  // the object once its loop has ended, since the loop still runs on the object.
  void OnLastRelease() override;

  // Opens the control panel (see CControlPanel::Open) and closes it.
  void OpenControlPanel(bool noWait);
  void CloseControlPanel();

  // Sets and clears time-info flags shared with the streaming thread.
  void SetTimeInfoFlags(uint32_t flags);
  void ClearTimeInfoFlags(uint32_t flags);

  // Replaces the text getErrorMessage answers.
  void SetErrorMessage(const char* text);

  // Frees every buffer block and forgets the channel tables.
  void FreeBuffers();
  // Allocates one block of two halves; null when memory ran out.
  int32_t* AllocateBufferBlock() const;

  // Lock order: transportLock before the panel's lock, never the other way. Only host threads take
  // transportLock, and none of them holds it while calling back into the host, except for the
  // asioMessage query of createBuffers. The streaming thread never waits for either lock.
  std::mutex transportLock;
  std::atomic<DWORD> transportOwner{0};  // thread holding transportLock, 0 when none
  std::unique_ptr<ComInitialization> comInitialized;
  std::atomic<double> samplePosition{0.0};
  std::atomic<ASIOSampleRate> sampleRate{48000.0};  // read by the panel thread
  ASIOCallbacks* callbacks = nullptr;
  ASIOTime asioTime{};
  std::atomic<uint64_t> systemTime{0};  // ASIOTimeStamp, hi word in the upper half
  SampleConverter converter;
  HANDLE streamThread = INVALID_HANDLE_VALUE;
  std::atomic<DWORD> streamThreadId{0};
  std::atomic<uint32_t> dropOutCount{0};
  std::atomic<uint32_t> latencyCount{0};
  int32_t* inputBuffers[2] = {nullptr, nullptr};
  int32_t* outputBuffers[2] = {nullptr, nullptr};
  float* outputFloatBuffers[2] = {nullptr, nullptr};
  int32_t inputChannels[2] = {0, 0};
  int32_t outputChannels[2] = {0, 0};
  uint32_t bufferSize = 128;
  std::atomic<uint32_t> inputLatency{128};  // read by getLatencies on any thread
  uint32_t outputLatency = 256;
  int32_t activeInputs = 0;
  int32_t activeOutputs = 0;
  // Bit c: input c is active; bit 2 + c: output c. What getChannelInfo reads on any thread.
  std::atomic<uint32_t> activeChannelMask{0};
  std::atomic<uint32_t> bufferIndex{0};
  std::atomic<bool> initialised{false};
  std::atomic<bool> running{false};
  bool timeInfoMode = false;
  // Written by host threads under the transport lock; read by getErrorMessage on any thread.
  // errorLock is held only to copy the text.
  std::mutex errorLock;
  char errorMessage[128] = {};
  CKsEnumFilters* captureEnum = nullptr;
  CKsEnumFilters* renderEnum = nullptr;
  CKsAudCapFilter* captureFilter = nullptr;
  CKsAudPin* capturePin = nullptr;
  CKsAudRenFilter* renderFilter = nullptr;
  CKsAudPin* renderPin = nullptr;
  std::atomic<bool> stopStreaming{false};
  // Set when the host released the object from inside its callback; read by the streaming thread.
  std::atomic<bool> deleteAfterStream{false};
  std::atomic<uint32_t> cycleCount{0};
  // Set by the streaming thread when its streams cannot run; ends the start handshake at once.
  std::atomic<ASIOError> streamFailure{ASE_OK};
  // The user's preferences, and the control panel that shows them with the running figures.
  DriverSettings settings;
  CControlPanel panel{&settings, PanelFigures{&dropOutCount, &latencyCount, &sampleRate}};
  HMODULE avrtModule = nullptr;
  PFN_AvSetMmThreadCharacteristicsA pAvSetMmThreadCharacteristicsA = nullptr;
  PFN_AvRevertMmThreadCharacteristics pAvRevertMmThreadCharacteristics = nullptr;
};

// The create function of the driver's class template.
INonDelegatingUnknown* CreateDriverInstance(IUnknown* outer, HRESULT* phr);

// CAsioDriver: the one object an audio host holds. It implements IASIO and owns all driver state:
// the host's callbacks and double buffers, rate and buffer size, the device's filters and pins,
// the streaming and control-panel threads and the settings values.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "asio/asio.h"
#include "com/ComBase.h"
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

 protected:
  // Settings (stored per user).
  void LoadSettings();
  void SaveSettings();

  // Device discovery and opening.
  bool OpenDevice();
  CKsAudCapFilter* FindCaptureFilter(CKsEnumFilters* enumerator);
  CKsAudRenFilter* FindRenderFilter(CKsEnumFilters* enumerator);
  CKsAudPin* CreateCapturePinAtRate(CKsAudCapFilter* filter, ASIOSampleRate rate);
  CKsAudPin* CreateRenderPinAtRate(CKsAudRenFilter* filter, ASIOSampleRate rate);
  void ReleaseEnumerators();

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

  // The control panel and its thread.
  void OpenControlPanel(bool noWait);
  void CloseControlPanel();
  static unsigned WINAPI PanelThreadProc(void* argument);
  static INT_PTR CALLBACK PanelDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static void GetProductVersionText(char* text, size_t size);

  // Sets and clears time-info flags shared with the streaming thread.
  void SetTimeInfoFlags(uint32_t flags);
  void ClearTimeInfoFlags(uint32_t flags);

  // Frees every buffer block and forgets the channel tables.
  void FreeBuffers();
  // Allocates one block of two halves; null when memory ran out.
  int32_t* AllocateBufferBlock() const;

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
  std::atomic<uint32_t> preferredBufferSize{128};
  int32_t* inputBuffers[2] = {nullptr, nullptr};
  int32_t* outputBuffers[2] = {nullptr, nullptr};
  float* outputFloatBuffers[2] = {nullptr, nullptr};
  int32_t inputChannels[2] = {0, 0};
  int32_t outputChannels[2] = {0, 0};
  uint32_t bufferSize = 128;
  uint32_t inputLatency = 128;
  uint32_t outputLatency = 256;
  int32_t activeInputs = 0;
  int32_t activeOutputs = 0;
  std::atomic<uint32_t> bufferIndex{0};
  bool initialised = false;
  std::atomic<bool> running{false};
  bool timeInfoMode = false;
  char errorMessage[128] = {};
  // Held by the host's threads while they start, end or release the panel thread; never by the
  // panel thread. Guards panelThread and panelThreadId.
  std::mutex panelLock;
  HANDLE panelThread = INVALID_HANDLE_VALUE;
  DWORD panelThreadId = 0;
  std::atomic<HWND> panelWindow{nullptr};
  std::atomic<bool> panelQuit{false};
  std::atomic<bool> panelStarting{false};
  std::atomic<bool> modelessPanel{false};
  std::atomic<bool> autoOpenPanel{false};
  std::atomic<bool> panelOpenedByHost{false};
  std::atomic<bool> showMetrics{false};
  std::atomic<DWORD> panelOpenTime{0};
  CKsEnumFilters* captureEnum = nullptr;
  CKsEnumFilters* renderEnum = nullptr;
  CKsAudCapFilter* captureFilter = nullptr;
  CKsAudPin* capturePin = nullptr;
  CKsAudRenFilter* renderFilter = nullptr;
  CKsAudPin* renderPin = nullptr;
  std::atomic<bool> stopStreaming{false};
  std::atomic<uint32_t> cycleCount{0};
  // Set by the streaming thread when its streams cannot run; ends the start handshake at once.
  std::atomic<ASIOError> streamFailure{ASE_OK};
  HMODULE avrtModule = nullptr;
  PFN_AvSetMmThreadCharacteristicsA pAvSetMmThreadCharacteristicsA = nullptr;
  PFN_AvRevertMmThreadCharacteristics pAvRevertMmThreadCharacteristics = nullptr;
};

// The create function of the driver's class template.
INonDelegatingUnknown* CreateDriverInstance(IUnknown* outer, HRESULT* phr);

// The ASIO driver interface as published: types, result codes, selectors, records and IASIO.
// Where the published declarations say `long`, a 32-bit integer is used so that every record has
// the same layout on LP64 Linux and LLP64 Windows. The records are packed to 4 bytes, as hosts
// built with the platform's usual compiler pack them on both bitnesses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com.h"

// The calling conventions of a 32-bit Windows host: IASIO's own methods take `this` in ECX and
// pop their arguments (IUnknown's are STDMETHODCALLTYPE), the host's callbacks are __cdecl.
// Elsewhere there is one convention and these say nothing.
#if defined(_WIN32) && defined(__i386__)
#define ASIO_METHOD __thiscall
#define ASIO_CALLBACK __cdecl
#else
#define ASIO_METHOD
#define ASIO_CALLBACK
#endif

typedef int32_t ASIOBool;
enum { ASIOFalse = 0, ASIOTrue = 1 };

typedef int32_t ASIOError;
enum {
  ASE_OK = 0,
  ASE_SUCCESS = 0x3f4847a0,
  ASE_NotPresent = -1000,
  ASE_HWMalfunction = -999,
  ASE_InvalidParameter = -998,
  ASE_InvalidMode = -997,
  ASE_SPNotAdvancing = -996,
  ASE_NoClock = -995,
  ASE_NoMemory = -994
};

typedef double ASIOSampleRate;

#pragma pack(push, 4)

struct ASIOSamples {
  uint32_t hi;
  uint32_t lo;
};

struct ASIOTimeStamp {
  uint32_t hi;
  uint32_t lo;
};

typedef int32_t ASIOSampleType;
enum {
  ASIOSTInt16MSB = 0,
  ASIOSTInt24MSB = 1,
  ASIOSTInt32MSB = 2,
  ASIOSTFloat32MSB = 3,
  ASIOSTFloat64MSB = 4,
  ASIOSTInt32MSB16 = 8,
  ASIOSTInt32MSB18 = 9,
  ASIOSTInt32MSB20 = 10,
  ASIOSTInt32MSB24 = 11,
  ASIOSTInt16LSB = 16,
  ASIOSTInt24LSB = 17,
  ASIOSTInt32LSB = 18,
  ASIOSTFloat32LSB = 19,
  ASIOSTFloat64LSB = 20,
  ASIOSTInt32LSB16 = 24,
  ASIOSTInt32LSB18 = 25,
  ASIOSTInt32LSB20 = 26,
  ASIOSTInt32LSB24 = 27,
  ASIOSTDSDInt8LSB1 = 32,
  ASIOSTDSDInt8MSB1 = 33,
  ASIOSTDSDInt8NER8 = 40,
  ASIOSTLastEntry
};

// Selectors of ASIOCallbacks::asioMessage.
enum {
  kAsioSelectorSupported = 1,
  kAsioEngineVersion,
  kAsioResetRequest,
  kAsioBufferSizeChange,
  kAsioResyncRequest,
  kAsioLatenciesChanged,
  kAsioSupportsTimeInfo,
  kAsioSupportsTimeCode,
  kAsioMMCCommand,
  kAsioSupportsInputMonitor,
  kAsioSupportsInputGain,
  kAsioSupportsInputMeter,
  kAsioSupportsOutputGain,
  kAsioSupportsOutputMeter,
  kAsioOverload,
  kAsioNumMessageSelectors
};

// Selectors of IASIO::future.
enum {
  kAsioEnableTimeCodeRead = 1,
  kAsioDisableTimeCodeRead,
  kAsioSetInputMonitor,
  kAsioTransport,
  kAsioSetInputGain,
  kAsioGetInputMeter,
  kAsioSetOutputGain,
  kAsioGetOutputMeter,
  kAsioCanInputMonitor,
  kAsioCanTimeInfo,
  kAsioCanTimeCode,
  kAsioCanTransport,
  kAsioCanInputGain,
  kAsioCanInputMeter,
  kAsioCanOutputGain,
  kAsioCanOutputMeter,
  kAsioOptionalOne,
  kAsioSetIoFormat = 0x23111961,
  kAsioGetIoFormat = 0x23111983,
  kAsioCanDoIoFormat = 0x23112004,
  kAsioCanReportOverload = 0x24042012,
  kAsioGetInternalBufferSamples = 0x25042012
};

// AsioTimeInfo::flags.
enum AsioTimeInfoFlags {
  kSystemTimeValid = 1,
  kSamplePositionValid = 1 << 1,
  kSampleRateValid = 1 << 2,
  kSpeedValid = 1 << 3,
  kSampleRateChanged = 1 << 4,
  kClockSourceChanged = 1 << 5
};

// ASIOTimeCode::flags.
enum ASIOTimeCodeFlags {
  kTcValid = 1,
  kTcRunning = 1 << 1,
  kTcReverse = 1 << 2,
  kTcOnspeed = 1 << 3,
  kTcStill = 1 << 4,
  kTcSpeedValid = 1 << 8
};

struct ASIOTimeCode {
  double speed;
  ASIOSamples timeCodeSamples;
  uint32_t flags;
  char future[64];
};

struct AsioTimeInfo {
  double speed;
  ASIOTimeStamp systemTime;
  ASIOSamples samplePosition;
  ASIOSampleRate sampleRate;
  uint32_t flags;
  char reserved[12];
};

struct ASIOTime {
  int32_t reserved[4];
  AsioTimeInfo timeInfo;
  ASIOTimeCode timeCode;
};

struct ASIOClockSource {
  int32_t index;
  int32_t associatedChannel;
  int32_t associatedGroup;
  ASIOBool isCurrentSource;
  char name[32];
};

struct ASIOChannelInfo {
  int32_t channel;
  ASIOBool isInput;
  ASIOBool isActive;
  int32_t channelGroup;
  ASIOSampleType type;
  char name[32];
};

struct ASIOBufferInfo {
  ASIOBool isInput;
  int32_t channelNum;
  void* buffers[2];
};

struct ASIOCallbacks {
  void(ASIO_CALLBACK* bufferSwitch)(int32_t doubleBufferIndex, ASIOBool directProcess);
  void(ASIO_CALLBACK* sampleRateDidChange)(ASIOSampleRate sRate);
  int32_t(ASIO_CALLBACK* asioMessage)(int32_t selector, int32_t value, void* message, double* opt);
  ASIOTime*(ASIO_CALLBACK* bufferSwitchTimeInfo)(ASIOTime* params, int32_t doubleBufferIndex,
                                                 ASIOBool directProcess);
};

#pragma pack(pop)

// The driver interface. Its first three slots are those of IUnknown; the 21 that follow are in
// published order.
struct IASIO : public IUnknown {
  virtual ASIOBool ASIO_METHOD init(void* sysHandle) = 0;
  virtual void ASIO_METHOD getDriverName(char* name) = 0;
  virtual int32_t ASIO_METHOD getDriverVersion() = 0;
  virtual void ASIO_METHOD getErrorMessage(char* string) = 0;
  virtual ASIOError ASIO_METHOD start() = 0;
  virtual ASIOError ASIO_METHOD stop() = 0;
  virtual ASIOError ASIO_METHOD getChannels(int32_t* numInputChannels,
                                            int32_t* numOutputChannels) = 0;
  virtual ASIOError ASIO_METHOD getLatencies(int32_t* inputLatency, int32_t* outputLatency) = 0;
  virtual ASIOError ASIO_METHOD getBufferSize(int32_t* minSize, int32_t* maxSize,
                                              int32_t* preferredSize, int32_t* granularity) = 0;
  virtual ASIOError ASIO_METHOD canSampleRate(ASIOSampleRate sampleRate) = 0;
  virtual ASIOError ASIO_METHOD getSampleRate(ASIOSampleRate* sampleRate) = 0;
  virtual ASIOError ASIO_METHOD setSampleRate(ASIOSampleRate sampleRate) = 0;
  virtual ASIOError ASIO_METHOD getClockSources(ASIOClockSource* clocks, int32_t* numSources) = 0;
  virtual ASIOError ASIO_METHOD setClockSource(int32_t reference) = 0;
  virtual ASIOError ASIO_METHOD getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) = 0;
  virtual ASIOError ASIO_METHOD getChannelInfo(ASIOChannelInfo* info) = 0;
  virtual ASIOError ASIO_METHOD createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,
                                              int32_t bufferSize, ASIOCallbacks* callbacks) = 0;
  virtual ASIOError ASIO_METHOD disposeBuffers() = 0;
  virtual ASIOError ASIO_METHOD controlPanel() = 0;
  virtual ASIOError ASIO_METHOD future(int32_t selector, void* opt) = 0;
  virtual ASIOError ASIO_METHOD outputReady() = 0;
};

// The layouts hosts depend on, on both bitnesses; pointers are 4 or 8 bytes, the rest is fixed.
static_assert(sizeof(ASIOSamples) == 8 && sizeof(ASIOTimeStamp) == 8, "ASIO 64-bit pairs");
static_assert(offsetof(ASIOSamples, lo) == 4 && offsetof(ASIOTimeStamp, lo) == 4, "hi then lo");
static_assert(sizeof(ASIOTimeCode) == 84, "ASIOTimeCode size");
static_assert(offsetof(ASIOTimeCode, speed) == 0, "ASIOTimeCode.speed");
static_assert(offsetof(ASIOTimeCode, timeCodeSamples) == 8, "ASIOTimeCode.timeCodeSamples");
static_assert(offsetof(ASIOTimeCode, flags) == 16, "ASIOTimeCode.flags");
static_assert(offsetof(ASIOTimeCode, future) == 20, "ASIOTimeCode.future");
static_assert(sizeof(AsioTimeInfo) == 48, "AsioTimeInfo size");
static_assert(offsetof(AsioTimeInfo, speed) == 0, "AsioTimeInfo.speed");
static_assert(offsetof(AsioTimeInfo, systemTime) == 8, "AsioTimeInfo.systemTime");
static_assert(offsetof(AsioTimeInfo, samplePosition) == 16, "AsioTimeInfo.samplePosition");
static_assert(offsetof(AsioTimeInfo, sampleRate) == 24, "AsioTimeInfo.sampleRate");
static_assert(offsetof(AsioTimeInfo, flags) == 32, "AsioTimeInfo.flags");
static_assert(offsetof(AsioTimeInfo, reserved) == 36, "AsioTimeInfo.reserved");
static_assert(sizeof(ASIOTime) == 148, "ASIOTime size");
static_assert(offsetof(ASIOTime, reserved) == 0, "ASIOTime.reserved");
static_assert(offsetof(ASIOTime, timeInfo) == 16, "ASIOTime.timeInfo");
static_assert(offsetof(ASIOTime, timeCode) == 64, "ASIOTime.timeCode");
static_assert(sizeof(ASIOClockSource) == 48, "ASIOClockSource size");
static_assert(offsetof(ASIOClockSource, associatedChannel) == 4, "ASIOClockSource.channel");
static_assert(offsetof(ASIOClockSource, associatedGroup) == 8, "ASIOClockSource.group");
static_assert(offsetof(ASIOClockSource, isCurrentSource) == 12, "ASIOClockSource.isCurrent");
static_assert(offsetof(ASIOClockSource, name) == 16, "ASIOClockSource.name");
static_assert(sizeof(ASIOChannelInfo) == 52, "ASIOChannelInfo size");
static_assert(offsetof(ASIOChannelInfo, isInput) == 4, "ASIOChannelInfo.isInput");
static_assert(offsetof(ASIOChannelInfo, isActive) == 8, "ASIOChannelInfo.isActive");
static_assert(offsetof(ASIOChannelInfo, channelGroup) == 12, "ASIOChannelInfo.channelGroup");
static_assert(offsetof(ASIOChannelInfo, type) == 16, "ASIOChannelInfo.type");
static_assert(offsetof(ASIOChannelInfo, name) == 20, "ASIOChannelInfo.name");
static_assert(sizeof(ASIOBufferInfo) == 8 + 2 * sizeof(void*), "ASIOBufferInfo size");
static_assert(offsetof(ASIOBufferInfo, isInput) == 0, "ASIOBufferInfo.isInput");
static_assert(offsetof(ASIOBufferInfo, channelNum) == 4, "ASIOBufferInfo.channelNum");
static_assert(offsetof(ASIOBufferInfo, buffers) == 8, "ASIOBufferInfo.buffers");
static_assert(sizeof(ASIOCallbacks) == 4 * sizeof(void*), "ASIOCallbacks size");
static_assert(offsetof(ASIOCallbacks, sampleRateDidChange) == sizeof(void*),
              "ASIOCallbacks.sampleRateDidChange");
static_assert(offsetof(ASIOCallbacks, asioMessage) == 2 * sizeof(void*),
              "ASIOCallbacks.asioMessage");
static_assert(offsetof(ASIOCallbacks, bufferSwitchTimeInfo) == 3 * sizeof(void*),
              "ASIOCallbacks.bufferSwitchTimeInfo");
static_assert(sizeof(void*) == 4 ? sizeof(ASIOBufferInfo) == 16 && sizeof(ASIOCallbacks) == 16
                                 : sizeof(ASIOBufferInfo) == 24 && sizeof(ASIOCallbacks) == 32,
              "ASIOBufferInfo and ASIOCallbacks on 32- and 64-bit hosts");

// Kernel-streaming records, identifiers and constants with their published layouts and values,
// plus the wave-format records and (off Windows) the SetupAPI records. Declared here for both
// builds so that every record has the Windows layout of its bitness byte for byte (the Linux
// build has the x64 one).
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/com.h"
#include "platform/windows.h"

#ifdef _WIN32
#include <setupapi.h>
// Keep a later <mmreg.h> from declaring the format GUIDs and records defined below.
#ifndef STATIC_KSDATAFORMAT_SUBTYPE_PCM
#define STATIC_KSDATAFORMAT_SUBTYPE_PCM
#endif
#ifndef STATIC_KSDATAFORMAT_SUBTYPE_IEEE_FLOAT
#define STATIC_KSDATAFORMAT_SUBTYPE_IEEE_FLOAT
#endif
#ifndef STATIC_KSDATAFORMAT_SUBTYPE_WAVEFORMATEX
#define STATIC_KSDATAFORMAT_SUBTYPE_WAVEFORMATEX
#endif
#endif

// ---------------------------------------------------------------------------------------------
// Wave formats
// ---------------------------------------------------------------------------------------------
#ifndef WAVE_FORMAT_PCM
#define WAVE_FORMAT_PCM 1
#endif
#ifndef WAVE_FORMAT_IEEE_FLOAT
#define WAVE_FORMAT_IEEE_FLOAT 3
#endif
#ifndef WAVE_FORMAT_EXTENSIBLE
#define WAVE_FORMAT_EXTENSIBLE 0xFFFE
#endif

#ifndef _WAVEFORMATEX_
#define _WAVEFORMATEX_
#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
} WAVEFORMATEX, *PWAVEFORMATEX, *LPWAVEFORMATEX;
#pragma pack(pop)
#endif

#ifndef _WAVEFORMATEXTENSIBLE_
#define _WAVEFORMATEXTENSIBLE_
#pragma pack(push, 1)
typedef struct {
  WAVEFORMATEX Format;
  union {
    WORD wValidBitsPerSample;
    WORD wSamplesPerBlock;
    WORD wReserved;
  } Samples;
  DWORD dwChannelMask;
  GUID SubFormat;
} WAVEFORMATEXTENSIBLE, *PWAVEFORMATEXTENSIBLE;
#pragma pack(pop)
#endif

#ifndef SPEAKER_FRONT_LEFT
#define SPEAKER_FRONT_LEFT 0x1
#define SPEAKER_FRONT_RIGHT 0x2
#define SPEAKER_FRONT_CENTER 0x4
#endif

// ---------------------------------------------------------------------------------------------
// Identifiers
// ---------------------------------------------------------------------------------------------
// Device-interface categories.
inline constexpr GUID KSCATEGORY_AUDIO = {
    0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID KSCATEGORY_RENDER = {
    0x65E8773E, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID KSCATEGORY_CAPTURE = {
    0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID KSCATEGORY_TOPOLOGY = {
    0xDDA54A40, 0x1E4C, 0x11D1, {0xA0, 0x50, 0x40, 0x57, 0x05, 0xC1, 0x00, 0x00}};
// Filters of the WaveRT class drivers (looped streaming only) carry this alias as well.
inline constexpr GUID KSCATEGORY_REALTIME = {
    0xEB115FFC, 0x10C8, 0x4964, {0x83, 0x1D, 0x6D, 0xCB, 0x02, 0xE6, 0xF2, 0x3F}};

// Property sets.
inline constexpr GUID KSPROPSETID_Pin = {
    0x8C134960, 0x51AD, 0x11CF, {0x87, 0x8A, 0x94, 0xF8, 0x01, 0xC1, 0x00, 0x00}};
inline constexpr GUID KSPROPSETID_Connection = {
    0x1D58C920, 0xAC9B, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr GUID KSPROPSETID_Topology = {
    0x720D4AC0, 0x7533, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr GUID KSPROPSETID_Audio = {
    0x45FFAAA0, 0x6E1B, 0x11D0, {0xBC, 0xF2, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// Pin interfaces and mediums.
inline constexpr GUID KSINTERFACESETID_Standard = {
    0x1A8766A0, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr GUID KSMEDIUMSETID_Standard = {
    0x4747B320, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};

// Data formats.
inline constexpr GUID KSDATAFORMAT_TYPE_WILDCARD = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_WILDCARD = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID KSDATAFORMAT_SPECIFIER_WILDCARD = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID KSDATAFORMAT_TYPE_AUDIO = {
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_TYPE_MUSIC = {
    0xE725D360, 0x62CC, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_WAVEFORMATEX = {
    0x00000000, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_ANALOG = {
    0x6DBA3190, 0x67BD, 0x11CF, {0xA0, 0xF7, 0x00, 0x20, 0xAF, 0xD1, 0x56, 0xE4}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_MIDI = {
    0x1D262760, 0xE957, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr GUID KSDATAFORMAT_SPECIFIER_WAVEFORMATEX = {
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr GUID KSDATAFORMAT_SPECIFIER_DSOUND = {
    0x518590A2, 0xA184, 0x11D0, {0x85, 0x22, 0x00, 0xC0, 0x4F, 0xD9, 0xBA, 0xF3}};
inline constexpr GUID KSDATAFORMAT_SPECIFIER_NONE = {
    0x0F6417D6, 0xC318, 0x11D0, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

// Pin categories and topology node types.
inline constexpr GUID PINNAME_CAPTURE = {
    0xFB6C4281, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
inline constexpr GUID KSNODETYPE_MICROPHONE = {
    0xDFF21BE1, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID KSNODETYPE_SPEAKER = {
    0xDFF21CE1, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID KSNODETYPE_DAC = {
    0x507AE360, 0xC554, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
inline constexpr GUID KSNODETYPE_ADC = {
    0x4D837FE0, 0xC555, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
inline constexpr GUID KSNODETYPE_VOLUME = {
    0x3A5ACC00, 0xC557, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
inline constexpr GUID KSNODETYPE_MUTE = {
    0x02B223C0, 0xC557, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};

// True for the sub-types {xxxxxxxx-0000-0010-8000-00AA00389B71} that carry a wave-format tag:
// bytes 2 to 15 equal those of KSDATAFORMAT_SUBTYPE_WAVEFORMATEX.
inline bool KsIsValidWaveFormatExGuid(const GUID* guid) {
  return std::memcmp(reinterpret_cast<const BYTE*>(&KSDATAFORMAT_SUBTYPE_WAVEFORMATEX) + 2,
                     reinterpret_cast<const BYTE*>(guid) + 2, sizeof(GUID) - 2) == 0;
}
#ifndef IS_VALID_WAVEFORMATEX_GUID
#define IS_VALID_WAVEFORMATEX_GUID(guid) KsIsValidWaveFormatExGuid(guid)
#endif

// ---------------------------------------------------------------------------------------------
// I/O-control codes and property identifiers
// ---------------------------------------------------------------------------------------------
#define IOCTL_KS_PROPERTY 0x002F0003u
#define IOCTL_KS_ENABLE_EVENT 0x002F0007u
#define IOCTL_KS_DISABLE_EVENT 0x002F000Bu
#define IOCTL_KS_METHOD 0x002F000Fu
#define IOCTL_KS_WRITE_STREAM 0x002F8013u
#define IOCTL_KS_READ_STREAM 0x002F4017u
#define IOCTL_KS_RESET_STATE 0x002F001Bu

#define KSPROPERTY_TYPE_GET 0x00000001u
#define KSPROPERTY_TYPE_SET 0x00000002u
#define KSPROPERTY_TYPE_SETSUPPORT 0x00000100u
#define KSPROPERTY_TYPE_BASICSUPPORT 0x00000200u
#define KSPROPERTY_TYPE_RELATIONS 0x00000400u
#define KSPROPERTY_TYPE_TOPOLOGY 0x10000000u

enum {
  KSPROPERTY_PIN_CINSTANCES = 0,
  KSPROPERTY_PIN_CTYPES = 1,
  KSPROPERTY_PIN_DATAFLOW = 2,
  KSPROPERTY_PIN_DATARANGES = 3,
  KSPROPERTY_PIN_DATAINTERSECTION = 4,
  KSPROPERTY_PIN_INTERFACES = 5,
  KSPROPERTY_PIN_MEDIUMS = 6,
  KSPROPERTY_PIN_COMMUNICATION = 7,
  KSPROPERTY_PIN_GLOBALCINSTANCES = 8,
  KSPROPERTY_PIN_NECESSARYINSTANCES = 9,
  KSPROPERTY_PIN_PHYSICALCONNECTION = 10,
  KSPROPERTY_PIN_CATEGORY = 11,
  KSPROPERTY_PIN_NAME = 12,
};

enum {
  KSPROPERTY_CONNECTION_STATE = 0,
  KSPROPERTY_CONNECTION_PRIORITY = 1,
  KSPROPERTY_CONNECTION_DATAFORMAT = 2,
  KSPROPERTY_CONNECTION_ALLOCATORFRAMING = 3,
  KSPROPERTY_CONNECTION_PROPOSEDATAFORMAT = 4,
  KSPROPERTY_CONNECTION_ACQUIREORDERING = 5,
  KSPROPERTY_CONNECTION_ALLOCATORFRAMING_EX = 6,
};

enum {
  KSPROPERTY_TOPOLOGY_CATEGORIES = 0,
  KSPROPERTY_TOPOLOGY_NODES = 1,
  KSPROPERTY_TOPOLOGY_CONNECTIONS = 2,
  KSPROPERTY_TOPOLOGY_NAME = 3,
};

enum {
  KSPROPERTY_AUDIO_LATENCY = 1,
  KSPROPERTY_AUDIO_VOLUMELEVEL = 4,
  KSPROPERTY_AUDIO_POSITION = 5,
  KSPROPERTY_AUDIO_SAMPLING_RATE = 8,
  KSPROPERTY_AUDIO_MUTE = 13,
};

#define KSINTERFACE_STANDARD_STREAMING 0
#define KSINTERFACE_STANDARD_LOOPED_STREAMING 1
#define KSINTERFACE_STANDARD_CONTROL 2
#define KSMEDIUM_TYPE_ANYINSTANCE 0
#define KSPRIORITY_LOW 0x00000001u
#define KSPRIORITY_NORMAL 0x40000000u
#define KSPRIORITY_HIGH 0x80000000u
#define KSFILTER_NODE 0xFFFFFFFFu

typedef enum { KSSTATE_STOP, KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN } KSSTATE, *PKSSTATE;
typedef enum { KSRESET_BEGIN, KSRESET_END } KSRESET;
typedef enum { KSPIN_DATAFLOW_IN = 1, KSPIN_DATAFLOW_OUT = 2 } KSPIN_DATAFLOW, *PKSPIN_DATAFLOW;
typedef enum {
  KSPIN_COMMUNICATION_NONE,
  KSPIN_COMMUNICATION_SINK,
  KSPIN_COMMUNICATION_SOURCE,
  KSPIN_COMMUNICATION_BOTH,
  KSPIN_COMMUNICATION_BRIDGE
} KSPIN_COMMUNICATION,
    *PKSPIN_COMMUNICATION;

// ---------------------------------------------------------------------------------------------
// Records. The published declarations align these unions on 8 bytes through a LONGLONG member;
// alignas gives the same layout without anonymous structs.
// ---------------------------------------------------------------------------------------------
typedef struct alignas(8) {
  GUID Set;
  ULONG Id;
  ULONG Flags;
} KSIDENTIFIER, *PKSIDENTIFIER;
typedef KSIDENTIFIER KSPROPERTY, *PKSPROPERTY;
typedef KSIDENTIFIER KSMETHOD, *PKSMETHOD;
typedef KSIDENTIFIER KSEVENT, *PKSEVENT;
typedef KSIDENTIFIER KSPIN_INTERFACE, *PKSPIN_INTERFACE;
typedef KSIDENTIFIER KSPIN_MEDIUM, *PKSPIN_MEDIUM;

typedef struct {
  KSPROPERTY Property;
  ULONG PinId;
  ULONG Reserved;
} KSP_PIN, *PKSP_PIN;

typedef struct {
  KSPROPERTY Property;
  ULONG NodeId;
  ULONG Reserved;
} KSNODEPROPERTY, *PKSNODEPROPERTY;

typedef struct {
  KSNODEPROPERTY NodeProperty;
  LONG Channel;
  ULONG Reserved;
} KSNODEPROPERTY_AUDIO_CHANNEL, *PKSNODEPROPERTY_AUDIO_CHANNEL;

typedef struct {
  ULONG Size;
  ULONG Count;
} KSMULTIPLE_ITEM, *PKSMULTIPLE_ITEM;

typedef struct {
  ULONG PriorityClass;
  ULONG PrioritySubClass;
} KSPRIORITY, *PKSPRIORITY;

typedef struct {
  KSPIN_INTERFACE Interface;
  KSPIN_MEDIUM Medium;
  ULONG PinId;
  HANDLE PinToHandle;
  KSPRIORITY Priority;
} KSPIN_CONNECT, *PKSPIN_CONNECT;

typedef struct alignas(8) {
  ULONG FormatSize;
  ULONG Flags;
  ULONG SampleSize;
  ULONG Reserved;
  GUID MajorFormat;
  GUID SubFormat;
  GUID Specifier;
} KSDATAFORMAT, *PKSDATAFORMAT, KSDATARANGE, *PKSDATARANGE;

typedef struct {
  KSDATARANGE DataRange;
  ULONG MaximumChannels;
  ULONG MinimumBitsPerSample;
  ULONG MaximumBitsPerSample;
  ULONG MinimumSampleFrequency;
  ULONG MaximumSampleFrequency;
} KSDATARANGE_AUDIO, *PKSDATARANGE_AUDIO;

typedef struct {
  KSDATAFORMAT DataFormat;
  WAVEFORMATEX WaveFormatEx;
} KSDATAFORMAT_WAVEFORMATEX, *PKSDATAFORMAT_WAVEFORMATEX;

typedef struct {
  ULONG PossibleCount;
  ULONG CurrentCount;
} KSPIN_CINSTANCES, *PKSPIN_CINSTANCES;

typedef struct {
  LONGLONG Time;
  ULONG Numerator;
  ULONG Denominator;
} KSTIME, *PKSTIME;

typedef struct {
  ULONG Size;
  ULONG TypeSpecificFlags;
  KSTIME PresentationTime;
  LONGLONG Duration;
  ULONG FrameExtent;
  ULONG DataUsed;
  PVOID Data;
  ULONG OptionsFlags;
#if !defined(_WIN32) || defined(_WIN64)
  ULONG Reserved;  // 64-bit Windows only
#endif
} KSSTREAM_HEADER, *PKSSTREAM_HEADER;

typedef struct {
  ULONGLONG PlayOffset;
  ULONGLONG WriteOffset;
} KSAUDIO_POSITION, *PKSAUDIO_POSITION;

typedef struct {
  ULONG FromNode;
  ULONG FromNodePin;
  ULONG ToNode;
  ULONG ToNodePin;
} KSTOPOLOGY_CONNECTION, *PKSTOPOLOGY_CONNECTION;

#define KSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY 0x00000004u
#define KSSTREAM_HEADER_OPTIONSF_TIMEVALID 0x00000010u
#define KSSTREAM_HEADER_OPTIONSF_DURATIONVALID 0x00000100u
#define KSSTREAM_HEADER_OPTIONSF_ENDOFSTREAM 0x00000200u

// A data range whose Flags carry this is followed, as the next item of a multiple-item reply,
// by its attribute list: a KSMULTIPLE_ITEM header and KSATTRIBUTE records.
#define KSDATARANGE_ATTRIBUTES 0x00000002u

typedef struct {
  ULONG Size;
  ULONG Flags;
  GUID Attribute;
} KSATTRIBUTE, *PKSATTRIBUTE;

// A pin's buffer framing: KSPROPERTY_CONNECTION_ALLOCATORFRAMING answers the plain record,
// KSPROPERTY_CONNECTION_ALLOCATORFRAMING_EX the extended one with CountItems framing items.
typedef struct {
  ULONG OptionsFlags;  // RequirementsFlags in a requirement
  ULONG PoolType;
  ULONG Frames;
  ULONG FrameSize;
  ULONG FileAlignment;
  ULONG Reserved;
} KSALLOCATOR_FRAMING, *PKSALLOCATOR_FRAMING;

typedef struct {
  ULONG MinFrameSize;
  ULONG MaxFrameSize;
  ULONG Stepping;
} KS_FRAMING_RANGE, *PKS_FRAMING_RANGE;

typedef struct {
  KS_FRAMING_RANGE Range;
  ULONG InPlaceWeight;
  ULONG NotInPlaceWeight;
} KS_FRAMING_RANGE_WEIGHTED, *PKS_FRAMING_RANGE_WEIGHTED;

typedef struct {
  ULONG RatioNumerator;
  ULONG RatioDenominator;
  ULONG RatioConstantMargin;
} KS_COMPRESSION, *PKS_COMPRESSION;

typedef struct {
  GUID MemoryType;
  GUID BusType;
  ULONG MemoryFlags;
  ULONG BusFlags;
  ULONG Flags;
  ULONG Frames;
  ULONG FileAlignment;  // FramePitch for some memory types
  ULONG MemoryTypeWeight;
  KS_FRAMING_RANGE PhysicalRange;
  KS_FRAMING_RANGE_WEIGHTED FramingRange;
} KS_FRAMING_ITEM, *PKS_FRAMING_ITEM;

typedef struct {
  ULONG CountItems;
  ULONG PinFlags;
  KS_COMPRESSION OutputCompression;
  ULONG PinWeight;
  KS_FRAMING_ITEM FramingItem[1];
} KSALLOCATOR_FRAMING_EX, *PKSALLOCATOR_FRAMING_EX;

static_assert(sizeof(KSIDENTIFIER) == 24, "KSIDENTIFIER");
static_assert(sizeof(KSP_PIN) == 32, "KSP_PIN");
static_assert(sizeof(KSNODEPROPERTY) == 32, "KSNODEPROPERTY");
static_assert(sizeof(KSNODEPROPERTY_AUDIO_CHANNEL) == 40, "KSNODEPROPERTY_AUDIO_CHANNEL");
static_assert(sizeof(KSMULTIPLE_ITEM) == 8, "KSMULTIPLE_ITEM");
static_assert(sizeof(KSPIN_CONNECT) == (sizeof(void*) == 4 ? 64 : 72), "KSPIN_CONNECT");
static_assert(sizeof(KSDATAFORMAT) == 64, "KSDATAFORMAT");
static_assert(sizeof(KSDATARANGE_AUDIO) == 88, "KSDATARANGE_AUDIO");
static_assert(sizeof(KSSTREAM_HEADER) == (sizeof(void*) == 4 ? 48 : 56), "KSSTREAM_HEADER");
static_assert(sizeof(KSAUDIO_POSITION) == 16, "KSAUDIO_POSITION");
static_assert(sizeof(KSATTRIBUTE) == 24, "KSATTRIBUTE");
static_assert(sizeof(KSALLOCATOR_FRAMING) == 24, "KSALLOCATOR_FRAMING");
static_assert(sizeof(KS_FRAMING_ITEM) == 88, "KS_FRAMING_ITEM");
static_assert(offsetof(KSALLOCATOR_FRAMING_EX, FramingItem) == 24 &&
                  sizeof(KSALLOCATOR_FRAMING_EX) == 112,
              "KSALLOCATOR_FRAMING_EX");
static_assert(sizeof(KSPIN_CINSTANCES) == 8, "KSPIN_CINSTANCES");
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX");
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40, "WAVEFORMATEXTENSIBLE");
static_assert(alignof(WAVEFORMATEX) == 1 && alignof(WAVEFORMATEXTENSIBLE) == 1, "byte-packed");

// ---------------------------------------------------------------------------------------------
// SetupAPI device-interface records (the SDK's own on Windows)
// ---------------------------------------------------------------------------------------------
#ifndef _WIN32
typedef PVOID HDEVINFO;

#define DIGCF_DEFAULT 0x00000001u
#define DIGCF_PRESENT 0x00000002u
#define DIGCF_ALLCLASSES 0x00000004u
#define DIGCF_PROFILE 0x00000008u
#define DIGCF_DEVICEINTERFACE 0x00000010u

#define SPINT_ACTIVE 0x00000001u
#define SPINT_DEFAULT 0x00000002u
#define SPINT_REMOVED 0x00000004u

#define ANYSIZE_ARRAY 1

typedef struct _SP_DEVICE_INTERFACE_DATA {
  DWORD cbSize;
  GUID InterfaceClassGuid;
  DWORD Flags;
  ULONG_PTR Reserved;
} SP_DEVICE_INTERFACE_DATA, *PSP_DEVICE_INTERFACE_DATA;

typedef struct _SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DWORD DevInst;
  ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_A {
  DWORD cbSize;
  CHAR DevicePath[ANYSIZE_ARRAY];
} SP_DEVICE_INTERFACE_DETAIL_DATA_A, *PSP_DEVICE_INTERFACE_DETAIL_DATA_A;
#endif

// 32-bit Windows packs the SetupAPI records to a byte.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == (sizeof(void*) == 4 ? 28 : 32),
              "SP_DEVICE_INTERFACE_DATA");
static_assert(sizeof(SP_DEVINFO_DATA) == (sizeof(void*) == 4 ? 28 : 32), "SP_DEVINFO_DATA");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == (sizeof(void*) == 4 ? 5 : 8),
              "SP_DEVICE_INTERFACE_DETAIL_DATA_A");

// Error numbers of the device-access calls that the base headers do not all carry.
#ifndef ERROR_INVALID_FUNCTION
#define ERROR_INVALID_FUNCTION 1L
#endif
#ifndef ERROR_NOT_READY
#define ERROR_NOT_READY 21L
#endif
#ifndef ERROR_NOACCESS
#define ERROR_NOACCESS 998L
#endif
#ifndef ERROR_NO_MATCH
#define ERROR_NO_MATCH 1169L
#endif
#ifndef ERROR_NO_SYSTEM_RESOURCES
#define ERROR_NO_SYSTEM_RESOURCES 1450L
#endif
#ifndef ERROR_DEVICE_REMOVED
#define ERROR_DEVICE_REMOVED 1617L
#endif
#ifndef ERROR_INVALID_USER_BUFFER
#define ERROR_INVALID_USER_BUFFER 1784L
#endif
#ifndef ERROR_NO_SUCH_DEVICE_INTERFACE
#define ERROR_NO_SUCH_DEVICE_INTERFACE 0xE000020BuL
#endif

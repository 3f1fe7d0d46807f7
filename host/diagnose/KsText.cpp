#include "host/diagnose/KsText.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "ks/KsPin.h"

namespace kx7host {

namespace {

struct NamedGuidEntry {
  const GUID* guid;
  const char* name;
};

const NamedGuidEntry kGuidNames[] = {
    {&KSCATEGORY_AUDIO, "KSCATEGORY_AUDIO"},
    {&KSCATEGORY_RENDER, "KSCATEGORY_RENDER"},
    {&KSCATEGORY_CAPTURE, "KSCATEGORY_CAPTURE"},
    {&KSCATEGORY_TOPOLOGY, "KSCATEGORY_TOPOLOGY"},
    {&KSCATEGORY_REALTIME, "KSCATEGORY_REALTIME"},
    {&KSINTERFACESETID_Standard, "KSINTERFACESETID_Standard"},
    {&KSMEDIUMSETID_Standard, "KSMEDIUMSETID_Standard"},
    {&KSDATAFORMAT_TYPE_WILDCARD, "wildcard"},
    {&KSDATAFORMAT_TYPE_AUDIO, "KSDATAFORMAT_TYPE_AUDIO"},
    {&KSDATAFORMAT_TYPE_MUSIC, "KSDATAFORMAT_TYPE_MUSIC"},
    {&KSDATAFORMAT_SUBTYPE_WAVEFORMATEX, "KSDATAFORMAT_SUBTYPE_WAVEFORMATEX"},
    {&KSDATAFORMAT_SUBTYPE_PCM, "KSDATAFORMAT_SUBTYPE_PCM"},
    {&KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, "KSDATAFORMAT_SUBTYPE_IEEE_FLOAT"},
    {&KSDATAFORMAT_SUBTYPE_ANALOG, "KSDATAFORMAT_SUBTYPE_ANALOG"},
    {&KSDATAFORMAT_SUBTYPE_MIDI, "KSDATAFORMAT_SUBTYPE_MIDI"},
    {&KSDATAFORMAT_SPECIFIER_WAVEFORMATEX, "KSDATAFORMAT_SPECIFIER_WAVEFORMATEX"},
    {&KSDATAFORMAT_SPECIFIER_DSOUND, "KSDATAFORMAT_SPECIFIER_DSOUND"},
    {&KSDATAFORMAT_SPECIFIER_NONE, "KSDATAFORMAT_SPECIFIER_NONE"},
    {&PINNAME_CAPTURE, "PINNAME_CAPTURE"},
    {&KSNODETYPE_MICROPHONE, "KSNODETYPE_MICROPHONE"},
    {&KSNODETYPE_SPEAKER, "KSNODETYPE_SPEAKER"},
    {&KSNODETYPE_DAC, "KSNODETYPE_DAC"},
    {&KSNODETYPE_ADC, "KSNODETYPE_ADC"},
    {&KSNODETYPE_VOLUME, "KSNODETYPE_VOLUME"},
    {&KSNODETYPE_MUTE, "KSNODETYPE_MUTE"},
};

struct NamedError {
  DWORD error;
  const char* name;
};

const NamedError kErrorNames[] = {
    {ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND"},
    {ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED"},
    {ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE"},
    {ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY"},
    {ERROR_OUTOFMEMORY, "ERROR_OUTOFMEMORY"},
    {ERROR_BAD_COMMAND, "ERROR_BAD_COMMAND"},
    {ERROR_GEN_FAILURE, "ERROR_GEN_FAILURE"},
    {ERROR_NOT_SUPPORTED, "ERROR_NOT_SUPPORTED"},
    {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
    {ERROR_INSUFFICIENT_BUFFER, "ERROR_INSUFFICIENT_BUFFER"},
    {ERROR_MORE_DATA, "ERROR_MORE_DATA"},
    {ERROR_OPERATION_ABORTED, "ERROR_OPERATION_ABORTED"},
    {ERROR_IO_PENDING, "ERROR_IO_PENDING"},
    {ERROR_DEVICE_NOT_CONNECTED, "ERROR_DEVICE_NOT_CONNECTED"},
    {ERROR_NOT_FOUND, "ERROR_NOT_FOUND"},
    {ERROR_NO_MATCH, "ERROR_NO_MATCH"},
    {ERROR_SET_NOT_FOUND, "ERROR_SET_NOT_FOUND"},
    {ERROR_NO_SYSTEM_RESOURCES, "ERROR_NO_SYSTEM_RESOURCES"},
    {ERROR_DEVICE_REMOVED, "ERROR_DEVICE_REMOVED"},
    {ERROR_INVALID_FUNCTION, "ERROR_INVALID_FUNCTION"},
};

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

}  // namespace

std::string GuidText(const GUID& guid) {
  char text[48];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

const char* GuidName(const GUID& guid) {
  for (const NamedGuidEntry& entry : kGuidNames) {
    if (SameGuid(*entry.guid, guid)) return entry.name;
  }
  return "";
}

std::string NamedGuid(const GUID& guid) {
  const char* name = GuidName(guid);
  return *name != '\0' ? GuidText(guid) + " " + name : GuidText(guid);
}

std::string ErrorName(DWORD error) {
  for (const NamedError& entry : kErrorNames) {
    if (entry.error == error) return entry.name;
  }
  return std::to_string(error);
}

std::string ResultText(HRESULT result) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result) & 0xFFFFFFFFul);
  const auto bits = static_cast<unsigned long>(result) & 0xFFFFFFFFul;
  std::string name;
  if (result == S_OK) {
    name = "S_OK";
  } else if (result == S_FALSE) {
    name = "S_FALSE";
  } else if (result == E_FAIL) {
    name = "E_FAIL";
  } else if (result == E_OUTOFMEMORY) {
    name = "E_OUTOFMEMORY";
  } else if ((bits & 0xFFFF0000ul) == 0x80070000ul) {
    name = ErrorName(static_cast<DWORD>(bits & 0xFFFFul));
  }
  return name.empty() ? std::string(text) : std::string(text) + " (" + name + ")";
}

const char* CommunicationName(ULONG communication) {
  switch (communication) {
    case KSPIN_COMMUNICATION_NONE:
      return "none";
    case KSPIN_COMMUNICATION_SINK:
      return "sink";
    case KSPIN_COMMUNICATION_SOURCE:
      return "source";
    case KSPIN_COMMUNICATION_BOTH:
      return "both";
    case KSPIN_COMMUNICATION_BRIDGE:
      return "bridge";
    default:
      return "unknown";
  }
}

const char* DataFlowName(ULONG dataFlow) {
  switch (dataFlow) {
    case KSPIN_DATAFLOW_IN:
      return "in";
    case KSPIN_DATAFLOW_OUT:
      return "out";
    default:
      return "unknown";
  }
}

const char* StateName(ULONG state) {
  return state <= KSSTATE_RUN ? g_apszKsStateNames[state] : "unknown";
}

std::string Utf16Text(const char* text, size_t bytes) {
  std::vector<WCHAR> wide;
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    const unsigned unit = static_cast<unsigned char>(text[i]) |
                          (static_cast<unsigned>(static_cast<unsigned char>(text[i + 1])) << 8);
    if (unit == 0) break;
    wide.push_back(static_cast<WCHAR>(unit));
  }
  if (wide.empty()) return std::string();
  const int count = static_cast<int>(wide.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, &out[0], size, nullptr, nullptr);
  return out;
}

}  // namespace kx7host

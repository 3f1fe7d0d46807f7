#include "host/session/AsioText.h"

#include <cstdint>
#include <cstdio>

namespace kx7host {

const char* AsioErrorName(ASIOError error) {
  switch (error) {
    case ASE_OK:
      return "ASE_OK";
    case ASE_SUCCESS:
      return "ASE_SUCCESS";
    case ASE_NotPresent:
      return "ASE_NotPresent";
    case ASE_HWMalfunction:
      return "ASE_HWMalfunction";
    case ASE_InvalidParameter:
      return "ASE_InvalidParameter";
    case ASE_InvalidMode:
      return "ASE_InvalidMode";
    case ASE_SPNotAdvancing:
      return "ASE_SPNotAdvancing";
    case ASE_NoClock:
      return "ASE_NoClock";
    case ASE_NoMemory:
      return "ASE_NoMemory";
    default:
      return nullptr;
  }
}

std::string AsioErrorText(ASIOError error) {
  std::string text = std::to_string(error);
  if (const char* name = AsioErrorName(error)) text += std::string(" (") + name + ")";
  return text;
}

const char* SampleTypeName(ASIOSampleType type) {
  switch (type) {
    case ASIOSTInt16MSB:
      return "ASIOSTInt16MSB";
    case ASIOSTInt24MSB:
      return "ASIOSTInt24MSB";
    case ASIOSTInt32MSB:
      return "ASIOSTInt32MSB";
    case ASIOSTFloat32MSB:
      return "ASIOSTFloat32MSB";
    case ASIOSTFloat64MSB:
      return "ASIOSTFloat64MSB";
    case ASIOSTInt32MSB16:
      return "ASIOSTInt32MSB16";
    case ASIOSTInt32MSB18:
      return "ASIOSTInt32MSB18";
    case ASIOSTInt32MSB20:
      return "ASIOSTInt32MSB20";
    case ASIOSTInt32MSB24:
      return "ASIOSTInt32MSB24";
    case ASIOSTInt16LSB:
      return "ASIOSTInt16LSB";
    case ASIOSTInt24LSB:
      return "ASIOSTInt24LSB";
    case ASIOSTInt32LSB:
      return "ASIOSTInt32LSB";
    case ASIOSTFloat32LSB:
      return "ASIOSTFloat32LSB";
    case ASIOSTFloat64LSB:
      return "ASIOSTFloat64LSB";
    case ASIOSTInt32LSB16:
      return "ASIOSTInt32LSB16";
    case ASIOSTInt32LSB18:
      return "ASIOSTInt32LSB18";
    case ASIOSTInt32LSB20:
      return "ASIOSTInt32LSB20";
    case ASIOSTInt32LSB24:
      return "ASIOSTInt32LSB24";
    case ASIOSTDSDInt8LSB1:
      return "ASIOSTDSDInt8LSB1";
    case ASIOSTDSDInt8MSB1:
      return "ASIOSTDSDInt8MSB1";
    case ASIOSTDSDInt8NER8:
      return "ASIOSTDSDInt8NER8";
    default:
      return nullptr;
  }
}

std::string HresultText(HRESULT hr) {
  const auto code = static_cast<uint32_t>(hr);
  const char* meaning = nullptr;
  switch (code) {
    case 0x00000000u:
      meaning = "S_OK";
      break;
    case 0x00000001u:
      meaning = "S_FALSE";
      break;
    case 0x80004001u:
      meaning = "not implemented";
      break;
    case 0x80004002u:
      meaning = "no such interface";
      break;
    case 0x80004003u:
      meaning = "invalid pointer";
      break;
    case 0x80004005u:
      meaning = "unspecified failure";
      break;
    case 0x8007000Eu:
      meaning = "out of memory";
      break;
    case 0x80070057u:
      meaning = "invalid argument";
      break;
    case 0x8007007Eu:
      meaning = "the library or one it needs was not found";
      break;
    case 0x8007007Fu:
      meaning = "entry point not found";
      break;
    case 0x800700C1u:
      meaning = "not a valid library for this platform";
      break;
    case 0x80040110u:
      meaning = "the class does not support aggregation";
      break;
    case 0x80040111u:
      meaning = "the library does not provide this class";
      break;
    case 0x80040154u:
      meaning = "class not registered";
      break;
    case 0x800401F0u:
      meaning = "COM not initialised";
      break;
    case 0x800401F3u:
      meaning = "invalid class string";
      break;
    case 0x800401F8u:
      meaning = "the class's library was not found";
      break;
    case 0x800401F9u:
      meaning = "the class's library failed";
      break;
    case 0x80010106u:
      meaning = "COM already initialised in another mode";
      break;
    case 0xFFFFFFFFu:
      meaning = "failed";
      break;
    default:
      break;
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
  return meaning != nullptr ? std::string(hex) + " (" + meaning + ")" : std::string(hex);
}

}  // namespace kx7host

// Readable names for the codes a driver and COM answer with.
#pragma once

#include <string>

#include "asio/asio.h"

namespace kx7host {

// "ASE_NoClock" and the like; nullptr for a value that is not a published ASIOError.
const char* AsioErrorName(ASIOError error);

// "-995 (ASE_NoClock)", or just the number for an unnamed value.
std::string AsioErrorText(ASIOError error);

// "ASIOSTInt32LSB" and the like; nullptr for an unknown type.
const char* SampleTypeName(ASIOSampleType type);

// "0x80040154 (class not registered)", or just the hexadecimal value for an unlisted code.
std::string HresultText(HRESULT hr);

}  // namespace kx7host

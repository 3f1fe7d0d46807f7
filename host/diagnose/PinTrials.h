// The KX-7's pins at one rate as the driver makes them: tried format by format and closed again
// at once, created for a stream with the driver's first format that works, and asked for their
// buffer framing.
#pragma once

#include <string>
#include <vector>

#include "host/diagnose/Diagnosis.h"
#include "ks/KsAudFilter.h"

namespace kx7host {

// Tries the driver's two formats ("extensible 24-bit", then "PCM 24-bit") and 24 valid bits in
// 32-bit containers ("extensible 24-in-32"); every pin made is closed again.
std::vector<FormatTrial> TryFormats(CKsAudFilter* filter, uint32_t rate);

// Creates the pin with the first of the driver's two formats that the trials accepted, as the
// driver would; null when neither was. Gives the format's name and its bytes per frame.
CKsAudPin* CreateStreamingPin(CKsAudFilter* filter, uint32_t rate,
                              const std::vector<FormatTrial>& trials, std::string* format,
                              ULONG* frameBytes);

// Whether a pin creation failed because another application holds the pin.
bool PinIsBusy(HRESULT result);

// KSPROPERTY_CONNECTION_ALLOCATORFRAMING and _EX of a created pin, where it answers them.
FramingReport ReadFraming(CKsPin* pin);

}  // namespace kx7host

// The machine's KS audio filters as the KS layer finds them: path, friendly name and aliases of
// each, and whether the driver would pick it for the KX-7 and why; and a filter of the KX-7
// opened and read pin by pin, range by range, with its topology. Nothing here creates a pin.
#pragma once

#include <string>
#include <vector>

#include "host/diagnose/Diagnosis.h"

namespace kx7host {

// Every filter of KSCATEGORY_AUDIO, in enumeration order. `capturePick` and `renderPick` are the
// paths of the filters the driver picks (empty for none); each listing says why.
std::vector<FilterListing> ListAudioFilters(const std::string& capturePick,
                                            const std::string& renderPick);

// Opens the filter at `path` and reads its pins, data ranges, nodes and connections.
FilterDetails ReadFilterDetails(const std::string& path);

// Whether a pin is one the driver can stream through: a sink offering the standard (not
// looped) streaming interface.
bool OffersStandardStreaming(const PinListing& pin);

// Why the driver picks the filter, or passes it over; `details` when the filter was read.
std::string PickReason(const FilterListing& filter, const FilterDetails* details);

}  // namespace kx7host

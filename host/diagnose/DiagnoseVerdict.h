// The verdict of a diagnosis in plain words: which class driver the KX-7 is on and how its
// filters are laid out, the virtual KX-7's timing profile nearest to the completions seen, and
// what was seen that the driver is known not to survive.
#pragma once

#include <string>

#include "host/diagnose/Diagnosis.h"

namespace kx7host {

// The virtual KX-7's profile nearest to one pin's completions at `rate`: "ideal" (one
// completion per packet, as the packet ends), "usb-1ms" or "urb-Nms" (completions on a grid of
// N ms), or "jitter-N" (off any grid, spread by about N frames); "" with too few completions.
// A grid is one that at least half the bursts keep to closely (a busy machine wakes late
// for some completions, not for most); of the grids that fit, the one whose bursts
// hold the packets seen per burst is named.
std::string NearestProfile(const PinFigures& figures, uint32_t rate);

// A profile's completion grid at `rate` (the packet time for "ideal"), 0 for none.
double ProfileGridMs(const std::string& profile, uint32_t rate);
// The share of the bursts that came close to a whole number of `gridMs` after the last burst
// that did.
double ShareOnGrid(const PinFigures& figures, double gridMs);

Verdict JudgeDiagnosis(const Diagnosis& diagnosis);

}  // namespace kx7host

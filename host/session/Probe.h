// Asking a driver what a host asks before it creates buffers.
#pragma once

#include "asio/asio.h"
#include "host/session/ProbeReport.h"

namespace kx7host {

// The rates every probe asks canSampleRate about.
inline constexpr ASIOSampleRate kProbedSampleRates[] = {32000, 44100, 48000, 88200, 96000, 192000};

// Asks the driver everything a host asks before creating buffers, in a host's order: name,
// version, init, error text, channels and their info, buffer sizes, latencies, rates, clocks.
// A query that fails is recorded with its result; nothing a driver writes is trusted to be
// terminated or in range.
ProbeReport ProbeDriver(IASIO* driver);

}  // namespace kx7host

// One pin's completions at one rate as a diagnosis logs them, and the figures drawn from them:
// the intervals and their histogram, how completions cluster into bursts and the period of the
// bursts (the class driver's batching), packets that came back short or empty, and the
// stretches in which the pin must have run dry. Also the phase between the two pins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "product/Kx7Facts.h"

namespace kx7host {

// The driver's packet scheme, which the diagnosis streams with.
inline constexpr uint32_t kDiagnosePacketFrames = kx7::kPacketFrames;
inline constexpr uint32_t kDiagnosePacketsInFlight = kx7::kPacketsInFlight;
// Width of the interval histogram's bins, and where its last bin starts.
inline constexpr double kHistogramBinMs = 0.25;
inline constexpr double kHistogramTopMs = 20.0;

// One completed request, as the pin left its header.
struct CompletionRecord {
  int64_t timeNs = 0;  // when the diagnosis saw it, since the run began
  uint32_t packet = 0;
  uint32_t dataUsed = 0;
  uint32_t optionsFlags = 0;
  int64_t presentationTime = 0;
  uint32_t numerator = 0;
  uint32_t denominator = 0;
  int64_t duration = 0;
  uint32_t error = 0;  // 0, or the error number the request completed with
};

struct IntervalFigures {
  size_t count = 0;
  double meanMs = 0.0;
  double p50Ms = 0.0;  // nearest rank
  double p99Ms = 0.0;
  double minMs = 0.0;
  double maxMs = 0.0;
};

struct HistogramBin {
  double fromMs = 0.0;  // the bin holds intervals from here to kHistogramBinMs more
  size_t count = 0;
};

struct PinFigures {
  size_t completions = 0;
  IntervalFigures intervals;
  std::vector<HistogramBin> histogram;  // the bins that hold any interval, in order
  // Completions less than a quarter packet apart form one burst.
  size_t bursts = 0;
  double packetsPerBurst = 0.0;
  size_t largestBurst = 0;
  // The period of the completion grid: the lower quartile of the intervals between bursts
  // (0 when there are too few), and the share of those intervals that are whole multiples of
  // it (within a fifth of it).
  double batchingMs = 0.0;
  double onGrid = 0.0;
  // Half the spread (1st to 99th percentile) of the intervals between bursts, in frames.
  double spreadFrames = 0.0;
  // The intervals between the starts of consecutive bursts, in order.
  std::vector<double> burstIntervalsMs;
  // Completions against the packets the rate gives over the same time.
  double completedPerNominal = 0.0;
  // Successful completions with fewer bytes than a packet holds, and with none.
  size_t shortPackets = 0;
  size_t emptyPackets = 0;
  size_t failedRequests = 0;
  size_t timeValid = 0;  // OptionsFlags carrying TIMEVALID, DURATIONVALID
  size_t durationValid = 0;
  // Intervals longer than the packets in flight last: the pin had nothing to play or fill for
  // part of each, at least `framesLost` frames in all.
  size_t gaps = 0;
  uint64_t framesLost = 0;
};

PinFigures SummarizeCompletions(const std::vector<CompletionRecord>& log, uint32_t rate,
                                uint32_t packetBytes);

struct PhaseFigures {
  bool known = false;
  double periodMs = 0.0;
  double ms = 0.0;  // capture completions after render completions, within [0, periodMs)
};

// The mean position of capture completions relative to render completions on a grid of
// `periodMs` (circular, so that a grid's wrap does not split it).
PhaseFigures CapturePhase(const std::vector<CompletionRecord>& capture,
                          const std::vector<CompletionRecord>& render, double periodMs);

}  // namespace kx7host

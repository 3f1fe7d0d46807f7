#include "host/diagnose/CompletionFigures.h"

#include <algorithm>
#include <cmath>

#include "host/common/Statistics.h"
#include "platform/ks.h"

namespace kx7host {

namespace {

constexpr double kNsPerMs = 1e6;
constexpr double kTwoPi = 6.283185307179586;
// Burst intervals within this share of a whole multiple of the grid period are on the grid.
constexpr double kGridTolerance = 0.2;
// Too few burst intervals give no period worth naming.
constexpr size_t kMinBurstIntervals = 3;

double Ms(int64_t ns) { return static_cast<double>(ns) / kNsPerMs; }

IntervalFigures Intervals(std::vector<double> intervals) {
  IntervalFigures figures;
  if (intervals.empty()) return figures;
  figures.count = intervals.size();
  double total = 0.0;
  for (double interval : intervals) total += interval;
  figures.meanMs = total / static_cast<double>(intervals.size());
  const auto [low, high] = std::minmax_element(intervals.begin(), intervals.end());
  figures.minMs = *low;
  figures.maxMs = *high;
  figures.p50Ms = NearestRank(intervals, 0.5);
  figures.p99Ms = NearestRank(intervals, 0.99);
  return figures;
}

std::vector<HistogramBin> Histogram(const std::vector<double>& intervals) {
  const size_t top = static_cast<size_t>(kHistogramTopMs / kHistogramBinMs);
  std::vector<size_t> counts(top + 1, 0);
  for (double interval : intervals) {
    const double bin = std::floor(std::max(interval, 0.0) / kHistogramBinMs);
    ++counts[bin >= static_cast<double>(top) ? top : static_cast<size_t>(bin)];
  }
  std::vector<HistogramBin> bins;
  for (size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] > 0) bins.push_back({static_cast<double>(i) * kHistogramBinMs, counts[i]});
  }
  return bins;
}

// The period of the grid the bursts fall on, how many of their intervals fit it, and how
// widely they spread.
void BurstGrid(std::vector<double> burstIntervals, uint32_t rate, PinFigures* figures) {
  if (burstIntervals.size() < kMinBurstIntervals) return;
  const double period = NearestRank(burstIntervals, 0.25);
  if (period <= 0.0) return;
  figures->batchingMs = period;
  size_t fitting = 0;
  for (double interval : burstIntervals) {
    const double multiple = std::round(interval / period);
    if (multiple >= 1.0 && std::fabs(interval / period - multiple) <= kGridTolerance) ++fitting;
  }
  figures->onGrid = static_cast<double>(fitting) / static_cast<double>(burstIntervals.size());
  const double low = NearestRank(burstIntervals, 0.01);
  const double high = NearestRank(burstIntervals, 0.99);
  figures->spreadFrames = (high - low) / 2.0 * rate / 1000.0;
}

}  // namespace

PinFigures SummarizeCompletions(const std::vector<CompletionRecord>& log, uint32_t rate,
                                uint32_t packetBytes) {
  PinFigures figures;
  figures.completions = log.size();
  if (rate == 0) return figures;
  const double packetMs = kDiagnosePacketFrames * 1000.0 / rate;
  const double inFlightMs = packetMs * kDiagnosePacketsInFlight;
  for (const CompletionRecord& record : log) {
    if (record.error != 0) {
      ++figures.failedRequests;
      continue;
    }
    if (record.dataUsed == 0) {
      ++figures.emptyPackets;
    } else if (record.dataUsed < packetBytes) {
      ++figures.shortPackets;
    }
    if ((record.optionsFlags & KSSTREAM_HEADER_OPTIONSF_TIMEVALID) != 0) ++figures.timeValid;
    if ((record.optionsFlags & KSSTREAM_HEADER_OPTIONSF_DURATIONVALID) != 0) {
      ++figures.durationValid;
    }
  }
  if (log.size() < 2) {
    figures.bursts = log.size();
    figures.largestBurst = log.size();
    figures.packetsPerBurst = static_cast<double>(log.size());
    return figures;
  }

  std::vector<double> intervals;
  std::vector<double> burstIntervals;
  intervals.reserve(log.size() - 1);
  int64_t burstStart = log.front().timeNs;
  size_t burstSize = 1;
  figures.bursts = 1;
  for (size_t i = 1; i < log.size(); ++i) {
    const double interval = Ms(log[i].timeNs - log[i - 1].timeNs);
    intervals.push_back(interval);
    if (interval > inFlightMs) {
      ++figures.gaps;
      figures.framesLost +=
          static_cast<uint64_t>(std::llround((interval - inFlightMs) * rate / 1000.0));
    }
    if (interval < packetMs / 4) {
      ++burstSize;
    } else {
      figures.largestBurst = std::max(figures.largestBurst, burstSize);
      burstIntervals.push_back(Ms(log[i].timeNs - burstStart));
      burstStart = log[i].timeNs;
      burstSize = 1;
      ++figures.bursts;
    }
  }
  figures.largestBurst = std::max(figures.largestBurst, burstSize);
  figures.packetsPerBurst = static_cast<double>(log.size()) / static_cast<double>(figures.bursts);
  const double coveredMs = Ms(log.back().timeNs - log.front().timeNs);
  figures.completedPerNominal = static_cast<double>(log.size() - 1) / (coveredMs / packetMs);
  figures.histogram = Histogram(intervals);
  figures.intervals = Intervals(std::move(intervals));
  figures.burstIntervalsMs = burstIntervals;
  BurstGrid(std::move(burstIntervals), rate, &figures);
  return figures;
}

PhaseFigures CapturePhase(const std::vector<CompletionRecord>& capture,
                          const std::vector<CompletionRecord>& render, double periodMs) {
  PhaseFigures phase;
  if (capture.empty() || render.empty() || !(periodMs > 0.0)) return phase;
  const int64_t origin = render.front().timeNs;
  // The mean direction of the completions' places on the grid.
  auto meanAngle = [&](const std::vector<CompletionRecord>& log) {
    double x = 0.0, y = 0.0;
    for (const CompletionRecord& record : log) {
      const double place = std::fmod(Ms(record.timeNs - origin), periodMs);
      x += std::cos(kTwoPi * place / periodMs);
      y += std::sin(kTwoPi * place / periodMs);
    }
    return std::atan2(y, x);
  };
  double angle = meanAngle(capture) - meanAngle(render);
  while (angle < 0.0) angle += kTwoPi;
  while (angle >= kTwoPi) angle -= kTwoPi;
  phase.known = true;
  phase.periodMs = periodMs;
  phase.ms = angle / kTwoPi * periodMs;
  // A hair below the period is the same place as 0.
  if (periodMs - phase.ms < periodMs * 1e-9) phase.ms = 0.0;
  return phase;
}

}  // namespace kx7host

// Figures a stream run is judged by: intervals between buffer switches and the continuity of the
// sample positions the driver reported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kx7host {

struct IntervalSummary {
  size_t count = 0;  // intervals, one fewer than the time stamps
  double meanUs = 0.0;
  double p99Us = 0.0;  // nearest rank
  double minUs = 0.0;
  double maxUs = 0.0;
  size_t overTwicePeriod = 0;  // intervals longer than twice the nominal period
};

// The value with a fixed number of decimals ("1.333").
std::string FixedText(double value, int decimals);

// The smallest value that at least `fraction` (0 to 1) of all values are not above: the
// nearest-rank percentile. Reorders the values; 0 when there are none.
double NearestRank(std::vector<double>& values, double fraction);

// Summarises the intervals between consecutive time stamps (nanoseconds, non-decreasing).
// `periodUs` is the nominal interval, buffer size over sample rate.
IntervalSummary SummarizeIntervals(const std::vector<int64_t>& stampsNs, double periodUs);

// Whether the step from the previous switch's position to this one's is what a running driver
// gives: one buffer size. The switches a driver delivers while `start` still waits all report
// position 0, so steps from 0 to 0 are accepted too.
inline bool PositionStepIsContinuous(int64_t previous, int64_t current, int64_t bufferSize) {
  return current - previous == bufferSize || (previous == 0 && current == 0);
}

struct PositionContinuity {
  size_t steps = 0;            // steps checked
  size_t leadingZeros = 0;     // switches at position 0 before the first advance
  size_t discontinuities = 0;  // steps that were not one buffer size
  size_t firstBreak = 0;       // index of the switch of the first discontinuity, when there is one
  int64_t firstBreakFrom = 0;
  int64_t firstBreakTo = 0;
};

PositionContinuity CheckPositions(const std::vector<int64_t>& positions, int64_t bufferSize);

// Buffer switches that `elapsedFrames` of device time give at `bufferSize` frames per switch.
inline uint64_t ExpectedSwitches(uint64_t elapsedFrames, int32_t bufferSize) {
  return bufferSize > 0 ? elapsedFrames / static_cast<uint64_t>(bufferSize) : 0;
}

}  // namespace kx7host

#include "host/common/Statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kx7host {

std::string FixedText(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

double NearestRank(std::vector<double>& values, double fraction) {
  if (values.empty()) return 0.0;
  size_t rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(values.size())));
  rank = std::min(std::max<size_t>(rank, 1), values.size());
  std::nth_element(values.begin(), values.begin() + (rank - 1), values.end());
  return values[rank - 1];
}

IntervalSummary SummarizeIntervals(const std::vector<int64_t>& stampsNs, double periodUs) {
  IntervalSummary summary;
  if (stampsNs.size() < 2) return summary;
  std::vector<double> intervals(stampsNs.size() - 1);
  double total = 0.0;
  for (size_t i = 1; i < stampsNs.size(); ++i) {
    intervals[i - 1] = static_cast<double>(stampsNs[i] - stampsNs[i - 1]) / 1000.0;
    total += intervals[i - 1];
    if (periodUs > 0.0 && intervals[i - 1] > 2.0 * periodUs) ++summary.overTwicePeriod;
  }
  summary.count = intervals.size();
  summary.meanUs = total / static_cast<double>(intervals.size());
  const auto [low, high] = std::minmax_element(intervals.begin(), intervals.end());
  summary.minUs = *low;
  summary.maxUs = *high;
  summary.p99Us = NearestRank(intervals, 0.99);
  return summary;
}

PositionContinuity CheckPositions(const std::vector<int64_t>& positions, int64_t bufferSize) {
  PositionContinuity result;
  while (result.leadingZeros < positions.size() && positions[result.leadingZeros] == 0) {
    ++result.leadingZeros;
  }
  for (size_t i = 1; i < positions.size(); ++i) {
    ++result.steps;
    if (PositionStepIsContinuous(positions[i - 1], positions[i], bufferSize)) continue;
    if (result.discontinuities++ == 0) {
      result.firstBreak = i;
      result.firstBreakFrom = positions[i - 1];
      result.firstBreakTo = positions[i];
    }
  }
  return result;
}

}  // namespace kx7host

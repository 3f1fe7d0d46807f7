#include "host/stream/LatencyMeasure.h"

#include <algorithm>

namespace kx7host {

namespace {
int64_t Magnitude(int32_t sample) { return sample < 0 ? -int64_t{sample} : int64_t{sample}; }
}  // namespace

ClickPlan PlanClicks(int32_t bufferSize, double rate, size_t clicks, int32_t clickValue) {
  ClickPlan plan;
  const uint64_t size = static_cast<uint64_t>(std::max(bufferSize, 64));
  // The driver plays silence for its first two halves and fades in over the third.
  plan.firstFrame = std::max<uint64_t>(16 * size, static_cast<uint64_t>(rate / 10));
  // A round trip through the driver is a few halves plus the device's packets in flight.
  plan.periodFrames = std::max<uint64_t>(8 * size + 4096, static_cast<uint64_t>(rate / 4));
  plan.clicks = clicks;
  plan.clickValue = clickValue;
  return plan;
}

uint64_t FramesNeeded(const ClickPlan& plan) {
  return plan.firstFrame + (plan.clicks + 1) * plan.periodFrames;
}

LatencyMeasurement MeasureClicks(const std::vector<int32_t>& input, size_t frames,
                                 const ClickPlan& plan) {
  LatencyMeasurement result;
  frames = std::min(frames, input.size());
  const int64_t threshold = Magnitude(plan.clickValue) / 8;
  std::vector<int64_t> found;
  for (size_t k = 0; k < plan.clicks; ++k) {
    const uint64_t played = plan.firstFrame + k * plan.periodFrames;
    if (played >= frames) break;
    const size_t end = static_cast<size_t>(std::min<uint64_t>(played + plan.periodFrames, frames));
    int64_t peak = 0;
    for (size_t f = static_cast<size_t>(played); f < end; ++f) {
      peak = std::max(peak, Magnitude(input[f]));
    }
    if (peak == 0 || peak < threshold) continue;
    for (size_t f = static_cast<size_t>(played); f < end; ++f) {
      if (2 * Magnitude(input[f]) >= peak) {
        found.push_back(static_cast<int64_t>(f - played));
        break;
      }
    }
  }
  result.clicksFound = found.size();
  if (found.empty()) return result;
  std::sort(found.begin(), found.end());
  result.minFrames = found.front();
  result.maxFrames = found.back();
  result.medianFrames = found[found.size() / 2];
  return result;
}

}  // namespace kx7host

// Finding the clicks the host played in what it captured: the round trip from the output
// stream's frame of a click to the input stream's frame where it is heard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx7host {

struct ClickPlan {
  uint64_t firstFrame = 0;    // output frame of the first click
  uint64_t periodFrames = 0;  // frames between clicks; a round trip must be shorter
  size_t clicks = 0;
  int32_t clickValue = 0;  // the click's sample value
};

// The click train for a run at `bufferSize` frames and `rate`: clear of the driver's silent
// start and fade-in, spaced wider than any round trip the pipeline can give.
ClickPlan PlanClicks(int32_t bufferSize, double rate, size_t clicks, int32_t clickValue);
// Output frames the run must cover: the clicks and one period after the last.
uint64_t FramesNeeded(const ClickPlan& plan);

struct LatencyMeasurement {
  size_t clicksFound = 0;
  int64_t minFrames = 0;
  int64_t medianFrames = 0;
  int64_t maxFrames = 0;
};

// Looks for each click within one period after it was played: the input's peak there must
// reach an eighth of the click's value, and the click's arrival is the first frame at half that
// peak. `input` holds the captured input frames from the stream's first frame on.
LatencyMeasurement MeasureClicks(const std::vector<int32_t>& input, size_t frames,
                                 const ClickPlan& plan);

}  // namespace kx7host

// When the virtual KX-7 hands completed stream requests back, as opposed to when their samples
// were played or captured: at once (ideal), at the ends of 1 ms USB frames or of multi-frame
// URBs, or spread by a random delay. Capture and render share one sample clock; each direction
// has its own completion phase.
#pragma once

#include <cstdint>
#include <string>

namespace vkx7 {

struct TimingProfile {
  enum class Kind { Ideal, UsbFrames, Jitter };
  Kind kind = Kind::Ideal;
  // UsbFrames: USB frames (milliseconds) per completion, 1 for usb-1ms, N for urb-Nms.
  uint32_t framesPerCompletion = 1;
  // UsbFrames: where in the completion period each direction's completions fall, in
  // thousandths of the period; render at the period's start, capture half a period later.
  uint32_t renderPhasePermille = 0;
  uint32_t capturePhasePermille = 500;
  // Jitter: each completion comes up to this many sample frames after its last sample.
  uint32_t jitterFrames = 0;

  static TimingProfile Ideal();
  static TimingProfile UsbFrames(uint32_t millisecondsPerCompletion);
  static TimingProfile Jitter(uint32_t frames);

  // "ideal", "usb-1ms", "urb-2ms", "urb-4ms", "urb-8ms", "jitter" (a quarter packet) or
  // "jitter-N" (N frames). False when the name is none of them.
  static bool Parse(const std::string& name, TimingProfile* profile);
  std::string Name() const;
};

// The first moment at or after `frame` (in sample frames of the device clock) at which the
// given direction completes requests at `rate`, for the period-based profiles. Ideal and
// Jitter answer `frame` itself.
uint64_t NextCompletionMoment(const TimingProfile& profile, bool render, uint32_t rate,
                              uint64_t frame);

}  // namespace vkx7

#include "virtual_device/TimingProfile.h"

#include <cerrno>
#include <cstdlib>

namespace vkx7 {
namespace {

constexpr uint32_t kQuarterPacket = 16;
constexpr uint64_t kMillisecondsPerSecond = 1000;

// A whole number after `prefix` and before `suffix`, within [low, high].
bool NumberBetween(const std::string& name, const std::string& prefix, const std::string& suffix,
                   uint32_t low, uint32_t high, uint32_t* value) {
  if (name.size() <= prefix.size() + suffix.size()) return false;
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
  const std::string digits =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
  }
  errno = 0;
  const unsigned long parsed = std::strtoul(digits.c_str(), nullptr, 10);
  if (errno != 0 || parsed < low || parsed > high) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

// Sample frames from the clock's origin to the end of completion period k.
uint64_t PeriodEnd(uint64_t k, uint64_t rate, uint64_t milliseconds) {
  return k * rate * milliseconds / kMillisecondsPerSecond;
}

}  // namespace

TimingProfile TimingProfile::Ideal() { return TimingProfile(); }

TimingProfile TimingProfile::UsbFrames(uint32_t millisecondsPerCompletion) {
  TimingProfile profile;
  profile.kind = Kind::UsbFrames;
  profile.framesPerCompletion = millisecondsPerCompletion == 0 ? 1 : millisecondsPerCompletion;
  return profile;
}

TimingProfile TimingProfile::Jitter(uint32_t frames) {
  TimingProfile profile;
  profile.kind = Kind::Jitter;
  profile.jitterFrames = frames;
  return profile;
}

bool TimingProfile::Parse(const std::string& name, TimingProfile* profile) {
  uint32_t value = 0;
  if (name == "ideal") {
    *profile = Ideal();
  } else if (name == "usb-1ms") {
    *profile = UsbFrames(1);
  } else if (NumberBetween(name, "urb-", "ms", 1, 64, &value)) {
    *profile = UsbFrames(value);
  } else if (name == "jitter") {
    *profile = Jitter(kQuarterPacket);
  } else if (NumberBetween(name, "jitter-", "", 0, 4096, &value)) {
    *profile = Jitter(value);
  } else {
    return false;
  }
  return true;
}

std::string TimingProfile::Name() const {
  switch (kind) {
    case Kind::Ideal:
      return "ideal";
    case Kind::UsbFrames:
      if (framesPerCompletion == 1) return "usb-1ms";
      return "urb-" + std::to_string(framesPerCompletion) + "ms";
    case Kind::Jitter:
      return "jitter-" + std::to_string(jitterFrames);
  }
  return "ideal";
}

uint64_t NextCompletionMoment(const TimingProfile& profile, bool render, uint32_t rate,
                              uint64_t frame) {
  if (profile.kind != TimingProfile::Kind::UsbFrames || rate == 0) return frame;
  const uint64_t milliseconds = profile.framesPerCompletion;
  const uint64_t permille = render ? profile.renderPhasePermille : profile.capturePhasePermille;
  const uint64_t phase = PeriodEnd(1, rate, milliseconds) * permille / 1000;
  if (frame <= phase) return phase;
  // The first period end at or after the frame: estimate, then correct for the rounding.
  const uint64_t since = frame - phase;
  uint64_t k = since * kMillisecondsPerSecond / (static_cast<uint64_t>(rate) * milliseconds);
  while (k > 0 && PeriodEnd(k - 1, rate, milliseconds) >= since) --k;
  while (PeriodEnd(k, rate, milliseconds) < since) ++k;
  return PeriodEnd(k, rate, milliseconds) + phase;
}

}  // namespace vkx7

#include "host/diagnose/DiagnoseVerdict.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "host/common/Statistics.h"
#include "host/diagnose/FilterSurvey.h"
#include "host/diagnose/KsText.h"
#include "ks/KsDeviceChoice.h"

namespace kx7host {

namespace {

// Fewer completions than this name no profile.
constexpr size_t kMinCompletions = 8;
// A grid fits when at least this share of the bursts keep to it.
constexpr double kMinOnGrid = 0.5;
// Close: within this much of a multiple, and at most this share of the grid.
constexpr double kGridToleranceMs = 0.05;
constexpr double kGridToleranceShare = 0.05;
// Packets per burst this close (as a ratio's logarithm), and shares of bursts on a grid this
// close, count as the same.
constexpr double kSameBurst = 0.02;
constexpr double kSameShare = 0.1;
// A pin that ran dry no more often than this may have met a stall of this program.
constexpr size_t kIsolatedStalls = 2;
// The longest URB period the virtual KX-7 offers.
constexpr int kMaxUrbMs = 64;

std::string Times(size_t count) {
  return count == 1 ? std::string("once") : std::to_string(count) + " times";
}

std::string Hz(uint32_t rate) { return std::to_string(rate) + " Hz"; }

double InFlightMs(uint32_t rate) {
  return kDiagnosePacketsInFlight * kDiagnosePacketFrames * 1000.0 / rate;
}

// How the KX-7's filters are laid out, from their aliases and pins.
void JudgeLayout(const Diagnosis& diagnosis, Verdict* verdict) {
  bool both = false, render = false, capture = false, realtime = false;
  for (const FilterListing& filter : diagnosis.filters) {
    if (!filter.kx7) continue;
    both = both || (filter.render && filter.capture);
    render = render || filter.render;
    capture = capture || filter.capture;
    realtime = realtime || filter.realtime;
  }
  bool standard = false;
  for (const FilterDetails& details : diagnosis.kx7Filters) {
    for (const PinListing& pin : details.pins) standard = standard || OffersStandardStreaming(pin);
  }
  if (realtime || (!diagnosis.kx7Filters.empty() && !standard)) {
    verdict->layout = "uac2";
    verdict->classDriver =
        "USB Audio 2.0 class driver: a real-time filter whose pins offer "
        "looped streaming only";
    verdict->problems.push_back(
        "The KX-7 runs on the USB Audio 2.0 class driver, whose pins offer looped streaming "
        "only: the driver cannot stream through it and reports \"NORVA KX-7 runs on the USB "
        "Audio 2.0 driver, which this driver cannot stream through.\"");
    return;
  }
  verdict->classDriver = "USB Audio 1.0 class driver: IRP streaming (standard streaming pins)";
  if (both) {
    verdict->layout = "single-filter";
  } else if (render && capture) {
    verdict->layout = "two-filter";
  } else {
    verdict->layout = "incomplete";
    verdict->problems.push_back(std::string("Only a ") + (render ? "render" : "capture") +
                                " filter of the KX-7 is registered: the driver needs both and "
                                "reports \"NORVA KX-7 hardware not found.\"");
  }
}

void JudgePin(uint32_t rate, const char* direction, const PinRun& pin, Verdict* verdict) {
  if (!pin.filterFound) return;  // the layout's judgement says why
  const std::string where = "At " + Hz(rate) + " the " + direction + " pin";
  if (pin.busy) {
    verdict->problems.push_back(where +
                                " is in use by another application: the driver cannot start "
                                "while it is (close programs that play or record through the "
                                "KX-7, or make another device the default)");
  } else if (pin.streamedFormat.empty() && !pin.states.empty()) {
    verdict->problems.push_back(where + " could not start: " + pin.problem +
                                " (no USB bandwidth for it?); the driver cannot start either");
  } else if (pin.streamedFormat.empty()) {
    verdict->problems.push_back(where +
                                " accepts neither of the driver's 24-bit formats: the driver "
                                "cannot run at this rate");
  } else if (!pin.problem.empty()) {
    verdict->problems.push_back(where + ": " + pin.problem);
  }
  const PinFigures& figures = pin.figures;
  if (figures.gaps > kIsolatedStalls) {
    verdict->problems.push_back(
        where + " ran dry " + Times(figures.gaps) + ", at least " +
        std::to_string(figures.framesLost) + " frames lost: its completions came up to " +
        FixedText(figures.intervals.maxMs, 2) +
        " ms apart, longer than four packets in flight last (" + FixedText(InFlightMs(rate), 2) +
        " ms), the least the driver keeps queued (at 64 frames); the driver loses audio at " +
        "this rate with small buffers");
  } else if (figures.gaps > 0) {
    verdict->observations.push_back(where + " went " + FixedText(figures.intervals.maxMs, 2) +
                                    " ms without a completion " + Times(figures.gaps) +
                                    " (at least " + std::to_string(figures.framesLost) +
                                    " frames lost): a stall of the device, or of this program");
  }
  if (figures.failedRequests > 0) {
    verdict->problems.push_back(where + " failed " + std::to_string(figures.failedRequests) +
                                " stream requests");
  }
  if (figures.emptyPackets > 0) {
    verdict->observations.push_back(where + " handed back " + std::to_string(figures.emptyPackets) +
                                    " packets empty");
  }
  if (figures.shortPackets > 0) {
    verdict->observations.push_back(where + " handed back " + std::to_string(figures.shortPackets) +
                                    " packets partly filled");
  }
  const FramingReport& framing = pin.framing;
  if (SUCCEEDED(framing.plainResult) && framing.plain.FrameSize > pin.packetBytes) {
    verdict->observations.push_back(where + " asks for frames of " +
                                    std::to_string(framing.plain.FrameSize) +
                                    " bytes, more than the driver's 64-frame packets (" +
                                    std::to_string(pin.packetBytes) + " bytes)");
  }
}

// The formats each direction accepted, over all rates, as one line per direction and format.
void JudgeFormats(const Diagnosis& diagnosis, Verdict* verdict) {
  for (const char* direction : {"capture", "render"}) {
    std::map<std::string, std::pair<std::string, std::string>> byFormat;  // accepted, refused
    std::vector<std::string> order;
    for (const RateRun& run : diagnosis.runs) {
      const PinRun& pin = std::string(direction) == "capture" ? run.capture : run.render;
      for (const FormatTrial& trial : pin.trials) {
        if (byFormat.find(trial.format) == byFormat.end()) order.push_back(trial.format);
        std::string& list =
            SUCCEEDED(trial.result) ? byFormat[trial.format].first : byFormat[trial.format].second;
        list += (list.empty() ? "" : ", ") + std::to_string(run.rate);
      }
    }
    for (const std::string& format : order) {
      const auto& [accepted, refused] = byFormat[format];
      std::string line = std::string("The ") + direction + " pin ";
      if (accepted.empty()) {
        line += "refuses " + format + " at " + refused + " Hz";
      } else {
        line += "takes " + format + " at " + accepted + " Hz";
        if (!refused.empty()) line += ", refuses it at " + refused + " Hz";
      }
      verdict->observations.push_back(line);
    }
  }
}

void JudgeProfiles(const Diagnosis& diagnosis, Verdict* verdict) {
  std::map<std::string, size_t> votes;
  std::vector<std::string> order;
  for (const RateRun& run : diagnosis.runs) {
    for (const auto& [direction, pin] :
         {std::make_pair("capture", &run.capture), std::make_pair("render", &run.render)}) {
      const std::string profile = NearestProfile(pin->figures, run.rate);
      if (profile.empty()) continue;
      if (votes[profile]++ == 0) order.push_back(profile);
      // The grid the profile names, and how many bursts kept to it; off any grid, the
      // grid the bursts came nearest to.
      double grid = ProfileGridMs(profile, run.rate);
      if (grid == 0.0) grid = pin->figures.batchingMs;
      verdict->perRateProfiles.push_back(
          Hz(run.rate) + " " + direction + ": " + profile + " (completions on a " +
          FixedText(grid, 2) + " ms grid, " +
          FixedText(ShareOnGrid(pin->figures, grid) * 100.0, 0) + " % of them on it, " +
          FixedText(pin->figures.packetsPerBurst, 2) + " packets per burst)");
    }
  }
  for (const std::string& profile : order) {
    if (verdict->profile.empty() || votes[profile] > votes[verdict->profile]) {
      verdict->profile = profile;
    }
  }
}

}  // namespace

double ProfileGridMs(const std::string& profile, uint32_t rate) {
  if (profile == "ideal") return rate == 0 ? 0.0 : kDiagnosePacketFrames * 1000.0 / rate;
  if (profile == "usb-1ms") return 1.0;
  int ms = 0;
  if (std::sscanf(profile.c_str(), "urb-%dms", &ms) == 1 && ms > 0) return ms;
  return 0.0;
}

double ShareOnGrid(const PinFigures& figures, double gridMs) {
  const std::vector<double>& intervals = figures.burstIntervalsMs;
  if (intervals.empty() || !(gridMs > 0.0)) return 0.0;
  const double tolerance = std::min(kGridToleranceMs, kGridToleranceShare * gridMs);
  // Each burst is held against the last burst that kept to the grid, so that one seen late
  // counts once and not again for the one after it; two misses in a row (the anchor itself
  // was late) start afresh.
  double sinceAnchor = 0.0;
  size_t close = 0, misses = 0;
  for (double interval : intervals) {
    sinceAnchor += interval;
    const double multiple = std::round(sinceAnchor / gridMs);
    if (multiple >= 1.0 && std::fabs(sinceAnchor - multiple * gridMs) <= tolerance) {
      ++close;
      sinceAnchor = 0.0;
      misses = 0;
    } else if (++misses == 2) {
      sinceAnchor = 0.0;
      misses = 0;
    }
  }
  return static_cast<double>(close) / static_cast<double>(intervals.size());
}

std::string NearestProfile(const PinFigures& figures, uint32_t rate) {
  if (figures.completions < kMinCompletions || !(figures.batchingMs > 0.0) || rate == 0) {
    return std::string();
  }
  const double packetMs = kDiagnosePacketFrames * 1000.0 / rate;
  // Every profile the model offers, with the packets its bursts hold at this rate: a grid
  // period's worth, but never more than the packets in flight, and at least one.
  std::string nearest;
  double nearestDistance = 0.0, nearestShare = 0.0, nearestGrid = 0.0;
  for (int ms = 0; ms <= kMaxUrbMs; ++ms) {
    const std::string profile = ms == 0   ? "ideal"
                                : ms == 1 ? "usb-1ms"
                                          : "urb-" + std::to_string(ms) + "ms";
    const double grid = ms == 0 ? packetMs : ms;
    const double share = ShareOnGrid(figures, grid);
    if (share < kMinOnGrid) continue;
    const double packets =
        std::clamp(grid / packetMs, 1.0, static_cast<double>(kDiagnosePacketsInFlight));
    const double distance = std::fabs(std::log(figures.packetsPerBurst / packets));
    // The grids that fit include the true one's divisors and (for every other burst) its
    // double; the bursts tell most apart. Where they cannot (all as full as the packets in
    // flight allow), the grid more bursts keep to wins, and then the longest.
    bool better = nearest.empty() || distance < nearestDistance - kSameBurst;
    if (!better && distance <= nearestDistance + kSameBurst) {
      better = share > nearestShare + kSameShare ||
               (share >= nearestShare - kSameShare && grid > nearestGrid);
    }
    if (better) {
      nearest = profile;
      nearestDistance = distance;
      nearestShare = share;
      nearestGrid = grid;
    }
  }
  if (!nearest.empty()) return nearest;
  return "jitter-" + std::to_string(std::lround(figures.spreadFrames));
}

Verdict JudgeDiagnosis(const Diagnosis& diagnosis) {
  Verdict verdict;
  for (const FilterListing& filter : diagnosis.filters) verdict.kx7Found |= filter.kx7;
  if (!verdict.kx7Found) {
    verdict.problems.push_back(
        "No NORVA KX-7 was found: none of the " + std::to_string(diagnosis.filters.size()) +
        " audio filters of this machine has a device path holding " + g_szKx7HardwareId +
        ". Is it plugged in, with its driver installed?");
    return verdict;
  }
  JudgeLayout(diagnosis, &verdict);
  JudgeFormats(diagnosis, &verdict);
  bool framingAnswered = false;
  for (const RateRun& run : diagnosis.runs) {
    JudgePin(run.rate, "capture", run.capture, &verdict);
    JudgePin(run.rate, "render", run.render, &verdict);
    for (const PinRun* pin : {&run.capture, &run.render}) {
      framingAnswered = framingAnswered || SUCCEEDED(pin->framing.plainResult) ||
                        SUCCEEDED(pin->framing.extendedResult);
    }
  }
  if (!diagnosis.runs.empty() && !framingAnswered) {
    verdict.observations.push_back("No pin answers the allocator framing properties");
  }
  JudgeProfiles(diagnosis, &verdict);
  if (diagnosis.interrupted) verdict.observations.push_back("The run was cut short");
  return verdict;
}

}  // namespace kx7host

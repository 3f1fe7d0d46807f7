// The text form of a diagnosis: the filters, the KX-7's pins and ranges, each rate's pins with
// their figures, and the verdict last.
#include <cstdio>

#include "host/common/Statistics.h"
#include "host/diagnose/DiagnosisReport.h"
#include "host/diagnose/KsText.h"

namespace kx7host {

namespace {

std::string Identifier(const KSIDENTIFIER& item) {
  return NamedGuid(item.Set) + " id " + std::to_string(item.Id) + " flags " +
         std::to_string(item.Flags);
}

std::string NodeName(ULONG node) {
  return node == KSFILTER_NODE ? std::string("filter") : "node " + std::to_string(node);
}

void PrintFilters(const Diagnosis& diagnosis, std::ostream& out) {
  out << "Audio filters (KSCATEGORY_AUDIO): " << diagnosis.filters.size() << '\n';
  size_t number = 0;
  for (const FilterListing& filter : diagnosis.filters) {
    out << "  " << ++number << ". "
        << (filter.friendlyName.empty() ? "(no name)" : filter.friendlyName) << '\n';
    out << "     " << filter.path << '\n';
    std::string aliases;
    for (const auto& [present, name] :
         {std::make_pair(filter.render, "render"), std::make_pair(filter.capture, "capture"),
          std::make_pair(filter.realtime, "real-time"),
          std::make_pair(filter.topology, "topology")}) {
      if (present) aliases += (aliases.empty() ? "" : ", ") + std::string(name);
    }
    out << "     aliases: " << (aliases.empty() ? "none" : aliases) << '\n';
    out << "     " << filter.why << '\n';
  }
}

void PrintRange(const DataRangeListing& range, size_t index, std::ostream& out) {
  out << "      range " << index << ": " << NamedGuid(range.header.MajorFormat) << '\n'
      << "        sub-format " << NamedGuid(range.header.SubFormat) << '\n'
      << "        specifier " << NamedGuid(range.header.Specifier) << '\n'
      << "        size " << range.header.FormatSize << ", flags " << range.header.Flags
      << (range.hasAttributes ? " (an attribute list follows)" : "") << ", sample size "
      << range.header.SampleSize << ", reserved " << range.header.Reserved << '\n';
  if (range.isAudio) {
    out << "        up to " << range.audio.MaximumChannels << " channels, "
        << range.audio.MinimumBitsPerSample << " to " << range.audio.MaximumBitsPerSample
        << " bits, " << range.audio.MinimumSampleFrequency << " to "
        << range.audio.MaximumSampleFrequency << " Hz\n";
  }
}

void PrintDetails(const FilterDetails& details, std::ostream& out) {
  out << "\nKX-7 filter " << details.path << '\n';
  if (FAILED(details.openResult)) {
    out << "  could not be opened: " << ResultText(details.openResult) << '\n';
    return;
  }
  if (FAILED(details.pinsResult)) {
    out << "  pin count not answered: " << ResultText(details.pinsResult) << '\n';
  }
  for (const PinListing& pin : details.pins) {
    out << "  pin " << pin.id << " \"" << pin.name << "\": communication "
        << CommunicationName(pin.communication) << ", data flow " << DataFlowName(pin.dataFlow)
        << (pin.complete ? "" : " (some queries went unanswered)") << '\n';
    out << "    category " << NamedGuid(pin.category) << '\n';
    out << "    instances " << pin.instances.CurrentCount << " of " << pin.instances.PossibleCount
        << " in use, globally " << pin.globalInstances.CurrentCount << " of "
        << pin.globalInstances.PossibleCount << '\n';
    for (const KSPIN_INTERFACE& item : pin.interfaces) {
      out << "    interface " << Identifier(item) << '\n';
    }
    for (const KSPIN_MEDIUM& item : pin.mediums) out << "    medium " << Identifier(item) << '\n';
    for (size_t i = 0; i < pin.dataRanges.size(); ++i) PrintRange(pin.dataRanges[i], i, out);
  }
  out << "  nodes:";
  if (details.nodes.empty()) out << (FAILED(details.nodesResult) ? " not answered" : " none");
  out << '\n';
  for (size_t i = 0; i < details.nodes.size(); ++i) {
    out << "    " << i << " " << NamedGuid(details.nodes[i]) << '\n';
  }
  out << "  connections:";
  if (details.connections.empty()) {
    out << (FAILED(details.connectionsResult) ? " not answered" : " none");
  }
  for (const KSTOPOLOGY_CONNECTION& connection : details.connections) {
    out << "\n    " << NodeName(connection.FromNode) << " pin " << connection.FromNodePin << " -> "
        << NodeName(connection.ToNode) << " pin " << connection.ToNodePin;
  }
  out << '\n';
}

void PrintFraming(const FramingReport& framing, uint32_t packetBytes, std::ostream& out) {
  out << "    framing: ";
  if (SUCCEEDED(framing.plainResult)) {
    out << framing.plain.Frames << " frames of " << framing.plain.FrameSize << " bytes (pool "
        << framing.plain.PoolType << ", flags " << framing.plain.OptionsFlags << ", alignment "
        << framing.plain.FileAlignment << "; the packets are " << packetBytes << " bytes)";
  } else {
    out << "not answered (" << ResultText(framing.plainResult) << ")";
  }
  out << "; extended: ";
  if (SUCCEEDED(framing.extendedResult)) {
    out << framing.countItems << " items";
    for (const KS_FRAMING_ITEM& item : framing.items) {
      out << "; " << item.Frames << " frames of " << item.FramingRange.Range.MinFrameSize << " to "
          << item.FramingRange.Range.MaxFrameSize << " bytes";
    }
  } else {
    out << "not answered (" << ResultText(framing.extendedResult) << ")";
  }
  out << '\n';
}

void PrintFigures(const PinFigures& figures, std::ostream& out) {
  const IntervalFigures& intervals = figures.intervals;
  out << "    " << figures.completions << " completions; interval mean "
      << FixedText(intervals.meanMs, 3) << " ms, p50 " << FixedText(intervals.p50Ms, 3) << ", p99 "
      << FixedText(intervals.p99Ms, 3) << ", max " << FixedText(intervals.maxMs, 3) << '\n';
  out << "    histogram:";
  for (const HistogramBin& bin : figures.histogram) {
    out << "  " << FixedText(bin.fromMs, 2) << (bin.fromMs >= kHistogramTopMs ? "+" : "")
        << " ms: " << bin.count;
  }
  out << '\n';
  out << "    bursts: " << figures.bursts << ", " << FixedText(figures.packetsPerBurst, 2)
      << " packets each (largest " << figures.largestBurst << "); batching "
      << FixedText(figures.batchingMs, 3) << " ms (" << FixedText(figures.onGrid * 100.0, 0)
      << " % of bursts on that grid); " << FixedText(figures.completedPerNominal * 100.0, 1)
      << " % of the packets the rate gives\n";
  out << "    empty " << figures.emptyPackets << ", partly filled " << figures.shortPackets
      << ", failed " << figures.failedRequests << "; TIMEVALID " << figures.timeValid
      << ", DURATIONVALID " << figures.durationValid << "; ran dry: " << figures.gaps
      << " (at least " << figures.framesLost << " frames lost)\n";
}

// The KS layer answers E_FAIL when no data range of the pins fits the format; anything else is
// what the device said to the creation.
std::string TrialResult(HRESULT result) {
  return result == E_FAIL ? std::string("(no data range fits)") : ResultText(result);
}

void PrintPinRun(const char* direction, const PinRun& run, std::ostream& out) {
  out << "  " << direction << '\n';
  if (!run.trials.empty()) {
    out << "    formats:";
    for (const FormatTrial& trial : run.trials) {
      out << "  " << trial.format << " "
          << (SUCCEEDED(trial.result) ? std::string("created")
                                      : "refused " + TrialResult(trial.result));
    }
    out << '\n';
  }
  if (!run.problem.empty()) out << "    " << run.problem << '\n';
  if (run.streamedFormat.empty()) return;
  out << "    streamed " << run.streamedFormat << " in packets of " << run.packetBytes
      << " bytes\n";
  PrintFraming(run.framing, run.packetBytes, out);
  out << "    states:";
  for (const StateChange& change : run.states) {
    out << "  " << StateName(change.state) << " "
        << (SUCCEEDED(change.result) ? std::string("ok") : ResultText(change.result));
  }
  out << '\n';
  PrintFigures(run.figures, out);
}

void PrintVerdict(const Verdict& verdict, std::ostream& out) {
  out << "\nVerdict\n";
  if (verdict.kx7Found) {
    out << "  class driver      " << verdict.classDriver << '\n';
    out << "  layout            " << verdict.layout << '\n';
    out << "  nearest profile   "
        << (verdict.profile.empty() ? "none (nothing streamed)" : verdict.profile) << '\n';
    for (const std::string& line : verdict.perRateProfiles) out << "    " << line << '\n';
  }
  if (!verdict.kx7Found) {
    for (const std::string& line : verdict.problems) out << "  " << line << '\n';
  } else if (verdict.problems.empty()) {
    out << "  Nothing was seen that the driver is known not to survive.\n";
  } else {
    out << "  What the driver is known not to survive:\n";
    for (const std::string& line : verdict.problems) out << "    - " << line << '\n';
  }
  if (!verdict.observations.empty()) {
    out << "  Also seen:\n";
    for (const std::string& line : verdict.observations) out << "    - " << line << '\n';
  }
}

}  // namespace

void PrintDiagnosisText(const Diagnosis& diagnosis, std::ostream& out) {
  out << "kx7-host diagnose: " << diagnosis.device << '\n';
  out << "streaming " << FixedText(diagnosis.seconds, 1) << " s at each rate with "
      << kDiagnosePacketsInFlight << " packets of " << kDiagnosePacketFrames
      << " frames in flight per pin\n\n";
  PrintFilters(diagnosis, out);
  for (const FilterDetails& details : diagnosis.kx7Filters) PrintDetails(details, out);
  for (const RateRun& run : diagnosis.runs) {
    out << "\nAt " << run.rate << " Hz (" << FixedText(run.secondsRun, 2) << " s streamed)\n";
    PrintPinRun("capture", run.capture, out);
    PrintPinRun("render", run.render, out);
    if (run.phase.known) {
      out << "  phase: capture completions " << FixedText(run.phase.ms, 3)
          << " ms after render completions on the " << FixedText(run.phase.periodMs, 3)
          << " ms grid\n";
    }
  }
  PrintVerdict(diagnosis.verdict, out);
  if (diagnosis.interrupted) out << "\nThe run was interrupted: the report covers what was done.\n";
}

}  // namespace kx7host

// The JSON form of a diagnosis. Names follow the KS records' fields; GUIDs are written as text
// with their published names beside them; every completion is one row of the log.
#include <initializer_list>

#include "host/common/JsonWriter.h"
#include "host/diagnose/DiagnosisReport.h"
#include "host/diagnose/KsText.h"

namespace kx7host {

namespace {

void Unsigned(JsonWriter& json, const char* key, uint64_t value) {
  json.Key(key);
  json.Int(static_cast<int64_t>(value));
}

void Row(JsonWriter& json, std::initializer_list<int64_t> values) {
  json.BeginRow();
  for (int64_t value : values) json.Int(value);
  json.EndRow();
}

void Guid(JsonWriter& json, const char* key, const GUID& guid) {
  json.Key(key);
  json.BeginObject();
  json.Member("guid", GuidText(guid));
  json.Member("name", GuidName(guid));
  json.EndObject();
}

void Result(JsonWriter& json, const char* key, HRESULT result) {
  json.Member(key, ResultText(result));
}

void Identifiers(JsonWriter& json, const char* key, const std::vector<KSIDENTIFIER>& items) {
  json.Key(key);
  json.BeginArray();
  for (const KSIDENTIFIER& item : items) {
    json.BeginObject();
    Guid(json, "set", item.Set);
    Unsigned(json, "id", item.Id);
    Unsigned(json, "flags", item.Flags);
    json.EndObject();
  }
  json.EndArray();
}

void Instances(JsonWriter& json, const char* key, const KSPIN_CINSTANCES& instances) {
  json.Key(key);
  json.BeginObject();
  Unsigned(json, "possible", instances.PossibleCount);
  Unsigned(json, "current", instances.CurrentCount);
  json.EndObject();
}

void DataRange(JsonWriter& json, const DataRangeListing& range) {
  json.BeginObject();
  Unsigned(json, "formatSize", range.header.FormatSize);
  Unsigned(json, "flags", range.header.Flags);
  Unsigned(json, "sampleSize", range.header.SampleSize);
  Unsigned(json, "reserved", range.header.Reserved);
  Guid(json, "majorFormat", range.header.MajorFormat);
  Guid(json, "subFormat", range.header.SubFormat);
  Guid(json, "specifier", range.header.Specifier);
  json.Member("attributesFollow", range.hasAttributes);
  if (range.isAudio) {
    json.Key("audio");
    json.BeginObject();
    Unsigned(json, "maximumChannels", range.audio.MaximumChannels);
    Unsigned(json, "minimumBitsPerSample", range.audio.MinimumBitsPerSample);
    Unsigned(json, "maximumBitsPerSample", range.audio.MaximumBitsPerSample);
    Unsigned(json, "minimumSampleFrequency", range.audio.MinimumSampleFrequency);
    Unsigned(json, "maximumSampleFrequency", range.audio.MaximumSampleFrequency);
    json.EndObject();
  }
  json.EndObject();
}

void Pin(JsonWriter& json, const PinListing& pin) {
  json.BeginObject();
  Unsigned(json, "id", pin.id);
  json.Member("name", pin.name);
  json.Member("everyQueryAnswered", pin.complete);
  Unsigned(json, "communication", pin.communication);
  json.Member("communicationName", CommunicationName(pin.communication));
  Unsigned(json, "dataFlow", pin.dataFlow);
  json.Member("dataFlowName", DataFlowName(pin.dataFlow));
  Guid(json, "category", pin.category);
  Instances(json, "instances", pin.instances);
  Instances(json, "globalInstances", pin.globalInstances);
  Identifiers(json, "interfaces", pin.interfaces);
  Identifiers(json, "mediums", pin.mediums);
  json.Key("dataRanges");
  json.BeginArray();
  for (const DataRangeListing& range : pin.dataRanges) DataRange(json, range);
  json.EndArray();
  json.EndObject();
}

void Details(JsonWriter& json, const FilterDetails& details) {
  json.BeginObject();
  json.Member("path", details.path);
  Result(json, "open", details.openResult);
  Result(json, "pinCount", details.pinsResult);
  json.Key("pins");
  json.BeginArray();
  for (const PinListing& pin : details.pins) Pin(json, pin);
  json.EndArray();
  Result(json, "nodesResult", details.nodesResult);
  json.Key("nodes");
  json.BeginArray();
  for (size_t i = 0; i < details.nodes.size(); ++i) {
    json.BeginObject();
    Unsigned(json, "id", i);
    Guid(json, "type", details.nodes[i]);
    json.EndObject();
  }
  json.EndArray();
  Result(json, "connectionsResult", details.connectionsResult);
  json.Key("connections");
  json.BeginArray();
  for (const KSTOPOLOGY_CONNECTION& connection : details.connections) {
    Row(json,
        {connection.FromNode, connection.FromNodePin, connection.ToNode, connection.ToNodePin});
  }
  json.EndArray();
  json.EndObject();
}

void Framing(JsonWriter& json, const FramingReport& framing) {
  json.Key("framing");
  json.BeginObject();
  Result(json, "allocatorFraming", framing.plainResult);
  if (SUCCEEDED(framing.plainResult)) {
    json.Key("plain");
    json.BeginObject();
    Unsigned(json, "optionsFlags", framing.plain.OptionsFlags);
    Unsigned(json, "poolType", framing.plain.PoolType);
    Unsigned(json, "frames", framing.plain.Frames);
    Unsigned(json, "frameSize", framing.plain.FrameSize);
    Unsigned(json, "fileAlignment", framing.plain.FileAlignment);
    json.EndObject();
  }
  Result(json, "allocatorFramingEx", framing.extendedResult);
  if (SUCCEEDED(framing.extendedResult)) {
    json.Key("extended");
    json.BeginObject();
    Unsigned(json, "countItems", framing.countItems);
    Unsigned(json, "pinFlags", framing.pinFlags);
    Unsigned(json, "pinWeight", framing.pinWeight);
    json.Key("outputCompression");
    Row(json, {framing.compression.RatioNumerator, framing.compression.RatioDenominator,
               framing.compression.RatioConstantMargin});
    json.Key("items");
    json.BeginArray();
    for (const KS_FRAMING_ITEM& item : framing.items) {
      json.BeginObject();
      Guid(json, "memoryType", item.MemoryType);
      Guid(json, "busType", item.BusType);
      Unsigned(json, "memoryFlags", item.MemoryFlags);
      Unsigned(json, "busFlags", item.BusFlags);
      Unsigned(json, "flags", item.Flags);
      Unsigned(json, "frames", item.Frames);
      Unsigned(json, "fileAlignment", item.FileAlignment);
      Unsigned(json, "memoryTypeWeight", item.MemoryTypeWeight);
      json.Key("physicalRange");
      Row(json, {item.PhysicalRange.MinFrameSize, item.PhysicalRange.MaxFrameSize,
                 item.PhysicalRange.Stepping});
      json.Key("framingRange");
      Row(json, {item.FramingRange.Range.MinFrameSize, item.FramingRange.Range.MaxFrameSize,
                 item.FramingRange.Range.Stepping, item.FramingRange.InPlaceWeight,
                 item.FramingRange.NotInPlaceWeight});
      json.EndObject();
    }
    json.EndArray();
    json.EndObject();
  }
  json.EndObject();
}

void Figures(JsonWriter& json, const PinFigures& figures) {
  json.Key("summary");
  json.BeginObject();
  Unsigned(json, "completions", figures.completions);
  json.Key("intervalMs");
  json.BeginObject();
  json.Member("mean", figures.intervals.meanMs);
  json.Member("p50", figures.intervals.p50Ms);
  json.Member("p99", figures.intervals.p99Ms);
  json.Member("min", figures.intervals.minMs);
  json.Member("max", figures.intervals.maxMs);
  json.EndObject();
  json.Member("histogramBinMs", kHistogramBinMs);
  json.Key("histogram");
  json.BeginArray();
  for (const HistogramBin& bin : figures.histogram) {
    json.BeginRow();
    json.Number(bin.fromMs);
    json.Int(static_cast<int64_t>(bin.count));
    json.EndRow();
  }
  json.EndArray();
  Unsigned(json, "bursts", figures.bursts);
  json.Member("packetsPerBurst", figures.packetsPerBurst);
  Unsigned(json, "largestBurst", figures.largestBurst);
  json.Member("batchingMs", figures.batchingMs);
  json.Member("onGrid", figures.onGrid);
  json.Member("spreadFrames", figures.spreadFrames);
  json.Member("completedPerNominal", figures.completedPerNominal);
  Unsigned(json, "shortPackets", figures.shortPackets);
  Unsigned(json, "emptyPackets", figures.emptyPackets);
  Unsigned(json, "failedRequests", figures.failedRequests);
  Unsigned(json, "timeValid", figures.timeValid);
  Unsigned(json, "durationValid", figures.durationValid);
  Unsigned(json, "dryGaps", figures.gaps);
  Unsigned(json, "framesLost", figures.framesLost);
  json.EndObject();
}

void Log(JsonWriter& json, const std::vector<CompletionRecord>& log) {
  json.Key("logFields");
  json.BeginRow();
  for (const char* field : {"timeUs", "packet", "dataUsed", "optionsFlags", "presentationTime",
                            "numerator", "denominator", "duration", "error"}) {
    json.String(field);
  }
  json.EndRow();
  json.Key("log");
  json.BeginArray();
  for (const CompletionRecord& record : log) {
    json.BeginRow();
    json.Number(static_cast<double>(record.timeNs) / 1000.0);
    for (int64_t value :
         {int64_t{record.packet}, int64_t{record.dataUsed}, int64_t{record.optionsFlags},
          record.presentationTime, int64_t{record.numerator}, int64_t{record.denominator},
          record.duration, int64_t{record.error}}) {
      json.Int(value);
    }
    json.EndRow();
  }
  json.EndArray();
}

void PinRunJson(JsonWriter& json, const char* key, const PinRun& run, bool withLogs) {
  json.Key(key);
  json.BeginObject();
  json.Member("filterFound", run.filterFound);
  json.Key("formats");
  json.BeginArray();
  for (const FormatTrial& trial : run.trials) {
    json.BeginObject();
    json.Member("format", trial.format);
    json.Member("created", SUCCEEDED(trial.result));
    Result(json, "result", trial.result);
    json.EndObject();
  }
  json.EndArray();
  json.Member("busy", run.busy);
  json.Member("streamedFormat", run.streamedFormat);
  json.Member("problem", run.problem);
  if (!run.streamedFormat.empty()) Framing(json, run.framing);
  json.Key("states");
  json.BeginArray();
  for (const StateChange& change : run.states) {
    json.BeginObject();
    json.Member("state", StateName(change.state));
    Result(json, "result", change.result);
    json.EndObject();
  }
  json.EndArray();
  Unsigned(json, "packetBytes", run.packetBytes);
  Figures(json, run.figures);
  Unsigned(json, "unlogged", run.unlogged);
  if (withLogs) Log(json, run.log);
  json.EndObject();
}

void VerdictJson(JsonWriter& json, const Verdict& verdict) {
  json.Key("verdict");
  json.BeginObject();
  json.Member("kx7Found", verdict.kx7Found);
  json.Member("layout", verdict.layout);
  json.Member("classDriver", verdict.classDriver);
  json.Member("profile", verdict.profile);
  for (const auto& [key, lines] : {std::make_pair("perRateProfiles", &verdict.perRateProfiles),
                                   std::make_pair("problems", &verdict.problems),
                                   std::make_pair("observations", &verdict.observations)}) {
    json.Key(key);
    json.BeginArray();
    for (const std::string& line : *lines) json.String(line);
    json.EndArray();
  }
  json.EndObject();
}

}  // namespace

void PrintDiagnosisJson(const Diagnosis& diagnosis, bool withLogs, std::ostream& out) {
  JsonWriter json(out);
  json.BeginObject();
  json.Member("command", "kx7-host diagnose");
  json.Member("device", diagnosis.device);
  json.Member("seconds", diagnosis.seconds);
  json.Key("rates");
  json.BeginRow();
  for (uint32_t rate : diagnosis.rates) json.Int(rate);
  json.EndRow();
  Unsigned(json, "packetFrames", kDiagnosePacketFrames);
  Unsigned(json, "packetsInFlight", kDiagnosePacketsInFlight);
  json.Member("interrupted", diagnosis.interrupted);
  VerdictJson(json, diagnosis.verdict);
  json.Key("filters");
  json.BeginArray();
  for (const FilterListing& filter : diagnosis.filters) {
    json.BeginObject();
    json.Member("path", filter.path);
    json.Member("friendlyName", filter.friendlyName);
    json.Key("aliases");
    json.BeginObject();
    json.Member("render", filter.render);
    json.Member("capture", filter.capture);
    json.Member("realtime", filter.realtime);
    json.Member("topology", filter.topology);
    json.EndObject();
    json.Member("kx7", filter.kx7);
    json.Member("pickedForCapture", filter.pickedForCapture);
    json.Member("pickedForRender", filter.pickedForRender);
    json.Member("why", filter.why);
    json.EndObject();
  }
  json.EndArray();
  json.Key("kx7Filters");
  json.BeginArray();
  for (const FilterDetails& details : diagnosis.kx7Filters) Details(json, details);
  json.EndArray();
  json.Key("runs");
  json.BeginArray();
  for (const RateRun& run : diagnosis.runs) {
    json.BeginObject();
    Unsigned(json, "rate", run.rate);
    json.Member("secondsRun", run.secondsRun);
    PinRunJson(json, "capture", run.capture, withLogs);
    PinRunJson(json, "render", run.render, withLogs);
    json.Key("phase");
    json.BeginObject();
    json.Member("known", run.phase.known);
    json.Member("periodMs", run.phase.periodMs);
    json.Member("captureAfterRenderMs", run.phase.ms);
    json.EndObject();
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  out << '\n';
}

}  // namespace kx7host

// What one run of `kx7-host diagnose` found: the machine's KS audio filters and which the driver
// would pick, the KX-7's filters pin by pin, at each rate the pins' creation, framing, state
// changes and completion log with their figures, and the verdict drawn from all of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/diagnose/CompletionFigures.h"
#include "platform/ks.h"

namespace kx7host {

// One KS audio filter of the machine.
struct FilterListing {
  std::string path;
  std::string friendlyName;
  // The aliases it is registered, and enabled, under besides KSCATEGORY_AUDIO.
  bool render = false;
  bool capture = false;
  bool realtime = false;
  bool topology = false;
  bool kx7 = false;  // its path holds the KX-7's hardware ID
  bool pickedForCapture = false;
  bool pickedForRender = false;
  std::string why;  // why the driver picks it, or passes it over
};

struct DataRangeListing {
  KSDATARANGE header = {};
  bool hasAttributes = false;  // an attribute list follows it
  bool isAudio = false;        // a KSDATARANGE_AUDIO: the fields of `audio` are its own
  KSDATARANGE_AUDIO audio = {};
};

struct PinListing {
  ULONG id = 0;
  bool complete = false;  // every descriptor query was answered
  ULONG communication = 0;
  ULONG dataFlow = 0;
  std::vector<KSPIN_INTERFACE> interfaces;
  std::vector<KSPIN_MEDIUM> mediums;
  KSPIN_CINSTANCES instances = {};
  KSPIN_CINSTANCES globalInstances = {};
  GUID category = {};
  std::string name;
  std::vector<DataRangeListing> dataRanges;
};

// A filter of the KX-7 opened and read as it is.
struct FilterDetails {
  std::string path;
  HRESULT openResult = E_FAIL;
  HRESULT pinsResult = E_FAIL;
  std::vector<PinListing> pins;
  HRESULT nodesResult = E_FAIL;
  std::vector<GUID> nodes;
  HRESULT connectionsResult = E_FAIL;
  std::vector<KSTOPOLOGY_CONNECTION> connections;
};

// One try at creating a pin with a format, closed again at once.
struct FormatTrial {
  std::string format;  // "extensible 24-bit", "PCM 24-bit", "extensible 24-in-32"
  HRESULT result = E_FAIL;
};

// What a created pin says about its buffer framing.
struct FramingReport {
  HRESULT plainResult = E_FAIL;
  KSALLOCATOR_FRAMING plain = {};
  HRESULT extendedResult = E_FAIL;
  ULONG countItems = 0;  // as the pin stated it
  ULONG pinFlags = 0;
  ULONG pinWeight = 0;
  KS_COMPRESSION compression = {};
  std::vector<KS_FRAMING_ITEM> items;  // those that lie wholly inside the reply
};

struct StateChange {
  ULONG state = 0;
  HRESULT result = E_FAIL;
};

// One pin at one rate.
struct PinRun {
  bool filterFound = false;  // the driver finds a filter for the direction
  std::vector<FormatTrial> trials;
  std::string streamedFormat;  // empty when the pin did not stream
  std::string problem;         // why it did not stream, or ended early
  bool busy = false;           // another application holds the pin
  FramingReport framing;
  std::vector<StateChange> states;
  uint32_t packetBytes = 0;
  std::vector<CompletionRecord> log;
  uint64_t unlogged = 0;  // completions the log had no room for
  PinFigures figures;
};

struct RateRun {
  uint32_t rate = 0;
  double secondsRun = 0.0;
  PinRun capture;
  PinRun render;
  PhaseFigures phase;
};

struct Verdict {
  bool kx7Found = false;
  // "single-filter" (the USB audio class 1.0 driver's registration), "two-filter", "uac2", or
  // "incomplete" when only one direction is there.
  std::string layout;
  std::string classDriver;
  // The virtual KX-7's timing profile nearest to what was seen ("" when nothing streamed),
  // with the same name for each rate and pin.
  std::string profile;
  std::vector<std::string> perRateProfiles;  // "48000 Hz render: usb-1ms", ...
  std::vector<std::string> problems;         // what the driver is known not to survive
  std::vector<std::string> observations;     // what else is worth knowing
};

struct Diagnosis {
  std::string device;  // what was diagnosed
  double seconds = 0.0;
  std::vector<uint32_t> rates;
  std::vector<FilterListing> filters;
  std::vector<FilterDetails> kx7Filters;
  std::vector<RateRun> runs;
  Verdict verdict;
  bool interrupted = false;
};

}  // namespace kx7host

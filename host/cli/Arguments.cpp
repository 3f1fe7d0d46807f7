#include "host/cli/Arguments.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <utility>

#include "host/common/DeviceUnderTest.h"

namespace kx7host {

namespace {

ParsedArguments Refuse(std::string error) {
  ParsedArguments parsed;
  parsed.error = std::move(error);
  return parsed;
}

ParsedArguments Accept(HostCommand command) {
  ParsedArguments parsed;
  parsed.ok = true;
  parsed.command = std::move(command);
  return parsed;
}

// A whole decimal number within (low, high]; false for text around it, NaN or out of range.
bool ParseNumber(const std::string& text, double low, double high, double* value) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  char* end = nullptr;
  const double parsed = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(parsed)) return false;
  if (!(parsed > low && parsed <= high)) return false;
  *value = parsed;
  return true;
}

bool ParseInteger(const std::string& text, long low, long high, long* value) {
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-')) {
    return false;
  }
  errno = 0;
  char* end = nullptr;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size()) return false;
  if (parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

// The comma-separated items of a list value ("a,b,c"; empty items included).
std::vector<std::string> SplitList(const std::string& value) {
  std::vector<std::string> items;
  size_t start = 0;
  while (true) {
    const size_t comma = value.find(',', start);
    items.push_back(value.substr(start, comma - start));
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

// One option a command takes: "--name" alone (a flag), or "--name VALUE" and "--name=VALUE".
// `take` stores the value and returns why it is refused, or nothing.
struct Option {
  std::string name;
  bool flag = false;
  std::function<std::string(const std::string& value)> take;
};
using Options = std::vector<Option>;

std::string Refused(const std::string& name, const std::string& value, const char* what) {
  return name + " '" + value + "' " + what;
}

// Reads args[1..] against the command's options; returns why they are refused, or nothing.
std::string ParseOptions(const std::vector<std::string>& args, const Options& options) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const Option* option = nullptr;
    std::string value;
    for (const Option& candidate : options) {
      const std::string& name = candidate.name;
      if (arg == name) {
        option = &candidate;
        if (candidate.flag) break;
        if (i + 1 >= args.size()) return name + " needs a value";
        value = args[++i];
        break;
      }
      if (!candidate.flag && arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
          arg[name.size()] == '=') {
        option = &candidate;
        value = arg.substr(name.size() + 1);
        break;
      }
    }
    if (option == nullptr) return "unexpected argument '" + arg + "'";
    const std::string why = option->take(value);
    if (!why.empty()) return why;
  }
  return {};
}

void Add(Options& to, Options more) {
  for (Option& option : more) to.push_back(std::move(option));
}

Option JsonOption(bool* json) {
  return {"--json", true, [json](const std::string&) {
            *json = true;
            return std::string();
          }};
}

// --driver NAME, once.
Option DriverOption(std::string* driverName) {
  return {"--driver", false, [driverName, given = false](const std::string& value) mutable {
            if (value.empty()) return std::string("the driver name is empty");
            if (given) return std::string("--driver given twice");
            given = true;
            *driverName = value;
            return std::string();
          }};
}

// --seconds S: above 0, at most `most`.
Option SecondsOption(double* seconds, int most) {
  return {"--seconds", false, [seconds, most](const std::string& value) {
            if (ParseNumber(value, 0.0, most, seconds)) return std::string();
            return Refused(
                "--seconds", value,
                ("is not a duration in seconds (above 0, at most " + std::to_string(most) + ")")
                    .c_str());
          }};
}

// --buffer N and --rate R.
Options BufferAndRateOptions(int32_t* bufferSize, double* sampleRate) {
  return {{"--buffer", false,
           [bufferSize](const std::string& value) {
             long frames = 0;
             if (!ParseInteger(value, 1, 1L << 20, &frames)) {
               return Refused("--buffer", value, "is not a buffer size in frames");
             }
             *bufferSize = static_cast<int32_t>(frames);
             return std::string();
           }},
          {"--rate", false, [sampleRate](const std::string& value) {
             if (ParseNumber(value, 0.0, 1e7, sampleRate)) return std::string();
             return Refused("--rate", value, "is not a sample rate in Hz");
           }}};
}

// A file name that may not be empty.
Option PathOption(const char* name, const char* what, std::string* path) {
  return {name, false, [path, what](const std::string& value) {
            if (value.empty()) return std::string("the ") + what + " file name is empty";
            *path = value;
            return std::string();
          }};
}

// --device-profile NAME and --device-scenario NAME[,NAME...], where the host plugs the virtual
// KX-7 itself.
Options DeviceOptionsOf(DeviceOptions* device) {
  if (!kHasVirtualDevice) return {};
  return {{"--device-profile", false,
           [device](const std::string& value) {
             if (!IsDeviceProfile(value)) {
               return "--device-profile '" + value + "' is not a timing profile";
             }
             device->profile = value;
             return std::string();
           }},
          {"--device-scenario", false, [device](const std::string& value) {
             for (const std::string& name : SplitList(value)) {
               if (!IsDeviceScenario(name))
                 return "--device-scenario '" + name + "' is not a scenario";
               device->scenarios.push_back(name);
             }
             return std::string();
           }}};
}

// The channel count of --inputs and --outputs: 0, 1 or 2.
Option ChannelsOption(const char* name, int* channels) {
  return {name, false, [name, channels](const std::string& value) {
            long count = 0;
            if (!ParseInteger(value, 0, 2, &count)) {
              return Refused(name, value, "is not 0, 1 or 2 channels");
            }
            *channels = static_cast<int>(count);
            return std::string();
          }};
}

Options StreamOnlyOptions(StreamOptions& o, bool* toneGiven) {
  Options options = {
      {"--callback-load", false,
       [&o](const std::string& value) {
         if (ParseNumber(value, -1.0, 100.0, &o.callbackLoad) && o.callbackLoad >= 0)
           return std::string();
         return Refused("--callback-load", value,
                        "is not a share of the buffer period in percent (0 to 100)");
       }},
      SecondsOption(&o.seconds, 86400),
      ChannelsOption("--inputs", &o.inputs),
      ChannelsOption("--outputs", &o.outputs),
      {"--tone", false,
       [&o, toneGiven](const std::string& value) {
         if (!ParseNumber(value, 0.0, 1e6, &o.toneHz)) {
           return Refused("--tone", value, "is not a frequency in Hz");
         }
         *toneGiven = true;
         return std::string();
       }},
      PathOption("--wav", "WAV", &o.wavPath),
      PathOption("--record", "record", &o.recordPath),
      {"--bits", false,
       [&o](const std::string& value) {
         if (value != "24" && value != "32") return Refused("--bits", value, "is not 24 or 32");
         o.recordBits = value == "24" ? 24 : 32;
         return std::string();
       }},
  };
  if (kHasVirtualDevice) {
    options.push_back({"--device", false, [&o](const std::string& value) {
                         if (value == "loopback") {
                           o.microphone = MicrophoneKind::kLoopback;
                         } else if (value == "tone") {
                           o.microphone = MicrophoneKind::kTone;
                         } else if (value == "silence") {
                           o.microphone = MicrophoneKind::kSilence;
                         } else {
                           return Refused("--device", value, "is not loopback, tone or silence");
                         }
                         return std::string();
                       }});
  }
  return options;
}

// register LIBRARY / unregister LIBRARY
ParsedArguments ParseLibraryCommand(const std::vector<std::string>& args, bool registering) {
  if (args.size() < 2) return Refuse(args[0] + ": the driver library is missing");
  if (args.size() > 2) return Refuse(args[0] + ": unexpected argument '" + args[2] + "'");
  if (args[1].empty()) return Refuse(args[0] + ": the driver library name is empty");
  return Accept(RegisterOptions{args[1], registering});
}

// probe [--driver NAME | --driver=NAME] [--json]
ParsedArguments ParseProbe(const std::vector<std::string>& args) {
  ProbeOptions probe;
  const std::string why =
      ParseOptions(args, {JsonOption(&probe.json), DriverOption(&probe.driverName)});
  return why.empty() ? Accept(probe) : Refuse("probe: " + why);
}

// stream [--seconds S] [--buffer N] [--rate R] [--inputs N] [--outputs M]
//        [--tone HZ | --wav FILE] [--record FILE] [--bits 24|32] [--callback-load PERCENT]
//        [--device loopback|tone|silence] [--driver NAME] [--json]
//        and, on Linux, [--device-profile NAME] [--device-scenario NAME[,NAME...]]
ParsedArguments ParseStream(const std::vector<std::string>& args) {
  StreamOptions stream;
  bool toneGiven = false;
  Options options = {JsonOption(&stream.json), DriverOption(&stream.driverName)};
  Add(options, BufferAndRateOptions(&stream.bufferSize, &stream.sampleRate));
  Add(options, StreamOnlyOptions(stream, &toneGiven));
  Add(options, DeviceOptionsOf(&stream.device));
  const std::string why = ParseOptions(args, options);
  if (!why.empty()) return Refuse("stream: " + why);
  if (toneGiven && !stream.wavPath.empty()) {
    return Refuse("stream: --tone and --wav exclude each other");
  }
  if (stream.inputs == 0 && stream.outputs == 0) {
    return Refuse("stream: --inputs 0 and --outputs 0 leave nothing to stream");
  }
  if (stream.inputs == 0 && !stream.recordPath.empty()) {
    return Refuse("stream: --record needs at least one input");
  }
  return Accept(stream);
}

// latency [--buffer N] [--rate R] [--driver NAME] [--json]
//         and, on Linux, [--device-profile NAME] [--device-scenario NAME[,NAME...]]
ParsedArguments ParseLatency(const std::vector<std::string>& args) {
  LatencyOptions latency;
  Options options = {JsonOption(&latency.json), DriverOption(&latency.driverName)};
  Add(options, BufferAndRateOptions(&latency.bufferSize, &latency.sampleRate));
  Add(options, DeviceOptionsOf(&latency.device));
  const std::string why = ParseOptions(args, options);
  return why.empty() ? Accept(latency) : Refuse("latency: " + why);
}

// diagnose [--seconds S] [--rates R[,R...]] [--out FILE] [--json]
//          and, on Linux, [--device-profile NAME] [--device-scenario NAME[,NAME...]]
ParsedArguments ParseDiagnose(const std::vector<std::string>& args) {
  DiagnoseOptions diagnose;
  Options options = {
      JsonOption(&diagnose.json),
      SecondsOption(&diagnose.seconds, 3600),
      {"--rates", false,
       [&diagnose](const std::string& value) {
         diagnose.rates.clear();
         for (const std::string& item : SplitList(value)) {
           long rate = 0;
           if (!ParseInteger(item, 8000, 384000, &rate)) {
             return Refused("--rates", item, "is not a sample rate in Hz (8000 to 384000)");
           }
           diagnose.rates.push_back(static_cast<uint32_t>(rate));
         }
         return std::string();
       }},
      PathOption("--out", "output", &diagnose.outPath),
  };
  Add(options, DeviceOptionsOf(&diagnose.device));
  const std::string why = ParseOptions(args, options);
  return why.empty() ? Accept(diagnose) : Refuse("diagnose: " + why);
}

// A command that takes no argument at all.
ParsedArguments ParseBare(const std::vector<std::string>& args, const char* name,
                          HostCommand command) {
  if (args.size() > 1) return Refuse(name + (": unexpected argument '" + args[1] + "'"));
  return Accept(std::move(command));
}

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::string>& args) {
  if (args.empty()) return Refuse("no command given");
  const std::string& name = args[0];
  if (name == "help" || name == "--help" || name == "-h")
    return ParseBare(args, "help", HelpOptions{});
  if (name == "list") return ParseBare(args, "list", ListOptions{});
  if (name == "register") return ParseLibraryCommand(args, true);
  if (name == "unregister") return ParseLibraryCommand(args, false);
  if (name == "probe") return ParseProbe(args);
  if (name == "stream") return ParseStream(args);
  if (name == "latency") return ParseLatency(args);
  if (name == "diagnose") return ParseDiagnose(args);
  return Refuse("unknown command '" + name + "'");
}

const char* UsageText() {
  return "usage: kx7-host COMMAND [OPTIONS]\n"
         "  register LIBRARY    call the library's DllRegisterServer\n"
         "  unregister LIBRARY  call the library's DllUnregisterServer\n"
         "  list                list the ASIO drivers under HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\n"
         "  probe [--driver NAME] [--json]\n"
         "                      create a driver as a host does and print what it answers\n"
         "  stream [--seconds S] [--buffer N] [--rate R] [--inputs N] [--outputs M]\n"
         "         [--tone HZ | --wav FILE] [--record FILE [--bits 24|32]]"
         " [--callback-load PERCENT]"
#ifndef _WIN32
         " [--device loopback|tone|silence]"
#endif
         " [--driver NAME] [--json]\n"
         "                      stream through inputs and outputs (default 5 s, 2 inputs,\n"
         "                      2 outputs, the driver's buffer size and rate, a 1000 Hz\n"
         "                      tone), record the inputs to a WAV file and report the timing;\n"
         "                      --inputs and --outputs take 0 to 2, not both 0;\n"
         "                      --callback-load busy-waits that share of each buffer period\n"
         "                      in the callback before it fills its outputs\n"
#ifndef _WIN32
         "                      --device picks the virtual KX-7's microphone (loopback)\n"
#endif
         "  latency [--buffer N] [--rate R] [--driver NAME] [--json]\n"
         "                      play clicks on output L, find them in the input and report\n"
         "                      the round trip beside the driver's reported latencies\n"
#ifndef _WIN32
         "  stream and latency also take [--device-profile P] [--device-scenario S[,S...]]:\n"
         "                      the virtual KX-7's completion timing P (ideal, usb-1ms, urb-Nms,\n"
         "                      jitter[-N]; ideal by default) and real USB stack behaviours S\n"
         "                      (two-filter, uac2, strict-headers, zero-first-reads,\n"
         "                      pending-properties, no-bandwidth, pin-in-use) or events of its\n"
         "                      life a third of the way into the run (unplug, replug: back\n"
         "                      2 s later, suspend: 3 s, suspend-reenumerate, empty-reads,\n"
         "                      taken-between-runs: held 2 s after the first stop)\n"
#endif
         "  diagnose [--seconds S] [--rates R[,R...]] [--out FILE] [--json]"
#ifndef _WIN32
         " [--device-profile P]\n"
         "           [--device-scenario S[,S...]]"
#endif
         "\n"
         "                      below the driver: list the KS audio filters, read the KX-7's\n"
         "                      pins and stream them raw for S seconds (2) at each rate (44100,\n"
         "                      48000, 88200, 96000); the whole log goes to FILE\n"
         "                      (kx7-diagnose.json), the report to standard output\n"
         "  --driver picks a driver by key name (default: the KX-7); --json prints one JSON "
         "object\n"
         "exit status: 0 done, 1 failed (no driver, creation, registration or streaming failed), "
         "2 bad arguments (also a rate, buffer size or file the driver or the host cannot use)\n";
}

}  // namespace kx7host

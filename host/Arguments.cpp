#include "host/Arguments.h"

#include "host/DeviceUnderTest.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <utility>

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

// register LIBRARY / unregister LIBRARY
ParsedArguments ParseLibraryCommand(const std::vector<std::string>& args, CommandKind kind) {
  if (args.size() < 2) return Refuse(args[0] + ": the driver library is missing");
  if (args.size() > 2) return Refuse(args[0] + ": unexpected argument '" + args[2] + "'");
  if (args[1].empty()) return Refuse(args[0] + ": the driver library name is empty");
  HostCommand command;
  command.kind = kind;
  command.library = args[1];
  return Accept(command);
}

// An option's value, from "--name VALUE" or "--name=VALUE". Moves `i` past what it used.
// `matched` tells whether the argument is that option; `error` is set when its value is missing.
void TakeValue(const std::vector<std::string>& args, size_t& i, const std::string& name,
               std::string* value, bool* matched, std::string* error) {
  const std::string& arg = args[i];
  *matched = false;
  if (arg == name) {
    *matched = true;
    if (i + 1 >= args.size()) {
      *error = name + " needs a value";
      return;
    }
    *value = args[++i];
    return;
  }
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
      arg[name.size()] == '=') {
    *matched = true;
    *value = arg.substr(name.size() + 1);
  }
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

// --device-profile NAME and --device-scenario NAME[,NAME...], where the host plugs the virtual
// KX-7 itself. True when args[i] is one of them; `error` says why its value is refused.
bool TakeDeviceOption(const std::vector<std::string>& args, size_t& i, StreamOptions* options,
                      std::string* error) {
  if (!kHasVirtualDevice) return false;
  std::string value;
  bool matched = false;
  TakeValue(args, i, "--device-profile", &value, &matched, error);
  if (matched) {
    if (error->empty() && !IsDeviceProfile(value)) {
      *error = "--device-profile '" + value + "' is not a timing profile";
    }
    if (error->empty()) options->deviceProfile = value;
    return true;
  }
  TakeValue(args, i, "--device-scenario", &value, &matched, error);
  if (!matched || !error->empty()) return matched;
  for (const std::string& name : SplitList(value)) {
    if (!IsDeviceScenario(name)) {
      *error = "--device-scenario '" + name + "' is not a scenario";
      return true;
    }
    options->deviceScenarios.push_back(name);
  }
  return true;
}

// probe [--driver NAME | --driver=NAME] [--json]
// stream [--seconds S] [--buffer N] [--rate R] [--inputs N] [--outputs M]
//        [--tone HZ | --wav FILE] [--record FILE] [--bits 24|32] [--callback-load PERCENT]
//        [--device loopback|tone|silence] [--driver NAME] [--json]
// latency [--buffer N] [--rate R] [--driver NAME] [--json]
// stream and latency, on Linux: [--device-profile NAME] [--device-scenario NAME[,NAME...]]
ParsedArguments ParseDriverCommand(const std::vector<std::string>& args, CommandKind kind) {
  const std::string& command = args[0];
  HostCommand result;
  result.kind = kind;
  StreamOptions& options = result.stream;
  const bool streams = kind != CommandKind::kProbe;
  const bool full = kind == CommandKind::kStream;
  bool driverGiven = false, toneGiven = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string arg = args[i];
    if (arg == "--json") {
      result.json = true;
      continue;
    }
    std::string value, error;
    bool matched = false;
    auto option = [&](const char* name) {
      TakeValue(args, i, name, &value, &matched, &error);
      return matched;
    };
    auto refuseValue = [&](const char* what) {
      return Refuse(command + ": " + arg.substr(0, arg.find('=')) + " '" + value + "' " + what);
    };
    if (option("--driver")) {
      if (!error.empty()) return Refuse(command + ": " + error);
      if (value.empty()) return Refuse(command + ": the driver name is empty");
      if (driverGiven) return Refuse(command + ": --driver given twice");
      driverGiven = true;
      result.driverName = value;
      continue;
    }
    if (streams && option("--buffer")) {
      if (!error.empty()) return Refuse(command + ": " + error);
      long frames = 0;
      if (!ParseInteger(value, 1, 1L << 20, &frames)) {
        return refuseValue("is not a buffer size in frames");
      }
      options.bufferSize = static_cast<int32_t>(frames);
      continue;
    }
    if (streams && option("--rate")) {
      if (!error.empty()) return Refuse(command + ": " + error);
      if (!ParseNumber(value, 0.0, 1e7, &options.sampleRate)) {
        return refuseValue("is not a sample rate in Hz");
      }
      continue;
    }
    if (kind == CommandKind::kStream && option("--callback-load")) {
      if (!error.empty()) return Refuse(command + ": " + error);
      if (!ParseNumber(value, -1.0, 100.0, &options.callbackLoad) || options.callbackLoad < 0) {
        return refuseValue("is not a share of the buffer period in percent (0 to 100)");
      }
      continue;
    }
    if (full && option("--seconds")) {
      if (!error.empty()) return Refuse(command + ": " + error);
      if (!ParseNumber(value, 0.0, 86400.0, &options.seconds)) {
        return refuseValue("is not a duration in seconds (above 0, at most 86400)");
      }
      continue;
    }
    int* channels = nullptr;
    if (full && option("--inputs")) {
      channels = &options.inputs;
    } else if (full && option("--outputs")) {
      channels = &options.outputs;
    }
    if (channels != nullptr) {
      if (!error.empty()) return Refuse(command + ": " + error);
      long count = 0;
      if (!ParseInteger(value, 0, 2, &count)) return refuseValue("is not 0, 1 or 2 channels");
      *channels = static_cast<int>(count);
      continue;
    }
    if (full && option("--tone")) {
      if (!error.empty()) return Refuse(command + ": " + error);
      if (!ParseNumber(value, 0.0, 1e6, &options.toneHz)) {
        return refuseValue("is not a frequency in Hz");
      }
      toneGiven = true;
      continue;
    }
    if (full && option("--wav")) {
      if (!error.empty()) return Refuse(command + ": " + error);
      if (value.empty()) return Refuse(command + ": the WAV file name is empty");
      options.wavPath = value;
      continue;
    }
    if (full && option("--record")) {
      if (!error.empty()) return Refuse(command + ": " + error);
      if (value.empty()) return Refuse(command + ": the record file name is empty");
      options.recordPath = value;
      continue;
    }
    if (full && option("--bits")) {
      if (!error.empty()) return Refuse(command + ": " + error);
      if (value != "24" && value != "32") return refuseValue("is not 24 or 32");
      options.recordBits = value == "24" ? 24 : 32;
      continue;
    }
    if (streams && TakeDeviceOption(args, i, &options, &error)) {
      if (!error.empty()) return Refuse(command + ": " + error);
      continue;
    }
    if (full && kHasVirtualDevice && option("--device")) {
      if (!error.empty()) return Refuse(command + ": " + error);
      if (value == "loopback") {
        options.microphone = MicrophoneKind::kLoopback;
      } else if (value == "tone") {
        options.microphone = MicrophoneKind::kTone;
      } else if (value == "silence") {
        options.microphone = MicrophoneKind::kSilence;
      } else {
        return refuseValue("is not loopback, tone or silence");
      }
      continue;
    }
    return Refuse(command + ": unexpected argument '" + arg + "'");
  }
  if (toneGiven && !options.wavPath.empty()) {
    return Refuse(command + ": --tone and --wav exclude each other");
  }
  if (options.inputs == 0 && options.outputs == 0) {
    return Refuse(command + ": --inputs 0 and --outputs 0 leave nothing to stream");
  }
  if (options.inputs == 0 && !options.recordPath.empty()) {
    return Refuse(command + ": --record needs at least one input");
  }
  return Accept(result);
}

// diagnose [--seconds S] [--rates R[,R...]] [--out FILE] [--json]
//          and, on Linux, [--device-profile NAME] [--device-scenario NAME[,NAME...]]
ParsedArguments ParseDiagnoseCommand(const std::vector<std::string>& args) {
  HostCommand result;
  result.kind = CommandKind::kDiagnose;
  DiagnoseArguments& options = result.diagnose;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string arg = args[i];
    if (arg == "--json") {
      result.json = true;
      continue;
    }
    std::string value, error;
    bool matched = false;
    auto option = [&](const char* name) {
      TakeValue(args, i, name, &value, &matched, &error);
      return matched;
    };
    if (option("--seconds")) {
      if (!error.empty()) return Refuse("diagnose: " + error);
      if (!ParseNumber(value, 0.0, 3600.0, &options.seconds)) {
        return Refuse("diagnose: --seconds '" + value +
                      "' is not a duration in seconds (above 0, at most 3600)");
      }
      continue;
    }
    if (option("--rates")) {
      if (!error.empty()) return Refuse("diagnose: " + error);
      options.rates.clear();
      for (const std::string& item : SplitList(value)) {
        long rate = 0;
        if (!ParseInteger(item, 8000, 384000, &rate)) {
          return Refuse("diagnose: --rates '" + item +
                        "' is not a sample rate in Hz (8000 to 384000)");
        }
        options.rates.push_back(static_cast<uint32_t>(rate));
      }
      continue;
    }
    if (option("--out")) {
      if (!error.empty()) return Refuse("diagnose: " + error);
      if (value.empty()) return Refuse("diagnose: the output file name is empty");
      options.outPath = value;
      continue;
    }
    if (TakeDeviceOption(args, i, &result.stream, &error)) {
      if (!error.empty()) return Refuse("diagnose: " + error);
      continue;
    }
    return Refuse("diagnose: unexpected argument '" + arg + "'");
  }
  return Accept(result);
}

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::string>& args) {
  if (args.empty()) return Refuse("no command given");
  const std::string& name = args[0];
  if (name == "help" || name == "--help" || name == "-h") {
    if (args.size() > 1) return Refuse("help: unexpected argument '" + args[1] + "'");
    return Accept(HostCommand{});
  }
  if (name == "register") return ParseLibraryCommand(args, CommandKind::kRegister);
  if (name == "unregister") return ParseLibraryCommand(args, CommandKind::kUnregister);
  if (name == "probe") return ParseDriverCommand(args, CommandKind::kProbe);
  if (name == "stream") return ParseDriverCommand(args, CommandKind::kStream);
  if (name == "latency") return ParseDriverCommand(args, CommandKind::kLatency);
  if (name == "diagnose") return ParseDiagnoseCommand(args);
  if (name == "list") {
    if (args.size() > 1) return Refuse("list: unexpected argument '" + args[1] + "'");
    HostCommand command;
    command.kind = CommandKind::kList;
    return Accept(command);
  }
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

// kx7-host's command line: which command to run, with the options of that command.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "host/diagnose/DiagnoseCommand.h"
#include "host/session/SessionCommands.h"
#include "host/stream/StreamCommands.h"

namespace kx7host {

// help: the usage text.
struct HelpOptions {};

// One command with its options; each room's Run takes its own.
using HostCommand = std::variant<HelpOptions, RegisterOptions, ListOptions, ProbeOptions,
                                 StreamOptions, LatencyOptions, DiagnoseOptions>;

struct ParsedArguments {
  bool ok = false;
  HostCommand command;
  std::string error;  // why the arguments were refused, when !ok
};

// Parses the arguments that follow the program name.
ParsedArguments ParseArguments(const std::vector<std::string>& args);

// The usage text, ending with a newline.
const char* UsageText();

}  // namespace kx7host

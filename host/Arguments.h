// kx7-host's command line: which command to run and its options.
#pragma once

#include <string>
#include <vector>

namespace kx7host {

enum class CommandKind { kHelp, kRegister, kUnregister, kList, kProbe };

struct HostCommand {
  CommandKind kind = CommandKind::kHelp;
  std::string library;     // register, unregister: the driver library to load
  std::string driverName;  // probe --driver: key name under SOFTWARE\ASIO; empty picks the default
  bool json = false;       // probe --json
};

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

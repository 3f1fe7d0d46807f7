// Dispatch from the parsed command line to the command that runs.
#include "host/cli/Commands.h"

namespace kx7host {

namespace {

int Run(const HelpOptions&, std::ostream& out, std::ostream&) {
  out << UsageText();
  return kExitOk;
}

}  // namespace

int RunHost(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const ParsedArguments parsed = ParseArguments(args);
  if (!parsed.ok) {
    err << "kx7-host: " << parsed.error << '\n' << UsageText();
    return kExitUsage;
  }
  return std::visit([&](const auto& options) { return Run(options, out, err); }, parsed.command);
}

}  // namespace kx7host

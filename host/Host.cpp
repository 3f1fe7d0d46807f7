// Dispatch from the parsed command line to the command that runs.
#include "host/Commands.h"

namespace kx7host {

int RunHost(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const ParsedArguments parsed = ParseArguments(args);
  if (!parsed.ok) {
    err << "kx7-host: " << parsed.error << '\n' << UsageText();
    return kExitUsage;
  }
  const HostCommand& command = parsed.command;
  switch (command.kind) {
    case CommandKind::kHelp:
      out << UsageText();
      return kExitOk;
    case CommandKind::kRegister:
      return RunRegistration(command.library, true, out, err);
    case CommandKind::kUnregister:
      return RunRegistration(command.library, false, out, err);
    case CommandKind::kList:
      return RunList(out, err);
    case CommandKind::kProbe:
      return RunProbe(command, out, err);
    case CommandKind::kStream:
      return RunStream(command, out, err);
    case CommandKind::kLatency:
      return RunLatency(command, out, err);
    case CommandKind::kDiagnose:
      return RunDiagnose(command, out, err);
  }
  return kExitUsage;
}

}  // namespace kx7host

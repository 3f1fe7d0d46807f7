#include "host/Arguments.h"

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

// probe [--driver NAME | --driver=NAME] [--json]
ParsedArguments ParseProbe(const std::vector<std::string>& args) {
  HostCommand command;
  command.kind = CommandKind::kProbe;
  bool driverGiven = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string name;
    if (arg == "--json") {
      command.json = true;
      continue;
    } else if (arg == "--driver") {
      if (i + 1 >= args.size()) return Refuse("probe: --driver needs a driver name");
      name = args[++i];
    } else if (arg.rfind("--driver=", 0) == 0) {
      name = arg.substr(9);
    } else {
      return Refuse("probe: unexpected argument '" + arg + "'");
    }
    if (name.empty()) return Refuse("probe: the driver name is empty");
    if (driverGiven) return Refuse("probe: --driver given twice");
    driverGiven = true;
    command.driverName = name;
  }
  return Accept(command);
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
  if (name == "probe") return ParseProbe(args);
  if (name == "list") {
    if (args.size() > 1) return Refuse("list: unexpected argument '" + args[1] + "'");
    HostCommand command;
    command.kind = CommandKind::kList;
    return Accept(command);
  }
  return Refuse("unknown command '" + name + "'");
}

const char* UsageText() {
  return "usage: kx7-host register LIBRARY | unregister LIBRARY | list | "
         "probe [--driver NAME] [--json]\n"
         "  register LIBRARY    call the library's DllRegisterServer\n"
         "  unregister LIBRARY  call the library's DllUnregisterServer\n"
         "  list                list the ASIO drivers under HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\n"
         "  probe               create a driver as a host does and print what it answers;\n"
         "                      --driver picks one by key name (default: the KX-7),\n"
         "                      --json prints one JSON object\n"
         "exit status: 0 done, 1 failed (no driver, creation or registration failed), "
         "2 bad arguments\n";
}

}  // namespace kx7host

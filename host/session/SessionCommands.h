// The commands of the driver as a host sees it: register, list and probe. Each returns the
// process exit status and writes its result to `out`, its complaints to `err`.
#pragma once

#include <ostream>
#include <string>

#include "host/common/ExitStatus.h"

namespace kx7host {

// register / unregister: loads the library and calls its DllRegisterServer or
// DllUnregisterServer, as the platform's registration tool does. kExitOk only on S_OK.
struct RegisterOptions {
  std::string library;  // the driver library to load
  bool registering = true;
};
int Run(const RegisterOptions& options, std::ostream& out, std::ostream& err);

// list: the drivers under HKEY_LOCAL_MACHINE\SOFTWARE\ASIO with their class identifiers.
struct ListOptions {};
int Run(const ListOptions& options, std::ostream& out, std::ostream& err);

// probe: creates the chosen driver as a host does and prints what it answers.
struct ProbeOptions {
  std::string driverName;  // key name under SOFTWARE\ASIO; empty picks the default
  bool json = false;
};
int Run(const ProbeOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kx7host

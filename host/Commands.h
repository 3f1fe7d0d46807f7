// The commands of kx7-host. Each returns the process exit status and writes its result to `out`,
// its complaints to `err`.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/Arguments.h"

namespace kx7host {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// register / unregister: loads the library and calls its DllRegisterServer or
// DllUnregisterServer, as the platform's registration tool does. kExitOk only on S_OK.
int RunRegistration(const std::string& library, bool registering, std::ostream& out,
                    std::ostream& err);

// list: the drivers under HKEY_LOCAL_MACHINE\SOFTWARE\ASIO with their class identifiers.
int RunList(std::ostream& out, std::ostream& err);

// probe: creates the chosen driver as a host does and prints what it answers.
int RunProbe(const HostCommand& command, std::ostream& out, std::ostream& err);

// stream: streams through two inputs and two outputs and reports the timing.
int RunStream(const HostCommand& command, std::ostream& out, std::ostream& err);

// latency: measures the round trip from output L to input L.
int RunLatency(const HostCommand& command, std::ostream& out, std::ostream& err);

// diagnose: the KX-7 below the driver, through the KS layer: its filters, pins and raw streaming
// at each rate, written to one JSON file with a text report. kExitFailed without a KX-7.
int RunDiagnose(const HostCommand& command, std::ostream& out, std::ostream& err);

// Parses the arguments (without the program name) and runs the command they name.
int RunHost(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kx7host

// The commands' table of kx7-host: from the command line to the room that runs the command.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/cli/Arguments.h"

namespace kx7host {

// Parses the arguments (without the program name) and runs the command they name. Returns the
// process exit status; the result goes to `out`, complaints to `err`.
int RunHost(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kx7host

// kx7-host: a command-line ASIO host that finds, loads and probes drivers as audio applications do.
#include <iostream>
#include <string>
#include <vector>

#include "host/cli/Commands.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return kx7host::RunHost(args, std::cout, std::cerr);
}

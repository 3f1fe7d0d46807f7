// diagnose: the KX-7 below the driver, through the KS layer: its filters, pins and raw streaming
// at each rate, written to one JSON file with a text report. kExitFailed without a KX-7. Returns
// the process exit status and writes its result to `out`, its complaints to `err`.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "host/common/DeviceOptions.h"
#include "host/common/ExitStatus.h"

namespace kx7host {

struct DiagnoseOptions {
  double seconds = 2.0;         // of streaming at each rate
  std::vector<uint32_t> rates;  // empty: 44100, 48000, 88200 and 96000 Hz
  std::string outPath = "kx7-diagnose.json";
  bool json = false;
  DeviceOptions device;
};
int Run(const DiagnoseOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kx7host

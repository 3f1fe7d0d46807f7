// One diagnosis from beginning to end, below the driver and without it: the machine's audio
// filters and which the driver would pick, the KX-7's filters read pin by pin, at each rate its
// pins tried format by format and streamed raw; then the figures and the verdict. It changes no
// setting, takes no pin that another application holds, and has closed every pin it made when it
// returns.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "host/diagnose/CompletionClock.h"
#include "host/diagnose/Diagnosis.h"
#include "product/Kx7Facts.h"

namespace kx7host {

struct DiagnosisPlan {
  double seconds = 2.0;  // of streaming at each rate
  std::vector<uint32_t> rates{std::begin(kx7::kStandardSampleRates),
                              std::end(kx7::kStandardSampleRates)};
  std::string device;  // what the report calls the device under diagnosis
};

// What the command shows while the run goes on, and how it passes on an interrupt.
class DiagnoseMonitor {
 public:
  virtual ~DiagnoseMonitor() = default;
  virtual void Streaming(uint32_t rate, double seconds, double of, uint64_t captureCompletions,
                         uint64_t renderCompletions) {
    (void)rate, (void)seconds, (void)of, (void)captureCompletions, (void)renderCompletions;
  }
  virtual bool Interrupted() { return false; }
};

Diagnosis Diagnose(const DiagnosisPlan& options, CompletionClock& clock, DiagnoseMonitor& monitor);

}  // namespace kx7host

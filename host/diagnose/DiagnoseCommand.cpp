// diagnose: the KX-7 below the driver, for its owner to send us one file. Lists the machine's KS
// audio filters, reads the KX-7's pins, streams them raw at each rate, writes everything to one
// JSON file and the report to standard output. On Linux the host plugs the virtual KX-7 itself.
#include <cstdio>
#include <fstream>

#include "host/common/DeviceUnderTest.h"
#include "host/common/Interrupt.h"
#include "host/common/ProgressLine.h"
#include "host/diagnose/CompletionClock.h"
#include "host/diagnose/Diagnose.h"
#include "host/diagnose/DiagnoseCommand.h"
#include "host/diagnose/DiagnosisReport.h"

namespace kx7host {

namespace {

// Shows the stream's progress and passes Ctrl-C on.
class CommandMonitor : public DiagnoseMonitor {
 public:
  explicit CommandMonitor(ProgressLine& progress) : progress_(progress) {}

  void Streaming(uint32_t rate, double seconds, double of, uint64_t captureCompletions,
                 uint64_t renderCompletions) override {
    if (!progress_.Enabled()) return;
    char text[128];
    std::snprintf(text, sizeof text, "%u Hz  %4.1f s / %.1f s   capture %llu   render %llu", rate,
                  seconds, of, static_cast<unsigned long long>(captureCompletions),
                  static_cast<unsigned long long>(renderCompletions));
    progress_.Show(text);
  }

  bool Interrupted() override { return InterruptGuard::Interrupted(); }

 private:
  ProgressLine& progress_;
};

std::string DeviceText(const DeviceUnderTest& device) {
#if defined(_WIN32) && defined(KX7_VIRTUAL_DEVICE)
  (void)device;
  return "the virtual KX-7 built into this kx7-host (this build reaches no real device)";
#elif defined(_WIN32)
  (void)device;
  return "this machine's kernel-streaming audio devices";
#else
  return device.Description();
#endif
}

}  // namespace

int Run(const DiagnoseOptions& options, std::ostream& out, std::ostream& err) {
  DeviceUnderTest device;  // outlives the diagnosis, which streams through it
  std::string why;
  if (!device.Plug(options.device, MicrophoneKind::kSilence, options.seconds, &why)) {
    err << "kx7-host: " << why << '\n';
    return kExitFailed;
  }
  // The file is made before the run, so that a run is never wasted on a path it cannot write.
  std::ofstream file(options.outPath, std::ios::binary | std::ios::trunc);
  if (!file) {
    err << "kx7-host: cannot create " << options.outPath << '\n';
    return kExitUsage;
  }

  DiagnosisPlan plan;
  plan.seconds = options.seconds;
  if (!options.rates.empty()) plan.rates = options.rates;
  plan.device = DeviceText(device);
  PerformanceClock clock;
  Diagnosis diagnosis;
  {
    InterruptGuard interrupt;
    ProgressLine progress(stderr, IsTerminal(stderr));
    CommandMonitor monitor(progress);
    diagnosis = Diagnose(plan, clock, monitor);
  }

  PrintDiagnosisJson(diagnosis, true, file);
  file.close();
  if (options.json) {
    PrintDiagnosisJson(diagnosis, false, out);
  } else {
    PrintDiagnosisText(diagnosis, out);
    out << "\nEverything, with every completion, is in " << options.outPath
        << ": please send us that file.\n";
  }
  if (!file) {
    err << "kx7-host: writing " << options.outPath << " failed\n";
    return kExitFailed;
  }
  if (!diagnosis.verdict.kx7Found) {
    err << "kx7-host: no NORVA KX-7 found: no KS audio filter's path holds its hardware ID\n";
    return kExitFailed;
  }
  if (diagnosis.interrupted) {
    err << "kx7-host: interrupted; " << options.outPath << " holds what was done\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace kx7host

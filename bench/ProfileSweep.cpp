// kx7-profile-sweep: the driver against every timing profile and scenario of the virtual KX-7,
// at 64, 128 and 512 frames and 44100, 48000 and 96000 Hz, on the stepped clock. Each run starts
// the driver, streams a fixed stretch of device time and prints one line: whether start
// succeeded (and the driver's message when not), drop-outs in all and after the first half, the
// latency figure, capture frames the device lost for want of a read, and render underruns.
// Deterministic: the same table every time.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "driver/AsioDriver.h"
#include "platform/emu/test_hooks.h"
#include "support/DeviceStepping.h"
#include "support/DriverTestAccess.h"
#include "virtual_device/Kx7Scenarios.h"

namespace {

constexpr int32_t kBufferSizes[] = {64, 128, 512};
constexpr double kRates[] = {44100.0, 48000.0, 96000.0};
const char* const kProfiles[] = {"ideal", "usb-1ms", "urb-2ms", "urb-4ms", "urb-8ms", "jitter-16"};
// Packets the start handshake may take on the stepped clock before the clock is let run.
constexpr unsigned kStartPackets = 400;
constexpr DWORD kStartPatienceMs = 10000;

// The host: counts switches and keeps the drop-out count seen at the first one.
struct Host {
  static inline CAsioDriver* driver = nullptr;
  static inline std::atomic<uint32_t> switches{0};
  static inline std::atomic<uint32_t> dropOutsAtFirst{0};
  static void BufferSwitch(int32_t, ASIOBool) {
    if (switches.fetch_add(1) == 0) dropOutsAtFirst = Internals(*driver).dropOutCount.load();
  }
  static int32_t Message(int32_t, int32_t, void*, double*) { return 0; }
};

struct Case {
  std::string scenario;  // empty: none; several are joined by commas
  std::string profile;
  double rate;
  int32_t bufferSize;
};

struct Outcome {
  ASIOError start = ASE_OK;
  std::string message;
  bool hung = false;
  uint32_t switches = 0;
  uint32_t dropOuts = 0;
  uint32_t dropOutsAfterFirst = 0;
  uint32_t latency = 0;
  uint64_t framesLost = 0;
  uint64_t underruns = 0;
};

Outcome Run(const Case& run, double seconds) {
  Outcome outcome;
  std::vector<vkx7::Kx7Scenario> scenarios;
  for (size_t start = 0; start < run.scenario.size();) {
    const size_t comma = std::min(run.scenario.find(',', start), run.scenario.size());
    vkx7::Kx7Scenario scenario;
    if (vkx7::ParseScenario(run.scenario.substr(start, comma - start), &scenario)) {
      scenarios.push_back(scenario);
    }
    start = comma + 1;
  }
  vkx7::TimingProfile profile;
  vkx7::TimingProfile::Parse(run.profile, &profile);
  vkx7::VirtualKx7 device(vkx7::LayoutOf(scenarios));
  for (vkx7::Kx7Scenario each : scenarios) {
    vkx7::ApplyScenario(device, each, vkx7::LifeTiming::ThirdOfRun(seconds));
  }
  device.SetTimingProfile(profile);
  device.SetMicrophone(vkx7::MicrophoneSource::Loopback(0));
  device.Plug();
  emu_test::FreezeTime(1000);

  HRESULT hr = S_OK;
  auto* driver = new CAsioDriver(nullptr, &hr);
  driver->NonDelegatingAddRef();
  Host::driver = driver;
  Host::switches = 0;
  Host::dropOutsAtFirst = 0;
  driver->init(nullptr);
  ASIOBufferInfo infos[4] = {
      {ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}, {ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}};
  ASIOCallbacks callbacks{Host::BufferSwitch, nullptr, Host::Message, nullptr};
  driver->createBuffers(infos, 4, run.bufferSize, &callbacks);
  driver->setSampleRate(run.rate);
  auto thread = [driver] { return Internals(*driver).streamThreadId.load(); };

  auto started = std::async(std::launch::async, [driver] { return driver->start(); });
  auto returned = [&] {
    return started.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  };
  // Until the pins run, nothing is to be stepped.
  for (int i = 0; i < 20000 && !returned() && device.QueuedWrites() < 4; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  for (unsigned packet = 0;
       packet < kStartPackets && !returned() && Host::switches.load() < 2; ++packet) {
    if (!kx7test::StepFrames(device, vkx7::kPacketFrames, thread)) break;
  }
  if (!returned()) {
    // The handshake is not going to see its switches: let it run out its time.
    emu_test::UnfreezeTime();
    outcome.hung =
        started.wait_for(std::chrono::milliseconds(kStartPatienceMs)) != std::future_status::ready;
  }
  if (!outcome.hung) {
    outcome.start = started.get();
    char message[128] = {};
    driver->getErrorMessage(message);
    outcome.message = message;
    if (outcome.start == ASE_OK) {
      const uint64_t frames = static_cast<uint64_t>(seconds * run.rate);
      if (!kx7test::StepFrames(device, frames, thread)) outcome.hung = true;
    }
    outcome.switches = Host::switches;
    outcome.dropOuts = Internals(*driver).dropOutCount;
    outcome.dropOutsAfterFirst = outcome.dropOuts - Host::dropOutsAtFirst;
    outcome.latency = Internals(*driver).latencyCount;
    outcome.framesLost = device.CaptureFramesLost();
    outcome.underruns = device.RenderUnderruns();
    driver->stop();
    driver->disposeBuffers();
    driver->Release();
  }
  emu_test::UnfreezeTime();
  return outcome;
}

void PrintRow(const Case& run, const Outcome& outcome) {
  const std::string what = run.scenario.empty() ? "-" : run.scenario;
  if (outcome.hung) {
    std::printf("| %-29s | %-9s | %5.0f | %4d | HUNG |\n", what.c_str(), run.profile.c_str(),
                run.rate, run.bufferSize);
  } else if (outcome.start != ASE_OK) {
    std::printf("| %-29s | %-9s | %5.0f | %4d | %d \"%s\" |\n", what.c_str(), run.profile.c_str(),
                run.rate, run.bufferSize, static_cast<int>(outcome.start), outcome.message.c_str());
  } else {
    std::printf("| %-29s | %-9s | %5.0f | %4d | ok | %8u | %5u | %5u | %7u | %6llu | %9llu |\n",
                what.c_str(), run.profile.c_str(), run.rate, run.bufferSize, outcome.switches,
                outcome.dropOuts, outcome.dropOutsAfterFirst, outcome.latency,
                static_cast<unsigned long long>(outcome.framesLost),
                static_cast<unsigned long long>(outcome.underruns));
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 2.0;
  std::string onlyProfile, onlyScenario;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--seconds") {
      seconds = std::atof(argv[i + 1]);
    } else if (option == "--profile") {
      onlyProfile = argv[i + 1];
    } else if (option == "--scenario") {
      onlyScenario = argv[i + 1];
    } else {
      std::fprintf(stderr, "usage: %s [--seconds S] [--profile NAME] [--scenario NAME]\n", argv[0]);
      return 2;
    }
  }
  // The driver stores its settings on release: keep them out of the user's registry.
  std::string folder = "/tmp/kx7-sweep-XXXXXX";
  if (mkdtemp(folder.data()) != nullptr) setenv("XDG_CONFIG_HOME", folder.c_str(), 1);

  // Every profile in both layouts, every other scenario on the ideal profile in both layouts,
  // and the UAC 2.0 filter.
  std::vector<std::pair<std::string, std::string>> runs;  // scenario, profile
  for (const std::string layout : {"", "two-filter"}) {
    for (const char* profile : kProfiles) runs.emplace_back(layout, profile);
  }
  for (const std::string layout : {"", "two-filter,"}) {
    for (vkx7::Kx7Scenario scenario : vkx7::AllScenarios()) {
      if (scenario == vkx7::Kx7Scenario::TwoFilter) continue;
      if (scenario == vkx7::Kx7Scenario::UsbAudio2 && !layout.empty()) continue;
      runs.emplace_back(layout + vkx7::ScenarioName(scenario), "ideal");
    }
  }
  std::vector<Case> cases;
  for (const auto& [scenario, profile] : runs) {
    if (!onlyProfile.empty() && onlyProfile != profile) continue;
    if (!onlyScenario.empty() && onlyScenario != (scenario.empty() ? "-" : scenario)) continue;
    for (double rate : kRates) {
      for (int32_t bufferSize : kBufferSizes)
        cases.push_back({scenario, profile, rate, bufferSize});
    }
  }
  std::printf("%.1f s of device time per run; drop-outs: all / after the first half\n", seconds);
  std::printf(
      "| scenario           | profile   |  rate | buf  | start | switches | drop | after |"
      " latency | lost | underruns |\n");
  for (const Case& run : cases) PrintRow(run, Run(run, seconds));
  return 0;
}

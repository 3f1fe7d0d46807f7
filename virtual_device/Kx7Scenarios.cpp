#include "virtual_device/Kx7Scenarios.h"

namespace vkx7 {
namespace {

// Capture reads of the first round of a four-packet ring.
constexpr unsigned kEmptyFirstReads = 4;

struct Named {
  Kx7Scenario scenario;
  const char* name;
};
constexpr Named kNames[] = {
    {Kx7Scenario::TwoFilter, "two-filter"},
    {Kx7Scenario::UsbAudio2, "uac2"},
    {Kx7Scenario::StrictHeaders, "strict-headers"},
    {Kx7Scenario::ZeroFirstReads, "zero-first-reads"},
    {Kx7Scenario::PendingProperties, "pending-properties"},
    {Kx7Scenario::NoBandwidth, "no-bandwidth"},
    {Kx7Scenario::PinInUse, "pin-in-use"},
};

}  // namespace

std::vector<Kx7Scenario> AllScenarios() {
  std::vector<Kx7Scenario> all;
  for (const Named& named : kNames) all.push_back(named.scenario);
  return all;
}

const char* ScenarioName(Kx7Scenario scenario) {
  for (const Named& named : kNames) {
    if (named.scenario == scenario) return named.name;
  }
  return "";
}

bool ParseScenario(const std::string& name, Kx7Scenario* scenario) {
  for (const Named& named : kNames) {
    if (name == named.name) {
      *scenario = named.scenario;
      return true;
    }
  }
  return false;
}

Kx7Layout LayoutOf(const std::vector<Kx7Scenario>& scenarios) {
  for (Kx7Scenario scenario : scenarios) {
    if (scenario == Kx7Scenario::TwoFilter) return Kx7Layout::TwoFilter;
    if (scenario == Kx7Scenario::UsbAudio2) return Kx7Layout::UsbAudio2;
  }
  return Kx7Layout::UsbAudio;
}

void ApplyScenario(VirtualKsDevice& device, Kx7Scenario scenario) {
  switch (scenario) {
    case Kx7Scenario::TwoFilter:
    case Kx7Scenario::UsbAudio2:
      break;  // the layout the device was made with
    case Kx7Scenario::StrictHeaders:
      device.SetStrictHeaders(true);
      break;
    case Kx7Scenario::ZeroFirstReads:
      device.CompleteReadsEmpty(kEmptyFirstReads);
      break;
    case Kx7Scenario::PendingProperties:
      device.SetPendingProperties(true);
      break;
    case Kx7Scenario::NoBandwidth:
      device.RefuseBandwidth(Direction::Render, true);
      break;
    case Kx7Scenario::PinInUse:
      device.HoldPin(Direction::Render, true);
      break;
  }
}

}  // namespace vkx7

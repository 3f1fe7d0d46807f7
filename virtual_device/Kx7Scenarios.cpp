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
    {Kx7Scenario::Unplug, "unplug"},
    {Kx7Scenario::Replug, "replug"},
    {Kx7Scenario::Suspend, "suspend"},
    {Kx7Scenario::SuspendReenumerate, "suspend-reenumerate"},
    {Kx7Scenario::EmptyReads, "empty-reads"},
    {Kx7Scenario::TakenBetweenRuns, "taken-between-runs"},
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

bool IsLifeScenario(Kx7Scenario scenario) {
  switch (scenario) {
    case Kx7Scenario::Unplug:
    case Kx7Scenario::Replug:
    case Kx7Scenario::Suspend:
    case Kx7Scenario::SuspendReenumerate:
    case Kx7Scenario::EmptyReads:
    case Kx7Scenario::TakenBetweenRuns:
      return true;
    default:
      return false;
  }
}

void ApplyScenario(VirtualKsDevice& device, Kx7Scenario scenario, const LifeTiming& timing) {
  DeviceLife life = device.GetLife();
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
    case Kx7Scenario::Unplug:
      life.leaves = true;
      break;
    case Kx7Scenario::Replug:
      life.leaves = true;
      life.returns = true;
      break;
    case Kx7Scenario::Suspend:
      life.sleeps = true;
      break;
    case Kx7Scenario::SuspendReenumerate:
      life.sleeps = true;
      life.reenumerates = true;
      break;
    case Kx7Scenario::EmptyReads:
      life.readsEmpty = true;
      break;
    case Kx7Scenario::TakenBetweenRuns:
      life.takenAfterStop = true;
      break;
  }
  if (!IsLifeScenario(scenario)) return;
  life.timing = timing;
  device.SetLife(life);
}

}  // namespace vkx7

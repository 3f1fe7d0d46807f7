// The behaviours of real USB audio stacks that the virtual KX-7 can put on, by name, beside its
// timing profile: for tests, the measurement program and kx7-host.
#pragma once

#include <string>
#include <vector>

#include "virtual_device/VirtualKsDevice.h"

namespace vkx7 {

enum class Kx7Scenario {
  TwoFilter,          // "two-filter": the capture and render filters of the two-filter layout
  UsbAudio2,          // "uac2": the USB audio class 2.0 filter, looped streaming only
  StrictHeaders,      // "strict-headers": a read queued with its time stamps still valid
                      // completes at once, empty
  ZeroFirstReads,     // "zero-first-reads": the first four capture reads complete empty
  PendingProperties,  // "pending-properties": every property request pends
  NoBandwidth,        // "no-bandwidth": the render pin cannot leave KSSTATE_STOP
  PinInUse,           // "pin-in-use": another application holds the render pin
  // The device's life in a run (see DeviceLife), timed from the run's start by a LifeTiming:
  Unplug,              // "unplug": removed at the trigger
  Replug,              // "replug": removed at the trigger, back 2 s later as a new instance
  Suspend,             // "suspend": the running pins pause at the trigger for 3 s
  SuspendReenumerate,  // "suspend-reenumerate": as suspend, but removed halfway through the
                       // sleep and back at the resume
  EmptyReads,          // "empty-reads": from the trigger on, reads complete at once, empty
  TakenBetweenRuns,    // "taken-between-runs": another application holds the pins for 2 s
                       // after the first stop
};

std::vector<Kx7Scenario> AllScenarios();
const char* ScenarioName(Kx7Scenario scenario);
bool ParseScenario(const std::string& name, Kx7Scenario* scenario);
// The layout a device with these scenarios is made with (UsbAudio unless one asks otherwise).
Kx7Layout LayoutOf(const std::vector<Kx7Scenario>& scenarios);
// Whether the scenario is one of the device's life, timed by a LifeTiming.
bool IsLifeScenario(Kx7Scenario scenario);
// Puts a scenario on a device made in its layout. A life scenario's trigger comes `timing`
// into the run, the run starting when a pin of the device first goes to KSSTATE_RUN (by
// default a third of a 3 s run: 1 s in). Several life scenarios share one timing, the last
// given.
void ApplyScenario(VirtualKsDevice& device, Kx7Scenario scenario,
                   const LifeTiming& timing = LifeTiming());

}  // namespace vkx7

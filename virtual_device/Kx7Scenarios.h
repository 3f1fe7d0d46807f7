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
};

std::vector<Kx7Scenario> AllScenarios();
const char* ScenarioName(Kx7Scenario scenario);
bool ParseScenario(const std::string& name, Kx7Scenario* scenario);
// The layout a device with these scenarios is made with (UsbAudio unless one asks otherwise).
Kx7Layout LayoutOf(const std::vector<Kx7Scenario>& scenarios);
// Puts a scenario on a device made in its layout.
void ApplyScenario(VirtualKsDevice& device, Kx7Scenario scenario);

}  // namespace vkx7

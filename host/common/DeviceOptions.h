// How the host sets up the virtual KX-7 it streams or diagnoses through, where it has one.
#pragma once

#include <string>
#include <vector>

namespace kx7host {

// The virtual KX-7 exists only where the driver and the host share the emulated platform.
#ifdef _WIN32
inline constexpr bool kHasVirtualDevice = false;
#else
inline constexpr bool kHasVirtualDevice = true;
#endif

// What the virtual KX-7's microphone hears while streaming.
enum class MicrophoneKind { kLoopback, kTone, kSilence };

// The virtual KX-7's timing profile and named scenarios (see DeviceUnderTest.h).
struct DeviceOptions {
  std::string profile = "ideal";
  std::vector<std::string> scenarios;
};

}  // namespace kx7host

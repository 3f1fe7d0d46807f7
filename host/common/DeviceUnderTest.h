// The device the driver streams through, as far as the host can see it. On Linux the host itself
// plugs a virtual KX-7 (the driver finds it through the shared platform library) and reads its
// clock and glitch counters; on Windows the device is real (or inside the driver) and unseen.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/common/DeviceOptions.h"
#include "product/Kx7Facts.h"

namespace kx7host {

// The virtual KX-7's loopback: the left output is heard at the microphone this many frames
// after it was played.
inline constexpr uint32_t kLoopbackDelayFrames = 40;
// The virtual microphone's tone.
inline constexpr double kMicrophoneToneHz = 440.0;
// Frames per device packet.
inline constexpr uint32_t kDevicePacketFrames = kx7::kPacketFrames;

// Names of the virtual KX-7's timing profiles and scenarios (never, where there is none).
bool IsDeviceProfile(const std::string& name);
bool IsDeviceScenario(const std::string& name);

class DeviceUnderTest {
 public:
  DeviceUnderTest();
  ~DeviceUnderTest();
  DeviceUnderTest(const DeviceUnderTest&) = delete;
  DeviceUnderTest& operator=(const DeviceUnderTest&) = delete;

  // Linux: creates the virtual KX-7 with a real-time clock, the given microphone and the
  // options' timing profile and scenarios, and plugs it in. Elsewhere does nothing. False, with
  // `why`, when the device cannot be set up. The scenarios of the device's life (unplug,
  // replug, suspend, ...) come a third of the way into a run of `seconds`.
  bool Plug(const DeviceOptions& options, MicrophoneKind microphone, double seconds,
            std::string* why);
  // Times the life scenarios for a run of `seconds` instead, before the run starts.
  void TimeRun(double seconds);

  // Drops what the device has recorded of the driver's requests and rendered bytes. A long run
  // calls it now and then: the record grows with every packet, and regrowing a large one under
  // the device's lock stalls its clock.
  void DropRecord();

  // Whether the counters below are the device's own (the virtual KX-7 is plugged).
  bool HasCounters() const;
  uint64_t PacketsElapsed() const;
  uint64_t RenderUnderruns() const;
  uint64_t CaptureOverruns() const;
  // The device's own comings and goings so far, as "removed at 1.667 s" (device time since a
  // pin of it first ran); empty without the virtual KX-7 or a life scenario.
  std::vector<std::string> LifeEvents() const;
  // "virtual KX-7 (usb-1ms), microphone: loopback of output L after 40 frames" or "the
  // registered driver's device"; with the life's events so far after the set-up, as
  // "virtual KX-7 (ideal, replug) [removed at 1.667 s, arrived at 3.667 s], ...".
  std::string Description() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kx7host

// The device the driver streams through, as far as the host can see it. On Linux the host itself
// plugs a virtual KX-7 (the driver finds it through the shared platform library) and reads its
// clock and glitch counters; on Windows the device is real (or inside the driver) and unseen.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/Arguments.h"
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

  // Linux: creates the virtual KX-7 with a real-time clock, the options' microphone (or the
  // given one), timing profile and scenarios, and plugs it in. Elsewhere does nothing. False,
  // with `why`, when the device cannot be set up.
  bool Plug(const StreamOptions& options, MicrophoneKind microphone, std::string* why);

  // Drops what the device has recorded of the driver's requests and rendered bytes. A long run
  // calls it now and then: the record grows with every packet, and regrowing a large one under
  // the device's lock stalls its clock.
  void DropRecord();

  // Whether the counters below are the device's own (the virtual KX-7 is plugged).
  bool HasCounters() const;
  uint64_t PacketsElapsed() const;
  uint64_t RenderUnderruns() const;
  uint64_t CaptureOverruns() const;
  // "virtual KX-7 (usb-1ms), microphone: loopback of output L after 40 frames" or "the
  // registered driver's device".
  std::string Description() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kx7host

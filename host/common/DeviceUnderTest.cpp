#include "host/common/DeviceUnderTest.h"

#include <cstdio>

#ifndef _WIN32
#include "virtual_device/Kx7Scenarios.h"
#include "virtual_device/VirtualKsDevice.h"
#endif

namespace kx7host {

#ifndef _WIN32

bool IsDeviceProfile(const std::string& name) {
  vkx7::TimingProfile profile;
  return vkx7::TimingProfile::Parse(name, &profile);
}

bool IsDeviceScenario(const std::string& name) {
  vkx7::Kx7Scenario scenario;
  return vkx7::ParseScenario(name, &scenario);
}

struct DeviceUnderTest::Impl {
  explicit Impl(vkx7::Kx7Layout layout) : device(layout) {}
  vkx7::VirtualKx7 device;
  MicrophoneKind microphone = MicrophoneKind::kLoopback;
  std::string setup;  // the profile and scenarios, as given
};

DeviceUnderTest::DeviceUnderTest() = default;

DeviceUnderTest::~DeviceUnderTest() {
  if (impl_ != nullptr) {
    impl_->device.Unplug();
    impl_->device.UseSteppedClock();  // ends the clock thread
  }
}

bool DeviceUnderTest::Plug(const DeviceOptions& options, MicrophoneKind microphone, double seconds,
                           std::string* why) {
  vkx7::TimingProfile profile;
  std::vector<vkx7::Kx7Scenario> scenarios;
  if (!vkx7::TimingProfile::Parse(options.profile, &profile)) {
    *why = "the virtual KX-7 has no timing profile '" + options.profile + "'";
    return false;
  }
  std::string setup = options.profile;
  for (const std::string& name : options.scenarios) {
    vkx7::Kx7Scenario scenario;
    if (!vkx7::ParseScenario(name, &scenario)) {
      *why = "the virtual KX-7 has no scenario '" + name + "'";
      return false;
    }
    scenarios.push_back(scenario);
    setup += ", " + name;
  }
  impl_ = std::make_unique<Impl>(vkx7::LayoutOf(scenarios));
  impl_->microphone = microphone;
  impl_->setup = setup;
  impl_->device.SetTimingProfile(profile);
  for (vkx7::Kx7Scenario scenario : scenarios) {
    vkx7::ApplyScenario(impl_->device, scenario, vkx7::LifeTiming::ThirdOfRun(seconds));
  }
  vkx7::MicrophoneSource source;
  switch (microphone) {
    case MicrophoneKind::kLoopback:
      source = vkx7::MicrophoneSource::Loopback(kLoopbackDelayFrames);
      break;
    case MicrophoneKind::kTone:
      source = vkx7::MicrophoneSource::Tone(kMicrophoneToneHz, 0.5);
      break;
    case MicrophoneKind::kSilence:
      source = vkx7::MicrophoneSource::Silence();
      break;
  }
  if (!impl_->device.SetMicrophone(source)) {
    *why = "the virtual KX-7 refused its microphone source";
    impl_.reset();
    return false;
  }
  impl_->device.UseRealTimeClock();
  impl_->device.Plug();
  return true;
}

void DeviceUnderTest::TimeRun(double seconds) {
  if (impl_ == nullptr) return;
  vkx7::DeviceLife life = impl_->device.GetLife();
  life.timing = vkx7::LifeTiming::ThirdOfRun(seconds);
  impl_->device.SetLife(life);
}

void DeviceUnderTest::DropRecord() {
  if (impl_ != nullptr) impl_->device.ClearRecord();
}

bool DeviceUnderTest::HasCounters() const { return impl_ != nullptr; }

uint64_t DeviceUnderTest::PacketsElapsed() const {
  return impl_ != nullptr ? impl_->device.PacketsElapsed() : 0;
}

uint64_t DeviceUnderTest::RenderUnderruns() const {
  return impl_ != nullptr ? impl_->device.RenderUnderruns() : 0;
}

uint64_t DeviceUnderTest::CaptureOverruns() const {
  return impl_ != nullptr ? impl_->device.CaptureOverruns() : 0;
}

std::vector<std::string> DeviceUnderTest::LifeEvents() const {
  std::vector<std::string> lines;
  if (impl_ == nullptr) return lines;
  const std::vector<vkx7::LifeEvent> events = impl_->device.LifeEvents();
  for (const vkx7::LifeEvent& event : events) {
    char line[96];
    std::snprintf(line, sizeof line, "%s at %.3f s", event.what.c_str(), event.seconds);
    lines.push_back(line);
  }
  return lines;
}

std::string DeviceUnderTest::Description() const {
  if (impl_ == nullptr) return "the registered driver's device";
  std::string device = "virtual KX-7 (" + impl_->setup + ")";
  const std::vector<std::string> life = LifeEvents();
  for (size_t i = 0; i < life.size(); ++i) device += (i == 0 ? " [" : ", ") + life[i];
  if (!life.empty()) device += "]";
  switch (impl_->microphone) {
    case MicrophoneKind::kLoopback:
      return device + ", microphone: loopback of output L after " +
             std::to_string(kLoopbackDelayFrames) + " frames";
    case MicrophoneKind::kTone:
      return device + ", microphone: " + std::to_string(static_cast<int>(kMicrophoneToneHz)) +
             " Hz tone";
    case MicrophoneKind::kSilence:
      return device + ", microphone: silence";
  }
  return device;
}

#else  // the real device is the driver's business alone

bool IsDeviceProfile(const std::string&) { return false; }
bool IsDeviceScenario(const std::string&) { return false; }

struct DeviceUnderTest::Impl {};

DeviceUnderTest::DeviceUnderTest() = default;
DeviceUnderTest::~DeviceUnderTest() = default;

bool DeviceUnderTest::Plug(const DeviceOptions&, MicrophoneKind, double, std::string*) {
  return true;
}
void DeviceUnderTest::DropRecord() {}
bool DeviceUnderTest::HasCounters() const { return false; }
uint64_t DeviceUnderTest::PacketsElapsed() const { return 0; }
uint64_t DeviceUnderTest::RenderUnderruns() const { return 0; }
uint64_t DeviceUnderTest::CaptureOverruns() const { return 0; }
void DeviceUnderTest::TimeRun(double) {}
std::vector<std::string> DeviceUnderTest::LifeEvents() const { return {}; }
std::string DeviceUnderTest::Description() const { return "the registered driver's device"; }

#endif

}  // namespace kx7host

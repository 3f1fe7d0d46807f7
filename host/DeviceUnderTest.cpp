#include "host/DeviceUnderTest.h"

#ifndef _WIN32
#include "virtual_device/VirtualKsDevice.h"
#endif

namespace kx7host {

#ifndef _WIN32

struct DeviceUnderTest::Impl {
  vkx7::VirtualKx7 device;
  MicrophoneKind microphone = MicrophoneKind::kLoopback;
};

DeviceUnderTest::DeviceUnderTest() = default;

DeviceUnderTest::~DeviceUnderTest() {
  if (impl_ != nullptr) {
    impl_->device.Unplug();
    impl_->device.UseSteppedClock();  // ends the clock thread
  }
}

bool DeviceUnderTest::Plug(MicrophoneKind microphone, std::string* why) {
  impl_ = std::make_unique<Impl>();
  impl_->microphone = microphone;
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

std::string DeviceUnderTest::Description() const {
  if (impl_ == nullptr) return "the registered driver's device";
  switch (impl_->microphone) {
    case MicrophoneKind::kLoopback:
      return "virtual KX-7, microphone: loopback of output L after " +
             std::to_string(kLoopbackDelayFrames) + " frames";
    case MicrophoneKind::kTone:
      return "virtual KX-7, microphone: " + std::to_string(static_cast<int>(kMicrophoneToneHz)) +
             " Hz tone";
    case MicrophoneKind::kSilence:
      return "virtual KX-7, microphone: silence";
  }
  return "virtual KX-7";
}

#else  // the real device is the driver's business alone

struct DeviceUnderTest::Impl {};

DeviceUnderTest::DeviceUnderTest() = default;
DeviceUnderTest::~DeviceUnderTest() = default;

bool DeviceUnderTest::Plug(MicrophoneKind, std::string*) { return true; }
void DeviceUnderTest::DropRecord() {}
bool DeviceUnderTest::HasCounters() const { return false; }
uint64_t DeviceUnderTest::PacketsElapsed() const { return 0; }
uint64_t DeviceUnderTest::RenderUnderruns() const { return 0; }
uint64_t DeviceUnderTest::CaptureOverruns() const { return 0; }
std::string DeviceUnderTest::Description() const { return "the registered driver's device"; }

#endif

}  // namespace kx7host

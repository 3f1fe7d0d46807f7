// The virtual KX-7 inside the Windows DLL of the KX7_VIRTUAL_DEVICE build, so that any host
// process that loads the DLL finds a device. Loading the module only installs a hook (no thread
// may be started or waited for while the loader lock is held); the device is plugged in when
// devices are first enumerated, and its real-time clock runs only while a filter or pin of the
// virtual kernel is open, so that no thread of the module is left running once the driver has
// let the device go. The microphone hears the rendered left channel a few milliseconds later.
#include <mutex>

#include "platform/vkernel/VirtualKernel.h"
#include "virtual_device/VirtualKsDevice.h"

namespace {

// 4 ms at 48000 Hz: a round trip that the host's latency measurement can see.
constexpr ULONG kLoopbackDelayFrames = 192;

class EmbeddedKx7 {
 public:
  EmbeddedKx7() { vk::SetActivityHook(&OnActivity); }
  ~EmbeddedKx7();
  EmbeddedKx7(const EmbeddedKx7&) = delete;
  EmbeddedKx7& operator=(const EmbeddedKx7&) = delete;

 private:
  static void OnActivity(vk::Activity activity);

  std::mutex lock_;
  vkx7::VirtualKx7* device_ = nullptr;
  bool clockRunning_ = false;
};

EmbeddedKx7 embedded;

void EmbeddedKx7::OnActivity(vk::Activity activity) {
  std::lock_guard<std::mutex> guard(embedded.lock_);
  if (activity == vk::Activity::Enumerating) {
    if (embedded.device_ != nullptr) return;
    embedded.device_ = new vkx7::VirtualKx7;
    embedded.device_->SetMicrophone(vkx7::MicrophoneSource::Loopback(kLoopbackDelayFrames));
    embedded.device_->Plug();
    return;
  }
  if (embedded.device_ == nullptr) return;
  // Whatever order opens and closes on several threads report in, the last report sees the
  // final count, so the clock ends up running exactly while something is open.
  const bool wanted = vk::OpenFileCount() > 0;
  if (wanted == embedded.clockRunning_) return;
  if (wanted) {
    embedded.device_->UseRealTimeClock();
  } else {
    embedded.device_->UseSteppedClock();
  }
  embedded.clockRunning_ = wanted;
}

// Runs when the module is unloaded, inside the loader lock: nothing here may wait for a thread.
// The device is taken away only when its clock is stopped; otherwise (the process is ending
// with the device still open) it is left, as is a lock some ended thread may still hold.
EmbeddedKx7::~EmbeddedKx7() {
  vk::SetActivityHook(nullptr);
  std::unique_lock<std::mutex> guard(lock_, std::try_to_lock);
  if (!guard.owns_lock() || clockRunning_ || device_ == nullptr) return;
  delete device_;  // unplugs: its interfaces leave the virtual kernel
  device_ = nullptr;
}

}  // namespace

#ifdef _WIN32
// Filters and pins of the virtual kernel open right now: a test program that loads the library
// checks with it that the driver has let the device go.
extern "C" __declspec(dllexport) ULONG WINAPI VirtualKx7OpenFiles() {
  return static_cast<ULONG>(vk::OpenFileCount());
}
#endif

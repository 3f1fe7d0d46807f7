// The device's public surface: presence in the virtual kernel, clocks, microphone, faults,
// counters and the record.
#include "virtual_device/VirtualKsDevice.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "virtual_device/DeviceCore.h"

namespace vkx7 {
namespace detail {
namespace {

// The most the real-time clock moves at once after a stall: 64 packets.
constexpr uint64_t kMaxCatchUpFrames = 64 * kPacketFrames;
// The longest and the shortest the clock thread sleeps at once.
constexpr double kMaxClockSleepSeconds = 0.001;
constexpr double kMinClockSleepSeconds = 0.00002;

// What the clock thread works with; it owns this record. The stop event is its own copy, as
// the device forgets its handle while stopping the thread.
struct ClockThreadArgs {
  Core* core;
  HANDLE stop;
};

// The real-time clock: the device clock follows the performance counter at the clock rate. It
// starts counting afresh whenever the rate changes. Between moments it sleeps until the next
// one is due (at most a millisecond at a time, so that a stop or a new rate is seen soon), so
// that completions come when the timing profile says rather than on a polling grid.
DWORD WINAPI ClockMain(LPVOID parameter) {
  const std::unique_ptr<ClockThreadArgs> args(static_cast<ClockThreadArgs*>(parameter));
  Core* core = args->core;
  // The clock stands for the device's hardware, which does not wait for the host's threads.
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const double ticksPerSecond = static_cast<double>(frequency.QuadPart);
  ULONG anchorRate = 0;
  LONGLONG anchorCount = 0;
  uint64_t anchorFrames = 0;
  while (WaitForSingleObject(args->stop, 0) == WAIT_TIMEOUT) {
    double sleepSeconds = kMaxClockSleepSeconds;
    {
      LARGE_INTEGER now;
      QueryPerformanceCounter(&now);
      std::lock_guard<std::mutex> guard(core->lock);
      const ULONG rate = core->ClockRate();
      if (rate != anchorRate) {
        anchorRate = rate;
        anchorCount = now.QuadPart;
        anchorFrames = core->frames;
      } else if (rate != 0) {
        const double seconds = static_cast<double>(now.QuadPart - anchorCount) / ticksPerSecond;
        uint64_t due = anchorFrames + static_cast<uint64_t>(seconds * rate);
        // Far behind (the process was not scheduled): catch up a little and count on from now.
        if (due > core->frames + kMaxCatchUpFrames) {
          due = core->frames + kMaxCatchUpFrames;
          anchorCount = now.QuadPart;
          anchorFrames = due;
        }
        if (due > core->frames) core->AdvanceTo(due, false);
        const uint64_t next = std::max(core->NextMoment(), core->frames + 1);
        const double nextSeconds = static_cast<double>(next - anchorFrames) / rate +
                                   static_cast<double>(anchorCount - now.QuadPart) / ticksPerSecond;
        sleepSeconds =
            std::min(std::max(nextSeconds, kMinClockSleepSeconds), kMaxClockSleepSeconds);
      }
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(sleepSeconds));
  }
  return 0;
}

}  // namespace
}  // namespace detail

MicrophoneSource MicrophoneSource::Silence() { return MicrophoneSource(); }

MicrophoneSource MicrophoneSource::Tone(double hz, double amplitude) {
  MicrophoneSource source;
  source.kind = Kind::Tone;
  source.toneHz = hz;
  source.toneAmplitude = amplitude;
  return source;
}

MicrophoneSource MicrophoneSource::WavFile(const std::string& path) {
  MicrophoneSource source;
  source.kind = Kind::WavFile;
  source.wavPath = path;
  return source;
}

MicrophoneSource MicrophoneSource::Loopback(ULONG delayFrames) {
  MicrophoneSource source;
  source.kind = Kind::Loopback;
  source.loopbackDelayFrames = delayFrames;
  return source;
}

VirtualKsDevice::VirtualKsDevice(DeviceDescription description)
    : core_(std::make_shared<detail::Core>(std::move(description))) {}

VirtualKsDevice::~VirtualKsDevice() {
  UseSteppedClock();
  detail::StopReplyThread(*core_);
  Unplug();
}

void VirtualKsDevice::Plug() {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->Attach();
}

void VirtualKsDevice::Unplug() {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->Detach();
}

bool VirtualKsDevice::IsPlugged() const {
  std::lock_guard<std::mutex> guard(core_->lock);
  return core_->plugged;
}

std::string VirtualKsDevice::FilterPath(size_t filter, size_t categoryIndex) const {
  std::lock_guard<std::mutex> guard(core_->lock);
  const vk::InterfaceDescription& deviceInterface =
      core_->description.filters.at(filter).deviceInterface;
  return vk::InterfacePath(deviceInterface, deviceInterface.categories.at(categoryIndex).category);
}

void VirtualKsDevice::SetInterface(size_t filter, const vk::InterfaceDescription& deviceInterface) {
  vk::Registration registration = 0;
  {
    std::lock_guard<std::mutex> guard(core_->lock);
    core_->description.filters.at(filter).deviceInterface = deviceInterface;
    if (core_->plugged && filter < core_->registrations.size()) {
      registration = core_->registrations[filter];
    }
  }
  if (registration != 0) vk::UpdateInterface(registration, deviceInterface);
}

void VirtualKsDevice::UseSteppedClock() {
  HANDLE thread = nullptr;
  HANDLE stop = nullptr;
  {
    std::lock_guard<std::mutex> guard(core_->lock);
    std::swap(thread, core_->clockThread);
    std::swap(stop, core_->clockStop);
  }
  if (thread == nullptr) return;
  SetEvent(stop);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CloseHandle(stop);
}

void VirtualKsDevice::UseRealTimeClock() {
  std::lock_guard<std::mutex> guard(core_->lock);
  if (core_->clockThread != nullptr) return;
  core_->clockStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (core_->clockStop == nullptr) return;
  auto* args = new detail::ClockThreadArgs{core_.get(), core_->clockStop};
  core_->clockThread = CreateThread(nullptr, 0, detail::ClockMain, args, 0, nullptr);
  if (core_->clockThread == nullptr) {
    delete args;
    CloseHandle(core_->clockStop);
    core_->clockStop = nullptr;
  }
}

void VirtualKsDevice::Step(unsigned packets) {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->AdvanceTo((core_->ticks + packets) * kPacketFrames, false);
}

uint64_t VirtualKsDevice::StepToNextCompletion(uint64_t frames) {
  std::lock_guard<std::mutex> guard(core_->lock);
  const uint64_t before = core_->frames;
  core_->AdvanceTo(before + frames, true);
  return core_->frames - before;
}

uint64_t VirtualKsDevice::PacketsElapsed() const {
  std::lock_guard<std::mutex> guard(core_->lock);
  return core_->ticks;
}

uint64_t VirtualKsDevice::FramesElapsed() const {
  std::lock_guard<std::mutex> guard(core_->lock);
  return core_->frames;
}

void VirtualKsDevice::SetTimingProfile(const TimingProfile& profile) {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->timing = profile;
}

TimingProfile VirtualKsDevice::GetTimingProfile() const {
  std::lock_guard<std::mutex> guard(core_->lock);
  return core_->timing;
}

bool VirtualKsDevice::SetMicrophone(const MicrophoneSource& source) {
  SignalSource signal;
  switch (source.kind) {
    case MicrophoneSource::Kind::Tone:
      signal.SetTone(source.toneHz, source.toneAmplitude);
      break;
    case MicrophoneSource::Kind::WavFile:
      if (!signal.LoadWav(source.wavPath)) return false;
      break;
    case MicrophoneSource::Kind::Silence:
    case MicrophoneSource::Kind::Loopback:
      break;
  }
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->source = source;
  core_->signal = std::move(signal);
  core_->loopLine.clear();
  if (source.kind == MicrophoneSource::Kind::Loopback) {
    // Room for the delay and the packet being played and heard.
    core_->loopLine.assign(static_cast<size_t>(source.loopbackDelayFrames) + 2 * kPacketFrames, 0);
  }
  return true;
}

void VirtualKsDevice::WithholdCapturePackets(unsigned count) {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->withholdCapture = count;
}

void VirtualKsDevice::DelayCapturePackets(unsigned count, unsigned packets) {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->delayCount = count;
  core_->delayPackets = packets;
}

void VirtualKsDevice::StallRender(bool stalled) {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->renderStalled = stalled;
}

void VirtualKsDevice::RejectReads(int count, DWORD error) {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->rejectReads = count;
  core_->rejectReadError = error;
}

void VirtualKsDevice::RejectWrites(int count, DWORD error) {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->rejectWrites = count;
  core_->rejectWriteError = error;
}

void VirtualKsDevice::FailProperty(const PropertyMatch& match, DWORD error, int count) {
  std::lock_guard<std::mutex> guard(core_->lock);
  detail::PropertyFault fault;
  fault.match = match;
  fault.error = error;
  fault.count = count;
  core_->propertyFaults.push_back(std::move(fault));
}

void VirtualKsDevice::ReplaceReply(const PropertyMatch& match, std::vector<BYTE> reply) {
  std::lock_guard<std::mutex> guard(core_->lock);
  detail::PropertyFault fault;
  fault.match = match;
  fault.replace = true;
  fault.reply = std::move(reply);
  core_->propertyFaults.push_back(std::move(fault));
}

void VirtualKsDevice::ClearPropertyFaults() {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->propertyFaults.clear();
}

void VirtualKsDevice::RefuseExtensibleFormat(bool refuse) {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->refuseExtensible = refuse;
}

void VirtualKsDevice::RefusePlainPcmFormat(bool refuse) {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->refusePlainPcm = refuse;
}

void VirtualKsDevice::RefuseRate(ULONG rate) {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->refusedRate = rate;
}

void VirtualKsDevice::SetStrictHeaders(bool strict) {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->strictHeaders = strict;
}

void VirtualKsDevice::CompleteReadsEmpty(unsigned count) {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->emptyReads = count;
}

void VirtualKsDevice::SetPendingProperties(bool pending) {
  if (!pending) {
    detail::StopReplyThread(*core_);
    return;
  }
  detail::StartReplyThread(core_);
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->pendProperties = core_->replyThread != nullptr;
}

void VirtualKsDevice::RefuseBandwidth(Direction direction, bool refuse) {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->refuseBandwidth[static_cast<int>(direction)] = refuse;
}

void VirtualKsDevice::HoldPin(Direction direction, bool held) {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->heldPin[static_cast<int>(direction)] = held;
}

void VirtualKsDevice::SetPossibleInstances(size_t filter, ULONG pinId, ULONG possible) {
  std::lock_guard<std::mutex> guard(core_->lock);
  PinDescription& pin = core_->description.filters.at(filter).pins.at(pinId);
  pin.possibleInstances = possible;
  pin.possibleGlobalInstances = possible;
}

uint64_t VirtualKsDevice::RenderUnderruns() const {
  std::lock_guard<std::mutex> guard(core_->lock);
  return core_->underruns;
}

uint64_t VirtualKsDevice::CaptureOverruns() const {
  std::lock_guard<std::mutex> guard(core_->lock);
  return core_->overruns;
}

uint64_t VirtualKsDevice::CaptureFramesLost() const {
  std::lock_guard<std::mutex> guard(core_->lock);
  return core_->framesLost;
}

size_t VirtualKsDevice::QueuedReads() const {
  std::lock_guard<std::mutex> guard(core_->lock);
  size_t count = 0;
  for (const auto& pin : core_->pins) {
    if (!pin->render) count += pin->queue.size() + pin->finished.size();
  }
  return count;
}

size_t VirtualKsDevice::QueuedWrites() const {
  std::lock_guard<std::mutex> guard(core_->lock);
  size_t count = 0;
  for (const auto& pin : core_->pins) {
    if (pin->render) count += pin->queue.size() + pin->finished.size();
  }
  return count;
}

int VirtualKsDevice::PinState(size_t filter, ULONG pinId) const {
  std::lock_guard<std::mutex> guard(core_->lock);
  for (const auto& pin : core_->pins) {
    if (pin->filter == filter && pin->pinId == pinId) return static_cast<int>(pin->state);
  }
  return -1;
}

int VirtualKsDevice::PinState(Direction direction) const {
  std::lock_guard<std::mutex> guard(core_->lock);
  for (const auto& pin : core_->pins) {
    if (detail::Core::DirectionOf(*pin) == direction) return static_cast<int>(pin->state);
  }
  return -1;
}

DeviceRecord VirtualKsDevice::Record() const {
  std::lock_guard<std::mutex> guard(core_->lock);
  return core_->record;
}

std::vector<BYTE> VirtualKsDevice::RenderedBytes() const {
  std::lock_guard<std::mutex> guard(core_->lock);
  return core_->record.rendered;
}

void VirtualKsDevice::ClearRecord() {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->record = DeviceRecord();
}

}  // namespace vkx7

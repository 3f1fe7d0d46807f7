#include "host/stream/StreamSession.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "host/common/Statistics.h"

namespace kx7host {

std::atomic<StreamSession*> StreamSession::active_{nullptr};

StreamSession::StreamSession(const SessionPlan& plan)
    : plan_(plan),
      stamps_(plan.maxTimedSwitches),
      positions_(plan.maxTimedSwitches),
      captured_(plan.inputs > 0 ? plan.captureFrames : 0) {
  plan_.inputs = std::clamp(plan.inputs, 0, 2);
  plan_.outputs = std::clamp(plan.outputs, 0, 2);
  for (int32_t i = 0; i < BufferInfoCount(); ++i) {
    infos_[i].isInput = i < plan_.inputs ? ASIOTrue : ASIOFalse;
    infos_[i].channelNum = i < plan_.inputs ? i : i - plan_.inputs;
  }
  callbacks_.bufferSwitch = &StreamSession::BufferSwitch;
  callbacks_.sampleRateDidChange = &StreamSession::SampleRateDidChange;
  callbacks_.asioMessage = &StreamSession::AsioMessage;
  callbacks_.bufferSwitchTimeInfo = &StreamSession::BufferSwitchTimeInfo;
  if (plan.recordRingFrames > 0 && plan_.inputs > 0) {
    const size_t channels = static_cast<size_t>(plan_.inputs);
    ring_ = std::make_unique<SampleRing>(plan.recordRingFrames * channels);
    interleaved_.resize(static_cast<size_t>(std::max(plan.bufferSize, 0)) * channels);
  }
}

StreamSession::~StreamSession() { Deactivate(); }

void StreamSession::Activate(IASIO* driver) {
  driver_ = driver;
  active_.store(this, std::memory_order_release);
}

void StreamSession::Deactivate() {
  StreamSession* self = this;
  active_.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

std::vector<int64_t> StreamSession::Stamps() const {
  const size_t kept = static_cast<size_t>(std::min<uint64_t>(Switches(), stamps_.size()));
  return std::vector<int64_t>(stamps_.begin(), stamps_.begin() + kept);
}

std::vector<int64_t> StreamSession::Positions() const {
  const size_t kept = static_cast<size_t>(std::min<uint64_t>(Switches(), positions_.size()));
  return std::vector<int64_t>(positions_.begin(), positions_.begin() + kept);
}

size_t StreamSession::CapturedFrames() const {
  const uint64_t frames = Switches() * static_cast<uint64_t>(std::max(plan_.bufferSize, 0));
  return static_cast<size_t>(std::min<uint64_t>(frames, captured_.size()));
}

void StreamSession::OnBufferSwitch(int32_t index) {
  // Only this thread writes the count; others read it with acquire.
  const uint64_t n = switches_.load(std::memory_order_relaxed);
  const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  int64_t position = 0;
  ASIOSamples samples = {};
  ASIOTimeStamp stamp = {};
  if (driver_ != nullptr && driver_->getSamplePosition(&samples, &stamp) == ASE_OK) {
    position = static_cast<int64_t>(static_cast<uint64_t>(samples.hi) << 32 | samples.lo);
  }
  if (n < stamps_.size()) {
    stamps_[n] = now;
    positions_[n] = position;
  }
  if (n > 0 && !PositionStepIsContinuous(lastPosition_, position, plan_.bufferSize)) {
    positionBreaks_.fetch_add(1, std::memory_order_relaxed);
  }
  lastPosition_ = position;

  // A half index other than 0 or 1 would make every buffer access out of bounds.
  if (index != 0 && index != 1) {
    badIndexes_.fetch_add(1, std::memory_order_relaxed);
    switches_.store(n + 1, std::memory_order_release);
    return;
  }
  const size_t frames = static_cast<size_t>(plan_.bufferSize);
  // The half of channel `channel` (0 or 1) of one direction, or null when it is not streamed.
  auto half = [this, index](bool input, int channel) -> int32_t* {
    const int count = input ? plan_.inputs : plan_.outputs;
    if (channel >= count) return nullptr;
    const ASIOBufferInfo& info = infos_[(input ? 0 : plan_.inputs) + channel];
    return static_cast<int32_t*>(info.buffers[index]);
  };
  if (plan_.callbackLoad > 0 && plan_.sampleRate > 0) {
    const auto busy = std::chrono::nanoseconds(static_cast<int64_t>(
        plan_.callbackLoad * static_cast<double>(frames) * 1e9 / plan_.sampleRate));
    const auto until = std::chrono::steady_clock::now() + busy;
    while (std::chrono::steady_clock::now() < until) {
    }
  }
  signal_.Fill(half(false, 0), half(false, 1), frames);

  const int32_t* inputLeft = half(true, 0);
  if (ring_ != nullptr) {
    const size_t channels = static_cast<size_t>(plan_.inputs);
    for (size_t c = 0; c < channels; ++c) {
      const int32_t* input = half(true, static_cast<int>(c));
      for (size_t f = 0; f < frames; ++f) {
        interleaved_[channels * f + c] = input != nullptr ? input[f] : 0;
      }
    }
    if (!ring_->Push(interleaved_.data(), interleaved_.size())) {
      recordLost_.fetch_add(frames, std::memory_order_relaxed);
    }
  }
  const uint64_t at = n * frames;
  if (inputLeft != nullptr && at < captured_.size()) {
    const size_t count = std::min<size_t>(frames, captured_.size() - static_cast<size_t>(at));
    std::memcpy(captured_.data() + at, inputLeft, count * sizeof(int32_t));
  }
  switches_.store(n + 1, std::memory_order_release);
}

void StreamSession::BufferSwitch(int32_t index, ASIOBool) {
  StreamSession* session = active_.load(std::memory_order_acquire);
  if (session == nullptr) return;
  session->cpuMeter_.CallbackBegins();
  session->OnBufferSwitch(index);
  session->cpuMeter_.CallbackEnds();
}

ASIOTime* StreamSession::BufferSwitchTimeInfo(ASIOTime*, int32_t index, ASIOBool) {
  BufferSwitch(index, ASIOFalse);
  return nullptr;
}

void StreamSession::SampleRateDidChange(ASIOSampleRate) {}

int32_t StreamSession::AsioMessage(int32_t selector, int32_t value, void*, double*) {
  switch (selector) {
    case kAsioSelectorSupported:
      return value == kAsioEngineVersion || value == kAsioSupportsTimeInfo ||
                     value == kAsioResetRequest || value == kAsioLatenciesChanged
                 ? 1
                 : 0;
    case kAsioEngineVersion:
      return 2;
    case kAsioSupportsTimeInfo:
      return 1;
    case kAsioResetRequest: {
      // Noted for the report; a command-line run does not rebuild its buffers midway.
      StreamSession* session = active_.load(std::memory_order_acquire);
      if (session != nullptr) session->resetRequests_.fetch_add(1, std::memory_order_relaxed);
      return 1;
    }
    case kAsioLatenciesChanged:
      return 1;
    default:
      return 0;
  }
}

}  // namespace kx7host

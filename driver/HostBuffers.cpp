#include "driver/HostBuffers.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "driver/RunningStream.h"

namespace {

// Inputs the host did not ask for still get a block (both carry the microphone); they are never
// reported active.
constexpr int32_t kSpareChannel = 255;

// A 64-bit count as the two halves of the host's records.
void SplitInto(uint64_t value, uint32_t* hi, uint32_t* lo) {
  *hi = static_cast<uint32_t>(value >> 32);
  *lo = static_cast<uint32_t>(value);
}

}  // namespace

CHostBuffers::CHostBuffers(uint32_t size) : bufferSize(size) {}

CHostBuffers::~CHostBuffers() {
  for (HostChannel& channel : inputs) std::free(channel.block);
  for (HostChannel& channel : outputs) {
    std::free(channel.block);
    std::free(channel.floats);
  }
}

int32_t* CHostBuffers::AllocateBlock() const {
  // createBuffers admits only the advertised sizes, so a block is at most a few KiB.
  const size_t samples = 2 * static_cast<size_t>(bufferSize);
  return static_cast<int32_t*>(std::calloc(samples, sizeof(int32_t)));
}

ASIOError CHostBuffers::Create(ASIOBufferInfo* infos, int32_t numChannels, uint32_t size,
                               ASIOCallbacks* hostCallbacks, double sampleRate,
                               std::shared_ptr<CHostBuffers>* made) {
  made->reset();
  std::shared_ptr<CHostBuffers> host(new (std::nothrow) CHostBuffers(size));
  if (host == nullptr) return ASE_NoMemory;
  ASIOError error = ASE_OK;
  for (int32_t i = 0; i < numChannels && error == ASE_OK; ++i) host->AddChannel(infos[i], &error);
  while (error == ASE_OK && host->inputCount < kChannelsPerDirection) {
    HostChannel& spare = host->inputs[host->inputCount++];
    spare.number = kSpareChannel;
    spare.block = host->AllocateBlock();
    if (spare.block == nullptr) error = ASE_NoMemory;
  }
  if (error != ASE_OK) return error;

  host->callbacks = hostCallbacks;
  host->timeInfoMode = hostCallbacks->asioMessage != nullptr &&
                       hostCallbacks->asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) != 0;
  if (host->timeInfoMode) {
    ASIOTime& time = host->asioTime;
    time.timeInfo.speed = 1.0;
    time.timeInfo.sampleRate = sampleRate;
    time.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
    // The KX-7 reads no time code: the record says nothing in it is valid.
    time.timeCode.speed = 0.0;
    time.timeCode.flags = 0;
  }
  *made = std::move(host);
  return ASE_OK;
}

bool CHostBuffers::AddChannel(ASIOBufferInfo& info, ASIOError* error) {
  info.buffers[0] = nullptr;
  info.buffers[1] = nullptr;
  const bool input = info.isInput != 0;
  HostChannel* channels = input ? inputs : outputs;
  int32_t& count = input ? inputCount : outputCount;
  if (info.channelNum < 0 || info.channelNum >= kChannelsPerDirection) {
    *error = ASE_InvalidParameter;
    return false;
  }
  for (int32_t k = 0; k < count; ++k) {
    if (channels[k].number == info.channelNum) {
      *error = ASE_InvalidParameter;
      return false;
    }
  }
  HostChannel& channel = channels[count++];
  channel.number = info.channelNum;
  channel.block = AllocateBlock();
  if (!input) channel.floats = reinterpret_cast<float*>(AllocateBlock());
  if (channel.block == nullptr || (!input && channel.floats == nullptr)) {
    *error = ASE_NoMemory;
    return false;
  }
  activeMask |= (input ? 1u : 4u) << info.channelNum;
  info.buffers[0] = channel.block;
  info.buffers[1] = channel.block + bufferSize;
  return true;
}

float* CHostBuffers::CaptureHalf() const {
  if (inputs[0].block == nullptr) return nullptr;
  return reinterpret_cast<float*>(inputs[0].block) + HalfIndex() * bufferSize;
}

void CHostBuffers::CopyCaptureToOtherInputs() {
  const uint32_t start = HalfIndex() * bufferSize;
  for (int32_t c = 1; c < inputCount; ++c) {
    std::memcpy(inputs[c].block + start, inputs[0].block + start, bufferSize * sizeof(int32_t));
  }
}

void CHostBuffers::SilenceOtherInputs() {
  const uint32_t start = HalfIndex() * bufferSize;
  for (int32_t c = 1; c < inputCount; ++c) {
    std::memset(inputs[c].block + start, 0, bufferSize * sizeof(int32_t));
  }
}

const float* CHostBuffers::OutputFloats(int32_t side, uint32_t frame) const {
  for (int32_t c = 0; c < outputCount; ++c) {
    if (outputs[c].number == side) return outputs[c].floats + frame;
  }
  return nullptr;
}

void CHostBuffers::ResetForStart() {
  halfIndex.store(0, std::memory_order_relaxed);
  Publish(0, 0);
}

void CHostBuffers::Clear() {
  const size_t samples = 2 * static_cast<size_t>(bufferSize);
  for (int32_t c = 0; c < inputCount; ++c) std::memset(inputs[c].block, 0, samples * 4);
  for (int32_t c = 0; c < outputCount; ++c) std::memset(outputs[c].floats, 0, samples * 4);
}

bool CHostBuffers::Deliver(CRunningStream& run, uint32_t switchNumber, uint64_t stampNs,
                           double sampleRate) {
  // The first two switches of a start stand at 0; each one after them a buffer further.
  const uint64_t position = switchNumber > 2 ? uint64_t{switchNumber - 2} * bufferSize : 0;
  Publish(position, stampNs);
  const uint32_t index = HalfIndex();
  const uint32_t halfStart = index * bufferSize;
  for (int32_t c = 0; c < inputCount; ++c) {
    converter.Float32ToInt32InPlace(reinterpret_cast<float*>(inputs[c].block + halfStart),
                                    bufferSize);
  }
  const bool timeInfo = timeInfoMode && callbacks->bufferSwitchTimeInfo != nullptr;
  if (timeInfo) {
    asioTime.timeInfo.sampleRate = sampleRate;
    SplitInto(position, &asioTime.timeInfo.samplePosition.hi, &asioTime.timeInfo.samplePosition.lo);
    SplitInto(stampNs, &asioTime.timeInfo.systemTime.hi, &asioTime.timeInfo.systemTime.lo);
  }
  run.EnterHost();
  if (timeInfo) {
    callbacks->bufferSwitchTimeInfo(&asioTime, static_cast<int32_t>(index), ASIOFalse);
  } else if (callbacks->bufferSwitch != nullptr) {
    callbacks->bufferSwitch(static_cast<int32_t>(index), ASIOFalse);
  }
  // Let go during the callback: the driver may be gone; these buffers are still the run's.
  if (!run.LeaveHost()) return false;
  if (timeInfo) ClearTimeInfoFlags(kSampleRateChanged | kClockSourceChanged);
  for (int32_t c = 0; c < outputCount; ++c) {
    converter.Int32ToFloat32(outputs[c].block + halfStart, outputs[c].floats + halfStart,
                             bufferSize);
  }
  halfIndex.store(index ^ 1u, std::memory_order_relaxed);
  return true;
}

void CHostBuffers::Publish(uint64_t position, uint64_t stampNs) {
  // The halves are release stores, so a reader that sees either also sees the odd count before
  // it (no fences: the thread sanitizer does not model them).
  const uint32_t sequence = pairSequence.load(std::memory_order_relaxed);
  pairSequence.store(sequence + 1, std::memory_order_relaxed);
  pairPosition.store(position, std::memory_order_release);
  pairStamp.store(stampNs, std::memory_order_release);
  pairSequence.store(sequence + 2, std::memory_order_release);
}

void CHostBuffers::ReadPosition(ASIOSamples* position, ASIOTimeStamp* stamp) const {
  uint64_t frames = 0;
  uint64_t nanoseconds = 0;
  // One writer, which holds the record odd only for two stores.
  while (true) {
    const uint32_t before = pairSequence.load(std::memory_order_acquire);
    // Acquire loads: the count read after them is not read before them.
    frames = pairPosition.load(std::memory_order_acquire);
    nanoseconds = pairStamp.load(std::memory_order_acquire);
    if ((before & 1u) == 0 && pairSequence.load(std::memory_order_relaxed) == before) break;
  }
  SplitInto(frames, &position->hi, &position->lo);
  SplitInto(nanoseconds, &stamp->hi, &stamp->lo);
}

void CHostBuffers::SetTimeInfoFlags(uint32_t flags) {
  __atomic_fetch_or(&asioTime.timeInfo.flags, flags, __ATOMIC_RELAXED);
}

void CHostBuffers::ClearTimeInfoFlags(uint32_t flags) {
  __atomic_fetch_and(&asioTime.timeInfo.flags, ~flags, __ATOMIC_RELAXED);
}

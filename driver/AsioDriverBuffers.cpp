// Channels, double buffers and latencies. The driver always shows two inputs (both carrying the
// mono microphone) and two outputs, all ASIOSTInt32LSB.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/AsioDriver.h"
#include "product/Kx7Facts.h"

namespace {

constexpr int32_t kChannelsPerDirection = 2;
constexpr int32_t kSpareChannel = 255;
constexpr int32_t kPacketFrames = static_cast<int32_t>(kx7::kPacketFrames);
// Sizes whose blocks would exceed this are treated as an allocation failure: no host can use
// them, and committing them could exhaust the machine's memory once streaming touches them.
constexpr size_t kMaxBlockBytes = size_t{256} << 20;

}  // namespace

ASIOError CAsioDriver::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
  if (numInputChannels == nullptr || numOutputChannels == nullptr) return ASE_InvalidParameter;
  *numInputChannels = kChannelsPerDirection;
  *numOutputChannels = kChannelsPerDirection;
  return ASE_OK;
}

ASIOError CAsioDriver::getChannelInfo(ASIOChannelInfo* info) {
  if (info == nullptr) return ASE_InvalidParameter;
  if (info->channel < 0 || info->channel >= kChannelsPerDirection) return ASE_InvalidParameter;
  info->type = ASIOSTInt32LSB;
  info->channelGroup = 0;
  info->isActive = ASIOFalse;
  const bool isInput = info->isInput != 0;
  const uint32_t bit = (isInput ? 1u : 4u) << info->channel;
  if ((activeChannelMask.load(std::memory_order_acquire) & bit) != 0) info->isActive = ASIOTrue;
  std::snprintf(info->name, sizeof info->name, "%s%s", isInput ? "Microphone" : "Output",
                info->channel == 0 ? " L" : " R");
  return ASE_OK;
}

ASIOError CAsioDriver::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                     int32_t* granularity) {
  if (minSize == nullptr || maxSize == nullptr || preferredSize == nullptr ||
      granularity == nullptr) {
    return ASE_InvalidParameter;
  }
  *minSize = static_cast<int32_t>(kx7::kMinBufferSize);
  *maxSize = static_cast<int32_t>(kx7::kMaxBufferSize);
  *preferredSize =
      static_cast<int32_t>(kx7::PreferredOfferedBufferSize(settings.preferredBufferSize.load()));
  *granularity = -1;
  return ASE_OK;
}

ASIOError CAsioDriver::getLatencies(int32_t* inputLatencyOut, int32_t* outputLatencyOut) {
  if (inputLatencyOut == nullptr || outputLatencyOut == nullptr) return ASE_InvalidParameter;
  *inputLatencyOut = static_cast<int32_t>(inputLatency.load(std::memory_order_relaxed));
  *outputLatencyOut = static_cast<int32_t>(outputLatency.load(std::memory_order_relaxed));
  return ASE_OK;
}

int32_t* CAsioDriver::AllocateBufferBlock() const {
  const size_t samples = 2 * static_cast<size_t>(bufferSize);
  if (samples * sizeof(int32_t) > kMaxBlockBytes) return nullptr;
  return static_cast<int32_t*>(std::calloc(samples, sizeof(int32_t)));
}

void CAsioDriver::FreeBuffers() {
  activeChannelMask.store(0, std::memory_order_release);
  for (int32_t k = 0; k < activeInputs; ++k) {
    std::free(inputBuffers[k]);
    inputBuffers[k] = nullptr;
  }
  activeInputs = 0;
  for (int32_t k = 0; k < activeOutputs; ++k) {
    std::free(outputBuffers[k]);
    std::free(outputFloatBuffers[k]);
    outputBuffers[k] = nullptr;
    outputFloatBuffers[k] = nullptr;
  }
  activeOutputs = 0;
}

ASIOError CAsioDriver::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,
                                     int32_t requestedSize, ASIOCallbacks* hostCallbacks) {
  return HostCall<ASIOError>(ASE_NoMemory, [&] {
    return CreateBuffers(bufferInfos, numChannels, requestedSize, hostCallbacks);
  });
}

ASIOError CAsioDriver::CreateBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,
                                     int32_t requestedSize, ASIOCallbacks* hostCallbacks) {
  // The streaming thread still uses the buffers while it runs the host's callback.
  if (OnStreamThread()) return ASE_InvalidMode;
  const TransportScope scope(this);
  if (!scope.Entered()) return ASE_InvalidMode;
  ReleaseBuffers();
  if ((numChannels > 0 && bufferInfos == nullptr) || hostCallbacks == nullptr) {
    return ASE_InvalidParameter;
  }
  // The streaming cycle moves whole packets of 64 frames: any other size would overrun a half.
  // Only the advertised range streams: larger halves fail the start handshake at low rates.
  if (requestedSize < static_cast<int32_t>(kx7::kMinBufferSize) ||
      requestedSize > static_cast<int32_t>(kx7::kMaxBufferSize) ||
      requestedSize % kPacketFrames != 0) {
    return ASE_InvalidMode;
  }

  bufferSize = static_cast<uint32_t>(requestedSize);
  // The host's input half is one period old when it gets it; its output half reaches the
  // device behind what the device still holds then.
  inputLatency.store(bufferSize, std::memory_order_relaxed);
  outputLatency.store(kx7::OutputLatencyFrames(bufferSize), std::memory_order_relaxed);

  bool allocationFailed = false;
  for (int32_t i = 0; i < numChannels; ++i) {
    ASIOBufferInfo& info = bufferInfos[i];
    if (info.channelNum < 0 || info.channelNum >= kChannelsPerDirection) {
      ReleaseBuffers();
      return ASE_InvalidParameter;
    }
    int32_t* block = nullptr;
    if (info.isInput != 0) {
      if (activeInputs >= kChannelsPerDirection) {
        ReleaseBuffers();
        return ASE_InvalidParameter;
      }
      block = AllocateBufferBlock();
      inputChannels[activeInputs] = info.channelNum;
      inputBuffers[activeInputs++] = block;
    } else {
      if (activeOutputs >= kChannelsPerDirection) {
        ReleaseBuffers();
        return ASE_InvalidParameter;
      }
      block = AllocateBufferBlock();
      float* floatBlock = reinterpret_cast<float*>(AllocateBufferBlock());
      if (block == nullptr || floatBlock == nullptr) {
        std::free(block);
        std::free(floatBlock);
        block = nullptr;
        floatBlock = nullptr;
      }
      outputChannels[activeOutputs] = info.channelNum;
      outputFloatBuffers[activeOutputs] = floatBlock;
      outputBuffers[activeOutputs++] = block;
    }
    if (block == nullptr) {
      allocationFailed = true;
      info.buffers[0] = nullptr;
      info.buffers[1] = nullptr;
    } else {
      info.buffers[0] = block;
      info.buffers[1] = block + bufferSize;
    }
  }
  if (allocationFailed) {
    ReleaseBuffers();
    return ASE_NoMemory;
  }

  // Two input buffers exist in every case; spares carry channel 255 and are never reported.
  while (activeInputs < kChannelsPerDirection) {
    int32_t* block = AllocateBufferBlock();
    if (block == nullptr) {
      ReleaseBuffers();
      return ASE_NoMemory;
    }
    inputChannels[activeInputs] = kSpareChannel;
    inputBuffers[activeInputs++] = block;
  }

  uint32_t mask = 0;
  for (int32_t k = 0; k < activeInputs; ++k) {
    if (inputChannels[k] != kSpareChannel) mask |= 1u << inputChannels[k];
  }
  for (int32_t k = 0; k < activeOutputs; ++k) mask |= 4u << outputChannels[k];
  activeChannelMask.store(mask, std::memory_order_release);

  callbacks = hostCallbacks;
  const bool supportsTimeInfo =
      callbacks->asioMessage != nullptr &&
      callbacks->asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) != 0;
  timeInfoMode = supportsTimeInfo;
  if (timeInfoMode) {
    asioTime.timeInfo.speed = 1.0;
    asioTime.timeInfo.systemTime = {0, 0};
    asioTime.timeInfo.samplePosition = {0, 0};
    asioTime.timeInfo.sampleRate = sampleRate;
    __atomic_store_n(
        &asioTime.timeInfo.flags,
        static_cast<uint32_t>(kSystemTimeValid | kSamplePositionValid | kSampleRateValid),
        __ATOMIC_RELAXED);
    // The KX-7 reads no time code: the record says nothing in it is valid.
    asioTime.timeCode.speed = 0.0;
    asioTime.timeCode.timeCodeSamples = {0, 0};
    asioTime.timeCode.flags = 0;
  }
  return ASE_OK;
}

ASIOError CAsioDriver::disposeBuffers() {
  return HostCall<ASIOError>(ASE_InvalidMode, [this] { return DisposeBuffers(); });
}

ASIOError CAsioDriver::DisposeBuffers() {
  // The streaming thread still uses the buffers while it runs the host's callback.
  if (OnStreamThread()) return ASE_InvalidMode;
  const TransportScope scope(this);
  if (!scope.Entered()) return ASE_InvalidMode;
  ReleaseBuffers();
  return ASE_OK;
}

void CAsioDriver::ReleaseBuffers() {
  EndStream();
  callbacks = nullptr;
  FreeBuffers();
}

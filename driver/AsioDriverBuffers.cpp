// Channels, double buffers and latencies. The driver always shows two inputs (both carrying the
// mono microphone) and two outputs, all ASIOSTInt32LSB.
#include <cstdio>
#include <cstring>

#include "driver/AsioDriver.h"
#include "product/Kx7Facts.h"

namespace {

constexpr int32_t kChannelsPerDirection = CHostBuffers::kChannelsPerDirection;
constexpr int32_t kPacketFrames = static_cast<int32_t>(kx7::kPacketFrames);

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

  const auto bufferSize = static_cast<uint32_t>(requestedSize);
  // The host's input half is one period old when it gets it; its output half reaches the
  // device behind what the device still holds then.
  inputLatency.store(bufferSize, std::memory_order_relaxed);
  outputLatency.store(kx7::OutputLatencyFrames(bufferSize), std::memory_order_relaxed);
  std::shared_ptr<CHostBuffers> host;
  const ASIOError made = CHostBuffers::Create(bufferInfos, numChannels, bufferSize, hostCallbacks,
                                              sampleRate.load(), &host);
  if (made != ASE_OK) return made;
  activeChannelMask.store(host->ActiveMask(), std::memory_order_release);
  std::atomic_store(&hostBuffers, std::move(host));
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
  activeChannelMask.store(0, std::memory_order_release);
  std::atomic_store(&hostBuffers, std::shared_ptr<CHostBuffers>());
}

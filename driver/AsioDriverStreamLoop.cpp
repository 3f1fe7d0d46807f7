// The streaming loop: paced by the render packets' completions, it drains the capture packets
// that are due into the current input half, feeds the render pin 64 frames at a time from the
// current output half, and at the end of each half hands both halves to the host.
#include <cstring>
#include <new>

#include "driver/AsioDriver.h"
#include "driver/WordSplit.h"
#include "ks/KsAudPin.h"
#include "streaming/InputCaptureKS.h"
#include "streaming/OutputRenderKS.h"

namespace {

constexpr uint32_t kPacketCount = 4;
constexpr uint32_t kCaptureSamples = 64;
constexpr uint32_t kRenderSamples = 128;
constexpr uint32_t kBlockFrames = 64;
constexpr DWORD kRenderWaitMs = 500;
constexpr DWORD kIdlePollMs = 100;
constexpr uint32_t kSilentCycles = 4;

// Streams are made with a nothrow allocation and dropped when their storage is missing.
template <typename Stream, typename Pin>
Stream* NewStream(uint32_t samples, Pin* pin) {
  if (pin == nullptr) return nullptr;
  HRESULT hr = E_FAIL;
  auto* stream = new (std::nothrow) Stream(kPacketCount, samples, pin, &hr);
  if (stream != nullptr && FAILED(hr)) {
    delete stream;
    stream = nullptr;
  }
  return stream;
}

}  // namespace

void CAsioDriver::RunStreamLoop() {
  const uint32_t halfSize = bufferSize;
  for (int32_t c = 0; c < activeInputs; ++c) {
    if (inputBuffers[c] != nullptr) std::memset(inputBuffers[c], 0, 2 * halfSize * sizeof(int32_t));
  }
  for (int32_t c = 0; c < activeOutputs; ++c) {
    if (outputFloatBuffers[c] != nullptr) {
      std::memset(outputFloatBuffers[c], 0, 2 * halfSize * sizeof(float));
    }
  }
  int32_t renderBlock[kRenderSamples] = {};
  uint32_t renderFrames = 0;
  uint32_t captureFrames = 0;
  uint32_t pendingCapture = 0;
  bool synced = false;
  bool fadeInPending = true;

  CInputCapture* capture = NewStream<CInputCaptureKS>(kCaptureSamples, capturePin);
  COutputRender* render = NewStream<COutputRenderKS>(kRenderSamples, renderPin);
  if (capture == nullptr || render == nullptr) {
    // Without both streams no buffer switch can happen; the start handshake gives up.
    while (!stopStreaming.load(std::memory_order_relaxed)) Sleep(kIdlePollMs);
    delete capture;
    delete render;
    return;
  }
  render->Start();
  capture->Start();
  latencyCount.store(halfSize, std::memory_order_relaxed);

  float* const captureHalf = inputBuffers[0] != nullptr && activeInputs >= 1
                                 ? reinterpret_cast<float*>(inputBuffers[0])
                                 : nullptr;
  while (true) {
    const bool completed = render->WaitPacket(kRenderWaitMs);
    if (stopStreaming.load(std::memory_order_relaxed)) break;
    if (!completed) continue;
    const uint32_t halfStart = bufferIndex.load(std::memory_order_relaxed) * halfSize;

    if (synced) {
      ++pendingCapture;
    } else {
      latencyCount.fetch_add(kBlockFrames, std::memory_order_relaxed);
    }
    while ((pendingCapture > 0 || !synced) && captureFrames < halfSize && capture->WaitPacket(0)) {
      if (!synced) {
        synced = true;
        captureFrames = renderFrames;
      } else {
        --pendingCapture;
      }
      const int32_t* samples = capture->GetData();
      const uint32_t frames = capture->GetFrameCount();
      // Frames that would cross the end of the half are dropped but still counted, so the
      // half ends with a drop-out and the latency figure loses them.
      const uint32_t room = halfSize - captureFrames;
      const uint32_t copied = frames < room ? frames : room;
      if (captureHalf != nullptr && samples != nullptr) {
        converter.CaptureInt32ToFloat(samples, captureHalf + halfStart + captureFrames, copied);
      }
      captureFrames += frames;
      capture->ReleasePacket();
    }

    const uint32_t cycle = cycleCount.load(std::memory_order_relaxed);
    if (cycle < kSilentCycles) {
      std::memset(renderBlock, 0, sizeof renderBlock);
    } else {
      const uint32_t first = halfStart + renderFrames;
      const auto channel = [&](int32_t c) -> const float* {
        return c < activeOutputs && outputFloatBuffers[c] != nullptr ? outputFloatBuffers[c] + first
                                                                     : nullptr;
      };
      converter.RenderFloatToInt32Block(channel(0), channel(1), renderBlock, kBlockFrames,
                                        fadeInPending);
      fadeInPending = false;
    }
    renderFrames += kBlockFrames;

    if (renderFrames >= halfSize) {
      if (synced && renderFrames != captureFrames) {
        dropOutCount.fetch_add(1, std::memory_order_relaxed);
        latencyCount.fetch_add(renderFrames - captureFrames, std::memory_order_relaxed);
      }
      for (int32_t c = 1; c < activeInputs; ++c) {
        if (inputBuffers[c] != nullptr && inputBuffers[0] != nullptr) {
          std::memcpy(inputBuffers[c] + halfStart, inputBuffers[0] + halfStart,
                      halfSize * sizeof(int32_t));
        }
      }
      DeliverCycle();
      cycleCount.fetch_add(1, std::memory_order_release);
      renderFrames = 0;
      captureFrames = 0;
      pendingCapture = 0;
    }
    render->WriteFrames(renderBlock);
    render->Submit();
  }
  delete capture;
  delete render;
}

void CAsioDriver::DeliverCycle() {
  if (callbacks == nullptr) return;
  const double now = static_cast<double>(timeGetTime()) * 1000000.0;
  const SplitWords stamp = SplitIntoWords(now);
  systemTime.store((static_cast<uint64_t>(stamp.hi) << 32) | stamp.lo, std::memory_order_relaxed);
  if (running.load(std::memory_order_relaxed)) {
    samplePosition.store(samplePosition.load(std::memory_order_relaxed) + bufferSize,
                         std::memory_order_relaxed);
  }
  const uint32_t index = bufferIndex.load(std::memory_order_relaxed);
  const uint32_t halfStart = index * bufferSize;
  for (int32_t c = 0; c < activeInputs; ++c) {
    if (inputBuffers[c] == nullptr) continue;
    converter.Float32ToInt32InPlace(reinterpret_cast<float*>(inputBuffers[c] + halfStart),
                                    bufferSize);
  }
  if (timeInfoMode && callbacks->bufferSwitchTimeInfo != nullptr) {
    getSamplePosition(&asioTime.timeInfo.samplePosition, &asioTime.timeInfo.systemTime);
    callbacks->bufferSwitchTimeInfo(&asioTime, static_cast<int32_t>(index), ASIOFalse);
    ClearTimeInfoFlags(kSampleRateChanged | kClockSourceChanged);
  } else if (callbacks->bufferSwitch != nullptr) {
    callbacks->bufferSwitch(static_cast<int32_t>(index), ASIOFalse);
  }
  for (int32_t c = 0; c < activeOutputs; ++c) {
    if (outputBuffers[c] == nullptr || outputFloatBuffers[c] == nullptr) continue;
    converter.Int32ToFloat32(outputBuffers[c] + halfStart, outputFloatBuffers[c] + halfStart,
                             bufferSize);
  }
  bufferIndex.store(index ^ 1u, std::memory_order_relaxed);
}

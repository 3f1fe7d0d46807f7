// The streaming loop: paced by the render packets' completions, it takes every completed capture
// packet into the current input half, feeds the render pin 64 frames at a time from the current
// output half, and at the end of each half hands both halves to the host.
#include <cstring>
#include <new>

#include "driver/AsioDriver.h"
#include "driver/CaptureHalf.h"
#include "driver/WordSplit.h"
#include "ks/KsAudPin.h"
#include "product/Kx7Facts.h"
#include "streaming/InputCaptureKS.h"
#include "streaming/OutputRenderKS.h"

namespace {

constexpr uint32_t kPacketCount = kx7::kPacketsInFlight;
constexpr uint32_t kCaptureSamples = kx7::kPacketFrames * kx7::kCaptureChannels;
constexpr uint32_t kRenderSamples = kx7::kPacketFrames * kx7::kRenderChannels;
constexpr uint32_t kBlockFrames = kx7::kPacketFrames;
constexpr DWORD kRenderWaitMs = 500;
constexpr DWORD kIdlePollMs = 100;
constexpr uint32_t kSilentCycles = 4;

// Streams are made with a nothrow allocation and dropped when their pin refused to pause or
// their storage is missing; `hr` tells which.
template <typename Stream, typename Pin>
Stream* NewStream(uint32_t samples, Pin* pin, HRESULT* hr) {
  *hr = E_FAIL;
  if (pin == nullptr) return nullptr;
  auto* stream = new (std::nothrow) Stream(kPacketCount, samples, pin, hr);
  if (stream == nullptr) *hr = E_OUTOFMEMORY;
  if (stream != nullptr && FAILED(*hr)) {
    delete stream;
    stream = nullptr;
  }
  return stream;
}

// Why the streams could not run: a pin that no longer answers is gone, any other refusal (for
// example no USB bandwidth for the pin) is the hardware's.
ASIOError StreamFailureOf(CKsAudPin* pin, HRESULT hr) {
  if (hr == E_OUTOFMEMORY || pin == nullptr) return ASE_HWMalfunction;
  KSSTATE state = KSSTATE_STOP;
  return SUCCEEDED(pin->GetState(&state)) ? ASE_HWMalfunction : ASE_NotPresent;
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
  bool synced = false;
  bool fadeInPending = true;
  // The half whose frames have all gone to the render pin while its capture is still coming.
  bool halfDue = false;
  CCaptureHalf captured;

  HRESULT captureResult = E_FAIL;
  HRESULT renderResult = E_FAIL;
  CInputCapture* capture = NewStream<CInputCaptureKS>(kCaptureSamples, capturePin, &captureResult);
  COutputRender* render = NewStream<COutputRenderKS>(kRenderSamples, renderPin, &renderResult);
  if (capture != nullptr && render != nullptr) {
    renderResult = render->Start();
    if (SUCCEEDED(renderResult)) captureResult = capture->Start();
  }
  if (FAILED(captureResult) || FAILED(renderResult)) {
    // Without both streams running no buffer switch can happen: the start handshake is told
    // why at once rather than after its time-out.
    streamFailure.store(FAILED(renderResult) ? StreamFailureOf(renderPin, renderResult)
                                             : StreamFailureOf(capturePin, captureResult),
                        std::memory_order_release);
    while (!stopStreaming.load(std::memory_order_relaxed)) Sleep(kIdlePollMs);
    delete capture;
    delete render;
    return;
  }
  latencyCount.store(halfSize, std::memory_order_relaxed);

  float* const captureBuffer = inputBuffers[0] != nullptr && activeInputs >= 1
                                   ? reinterpret_cast<float*>(inputBuffers[0])
                                   : nullptr;
  auto currentHalf = [&] {
    return captureBuffer != nullptr
               ? captureBuffer + bufferIndex.load(std::memory_order_relaxed) * halfSize
               : nullptr;
  };
  // Takes every capture packet that has completed, in order, into the current half at the
  // capture position; the first one with data aligns capture with render. A completion that
  // carries no data is handed back without counting. False when none had completed.
  auto drainCapture = [&] {
    bool took = false;
    while (capture->WaitPacket(0)) {
      took = true;
      const uint32_t frames = capture->GetFrameCount();
      if (frames != 0) {
        if (!synced) {
          synced = true;
          captured.AlignTo(renderFrames);
        }
        captured.Take(converter, capture->GetData(), frames, currentHalf(), halfSize);
      }
      capture->ReleasePacket();
    }
    return took;
  };
  // Ends the half: a drop-out when capture did not fill it exactly, then the host's turn.
  auto deliverHalf = [&] {
    halfDue = false;
    const uint32_t halfStart = bufferIndex.load(std::memory_order_relaxed) * halfSize;
    if (synced && (captured.Frames() != halfSize || captured.Dropped() != 0)) {
      dropOutCount.fetch_add(1, std::memory_order_relaxed);
      latencyCount.fetch_add(halfSize - captured.Frames() - captured.Dropped(),
                             std::memory_order_relaxed);
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
    captured.NextHalf(currentHalf(), halfSize);
  };

  while (true) {
    // Render completions pace the loop; once capture is aligned, its completions wake the loop
    // too, so the device gets its reads back at once whatever the phase of the two pins.
    HANDLE events[2] = {render->AwaitedEvent(), synced ? capture->AwaitedEvent() : nullptr};
    const DWORD eventCount = events[1] != nullptr ? 2 : 1;
    const DWORD woke = WaitForMultipleObjects(eventCount, events, FALSE, kRenderWaitMs);
    if (stopStreaming.load(std::memory_order_relaxed)) break;
    if (woke == WAIT_OBJECT_0 + 1) {
      if (!drainCapture()) capture->DismissWake();
      if (halfDue && captured.Frames() >= halfSize) deliverHalf();
      continue;
    }
    // Whether a packet is done is read from its request, without a call; an event that woke the
    // loop for nothing carried the late signal of a completion already taken.
    if (!render->WaitPacket(0)) {
      if (woke == WAIT_OBJECT_0) render->DismissWake();
      continue;
    }
    // Capture that did not fill the due half before this render packet came back is late.
    if (halfDue) deliverHalf();
    const uint32_t halfStart = bufferIndex.load(std::memory_order_relaxed) * halfSize;

    if (!synced) latencyCount.fetch_add(kBlockFrames, std::memory_order_relaxed);
    drainCapture();

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
      // Capture still short of the half waits for its next packet, up to the next render one.
      halfDue = true;
      if (!synced || captured.Frames() >= halfSize) deliverHalf();
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
    // setSampleRate leaves the record to this thread while it runs.
    asioTime.timeInfo.sampleRate = sampleRate.load(std::memory_order_relaxed);
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

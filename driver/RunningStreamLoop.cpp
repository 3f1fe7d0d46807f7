// The streaming loop: paced by the render packets' completions, it takes every completed capture
// packet into the current input half, feeds the render pin 64 frames at a time from the current
// output half, and at the end of each half hands both halves to the host.
#include <cstring>
#include <new>

#include "driver/AsioDriver.h"
#include "driver/RunningStream.h"
#include "driver/StartFailureText.h"
#include "ks/KsAudPin.h"
#include "streaming/InputCaptureKS.h"
#include "streaming/OutputRenderKS.h"

namespace {

constexpr uint32_t kPacketCount = kx7::kPacketsInFlight;
constexpr uint32_t kCaptureSamples = kx7::kPacketFrames * kx7::kCaptureChannels;
constexpr uint32_t kRenderSamples = kx7::kPacketFrames * kx7::kRenderChannels;
constexpr uint32_t kBlockFrames = kx7::kPacketFrames;
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

// Holds the system timer at a finer resolution while it lives.
class TimerResolution {
 public:
  explicit TimerResolution(UINT milliseconds)
      : period(timeBeginPeriod(milliseconds) == TIMERR_NOERROR ? milliseconds : 0) {}
  ~TimerResolution() {
    if (period != 0) timeEndPeriod(period);
  }
  TimerResolution(const TimerResolution&) = delete;
  TimerResolution& operator=(const TimerResolution&) = delete;

 private:
  const UINT period;
};

}  // namespace

void CRunningStream::RunLoop() {
  ClearHostHalves();
  if (!OpenStreams()) {
    IdleUntilStopped();
    CloseStreams();
    return;
  }
  binding.latencyCount->store(binding.bufferSize, std::memory_order_relaxed);
  bool attached = true;
  while (attached) {
    const Wake wake = AwaitCompletion();
    switch (wake) {
      case Wake::Stop:
        attached = false;
        break;
      case Wake::Capture:
        OnCaptureWake(&attached);
        break;
      case Wake::Render:
        attached = OnRenderPacket();
        break;
      case Wake::Nothing:
        break;
    }
    // A device that failed or went silent is ridden out on the silence clock until it streams
    // again; a rate asked for restarts the pins.
    if (attached) attached = TendDevice(wake);
  }
  CloseStreams();
}

bool CRunningStream::DeviceFailed() {
  // Each is read once per wake: whether a request completed with an error or was refused.
  const bool refused = render->TakeRefusal() | capture->TakeRefusal();
  return refused || captureFailed || render->PacketFailed();
}

bool CRunningStream::RunSilenceClock() {
  const uint32_t halfSize = binding.bufferSize;
  double due = 0.0;  // milliseconds after t0 at which the next half ends
  // The host's period goes on from its latest switch. Its waits are a few milliseconds: the
  // system timer is asked for 1 ms resolution meanwhile (on Windows its default is 15.6 ms).
  const TimerResolution fineTimer(1);
  const DWORD t0 = LatestSwitchTime();
  while (!StopRequested()) {
    const double periodMs = halfSize * 1000.0 / CurrentRate();
    due += periodMs;
    const double now = static_cast<double>(timeGetTime() - t0);
    // A clock that fell far behind (a machine that slept) starts afresh rather than catching up.
    if (now > due + 4 * periodMs) due = now;
    // Until the half is due; the silence ends when the device streams again.
    if (!AwaitSilentHalf(t0, due)) break;
    // Silence in: the half holds nothing of the device. The host's output goes nowhere.
    captured.NextHalf(CurrentCaptureHalf(), halfSize);
    for (int32_t c = 1; c < binding.activeInputs; ++c) {
      if (binding.inputBuffers[c] != nullptr) {
        std::memset(binding.inputBuffers[c] + HalfStart(), 0, halfSize * sizeof(int32_t));
      }
    }
    if (!binding.driver->DeliverCycle(*this)) return false;
    cycleCount.fetch_add(1, std::memory_order_release);
  }
  return true;
}

void CRunningStream::ClearHostHalves() {
  const size_t samples = 2 * static_cast<size_t>(binding.bufferSize);
  for (int32_t c = 0; c < binding.activeInputs; ++c) {
    if (binding.inputBuffers[c] != nullptr) {
      std::memset(binding.inputBuffers[c], 0, samples * sizeof(int32_t));
    }
  }
  for (int32_t c = 0; c < binding.activeOutputs; ++c) {
    if (binding.outputFloatBuffers[c] != nullptr) {
      std::memset(binding.outputFloatBuffers[c], 0, samples * sizeof(float));
    }
  }
}

bool CRunningStream::OpenStreams() {
  HRESULT captureResult = E_FAIL;
  HRESULT renderResult = E_FAIL;
  capture = NewStream<CInputCaptureKS>(kCaptureSamples, device.capturePin, &captureResult);
  render = NewStream<COutputRenderKS>(kRenderSamples, device.renderPin, &renderResult);
  if (capture != nullptr && render != nullptr) {
    renderResult = render->Start();
    if (SUCCEEDED(renderResult)) captureResult = capture->Start();
  }
  quickRequeues = kPacketCount;
  if (SUCCEEDED(captureResult) && SUCCEEDED(renderResult)) return true;
  // Without both streams running no buffer switch can happen: the start handshake is told why
  // at once rather than after its time-out.
  streamFailure.store(FAILED(renderResult) ? StreamFailureOf(device.renderPin, renderResult)
                                           : StreamFailureOf(device.capturePin, captureResult),
                      std::memory_order_release);
  return false;
}

void CRunningStream::IdleUntilStopped() {
  while (!StopRequested()) WaitForSingleObject(stopEvent, kIdlePollMs);
}

void CRunningStream::CloseStreams() {
  if (capture == nullptr && render == nullptr) return;
  // Capture first: its pin stops before the render pin that paces it.
  delete capture;
  delete render;
  capture = nullptr;
  render = nullptr;
}

CRunningStream::Wake CRunningStream::AwaitCompletion() {
  // Render completions pace the loop; once capture is aligned, its completions wake the loop
  // too, so the device gets its reads back at once whatever the phase of the two pins. A stop
  // wakes it at once.
  HANDLE events[4] = {stopEvent, render->AwaitedEvent(), nullptr, nullptr};
  DWORD count = 2;
  if (synced) {
    events[2] = capture->AwaitedEvent();
    if (events[2] != nullptr) count = 3;
  }
  // A request of the host's (a new rate) wakes the loop too.
  if (controlEvent != nullptr) events[count++] = controlEvent;
  const DWORD woke = WaitForMultipleObjects(count, events, FALSE, StallWaitMs());
  if (StopRequested()) return Wake::Stop;
  if (woke == WAIT_OBJECT_0 + 2 && events[2] != controlEvent) return Wake::Capture;
  // Whether a packet is done is read from its request, without a call; an event that woke the
  // loop for nothing carried the late signal of a completion already taken.
  if (!render->WaitPacket(0)) {
    if (woke == WAIT_OBJECT_0 + 1) render->DismissWake();
    return Wake::Nothing;
  }
  return Wake::Render;
}

void CRunningStream::OnCaptureWake(bool* attached) {
  if (!DrainCapture()) capture->DismissWake();
  if (halfDue && captured.Frames() >= binding.bufferSize) *attached = EndHalf();
}

bool CRunningStream::OnRenderPacket() {
  // Capture that did not fill the due half before this render packet came back is late.
  if (halfDue && !EndHalf()) return false;
  const uint32_t halfStart = HalfStart();
  if (!synced) binding.latencyCount->fetch_add(kBlockFrames, std::memory_order_relaxed);
  DrainCapture();
  FillRenderBlock(halfStart);
  renderFrames += kBlockFrames;
  if (renderFrames >= binding.bufferSize) {
    // Capture still short of the half waits for its next packet, up to the next render one.
    halfDue = true;
    if ((!synced || captured.Frames() >= binding.bufferSize) && !EndHalf()) return false;
  }
  render->WriteFrames(renderBlock);
  render->Submit();
  return true;
}

bool CRunningStream::DrainCapture() {
  // At most one ring's worth per wake: a pin that hands its reads back at once cannot keep the
  // thread here.
  bool took = false;
  for (uint32_t k = 0; k < kPacketCount && capture->WaitPacket(0); ++k) {
    took = true;
    if (capture->PacketFailed()) captureFailed = true;
    const uint32_t frames = capture->GetFrameCount();
    if (frames != 0) {
      if (!synced) {
        synced = true;
        captured.AlignTo(renderFrames);
      }
      captured.Take(binding.converter, capture->GetData(), frames, CurrentCaptureHalf(),
                    binding.bufferSize);
      capture->ReleasePacket();
    } else if (quickRequeues > 0) {
      // Empty or failed reads go back at once only up to one ring's worth per half; after that
      // they wait for the half's end.
      --quickRequeues;
      capture->ReleasePacket();
    } else {
      capture->HoldPacket();
    }
  }
  return took;
}

void CRunningStream::FillRenderBlock(uint32_t halfStart) {
  if (cycleCount.load(std::memory_order_relaxed) < kSilentCycles) {
    std::memset(renderBlock, 0, sizeof renderBlock);
    return;
  }
  const uint32_t first = halfStart + renderFrames;
  const auto channel = [&](int32_t c) -> const float* {
    return c < binding.activeOutputs && binding.outputFloatBuffers[c] != nullptr
               ? binding.outputFloatBuffers[c] + first
               : nullptr;
  };
  binding.converter.RenderFloatToInt32Block(channel(0), channel(1), renderBlock, kBlockFrames,
                                            fadeInPending);
  fadeInPending = false;
}

bool CRunningStream::EndHalf() {
  // Ends the half: a drop-out when capture did not fill it exactly, then the host's turn.
  halfDue = false;
  const uint32_t halfSize = binding.bufferSize;
  const uint32_t halfStart = HalfStart();
  if (synced && (captured.Frames() != halfSize || captured.Dropped() != 0)) {
    binding.dropOutCount->fetch_add(1, std::memory_order_relaxed);
    binding.latencyCount->fetch_add(halfSize - captured.Frames() - captured.Dropped(),
                                    std::memory_order_relaxed);
  }
  for (int32_t c = 1; c < binding.activeInputs; ++c) {
    if (binding.inputBuffers[c] != nullptr && binding.inputBuffers[0] != nullptr) {
      std::memcpy(binding.inputBuffers[c] + halfStart, binding.inputBuffers[0] + halfStart,
                  halfSize * sizeof(int32_t));
    }
  }
  if (!binding.driver->DeliverCycle(*this)) return false;
  cycleCount.fetch_add(1, std::memory_order_release);
  renderFrames = 0;
  captured.NextHalf(CurrentCaptureHalf(), halfSize);
  // Reads held back this half go out again, within the same one-ring budget per half.
  const uint32_t held = capture->HeldCount();
  capture->RequeueHeld();
  quickRequeues = kPacketCount - held;
  return true;
}

uint32_t CRunningStream::HalfStart() const {
  return binding.bufferIndex->load(std::memory_order_relaxed) * binding.bufferSize;
}

float* CRunningStream::CurrentCaptureHalf() const {
  if (binding.activeInputs < 1 || binding.inputBuffers[0] == nullptr) return nullptr;
  return reinterpret_cast<float*>(binding.inputBuffers[0]) + HalfStart();
}

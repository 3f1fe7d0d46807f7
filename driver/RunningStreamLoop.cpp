// The streaming loop. The render pin starts with its whole ring of silence queued: the output
// latency and the half the host fills next. Each capture packet goes to its place in the current
// input half; a complete half goes to the host, and the output half it has just filled goes to
// the render pin at once, into the packets that have come back. So at every buffer switch the
// device still holds the output latency's frames, and the host has its whole period and more.
#include <cstring>
#include <new>

#include "driver/RunningStream.h"
#include "driver/StartFailureText.h"
#include "ks/KsAudPin.h"
#include "streaming/InputCaptureKS.h"
#include "streaming/OutputRenderKS.h"

namespace {

constexpr uint32_t kCaptureSamples = kx7::kPacketFrames * kx7::kCaptureChannels;
constexpr uint32_t kRenderSamples = kx7::kPacketFrames * kx7::kRenderChannels;
constexpr uint32_t kBlockFrames = kx7::kPacketFrames;
constexpr DWORD kIdlePollMs = 100;
// The host's first two output halves are played as silence, and the first block of the third
// fades in: a host's first buffers are often not yet its signal.
constexpr uint32_t kSilentHalves = 2;
// How long after render has passed a half's end its capture may still come: longer than the
// completion delays of USB frames and URBs, and shorter than the output margin, so a lost packet
// costs the host part of its margin but never its output.
constexpr uint64_t kCaptureGraceFrames = kx7::kOutputMarginFrames;
constexpr double kHundredNanosecondsPerSecond = 1e7;

// Streams are made with a nothrow allocation and dropped when their pin refused to pause or
// their storage is missing; `hr` tells which.
template <typename Stream, typename Pin, typename... Rest>
Stream* NewStream(uint32_t packets, uint32_t samples, Pin* pin, HRESULT* hr, Rest... rest) {
  *hr = E_FAIL;
  if (pin == nullptr) return nullptr;
  auto* stream = new (std::nothrow) Stream(packets, samples, pin, hr, rest...);
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
  ResetStreamState();
  bool attached = true;
  while (attached) {
    const Wake wake = AwaitCompletion();
    if (wake == Wake::Stop) break;
    attached = OnWake(wake);
    // A device that failed or went silent is ridden out on the silence clock until it streams
    // again; a rate asked for restarts the pins.
    if (attached) attached = TendDevice(wake);
  }
  CloseStreams();
}

bool CRunningStream::DeviceFailed() {
  // Each is read once per wake: whether a request completed with an error or was refused.
  const bool refused = render->TakeRefusal() | capture->TakeRefusal();
  return refused || captureFailed || renderFailed;
}

bool CRunningStream::RunSilenceClock() {
  const uint32_t halfSize = host->BufferSize();
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
    host->SilenceOtherInputs();
    if (!DeliverHalf()) return false;
  }
  return true;
}

void CRunningStream::ClearHostHalves() { host->Clear(); }

bool CRunningStream::OpenStreams() {
  HRESULT captureResult = E_FAIL;
  HRESULT renderResult = E_FAIL;
  // The render pin starts with the output latency and one half of silence queued; both rings
  // have spare packets for a device that hands its requests back late.
  const uint32_t primed = kx7::StreamPacketsFor(host->BufferSize());
  primedPackets = primed;
  packetCount = primed + kx7::kSpareStreamPackets;
  capture =
      NewStream<CInputCaptureKS>(packetCount, kCaptureSamples, device.capturePin, &captureResult);
  render = NewStream<COutputRenderKS>(packetCount, kRenderSamples, device.renderPin, &renderResult,
                                      primed);
  if (capture != nullptr && render != nullptr) {
    renderResult = render->Start();
    if (SUCCEEDED(renderResult)) captureResult = capture->Start();
  }
  quickRequeues = packetCount;
  if (SUCCEEDED(captureResult) && SUCCEEDED(renderResult)) return true;
  // Without both streams running no buffer switch can happen: the start handshake is told why
  // at once rather than after its time-out.
  streamFailure.store(FAILED(renderResult) ? StreamFailureOf(device.renderPin, renderResult)
                                           : StreamFailureOf(device.capturePin, captureResult),
                      std::memory_order_release);
  SetEvent(startedEvent);
  return false;
}

void CRunningStream::ResetStreamState() {
  // Fresh pins count their frames from zero: render primes and fades in again, and capture
  // places itself anew.
  renderDone = 0;
  outputCursor = 0;
  outputPending = 0;
  outputSent = 0;
  dryRun = DryRecord();
  starved = false;
  synced = false;
  captureNext = 0;
  packetHeld = false;
  packetPlace = 0;
  packetTaken = 0;
  captureFailed = false;
  renderFailed = false;
  captured = CCaptureHalf();
  if (float* half = CurrentCaptureHalf()) std::memset(half, 0, host->BufferSize() * sizeof(float));
  owner->ShowLatency(host->BufferSize() + kx7::OutputLatencyFrames(host->BufferSize()));
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
  // Render and capture completions both wake the loop, so the device gets its requests back at
  // once whatever the phase of the two pins; a stop wakes it at once.
  HANDLE events[4] = {stopEvent, nullptr, nullptr, nullptr};
  Wake woken[4] = {Wake::Stop, Wake::Nothing, Wake::Nothing, Wake::Nothing};
  DWORD count = 1;
  if (HANDLE renderEvent = render->AwaitedEvent()) {
    woken[count] = Wake::Render;
    events[count++] = renderEvent;
  }
  if (HANDLE captureEvent = capture->AwaitedEvent()) {
    woken[count] = Wake::Capture;
    events[count++] = captureEvent;
  }
  // A request of the host's (a new rate) wakes the loop too.
  if (controlEvent != nullptr) events[count++] = controlEvent;
  const DWORD woke = WaitForMultipleObjects(count, events, FALSE, stall.WaitMs());
  if (StopRequested()) return Wake::Stop;
  return woke < WAIT_OBJECT_0 + count ? woken[woke - WAIT_OBJECT_0] : Wake::Nothing;
}

bool CRunningStream::OnWake(Wake wake) {
  // Whether a packet is done is read from its request, without a call; an event that woke the
  // loop for nothing carried the late signal of a completion already taken.
  const bool rendered = OnRenderPacket();
  if (wake == Wake::Render && !rendered) render->DismissWake();
  OnCaptureWake(wake == Wake::Capture);
  // Requests the device failed end the streaming; the device's tending takes over.
  if (renderFailed || captureFailed) return true;
  FeedRender();
  // A callback slower than its period keeps halves due: a rate asked for is taken between them.
  while (!StopRequested() && !RateAsked() && HalfDue()) {
    // Each half goes to the device before the next switch: the host writes over its floats two
    // switches later, and capture may complete several halves at once.
    if (!EndHalf()) return false;
    FeedRender();
    DrainCapture();
  }
  return true;
}

bool CRunningStream::OnRenderPacket() {
  bool took = false;
  while (render->WaitPacket(0)) {
    took = true;
    // A write the device failed played nothing: the device is going, not running dry.
    if (render->PacketFailed()) renderFailed = true;
    if (!renderFailed) renderDone += kBlockFrames;
  }
  if (renderFailed) return took;
  // Every packet back and nothing to send: the device is playing nothing.
  const bool dry = render->FreePackets() == render->PacketCount() && outputPending == 0;
  if (dry && !starved) Note(DeviceEvent::kRenderUnderrun);
  starved = dry;
  return took;
}

void CRunningStream::OnCaptureWake(bool woken) {
  if (!DrainCapture() && woken) capture->DismissWake();
}

bool CRunningStream::DrainCapture() {
  // At most one ring's worth per wake: a pin that hands its reads back at once cannot keep the
  // thread here.
  bool took = false;
  const uint32_t halfSize = host->BufferSize();
  uint32_t k = 0;
  for (; k < packetCount; ++k) {
    if (!packetHeld) {
      if (!capture->WaitPacket(0)) break;
      took = true;
      if (capture->PacketFailed()) captureFailed = true;
      const uint32_t frames = capture->GetFrameCount();
      if (frames == 0) {
        if (quickRequeues > 0) {
          // Empty or failed reads go back at once only up to one ring's worth per half; after
          // that they wait for the half's end.
          --quickRequeues;
          capture->ReleasePacket();
        } else {
          capture->HoldPacket();
        }
        continue;
      }
      packetPlace = PlaceOfPacket(frames);
      packetTaken = 0;
      packetHeld = true;
    }
    const uint32_t frames = capture->GetFrameCount();
    packetTaken += captured.Take(converter, capture->GetData() + packetTaken, frames - packetTaken,
                                 packetPlace + packetTaken, CurrentCaptureHalf(), halfSize);
    // The rest belongs to a later half: the packet waits for it.
    if (packetTaken < frames) break;
    packetHeld = false;
    captureNext = packetPlace + frames;
    capture->ReleasePacket();
  }
  // A whole ring of data at once: the device had no read left to fill. (Reads a lost device
  // fails all come back at once too; that is no overrun.)
  if (k == packetCount && !captureFailed) Note(DeviceEvent::kCaptureOverrun);
  return took;
}

uint64_t CRunningStream::PlaceOfPacket(uint32_t frames) {
  // Packets follow each other, and the first ends where render stands. A pin that stamps its
  // packets tells each one's place, lost packets before it included; a stamp further off than a
  // ring's worth is not believed.
  const uint64_t expected =
      synced ? captureNext : (renderDone > frames ? renderDone - frames : uint64_t{0});
  uint64_t place = expected;
  LONGLONG stamp = 0;
  if (capture->PacketTime(&stamp)) {
    const auto stamped = static_cast<uint64_t>(
        static_cast<double>(stamp) * CurrentRate() / kHundredNanosecondsPerSecond + 0.5);
    const uint64_t reach = uint64_t{packetCount} * kBlockFrames;
    if (stamped + reach >= expected && stamped <= expected + reach) place = stamped;
  }
  if (!synced) {
    synced = true;
    captured.SyncAt(place);
  }
  return place;
}

bool CRunningStream::HalfDue() const {
  if (captured.Complete(host->BufferSize())) return true;
  // Render has passed the half's end by the grace: what capture has not brought is lost.
  return renderDone >= captured.Base() + host->BufferSize() + kCaptureGraceFrames;
}

void CRunningStream::FeedRender() {
  const uint32_t span = 2 * host->BufferSize();
  if (outputPending > 0) SkipPlayedSilence();
  while (outputPending > 0 && render->FreePackets() > 0) {
    FillRenderBlock(outputCursor);
    render->WriteFrames(renderBlock);
    render->Submit();
    outputCursor = (outputCursor + kBlockFrames) % span;
    outputPending -= kBlockFrames;
    outputSent += kBlockFrames;
  }
}

uint64_t CRunningStream::PlayedPastOutput() {
  // Capture's packets, taken or completed, tell where the device's clock stands at least; past
  // the end of all it was given, the device has played silence. Whole packets, so that a stamp's
  // rounding never counts a frame still in time.
  if (!synced) return 0;
  const uint64_t given = uint64_t{primedPackets} * kBlockFrames + outputSent + dryRun.keptShift;
  const uint64_t reached = (packetHeld ? packetPlace + capture->GetFrameCount() : captureNext) +
                           capture->FramesCompletedAhead();
  return reached < given ? 0 : (reached - given) / kBlockFrames * kBlockFrames;
}

void CRunningStream::SkipPlayedSilence() {
  const uint64_t gap = PlayedPastOutput();
  if (gap == 0) {
    dryRun.now = false;
    return;
  }
  if (!dryRun.now) {
    // Dry already before the host's callback: the device delivers in bursts longer than the
    // margin and needs the longer queue, so the output keeps the shift rather than run dry at
    // every burst. Dry only after it: the host was late, and its output is realigned.
    dryRun.now = true;
    dryRun.keeping = dryRun.beforeCallback;
  }
  if (dryRun.keeping) {
    dryRun.keptShift += gap;
    return;
  }
  // The host's output for the time the device played silence is dropped, so that what follows
  // plays at its place; what is not pending yet is dropped from the halves to come.
  const uint32_t dropped = static_cast<uint32_t>(gap < outputPending ? gap : outputPending);
  outputCursor = (outputCursor + dropped) % (2 * host->BufferSize());
  outputPending -= dropped;
  outputSent += dropped;
}

void CRunningStream::FillRenderBlock(uint32_t first) {
  const uint64_t silentFrames = uint64_t{kSilentHalves} * host->BufferSize();
  if (outputSent < silentFrames) {
    std::memset(renderBlock, 0, sizeof renderBlock);
    return;
  }
  // The host's channel 0 is the device's left, 1 its right, whatever order it made them in.
  converter.RenderFloatToInt32Block(host->OutputFloats(0, first), host->OutputFloats(1, first),
                                    renderBlock, kBlockFrames, outputSent == silentFrames);
}

bool CRunningStream::EndHalf() {
  // Ends the half: a drop-out when capture did not fill it, then the host's turn, then its
  // output half goes to the device.
  const uint32_t halfSize = host->BufferSize();
  const uint32_t halfStart = HalfStart();
  const uint32_t missing = synced ? captured.Missing(halfSize) : 0;
  if (missing != 0) {
    owner->CountDropOut();
    Note(DeviceEvent::kCaptureLost);
  }
  host->CopyCaptureToOtherInputs();
  dryRun.beforeCallback = PlayedPastOutput() != 0;
  if (!DeliverHalf()) return false;
  // The device ran out of output while the host was in its callback.
  OnRenderPacket();
  if (starved) Note(DeviceEvent::kLateCallback);
  // The half the host has just filled follows what is still pending; a backlog longer than both
  // halves has been overwritten by the host and is dropped.
  const uint32_t span = 2 * halfSize;
  outputPending += halfSize;
  if (outputPending > span) outputPending = span;
  outputCursor = (halfStart + span + halfSize - outputPending) % span;
  captured.NextHalf(CurrentCaptureHalf(), halfSize);
  // Reads held back this half go out again, within the same one-ring budget per half.
  const uint32_t held = capture->HeldCount();
  capture->RequeueHeld();
  quickRequeues = packetCount > held ? packetCount - held : 0;
  return true;
}

bool CRunningStream::DeliverHalf() {
  // The stall rule and the silence clock go by the millisecond clock; the host's stamp is finer.
  latestSwitchMs = timeGetTime();
  const uint32_t number = cycleCount.load(std::memory_order_relaxed) + 1;
  if (!host->Deliver(*this, number, switchClock.Stamp(latestSwitchMs), CurrentRate())) {
    return false;
  }
  cycleCount.store(number, std::memory_order_release);
  if (number == kStartedCycles) SetEvent(startedEvent);
  return true;
}

uint32_t CRunningStream::HalfStart() const { return host->HalfIndex() * host->BufferSize(); }

float* CRunningStream::CurrentCaptureHalf() const { return host->CaptureHalf(); }

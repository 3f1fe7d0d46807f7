#include "host/diagnose/RawStream.h"

#include <vector>

#include "host/diagnose/KsText.h"
#include "ks/PacketRing.h"
#include "platform/device_access.h"

namespace kx7host {

namespace {

constexpr uint32_t kPackets = kDiagnosePacketsInFlight;
// The stream thread wakes at least this often to see the time and a request to stop.
constexpr DWORD kWaitMs = 20;
// A pin that completes nothing for this long has stopped streaming.
constexpr int64_t kStallNs = 2000000000;
constexpr DWORD kThreadEndMs = 10000;

}  // namespace

// One pin and its ring. The ring's storage goes with the lane once the pin has handed back every
// packet, and is kept for good when it does not.
struct RawStream::Lane {
  CKsPin* pin = nullptr;
  bool render = false;
  PinRun* run = nullptr;
  PacketRing ring;
  uint32_t next = 0;
  bool active = false;
};

RawStream::RawStream(CompletionClock& clock) : clock_(clock) {}

RawStream::~RawStream() {
  if (thread_ != nullptr) {
    RequestStop();
    if (WaitForSingleObject(thread_, kThreadEndMs) != WAIT_OBJECT_0) {
      // The thread still uses the pins and packets: nothing of it may go.
      for (auto& lane : lanes_) lane.release();
      return;
    }
    CloseHandle(thread_);
  }
}

bool RawStream::AddPin(CKsPin* pin, bool render, ULONG frameBytes, PinRun* run) {
  auto lane = std::make_unique<Lane>();
  lane->pin = pin;
  lane->render = render;
  lane->run = run;
  const ULONG packetBytes = kDiagnosePacketFrames * frameBytes;
  run->packetBytes = packetBytes;
  // The ring counts in 32-bit slots; the headers say the packet's own size. Render packets go
  // out full of silence.
  const uint32_t slots = (packetBytes + 3) / 4;
  if (!lane->ring.Allocate(kPackets, slots, packetBytes, render ? packetBytes : 0)) return false;
  lanes_[render ? 1 : 0] = std::move(lane);
  return true;
}

bool RawStream::Start(uint32_t rate, double seconds) {
  rate_ = rate;
  seconds_ = seconds;
  // The log has room for twice the packets the rate gives, so that it never grows while the
  // stream runs.
  const double packets = seconds * rate / kDiagnosePacketFrames;
  for (auto& lane : lanes_) {
    if (lane != nullptr) lane->run->log.reserve(static_cast<size_t>(packets * 2) + 64);
  }
  thread_ = CreateThread(nullptr, 0, &RawStream::ThreadMain, this, 0, nullptr);
  return thread_ != nullptr;
}

bool RawStream::WaitEnd(DWORD milliseconds) {
  return thread_ == nullptr || WaitForSingleObject(thread_, milliseconds) == WAIT_OBJECT_0;
}

void RawStream::RequestStop() { stop_.store(true, std::memory_order_relaxed); }

double RawStream::SecondsStreamed() const {
  return static_cast<double>(streamedNs_.load(std::memory_order_relaxed)) / 1e9;
}

uint64_t RawStream::Completions(bool render) const {
  return completions_[render ? 1 : 0].load(std::memory_order_relaxed);
}

DWORD WINAPI RawStream::ThreadMain(LPVOID parameter) {
  static_cast<RawStream*>(parameter)->Run();
  return 0;
}

void RawStream::Run() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  clock_.BeginRun(rate_);
  for (auto& lane : lanes_) {
    if (lane == nullptr) continue;
    lane->active = true;
    for (uint32_t i = 0; i < kPackets && lane->active; ++i) Requeue(*lane, i);
  }
  for (auto& lane : lanes_) {
    if (lane == nullptr || !lane->active) continue;
    const HRESULT result = lane->pin->SetState(KSSTATE_RUN);
    lane->run->states.push_back({KSSTATE_RUN, result});
    if (FAILED(result)) {
      lane->active = false;
      lane->run->problem = "the pin would not run: " + ResultText(result);
    }
  }
  Loop();
  Finish();
}

void RawStream::Loop() {
  const int64_t start = clock_.NowNs();
  const auto duration = static_cast<int64_t>(seconds_ * 1e9);
  int64_t lastCompletion = start;
  while (!stop_.load(std::memory_order_relaxed)) {
    const int64_t elapsed = clock_.NowNs() - start;
    streamedNs_.store(elapsed, std::memory_order_relaxed);
    if (elapsed >= duration) break;
    HANDLE awaited[2];
    Lane* awaitedLanes[2];
    DWORD count = 0;
    for (auto& lane : lanes_) {
      if (lane != nullptr && lane->active) {
        awaitedLanes[count] = lane.get();
        awaited[count++] = lane->ring.packetEvents[lane->next];
      }
    }
    if (count == 0) break;
    const DWORD woke = clock_.Wait(count, awaited, kWaitMs);
    const Lane* woken = woke - WAIT_OBJECT_0 < count ? awaitedLanes[woke - WAIT_OBJECT_0] : nullptr;
    const int64_t now = clock_.NowNs();
    bool any = false;
    for (auto& lane : lanes_) {
      if (lane == nullptr) continue;
      // At most one round of the ring per wake, so that a pin completing at once cannot hold
      // the thread.
      uint32_t taken = 0;
      while (taken < kPackets && lane->active && lane->ring.AwaitCompletion(lane->next, 0)) {
        Harvest(*lane, now - start);
        ++taken;
      }
      any = any || taken != 0;
      // An event that woke the thread for a packet not yet done must not wake it again.
      if (taken == 0 && lane.get() == woken) lane->ring.DismissStaleSignal(lane->next);
    }
    if (any) {
      lastCompletion = now;
    } else if (now - lastCompletion > kStallNs) {
      for (auto& lane : lanes_) {
        if (lane != nullptr && lane->active) {
          lane->run->problem = "the pin completed nothing for 2 s and was given up";
        }
      }
      break;
    }
  }
}

void RawStream::Harvest(Lane& lane, int64_t timeNs) {
  const uint32_t i = lane.next;
  StreamPacket& packet = lane.ring.packets[i];
  DWORD bytes = 0;
  DWORD error = ERROR_SUCCESS;
  if (!GetOverlappedResult(lane.pin->GetHandle(), &packet.overlapped, &bytes, FALSE)) {
    error = GetLastError();
  }
  const KSSTREAM_HEADER& header = packet.header;
  CompletionRecord record;
  record.timeNs = timeNs;
  record.packet = i;
  record.dataUsed = header.DataUsed;
  record.optionsFlags = header.OptionsFlags;
  record.presentationTime = header.PresentationTime.Time;
  record.numerator = header.PresentationTime.Numerator;
  record.denominator = header.PresentationTime.Denominator;
  record.duration = header.Duration;
  record.error = error;
  std::vector<CompletionRecord>& log = lane.run->log;
  if (log.size() < log.capacity()) {
    log.push_back(record);
  } else {
    ++lane.run->unlogged;
  }
  completions_[lane.render ? 1 : 0].fetch_add(1, std::memory_order_relaxed);
  lane.next = (i + 1) % kPackets;
  Requeue(lane, i);
}

void RawStream::Requeue(Lane& lane, uint32_t packet) {
  const HRESULT result =
      lane.render ? lane.ring.QueueWrite(lane.pin, packet) : lane.ring.QueueRead(lane.pin, packet);
  if (FAILED(result)) {
    lane.active = false;
    lane.run->problem = "the pin refused a packet: " + ResultText(result);
  }
}

void RawStream::Finish() {
  for (auto& lane : lanes_) {
    if (lane == nullptr) continue;
    // Pausing keeps what the pin holds; stopping hands it all back.
    for (KSSTATE state : {KSSTATE_PAUSE, KSSTATE_STOP}) {
      lane->run->states.push_back({static_cast<ULONG>(state), lane->pin->SetState(state)});
    }
  }
}

}  // namespace kx7host

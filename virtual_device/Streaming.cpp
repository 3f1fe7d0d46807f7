// Packet streaming: every 64 frames of the device clock each running render pin plays one packet
// from its queued writes and each running capture pin fills one packet into its queued reads.
// Requests that are done are handed back at the moments the timing profile gives, in order.
#include <algorithm>
#include <cstring>
#include <limits>

#include "virtual_device/DeviceCore.h"

namespace vkx7 {
namespace detail {
namespace {

constexpr LONGLONG kHundredNanosecondsPerSecond = 10000000;

// xorshift32: the same spread of completions on every run.
uint32_t NextRandom(uint32_t* state) {
  uint32_t x = *state;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  *state = x;
  return x;
}

LONGLONG HundredNanoseconds(uint64_t frames, ULONG rate) {
  if (rate == 0) return 0;
  return static_cast<LONGLONG>(frames * kHundredNanosecondsPerSecond / rate);
}

// What a real class driver leaves in the header of a request it completes: the time of its
// first frame and its duration, both valid, and for reads the bytes filled. Gives the event to
// signal.
HANDLE Complete(const PinInstance& pin, StreamRequest& request) {
  const ULONG rate = pin.wfx.nSamplesPerSec;
  const ULONG bytes = pin.render ? request.dataUsed : request.done;
  const uint64_t frames = bytes / (pin.blockAlign == 0 ? 1 : pin.blockAlign);
  KSTIME time;
  time.Time = HundredNanoseconds(request.firstFrame, rate);
  time.Numerator = 1;
  time.Denominator = 1;
  const ULONG options = KSSTREAM_HEADER_OPTIONSF_TIMEVALID | KSSTREAM_HEADER_OPTIONSF_DURATIONVALID;
  WriteHeaderField(request.header, offsetof(KSSTREAM_HEADER, PresentationTime), time);
  WriteHeaderField(request.header, offsetof(KSSTREAM_HEADER, Duration),
                   HundredNanoseconds(frames, rate));
  WriteHeaderField(request.header, offsetof(KSSTREAM_HEADER, OptionsFlags), options);
  if (!pin.render) WriteHeaderField(request.header, offsetof(KSSTREAM_HEADER, DataUsed), bytes);
  return request.io.Publish(ERROR_SUCCESS, request.headerSize);
}

// Whether the pin moves the packet that starts at `first`.
bool Running(const PinInstance& pin, bool render, uint64_t generation, uint64_t first) {
  return pin.render == render && pin.state == KSSTATE_RUN && pin.generation == generation &&
         first >= pin.runsFrom;
}

}  // namespace

Direction Core::DirectionOf(const PinInstance& pin) {
  return pin.render ? Direction::Render : Direction::Capture;
}

bool Core::AdvanceTo(uint64_t target, bool stopAtHandBack) {
  bool handed = false;
  while (true) {
    const uint64_t transferAt = (ticks + 1) * kPacketFrames;
    const uint64_t lifeAt = NextLifeStep();
    const uint64_t next = std::min({transferAt, NextHandBack(), lifeAt});
    if (next > target) break;
    frames = std::max(frames, next);
    // A moment of the device's life comes before the packet that ends with it.
    if (next == lifeAt) {
      if (RunLifeSteps()) {
        handed = true;
        if (stopAtHandBack) return true;
      }
      continue;
    }
    if (next == transferAt) Transfer();
    if (HandBackDue()) {
      handed = true;
      if (stopAtHandBack) return true;
    }
  }
  frames = std::max(frames, target);
  return handed;
}

void Core::Transfer() {
  ++ticks;
  const uint64_t first = (ticks - 1) * kPacketFrames;
  for (const auto& pin : pins) {
    if (Running(*pin, true, generation, first)) RenderTick(*pin);
  }
  for (const auto& pin : pins) {
    if (Running(*pin, false, generation, first)) CaptureTick(*pin);
  }
  // The frames of this packet are past: their loopback slots are free for later frames.
  if (!loopLine.empty()) {
    for (ULONG i = 0; i < kPacketFrames; ++i) loopLine[(first + i) % loopLine.size()] = 0;
  }
}

void Core::RenderTick(PinInstance& pin) {
  if (renderStalled) return;
  const ULONG block = pin.blockAlign;
  const ULONG bits = pin.wfx.wBitsPerSample;
  const uint64_t firstFrame = (ticks - 1) * kPacketFrames;
  const bool loopback = source.kind == MicrophoneSource::Kind::Loopback && !loopLine.empty();
  ULONG need = kPacketFrames * block;
  ULONG frame = 0;
  while (need > 0 && !pin.queue.empty()) {
    StreamRequest& request = pin.queue.front();
    const ULONG usable = request.dataUsed - request.dataUsed % block;
    if (request.done == 0) request.firstFrame = pin.bytesDone / block;
    if (request.done < usable) {
      const ULONG bytes = usable - request.done < need ? usable - request.done : need;
      const BYTE* data = request.data + request.done;
      RecordRendered(data, bytes);
      if (loopback) {
        for (ULONG offset = 0; offset < bytes; offset += block, ++frame) {
          const uint64_t slot = firstFrame + frame + source.loopbackDelayFrames;
          loopLine[slot % loopLine.size()] = GetSample(data + offset, bits);
        }
      }
      request.done += bytes;
      need -= bytes;
      pin.bytesDone += bytes;
    }
    if (request.done >= usable) Finish(pin);
  }
  if (need > 0) ++underruns;
}

void Core::RecordRendered(const BYTE* data, ULONG bytes) {
  std::vector<BYTE>& rendered = record.rendered;
  const size_t kept = std::min<size_t>(bytes, kMaxRecordedRenderBytes - rendered.size());
  rendered.insert(rendered.end(), data, data + kept);
  record.renderedNotRecorded += bytes - kept;
}

void Core::CaptureTick(PinInstance& pin) {
  const ULONG block = pin.blockAlign;
  const ULONG bits = pin.wfx.wBitsPerSample;
  const ULONG channels = pin.wfx.nChannels;
  const uint64_t firstFrame = (ticks - 1) * kPacketFrames;
  const bool loopback = source.kind == MicrophoneSource::Kind::Loopback && !loopLine.empty();
  const uint64_t packetTime = pin.framesRun;
  pin.framesRun += kPacketFrames;

  // The packet is made whether or not it is delivered, so that the signal keeps its time.
  std::vector<BYTE> packet(static_cast<size_t>(kPacketFrames) * block);
  for (ULONG frame = 0; frame < kPacketFrames; ++frame) {
    const int32_t sample = loopback ? loopLine[(firstFrame + frame) % loopLine.size()]
                                    : signal.Next(pin.wfx.nSamplesPerSec);
    for (ULONG channel = 0; channel < channels; ++channel) {
      PutSample(packet.data() + frame * block + channel * (bits / 8), bits, sample);
    }
  }
  // A device that completes its reads at once, empty, delivers nothing.
  if (readsEmptyForGood) return;
  if (withholdCapture > 0) {
    --withholdCapture;
    return;
  }
  if (emptyReads > 0) {
    // A microphone that is not delivering yet hands a read back with nothing in it.
    --emptyReads;
    if (!pin.queue.empty()) {
      pin.queue.front().firstFrame = packetTime;
      Finish(pin);
    }
    return;
  }

  size_t offset = 0;
  while (offset < packet.size() && !pin.queue.empty()) {
    StreamRequest& request = pin.queue.front();
    const ULONG room = request.frameExtent - request.frameExtent % block;
    if (request.done == 0) request.firstFrame = packetTime + offset / block;
    if (request.done < room) {
      const size_t left = packet.size() - offset;
      const ULONG bytes =
          static_cast<ULONG>(room - request.done < left ? room - request.done : left);
      std::memcpy(request.data + request.done, packet.data() + offset, bytes);
      request.done += bytes;
      offset += bytes;
      pin.bytesDone += bytes;
    }
    if (request.done >= room) {
      if (delayCount > 0) {
        --delayCount;
        request.minHandBack = frames + static_cast<uint64_t>(delayPackets) * kPacketFrames;
      }
      Finish(pin);
    }
  }
  if (offset < packet.size()) {
    ++overruns;
    framesLost += (packet.size() - offset) / block;
  }
}

void Core::Finish(PinInstance& pin) {
  StreamRequest request = std::move(pin.queue.front());
  pin.queue.pop_front();
  const ULONG rate = pin.wfx.nSamplesPerSec;
  uint64_t at = frames;
  if (timing.kind == TimingProfile::Kind::Jitter && timing.jitterFrames > 0) {
    uint32_t* seed = &jitterSeed[pin.render ? 1 : 0];
    at += NextRandom(seed) % (timing.jitterFrames + 1);
  } else {
    at = NextCompletionMoment(timing, pin.render, rate, frames);
  }
  // Requests come back in the order they were queued, except one that a fault holds back.
  at = std::max(at, pin.lastHandBack);
  pin.lastHandBack = at;
  request.handBack = std::max(at, request.minHandBack);
  pin.finished.push_back(std::move(request));
}

bool Core::EmptyQueuedReads() {
  std::vector<HANDLE> events;
  for (const auto& pin : pins) {
    if (pin->render || pin->generation != generation) continue;
    for (StreamRequest& request : pin->queue) {
      request.done = 0;
      const HANDLE event = Complete(*pin, request);
      if (event != nullptr) events.push_back(event);
    }
    pin->queue.clear();
  }
  vk::SignalTogether(events.data(), events.size());
  return !events.empty();
}

uint64_t Core::NextMoment() const {
  return std::min({(ticks + 1) * kPacketFrames, NextHandBack(), NextLifeStep()});
}

uint64_t Core::NextHandBack() const {
  uint64_t next = std::numeric_limits<uint64_t>::max();
  for (const auto& pin : pins) {
    for (const StreamRequest& request : pin->finished) next = std::min(next, request.handBack);
  }
  return next;
}

bool Core::HandBackDue() {
  // Everything due at this moment is seen done together, as hardware whose two directions share
  // one clock completes them: a reader woken by a render completion finds the capture packets
  // of the same moment already there.
  std::vector<HANDLE> events;
  for (bool render : {false, true}) {
    for (const auto& pin : pins) {
      if (pin->render != render) continue;
      auto& finished = pin->finished;
      for (auto request = finished.begin(); request != finished.end();) {
        if (request->handBack > frames) {
          ++request;
          continue;
        }
        const HANDLE event = Complete(*pin, *request);
        if (event != nullptr) events.push_back(event);
        request = finished.erase(request);
      }
    }
  }
  vk::SignalTogether(events.data(), events.size());
  return !events.empty();
}

}  // namespace detail
}  // namespace vkx7

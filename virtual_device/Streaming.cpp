// Packet streaming: each tick plays one packet of 64 frames from the queued writes of every
// running render pin and fills one packet into the queued reads of every running capture pin.
#include <cstring>

#include "virtual_device/DeviceCore.h"

namespace vkx7 {
namespace detail {
namespace {

// The caller's header is written by field, as it need not be aligned.
void WriteDataUsed(PKSSTREAM_HEADER header, ULONG dataUsed) {
  std::memcpy(reinterpret_cast<BYTE*>(header) + offsetof(KSSTREAM_HEADER, DataUsed), &dataUsed,
              sizeof dataUsed);
}

void Complete(StreamRequest& request, DWORD error) {
  request.io.Complete(error, request.headerSize);
}

}  // namespace

void Core::Tick() {
  ++ticks;
  // Pins left over from before a removal are dead.
  auto running = [this](const PinInstance& pin, bool render) {
    return pin.render == render && pin.state == KSSTATE_RUN && pin.generation == generation;
  };
  for (const auto& pin : pins) {
    if (running(*pin, true)) RenderTick(*pin);
  }
  for (const auto& pin : pins) {
    if (running(*pin, false)) CaptureTick(*pin);
  }
  for (const auto& pin : pins) {
    if (!pin->render) CompleteLate(*pin);
  }
  // Writes complete last: a reader woken by a render completion finds the capture packet of the
  // same period already filled, as on hardware whose two directions share one clock.
  for (StreamRequest& request : playedWrites) Complete(request, ERROR_SUCCESS);
  playedWrites.clear();
  // The frames of this packet are past: their loopback slots are free for later frames.
  if (!loopLine.empty()) {
    const uint64_t first = (ticks - 1) * kPacketFrames;
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
    if (request.done < usable) {
      const ULONG bytes = usable - request.done < need ? usable - request.done : need;
      const BYTE* data = request.data + request.done;
      record.rendered.insert(record.rendered.end(), data, data + bytes);
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
    if (request.done >= usable) {
      playedWrites.push_back(std::move(request));
      pin.queue.pop_front();
    }
  }
  if (need > 0) ++underruns;
}

void Core::CaptureTick(PinInstance& pin) {
  const ULONG block = pin.blockAlign;
  const ULONG bits = pin.wfx.wBitsPerSample;
  const ULONG channels = pin.wfx.nChannels;
  const uint64_t firstFrame = (ticks - 1) * kPacketFrames;
  const bool loopback = source.kind == MicrophoneSource::Kind::Loopback && !loopLine.empty();

  // The packet is made whether or not it is delivered, so that the signal keeps its time.
  std::vector<BYTE> packet(static_cast<size_t>(kPacketFrames) * block);
  for (ULONG frame = 0; frame < kPacketFrames; ++frame) {
    const int32_t sample = loopback ? loopLine[(firstFrame + frame) % loopLine.size()]
                                    : signal.Next(pin.wfx.nSamplesPerSec);
    for (ULONG channel = 0; channel < channels; ++channel) {
      PutSample(packet.data() + frame * block + channel * (bits / 8), bits, sample);
    }
  }
  if (withholdCapture > 0) {
    --withholdCapture;
    return;
  }

  size_t offset = 0;
  while (offset < packet.size() && !pin.queue.empty()) {
    StreamRequest& request = pin.queue.front();
    const ULONG room = request.frameExtent - request.frameExtent % block;
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
      WriteDataUsed(request.header, request.done);
      if (delayCount > 0) {
        --delayCount;
        request.dueTick = ticks + delayPackets;
        pin.late.push_back(std::move(request));
      } else {
        Complete(request, ERROR_SUCCESS);
      }
      pin.queue.pop_front();
    }
  }
  if (offset < packet.size()) ++overruns;
}

void Core::CompleteLate(PinInstance& pin) {
  while (!pin.late.empty() && pin.late.front().dueTick <= ticks) {
    Complete(pin.late.front(), ERROR_SUCCESS);
    pin.late.pop_front();
  }
}

}  // namespace detail
}  // namespace vkx7

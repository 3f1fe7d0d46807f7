#include "driver/DeviceEventLog.h"

namespace {

constexpr uint32_t kNumberMask = 0xFFFFFFu;

uint64_t Pack(uint32_t number, DeviceEvent event, DWORD time) {
  return (static_cast<uint64_t>(time) << 32) |
         (static_cast<uint64_t>(static_cast<uint8_t>(event)) << 24) | ((number + 1u) & kNumberMask);
}

bool Holds(uint64_t word, uint32_t number) {
  return (word & kNumberMask) == ((number + 1u) & kNumberMask);
}

// Whether the slot still holds an event older than `number`: its writer has claimed the number
// but not yet stored it.
bool NotYetWritten(uint64_t word, uint32_t number) {
  const uint32_t behind = ((number + 1u) - static_cast<uint32_t>(word)) & kNumberMask;
  return behind != 0 && behind <= kNumberMask / 2;
}

DeviceEventRecord Unpack(uint64_t word) {
  return {static_cast<DeviceEvent>((word >> 24) & 0xFFu), static_cast<DWORD>(word >> 32)};
}

}  // namespace

const char* DeviceEventName(DeviceEvent event) {
  switch (event) {
    case DeviceEvent::kLost:
      return "lost";
    case DeviceEvent::kReturned:
      return "returned";
    case DeviceEvent::kSuspended:
      return "suspended";
    case DeviceEvent::kResumed:
      return "resumed";
    case DeviceEvent::kRateRestarted:
      return "rate-restarted";
    case DeviceEvent::kRenderUnderrun:
      return "render-underrun";
    case DeviceEvent::kCaptureOverrun:
      return "capture-overrun";
    case DeviceEvent::kCaptureLost:
      return "capture-lost";
    case DeviceEvent::kLateCallback:
      return "late-callback";
  }
  return "unknown";
}

void DeviceEventLog::Record(DeviceEvent event, DWORD time) {
  // A reader that reaches the slot before it is written finds an older number there and
  // skips it.
  const uint32_t claimed = next.fetch_add(1, std::memory_order_acq_rel);
  slots[claimed % kCapacity].store(Pack(claimed, event, time), std::memory_order_release);
}

uint32_t DeviceEventLog::Read(uint32_t first, DeviceEventRecord* out, uint32_t max,
                              uint32_t* after) const {
  const uint32_t count = Count();
  // Events overwritten since are skipped: reading starts at the oldest still kept. A number not
  // given out yet (a reader's mistake) reads nothing, rather than slots never written.
  uint32_t number = first;
  if (static_cast<int32_t>(count - first) < 0) {
    number = count;
  } else if (count - first > kCapacity) {
    number = count - kCapacity;
  }
  uint32_t copied = 0;
  for (; number != count && copied < max; ++number) {
    const uint64_t word = slots[number % kCapacity].load(std::memory_order_acquire);
    // An event still being written ends this read; the next one starts with it.
    if (NotYetWritten(word, number)) break;
    if (Holds(word, number)) out[copied++] = Unpack(word);
  }
  if (after != nullptr) *after = number;
  return copied;
}

bool DeviceEventLog::Latest(DeviceEventRecord* out) const {
  const uint32_t count = Count();
  if (count == 0) return false;
  const uint64_t word = slots[(count - 1) % kCapacity].load(std::memory_order_acquire);
  if (!Holds(word, count - 1)) return false;
  *out = Unpack(word);
  return true;
}

// The model's bookkeeping: property faults, instance counts, cancellation, removal, and the
// format check of pin creation.
#include <algorithm>
#include <cstring>

#include "virtual_device/DeviceCore.h"

namespace vkx7 {
namespace detail {
namespace {

bool IsWildcard(const GUID& guid) { return SameGuid(guid, GUID_NULL); }

}  // namespace

Core::Core(DeviceDescription deviceDescription) : description(std::move(deviceDescription)) {}

PropertyFault* Core::FindPropertyFault(int filter, bool onPinHandle, ULONG pinId, const GUID& set,
                                       ULONG id, ULONG flags) {
  for (PropertyFault& fault : propertyFaults) {
    const PropertyMatch& match = fault.match;
    if (fault.count == 0 || !SameGuid(match.set, set) || match.id != id) continue;
    if (match.filter != kAnyFilter && match.filter != filter) continue;
    if (match.onPinHandle != onPinHandle) continue;
    if (match.pinId != kAnyPin && match.pinId != pinId) continue;
    if (fault.replace && (flags & KSPROPERTY_TYPE_GET) == 0) continue;
    return &fault;
  }
  return nullptr;
}

ULONG Core::InstanceCount(size_t filter, ULONG pinId) const {
  ULONG count = 0;
  for (const auto& pin : pins) {
    if (pin->filter == filter && pin->pinId == pinId && !pin->closed &&
        pin->generation == generation) {
      ++count;
    }
  }
  return count;
}

void Core::CancelRequests(PinInstance& pin, DWORD error) {
  for (std::deque<StreamRequest>* queue : {&pin.finished, &pin.queue}) {
    for (StreamRequest& request : *queue) {
      if (!pin.render) {
        WriteHeaderField(request.header, offsetof(KSSTREAM_HEADER, DataUsed), ULONG{0});
      }
      request.io.Complete(error, 0);
    }
    queue->clear();
  }
}

vk::IoStatus Core::Reply(vk::PendingIo& pending, vk::IoStatus status) {
  if (!pendProperties || !pending.Valid()) return status;
  // A failure other than ERROR_MORE_DATA hands no byte count back.
  if (status.error != ERROR_SUCCESS && status.error != ERROR_MORE_DATA) status.bytes = 0;
  deferred.push_back(DeferredReply{std::move(pending), status});
  if (replyWake != nullptr) SetEvent(replyWake);
  return {ERROR_IO_PENDING, 0};
}

void Core::RemoveAll() {
  for (const auto& pin : pins) CancelRequests(*pin, ERROR_DEVICE_NOT_CONNECTED);
}

ULONG Core::ClockRate() const {
  for (bool render : {true, false}) {
    for (const auto& pin : pins) {
      if (pin->render == render && pin->state == KSSTATE_RUN && pin->generation == generation) {
        return pin->wfx.nSamplesPerSec;
      }
    }
  }
  // The device's life goes on while nothing runs.
  return lifeSteps.empty() ? 0 : lifeRate;
}

DWORD CheckFormat(const PinDescription& pin, const BYTE* dataFormat, ULONG formatSize) {
  if (formatSize < sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX)) return ERROR_INVALID_PARAMETER;
  KSDATAFORMAT format;
  std::memcpy(&format, dataFormat, sizeof format);
  if (format.FormatSize != formatSize) return ERROR_INVALID_PARAMETER;
  if (!SameGuid(format.MajorFormat, KSDATAFORMAT_TYPE_AUDIO) ||
      !SameGuid(format.Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX)) {
    return ERROR_NO_MATCH;
  }
  WAVEFORMATEXTENSIBLE wave = {};
  std::memcpy(&wave, dataFormat + sizeof format, sizeof(WAVEFORMATEX));
  GUID subType = KSDATAFORMAT_SUBTYPE_WAVEFORMATEX;
  subType.Data1 = wave.Format.wFormatTag;
  if (wave.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
    if (formatSize < sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEXTENSIBLE) ||
        wave.Format.cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) {
      return ERROR_INVALID_PARAMETER;
    }
    std::memcpy(&wave, dataFormat + sizeof format, sizeof wave);
    subType = wave.SubFormat;
    if (wave.Samples.wValidBitsPerSample == 0 ||
        wave.Samples.wValidBitsPerSample > wave.Format.wBitsPerSample) {
      return ERROR_NO_MATCH;
    }
  } else if (wave.Format.wFormatTag != WAVE_FORMAT_PCM &&
             formatSize < sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX) + wave.Format.cbSize) {
    return ERROR_INVALID_PARAMETER;
  }
  const WAVEFORMATEX& wfx = wave.Format;
  const ULONG bits = wfx.wBitsPerSample;
  if (wfx.nChannels == 0 || bits == 0 || bits % 8 != 0 ||
      wfx.nBlockAlign != wfx.nChannels * (bits / 8) ||
      wfx.nAvgBytesPerSec != static_cast<uint64_t>(wfx.nSamplesPerSec) * wfx.nBlockAlign) {
    return ERROR_NO_MATCH;
  }
  // The data format's own sub-type must be the wave format's, as an intersection would give.
  if (!SameGuid(format.SubFormat, subType)) return ERROR_NO_MATCH;
  if (!pin.plainPcmAbove16Bits && wfx.wFormatTag == WAVE_FORMAT_PCM && bits > 16) {
    return ERROR_NO_MATCH;
  }
  bool attributeList = false;
  for (const std::vector<BYTE>& bytes : pin.dataRanges) {
    // The entry after a range with attributes is its attribute list, not a range.
    const bool isList = attributeList;
    attributeList = false;
    if (isList || bytes.size() < sizeof(KSDATARANGE)) continue;
    KSDATARANGE_AUDIO range = {};
    std::memcpy(&range, bytes.data(), std::min(bytes.size(), sizeof range));
    attributeList = (range.DataRange.Flags & KSDATARANGE_ATTRIBUTES) != 0;
    if (bytes.size() < sizeof range || range.DataRange.FormatSize < sizeof range) continue;
    if (!IsWildcard(range.DataRange.MajorFormat) &&
        !SameGuid(range.DataRange.MajorFormat, KSDATAFORMAT_TYPE_AUDIO)) {
      continue;
    }
    if (!IsWildcard(range.DataRange.SubFormat) && !SameGuid(range.DataRange.SubFormat, subType)) {
      continue;
    }
    if (!IsWildcard(range.DataRange.Specifier) &&
        !SameGuid(range.DataRange.Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX)) {
      continue;
    }
    if (wfx.nChannels > range.MaximumChannels || bits < range.MinimumBitsPerSample ||
        bits > range.MaximumBitsPerSample || wfx.nSamplesPerSec < range.MinimumSampleFrequency ||
        wfx.nSamplesPerSec > range.MaximumSampleFrequency) {
      continue;
    }
    return ERROR_SUCCESS;
  }
  return ERROR_NO_MATCH;
}

void PutSample(BYTE* out, ULONG bits, int32_t sample) {
  const uint32_t word = static_cast<uint32_t>(sample);
  if (bits == 8) {
    out[0] = static_cast<BYTE>((word >> 24) ^ 0x80u);
    return;
  }
  const ULONG bytes = bits / 8;
  for (ULONG b = 0; b < bytes && b < 4; ++b) {
    out[bytes - 1 - b] = static_cast<BYTE>(word >> (24 - 8 * b));
  }
  for (ULONG b = 4; b < bytes; ++b) out[bytes - 1 - b] = 0;
}

int32_t GetSample(const BYTE* in, ULONG bits) {
  if (bits == 8) return static_cast<int32_t>(static_cast<uint32_t>(in[0] ^ 0x80u) << 24);
  const ULONG bytes = bits / 8;
  uint32_t word = 0;
  for (ULONG b = 0; b < bytes && b < 4; ++b) {
    word |= static_cast<uint32_t>(in[bytes - 1 - b]) << (24 - 8 * b);
  }
  return static_cast<int32_t>(word);
}

}  // namespace detail
}  // namespace vkx7

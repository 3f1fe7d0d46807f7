// A created pin: state changes (stopping cancels what is queued, as KS does), data format,
// stream position, reset, and the stream requests that the clock completes.
#include <algorithm>
#include <cstring>

#include "virtual_device/DeviceFile.h"
#include "virtual_device/Replies.h"

namespace vkx7 {
namespace detail {
namespace {

class PinFile : public DeviceFile {
 public:
  PinFile(std::shared_ptr<Core> core, std::shared_ptr<PinInstance> pin)
      : DeviceFile(std::move(core), pin->filter, true), pin_(std::move(pin)) {}

  void Close() override {
    std::lock_guard<std::mutex> guard(core_->lock);
    core_->CancelRequests(*pin_, ERROR_OPERATION_ABORTED);
    if (pin_->state != KSSTATE_STOP) core_->PinStopped(*pin_);
    pin_->closed = true;
    auto& pins = core_->pins;
    pins.erase(std::remove(pins.begin(), pins.end(), pin_), pins.end());
  }

 private:
  DWORD Usable() const override {
    if (pin_->closed) return ERROR_INVALID_HANDLE;
    if (!core_->plugged || pin_->generation != core_->generation) {
      return ERROR_DEVICE_NOT_CONNECTED;
    }
    return ERROR_SUCCESS;
  }

  ULONG PinOf(const vk::IoRequest&, const KSPROPERTY*) const override { return pin_->pinId; }

  bool KnowsSet(const GUID& set) const override {
    return SameGuid(set, KSPROPSETID_Connection) || SameGuid(set, KSPROPSETID_Audio);
  }

  const PinDescription& Description() const {
    return core_->description.filters[pin_->filter].pins[pin_->pinId];
  }

  vk::IoStatus Other(const vk::IoRequest& request, vk::PendingIo& pending) override {
    switch (request.code) {
      case IOCTL_KS_RESET_STATE:
        return ResetState(request);
      case IOCTL_KS_WRITE_STREAM:
      case IOCTL_KS_READ_STREAM:
        return Stream(request, pending);
      default:
        return {ERROR_INVALID_FUNCTION, 0};
    }
  }

  // A state change that a fault refused is recorded as refused.
  void Faulted(const vk::IoRequest& request, const KSPROPERTY& property, DWORD error) override {
    if (SameGuid(property.Set, KSPROPSETID_Connection) &&
        property.Id == KSPROPERTY_CONNECTION_STATE && (property.Flags & KSPROPERTY_TYPE_SET) != 0) {
      RecordState(request, error);
    }
  }

  vk::IoStatus Property(const vk::IoRequest& request, const KSPROPERTY& property, ULONG) override {
    const bool get = (property.Flags & KSPROPERTY_TYPE_GET) != 0;
    const bool set = (property.Flags & KSPROPERTY_TYPE_SET) != 0;
    if (SameGuid(property.Set, KSPROPSETID_Connection)) {
      if (property.Id == KSPROPERTY_CONNECTION_STATE) {
        if (get) return ReplyValue(request, pin_->state);
        if (set) return SetState(request);
      } else if (property.Id == KSPROPERTY_CONNECTION_DATAFORMAT) {
        if (get) return GetFormat(request);
        if (set) return SetFormat(request);
      }
      return {ERROR_NOT_FOUND, 0};
    }
    if (SameGuid(property.Set, KSPROPSETID_Audio) && property.Id == KSPROPERTY_AUDIO_POSITION) {
      if (get) {
        KSAUDIO_POSITION position;
        position.PlayOffset = pin_->bytesDone;
        position.WriteOffset = pin_->bytesQueued;
        return ReplyValue(request, position);
      }
      KSAUDIO_POSITION position;
      if (set && ReadSetValue(request, &position, sizeof position)) return {ERROR_SUCCESS, 0};
      return {ERROR_INVALID_PARAMETER, 0};
    }
    return {ERROR_SET_NOT_FOUND, 0};
  }

  void RecordState(const vk::IoRequest& request, DWORD result) {
    StateRecord state;
    state.filter = static_cast<int>(pin_->filter);
    state.pinId = pin_->pinId;
    ULONG value = 0;
    ReadSetValue(request, &value, sizeof value);
    state.state = value;
    state.result = result;
    core_->record.states.push_back(state);
  }

  vk::IoStatus SetState(const vk::IoRequest& request) {
    ULONG state = 0;
    DWORD result = ERROR_SUCCESS;
    if (!ReadSetValue(request, &state, sizeof state) || state > KSSTATE_RUN) {
      result = ERROR_INVALID_PARAMETER;
    } else if (pin_->state == KSSTATE_STOP && state != KSSTATE_STOP &&
               core_->refuseBandwidth[static_cast<int>(Core::DirectionOf(*pin_))]) {
      // Acquiring the pin reserves its isochronous bandwidth on the bus.
      result = ERROR_NO_SYSTEM_RESOURCES;
    } else {
      // Stopping completes everything the pin holds and starts its position afresh.
      const ULONG before = pin_->state;
      if (state == KSSTATE_STOP) {
        core_->CancelRequests(*pin_, ERROR_OPERATION_ABORTED);
        pin_->bytesDone = 0;
        pin_->bytesQueued = 0;
        pin_->framesRun = 0;
      }
      pin_->state = state;
      pin_->sleeping = false;
      if (state == KSSTATE_RUN) core_->PinRunning(*pin_);
      if (state == KSSTATE_STOP && before != KSSTATE_STOP) core_->PinStopped(*pin_);
    }
    RecordState(request, result);
    return {result, 0};
  }

  vk::IoStatus GetFormat(const vk::IoRequest& request) {
    KSDATAFORMAT format = {};
    format.FormatSize = static_cast<ULONG>(sizeof format + pin_->waveFormat.size());
    format.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    format.SubFormat = KSDATAFORMAT_SUBTYPE_WAVEFORMATEX;
    format.SubFormat.Data1 = pin_->wfx.wFormatTag;
    if (pin_->wfx.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
      WAVEFORMATEXTENSIBLE extensible;
      std::memcpy(&extensible, pin_->waveFormat.data(), sizeof extensible);
      format.SubFormat = extensible.SubFormat;
    }
    format.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    format.SampleSize = pin_->blockAlign;
    std::vector<BYTE> reply(sizeof format);
    std::memcpy(reply.data(), &format, sizeof format);
    reply.insert(reply.end(), pin_->waveFormat.begin(), pin_->waveFormat.end());
    return ReplyBytes(request, reply.data(), static_cast<DWORD>(reply.size()));
  }

  vk::IoStatus SetFormat(const vk::IoRequest& request) {
    if (pin_->state == KSSTATE_RUN) return {ERROR_BAD_COMMAND, 0};
    if (request.output == nullptr || request.outputSize < sizeof(KSDATAFORMAT)) {
      return {ERROR_INVALID_PARAMETER, 0};
    }
    const BYTE* format = static_cast<const BYTE*>(request.output);
    const DWORD result = CheckFormat(Description(), format, request.outputSize);
    if (result != ERROR_SUCCESS) return {result, 0};
    pin_->waveFormat.assign(format + sizeof(KSDATAFORMAT), format + request.outputSize);
    std::memcpy(&pin_->wfx, format + sizeof(KSDATAFORMAT), sizeof pin_->wfx);
    pin_->blockAlign = pin_->wfx.nBlockAlign;
    return {ERROR_SUCCESS, 0};
  }

  vk::IoStatus ResetState(const vk::IoRequest& request) {
    ULONG reset = 0;
    if (request.input == nullptr || request.inputSize < sizeof reset) {
      return {ERROR_INVALID_PARAMETER, 0};
    }
    std::memcpy(&reset, request.input, sizeof reset);
    if (reset == KSRESET_BEGIN) {
      core_->CancelRequests(*pin_, ERROR_OPERATION_ABORTED);
      pin_->resetting = true;
    } else if (reset == KSRESET_END) {
      pin_->resetting = false;
    } else {
      return {ERROR_INVALID_PARAMETER, 0};
    }
    return {ERROR_SUCCESS, 0};
  }

  vk::IoStatus Stream(const vk::IoRequest& request, vk::PendingIo& pending) {
    const bool write = request.code == IOCTL_KS_WRITE_STREAM;
    if (write != pin_->render) return {ERROR_INVALID_FUNCTION, 0};
    int& reject = write ? core_->rejectWrites : core_->rejectReads;
    if (reject != 0) {
      if (reject > 0) --reject;
      return {write ? core_->rejectWriteError : core_->rejectReadError, 0};
    }
    if (request.output == nullptr || request.outputSize < sizeof(KSSTREAM_HEADER)) {
      return {ERROR_INVALID_PARAMETER, 0};
    }
    KSSTREAM_HEADER header;
    std::memcpy(&header, request.output, sizeof header);
    if (header.Size < sizeof header || header.Size > request.outputSize) {
      return {ERROR_INVALID_PARAMETER, 0};
    }
    if ((header.FrameExtent != 0 && header.Data == nullptr) ||
        (write && header.DataUsed > header.FrameExtent)) {
      return {ERROR_INVALID_PARAMETER, 0};
    }
    if (pin_->state == KSSTATE_STOP) return {ERROR_BAD_COMMAND, 0};
    if (pin_->resetting) return {ERROR_OPERATION_ABORTED, 0};
    // A driver that takes time stamps in a queued read for its own completes it at once, empty.
    const ULONG stamped =
        KSSTREAM_HEADER_OPTIONSF_TIMEVALID | KSSTREAM_HEADER_OPTIONSF_DURATIONVALID;
    if (!write && (core_->readsEmptyForGood ||
                   (core_->strictHeaders && (header.OptionsFlags & stamped) != 0))) {
      WriteHeaderField(static_cast<PKSSTREAM_HEADER>(request.output),
                       offsetof(KSSTREAM_HEADER, DataUsed), ULONG{0});
      return {ERROR_SUCCESS, header.Size};
    }

    StreamRequest queued;
    queued.header = static_cast<PKSSTREAM_HEADER>(request.output);
    queued.data = static_cast<BYTE*>(header.Data);
    queued.dataUsed = header.DataUsed;
    queued.frameExtent = header.FrameExtent;
    queued.headerSize = header.Size;
    queued.io = std::move(pending);
    pin_->bytesQueued += write ? header.DataUsed : header.FrameExtent;
    pin_->queue.push_back(std::move(queued));
    return {ERROR_IO_PENDING, 0};
  }

  std::shared_ptr<PinInstance> pin_;
};

}  // namespace

std::shared_ptr<vk::FileObject> NewPinFile(std::shared_ptr<Core> core,
                                           std::shared_ptr<PinInstance> pin) {
  return std::make_shared<PinFile>(std::move(core), std::move(pin));
}

}  // namespace detail
}  // namespace vkx7

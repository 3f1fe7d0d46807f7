// Recording, fault matching and pending of the requests a filter or pin handle receives.
#include "virtual_device/DeviceFile.h"

#include <algorithm>
#include <cstring>

#include "virtual_device/Replies.h"

namespace vkx7 {
namespace detail {
namespace {

constexpr size_t kMaxRecordedInput = 256;

}  // namespace

vk::IoStatus DeviceFile::DeviceControl(const vk::IoRequest& request, vk::PendingIo& pending) {
  std::lock_guard<std::mutex> guard(core_->lock);
  RequestRecord record;
  record.filter = static_cast<int>(filter_);
  record.onPinHandle = onPinHandle_;
  record.pinId = PinOf(request, nullptr);
  record.code = request.code;
  record.outputSize = request.outputSize;
  // A stream request's input is the caller's buffer, not a request worth keeping.
  const bool stream = request.code == IOCTL_KS_READ_STREAM || request.code == IOCTL_KS_WRITE_STREAM;
  if (request.input != nullptr && !stream) {
    const BYTE* input = static_cast<const BYTE*>(request.input);
    record.input.assign(input, input + std::min<size_t>(request.inputSize, kMaxRecordedInput));
  }
  vk::IoStatus status = Answer(request, pending, &record);
  record.result = status.error;
  if (core_->record.requests.size() < kMaxRecordedRequests) {
    core_->record.requests.push_back(std::move(record));
  } else {
    ++core_->record.requestsNotRecorded;
  }
  if (request.code != IOCTL_KS_PROPERTY) return status;
  return core_->Reply(pending, status);
}

vk::IoStatus DeviceFile::Answer(const vk::IoRequest& request, vk::PendingIo& pending,
                                RequestRecord* record) {
  const DWORD usable = Usable();
  if (usable != ERROR_SUCCESS) return {usable, 0};
  if (request.code != IOCTL_KS_PROPERTY) return Other(request, pending);
  if (request.input == nullptr || request.inputSize < sizeof(KSPROPERTY)) {
    return {ERROR_INVALID_PARAMETER, 0};
  }
  KSPROPERTY property;
  std::memcpy(&property, request.input, sizeof property);
  record->set = property.Set;
  record->id = property.Id;
  record->flags = property.Flags;
  const ULONG pinId = PinOf(request, &property);
  record->pinId = pinId;

  if (PropertyFault* fault =
          core_->FindPropertyFault(static_cast<int>(filter_), onPinHandle_, pinId, property.Set,
                                   property.Id, property.Flags)) {
    if (fault->count > 0) --fault->count;
    if (fault->replace) {
      return ReplyBytes(request, fault->reply.data(), static_cast<DWORD>(fault->reply.size()));
    }
    Faulted(request, property, fault->error);
    return {fault->error, 0};
  }
  if ((property.Flags & KSPROPERTY_TYPE_SETSUPPORT) != 0) {
    return {KnowsSet(property.Set) ? static_cast<DWORD>(ERROR_SUCCESS)
                                   : static_cast<DWORD>(ERROR_SET_NOT_FOUND),
            0};
  }
  return Property(request, property, pinId);
}

vk::IoStatus DeviceFile::Other(const vk::IoRequest&, vk::PendingIo&) {
  return {ERROR_INVALID_FUNCTION, 0};
}

void DeviceFile::Faulted(const vk::IoRequest&, const KSPROPERTY&, DWORD) {}

}  // namespace detail
}  // namespace vkx7

// What an open filter and a created pin share (internal): every request recorded, property
// requests read and matched against the injected faults, answered under the device's lock, and
// pended when property requests pend.
#pragma once

#include <memory>

#include "virtual_device/DeviceCore.h"

namespace vkx7 {
namespace detail {

class DeviceFile : public vk::FileObject {
 public:
  vk::IoStatus DeviceControl(const vk::IoRequest& request, vk::PendingIo& pending) final;

 protected:
  DeviceFile(std::shared_ptr<Core> core, size_t filter, bool onPinHandle)
      : core_(std::move(core)), filter_(filter), onPinHandle_(onPinHandle) {}

  // Everything below is called with the device's lock held.
  // ERROR_SUCCESS while the handle may be used, else the error every request gets.
  virtual DWORD Usable() const = 0;
  // The pin of a request: the pin handle's own, or the KSP_PIN's on a filter (kAnyPin when
  // there is none).
  virtual ULONG PinOf(const vk::IoRequest& request, const KSPROPERTY* property) const = 0;
  // Whether the handle answers a property set at all (the KSPROPERTY_TYPE_SETSUPPORT query).
  virtual bool KnowsSet(const GUID& set) const = 0;
  // A property request that no fault took.
  virtual vk::IoStatus Property(const vk::IoRequest& request, const KSPROPERTY& property,
                                ULONG pinId) = 0;
  // Any other request; by default an unknown one.
  virtual vk::IoStatus Other(const vk::IoRequest& request, vk::PendingIo& pending);
  // A fault failed a property request with `error`.
  virtual void Faulted(const vk::IoRequest& request, const KSPROPERTY& property, DWORD error);

  std::shared_ptr<Core> core_;
  size_t filter_;

 private:
  vk::IoStatus Answer(const vk::IoRequest& request, vk::PendingIo& pending, RequestRecord* record);

  bool onPinHandle_;
};

}  // namespace detail
}  // namespace vkx7

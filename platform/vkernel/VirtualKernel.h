// The virtual kernel: a table of device objects that a device model registers, reached through
// the device-access calls (SetupAPI enumeration, CreateFileA, DeviceIoControl, KsCreatePin,
// CloseHandle) of platform/device_access.h. It knows handles, interfaces and request delivery;
// what a request means is the device model's business.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ks.h"
#include "platform/windows.h"

namespace vk {

// One I/O control as a device object receives it.
struct IoRequest {
  DWORD code = 0;
  const void* input = nullptr;
  DWORD inputSize = 0;
  void* output = nullptr;
  DWORD outputSize = 0;
};

// What a device object answers: an error number (ERROR_SUCCESS, ERROR_MORE_DATA with the
// required size in `bytes`, any failure) or ERROR_IO_PENDING when it kept the request.
struct IoStatus {
  DWORD error = ERROR_SUCCESS;
  DWORD bytes = 0;
};

// The way back to the caller of a request that a device object keeps: completing it writes the
// caller's OVERLAPPED and signals its event. Move-only; completes at most once.
class PendingIo {
 public:
  PendingIo() = default;
  explicit PendingIo(LPOVERLAPPED overlapped) : overlapped_(overlapped) {}
  PendingIo(PendingIo&& other) noexcept : overlapped_(other.overlapped_) {
    other.overlapped_ = nullptr;
  }
  PendingIo& operator=(PendingIo&& other) noexcept;
  PendingIo(const PendingIo&) = delete;
  PendingIo& operator=(const PendingIo&) = delete;
  ~PendingIo() = default;

  bool Valid() const { return overlapped_ != nullptr; }
  void Complete(DWORD error, DWORD bytes);
  // Writes the outcome into the caller's OVERLAPPED without signalling it yet, and gives the
  // event to signal (null when none): for completions that are to be seen together.
  HANDLE Publish(DWORD error, DWORD bytes);

 private:
  LPOVERLAPPED overlapped_ = nullptr;
};

// Signals the events of several published completions at once: a thread waiting on any of them
// sees all of them done, as it would when they completed in one interrupt.
void SignalTogether(const HANDLE* events, size_t count);

// An open filter or pin as the kernel sees it: one per handle.
class FileObject {
 public:
  virtual ~FileObject() = default;
  // Handles one request. To keep it, move `pending` away and answer ERROR_IO_PENDING.
  virtual IoStatus DeviceControl(const IoRequest& request, PendingIo& pending) = 0;
  // KsCreatePin on this object: the new pin object, or an error number.
  virtual DWORD CreatePin(const KSPIN_CONNECT* connect, ACCESS_MASK access,
                          std::shared_ptr<FileObject>* pin);
  // The last handle was closed; every request still kept must be completed now.
  virtual void Close() {}
};

// Something CreateFileA opens by one of its interface paths.
class DeviceNode {
 public:
  virtual ~DeviceNode() = default;
  virtual DWORD Open(std::shared_ptr<FileObject>* file) = 0;
};

// A device interface registered under one category; `flags` are what an alias query reports
// (SPINT_ACTIVE normally, 0 when disabled, SPINT_REMOVED when gone).
struct InterfaceCategory {
  GUID category;
  DWORD flags = SPINT_ACTIVE;
};

struct InterfaceDescription {
  std::string instanceId;  // for example "USB#VID_FA57&PID_0E1A&MI_01#6&1f0c2a7&0&0001"
  std::string reference;   // the reference string after the category, for example "GLOBAL"
  std::vector<InterfaceCategory> categories;
  bool hasRegistryKey = true;
  bool hasFriendlyName = true;
  std::string friendlyName;
};

// The device path of an interface in one category: \\?\<instance>#{<category>}\<reference>.
std::string InterfacePath(const InterfaceDescription& description, const GUID& category);

using Registration = uint64_t;

// Makes an interface visible to enumeration and opening. Never returns 0.
Registration RegisterInterface(InterfaceDescription description, std::shared_ptr<DeviceNode> node);
// Replaces what enumeration reports for a registered interface (flags, names).
bool UpdateInterface(Registration id, InterfaceDescription description);
// The interface disappears from enumeration and opening; open handles stay until closed.
void UnregisterInterface(Registration id);

// Handles of the virtual kernel open right now (files, device-information sets, keys).
size_t OpenHandleCount();
// Open file handles only: filters and pins.
size_t OpenFileCount();

// What a device model can learn about device access as it happens, for a model that plugs
// itself in when it is first looked for and runs its clock only while it is open.
enum class Activity {
  Enumerating,  // a device-information set is about to be built
  FileOpened,   // a filter or pin handle was opened
  FileClosed,   // a filter or pin handle was closed
};
using ActivityHook = void (*)(Activity activity);
// Installs the one hook (nullptr removes it). It is called on the thread making the call, with
// no lock of the kernel held, so it may register devices and start or stop their clocks.
void SetActivityHook(ActivityHook hook);
void ReportActivity(Activity activity);
// True when the value is a handle of the virtual kernel (the lowest two bits are ignored).
bool IsVirtualHandle(const void* handle);

}  // namespace vk

// The virtual kernel's handle table and request delivery: CreateFileA on an interface path,
// DeviceIoControl with OVERLAPPED completion, KsCreatePin and CloseHandle. Written against the
// Win32 API only, so that it also builds into a Windows DLL.
#include <mutex>

#include "platform/vkernel/DeviceCalls.h"
#include "platform/vkernel/KernelState.h"
#include "platform/vkernel/VirtualKernel.h"

#ifndef _WIN32
#include "platform/emu/CallCount.h"
#include "platform/emu/KernelObjects.h"
#endif

namespace vk {
namespace {

// NTSTATUS values kept in OVERLAPPED.Internal, as the real I/O manager leaves them there.
struct StatusMapping {
  DWORD error;
  ULONG_PTR status;
};
constexpr StatusMapping kStatusMap[] = {
    {ERROR_SUCCESS, 0x00000000u},
    {ERROR_MORE_DATA, 0x80000005u},
    {ERROR_INSUFFICIENT_BUFFER, 0xC0000023u},
    {ERROR_OPERATION_ABORTED, 0xC0000120u},
    {ERROR_DEVICE_NOT_CONNECTED, 0xC000009Du},
    {ERROR_DEVICE_REMOVED, 0xC00002B6u},
    {ERROR_INVALID_PARAMETER, 0xC000000Du},
    {ERROR_INVALID_HANDLE, 0xC0000008u},
    {ERROR_INVALID_FUNCTION, 0xC0000010u},
    {ERROR_NOT_FOUND, 0xC0000225u},
    {ERROR_SET_NOT_FOUND, 0xC0000230u},
    {ERROR_NOT_SUPPORTED, 0xC00000BBu},
    {ERROR_NO_MATCH, 0xC0000272u},
    {ERROR_NO_SYSTEM_RESOURCES, 0xC000009Au},
    {ERROR_NOT_READY, 0xC00000A3u},
    {ERROR_BAD_COMMAND, 0xC0000184u},
    {ERROR_NOACCESS, 0xC0000005u},
    {ERROR_GEN_FAILURE, 0xC0000001u},
};
constexpr ULONG_PTR kStatusPending = 0x00000103u;

// Whether a completion with this error hands its byte count back.
bool CountReported(DWORD error) { return error == ERROR_SUCCESS || error == ERROR_MORE_DATA; }

ULONG_PTR StatusOf(DWORD error) {
  for (const StatusMapping& mapping : kStatusMap) {
    if (mapping.error == error) return mapping.status;
  }
  return 0xC0000001u;
}

DWORD ErrorOf(ULONG_PTR status) {
  for (const StatusMapping& mapping : kStatusMap) {
    if (mapping.status == status) return mapping.error;
  }
  return ERROR_GEN_FAILURE;
}

// The lowest bit of an OVERLAPPED event marks "no completion port"; the event is the rest.
HANDLE Unmarked(HANDLE event) {
  return reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) & ~ULONG_PTR{1});
}

}  // namespace

PendingIo& PendingIo::operator=(PendingIo&& other) noexcept {
  if (this != &other) {
    overlapped_ = other.overlapped_;
    other.overlapped_ = nullptr;
  }
  return *this;
}

HANDLE PendingIo::Publish(DWORD error, DWORD bytes) {
  LPOVERLAPPED overlapped = overlapped_;
  if (overlapped == nullptr) return nullptr;
  overlapped_ = nullptr;
  const HANDLE event = Unmarked(overlapped->hEvent);
  overlapped->InternalHigh = bytes;
  // Published last: a caller that sees the status no longer pending finds the count written.
  __atomic_store_n(&overlapped->Internal, StatusOf(error), __ATOMIC_RELEASE);
  // The caller may free the OVERLAPPED as soon as the event is set: nothing touches it after.
  return event;
}

void PendingIo::Complete(DWORD error, DWORD bytes) {
  const HANDLE event = Publish(error, bytes);
  if (event != nullptr) SetEvent(event);
}

void SignalTogether(const HANDLE* events, size_t count) {
#ifdef _WIN32
  for (size_t i = 0; i < count; ++i) SetEvent(events[i]);
#else
  emu::SetEventsTogether(events, count);
#endif
}

DWORD FileObject::CreatePin(const KSPIN_CONNECT*, ACCESS_MASK, std::shared_ptr<FileObject>*) {
  return ERROR_INVALID_FUNCTION;
}

}  // namespace vk

using vk::HandleEntry;

extern "C" {

HANDLE VkCreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                     LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                     DWORD flagsAndAttributes, HANDLE templateFile) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::shared_ptr<vk::DeviceNode> node = vk::FindNodeByPath(fileName);
  if (!node) {
#ifdef _WIN32
    return CreateFileA(fileName, desiredAccess, shareMode, security, creationDisposition,
                       flagsAndAttributes, templateFile);
#else
    (void)desiredAccess, (void)shareMode, (void)security, (void)creationDisposition,
        (void)templateFile;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
#endif
  }
  std::shared_ptr<vk::FileObject> file;
  const DWORD error = node->Open(&file);
  if (error != ERROR_SUCCESS || !file) {
    SetLastError(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
    return INVALID_HANDLE_VALUE;
  }
  HandleEntry entry;
  entry.kind = HandleEntry::Kind::File;
  entry.file = std::move(file);
  entry.overlapped = (flagsAndAttributes & 0x40000000u) != 0;  // FILE_FLAG_OVERLAPPED
  HANDLE const handle = vk::AddHandle(std::move(entry));
  vk::ReportActivity(vk::Activity::FileOpened);
  return handle;
}

BOOL VkDeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                       LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                       LPOVERLAPPED overlapped) {
#ifndef _WIN32
  emu::CountedCall counted(emu_test::PlatformCall::DeviceIoControl);
#endif
  HandleEntry entry;
  if (!vk::FindHandle(device, &entry)) {
#ifdef _WIN32
    return DeviceIoControl(device, ioControlCode, inBuffer, inBufferSize, outBuffer, outBufferSize,
                           bytesReturned, overlapped);
#else
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
#endif
  }
  if (entry.kind != HandleEntry::Kind::File) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }

  // Without an OVERLAPPED the call waits for the request itself, as on a synchronous handle.
  OVERLAPPED local = {};
  LPOVERLAPPED used = overlapped;
  if (used == nullptr) {
    local.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (local.hEvent == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
    used = &local;
  } else if (used->hEvent != nullptr) {
    ResetEvent(vk::Unmarked(used->hEvent));
  }
  used->Internal = vk::kStatusPending;
  used->InternalHigh = 0;

  vk::IoRequest request;
  request.code = ioControlCode;
  request.input = inBuffer;
  request.inputSize = inBufferSize;
  request.output = outBuffer;
  request.outputSize = outBufferSize;
  vk::PendingIo pending(used);
  vk::IoStatus status = entry.file->DeviceControl(request, pending);

  if (status.error == ERROR_IO_PENDING) {
    if (overlapped != nullptr) {
      SetLastError(ERROR_IO_PENDING);
      return FALSE;
    }
    WaitForSingleObject(local.hEvent, INFINITE);
    status.error = vk::ErrorOf(local.Internal);
    status.bytes = static_cast<DWORD>(local.InternalHigh);
  } else {
    // Completed at once: the OVERLAPPED carries the result, and a success signals its event.
    used->Internal = vk::StatusOf(status.error);
    used->InternalHigh = vk::CountReported(status.error) ? status.bytes : 0;
    if (overlapped != nullptr && overlapped->hEvent != nullptr &&
        (status.error == ERROR_SUCCESS || status.error == ERROR_MORE_DATA)) {
      SetEvent(vk::Unmarked(overlapped->hEvent));
    }
  }
  if (local.hEvent != nullptr) CloseHandle(local.hEvent);

  // Windows writes the count for a success and for the warning ERROR_MORE_DATA (the size a
  // request needs); a failure such as ERROR_INSUFFICIENT_BUFFER leaves it as it was.
  if (bytesReturned != nullptr && vk::CountReported(status.error)) *bytesReturned = status.bytes;
  if (status.error != ERROR_SUCCESS) {
    SetLastError(status.error);
    return FALSE;
  }
  return TRUE;
}

BOOL VkGetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
#ifndef _WIN32
  emu::CountedCall counted(emu_test::PlatformCall::GetOverlappedResult);
#endif
#ifdef _WIN32
  if (!vk::IsVirtualHandle(file)) return GetOverlappedResult(file, overlapped, transferred, wait);
#else
  (void)file;
#endif
  if (overlapped == nullptr || transferred == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ULONG_PTR status = __atomic_load_n(&overlapped->Internal, __ATOMIC_ACQUIRE);
  if (status == vk::kStatusPending) {
    if (!wait || overlapped->hEvent == nullptr) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
    WaitForSingleObject(vk::Unmarked(overlapped->hEvent), INFINITE);
    status = __atomic_load_n(&overlapped->Internal, __ATOMIC_ACQUIRE);
  }
  *transferred = static_cast<DWORD>(overlapped->InternalHigh);
  if (status == 0) return TRUE;
  SetLastError(vk::ErrorOf(status));
  return FALSE;
}

DWORD WINAPI VkKsCreatePin(HANDLE filterHandle, PKSPIN_CONNECT connect, ACCESS_MASK desiredAccess,
                           PHANDLE connectionHandle) {
  if (connect == nullptr || connectionHandle == nullptr) return ERROR_INVALID_PARAMETER;
  HandleEntry entry;
  if (!vk::FindHandle(filterHandle, &entry) || entry.kind != HandleEntry::Kind::File) {
    return ERROR_INVALID_HANDLE;
  }
  std::shared_ptr<vk::FileObject> pin;
  const DWORD error = entry.file->CreatePin(connect, desiredAccess, &pin);
  if (error != ERROR_SUCCESS) return error;
  if (!pin) return ERROR_GEN_FAILURE;
  HandleEntry pinEntry;
  pinEntry.kind = HandleEntry::Kind::File;
  pinEntry.file = std::move(pin);
  pinEntry.overlapped = true;
  *connectionHandle = vk::AddHandle(std::move(pinEntry));
  vk::ReportActivity(vk::Activity::FileOpened);
  return ERROR_SUCCESS;
}

BOOL VkCloseHandle(HANDLE handle) {
  if (!vk::IsVirtualHandle(handle)) return CloseHandle(handle);
  HandleEntry entry;
  if (!vk::RemoveHandle(handle, &entry)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (entry.kind == HandleEntry::Kind::File) {
    if (entry.file) entry.file->Close();
    entry = HandleEntry();  // the last reference to the object may go before the hook runs
    vk::ReportActivity(vk::Activity::FileClosed);
  }
  return TRUE;
}

}  // extern "C"

// The driver object's life cycle, COM identity and the small IASIO methods.
#include <cstdio>
#include <cstring>
#include <new>

#include "driver/AsioDriver.h"
#include "driver/StartFailureText.h"
#include "product/DriverIdentity.h"

namespace {

constexpr char kInitFailed[] = "ASIO Driver open Failure!";
// How long the last release waits for host calls still inside the object; a call that takes
// longer finishes the release itself when it leaves.
constexpr DWORD kReleaseWaitMs = 2500;
constexpr DWORD kPanelWaiterWaitMs = 2000;

}  // namespace

CAsioDriver::CAsioDriver(IUnknown* outerUnknown, HRESULT* phr)
    : CUnknown(kDriverDisplayName, outerUnknown, phr) {
  if (SUCCEEDED(CoInitialize(nullptr))) comThread = GetCurrentThreadId();
}

CAsioDriver::~CAsioDriver() {
  // Every host call has left (the call gate), so nothing else holds the transport lock.
  EndStream();
  // Only settings that were read are written back: an object made just to list or probe the
  // drivers would otherwise put the defaults over the user's preferences.
  settings.SaveIfLoaded();
  ReleaseBuffers();
  // A controlPanel call of another thread that waited for the panel sees it gone and returns.
  panel.WaitForWaiters(kPanelWaiterWaitMs);
  // The constructor's CoInitialize is balanced only on the thread that made it. Released on
  // another thread (a host thread, or the streaming thread of a run let go in the callback), that
  // thread's COM is not ours to touch; the maker's apartment keeps one reference more.
  if (comThread != 0 && comThread == GetCurrentThreadId()) CoUninitialize();
  panel.ReleaseThread();
}

void CAsioDriver::OnLastRelease() {
  // From inside the host's callback the run is let go at once: its thread ends when the callback
  // returns, touching nothing of this object.
  CRunningStream* run = CRunningStream::Current();
  if (run != nullptr && run->Owner() == static_cast<const IStreamOwner*>(this))
    run->AbandonFromCallback();
  // A controlPanel call waiting for the user is let go, then calls still inside are waited for.
  panel.Close();
  if (calls.CloseAndDrain(kReleaseWaitMs)) FinishRelease();
}

void CAsioDriver::LeaveCall() {
  if (calls.Leave()) FinishRelease();
}

void CAsioDriver::FinishRelease() {
  // No host call is inside, so nothing else holds the transport lock. A run that does not end
  // in time is let go; while it is still inside the host's callback, that callback may call
  // into this object (getSamplePosition), so the run deletes it once it has come out.
  if (!OnStreamThread()) EndStream();
  CRunningStream* held = endedStream != nullptr ? endedStream.get() : CRunningStream::Current();
  if (held != nullptr && held->Owner() == static_cast<const IStreamOwner*>(this) &&
      held->DeferOwnerRelease()) {
    return;
  }
  delete this;
}

void CAsioDriver::ReleaseAfterHost() { delete this; }

HRESULT CAsioDriver::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (IsEqualIID(riid, CLSID_NorvaKx7Asio)) return GetInterface(static_cast<IASIO*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ASIOBool CAsioDriver::init(void* /*sysHandle*/) {
  return HostCall<ASIOBool>(ASIOFalse, [this] { return Init(); });
}

ASIOBool CAsioDriver::Init() {
  if (initialised.load()) return ASIOTrue;
  const TransportScope scope(this);
  if (!scope.Entered()) return ASIOFalse;
  if (initialised.load()) return ASIOTrue;
  settings.Load();
  // A stream that runs (a host may start before init) proves the device.
  if (!scope.Locked() || stream != nullptr) {
    initialised.store(true);
    SetErrorMessage(kAsioOkText);
    return ASIOTrue;
  }
  // init only proves that the device is there, and lets it go again; start opens it anew.
  CKx7Device device;
  const bool opened = OpenDevice(device);
  initialised.store(opened);
  SetErrorMessage(opened ? kAsioOkText : kInitFailed);
  return opened ? ASIOTrue : ASIOFalse;
}

void CAsioDriver::getDriverName(char* name) {
  if (name != nullptr) std::memcpy(name, kDriverName, sizeof kDriverName);
}

int32_t CAsioDriver::getDriverVersion() { return kDriverVersion; }

void CAsioDriver::getErrorMessage(char* string) {
  if (string == nullptr) return;
  HostCall<int>(0, [&] {
    std::lock_guard<std::mutex> guard(errorLock);
    std::memcpy(string, errorMessage, std::strlen(errorMessage) + 1);
    return 0;
  });
}

void CAsioDriver::SetErrorMessage(const char* text) {
  std::lock_guard<std::mutex> guard(errorLock);
  std::snprintf(errorMessage, sizeof errorMessage, "%s", text);
}

ASIOError CAsioDriver::future(int32_t selector, void* opt) {
  switch (selector) {
    // The driver's own: the device's events, for a host that knows the record.
    case kx7::kReadDeviceEventsSelector:
      return eventReport.Read(static_cast<kx7::DeviceEventRead*>(opt));
    case kAsioEnableTimeCodeRead:
    case kAsioDisableTimeCodeRead:
    case kAsioCanTimeInfo:
      return ASE_SUCCESS;
    // The driver monitors nothing and the KX-7 reads no time code: a host that trusts a yes
    // turns its own monitoring off, or waits for time code that never comes.
    case kAsioSetInputMonitor:
    case kAsioCanInputMonitor:
    case kAsioCanTimeCode:
    default:
      return ASE_NotPresent;
  }
}

ASIOError CAsioDriver::outputReady() { return ASE_NotPresent; }

INonDelegatingUnknown* CreateDriverInstance(IUnknown* outer, HRESULT* phr) {
  auto* driver = new (std::nothrow) CAsioDriver(outer, phr);
  return driver != nullptr ? static_cast<INonDelegatingUnknown*>(driver) : nullptr;
}

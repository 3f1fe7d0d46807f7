// The driver object's life cycle, COM identity and the small IASIO methods.
#include <cstdio>
#include <cstring>
#include <new>

#include "driver/AsioDriver.h"
#include "product/DriverIdentity.h"

namespace {

constexpr char kInitOk[] = "ASIO OK";
constexpr char kInitFailed[] = "ASIO Driver open Failure!";
// Longer than any set-up or transport call holds the transport lock when its host callbacks
// return: the start handshake, the stream's end and the panel's end together.
constexpr DWORD kReleaseWaitMs = 10000;
constexpr DWORD kPanelWaiterWaitMs = 2000;

}  // namespace

CAsioDriver::CAsioDriver(IUnknown* outerUnknown, HRESULT* phr)
    : CUnknown(kDriverDisplayName, outerUnknown, phr) {
  avrtModule = LoadLibraryA("Avrt.dll");
  if (avrtModule != nullptr) {
    pAvSetMmThreadCharacteristicsA = reinterpret_cast<PFN_AvSetMmThreadCharacteristicsA>(
        reinterpret_cast<void*>(GetProcAddress(avrtModule, "AvSetMmThreadCharacteristicsA")));
    pAvRevertMmThreadCharacteristics = reinterpret_cast<PFN_AvRevertMmThreadCharacteristics>(
        reinterpret_cast<void*>(GetProcAddress(avrtModule, "AvRevertMmThreadCharacteristics")));
  }
  comInitialized.reset(new (std::nothrow) ComInitialization{false});
  const HRESULT hr = CoInitialize(nullptr);
  if (comInitialized) comInitialized->initialized = hr != RPC_E_CHANGED_MODE;
}

CAsioDriver::~CAsioDriver() {
  // A set-up or transport call still running on another thread finishes first. Every holder of
  // the lock waits only for bounded things; a host callback that does not return is the one
  // exception, and after this wait the release goes on regardless.
  const bool locked = !OnStreamThread() && LockTransportWithin(kReleaseWaitMs);
  EndStream();
  settings.Save();
  ReleaseBuffers();
  // A controlPanel call of another thread that waited for the panel sees it gone and returns.
  panel.WaitForWaiters(kPanelWaiterWaitMs);
  if (comInitialized && comInitialized->initialized) CoUninitialize();
  comInitialized.reset();
  if (avrtModule != nullptr) FreeLibrary(avrtModule);
  panel.ReleaseThread();
  if (streamThread != INVALID_HANDLE_VALUE) CloseHandle(streamThread);
  if (locked) UnlockTransport();
}

HRESULT CAsioDriver::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (IsEqualIID(riid, CLSID_NorvaKx7Asio)) return GetInterface(static_cast<IASIO*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ASIOBool CAsioDriver::init(void* /*sysHandle*/) {
  if (initialised.load()) return ASIOTrue;
  const TransportScope scope(this);
  if (!scope.Entered()) return ASIOFalse;
  if (initialised.load()) return ASIOTrue;
  settings.Load();
  // A stream that runs (a host may start before init) proves the device, and opening the device
  // again would release the pins under it.
  if (!scope.Locked() || streamThread != INVALID_HANDLE_VALUE) {
    initialised.store(true);
    SetErrorMessage(kInitOk);
    return ASIOTrue;
  }
  const bool opened = OpenDevice();
  initialised.store(opened);
  SetErrorMessage(opened ? kInitOk : kInitFailed);
  // init only proves that the device is there; start opens it anew.
  ReleaseEnumerators();
  return opened ? ASIOTrue : ASIOFalse;
}

void CAsioDriver::getDriverName(char* name) {
  if (name != nullptr) std::memcpy(name, kDriverName, sizeof kDriverName);
}

int32_t CAsioDriver::getDriverVersion() { return kDriverVersion; }

void CAsioDriver::getErrorMessage(char* string) {
  if (string == nullptr) return;
  std::lock_guard<std::mutex> guard(errorLock);
  std::memcpy(string, errorMessage, std::strlen(errorMessage) + 1);
}

void CAsioDriver::SetErrorMessage(const char* text) {
  std::lock_guard<std::mutex> guard(errorLock);
  std::snprintf(errorMessage, sizeof errorMessage, "%s", text);
}

ASIOError CAsioDriver::future(int32_t selector, void* /*opt*/) {
  switch (selector) {
    case kAsioEnableTimeCodeRead:
    case kAsioDisableTimeCodeRead:
    case kAsioSetInputMonitor:  // accepted; nothing is monitored
    case kAsioCanInputMonitor:
    case kAsioCanTimeInfo:
    case kAsioCanTimeCode:
      return ASE_SUCCESS;
    default:
      return ASE_NotPresent;
  }
}

ASIOError CAsioDriver::outputReady() { return ASE_NotPresent; }

INonDelegatingUnknown* CreateDriverInstance(IUnknown* outer, HRESULT* phr) {
  auto* driver = new (std::nothrow) CAsioDriver(outer, phr);
  return driver != nullptr ? static_cast<INonDelegatingUnknown*>(driver) : nullptr;
}

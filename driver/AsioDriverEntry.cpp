// The driver object's life cycle, COM identity and the small IASIO methods.
#include <cstring>
#include <new>

#include "driver/AsioDriver.h"
#include "driver/DriverIdentity.h"

namespace {

void CopyText(char* destination, size_t size, const char* text) {
  std::strncpy(destination, text, size - 1);
  destination[size - 1] = '\0';
}

}  // namespace

CAsioDriver::CAsioDriver(IUnknown* outerUnknown, HRESULT* phr)
    : CUnknown(kDriverDisplayName, outerUnknown, phr) {
  panelOpenTime = timeGetTime();
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
  stop();
  SaveSettings();
  disposeBuffers();
  if (comInitialized && comInitialized->initialized) CoUninitialize();
  comInitialized.reset();
  if (avrtModule != nullptr) FreeLibrary(avrtModule);
  if (panelThread != INVALID_HANDLE_VALUE) {
    // A panel that the user closed may still be ending: it runs our code until it has returned.
    WaitForSingleObject(panelThread, 2000);
    CloseHandle(panelThread);
  }
  if (streamThread != INVALID_HANDLE_VALUE) CloseHandle(streamThread);
}

HRESULT CAsioDriver::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (IsEqualIID(riid, CLSID_NorvaKx7Asio)) return GetInterface(static_cast<IASIO*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ASIOBool CAsioDriver::init(void* /*sysHandle*/) {
  if (initialised) return ASIOTrue;
  LoadSettings();
  if (OpenDevice()) {
    initialised = true;
    CopyText(errorMessage, sizeof errorMessage, "ASIO OK");
  } else {
    CopyText(errorMessage, sizeof errorMessage, "ASIO Driver open Failure!");
  }
  // init only proves that the device is there; start opens it anew.
  ReleaseEnumerators();
  return initialised ? ASIOTrue : ASIOFalse;
}

void CAsioDriver::getDriverName(char* name) {
  if (name != nullptr) std::memcpy(name, kDriverName, sizeof kDriverName);
}

int32_t CAsioDriver::getDriverVersion() { return kDriverVersion; }

void CAsioDriver::getErrorMessage(char* string) {
  if (string != nullptr) std::memcpy(string, errorMessage, std::strlen(errorMessage) + 1);
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

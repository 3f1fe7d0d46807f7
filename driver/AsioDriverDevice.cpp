// Device discovery: finds the KX-7's capture and render filters among the machine's KS audio
// filters by the hardware ID in their device paths, and makes the pins at the host's rate. When
// the device or a pin cannot be had, errorMessage says why.
#include <cstdio>
#include <cstring>

#include "driver/AsioDriver.h"
#include "driver/StartFailureText.h"
#include "ks/KsLayer.h"

namespace {

// Whether the KX-7 is there as a real-time (looped-only) audio filter, which the USB audio class
// 2.0 driver gives it and which has no pin this driver can stream through.
bool RealtimeOnlyDevicePresent() {
  CKsEnumFilters* enumerator = KsNewEnumFilters();
  if (enumerator == nullptr) return false;
  const bool found = KsFindDeviceFilter(enumerator, FilterTypeUnknown, KSCATEGORY_REALTIME,
                                        g_szKx7HardwareId, FALSE) != nullptr;
  delete enumerator;
  return found;
}

// The text for a pin the device created with neither format, from the KS layer's results of
// both tries: a pin held elsewhere or a device gone tells more than the format refused.
void DescribePinFailure(HRESULT first, HRESULT second, ASIOSampleRate rate, char* text,
                        size_t size) {
  auto either = [first, second](DWORD error) {
    return first == HRESULT_FROM_WIN32(error) || second == HRESULT_FROM_WIN32(error);
  };
  if (either(ERROR_BAD_COMMAND) || either(ERROR_NO_SYSTEM_RESOURCES)) {
    std::snprintf(text, size, "%s", kPinInUseText);
  } else if (either(ERROR_DEVICE_NOT_CONNECTED) || either(ERROR_DEVICE_REMOVED) ||
             either(ERROR_FILE_NOT_FOUND)) {
    std::snprintf(text, size, "%s", kHardwareNotFoundText);
  } else {
    std::snprintf(text, size, kFormatRefusedText, static_cast<unsigned>(rate));
  }
}

// Makes a pin in the 24-bit extensible format, else in plain PCM. When the device takes neither,
// `why` says what went wrong.
CKsAudPin* CreatePinInEitherFormat(CKsAudFilter* filter, WAVEFORMATEXTENSIBLE format,
                                   ASIOSampleRate rate, char* why, size_t size) {
  CKsAudPin* pin = KsCreateKx7Pin(filter, format);
  if (pin != nullptr) return pin;
  const HRESULT first = filter->m_hrCreatePin;
  KsMakePlainPcm(&format);
  pin = KsCreateKx7Pin(filter, format);
  if (pin == nullptr) DescribePinFailure(first, filter->m_hrCreatePin, rate, why, size);
  return pin;
}

}  // namespace

bool CAsioDriver::OpenDevice(CKx7Device& device) {
  device.ReleaseEnumerators();
  device.captureEnum = KsNewEnumFilters();
  device.renderEnum = KsNewEnumFilters();
  if (device.captureEnum != nullptr) device.captureFilter = FindCaptureFilter(device.captureEnum);
  if (device.renderEnum != nullptr) device.renderFilter = FindRenderFilter(device.renderEnum);
  if (device.captureFilter != nullptr && device.renderFilter != nullptr) return true;
  SetErrorMessage(RealtimeOnlyDevicePresent() ? kUsbAudio2Text : kHardwareNotFoundText);
  return false;
}

CKsAudCapFilter* CAsioDriver::FindCaptureFilter(CKsEnumFilters* enumerator) {
  return static_cast<CKsAudCapFilter*>(KsFindDeviceFilter(
      enumerator, FilterTypeCapture, KSCATEGORY_CAPTURE, g_szKx7HardwareId, TRUE));
}

CKsAudRenFilter* CAsioDriver::FindRenderFilter(CKsEnumFilters* enumerator) {
  return static_cast<CKsAudRenFilter*>(
      KsFindDeviceFilter(enumerator, FilterTypeRender, KSCATEGORY_RENDER, g_szKx7HardwareId, TRUE));
}

CKsAudPin* CAsioDriver::CreateCapturePinAtRate(CKsAudCapFilter* filter, ASIOSampleRate rate) {
  char why[sizeof errorMessage];
  CKsAudPin* pin = CreatePinInEitherFormat(filter, KsKx7CaptureFormat(static_cast<DWORD>(rate)),
                                           rate, why, sizeof why);
  if (pin == nullptr) SetErrorMessage(why);
  return pin;
}

CKsAudPin* CAsioDriver::CreateRenderPinAtRate(CKsAudRenFilter* filter, ASIOSampleRate rate) {
  char why[sizeof errorMessage];
  CKsAudPin* pin = CreatePinInEitherFormat(filter, KsKx7RenderFormat(static_cast<DWORD>(rate)),
                                           rate, why, sizeof why);
  if (pin == nullptr) SetErrorMessage(why);
  return pin;
}

void CKx7Device::ReleaseEnumerators() {
  // The filters and pins belong to the enumerators and go with them.
  captureFilter = nullptr;
  renderFilter = nullptr;
  capturePin = nullptr;
  renderPin = nullptr;
  delete captureEnum;
  delete renderEnum;
  captureEnum = nullptr;
  renderEnum = nullptr;
}

// Opening the KX-7 again from a thread of the run's own: its filters found anew and its pins made
// at a rate, without the driver object. The driver's own opening says why when it fails.
#include "driver/Kx7Device.h"

#include "ks/KsLayer.h"

namespace {

// A pin in the 24-bit extensible format, else in plain PCM; null when the device takes neither.
CKsAudPin* CreatePinAt(CKsAudFilter* filter, WAVEFORMATEXTENSIBLE format) {
  if (filter == nullptr) return nullptr;
  CKsAudPin* pin = KsCreateKx7Pin(filter, format);
  if (pin != nullptr) return pin;
  KsMakePlainPcm(&format);
  return KsCreateKx7Pin(filter, format);
}

bool TakesRate(CKsAudPin* pin, WAVEFORMATEXTENSIBLE format) {
  if (pin == nullptr) return false;
  if (pin->IsFormatSupported(&format.Format)) return true;
  KsMakePlainPcm(&format);
  return pin->IsFormatSupported(&format.Format) != FALSE;
}

}  // namespace

bool CKx7Device::FindFilters() {
  ReleaseEnumerators();
  captureEnum = KsNewEnumFilters();
  renderEnum = KsNewEnumFilters();
  if (captureEnum == nullptr || renderEnum == nullptr) return false;
  captureFilter = static_cast<CKsAudCapFilter*>(KsFindDeviceFilter(
      captureEnum, FilterTypeCapture, KSCATEGORY_CAPTURE, g_szKx7HardwareId, TRUE));
  renderFilter = static_cast<CKsAudRenFilter*>(
      KsFindDeviceFilter(renderEnum, FilterTypeRender, KSCATEGORY_RENDER, g_szKx7HardwareId, TRUE));
  return captureFilter != nullptr && renderFilter != nullptr;
}

bool CKx7Device::CreatePins(double rate) {
  const auto hz = static_cast<DWORD>(rate);
  capturePin = CreatePinAt(captureFilter, KsKx7CaptureFormat(hz));
  if (capturePin != nullptr) renderPin = CreatePinAt(renderFilter, KsKx7RenderFormat(hz));
  if (HasPins()) return true;
  ClosePins();
  return false;
}

void CKx7Device::ClosePins() {
  if (capturePin != nullptr) capturePin->ClosePin();
  if (renderPin != nullptr) renderPin->ClosePin();
  capturePin = nullptr;
  renderPin = nullptr;
}

bool CKx7Device::PinsTakeRate(double rate) const {
  const auto hz = static_cast<DWORD>(rate);
  return TakesRate(capturePin, KsKx7CaptureFormat(hz)) &&
         TakesRate(renderPin, KsKx7RenderFormat(hz));
}

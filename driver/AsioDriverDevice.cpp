// Device discovery: finds the KX-7's capture and render filters among the machine's KS audio
// filters by the hardware ID in their device paths, and makes the pins at the host's rate. When
// the device or a pin cannot be had, errorMessage says why.
#include <cstdio>
#include <cstring>
#include <new>

#include "driver/AsioDriver.h"
#include "driver/StartFailureText.h"
#include "ks/KsLayer.h"

namespace {

constexpr char kHardwareId[] = "usb#vid_fa57&pid_0e1a";

CKsEnumFilters* NewEnumerator() {
  HRESULT hr = E_FAIL;
  auto* enumerator = new (std::nothrow) CKsEnumFilters(&hr);
  if (enumerator != nullptr && FAILED(hr)) {
    delete enumerator;
    enumerator = nullptr;
  }
  return enumerator;
}

// The first filter of the given kind whose lower-cased device path holds the hardware ID; the
// filters are opened with their pins unless only their paths are wanted.
CKsFilter* FindDeviceFilter(CKsEnumFilters* enumerator, KsFilterType type, const GUID& category,
                            BOOL open = TRUE) {
  const GUID categories[2] = {KSCATEGORY_AUDIO, category};
  if (FAILED(enumerator->EnumFilters(type, categories, 2, open, FALSE, open))) return nullptr;
  for (CKsFilter* filter : enumerator->m_Filters) {
    char path[MAX_PATH];
    std::memcpy(path, filter->m_szFilterName, sizeof path);
    path[MAX_PATH - 1] = '\0';
    if (filter->GetType() != type) continue;
    for (char& c : path) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (std::strstr(path, kHardwareId) != nullptr) return filter;
  }
  return nullptr;
}

// The first-choice format of a direction: 24-bit PCM in an extensible record.
WAVEFORMATEXTENSIBLE DeviceFormat(WORD channels, DWORD channelMask, ASIOSampleRate rate) {
  WAVEFORMATEXTENSIBLE format;
  std::memset(&format, 0, sizeof format);
  format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  format.Format.nChannels = channels;
  format.Format.nSamplesPerSec = static_cast<DWORD>(rate);
  format.Format.nAvgBytesPerSec = 3u * channels * format.Format.nSamplesPerSec;
  format.Format.nBlockAlign = static_cast<WORD>(3 * channels);
  format.Format.wBitsPerSample = 24;
  format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  format.Samples.wValidBitsPerSample = 24;
  format.dwChannelMask = channelMask;
  format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  return format;
}

// The second choice: the same samples described as plain WAVE_FORMAT_PCM.
void MakePlainPcm(WAVEFORMATEXTENSIBLE* format) {
  format->Format.wFormatTag = WAVE_FORMAT_PCM;
  format->Format.cbSize = 0;
  format->Samples.wValidBitsPerSample = 0;
  format->dwChannelMask = 0;
  std::memset(&format->SubFormat, 0, sizeof format->SubFormat);
}

// Whether the KX-7 is there as a real-time (looped-only) audio filter, which the USB audio class
// 2.0 driver gives it and which has no pin this driver can stream through.
bool RealtimeOnlyDevicePresent() {
  CKsEnumFilters* enumerator = NewEnumerator();
  if (enumerator == nullptr) return false;
  const bool found =
      FindDeviceFilter(enumerator, FilterTypeUnknown, KSCATEGORY_REALTIME, FALSE) != nullptr;
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

}  // namespace

bool CAsioDriver::OpenDevice() {
  ReleaseEnumerators();
  captureFilter = nullptr;
  renderFilter = nullptr;
  capturePin = nullptr;
  renderPin = nullptr;
  captureEnum = NewEnumerator();
  renderEnum = NewEnumerator();
  if (captureEnum != nullptr) captureFilter = FindCaptureFilter(captureEnum);
  if (renderEnum != nullptr) renderFilter = FindRenderFilter(renderEnum);
  if (captureFilter != nullptr && renderFilter != nullptr) return true;
  SetErrorMessage(RealtimeOnlyDevicePresent() ? kUsbAudio2Text : kHardwareNotFoundText);
  return false;
}

CKsAudCapFilter* CAsioDriver::FindCaptureFilter(CKsEnumFilters* enumerator) {
  return static_cast<CKsAudCapFilter*>(
      FindDeviceFilter(enumerator, FilterTypeCapture, KSCATEGORY_CAPTURE));
}

CKsAudRenFilter* CAsioDriver::FindRenderFilter(CKsEnumFilters* enumerator) {
  return static_cast<CKsAudRenFilter*>(
      FindDeviceFilter(enumerator, FilterTypeRender, KSCATEGORY_RENDER));
}

CKsAudPin* CAsioDriver::CreateCapturePinAtRate(CKsAudCapFilter* filter, ASIOSampleRate rate) {
  WAVEFORMATEXTENSIBLE format = DeviceFormat(1, SPEAKER_FRONT_CENTER, rate);
  CKsAudPin* pin = filter->CreateCapturePin(&format.Format, KsStreamingModeStandard);
  if (pin != nullptr) return pin;
  const HRESULT first = filter->m_hrCreatePin;
  MakePlainPcm(&format);
  pin = filter->CreateCapturePin(&format.Format, KsStreamingModeStandard);
  if (pin == nullptr) {
    char text[sizeof errorMessage];
    DescribePinFailure(first, filter->m_hrCreatePin, rate, text, sizeof text);
    SetErrorMessage(text);
  }
  return pin;
}

CKsAudPin* CAsioDriver::CreateRenderPinAtRate(CKsAudRenFilter* filter, ASIOSampleRate rate) {
  WAVEFORMATEXTENSIBLE format = DeviceFormat(2, SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT, rate);
  CKsAudPin* pin = filter->CreateRenderPin(&format.Format, KsStreamingModeDefault);
  if (pin != nullptr) return pin;
  const HRESULT first = filter->m_hrCreatePin;
  MakePlainPcm(&format);
  pin = filter->CreateRenderPin(&format.Format, KsStreamingModeDefault);
  if (pin == nullptr) {
    char text[sizeof errorMessage];
    DescribePinFailure(first, filter->m_hrCreatePin, rate, text, sizeof text);
    SetErrorMessage(text);
  }
  return pin;
}

void CAsioDriver::ReleaseEnumerators() {
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

// Device discovery: finds the KX-7's capture and render filters among the machine's KS audio
// filters by the hardware ID in their device paths, and makes the pins at the host's rate.
#include <cstring>
#include <new>

#include "driver/AsioDriver.h"
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

// The first filter of the given kind whose lower-cased device path holds the hardware ID.
CKsFilter* FindDeviceFilter(CKsEnumFilters* enumerator, KsFilterType type, const GUID& category) {
  const GUID categories[2] = {KSCATEGORY_AUDIO, category};
  if (FAILED(enumerator->EnumFilters(type, categories, 2, TRUE, FALSE, TRUE))) return nullptr;
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
  errorMessage.store("NORVA KX-7 hardware not found.");
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
  MakePlainPcm(&format);
  return filter->CreateCapturePin(&format.Format, KsStreamingModeStandard);
}

CKsAudPin* CAsioDriver::CreateRenderPinAtRate(CKsAudRenFilter* filter, ASIOSampleRate rate) {
  WAVEFORMATEXTENSIBLE format = DeviceFormat(2, SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT, rate);
  CKsAudPin* pin = filter->CreateRenderPin(&format.Format, KsStreamingModeDefault);
  if (pin != nullptr) return pin;
  MakePlainPcm(&format);
  return filter->CreateRenderPin(&format.Format, KsStreamingModeDefault);
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

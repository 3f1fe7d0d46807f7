#include "ks/KsDeviceChoice.h"

#include <cstring>
#include <new>

CKsEnumFilters* KsNewEnumFilters() {
  HRESULT hr = E_FAIL;
  auto* pEnum = new (std::nothrow) CKsEnumFilters(&hr);
  if (pEnum != nullptr && FAILED(hr)) {
    delete pEnum;
    pEnum = nullptr;
  }
  return pEnum;
}

BOOL KsPathHasHardwareId(LPCSTR pszPath, LPCSTR pszHardwareId) {
  if (pszPath == nullptr || pszHardwareId == nullptr) return FALSE;
  char szPath[MAX_PATH];
  size_t i = 0;
  for (; i + 1 < sizeof szPath && pszPath[i] != '\0'; ++i) {
    const char c = pszPath[i];
    szPath[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  szPath[i] = '\0';
  return std::strstr(szPath, pszHardwareId) != nullptr ? TRUE : FALSE;
}

CKsFilter* KsFindDeviceFilter(CKsEnumFilters* pEnum, KsFilterType eFilterType, REFGUID guidCategory,
                              LPCSTR pszHardwareId, BOOL fOpen) {
  if (pEnum == nullptr) return nullptr;
  const GUID aguidCategories[2] = {KSCATEGORY_AUDIO, guidCategory};
  if (FAILED(pEnum->EnumFilters(eFilterType, aguidCategories, 2, fOpen, FALSE, fOpen))) {
    return nullptr;
  }
  for (CKsFilter* pFilter : pEnum->m_Filters) {
    if (pFilter->GetType() != eFilterType) continue;
    if (KsPathHasHardwareId(pFilter->m_szFilterName, pszHardwareId)) return pFilter;
  }
  return nullptr;
}

WAVEFORMATEXTENSIBLE KsPcmFormat(WORD nChannels, WORD wBitsPerSample, WORD wValidBitsPerSample,
                                 DWORD dwChannelMask, DWORD nSamplesPerSec) {
  WAVEFORMATEXTENSIBLE format;
  std::memset(&format, 0, sizeof format);
  const WORD nBlockAlign = static_cast<WORD>(nChannels * (wBitsPerSample / 8));
  format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  format.Format.nChannels = nChannels;
  format.Format.nSamplesPerSec = nSamplesPerSec;
  format.Format.nAvgBytesPerSec = nBlockAlign * nSamplesPerSec;
  format.Format.nBlockAlign = nBlockAlign;
  format.Format.wBitsPerSample = wBitsPerSample;
  format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  format.Samples.wValidBitsPerSample = wValidBitsPerSample;
  format.dwChannelMask = dwChannelMask;
  format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  return format;
}

WAVEFORMATEXTENSIBLE KsKx7CaptureFormat(DWORD nSamplesPerSec, WORD wBitsPerSample) {
  return KsPcmFormat(1, wBitsPerSample, 24, SPEAKER_FRONT_CENTER, nSamplesPerSec);
}

WAVEFORMATEXTENSIBLE KsKx7RenderFormat(DWORD nSamplesPerSec, WORD wBitsPerSample) {
  return KsPcmFormat(2, wBitsPerSample, 24, SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT,
                     nSamplesPerSec);
}

CKsAudPin* KsCreateKx7Pin(CKsAudFilter* pFilter, const WAVEFORMATEXTENSIBLE& format) {
  if (pFilter == nullptr) return nullptr;
  switch (pFilter->GetType()) {
    case FilterTypeCapture:
      return static_cast<CKsAudCapFilter*>(pFilter)->CreateCapturePin(&format.Format,
                                                                      KsStreamingModeStandard);
    case FilterTypeRender:
      return static_cast<CKsAudRenFilter*>(pFilter)->CreateRenderPin(&format.Format,
                                                                     KsStreamingModeDefault);
    default:
      return nullptr;
  }
}

void KsMakePlainPcm(WAVEFORMATEXTENSIBLE* pFormat) {
  pFormat->Format.wFormatTag = WAVE_FORMAT_PCM;
  pFormat->Format.cbSize = 0;
  pFormat->Samples.wValidBitsPerSample = 0;
  pFormat->dwChannelMask = 0;
  std::memset(&pFormat->SubFormat, 0, sizeof pFormat->SubFormat);
}

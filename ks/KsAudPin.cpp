#include "ks/KsAudPin.h"

#include <cstring>
#include <new>

#include "ks/KsAudFilter.h"
#include "ks/KsReply.h"
#include "ks/KsTrace.h"

namespace {

// Size of the connect record: KSPIN_CONNECT, KSDATAFORMAT, then the wave format.
constexpr ULONG kWaveFormatOffset = sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT);  // 136

// The sub-type a wave format stands for: its tag in the wave-format GUID family, or the
// SubFormat of an extensible format.
GUID SubTypeOf(const WAVEFORMATEX* pwfx) {
  if (pwfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
    WAVEFORMATEXTENSIBLE wfext;
    std::memcpy(&wfext, pwfx, sizeof wfext);
    return wfext.SubFormat;
  }
  GUID guid = KSDATAFORMAT_SUBTYPE_WAVEFORMATEX;
  guid.Data1 = pwfx->wFormatTag;
  return guid;
}

bool IsNullGuid(const GUID& guid) { return IsEqualGUID(guid, GUID_NULL) != FALSE; }

// Reads (KSPROPERTY_TYPE_GET) or writes (KSPROPERTY_TYPE_SET) the pin's stream position. A null
// record is refused without a message; a failed request is traced.
HRESULT PositionRequest(CKsAudPin& pin, ULONG ulFlags, PKSAUDIO_POSITION pPosition) {
  if (pPosition == nullptr) return E_INVALIDARG;
  const bool fSet = ulFlags == KSPROPERTY_TYPE_SET;
  const HRESULT hr = fSet ? pin.SetPropertySimple(KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION,
                                                  pPosition, sizeof(KSAUDIO_POSITION))
                          : pin.GetPropertySimple(KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION,
                                                  pPosition, sizeof(KSAUDIO_POSITION));
  if (FAILED(hr)) {
    KsTrace(KS_TRACE_ERROR, "Failed to %s audio stream position - %#08x", fSet ? "set" : "retrieve",
            static_cast<unsigned>(hr));
  }
  return hr;
}

}  // namespace

ULONG KsWaveFormatSize(const WAVEFORMATEX* pwfx) {
  if (pwfx->wFormatTag == WAVE_FORMAT_PCM) return sizeof(WAVEFORMATEX);
  return sizeof(WAVEFORMATEX) + pwfx->cbSize;
}

CKsAudPin::CKsAudPin(CKsAudFilter* pFilter, ULONG nId, HRESULT* phr)
    : CKsPin(pFilter, nId, phr),
      m_pAudFilter(pFilter),
      m_pWaveFormatEx(nullptr),
      m_pksDataFormatWfx(nullptr),
      m_fLoopedPreferred(FALSE) {
  KS_TRACE_ENTER("CKsAudPin::CKsAudPin");
  HRESULT hr = phr != nullptr ? *phr : S_OK;
  if (SUCCEEDED(hr)) {
    m_cbPinCreateSize = kWaveFormatOffset + sizeof(WAVEFORMATEX);
    BYTE* pbRecord = KsAllocReply(m_cbPinCreateSize);
    if (pbRecord == nullptr) {
      KsTrace(KS_TRACE_ERROR, "Failed to allocate m_pksPinCreate");
      hr = E_OUTOFMEMORY;
    } else {
      m_pksPinCreate = reinterpret_cast<PKSPIN_CONNECT>(pbRecord);
      m_pksPinCreate->Interface.Set = KSINTERFACESETID_Standard;
      m_pksPinCreate->Interface.Id = KSINTERFACE_STANDARD_STREAMING;
      m_pksPinCreate->Interface.Flags = 0;
      m_pksPinCreate->Medium.Set = KSMEDIUMSETID_Standard;
      m_pksPinCreate->Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
      m_pksPinCreate->Medium.Flags = 0;
      m_pksPinCreate->PinId = nId;
      m_pksPinCreate->PinToHandle = nullptr;
      m_pksPinCreate->Priority.PriorityClass = KSPRIORITY_NORMAL;
      m_pksPinCreate->Priority.PrioritySubClass = 1;

      m_pksDataFormatWfx = reinterpret_cast<PKSDATAFORMAT>(pbRecord + sizeof(KSPIN_CONNECT));
      m_pksDataFormatWfx->FormatSize = sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX);
      m_pksDataFormatWfx->Flags = 0;
      m_pksDataFormatWfx->SampleSize = 0;
      m_pksDataFormatWfx->Reserved = 0;
      m_pksDataFormatWfx->MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
      m_pksDataFormatWfx->SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
      m_pksDataFormatWfx->Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
      hr = Init();
    }
  }
  if (phr != nullptr) *phr = hr;
  KS_TRACE_LEAVE_HR("CKsAudPin::CKsAudPin", hr);
}

CKsAudPin::~CKsAudPin() {
  KS_TRACE_ENTER("CKsAudPin::~CKsAudPin");
  while (KSDATARANGE_AUDIO* pRange = m_DataRanges.RemoveHead()) delete pRange;
  KsFreeReply(m_pWaveFormatEx);
  m_pWaveFormatEx = nullptr;
  KS_TRACE_LEAVE("CKsAudPin::~CKsAudPin");
}

HRESULT CKsAudPin::Init() {
  KS_TRACE_ENTER("CKsAudPin::Init");
  HRESULT hr = S_OK;

  bool fStandardInterface = false;
  for (ULONG i = 0; i < m_Descriptor.cInterfaces && !fStandardInterface; ++i) {
    const KSPIN_INTERFACE& ksInterface = m_Descriptor.pInterfaces[i];
    if (IsEqualGUID(ksInterface.Set, KSINTERFACESETID_Standard) &&
        ksInterface.Id == KSINTERFACE_STANDARD_STREAMING) {
      m_fLoopedPreferred = FALSE;
      fStandardInterface = true;
    }
  }
  bool fStandardMedium = false;
  for (ULONG i = 0; i < m_Descriptor.cMediums && !fStandardMedium; ++i) {
    const KSPIN_MEDIUM& ksMedium = m_Descriptor.pMediums[i];
    fStandardMedium = IsEqualGUID(ksMedium.Set, KSMEDIUMSETID_Standard) &&
                      ksMedium.Id == KSMEDIUM_TYPE_ANYINSTANCE;
  }

  if (!fStandardInterface) {
    KsTrace(KS_TRACE_ERROR, "No standard streaming interfaces on the pin");
    hr = E_FAIL;
  } else if (!fStandardMedium) {
    KsTrace(KS_TRACE_ERROR, "No standard streaming mediums on the pin");
    hr = E_FAIL;
  } else if (m_Descriptor.cDataRanges == 0) {
    KsTrace(KS_TRACE_ERROR, "No audio dataranges on the pin");
    hr = E_FAIL;
  } else {
    // Once one range has an audio sub-type, later ranges are taken without that test.
    bool fAudioSubType = false;
    CKsDataRangeWalk walk(m_Descriptor.pDataRanges, m_Descriptor.cDataRanges);
    while (const BYTE* pbRange = walk.Next()) {
      const KSDATARANGE range = KsReadDataRange(pbRange);
      if (!fAudioSubType) {
        fAudioSubType = IS_VALID_WAVEFORMATEX_GUID(&range.SubFormat) ||
                        IsEqualGUID(range.SubFormat, KSDATAFORMAT_SUBTYPE_PCM) ||
                        IsNullGuid(range.SubFormat);
      }
      if (fAudioSubType && IsEqualGUID(range.MajorFormat, KSDATAFORMAT_TYPE_AUDIO)) {
        if (range.FormatSize < sizeof(KSDATARANGE_AUDIO)) {
          // Too short to carry channel, bit and rate limits: not an audio range to match.
          KsTrace(KS_TRACE_WARNING, "Audio datarange of %lu bytes is too short; skipped",
                  static_cast<unsigned long>(range.FormatSize));
        } else {
          KSDATARANGE_AUDIO* pCopy = new (std::nothrow) KSDATARANGE_AUDIO;
          if (pCopy == nullptr) {
            KsTrace(KS_TRACE_ERROR, "Unable to allocate memory to save datarange in");
            hr = E_OUTOFMEMORY;
          } else {
            std::memcpy(pCopy, pbRange, sizeof(KSDATARANGE_AUDIO));
            if (!m_DataRanges.AddTail(pCopy)) {
              delete pCopy;
              KsTrace(KS_TRACE_ERROR, "Unable to allocate list entry to save datarange in");
              hr = E_OUTOFMEMORY;
            }
          }
        }
      }
    }
    if (!fAudioSubType) {
      KsTrace(KS_TRACE_ERROR, "No audio dataranges on the pin");
      hr = E_FAIL;
    }
  }
  KS_TRACE_LEAVE_HR("CKsAudPin::Init", hr);
  return hr;
}

BOOL CKsAudPin::IsFormatSupported(const WAVEFORMATEX* pwfx) {
  KS_TRACE_ENTER("CKsAudPin::IsFormatSupported");
  BOOL fSupported = FALSE;
  // An extensible tag on a record too short to hold the extension is not a format.
  const bool fWellFormed =
      pwfx != nullptr &&
      (pwfx->wFormatTag != WAVE_FORMAT_EXTENSIBLE ||
       static_cast<size_t>(pwfx->cbSize) >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX));
  if (fWellFormed) {
    const GUID guidSubType = SubTypeOf(pwfx);
    for (const KSDATARANGE_AUDIO* pRange : m_DataRanges) {
      const KSDATARANGE& range = pRange->DataRange;
      if (!IsNullGuid(range.MajorFormat) &&
          !IsEqualGUID(range.MajorFormat, KSDATAFORMAT_TYPE_AUDIO)) {
        continue;
      }
      if (!IsNullGuid(range.SubFormat) && !IsEqualGUID(range.SubFormat, guidSubType)) continue;
      if (!IsNullGuid(range.Specifier) &&
          !IsEqualGUID(range.Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX)) {
        continue;
      }
      const ULONG nChannels = pwfx->nChannels;
      const ULONG nBitsPerSample = pwfx->wBitsPerSample;
      if (pRange->MaximumChannels < nChannels) continue;
      if (nBitsPerSample < pRange->MinimumBitsPerSample ||
          nBitsPerSample > pRange->MaximumBitsPerSample) {
        continue;
      }
      if (pwfx->nSamplesPerSec < pRange->MinimumSampleFrequency ||
          pwfx->nSamplesPerSec > pRange->MaximumSampleFrequency) {
        continue;
      }
      fSupported = TRUE;
      break;
    }
  }
  KS_TRACE_LEAVE("CKsAudPin::IsFormatSupported");
  return fSupported;
}

HRESULT CKsAudPin::SetFormat(const WAVEFORMATEX* pwfx) {
  KS_TRACE_ENTER("CKsAudPin::SetFormat");
  if (pwfx == nullptr || m_pksDataFormatWfx == nullptr) {
    KsTrace(KS_TRACE_ERROR, "pwfx or m_pksDataFormatWfx are NULL");
    KS_TRACE_LEAVE_HR("CKsAudPin::SetFormat", E_FAIL);
    return E_FAIL;
  }
  const ULONG cbWfx = KsWaveFormatSize(pwfx);
  const ULONG cbRecord = kWaveFormatOffset + cbWfx;
  if (m_cbPinCreateSize != cbRecord) {
    BYTE* pbRecord = KsAllocReply(cbRecord);
    if (pbRecord == nullptr) {
      KsTrace(KS_TRACE_ERROR, "Unable to allocate KSPIN_CONNECT structure");
      KS_TRACE_LEAVE_HR("CKsAudPin::SetFormat", E_OUTOFMEMORY);
      return E_OUTOFMEMORY;
    }
    std::memcpy(pbRecord, m_pksPinCreate,
                m_cbPinCreateSize < cbRecord ? m_cbPinCreateSize : cbRecord);
    KsFreeReply(m_pksPinCreate);
    m_pksPinCreate = reinterpret_cast<PKSPIN_CONNECT>(pbRecord);
    m_pksDataFormatWfx = reinterpret_cast<PKSDATAFORMAT>(pbRecord + sizeof(KSPIN_CONNECT));
    m_pksDataFormatWfx->FormatSize = sizeof(KSDATAFORMAT) + cbWfx;
    m_cbPinCreateSize = cbRecord;
  }
  BYTE* pbWaveFormat = reinterpret_cast<BYTE*>(m_pksPinCreate) + kWaveFormatOffset;
  std::memcpy(pbWaveFormat, pwfx, cbWfx);
  m_pksDataFormatWfx->SampleSize =
      ((static_cast<ULONG>(pwfx->nChannels) * pwfx->wBitsPerSample) / 8) & 0xFFFFu;

  KsFreeReply(m_pWaveFormatEx);
  m_pWaveFormatEx = reinterpret_cast<PWAVEFORMATEX>(KsAllocReply(cbWfx));
  if (m_pWaveFormatEx != nullptr) std::memcpy(m_pWaveFormatEx, pwfx, cbWfx);
  KS_TRACE_LEAVE_HR("CKsAudPin::SetFormat", S_OK);
  return S_OK;
}

HRESULT CKsAudPin::GetPosition(PKSAUDIO_POSITION pPosition) {
  KS_TRACE_ENTER("CKsAudPin::GetPosition");
  const HRESULT hr = PositionRequest(*this, KSPROPERTY_TYPE_GET, pPosition);
  KS_TRACE_LEAVE_HR("CKsAudPin::GetPosition", hr);
  return hr;
}

HRESULT CKsAudPin::SetPosition(PKSAUDIO_POSITION pPosition) {
  KS_TRACE_ENTER("CKsAudPin::SetPosition");
  const HRESULT hr = PositionRequest(*this, KSPROPERTY_TYPE_SET, pPosition);
  KS_TRACE_LEAVE_HR("CKsAudPin::SetPosition", hr);
  return hr;
}

CKsAudRenPin::CKsAudRenPin(CKsAudFilter* pFilter, ULONG nId, HRESULT* phr)
    : CKsAudPin(pFilter, nId, phr) {
  KS_TRACE_ENTER("CKsAudRenPin::CKsAudRenPin");
  m_eType = PinTypeRender;
  KS_TRACE_LEAVE_HR("CKsAudRenPin::CKsAudRenPin", phr != nullptr ? *phr : S_OK);
}

CKsAudRenPin::~CKsAudRenPin() {
  KS_TRACE_ENTER("CKsAudRenPin::~CKsAudRenPin");
  KS_TRACE_LEAVE("CKsAudRenPin::~CKsAudRenPin");
}

CKsAudCapPin::CKsAudCapPin(CKsAudFilter* pFilter, ULONG nId, HRESULT* phr)
    : CKsAudPin(pFilter, nId, phr) {
  KS_TRACE_ENTER("CKsAudCapPin::CKsAudCapPin");
  m_eType = PinTypeCapture;
  KS_TRACE_LEAVE_HR("CKsAudCapPin::CKsAudCapPin", phr != nullptr ? *phr : S_OK);
}

CKsAudCapPin::~CKsAudCapPin() {
  KS_TRACE_ENTER("CKsAudCapPin::~CKsAudCapPin");
  KS_TRACE_LEAVE("CKsAudCapPin::~CKsAudCapPin");
}

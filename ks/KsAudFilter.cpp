#include "ks/KsAudFilter.h"

#include <new>

#include "ks/KsReply.h"
#include "ks/KsTrace.h"

namespace {

// Looped or not: the streaming mode decides, or the pin when the mode leaves it open.
BOOL LoopedChoice(ULONG eStreamingMode, const CKsAudPin* pPin) {
  if (eStreamingMode == KsStreamingModeStandard) return FALSE;
  if (eStreamingMode == KsStreamingModeLooped) return TRUE;
  return pPin->m_fLoopedPreferred;
}

// The first pin of a list that is an audio pin accepting the format.
CKsAudPin* FirstFittingPin(CKsList<CKsPin>& pins, const WAVEFORMATEX* pwfx) {
  for (CKsPin* pPin : pins) {
    CKsAudPin* pAudPin = dynamic_cast<CKsAudPin*>(pPin);
    if (pAudPin != nullptr && pAudPin->IsFormatSupported(pwfx)) return pAudPin;
  }
  return nullptr;
}

unsigned HandleBits(HANDLE handle) {
  return static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(handle));
}

// What the creation of a render or a capture pin says on its way.
struct PinCreationTexts {
  int nNotFoundLevel;
  const char* pszNotFound;
  const char* pszSetFormatFailed;
  const char* pszKind;  // "Render" or "Capture"
};

constexpr PinCreationTexts kRenderTexts = {
    KS_TRACE_WARNING, "Could not find a Render pin that supports the given wave format",
    "Failed to set Render Pin format - the pin lied about its supported formats", "Render"};
constexpr PinCreationTexts kCaptureTexts = {
    KS_TRACE_ERROR, "Could not find a Capture pin that supports the given wave format",
    "Failed to set Capture Pin format", "Capture"};

// Gives the pin that FindViablePin chose (null when none) the format and creates it: S_OK, or
// why it could not be created.
HRESULT CreateViablePin(CKsAudPin* pPin, const WAVEFORMATEX* pwfx, ULONG eStreamingMode,
                        const PinCreationTexts& texts) {
  if (pPin == nullptr) {
    KsTrace(texts.nNotFoundLevel, "%s", texts.pszNotFound);
    return E_FAIL;
  }
  HRESULT hr = pPin->SetFormat(pwfx);
  if (FAILED(hr)) {
    KsTrace(KS_TRACE_ERROR, "%s", texts.pszSetFormatFailed);
    return hr;
  }
  hr = pPin->Instantiate(LoopedChoice(eStreamingMode, pPin));
  if (SUCCEEDED(hr)) {
    KsTrace(KS_TRACE_INFO, "Successfully instantiated %s Pin.  Handle = 0x%08x", texts.pszKind,
            HandleBits(pPin->GetHandle()));
  } else {
    KsTrace(KS_TRACE_ERROR, "Failed to instantiate %s Pin", texts.pszKind);
  }
  return hr;
}

}  // namespace

CKsAudFilter::CKsAudFilter(LPCSTR pszName, HRESULT* phr)
    : CKsFilter(pszName, phr), m_hrCreatePin(S_OK) {
  KS_TRACE_ENTER("CKsAudFilter::CKsAudFilter");
  KS_TRACE_LEAVE_HR("CKsAudFilter::CKsAudFilter", phr != nullptr ? *phr : S_OK);
}

HRESULT CKsAudFilter::EnumeratePins() {
  KS_TRACE_ENTER("CKsAudFilter::EnumeratePins");
  ULONG cPins = 0;
  HRESULT hr =
      GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &cPins, sizeof cPins);
  if (FAILED(hr)) {
    KsTrace(KS_TRACE_ERROR, "Failed to retrieve count of pins in audio filter");
    cPins = 0;
  } else if (cPins > KS_MAX_PIN_TYPES) {
    KsTrace(KS_TRACE_WARNING, "Filter reports %lu pin types; only the first %lu are used",
            static_cast<unsigned long>(cPins), static_cast<unsigned long>(KS_MAX_PIN_TYPES));
    cPins = KS_MAX_PIN_TYPES;
  }

  bool fOutOfMemory = false;
  for (ULONG nPinId = 0; nPinId < cPins && !fOutOfMemory; ++nPinId) {
    ULONG ulCommunication = 0;
    ULONG ulDataFlow = 0;
    bool fGood = true;
    if (FAILED(GetPinPropertySimple(nPinId, KSPROPSETID_Pin, KSPROPERTY_PIN_COMMUNICATION,
                                    &ulCommunication, sizeof ulCommunication))) {
      KsTrace(KS_TRACE_ERROR, "Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION");
      fGood = false;
    } else if (ulCommunication != KSPIN_COMMUNICATION_SINK &&
               ulCommunication != KSPIN_COMMUNICATION_SOURCE &&
               ulCommunication != KSPIN_COMMUNICATION_BOTH) {
      KsTrace(KS_TRACE_ERROR, "Pin communication value doesn't make sense");
      fGood = false;
    }
    if (fGood && FAILED(GetPinPropertySimple(nPinId, KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW,
                                             &ulDataFlow, sizeof ulDataFlow))) {
      KsTrace(KS_TRACE_ERROR, "Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW");
      fGood = false;
    }
    if (!fGood) continue;

    HRESULT hrPin = S_OK;
    CKsAudPin* pPin = nullptr;
    if (ulCommunication == KSPIN_COMMUNICATION_SINK && ulDataFlow == KSPIN_DATAFLOW_IN) {
      pPin = new (std::nothrow) CKsAudRenPin(this, nPinId, &hrPin);
    } else if (ulCommunication == KSPIN_COMMUNICATION_SINK && ulDataFlow == KSPIN_DATAFLOW_OUT) {
      pPin = new (std::nothrow) CKsAudCapPin(this, nPinId, &hrPin);
    } else {
      pPin = new (std::nothrow) CKsAudPin(this, nPinId, &hrPin);
    }
    if (pPin == nullptr) {
      KsTrace(KS_TRACE_ERROR, "Failed to create audio pin");
      fOutOfMemory = true;
    } else if (FAILED(hrPin)) {
      delete pPin;
    } else if (!m_Pins.AddTail(pPin)) {
      delete pPin;
      KsTrace(KS_TRACE_ERROR, "Unable to allocate list entry to save pin in");
      fOutOfMemory = true;
    }
  }

  if (fOutOfMemory) {
    KsTrace(KS_TRACE_ERROR, "Ran out of memory enumerating pins - deleting all pins");
    // The classification lists refer only to pins of m_Pins: they are emptied with it.
    while (m_RenderSinkPins.RemoveHead() != nullptr) {
    }
    while (m_CaptureSourcePins.RemoveHead() != nullptr) {
    }
    while (m_CaptureSinkPins.RemoveHead() != nullptr) {
    }
    while (m_RenderSourcePins.RemoveHead() != nullptr) {
    }
    while (m_NoCommPins.RemoveHead() != nullptr) {
    }
    while (CKsPin* pPin = m_Pins.RemoveHead()) delete pPin;
    hr = E_OUTOFMEMORY;
  } else {
    ClassifyPins();
    if (m_RenderSinkPins.IsEmpty() && m_CaptureSourcePins.IsEmpty() &&
        m_CaptureSinkPins.IsEmpty() && m_RenderSourcePins.IsEmpty()) {
      KsTrace(KS_TRACE_ERROR, "No valid pins found on the filter");
      hr = E_FAIL;
    } else {
      hr = S_OK;
    }
  }
  KS_TRACE_LEAVE_HR("CKsAudFilter::EnumeratePins", hr);
  return hr;
}

CKsAudRenFilter::CKsAudRenFilter(LPCSTR pszName, HRESULT* phr) : CKsAudFilter(pszName, phr) {
  KS_TRACE_ENTER("CKsAudRenFilter::CKsAudRenFilter");
  m_eFilterType = FilterTypeRender;
  KS_TRACE_LEAVE_HR("CKsAudRenFilter::CKsAudRenFilter", phr != nullptr ? *phr : S_OK);
}

CKsAudPin* CKsAudRenFilter::FindViablePin(const WAVEFORMATEX* pwfx) {
  KS_TRACE_ENTER("CKsAudRenFilter::FindViablePin");
  CKsAudPin* pPin = FirstFittingPin(m_RenderSinkPins, pwfx);
  KS_TRACE_LEAVE("CKsAudRenFilter::FindViablePin");
  return pPin;
}

CKsAudPin* CKsAudRenFilter::CreateRenderPin(const WAVEFORMATEX* pwfx, ULONG eStreamingMode) {
  KS_TRACE_ENTER("CKsAudRenFilter::CreateRenderPin");
  CKsAudPin* pPin = FindViablePin(pwfx);
  HRESULT hr = CreateViablePin(pPin, pwfx, eStreamingMode, kRenderTexts);
  if (SUCCEEDED(hr)) {
    m_hrCreatePin = hr;
    KS_TRACE_LEAVE_HR("CKsAudRenFilter::CreateRenderPin", hr);
    return pPin;
  }
  // Every render sink pin in turn, without the support test.
  for (CKsPin* pCandidate : m_RenderSinkPins) {
    CKsAudPin* pAudPin = dynamic_cast<CKsAudPin*>(pCandidate);
    if (pAudPin == nullptr) continue;
    hr = pAudPin->SetFormat(pwfx);
    if (FAILED(hr)) continue;
    hr = pAudPin->Instantiate(LoopedChoice(eStreamingMode, pAudPin));
    if (FAILED(hr)) continue;
    m_hrCreatePin = hr;
    KS_TRACE_LEAVE_HR("CKsAudRenFilter::CreateRenderPin", hr);
    return pAudPin;
  }
  m_hrCreatePin = hr;
  KS_TRACE_LEAVE_HR("CKsAudRenFilter::CreateRenderPin", hr);
  return nullptr;
}

BOOL CKsAudRenFilter::CanCreateRenderPin(const WAVEFORMATEX* pwfx) {
  KS_TRACE_ENTER("CKsAudRenFilter::CanCreateRenderPin");
  HRESULT hr = S_OK;
  if (FindViablePin(pwfx) == nullptr) {
    KsTrace(kRenderTexts.nNotFoundLevel, "%s", kRenderTexts.pszNotFound);
    hr = E_FAIL;
  }
  KS_TRACE_LEAVE_HR("CKsAudRenFilter::CanCreateRenderPin", hr);
  return SUCCEEDED(hr) ? TRUE : FALSE;
}

CKsAudCapFilter::CKsAudCapFilter(LPCSTR pszName, HRESULT* phr) : CKsAudFilter(pszName, phr) {
  KS_TRACE_ENTER("CKsAudCapFilter::CKsAudCapFilter");
  m_eFilterType = FilterTypeCapture;
  KS_TRACE_LEAVE_HR("CKsAudCapFilter::CKsAudCapFilter", phr != nullptr ? *phr : S_OK);
}

CKsAudPin* CKsAudCapFilter::FindViablePin(const WAVEFORMATEX* pwfx) {
  KS_TRACE_ENTER("CKsAudCapFilter::FindViablePin");
  CKsAudPin* pPin = FirstFittingPin(m_CaptureSinkPins, pwfx);
  KS_TRACE_LEAVE("CKsAudCapFilter::FindViablePin");
  return pPin;
}

CKsAudPin* CKsAudCapFilter::CreateCapturePin(const WAVEFORMATEX* pwfx, ULONG eStreamingMode) {
  KS_TRACE_ENTER("CKsAudCapFilter::CreateCapturePin");
  CKsAudPin* pPin = FindViablePin(pwfx);
  const HRESULT hr = CreateViablePin(pPin, pwfx, eStreamingMode, kCaptureTexts);
  m_hrCreatePin = hr;
  KS_TRACE_LEAVE_HR("CKsAudCapFilter::CreateCapturePin", hr);
  return SUCCEEDED(hr) ? pPin : nullptr;
}

HRESULT CKsAudCapFilter::GetCapturePin(CKsPin** ppPin) {
  KS_TRACE_ENTER("CKsAudCapFilter::GetCapturePin");
  HRESULT hr = S_OK;
  if (ppPin == nullptr) {
    hr = E_POINTER;
  } else if (m_Pins.IsEmpty()) {
    hr = E_FAIL;
  } else {
    *ppPin = m_Pins.GetHead()->pData;
  }
  KS_TRACE_LEAVE_HR("CKsAudCapFilter::GetCapturePin", hr);
  return hr;
}

// Audio filters: pin enumeration that creates audio pins, the search for a pin that accepts a
// wave format, and creation of the render or capture pin with that format.
#pragma once

#include "ks/KsAudPin.h"
#include "ks/KsFilter.h"

class CKsAudFilter : public CKsFilter {
 public:
  CKsAudFilter(LPCSTR pszName, HRESULT* phr);
  HRESULT EnumeratePins() override;

  // The result of the latest CreateRenderPin or CreateCapturePin: S_OK, or why no pin was
  // created (E_FAIL when no pin fits the format, else the failure folded from KsCreatePin).
  HRESULT m_hrCreatePin;
};

class CKsAudRenFilter : public CKsAudFilter {
 public:
  CKsAudRenFilter(LPCSTR pszName, HRESULT* phr);
  // The first render sink pin whose data ranges accept the format, or null.
  CKsAudPin* FindViablePin(const WAVEFORMATEX* pwfx);
  // Creates a render pin with the format in the given KsStreamingMode; the pin stays owned by
  // the filter. Null when no render sink pin could be created with it.
  CKsAudPin* CreateRenderPin(const WAVEFORMATEX* pwfx, ULONG eStreamingMode);
  BOOL CanCreateRenderPin(const WAVEFORMATEX* pwfx);
};

class CKsAudCapFilter : public CKsAudFilter {
 public:
  CKsAudCapFilter(LPCSTR pszName, HRESULT* phr);
  // The first capture sink pin whose data ranges accept the format, or null.
  CKsAudPin* FindViablePin(const WAVEFORMATEX* pwfx);
  // Creates a capture pin with the format; owned by the filter. Null on any failure.
  CKsAudPin* CreateCapturePin(const WAVEFORMATEX* pwfx, ULONG eStreamingMode);
  // The filter's first pin, whatever its kind.
  HRESULT GetCapturePin(CKsPin** ppPin);
};

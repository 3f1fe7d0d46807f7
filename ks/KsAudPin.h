// Audio pins: a pin whose connect record carries a wave format, with its audio data ranges and
// the rule that decides whether a wave format fits them.
#pragma once

#include "ks/KsList.h"
#include "ks/KsPin.h"

class CKsAudFilter;

// Bytes of a wave format: 18 for WAVE_FORMAT_PCM whatever cbSize says, else 18 + cbSize.
ULONG KsWaveFormatSize(const WAVEFORMATEX* pwfx);

class CKsAudPin : public CKsPin {
 public:
  CKsAudPin(CKsAudFilter* pFilter, ULONG nId, HRESULT* phr);
  ~CKsAudPin() override;

  // Checks the interfaces and mediums and keeps copies of the audio data ranges.
  HRESULT Init();
  BOOL IsFormatSupported(const WAVEFORMATEX* pwfx);
  // Writes the wave format into the connect record, before the pin is created.
  HRESULT SetFormat(const WAVEFORMATEX* pwfx);
  using CKsPin::SetFormat;
  HRESULT GetPosition(PKSAUDIO_POSITION pPosition);
  HRESULT SetPosition(PKSAUDIO_POSITION pPosition);

  CKsList<KSDATARANGE_AUDIO> m_DataRanges;
  CKsAudFilter* m_pAudFilter;
  PWAVEFORMATEX m_pWaveFormatEx;
  PKSDATAFORMAT m_pksDataFormatWfx;
  BOOL m_fLoopedPreferred;
};

class CKsAudRenPin : public CKsAudPin {
 public:
  CKsAudRenPin(CKsAudFilter* pFilter, ULONG nId, HRESULT* phr);
  ~CKsAudRenPin() override;
};

class CKsAudCapPin : public CKsAudPin {
 public:
  CKsAudCapPin(CKsAudFilter* pFilter, ULONG nId, HRESULT* phr);
  ~CKsAudCapPin() override;
};

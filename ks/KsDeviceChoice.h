// How a device's KS filters are found and what wave formats its pins are made with: the one
// place that the driver and kx7-host's device diagnosis both use, so that the diagnosis sees
// exactly the filters and formats the driver would.
#pragma once

#include "ks/KsAudFilter.h"
#include "ks/KsEnumFilters.h"
#include "ks/KsFilter.h"
#include "platform/ks.h"
#include "product/Kx7Facts.h"

// The KX-7's hardware-ID fragment, lower case; its device paths carry it in any letter case.
inline constexpr const auto& g_szKx7HardwareId = kx7::kHardwareId;

// A new, empty enumerator, or null when it cannot be had.
CKsEnumFilters* KsNewEnumFilters();

// TRUE when the path (its first MAX_PATH - 1 characters), with the ASCII letters lowered,
// contains the lower-case fragment.
BOOL KsPathHasHardwareId(LPCSTR pszPath, LPCSTR pszHardwareId);

// Enumerates the filters of KSCATEGORY_AUDIO that are also in `guidCategory`, made as
// `eFilterType` and, when fOpen, opened with their pins, and returns the first of that type whose
// path holds the fragment; null when none does. The filter belongs to the enumerator.
CKsFilter* KsFindDeviceFilter(CKsEnumFilters* pEnum, KsFilterType eFilterType, REFGUID guidCategory,
                              LPCSTR pszHardwareId, BOOL fOpen);

// PCM in an extensible record: `nChannels` samples of wValidBitsPerSample bits, each in a
// container of wBitsPerSample bits.
WAVEFORMATEXTENSIBLE KsPcmFormat(WORD nChannels, WORD wBitsPerSample, WORD wValidBitsPerSample,
                                 DWORD dwChannelMask, DWORD nSamplesPerSec);

// The KX-7's formats: 24-bit samples in containers of wBitsPerSample bits (24 packed, or 32),
// one front-centre channel for capture, front left and right for render.
WAVEFORMATEXTENSIBLE KsKx7CaptureFormat(DWORD nSamplesPerSec, WORD wBitsPerSample = 24);
WAVEFORMATEXTENSIBLE KsKx7RenderFormat(DWORD nSamplesPerSec, WORD wBitsPerSample = 24);

// Creates the pin of an audio filter of the KX-7 with the format: a capture filter's with the
// standard streaming interface, a render filter's as the pin prefers. The pin belongs to the
// filter; null when it cannot be made, and the filter's m_hrCreatePin then says why.
CKsAudPin* KsCreateKx7Pin(CKsAudFilter* pFilter, const WAVEFORMATEXTENSIBLE& format);

// Describes the same samples as a plain WAVE_FORMAT_PCM record: no size of extra bytes, valid
// bits, channel mask or sub-format.
void KsMakePlainPcm(WAVEFORMATEXTENSIBLE* pFormat);

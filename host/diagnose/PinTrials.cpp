#include "host/diagnose/PinTrials.h"

#include <algorithm>
#include <cstring>

#include "ks/KsLayer.h"

namespace kx7host {

namespace {

struct TrialFormat {
  const char* name;
  WORD containerBits;
  bool plain;
  bool driverUses;  // one of the driver's two tries
};

const TrialFormat kTrialFormats[] = {
    {"extensible 24-bit", 24, false, true},
    {"PCM 24-bit", 24, true, true},
    {"extensible 24-in-32", 32, false, false},
};

WAVEFORMATEXTENSIBLE FormatFor(CKsAudFilter* filter, uint32_t rate, const TrialFormat& trial) {
  WAVEFORMATEXTENSIBLE format = filter->GetType() == FilterTypeRender
                                    ? KsKx7RenderFormat(rate, trial.containerBits)
                                    : KsKx7CaptureFormat(rate, trial.containerBits);
  if (trial.plain) KsMakePlainPcm(&format);
  return format;
}

}  // namespace

std::vector<FormatTrial> TryFormats(CKsAudFilter* filter, uint32_t rate) {
  std::vector<FormatTrial> trials;
  for (const TrialFormat& trial : kTrialFormats) {
    CKsAudPin* pin = KsCreateKx7Pin(filter, FormatFor(filter, rate, trial));
    trials.push_back({trial.name, pin != nullptr ? S_OK : filter->m_hrCreatePin});
    if (pin != nullptr) pin->ClosePin();
    // A pin held elsewhere stays held: trying it again would only fight for it.
    if (PinIsBusy(trials.back().result)) break;
  }
  return trials;
}

CKsAudPin* CreateStreamingPin(CKsAudFilter* filter, uint32_t rate,
                              const std::vector<FormatTrial>& trials, std::string* format,
                              ULONG* frameBytes) {
  for (const TrialFormat& trial : kTrialFormats) {
    if (!trial.driverUses) continue;
    const bool accepted = std::any_of(trials.begin(), trials.end(), [&](const FormatTrial& tried) {
      return tried.format == trial.name && SUCCEEDED(tried.result);
    });
    if (!accepted) continue;
    const WAVEFORMATEXTENSIBLE wave = FormatFor(filter, rate, trial);
    CKsAudPin* pin = KsCreateKx7Pin(filter, wave);
    if (pin == nullptr) continue;
    *format = trial.name;
    *frameBytes = wave.Format.nBlockAlign;
    return pin;
  }
  return nullptr;
}

bool PinIsBusy(HRESULT result) {
  return result == HRESULT_FROM_WIN32(ERROR_BAD_COMMAND) ||
         result == HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES);
}

FramingReport ReadFraming(CKsPin* pin) {
  FramingReport report;
  report.plainResult =
      pin->GetPropertySimple(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_ALLOCATORFRAMING,
                             &report.plain, sizeof report.plain);
  PKSMULTIPLE_ITEM reply = nullptr;
  ULONG size = 0;
  report.extendedResult = pin->GetPropertyMulti(
      KSPROPSETID_Connection, KSPROPERTY_CONNECTION_ALLOCATORFRAMING_EX, &reply, &size);
  const size_t header = offsetof(KSALLOCATOR_FRAMING_EX, FramingItem);
  if (SUCCEEDED(report.extendedResult) && reply != nullptr && size >= header) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(reply);
    KSALLOCATOR_FRAMING_EX framing;
    std::memcpy(&framing, bytes, header);
    report.countItems = framing.CountItems;
    report.pinFlags = framing.PinFlags;
    report.pinWeight = framing.PinWeight;
    report.compression = framing.OutputCompression;
    // Only the items that lie wholly inside the reply.
    const size_t fitting =
        std::min<size_t>(framing.CountItems, (size - header) / sizeof(KS_FRAMING_ITEM));
    report.items.resize(fitting);
    if (fitting > 0) {
      std::memcpy(report.items.data(), bytes + header, fitting * sizeof(KS_FRAMING_ITEM));
    }
  } else if (SUCCEEDED(report.extendedResult)) {
    report.extendedResult = E_FAIL;  // an answer too short to hold the record
  }
  KsFreeReply(reply);
  return report;
}

}  // namespace kx7host

// Sample rate and clock: any rate from 44100 to 96000 Hz, one internal clock source.
#include <cstring>

#include "driver/AsioDriver.h"
#include "product/Kx7Facts.h"

namespace {

constexpr ASIOSampleRate kMinSampleRate = kx7::kMinSampleRate;
constexpr ASIOSampleRate kMaxSampleRate = kx7::kMaxSampleRate;

}  // namespace

void CAsioDriver::SetTimeInfoFlags(uint32_t flags) {
  const std::shared_ptr<CHostBuffers> host = std::atomic_load(&hostBuffers);
  if (host != nullptr) host->SetTimeInfoFlags(flags);
}

ASIOError CAsioDriver::canSampleRate(ASIOSampleRate rate) {
  return (rate >= kMinSampleRate && rate <= kMaxSampleRate) ? ASE_OK : ASE_NoClock;
}

ASIOError CAsioDriver::getSampleRate(ASIOSampleRate* rate) {
  if (rate == nullptr) return ASE_InvalidParameter;
  *rate = sampleRate.load();
  return ASE_OK;
}

ASIOError CAsioDriver::setSampleRate(ASIOSampleRate rate) {
  return HostCall<ASIOError>(ASE_NoClock, [&] { return SetSampleRate(rate); });
}

ASIOError CAsioDriver::SetSampleRate(ASIOSampleRate rate) {
  if (static_cast<IASIO*>(this)->canSampleRate(rate) == ASE_NoClock) return ASE_NoClock;
  // The host's own change is not announced through sampleRateDidChange, which hosts take for a
  // change of the device's clock and reset for; kSampleRateChanged marks the next ASIOTime.
  {
    const TransportScope scope(this);
    if (!scope.Entered()) return ASE_InvalidMode;
    if (rate == sampleRate.load()) return ASE_OK;
    bool taken = false;
    const ASIOError restarted = RestartRunAt(rate, &taken);
    if (restarted != ASE_OK) return restarted;
    if (!taken) {
      SetTimeInfoFlags(kSampleRateChanged);
      sampleRate.store(rate);
    }
    // While a stream exists its thread owns the record and copies the rate in before each
    // buffer switch.
    if (scope.Locked() && stream == nullptr && hostBuffers != nullptr) {
      hostBuffers->SetRecordedRate(rate);
    }
  }
  return ASE_OK;
}

ASIOError CAsioDriver::getClockSources(ASIOClockSource* clocks, int32_t* numSources) {
  if (clocks == nullptr || numSources == nullptr) return ASE_InvalidParameter;
  clocks[0].index = 0;
  clocks[0].associatedChannel = -1;
  clocks[0].associatedGroup = -1;
  clocks[0].isCurrentSource = ASIOTrue;
  std::memset(clocks[0].name, 0, sizeof clocks[0].name);
  std::strcpy(clocks[0].name, "Internal");
  *numSources = 1;
  return ASE_OK;
}

ASIOError CAsioDriver::setClockSource(int32_t reference) {
  if (reference != 0) return ASE_NotPresent;
  SetTimeInfoFlags(kClockSourceChanged);
  return ASE_OK;
}

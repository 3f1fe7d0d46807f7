#include "streaming/PinStream.h"

#include "ks/KsPin.h"

namespace {

constexpr ULONG kBytesPerSample = 3;

}  // namespace

PinStream::PinStream(CKsPin* pin_, uint32_t packetCount_, uint32_t packetSamples_, ULONG usedBytes,
                     HRESULT* phr)
    : pin(pin_), packetCount(packetCount_), packetSamples(packetSamples_) {
  HRESULT hr = pin->SetState(KSSTATE_PAUSE);
  if (SUCCEEDED(hr) &&
      !ring.Allocate(packetCount, packetSamples, packetSamples * kBytesPerSample, usedBytes)) {
    hr = E_OUTOFMEMORY;
  }
  if (phr != nullptr) *phr = FAILED(hr) ? hr : S_OK;
}

PinStream::~PinStream() {
  pin->SetState(KSSTATE_PAUSE);
  pin->SetState(KSSTATE_STOP);
  ring.Release();
}

HRESULT PinStream::Start() { return pin->SetState(KSSTATE_RUN); }

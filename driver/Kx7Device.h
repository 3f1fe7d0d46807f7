// The KX-7's filters and pins as one opening of the device found them: the enumerators own the
// filters and the filters their pins, so releasing the enumerators closes them all. init opens
// one to prove the device is there; each run of the stream owns the one it streams through.
#pragma once

#include <utility>

class CKsEnumFilters;
class CKsAudCapFilter;
class CKsAudRenFilter;
class CKsAudPin;

struct CKx7Device {
  CKx7Device() = default;
  ~CKx7Device() { ReleaseEnumerators(); }
  CKx7Device(const CKx7Device&) = delete;
  CKx7Device& operator=(const CKx7Device&) = delete;

  // Closes pins and filters with their enumerators and forgets them.
  void ReleaseEnumerators();
  // Finds the KX-7's capture and render filters anew (releasing what was held); false when
  // either is missing.
  bool FindFilters();
  // Makes the capture pin, then the render pin, at `rate`, each in the extensible format or
  // else in plain PCM. False, with no pin held, when either cannot be had.
  bool CreatePins(double rate);
  // Closes the pins, keeping the filters.
  void ClosePins();
  // Whether both pins' ranges take `rate`.
  bool PinsTakeRate(double rate) const;
  bool HasPins() const { return capturePin != nullptr && renderPin != nullptr; }
  // Takes over another opening's filters and pins, which it then no longer holds.
  void TakeFrom(CKx7Device& other) {
    ReleaseEnumerators();
    std::swap(captureEnum, other.captureEnum);
    std::swap(renderEnum, other.renderEnum);
    std::swap(captureFilter, other.captureFilter);
    std::swap(renderFilter, other.renderFilter);
    std::swap(capturePin, other.capturePin);
    std::swap(renderPin, other.renderPin);
  }

  CKsEnumFilters* captureEnum = nullptr;
  CKsEnumFilters* renderEnum = nullptr;
  CKsAudCapFilter* captureFilter = nullptr;
  CKsAudRenFilter* renderFilter = nullptr;
  CKsAudPin* capturePin = nullptr;
  CKsAudPin* renderPin = nullptr;
};

// The KX-7's filters and pins as one opening of the device found them: the enumerators own the
// filters and the filters their pins, so releasing the enumerators closes them all. init opens
// one to prove the device is there; each run of the stream owns the one it streams through.
#pragma once

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
  bool HasPins() const { return capturePin != nullptr && renderPin != nullptr; }

  CKsEnumFilters* captureEnum = nullptr;
  CKsEnumFilters* renderEnum = nullptr;
  CKsAudCapFilter* captureFilter = nullptr;
  CKsAudRenFilter* renderFilter = nullptr;
  CKsAudPin* capturePin = nullptr;
  CKsAudPin* renderPin = nullptr;
};

// Device discovery: finds the KX-7's capture and render filters among the machine's KS filters.
#include <cstring>

#include "driver/AsioDriver.h"

bool CAsioDriver::OpenDevice() {
  ReleaseEnumerators();
  captureFilter = nullptr;
  renderFilter = nullptr;
  capturePin = nullptr;
  renderPin = nullptr;
  // No kernel-streaming enumeration is linked in yet, so no filter of the device can be found.
  std::strcpy(errorMessage, "NORVA KX-7 hardware not found.");
  return false;
}

void CAsioDriver::ReleaseEnumerators() {
  captureEnum = nullptr;
  renderEnum = nullptr;
}

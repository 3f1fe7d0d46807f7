// One reference to a fresh driver object, created as the class factory does and released at
// the end (running its destructor, which stores the settings).
#pragma once

#include "driver/AsioDriver.h"

namespace kx7test {

// Owns one reference to a fresh driver object and releases it at the end.
class DriverHandle {
 public:
  DriverHandle() {
    HRESULT hr = S_OK;
    driver = new CAsioDriver(nullptr, &hr);
    driver->NonDelegatingAddRef();
  }
  ~DriverHandle() { Reset(); }
  DriverHandle(const DriverHandle&) = delete;
  DriverHandle& operator=(const DriverHandle&) = delete;

  CAsioDriver* operator->() const { return driver; }
  CAsioDriver& operator*() const { return *driver; }
  // Releases the object (running its destructor, which stores the settings).
  void Reset() {
    if (driver != nullptr) driver->Release();
    driver = nullptr;
  }

 private:
  CAsioDriver* driver = nullptr;
};

}  // namespace kx7test

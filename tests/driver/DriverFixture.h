// A driver object created as the class factory does, with access to its members for the tests.
#pragma once

#include <gtest/gtest.h>

#include "driver/AsioDriver.h"
#include "panel/SettingsStore.h"
#include "support/TestSupport.h"

namespace kx7test {

inline constexpr char kSettingsKey[] = "SOFTWARE\\Norva\\KX-7 ASIO\\1.00";

inline SettingsStore SettingsStoreForTest() { return SettingsStore(kSettingsKey); }

class TestableDriver : public CAsioDriver {
 public:
  explicit TestableDriver(HRESULT* phr) : CAsioDriver(nullptr, phr) {}
  using CAsioDriver::activeInputs;
  using CAsioDriver::activeOutputs;
  using CAsioDriver::asioTime;
  using CAsioDriver::autoOpenPanel;
  using CAsioDriver::bufferSize;
  using CAsioDriver::callbacks;
  using CAsioDriver::capturePin;
  using CAsioDriver::cycleCount;
  using CAsioDriver::dropOutCount;
  using CAsioDriver::inputBuffers;
  using CAsioDriver::inputChannels;
  using CAsioDriver::latencyCount;
  using CAsioDriver::modelessPanel;
  using CAsioDriver::outputBuffers;
  using CAsioDriver::outputFloatBuffers;
  using CAsioDriver::preferredBufferSize;
  using CAsioDriver::renderPin;
  using CAsioDriver::running;
  using CAsioDriver::samplePosition;
  using CAsioDriver::showMetrics;
  using CAsioDriver::streamThread;
  using CAsioDriver::streamThreadId;
  using CAsioDriver::systemTime;
  using CAsioDriver::timeInfoMode;
  using CAsioDriver::transportOwner;
};

// Owns one reference to a fresh driver object and releases it at the end.
class DriverHandle {
 public:
  DriverHandle() {
    HRESULT hr = S_OK;
    driver = new TestableDriver(&hr);
    driver->NonDelegatingAddRef();
  }
  ~DriverHandle() { Reset(); }
  DriverHandle(const DriverHandle&) = delete;
  DriverHandle& operator=(const DriverHandle&) = delete;

  TestableDriver* operator->() const { return driver; }
  TestableDriver& operator*() const { return *driver; }
  // Releases the object (running its destructor, which stores the settings).
  void Reset() {
    if (driver != nullptr) driver->Release();
    driver = nullptr;
  }

 private:
  TestableDriver* driver = nullptr;
};

// Every test starts and ends without a stored settings key.
class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteRegistryTree(HKEY_CURRENT_USER, "SOFTWARE\\Norva"); }
  void TearDown() override { DeleteRegistryTree(HKEY_CURRENT_USER, "SOFTWARE\\Norva"); }
};

// Host callbacks that record what the driver calls.
struct HostRecorder {
  static inline HostRecorder* current = nullptr;
  int32_t timeInfoAnswer = 1;
  int asioMessageCalls = 0;
  int32_t lastSelector = 0;
  int sampleRateCalls = 0;
  double lastSampleRate = 0;
  ASIOCallbacks callbacks{};

  HostRecorder() {
    current = this;
    callbacks.bufferSwitch = [](int32_t, ASIOBool) {};
    callbacks.sampleRateDidChange = [](ASIOSampleRate rate) {
      current->sampleRateCalls++;
      current->lastSampleRate = rate;
    };
    callbacks.asioMessage = [](int32_t selector, int32_t, void*, double*) -> int32_t {
      current->asioMessageCalls++;
      current->lastSelector = selector;
      return selector == kAsioSupportsTimeInfo ? current->timeInfoAnswer : 0;
    };
    callbacks.bufferSwitchTimeInfo = [](ASIOTime* time, int32_t, ASIOBool) { return time; };
  }
  ~HostRecorder() { current = nullptr; }
};

}  // namespace kx7test

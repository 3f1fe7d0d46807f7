// A driver object created as the class factory does; Internals gives the tests its private state.
#pragma once

#include <gtest/gtest.h>

#include "driver/AsioDriver.h"
#include "panel/SettingsStore.h"
#include "product/Kx7Facts.h"
#include "support/DriverHandle.h"
#include "support/DriverTestAccess.h"
#include "support/TestSupport.h"

namespace kx7test {

using kx7::kSettingsKey;

inline SettingsStore SettingsStoreForTest() { return SettingsStore(kSettingsKey); }

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

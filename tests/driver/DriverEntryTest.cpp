// The driver object's identity, init and the small IASIO methods.
#include <cstring>
#include <thread>

#include "driver/DriverFixture.h"
#include "product/DriverIdentity.h"
#include "product/Kx7Facts.h"

namespace kx7test {
namespace {

using DriverEntryTest = DriverTest;

TEST_F(DriverEntryTest, ReportsNameVersionAndEmptyErrorBeforeInit) {
  DriverHandle driver;
  char name[64];
  std::memset(name, 'x', sizeof name);
  driver->getDriverName(name);
  EXPECT_STREQ(name, "NORVA KX-7 ASIO");
  EXPECT_EQ(name[16], 'x') << "writes exactly the name and its terminator";
  EXPECT_EQ(driver->getDriverVersion(), 1);
  char error[124] = "unchanged";
  driver->getErrorMessage(error);
  EXPECT_STREQ(error, "");
  driver->getDriverName(nullptr);
  driver->getErrorMessage(nullptr);
}

TEST_F(DriverEntryTest, InitWithoutDeviceFailsAndCanBeRetried) {
  DriverHandle driver;
  EXPECT_EQ(driver->init(nullptr), ASIOFalse);
  char error[124];
  driver->getErrorMessage(error);
  EXPECT_STREQ(error, "ASIO Driver open Failure!");
  // A failed init loads the settings again the next time.
  SettingsStoreForTest().Write(kx7::kBufferSizePreferredValue, 512);
  EXPECT_EQ(driver->init(nullptr), ASIOFalse);
  int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
  driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
  EXPECT_EQ(preferred, 512);
}

TEST_F(DriverEntryTest, TheConstructorsComIsBalancedOnlyOnTheThreadThatMadeTheObject) {
  // Made on a thread without COM, released on a host thread of the multithreaded apartment: that
  // thread's apartment stays as the host made it.
  DriverHandle* made = nullptr;
  std::thread([&] { made = new DriverHandle; }).join();
  std::thread([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    delete made;
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
  }).join();
  // Made and released on one thread: that thread is left without COM, as it was before.
  std::thread([] {
    { DriverHandle driver; }
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
  }).join();
}

TEST_F(DriverEntryTest, FutureAnswersByTheSelectorTable) {
  DriverHandle driver;
  for (int32_t selector : {kAsioEnableTimeCodeRead, kAsioDisableTimeCodeRead, kAsioCanTimeInfo}) {
    EXPECT_EQ(driver->future(selector, nullptr), ASE_SUCCESS) << selector;
  }
  // Nothing is monitored and no time code is read: a yes would leave the player unheard.
  for (int32_t selector :
       {static_cast<int32_t>(kAsioSetInputMonitor), static_cast<int32_t>(kAsioCanInputMonitor),
        static_cast<int32_t>(kAsioCanTimeCode), 0, -1, 4, 5, 6, 7, 8, 12, 16, 17,
        static_cast<int32_t>(kAsioSetIoFormat), static_cast<int32_t>(kAsioGetIoFormat)}) {
    EXPECT_EQ(driver->future(selector, nullptr), ASE_NotPresent) << selector;
  }
  EXPECT_EQ(driver->outputReady(), ASE_NotPresent);
}

TEST_F(DriverEntryTest, QueryInterfaceAnswersTheClassIdentifierAndIUnknown) {
  DriverHandle driver;
  void* asio = nullptr;
  ASSERT_EQ(driver->QueryInterface(CLSID_NorvaKx7Asio, &asio), S_OK);
  EXPECT_EQ(asio, static_cast<IASIO*>(&*driver));
  EXPECT_EQ(driver->AddRef(), 3u) << "one reference of the handle, one of the query";
  driver->Release();
  driver->Release();

  void* unknown = nullptr;
  ASSERT_EQ(driver->QueryInterface(IID_IUnknown, &unknown), S_OK);
  EXPECT_EQ(unknown, static_cast<INonDelegatingUnknown*>(&*driver));
  static_cast<INonDelegatingUnknown*>(unknown)->NonDelegatingRelease();

  const IID other = {0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
  void* none = &unknown;
  EXPECT_EQ(driver->QueryInterface(other, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(driver->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(DriverEntryTest, NullOutputPointersAreRefusedWithoutWriting) {
  DriverHandle driver;
  int32_t a = 7, b = 7, c = 7, d = 7;
  EXPECT_EQ(driver->getChannels(nullptr, &b), ASE_InvalidParameter);
  EXPECT_EQ(driver->getChannels(&a, nullptr), ASE_InvalidParameter);
  EXPECT_EQ(driver->getLatencies(nullptr, &b), ASE_InvalidParameter);
  EXPECT_EQ(driver->getLatencies(&a, nullptr), ASE_InvalidParameter);
  EXPECT_EQ(driver->getBufferSize(&a, &b, &c, nullptr), ASE_InvalidParameter);
  EXPECT_EQ(driver->getBufferSize(nullptr, &b, &c, &d), ASE_InvalidParameter);
  EXPECT_EQ(a + b + c + d, 28) << "nothing written";
  EXPECT_EQ(driver->getSampleRate(nullptr), ASE_InvalidParameter);
  int32_t count = 5;
  EXPECT_EQ(driver->getClockSources(nullptr, &count), ASE_InvalidParameter);
  EXPECT_EQ(count, 5);
  ASIOClockSource clock{};
  EXPECT_EQ(driver->getClockSources(&clock, nullptr), ASE_InvalidParameter);
  ASIOSamples position{9, 9};
  ASIOTimeStamp stamp{9, 9};
  EXPECT_EQ(driver->getSamplePosition(nullptr, &stamp), ASE_InvalidParameter);
  EXPECT_EQ(driver->getSamplePosition(&position, nullptr), ASE_InvalidParameter);
  EXPECT_EQ(stamp.hi + position.lo, 18u);
  EXPECT_EQ(driver->getChannelInfo(nullptr), ASE_InvalidParameter);
}

}  // namespace
}  // namespace kx7test

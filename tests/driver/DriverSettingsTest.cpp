// The user's preferences: loaded by init, stored by the destructor.
#include <cstring>

#include "driver/DriverFixture.h"
#include "panel/DriverSettings.h"
#include "product/Kx7Facts.h"

namespace kx7test {
namespace {

using DriverSettingsTest = DriverTest;

void WriteString(const char* name, const char* text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                 static_cast<DWORD>(std::strlen(text) + 1));
  RegCloseKey(key);
}

int PreferredSize(CAsioDriver& driver) {
  int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
  EXPECT_EQ(driver.getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
  return preferred;
}

// The driver shows its settings by what its destructor stores: the key is taken away while it
// lives, so that what is there afterwards is what the driver held.
void ReleaseIntoAnEmptyKey(DriverHandle& driver) {
  DeleteRegistryTree(HKEY_CURRENT_USER, "SOFTWARE\\Norva");
  driver.Reset();
}

TEST_F(DriverSettingsTest, WithoutAKeyTheDefaultsStayAndThreeValuesAreStored) {
  DriverHandle driver;
  driver->init(nullptr);
  EXPECT_EQ(PreferredSize(*driver), 128);
  driver.Reset();
  const SettingsStore store = SettingsStoreForTest();
  EXPECT_EQ(store.Read("Modeless Control Panel"), std::optional<DWORD>(0));
  EXPECT_EQ(store.Read("Auto-open Control Panel"), std::optional<DWORD>(0));
  EXPECT_EQ(store.Read(kx7::kBufferSizePreferredValue), std::optional<DWORD>(128));
  EXPECT_EQ(store.Read("Show Metrics"), std::nullopt);
}

TEST_F(DriverSettingsTest, StoredNumbersAreTakenAndWrittenBack) {
  const SettingsStore store = SettingsStoreForTest();
  store.Write(kx7::kBufferSizePreferredValue, 100);
  store.Write("Modeless Control Panel", 7);
  store.Write("Auto-open Control Panel", 0);
  store.Write("Show Metrics", 1);
  {
    DriverHandle driver;
    driver->init(nullptr);
    EXPECT_EQ(PreferredSize(*driver), 128) << "reported as the size the panel would preselect";
  }
  EXPECT_EQ(store.Read(kx7::kBufferSizePreferredValue), std::optional<DWORD>(100));
  EXPECT_EQ(store.Read("Modeless Control Panel"), std::optional<DWORD>(1));
  EXPECT_EQ(store.Read("Auto-open Control Panel"), std::optional<DWORD>(0));
  EXPECT_EQ(store.Read("Show Metrics"), std::optional<DWORD>(1)) << "left as it was";
  // What the driver held, not what the key still had.
  store.Write("Auto-open Control Panel", 1);
  DriverHandle driver;
  driver->init(nullptr);
  ReleaseIntoAnEmptyKey(driver);
  EXPECT_EQ(store.Read(kx7::kBufferSizePreferredValue), std::optional<DWORD>(100));
  EXPECT_EQ(store.Read("Modeless Control Panel"), std::optional<DWORD>(1));
  EXPECT_EQ(store.Read("Auto-open Control Panel"), std::optional<DWORD>(1));
  EXPECT_EQ(store.Read("Show Metrics"), std::nullopt) << "never written by the driver";
}

TEST_F(DriverSettingsTest, ValuesOfAnotherTypeAreIgnored) {
  WriteString(kx7::kBufferSizePreferredValue, "256");
  WriteString("Show Metrics", "1");
  DriverHandle driver;
  driver->init(nullptr);
  EXPECT_EQ(PreferredSize(*driver), 128);
  ReleaseIntoAnEmptyKey(driver);
  EXPECT_EQ(SettingsStoreForTest().Read(kx7::kBufferSizePreferredValue), std::optional<DWORD>(128));
  // "Show Metrics" shows only on the panel, which the driver tests do not draw.
  DriverSettings settings;
  WriteString("Show Metrics", "1");
  settings.Load();
  EXPECT_FALSE(settings.showMetrics.load());
  SettingsStoreForTest().Write("Show Metrics", 1);
  settings.Load();
  EXPECT_TRUE(settings.showMetrics.load());
}

TEST_F(DriverSettingsTest, SettingsAreReadByInitNotByTheConstructor) {
  SettingsStoreForTest().Write(kx7::kBufferSizePreferredValue, 512);
  DriverHandle driver;
  EXPECT_EQ(PreferredSize(*driver), 128);
  driver->init(nullptr);
  EXPECT_EQ(PreferredSize(*driver), 512);
}

TEST_F(DriverSettingsTest, ObjectsMadeWithoutInitLeaveTheStoredSettingsAlone) {
  // Hosts make and release driver objects to list or probe the installed drivers.
  const SettingsStore store = SettingsStoreForTest();
  store.Write(kx7::kBufferSizePreferredValue, 512);
  store.Write("Modeless Control Panel", 1);
  store.Write("Auto-open Control Panel", 1);
  for (int i = 0; i < 3; ++i) {
    DriverHandle lister;
    EXPECT_EQ(PreferredSize(*lister), 128);
    lister->getChannels(nullptr, nullptr);
  }
  EXPECT_EQ(store.Read(kx7::kBufferSizePreferredValue), std::optional<DWORD>(512));
  EXPECT_EQ(store.Read("Modeless Control Panel"), std::optional<DWORD>(1));
  EXPECT_EQ(store.Read("Auto-open Control Panel"), std::optional<DWORD>(1));
  DriverHandle driver;
  driver->init(nullptr);
  EXPECT_EQ(PreferredSize(*driver), 512);
}

TEST_F(DriverSettingsTest, OneDriverStoresWhatTheNextLoads) {
  const SettingsStore store = SettingsStoreForTest();
  store.Write(kx7::kBufferSizePreferredValue, 1024);
  store.Write("Auto-open Control Panel", 1);
  {
    DriverHandle first;
    first->init(nullptr);
    ReleaseIntoAnEmptyKey(first);
  }
  DriverHandle second;
  second->init(nullptr);
  EXPECT_EQ(PreferredSize(*second), 1024);
  ReleaseIntoAnEmptyKey(second);
  EXPECT_EQ(store.Read("Auto-open Control Panel"), std::optional<DWORD>(1));
}

}  // namespace
}  // namespace kx7test

// The user's preferences: loaded by init, stored by the destructor.
#include <cstring>

#include "driver/DriverFixture.h"
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

TEST_F(DriverSettingsTest, WithoutAKeyTheDefaultsStayAndThreeValuesAreStored) {
  DriverHandle driver;
  driver->init(nullptr);
  EXPECT_EQ(Internals(*driver).preferredBufferSize.load(), 128u);
  EXPECT_FALSE(Internals(*driver).modelessPanel.load());
  EXPECT_FALSE(Internals(*driver).autoOpenPanel.load());
  EXPECT_FALSE(Internals(*driver).showMetrics.load());
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
    EXPECT_EQ(Internals(*driver).preferredBufferSize.load(), 100u);
    EXPECT_TRUE(Internals(*driver).modelessPanel.load());
    EXPECT_FALSE(Internals(*driver).autoOpenPanel.load());
    EXPECT_TRUE(Internals(*driver).showMetrics.load());
    int32_t minSize, maxSize, preferred, granularity;
    driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
    EXPECT_EQ(preferred, 128) << "reported as the size the panel would preselect";
  }
  EXPECT_EQ(store.Read(kx7::kBufferSizePreferredValue), std::optional<DWORD>(100));
  EXPECT_EQ(store.Read("Modeless Control Panel"), std::optional<DWORD>(1));
  EXPECT_EQ(store.Read("Show Metrics"), std::optional<DWORD>(1));
}

TEST_F(DriverSettingsTest, ValuesOfAnotherTypeAreIgnored) {
  WriteString(kx7::kBufferSizePreferredValue, "256");
  WriteString("Show Metrics", "1");
  DriverHandle driver;
  driver->init(nullptr);
  EXPECT_EQ(Internals(*driver).preferredBufferSize.load(), 128u);
  EXPECT_FALSE(Internals(*driver).showMetrics.load());
}

TEST_F(DriverSettingsTest, SettingsAreReadByInitNotByTheConstructor) {
  SettingsStoreForTest().Write(kx7::kBufferSizePreferredValue, 512);
  DriverHandle driver;
  EXPECT_EQ(Internals(*driver).preferredBufferSize.load(), 128u);
  driver->init(nullptr);
  EXPECT_EQ(Internals(*driver).preferredBufferSize.load(), 512u);
  int32_t minSize, maxSize, preferred, granularity;
  driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
  EXPECT_EQ(preferred, 512);
}

TEST_F(DriverSettingsTest, OneDriverStoresWhatTheNextLoads) {
  {
    DriverHandle first;
    first->init(nullptr);
    Internals(*first).preferredBufferSize = 1024;  // as the control panel would
    Internals(*first).autoOpenPanel = true;
  }
  DriverHandle second;
  second->init(nullptr);
  EXPECT_EQ(Internals(*second).preferredBufferSize.load(), 1024u);
  EXPECT_TRUE(Internals(*second).autoOpenPanel.load());
}

}  // namespace
}  // namespace kx7test

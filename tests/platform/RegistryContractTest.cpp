// The registry semantics that registration and the settings rely on. The same source runs
// against the emulation on Linux and against Windows (under Wine) in the cross build.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/windows.h"
#include "support/TestSupport.h"

namespace {

const std::string kBase = "Software\\KX7ContractTest";

class RegistryContract : public ::testing::Test {
 protected:
  void SetUp() override { kx7test::DeleteRegistryTree(HKEY_CURRENT_USER, kBase); }
  void TearDown() override { kx7test::DeleteRegistryTree(HKEY_CURRENT_USER, kBase); }
};

HKEY Create(const std::string& path) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &key), ERROR_SUCCESS) << path;
  return key;
}

TEST_F(RegistryContract, KeysAreCreatedWithTheirParentsAndFoundIgnoringCase) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (kBase + "\\One\\Two").c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (kBase + "\\ONE\\two").c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (kBase + "\\one").c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
  char name[16];
  EXPECT_EQ(RegEnumKeyA(key, 0, name, sizeof name), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Two") << "the case of creation is kept";
  EXPECT_EQ(RegEnumKeyA(key, 1, name, sizeof name), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumKeyA(key, 0, name, 2), ERROR_MORE_DATA);
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, (kBase + "\\Missing").c_str(), &key),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryContract, AKeyWithSubkeysIsNotDeleted) {
  RegCloseKey(Create(kBase + "\\Parent\\Child"));
  EXPECT_NE(RegDeleteKeyA(HKEY_CURRENT_USER, (kBase + "\\Parent").c_str()), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, (kBase + "\\Parent\\Child").c_str()), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, (kBase + "\\Parent").c_str()), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, (kBase + "\\Parent").c_str()), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryContract, ValuesKeepTheirTypeAndBytes) {
  HKEY key = Create(kBase);
  const DWORD number = 0x12345678;
  ASSERT_EQ(RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                           sizeof number),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("text"), 5),
            ERROR_SUCCESS);
  DWORD type = 0, value = 0, size = sizeof value;
  EXPECT_EQ(RegQueryValueExA(key, "NUMBER", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, number);
  EXPECT_EQ(size, 4u);

  size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 5u) << "the default value's size is asked first";
  char text[8] = {};
  size = 2;
  EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 5u);
  size = sizeof text;
  EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(text, "text");
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(key, "number"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(key, "Number", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryContract, AnOpenHandleOfADeletedKeyFails) {
  HKEY key = Create(kBase + "\\Gone");
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, (kBase + "\\Gone").c_str()), ERROR_SUCCESS);
  const DWORD number = 1;
  EXPECT_NE(RegSetValueExA(key, "x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

}  // namespace

// Registration under the class key and the ASIO driver key, with the replace rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

#include "library/Registration.h"
#include "support/TestSupport.h"

namespace kx7test {
namespace {

const CLSID kTestClass = {
    0x6f1d2c3b, 0x4a59, 0x4e6f, {0x90, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e, 0x6f, 0x70}};
constexpr char kTestClassText[] = "{6F1D2C3B-4A59-4E6F-901A-2B3C4D5E6F70}";
constexpr char kClassKey[] = "CLSID\\{6F1D2C3B-4A59-4E6F-901A-2B3C4D5E6F70}";
constexpr char kServerKey[] = "CLSID\\{6F1D2C3B-4A59-4E6F-901A-2B3C4D5E6F70}\\InprocServer32";
constexpr char kDriverKeyName[] = "KX7 Registration Test Driver";
constexpr char kDriverKey[] = "SOFTWARE\\ASIO\\KX7 Registration Test Driver";

// A module that is certainly loaded in the test process, and its lower-cased path.
#ifdef _WIN32
constexpr char kLoadedModule[] = "kernel32";
#else
constexpr char kLoadedModule[] = "libkx7platform";
#endif

std::string LoadedModulePath() {
  char path[360] = {};
  GetModuleFileNameA(GetModuleHandleA(kLoadedModule), path, sizeof path);
  std::string lower(path);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyA(root, path.c_str(), &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// A string value as stored; nothing when it is missing.
std::optional<std::string> ReadString(HKEY root, const std::string& path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyA(root, path.c_str(), &key) != ERROR_SUCCESS) return {};
  char value[512] = {};
  DWORD size = sizeof value - 1;
  DWORD type = 0;
  const LSTATUS status =
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) return {};
  return std::string(value);
}

void WriteString(HKEY root, const std::string& path, const char* name, const std::string& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(root, path.c_str(), &key), ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
}

LONG Register() {
  return RegisterDriver(kTestClass, kLoadedModule, kDriverKeyName, "KX7 Test", "Apartment");
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    DeleteRegistryTree(HKEY_CLASSES_ROOT, kClassKey);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kDriverKey);
  }
};

TEST_F(RegistrationTest, WritesTheClassAndDriverEntries) {
  ASSERT_EQ(Register(), 0);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kClassKey, nullptr), "KX7 Test");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kServerKey, nullptr), LoadedModulePath());
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kServerKey, "ThreadingModel"), "Apartment");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kDriverKey, "CLSID"), kTestClassText);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kDriverKey, "Description"), "KX7 Test");
}

TEST_F(RegistrationTest, SamePathKeepsTheClassEntriesAndRewritesTheDriverKey) {
  ASSERT_EQ(Register(), 0);
  WriteString(HKEY_CLASSES_ROOT, kClassKey, "Extra", "kept");
  WriteString(HKEY_LOCAL_MACHINE, kDriverKey, "Extra", "dropped");
  WriteString(HKEY_LOCAL_MACHINE, std::string(kDriverKey) + "\\Sub\\Deeper", "Extra", "dropped");
  ASSERT_EQ(Register(), 0);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kClassKey, "Extra"), "kept");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kDriverKey, "Extra"), std::nullopt);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kDriverKey) + "\\Sub"));
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kDriverKey, "CLSID"), kTestClassText);
}

TEST_F(RegistrationTest, AStoredPathDifferingOnlyInCaseCountsAsEqual) {
  ASSERT_EQ(Register(), 0);
  std::string upper = LoadedModulePath();
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  WriteString(HKEY_CLASSES_ROOT, kServerKey, nullptr, upper);
  WriteString(HKEY_CLASSES_ROOT, kClassKey, "Extra", "kept");
  ASSERT_EQ(Register(), 0);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kClassKey, "Extra"), "kept");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kServerKey, nullptr), upper);
}

TEST_F(RegistrationTest, AMovedLibraryReplacesTheWholeClassKey) {
  ASSERT_EQ(Register(), 0);
  WriteString(HKEY_CLASSES_ROOT, kServerKey, nullptr, "c:\\old\\place\\driver.dll");
  WriteString(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Extra\\Deeper", "Value", "gone");
  ASSERT_EQ(Register(), 0);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Extra"));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kServerKey, nullptr), LoadedModulePath());
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kServerKey, "ThreadingModel"), "Apartment");
}

TEST_F(RegistrationTest, UnregisterRemovesBothEntriesButKeepsTheAsioKey) {
  ASSERT_EQ(Register(), 0);
  ASSERT_EQ(UnregisterDriver(kTestClass, kLoadedModule, kDriverKeyName), 0);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kDriverKey));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO"));
  // Nothing registered: still success, and nothing is created.
  ASSERT_EQ(UnregisterDriver(kTestClass, kLoadedModule, kDriverKeyName), 0);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
}

TEST_F(RegistrationTest, ALibraryNotLoadedUnderItsNameIsRefused) {
  EXPECT_EQ(RegisterDriver(kTestClass, "kx7-no-such-module", kDriverKeyName, "x", "Apartment"),
            -101);
  EXPECT_EQ(UnregisterDriver(kTestClass, "kx7-no-such-module", kDriverKeyName), -101);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
}

TEST_F(RegistrationTest, DeleteKeyTreeRemovesEveryLevel) {
  const std::string base = "Software\\KX7RegistrationTest";
  WriteString(HKEY_CURRENT_USER, base + "\\A\\B\\D", "v", "1");
  WriteString(HKEY_CURRENT_USER, base + "\\A\\C", "v", "1");
  WriteString(HKEY_CURRENT_USER, base + "\\A", "v", "1");
  WriteString(HKEY_CURRENT_USER, base + "\\Sibling", "v", "1");
  EXPECT_EQ(DeleteKeyTree(HKEY_CURRENT_USER, base.c_str(), "A"), 0);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base + "\\A"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, base + "\\Sibling"));
  EXPECT_EQ(DeleteKeyTree(HKEY_CURRENT_USER, base.c_str(), "A"), -1);
  EXPECT_EQ(DeleteKeyTree(HKEY_CURRENT_USER, "Software\\KX7NoSuchKey", "A"), -1);
  DeleteRegistryTree(HKEY_CURRENT_USER, base);
}

TEST_F(RegistrationTest, CreateSubkeyIfMissingNeedsTheParent) {
  const std::string base = "Software\\KX7RegistrationTest";
  WriteString(HKEY_CURRENT_USER, base, "v", "1");
  EXPECT_EQ(CreateSubkeyIfMissing(HKEY_CURRENT_USER, base.c_str(), "Child"), 0);
  EXPECT_EQ(CreateSubkeyIfMissing(HKEY_CURRENT_USER, base.c_str(), "Child"), 0);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, base + "\\Child"));
  EXPECT_EQ(CreateSubkeyIfMissing(HKEY_CURRENT_USER, "Software\\KX7NoSuchKey", "Child"), -1);
  DeleteRegistryTree(HKEY_CURRENT_USER, base);
}

}  // namespace
}  // namespace kx7test

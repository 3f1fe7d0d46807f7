// Finding drivers under SOFTWARE\ASIO and creating them, in a registry the test controls: what
// the host says when there is nothing to create, and which driver it picks.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "host/cli/Commands.h"
#include "host/session/DriverDiscovery.h"
#include "support/TestSupport.h"

namespace kx7host {
namespace {

constexpr char kAsioKey[] = "SOFTWARE\\ASIO";
constexpr char kGhostName[] = "kx7-host test ghost";
constexpr char kGhostClsid[] = "{5A1E0C7B-93D4-4F2A-8B61-0C2D3E4F5A6B}";
constexpr char kMovedName[] = "kx7-host test moved";
constexpr char kMovedClsid[] = "{5A1E0C7B-93D4-4F2A-8B61-0C2D3E4F5A6C}";

// Writes a string value as the registration does: the text without a terminating zero.
void SetString(HKEY root, const std::string& path, const char* name, const std::string& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(root, path.c_str(), &key), ERROR_SUCCESS) << path;
  ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                           static_cast<DWORD>(text.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void CreateKey(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(root, path.c_str(), &key), ERROR_SUCCESS) << path;
  RegCloseKey(key);
}

std::string DriverKey(const char* name) { return std::string(kAsioKey) + "\\" + name; }

struct CommandResult {
  int status;
  std::string out;
  std::string err;
};

CommandResult RunCommand(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = RunHost(args, out, err);
  return {status, out.str(), err.str()};
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class HostDiscovery : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* name :
         {kGhostName, kMovedName, "kx7-host test broken", "kx7-host test bare"}) {
      kx7test::DeleteRegistryTree(HKEY_LOCAL_MACHINE, DriverKey(name));
    }
    kx7test::DeleteRegistryTree(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kMovedClsid);
  }

  // The machine-wide key is shared under Wine; tests that need it empty step aside then.
  static bool AsioKeyHasOtherEntries() { return !ListAsioDrivers().drivers.empty(); }
};

TEST_F(HostDiscovery, NoAsioKeyMeansNoDriver) {
  if (AsioKeyHasOtherEntries()) GTEST_SKIP() << "other drivers are registered here";
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAsioKey);
  EXPECT_FALSE(ListAsioDrivers().keyExists);
  for (const auto& args : {std::vector<std::string>{"list"}, {"probe"}, {"probe", "--json"}}) {
    const CommandResult result = RunCommand(args);
    EXPECT_EQ(result.status, kExitFailed) << args[0];
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(Contains(result.err, "no ASIO driver is registered")) << result.err;
    EXPECT_TRUE(Contains(result.err, "SOFTWARE\\ASIO does not exist")) << result.err;
  }
}

TEST_F(HostDiscovery, EmptyAsioKeyMeansNoDriver) {
  if (AsioKeyHasOtherEntries()) GTEST_SKIP() << "other drivers are registered here";
  CreateKey(HKEY_LOCAL_MACHINE, kAsioKey);
  const CommandResult result = RunCommand({"probe"});
  EXPECT_EQ(result.status, kExitFailed);
  EXPECT_TRUE(Contains(result.err, "SOFTWARE\\ASIO has no entries")) << result.err;
}

TEST_F(HostDiscovery, ListsEachDriverWithItsClassIdentifier) {
  // Stored without a terminating zero, as the registration writes it.
  SetString(HKEY_LOCAL_MACHINE, DriverKey(kGhostName), "CLSID", kGhostClsid);
  SetString(HKEY_LOCAL_MACHINE, DriverKey(kGhostName), "Description", "Ghost Driver");
  CreateKey(HKEY_LOCAL_MACHINE, DriverKey("kx7-host test bare"));

  const DriverList list = ListAsioDrivers();
  EXPECT_TRUE(list.keyExists);
  const AsioDriverEntry* ghost = nullptr;
  const AsioDriverEntry* bare = nullptr;
  for (const AsioDriverEntry& entry : list.drivers) {
    if (entry.name == kGhostName) ghost = &entry;
    if (entry.name == "kx7-host test bare") bare = &entry;
  }
  ASSERT_NE(ghost, nullptr);
  EXPECT_EQ(ghost->clsidText, kGhostClsid);
  EXPECT_EQ(ghost->description, "Ghost Driver");
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->clsidText, "");

  const CommandResult result = RunCommand({"list"});
  EXPECT_EQ(result.status, kExitOk) << result.err;
  EXPECT_TRUE(Contains(result.out, std::string(kGhostName) + "\n    CLSID        " + kGhostClsid))
      << result.out;
  EXPECT_TRUE(Contains(result.out, "kx7-host test bare\n    CLSID        (missing)")) << result.out;
}

TEST_F(HostDiscovery, DriverWhoseClassIsNotRegisteredFailsClearly) {
  SetString(HKEY_LOCAL_MACHINE, DriverKey(kGhostName), "CLSID", kGhostClsid);
  // Picked by key name whatever its letter case.
  const CommandResult result = RunCommand({"probe", "--driver", "KX7-HOST TEST GHOST"});
  EXPECT_EQ(result.status, kExitFailed);
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(Contains(result.err, "cannot create ASIO driver 'kx7-host test ghost'"))
      << result.err;
  EXPECT_TRUE(Contains(result.err, kGhostClsid)) << result.err;
  EXPECT_TRUE(Contains(result.err, "0x80040154 (class not registered)")) << result.err;
}

TEST_F(HostDiscovery, DriverWhoseLibraryIsGoneFailsClearly) {
  SetString(HKEY_LOCAL_MACHINE, DriverKey(kMovedName), "CLSID", kMovedClsid);
  const std::string serverKey = std::string("CLSID\\") + kMovedClsid + "\\InprocServer32";
  SetString(HKEY_CLASSES_ROOT, serverKey, nullptr,
            kx7test::PathNextToExecutable("kx7-host-no-such-library.dll"));
  SetString(HKEY_CLASSES_ROOT, serverKey, "ThreadingModel", "Apartment");
  const CommandResult result = RunCommand({"probe", "--driver", kMovedName});
  EXPECT_EQ(result.status, kExitFailed);
  EXPECT_TRUE(Contains(result.err, "cannot create ASIO driver 'kx7-host test moved'"))
      << result.err;
}

TEST_F(HostDiscovery, DriverKeyWithoutUsableClassIdentifierFailsClearly) {
  CreateKey(HKEY_LOCAL_MACHINE, DriverKey("kx7-host test bare"));
  CommandResult result = RunCommand({"probe", "--driver", "kx7-host test bare"});
  EXPECT_EQ(result.status, kExitFailed);
  EXPECT_TRUE(Contains(result.err, "'kx7-host test bare' has no CLSID value")) << result.err;

  SetString(HKEY_LOCAL_MACHINE, DriverKey("kx7-host test broken"), "CLSID", "not-a-guid");
  result = RunCommand({"probe", "--driver", "kx7-host test broken"});
  EXPECT_EQ(result.status, kExitFailed);
  EXPECT_TRUE(Contains(result.err, "invalid CLSID value 'not-a-guid'")) << result.err;
}

TEST_F(HostDiscovery, UnknownDriverNameIsRefusedWithTheNamesThereAre) {
  SetString(HKEY_LOCAL_MACHINE, DriverKey(kGhostName), "CLSID", kGhostClsid);
  const CommandResult result = RunCommand({"probe", "--driver", "kx7-host test"});
  EXPECT_EQ(result.status, kExitFailed);
  EXPECT_TRUE(Contains(result.err, "no ASIO driver named 'kx7-host test'")) << result.err;
  EXPECT_TRUE(Contains(result.err, "'kx7-host test ghost'")) << result.err;
}

DriverList ListOf(std::vector<AsioDriverEntry> drivers) {
  DriverList list;
  list.keyExists = true;
  list.drivers = std::move(drivers);
  return list;
}

TEST(HostDriverSelection, DefaultIsTheKx7ElseTheOnlyDriver) {
  std::string why;
  DriverList list = ListOf({{"Other Driver", "{A}", "Other"},
                            {"Generic", "{B}", "NORVA KX-7 ASIO"},
                            {"NORVA KX-7 ASIO Driver", "{C}", "NORVA KX-7 ASIO"}});
  const AsioDriverEntry* picked = SelectDriver(list, "", &why);
  ASSERT_NE(picked, nullptr) << why;
  EXPECT_EQ(picked->name, "Generic");  // the first whose name or description has "KX-7"

  list = ListOf({{"Other Driver", "{A}", "Other"}});
  picked = SelectDriver(list, "", &why);
  ASSERT_NE(picked, nullptr) << why;
  EXPECT_EQ(picked->name, "Other Driver");

  list = ListOf({{"Other Driver", "{A}", "Other"}, {"Second", "{B}", "Second"}});
  EXPECT_EQ(SelectDriver(list, "", &why), nullptr);
  EXPECT_TRUE(Contains(why, "--driver")) << why;
  EXPECT_TRUE(Contains(why, "'Other Driver', 'Second'")) << why;
}

TEST(HostDriverSelection, NameMatchesTheWholeKeyNameIgnoringCase) {
  std::string why;
  const DriverList list = ListOf({{"NORVA KX-7 ASIO Driver", "{C}", ""}, {"Second", "{B}", ""}});
  const AsioDriverEntry* picked = SelectDriver(list, "second", &why);
  ASSERT_NE(picked, nullptr) << why;
  EXPECT_EQ(picked->name, "Second");
  EXPECT_EQ(SelectDriver(list, "NORVA", &why), nullptr);
  EXPECT_EQ(SelectDriver(ListOf({}), "Second", &why), nullptr);
  EXPECT_TRUE(Contains(why, "no ASIO driver is registered")) << why;
}

}  // namespace
}  // namespace kx7host

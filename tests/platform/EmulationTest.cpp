// What only the Linux emulation promises: the registry kept on disk, written atomically and
// read back after another process changed it; the built-in modules and the test hooks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/emu/test_hooks.h"
#include "platform/windows.h"
#include "support/TestSupport.h"

namespace {

std::filesystem::path RegistryFolder() {
  return std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "kx7-emulation" / "registry";
}

DWORD ReadNumber(const char* path, const char* name) {
  HKEY key = nullptr;
  DWORD value = 0, size = sizeof value;
  if (RegOpenKeyA(HKEY_CURRENT_USER, path, &key) != ERROR_SUCCESS) return 0xFFFFFFFF;
  RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return value;
}

TEST(Emulation, RegistryIsWrittenAtomicallyAndReadBackWhenChangedOnDisk) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\KX7Emulation", &key), ERROR_SUCCESS);
  const DWORD one = 1;
  RegSetValueExA(key, "Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
  RegCloseKey(key);
  const auto file = RegistryFolder() / "HKCU.reg";
  ASSERT_TRUE(std::filesystem::exists(file));
  for (const auto& entry : std::filesystem::directory_iterator(RegistryFolder())) {
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
  }
  // Another process writes the hive: the change is seen. A damaged line is skipped.
  std::string text;
  {
    std::ifstream in(file);
    text.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::string changed = text;
  changed.replace(changed.rfind("01000000"), 8, "07000000");
  changed += "V garbage\n";
  std::ofstream(file, std::ios::trunc) << changed;
  std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now());
  EXPECT_EQ(ReadNumber("Software\\KX7Emulation", "Value"), 7u);
  kx7test::DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\KX7Emulation");
}

TEST(Emulation, AvrtIsBuiltInAndRecordsTheTask) {
  HMODULE avrt = LoadLibraryA("Avrt.dll");
  ASSERT_NE(avrt, nullptr);
  auto set = reinterpret_cast<PFN_AvSetMmThreadCharacteristicsA>(
      reinterpret_cast<void*>(GetProcAddress(avrt, "AvSetMmThreadCharacteristicsA")));
  auto revert = reinterpret_cast<PFN_AvRevertMmThreadCharacteristics>(
      reinterpret_cast<void*>(GetProcAddress(avrt, "AvRevertMmThreadCharacteristics")));
  ASSERT_NE(set, nullptr);
  ASSERT_NE(revert, nullptr);
  DWORD index = 0;
  HANDLE task = set("Pro Audio", &index);
  EXPECT_NE(task, nullptr);
  EXPECT_TRUE(revert(task));
  const emu_test::AvrtRecord record = emu_test::Avrt();
  EXPECT_EQ(record.taskName, "Pro Audio");
  EXPECT_EQ(record.threadId, GetCurrentThreadId());
  EXPECT_GE(record.reverts, 1);
  EXPECT_EQ(GetProcAddress(avrt, "NoSuchEntry"), nullptr);

  emu_test::SetModuleMissing("avrt", true);
  EXPECT_EQ(LoadLibraryA("AVRT.DLL"), nullptr);
  emu_test::SetModuleMissing("avrt", false);
  EXPECT_NE(LoadLibraryA("avrt"), nullptr);
}

TEST(Emulation, ModulesAreFoundByBaseNameAndByAddress) {
  HMODULE platform = GetModuleHandleA("LIBKX7PLATFORM");
  ASSERT_NE(platform, nullptr) << "base names compare without case, .so is added";
  char path[512] = {};
  ASSERT_GT(GetModuleFileNameA(platform, path, sizeof path), 0u);
  EXPECT_NE(std::string(path).find("libkx7platform.so"), std::string::npos);
  HMODULE byAddress = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&CreateEventA), &byAddress));
  EXPECT_EQ(byAddress, platform);
  char tiny[4] = {};
  EXPECT_EQ(GetModuleFileNameA(platform, tiny, sizeof tiny), 4u) << "truncated as Windows does";
  EXPECT_EQ(tiny[3], '\0');
  EXPECT_EQ(GetModuleHandleA("kx7-not-loaded"), nullptr);
}

TEST(Emulation, DebugOutputAndMessageBoxesAreRecorded) {
  emu_test::ClearDebugOutput();
  OutputDebugStringA("one ");
  OutputDebugStringA("two");
  EXPECT_EQ(emu_test::DebugOutput(), "one two");
  EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), IDOK);
  EXPECT_EQ(emu_test::LastMessageBox().text, "text");
  EXPECT_EQ(emu_test::LastMessageBox().caption, "caption");
}

TEST(Emulation, TheClockCanBeSteered) {
  emu_test::FreezeTime(0xFFFFFFF0u);
  EXPECT_EQ(timeGetTime(), 0xFFFFFFF0u);
  emu_test::FreezeTime(0x10u);
  EXPECT_EQ(timeGetTime() - 0xFFFFFFF0u, 0x20u) << "differences survive the wrap";
  emu_test::UnfreezeTime();
}

}  // namespace

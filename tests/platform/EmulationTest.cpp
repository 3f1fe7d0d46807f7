// What only the Linux emulation promises: the registry kept on disk, written atomically and
// read back after another process changed it; the built-in modules and the test hooks.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
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
  // Another process writes the hive: the change is seen.
  std::string text;
  {
    std::ifstream in(file);
    text.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::string changed = text;
  changed.replace(changed.rfind("01000000"), 8, "07000000");
  std::ofstream(file, std::ios::trunc) << changed;
  EXPECT_EQ(ReadNumber("Software\\KX7Emulation", "Value"), 7u);
  // A file cut short or with a line this code never writes is not half-read: its keys are
  // ignored, and the next change replaces it with a whole file.
  std::ofstream(file, std::ios::trunc) << changed.substr(0, changed.size() - 2);
  EXPECT_EQ(ReadNumber("Software\\KX7Emulation", "Value"), 0xFFFFFFFFu);
  std::ofstream(file, std::ios::trunc) << changed << "V zz\n";
  EXPECT_EQ(ReadNumber("Software\\KX7Emulation", "Value"), 0xFFFFFFFFu);
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\KX7Emulation", &key), ERROR_SUCCESS);
  RegSetValueExA(key, "Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
  RegCloseKey(key);
  EXPECT_EQ(ReadNumber("Software\\KX7Emulation", "Value"), 1u);
  kx7test::DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\KX7Emulation");
}

// Two processes that create keys at the same time: each change is made on the latest file, so
// none is lost.
TEST(Emulation, TwoProcessesWritingTheRegistryLoseNoChange) {
  constexpr int kKeysEach = 25;
  pid_t children[2];
  for (int child = 0; child < 2; ++child) {
    children[child] = fork();
    ASSERT_GE(children[child], 0);
    if (children[child] == 0) {
      for (int i = 0; i < kKeysEach; ++i) {
        const std::string path =
            "Software\\KX7Race\\" + std::to_string(child) + "-" + std::to_string(i);
        HKEY key = nullptr;
        if (RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &key) != ERROR_SUCCESS) _exit(1);
        RegCloseKey(key);
      }
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  HKEY race = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software\\KX7Race", &race), ERROR_SUCCESS);
  char name[64];
  int count = 0;
  while (RegEnumKeyA(race, static_cast<DWORD>(count), name, sizeof name) == ERROR_SUCCESS) ++count;
  RegCloseKey(race);
  EXPECT_EQ(count, 2 * kKeysEach);
  kx7test::DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\KX7Race");
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

// A thread that waits with a time-out while the clock is frozen is woken by the test's clock as
// well: its wait ends when the frozen clock reaches the time-out, not before, and is idle until
// then.
TEST(Emulation, WaitsBegunOnAFrozenClockEndWhenItPassesTheirTimeOut) {
  emu_test::FreezeTime(1000);
  struct Waiter {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> endedAt{0};
  } waiter;
  DWORD id = 0;
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID parameter) -> DWORD {
        auto* self = static_cast<Waiter*>(parameter);
        // Far longer than the test takes in real time.
        if (WaitForSingleObject(self->event, 10000) == WAIT_TIMEOUT) self->endedAt = timeGetTime();
        return 0;
      },
      &waiter, 0, &id);
  ASSERT_TRUE(emu_test::WaitUntilIdle(id, 5000));
  emu_test::AdvanceTime(9999);
  EXPECT_TRUE(emu_test::WaitUntilIdle(id, 5000)) << "still waiting one millisecond short";
  EXPECT_EQ(waiter.endedAt.load(), 0u);
  emu_test::AdvanceTime(1);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(waiter.endedAt.load(), 11000u) << "ended by the frozen clock";
  emu_test::UnfreezeTime();
  CloseHandle(thread);
  CloseHandle(waiter.event);
}

TEST(Emulation, PlatformCallsAreCountedForOneThreadOnlyAndOncePerCall) {
  using emu_test::PlatformCall;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  emu_test::CountPlatformCalls(GetCurrentThreadId());
  SetEvent(event);
  WaitForSingleObject(event, 0);  // runs the multiple-object wait inside: counted as one call
  WaitForMultipleObjects(1, &event, FALSE, 0);
  ResetEvent(event);
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID parameter) -> DWORD {
        SetEvent(static_cast<HANDLE>(parameter));
        return 0;
      },
      event, 0, nullptr);
  WaitForSingleObject(thread, 5000);
  EXPECT_EQ(emu_test::CountedPlatformCalls(PlatformCall::SetEvent), 1u) << "not the other thread's";
  EXPECT_EQ(emu_test::CountedPlatformCalls(PlatformCall::ResetEvent), 1u);
  EXPECT_EQ(emu_test::CountedPlatformCalls(PlatformCall::WaitForSingleObject), 2u);
  EXPECT_EQ(emu_test::CountedPlatformCalls(PlatformCall::WaitForMultipleObjects), 1u);
  emu_test::CountPlatformCalls(0);
  SetEvent(event);
  EXPECT_EQ(emu_test::CountedPlatformCalls(PlatformCall::SetEvent), 0u);
  CloseHandle(thread);
  CloseHandle(event);
}

TEST(Emulation, AnEndedThreadKeepsItsCpuTime) {
  DWORD id = 0;
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        volatile uint64_t sink = 0;
        for (int i = 0; i < 2000000; ++i) sink = sink + static_cast<uint64_t>(i);
        return 0;
      },
      nullptr, 0, &id);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  FILETIME creation, exit, kernel, user;
  ASSERT_TRUE(GetThreadTimes(thread, &creation, &exit, &kernel, &user));
  EXPECT_GT(user.dwLowDateTime | user.dwHighDateTime, 0u);
  EXPECT_GE(exit.dwHighDateTime, creation.dwHighDateTime);
  ULONG64 cycles = 0;
  ASSERT_TRUE(QueryThreadCycleTime(thread, &cycles));
  EXPECT_GT(cycles, 0u);
  CloseHandle(thread);
}

}  // namespace

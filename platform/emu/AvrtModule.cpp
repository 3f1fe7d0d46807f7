// The built-in "Avrt.dll": the two entry points of the multimedia class scheduler, which record
// what they were asked for the tests instead of changing the thread's scheduling.
#include <mutex>

#include "platform/emu/builtin_modules.h"
#include "platform/emu/module.h"
#include "platform/emu/sync.h"
#include "platform/emu/test_hooks.h"

namespace {

struct AvrtState {
  std::mutex lock;
  emu_test::AvrtRecord record;
};

AvrtState& State() {
  static AvrtState* state = new AvrtState;
  return *state;
}

HANDLE WINAPI AvSetMmThreadCharacteristicsA(LPCSTR taskName, LPDWORD taskIndex) {
  std::lock_guard<std::mutex> guard(State().lock);
  State().record.taskName = taskName != nullptr ? taskName : "";
  State().record.threadId = GetCurrentThreadId();
  State().record.sets++;
  if (taskIndex != nullptr) *taskIndex = 1;
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0xA7A0));
}

BOOL WINAPI AvRevertMmThreadCharacteristics(HANDLE) {
  std::lock_guard<std::mutex> guard(State().lock);
  State().record.reverts++;
  return TRUE;
}

// The multimedia class scheduler is always there, as on Windows.
const bool avrtRegistered = [] {
  PlatformRegisterBuiltinExport(
      "Avrt.dll", "AvSetMmThreadCharacteristicsA",
      reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&AvSetMmThreadCharacteristicsA)));
  PlatformRegisterBuiltinExport(
      "Avrt.dll", "AvRevertMmThreadCharacteristics",
      reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&AvRevertMmThreadCharacteristics)));
  return true;
}();

}  // namespace

namespace emu_test {

AvrtRecord Avrt() {
  std::lock_guard<std::mutex> guard(State().lock);
  return State().record;
}

}  // namespace emu_test

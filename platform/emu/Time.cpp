// Sleep and the clocks: timeGetTime is 32-bit milliseconds that wrap, steerable by tests.
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/emu/CallCount.h"
#include "platform/emu/KernelObjects.h"
#include "platform/emu/sync.h"
#include "platform/emu/test_hooks.h"

namespace {

std::atomic<DWORD> timeOffset{0};
std::atomic<bool> timeFrozen{false};
std::atomic<DWORD> frozenTime{0};
std::atomic<int> periodsHeld{0};

uint64_t MillisecondsSinceBoot() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

namespace emu_test {
void SetTimeOffset(DWORD offsetMs) { timeOffset.store(offsetMs); }
void FreezeTime(DWORD valueMs) {
  frozenTime.store(valueMs);
  timeFrozen.store(true);
}
void UnfreezeTime() { timeFrozen.store(false); }
void AdvanceTime(DWORD ms) {
  std::lock_guard<std::mutex> guard(emu::ObjectLock());
  const DWORD now = frozenTime.load() + ms;
  frozenTime.store(now);
  timeFrozen.store(true);
  emu::ExpireFrozenWaits(now);
}
int TimerPeriodsHeld() { return periodsHeld.load(); }
}  // namespace emu_test

namespace emu {
bool FrozenTimeNow(DWORD* now) {
  if (!timeFrozen.load()) return false;
  *now = frozenTime.load();
  return true;
}
}  // namespace emu

extern "C" {

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

DWORD timeGetTime(void) {
  emu::CountedCall counted(emu_test::PlatformCall::timeGetTime);
  if (timeFrozen.load()) return frozenTime.load();
  return static_cast<DWORD>(MillisecondsSinceBoot()) + timeOffset.load();
}

MMRESULT timeBeginPeriod(UINT period) {
  if (period == 0) return TIMERR_NOCANDO;
  periodsHeld.fetch_add(1);
  return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT period) {
  if (period == 0) return TIMERR_NOCANDO;
  periodsHeld.fetch_sub(1);
  return TIMERR_NOERROR;
}

DWORD GetTickCount(void) { return static_cast<DWORD>(MillisecondsSinceBoot()); }

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
  emu::CountedCall counted(emu_test::PlatformCall::QueryPerformanceCounter);
  using namespace std::chrono;
  // A test's stepped clock holds the counter too, so that what is timed by it stays repeatable.
  if (timeFrozen.load()) {
    count->QuadPart = static_cast<LONGLONG>(frozenTime.load()) * 1000000;
    return TRUE;
  }
  count->QuadPart = duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
  return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  frequency->QuadPart = 1000000000;
  return TRUE;
}

}  // extern "C"

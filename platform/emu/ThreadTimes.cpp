// The CPU time of threads, from the system's per-thread CPU clocks. The emulation does not tell
// kernel from user time: all of it is reported as user time. Its cycle count is the CPU time in
// nanoseconds, a unit of its own as cycles are on Windows.
#include <time.h>

#include <chrono>

#include "platform/emu/KernelObjects.h"
#include "platform/emu/errors.h"
#include "platform/emu/sync.h"

using emu::KernelObject;

namespace {

// FILETIME counts from 1601; the system clock from 1970.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000u;

uint64_t Nanoseconds(const timespec& time) {
  return static_cast<uint64_t>(time.tv_sec) * 1000000000u + static_cast<uint64_t>(time.tv_nsec);
}

FILETIME ToFileTime(uint64_t value) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(value);
  time.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return time;
}

struct ThreadTimes {
  uint64_t creation = 0;
  uint64_t exit = 0;
  uint64_t cpuNanoseconds = 0;
};

// The times of the thread behind a handle (the pseudo-handle of the calling thread included);
// the calling thread's start only when asked for, since finding it takes a search.
bool ReadThreadTimes(HANDLE thread, ThreadTimes* times, bool withStart) {
  if (thread == GetCurrentThread()) {
    times->cpuNanoseconds = emu::CurrentThreadCpuNanoseconds();
    if (!withStart) return true;
    std::lock_guard<std::mutex> guard(emu::ObjectLock());
    const auto object = emu::FindThread(GetCurrentThreadId());
    if (object) times->creation = object->creationTime;
    return true;
  }
  std::lock_guard<std::mutex> guard(emu::ObjectLock());
  const auto object = emu::FindObject(thread);
  if (!object || object->kind != KernelObject::Kind::Thread) {
    emu::SetLastErrorValue(ERROR_INVALID_HANDLE);
    return false;
  }
  times->creation = object->creationTime;
  times->exit = object->exitTime;
  times->cpuNanoseconds = object->cpuNanosecondsAtExit;
  // While the lock is held a running thread cannot end, so its clock stays valid.
  clockid_t clock;
  timespec now;
  if (object->running && pthread_getcpuclockid(object->pthread, &clock) == 0 &&
      clock_gettime(clock, &now) == 0) {
    times->cpuNanoseconds = Nanoseconds(now);
  }
  return true;
}

}  // namespace

namespace emu {

uint64_t FileTimeNow() {
  using namespace std::chrono;
  const auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch());
  return kUnixEpochAsFileTime + static_cast<uint64_t>(since1970.count()) / 100;
}

uint64_t CurrentThreadCpuNanoseconds() {
  timespec now;
  return clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) == 0 ? Nanoseconds(now) : 0;
}

}  // namespace emu

extern "C" {

BOOL GetThreadTimes(HANDLE thread, LPFILETIME creationTime, LPFILETIME exitTime,
                    LPFILETIME kernelTime, LPFILETIME userTime) {
  if (creationTime == nullptr || exitTime == nullptr || kernelTime == nullptr ||
      userTime == nullptr) {
    emu::SetLastErrorValue(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ThreadTimes times;
  if (!ReadThreadTimes(thread, &times, true)) return FALSE;
  *creationTime = ToFileTime(times.creation);
  *exitTime = ToFileTime(times.exit);
  *kernelTime = ToFileTime(0);
  *userTime = ToFileTime(times.cpuNanoseconds / 100);
  return TRUE;
}

BOOL QueryThreadCycleTime(HANDLE thread, PULONG64 cycleTime) {
  if (cycleTime == nullptr) {
    emu::SetLastErrorValue(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ThreadTimes times;
  if (!ReadThreadTimes(thread, &times, false)) return FALSE;
  *cycleTime = times.cpuNanoseconds;
  return TRUE;
}

}  // extern "C"

// The CPU time of a thread as a host reads it for the thread that calls it back: the thread is
// known by its identifier, opened from another thread, and its times grow with its own work
// only. The same source runs against the emulation and against Windows (under Wine).
#include <gtest/gtest.h>

#include <atomic>

#include "platform/windows.h"

namespace {

constexpr uint64_t kHundredNsPerMs = 10000;
// Bounds of the waits for the worker; only a hung thread reaches them.
constexpr DWORD kWatchdogMs = 30000;

uint64_t FromFileTime(const FILETIME& time) {
  return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// Kernel plus user time of a thread, in 100 ns; ~0 when it cannot be read.
uint64_t CpuTime(HANDLE thread) {
  FILETIME creation, exit, kernel, user;
  if (!GetThreadTimes(thread, &creation, &exit, &kernel, &user)) return ~uint64_t{0};
  return FromFileTime(kernel) + FromFileTime(user);
}

// Uses at least `ms` of the calling thread's CPU time (as its own times count it).
void Spin(uint64_t ms) {
  const uint64_t start = CpuTime(GetCurrentThread());
  const DWORD t0 = timeGetTime();
  volatile uint64_t sink = 0;
  while (CpuTime(GetCurrentThread()) - start < ms * kHundredNsPerMs &&
         timeGetTime() - t0 < kWatchdogMs) {
    for (int i = 0; i < 100000; ++i) sink = sink + static_cast<uint64_t>(i);
  }
}

// A thread that spins when told to, then blocks until told again.
struct Worker {
  HANDLE go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<DWORD> id{0};
  std::atomic<uint64_t> spinMs{0};
  HANDLE thread = nullptr;

  Worker() {
    thread = CreateThread(
        nullptr, 0,
        [](LPVOID parameter) WINAPI -> DWORD {
          auto* self = static_cast<Worker*>(parameter);
          self->id = GetCurrentThreadId();
          SetEvent(self->done);
          while (WaitForSingleObject(self->go, kWatchdogMs) == WAIT_OBJECT_0) {
            const uint64_t ms = self->spinMs.load();
            if (ms == 0) return 0;
            Spin(ms);
            SetEvent(self->done);
          }
          return 1;
        },
        this, 0, nullptr);
  }
  ~Worker() {
    spinMs = 0;
    SetEvent(go);
    WaitForSingleObject(thread, kWatchdogMs);
    CloseHandle(thread);
    CloseHandle(go);
    CloseHandle(done);
  }
  bool Run(uint64_t ms) {
    spinMs = ms;
    SetEvent(go);
    return WaitForSingleObject(done, kWatchdogMs) == WAIT_OBJECT_0;
  }
};

TEST(ThreadTimesContract, AThreadOpenedByItsIdentifierShowsItsOwnCpuTimeOnly) {
  Worker worker;
  ASSERT_NE(worker.thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(worker.done, kWatchdogMs), WAIT_OBJECT_0);
  HANDLE opened = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, worker.id.load());
  ASSERT_NE(opened, nullptr);

  const uint64_t before = CpuTime(opened);
  ASSERT_NE(before, ~uint64_t{0});
  ASSERT_TRUE(worker.Run(100));
  const uint64_t afterWork = CpuTime(opened);
  EXPECT_GE(afterWork - before, 100 * kHundredNsPerMs) << "the thread's work is counted";

  // This thread's work is not the worker's, which now waits.
  Spin(100);
  EXPECT_LT(CpuTime(opened) - afterWork, 50 * kHundredNsPerMs);
  EXPECT_TRUE(CloseHandle(opened));
}

TEST(ThreadTimesContract, CycleTimeGrowsWithTheThreadsOwnWork) {
  ULONG64 start = 0;
  if (!QueryThreadCycleTime(GetCurrentThread(), &start)) {
    GTEST_SKIP() << "no thread cycle count here (error " << GetLastError() << ")";
  }
  Worker worker;
  ASSERT_EQ(WaitForSingleObject(worker.done, kWatchdogMs), WAIT_OBJECT_0);
  HANDLE opened = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, worker.id.load());
  ASSERT_NE(opened, nullptr);
  ULONG64 before = 0, afterWork = 0, afterOurs = 0;
  ASSERT_TRUE(QueryThreadCycleTime(opened, &before));
  ASSERT_TRUE(worker.Run(50));
  ASSERT_TRUE(QueryThreadCycleTime(opened, &afterWork));
  Spin(50);
  ASSERT_TRUE(QueryThreadCycleTime(opened, &afterOurs));
  // Cycles have no fixed rate: the worker's 50 ms must count far more than our 50 ms did for it.
  EXPECT_GT(afterWork - before, 10 * (afterOurs - afterWork));
  ULONG64 end = 0;
  ASSERT_TRUE(QueryThreadCycleTime(GetCurrentThread(), &end));
  EXPECT_GT(end, start) << "our own spinning counted on our own thread";
  CloseHandle(opened);
}

TEST(ThreadTimesContract, AnUnknownThreadIdentifierOpensNothing) {
  // Thread identifiers are multiples of 4 on Windows; the emulation never hands this one out.
  EXPECT_EQ(OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, 0xFFFFFFF0u), nullptr);
}

}  // namespace

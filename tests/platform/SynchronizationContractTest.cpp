// Events, waits, threads and the clock as the streaming and panel threads rely on them. The same
// source runs against the emulation and against Windows (under Wine).
#include <gtest/gtest.h>

#include <atomic>

#include "platform/windows.h"

namespace {

TEST(EventContract, AnAutoResetEventReleasesOneWaitAndResets) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "the wait consumed the signal";
  EXPECT_EQ(WaitForSingleObject(event, 20), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(event));
  EXPECT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(event));
}

TEST(EventContract, AManualResetEventStaysSignalled) {
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  CloseHandle(event);
}

TEST(EventContract, AHandleWithItsLowestBitSetIsTheSameEvent) {
  // Overlapped requests mark their event this way to keep completions off a completion port.
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE marked = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1);
  EXPECT_TRUE(SetEvent(marked));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(marked));
}

TEST(EventContract, AWaitIsReleasedByAnotherThread) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID parameter) WINAPI -> DWORD {
        Sleep(20);
        SetEvent(static_cast<HANDLE>(parameter));
        return 7;
      },
      event, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);
  CloseHandle(event);
}

TEST(ThreadContract, AThreadHandleIsSignalledWhenTheThreadEnds) {
  static std::atomic<DWORD> seenId{0};
  DWORD id = 0;
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID) WINAPI -> DWORD {
        seenId = GetCurrentThreadId();
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        return GetThreadPriority(GetCurrentThread()) == THREAD_PRIORITY_TIME_CRITICAL ? 42 : 1;
      },
      nullptr, 0, &id);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(seenId.load(), id);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "stays signalled";
  EXPECT_TRUE(CloseHandle(thread));
}

TEST(ThreadContract, ARunningThreadIsStillActive) {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID parameter) WINAPI -> DWORD {
        WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
        return 0;
      },
      release, 0, nullptr);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(WaitForSingleObject(thread, 10), WAIT_TIMEOUT);
  SetEvent(release);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);
  CloseHandle(release);
}

TEST(HandleContract, ClosingTwiceOrAnUnknownHandleFails) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  EXPECT_TRUE(CloseHandle(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
}

TEST(ClockContract, TimeGetTimeAdvancesInMilliseconds) {
  const DWORD start = timeGetTime();
  Sleep(30);
  const DWORD elapsed = timeGetTime() - start;  // unsigned difference survives the wrap
  EXPECT_GE(elapsed, 20u);
  EXPECT_LT(elapsed, 60000u);
}

TEST(ClockContract, ThePerformanceCounterNeverGoesBackAndKeepsItsFrequency) {
  LARGE_INTEGER frequency, again, first, second;
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  ASSERT_TRUE(QueryPerformanceFrequency(&again));
  EXPECT_GE(frequency.QuadPart, 1000000) << "at least microseconds";
  EXPECT_EQ(again.QuadPart, frequency.QuadPart) << "fixed while the system runs";
  ASSERT_TRUE(QueryPerformanceCounter(&first));
  LONGLONG previous = first.QuadPart;
  for (int i = 0; i < 1000; ++i) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    EXPECT_GE(now.QuadPart, previous);
    previous = now.QuadPart;
  }
  Sleep(30);
  ASSERT_TRUE(QueryPerformanceCounter(&second));
  const double seconds = static_cast<double>(second.QuadPart - first.QuadPart) /
                         static_cast<double>(frequency.QuadPart);
  EXPECT_GE(seconds, 0.02) << "a sleep of 30 ms";
  EXPECT_LT(seconds, 60.0);
}

}  // namespace

// The streaming thread's CPU time as the stream report gives it: the split of a window's CPU
// time between the host's callbacks and the rest, and a meter read from another thread while
// a thread spends known CPU time inside and outside its "callbacks".
#include <gtest/gtest.h>

#include <atomic>

#include "host/stream/ThreadCpuMeter.h"
#include "platform/windows.h"

namespace kx7host {
namespace {

constexpr DWORD kWatchdogMs = 30000;

TEST(ThreadCpuMeter, CyclesShareOutTheThreadTimeAndWallTimeIsCappedByIt) {
  ThreadCpuReading begin;
  begin.cpu100ns = 5000000;  // 0.5 s before the window
  begin.cycles = 1000;
  begin.callbackUnits = 100;
  begin.callbacks = 7;
  begin.counter = 1000;
  begin.counterFrequency = 1000000;
  ThreadCpuReading end = begin;
  end.cpu100ns += 10000000;  // 1 s of CPU in the window
  end.cycles += 4000;
  end.callbackUnits += 1000;  // a quarter of the window's cycles
  end.callbacks += 1000;
  end.counter += 10000000;  // 10 s of wall time

  ThreadCpuFigures cycles = SplitThreadCpu(begin, end, true);
  EXPECT_TRUE(cycles.measured);
  EXPECT_DOUBLE_EQ(cycles.seconds, 10.0);
  EXPECT_EQ(cycles.switches, 1000u);
  EXPECT_DOUBLE_EQ(cycles.PercentOfCore(), 10.0);
  EXPECT_DOUBLE_EQ(cycles.UsPerSwitch(), 1000.0);
  EXPECT_DOUBLE_EQ(cycles.CallbackUsPerSwitch(), 250.0);
  EXPECT_DOUBLE_EQ(cycles.RestUsPerSwitch(), 750.0);
  EXPECT_DOUBLE_EQ(cycles.RestPercentOfCore(), 7.5);

  // Callback wall time in counter ticks: 1000 ticks of 1 us, then more than the CPU time.
  ThreadCpuFigures wall = SplitThreadCpu(begin, end, false);
  EXPECT_FALSE(wall.callbackByCycles);
  EXPECT_DOUBLE_EQ(wall.callbackUs, 1000.0);
  end.callbackUnits = begin.callbackUnits + 5000000;
  wall = SplitThreadCpu(begin, end, false);
  EXPECT_DOUBLE_EQ(wall.callbackUs, wall.cpuUs) << "a preempted callback is all of the CPU time";
  EXPECT_DOUBLE_EQ(wall.RestUsPerSwitch(), 0.0);

  // A window without switches or cycles divides by nothing.
  ThreadCpuFigures empty = SplitThreadCpu(begin, begin, true);
  EXPECT_DOUBLE_EQ(empty.UsPerSwitch(), 0.0);
  EXPECT_DOUBLE_EQ(empty.callbackUs, 0.0);
  EXPECT_FALSE(ThreadCpuMeter().Figures().measured);
}

// Uses at least `ms` of the calling thread's own CPU time.
void Spin(uint64_t ms) {
  FILETIME creation, exit, kernel, user;
  auto cpu = [&] {
    GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user);
    return (static_cast<uint64_t>(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
           (static_cast<uint64_t>(user.dwHighDateTime) << 32 | user.dwLowDateTime);
  };
  const uint64_t start = cpu();
  const DWORD t0 = timeGetTime();
  volatile uint64_t sink = 0;
  while (cpu() - start < ms * 10000 && timeGetTime() - t0 < kWatchdogMs) {
    for (int i = 0; i < 100000; ++i) sink = sink + static_cast<uint64_t>(i);
  }
}

struct CallbackThread {
  ThreadCpuMeter meter;
  HANDLE named = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE measure = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE finish = CreateEventA(nullptr, FALSE, FALSE, nullptr);
};

TEST(ThreadCpuMeter, TheCallbackThreadIsReadFromOutsideAndItsCallbacksTimedFromInside) {
  CallbackThread t;
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID parameter) WINAPI -> DWORD {
        auto* self = static_cast<CallbackThread*>(parameter);
        self->meter.CallbackBegins();  // names the thread
        self->meter.CallbackEnds();
        SetEvent(self->named);
        if (WaitForSingleObject(self->measure, kWatchdogMs) != WAIT_OBJECT_0) return 1;
        for (int i = 0; i < 3; ++i) {
          self->meter.CallbackBegins();
          Spin(40);
          self->meter.CallbackEnds();
          Spin(40);
        }
        SetEvent(self->done);
        // Still running while it is read, as the driver's thread is before the stop.
        WaitForSingleObject(self->finish, kWatchdogMs);
        return 0;
      },
      &t, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(t.named, kWatchdogMs), WAIT_OBJECT_0);
  ASSERT_TRUE(t.meter.Begin());
  SetEvent(t.measure);
  ASSERT_EQ(WaitForSingleObject(t.done, kWatchdogMs), WAIT_OBJECT_0);
  Spin(100);  // the reader's own work is no part of it
  ASSERT_TRUE(t.meter.End());
  SetEvent(t.finish);
  WaitForSingleObject(thread, kWatchdogMs);

  const ThreadCpuFigures figures = t.meter.Figures();
  EXPECT_TRUE(figures.measured);
  EXPECT_EQ(figures.switches, 3u);
  EXPECT_GE(figures.cpuUs, 0.9 * 240000);
  EXPECT_LT(figures.cpuUs, 2 * 240000) << "a spin overshoots by a clock tick at most";
  EXPECT_GT(figures.callbackUs, 0.0);
  EXPECT_LE(figures.callbackUs, figures.cpuUs);
  if (figures.callbackByCycles) {
    // Half the thread's time was spent in callbacks.
    EXPECT_NEAR(figures.callbackUs / figures.cpuUs, 0.5, 0.2);
  }
  CloseHandle(thread);
  for (HANDLE event : {t.named, t.measure, t.done, t.finish}) CloseHandle(event);
}

}  // namespace
}  // namespace kx7host

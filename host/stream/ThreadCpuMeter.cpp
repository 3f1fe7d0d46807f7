#include "host/stream/ThreadCpuMeter.h"

#include <algorithm>

namespace kx7host {

namespace {

uint64_t FromFileTime(const FILETIME& time) {
  return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

int64_t Counter() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

}  // namespace

ThreadCpuFigures SplitThreadCpu(const ThreadCpuReading& begin, const ThreadCpuReading& end,
                                bool callbackByCycles) {
  ThreadCpuFigures figures;
  figures.measured = true;
  figures.callbackByCycles = callbackByCycles;
  const double frequency = static_cast<double>(std::max<int64_t>(end.counterFrequency, 1));
  figures.seconds = static_cast<double>(end.counter - begin.counter) / frequency;
  figures.switches = end.callbacks - begin.callbacks;
  figures.cpuUs = static_cast<double>(end.cpu100ns - begin.cpu100ns) / 10.0;
  const double callbackUnits = static_cast<double>(end.callbackUnits - begin.callbackUnits);
  double callbackUs = 0.0;
  if (callbackByCycles) {
    const double cycles = static_cast<double>(end.cycles - begin.cycles);
    callbackUs = cycles > 0.0 ? figures.cpuUs * callbackUnits / cycles : 0.0;
  } else {
    callbackUs = callbackUnits * 1e6 / frequency;
  }
  figures.callbackUs = std::min(callbackUs, figures.cpuUs);
  return figures;
}

ThreadCpuMeter::~ThreadCpuMeter() {
  if (thread_ != nullptr) CloseHandle(thread_);
}

uint64_t ThreadCpuMeter::CallbackClock() const {
  if (byCycles_.load(std::memory_order_relaxed)) {
    ULONG64 cycles = 0;
    QueryThreadCycleTime(GetCurrentThread(), &cycles);
    return cycles;
  }
  return static_cast<uint64_t>(Counter());
}

void ThreadCpuMeter::CallbackBegins() {
  if (threadId_.load(std::memory_order_relaxed) == 0) {
    // The first callback names the thread and picks the measure it has.
    ULONG64 cycles = 0;
    byCycles_.store(QueryThreadCycleTime(GetCurrentThread(), &cycles) != FALSE,
                    std::memory_order_relaxed);
    threadId_.store(GetCurrentThreadId(), std::memory_order_release);
  }
  callbackStart_ = CallbackClock();
}

void ThreadCpuMeter::CallbackEnds() {
  const uint64_t spent = CallbackClock() - callbackStart_;
  // This thread is the only writer of both counts.
  callbackUnits_.store(callbackUnits_.load(std::memory_order_relaxed) + spent,
                       std::memory_order_relaxed);
  callbacks_.store(callbacks_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

bool ThreadCpuMeter::Read(ThreadCpuReading* reading) const {
  FILETIME creation, exit, kernel, user;
  if (!GetThreadTimes(thread_, &creation, &exit, &kernel, &user)) return false;
  reading->cpu100ns = FromFileTime(kernel) + FromFileTime(user);
  if (byCycles_.load(std::memory_order_relaxed)) {
    ULONG64 cycles = 0;
    if (!QueryThreadCycleTime(thread_, &cycles)) return false;
    reading->cycles = cycles;
  }
  reading->callbacks = callbacks_.load(std::memory_order_acquire);
  reading->callbackUnits = callbackUnits_.load(std::memory_order_relaxed);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  reading->counterFrequency = frequency.QuadPart;
  reading->counter = Counter();
  return true;
}

bool ThreadCpuMeter::Begin() {
  const DWORD id = threadId_.load(std::memory_order_acquire);
  if (id == 0) return false;
  if (thread_ == nullptr) thread_ = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id);
  begun_ = thread_ != nullptr && Read(&begin_);
  return begun_;
}

bool ThreadCpuMeter::End() {
  ended_ = begun_ && Read(&end_);
  return ended_;
}

ThreadCpuFigures ThreadCpuMeter::Figures() const {
  if (!ended_) return ThreadCpuFigures();
  return SplitThreadCpu(begin_, end_, byCycles_.load(std::memory_order_relaxed));
}

}  // namespace kx7host

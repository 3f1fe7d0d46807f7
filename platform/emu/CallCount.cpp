#include <atomic>

#include "platform/emu/CallCount.h"
#include "platform/emu/sync.h"

namespace {

constexpr size_t kCallKinds = static_cast<size_t>(emu_test::PlatformCall::Count);

std::atomic<DWORD> countedThread{0};
std::atomic<uint64_t> counts[kCallKinds];
thread_local int depth = 0;

}  // namespace

namespace emu {

CountedCall::CountedCall(emu_test::PlatformCall call) {
  if (depth++ != 0) return;
  const DWORD thread = countedThread.load(std::memory_order_relaxed);
  if (thread != 0 && thread == GetCurrentThreadId()) {
    counts[static_cast<size_t>(call)].fetch_add(1, std::memory_order_relaxed);
  }
}

CountedCall::~CountedCall() { --depth; }

}  // namespace emu

namespace emu_test {

void CountPlatformCalls(DWORD threadId) {
  for (auto& count : counts) count.store(0, std::memory_order_relaxed);
  countedThread.store(threadId, std::memory_order_relaxed);
}

uint64_t CountedPlatformCalls(PlatformCall call) {
  return counts[static_cast<size_t>(call)].load(std::memory_order_relaxed);
}

const char* PlatformCallName(PlatformCall call) {
  static const char* const names[kCallKinds] = {
      "WaitForSingleObject",    "WaitForMultipleObjects", "SetEvent",     "ResetEvent",
      "DeviceIoControl",        "GetOverlappedResult",    "GetLastError", "timeGetTime",
      "QueryPerformanceCounter"};
  const auto index = static_cast<size_t>(call);
  return index < kCallKinds ? names[index] : "?";
}

}  // namespace emu_test

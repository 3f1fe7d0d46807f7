// The emulation's kernel objects (events and threads) behind HANDLE values, with one lock and
// one condition variable for every wait: simple, and waits are rare enough for it.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "platform/emu/types.h"

namespace emu {

struct KernelObject {
  enum class Kind { Event, Thread } kind;
  bool manualReset = true;
  bool signaled = false;
  DWORD threadId = 0;
  DWORD exitCode = 259;  // STILL_ACTIVE
  int priority = 0;
  // Threads: the system thread behind the object while it runs, its start and end (100 ns
  // since 1601), and the CPU time it had used when it ended.
  bool running = false;
  pthread_t pthread{};
  uint64_t creationTime = 0;
  uint64_t exitTime = 0;
  uint64_t cpuNanosecondsAtExit = 0;
};

// The thread object with this identifier, or null. Call with ObjectLock held.
std::shared_ptr<KernelObject> FindThread(DWORD threadId);
// Now in 100-nanosecond units since 1601, as FILETIME counts.
uint64_t FileTimeNow();
// CPU time of the calling thread in nanoseconds.
uint64_t CurrentThreadCpuNanoseconds();

std::mutex& ObjectLock();
std::condition_variable& ObjectSignal();

// Registers an object and gives its handle (a multiple of 4, so the lowest bit stays free).
HANDLE AddObject(std::shared_ptr<KernelObject> object);
// The object behind a handle (the lowest bit ignored), or null. Call with ObjectLock held.
std::shared_ptr<KernelObject> FindObject(HANDLE handle);
bool RemoveObject(HANDLE handle);
// Threads that have been started and not yet returned, by identifier. Call with ObjectLock held.
std::unordered_set<DWORD>& LiveThreadIds();

void SetLastErrorValue(DWORD error);

// Sets several events in one step: a waiter sees all of them signalled or none.
void SetEventsTogether(const HANDLE* events, size_t count);

// Whether timeGetTime is frozen, and its value then. Call with ObjectLock held.
bool FrozenTimeNow(DWORD* now);
// Ends, as timed out, every wait begun while the clock was frozen whose time-out has passed by
// the frozen clock's `now`. Call with ObjectLock held.
void ExpireFrozenWaits(DWORD now);

}  // namespace emu

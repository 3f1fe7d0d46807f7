// The emulation's kernel objects (events and threads) behind HANDLE values, with one lock and
// one condition variable for every wait: simple, and waits are rare enough for it.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/emu/types.h"

namespace emu {

struct KernelObject {
  enum class Kind { Event, Thread } kind;
  bool manualReset = true;
  bool signaled = false;
  DWORD threadId = 0;
  DWORD exitCode = 259;  // STILL_ACTIVE
  int priority = 0;
};

std::mutex& ObjectLock();
std::condition_variable& ObjectSignal();

// Registers an object and gives its handle (a multiple of 4, so the lowest bit stays free).
HANDLE AddObject(std::shared_ptr<KernelObject> object);
// The object behind a handle (the lowest bit ignored), or null. Call with ObjectLock held.
std::shared_ptr<KernelObject> FindObject(HANDLE handle);
bool RemoveObject(HANDLE handle);

void SetLastErrorValue(DWORD error);

// Sets several events in one step: a waiter sees all of them signalled or none.
void SetEventsTogether(const HANDLE* events, size_t count);

}  // namespace emu

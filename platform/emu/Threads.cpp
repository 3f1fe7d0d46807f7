// Threads with identifiers and waitable handles; priorities are recorded per thread.
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <thread>

#include "platform/emu/KernelObjects.h"
#include "platform/emu/errors.h"
#include "platform/emu/module.h"
#include "platform/emu/sync.h"
#include "platform/emu/test_hooks.h"

using emu::KernelObject;

namespace {

std::atomic<DWORD> nextThreadId{1000};
thread_local DWORD currentThreadId = 0;
thread_local int currentPriority = THREAD_PRIORITY_NORMAL;
thread_local std::shared_ptr<KernelObject> currentThread;

const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

std::atomic<bool> failNextStart{false};

// Thrown by FreeLibraryAndExitThread and caught where the thread started.
struct ThreadExit {
  HMODULE module;
  DWORD code;
};

HANDLE StartThread(DWORD (*start)(void*), void* parameter, LPDWORD threadId) {
  if (failNextStart.exchange(false)) {
    emu::SetLastErrorValue(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto object = std::make_shared<KernelObject>();
  object->kind = KernelObject::Kind::Thread;
  object->threadId = nextThreadId.fetch_add(1);
  object->creationTime = emu::FileTimeNow();
  const HANDLE handle = emu::AddObject(object);
  {
    std::lock_guard<std::mutex> guard(emu::ObjectLock());
    emu::LiveThreadIds().insert(object->threadId);
  }
  try {
    std::thread([object, start, parameter] {
      currentThreadId = object->threadId;
      currentThread = object;
      {
        std::lock_guard<std::mutex> guard(emu::ObjectLock());
        object->pthread = pthread_self();
        object->running = true;
      }
      DWORD code = 0;
      try {
        code = start(parameter);
      } catch (const ThreadExit& exit) {
        code = exit.code;
        FreeLibrary(exit.module);
      }
      std::lock_guard<std::mutex> guard(emu::ObjectLock());
      // What the thread used is kept for GetThreadTimes: its clock ends with it.
      object->cpuNanosecondsAtExit = emu::CurrentThreadCpuNanoseconds();
      object->exitTime = emu::FileTimeNow();
      object->running = false;
      object->exitCode = code;
      object->signaled = true;
      emu::LiveThreadIds().erase(object->threadId);
      emu::ObjectSignal().notify_all();
    }).detach();
  } catch (...) {
    {
      std::lock_guard<std::mutex> guard(emu::ObjectLock());
      emu::LiveThreadIds().erase(object->threadId);
    }
    emu::RemoveObject(handle);
    emu::SetLastErrorValue(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId != nullptr) *threadId = object->threadId;
  return handle;
}

}  // namespace

namespace emu_test {
void FailNextThreadStart() { failNextStart.store(true); }
}  // namespace emu_test

extern "C" {

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD, LPDWORD threadId) {
  return StartThread(start, parameter, threadId);
}

uintptr_t _beginthreadex(void*, unsigned, unsigned(WINAPI* start)(void*), void* argument, unsigned,
                         unsigned* threadId) {
  struct Start {
    unsigned(WINAPI* routine)(void*);
    void* argument;
  };
  auto* packed = new Start{start, argument};
  DWORD id = 0;
  const HANDLE handle = StartThread(
      [](void* p) -> DWORD {
        const Start call = *static_cast<Start*>(p);
        delete static_cast<Start*>(p);
        return call.routine(call.argument);
      },
      packed, &id);
  if (handle == nullptr) {
    delete packed;
    return 0;
  }
  if (threadId != nullptr) *threadId = id;
  return reinterpret_cast<uintptr_t>(handle);
}

void FreeLibraryAndExitThread(HMODULE module, DWORD exitCode) {
  throw ThreadExit{module, exitCode};
}

HANDLE GetCurrentThread(void) { return kCurrentThread; }
HANDLE GetCurrentProcess(void) { return kCurrentProcess; }

DWORD GetCurrentThreadId(void) {
  if (currentThreadId == 0) currentThreadId = nextThreadId.fetch_add(1);
  return currentThreadId;
}

DWORD GetCurrentProcessId(void) { return 4242; }

BOOL SetThreadPriority(HANDLE thread, int priority) {
  if (thread == kCurrentThread) {
    // Time-critical threads get the real-time class where the system grants it, as Windows
    // gives them; elsewhere they run at their own priority.
    if (priority >= THREAD_PRIORITY_TIME_CRITICAL) {
      sched_param param{};
      param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
      pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    } else if (currentPriority >= THREAD_PRIORITY_TIME_CRITICAL) {
      sched_param param{};
      pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
    }
    currentPriority = priority;
    if (currentThread) {
      std::lock_guard<std::mutex> guard(emu::ObjectLock());
      currentThread->priority = priority;
    }
    return TRUE;
  }
  std::lock_guard<std::mutex> guard(emu::ObjectLock());
  auto object = emu::FindObject(thread);
  if (!object || object->kind != KernelObject::Kind::Thread) {
    emu::SetLastErrorValue(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->priority = priority;
  return TRUE;
}

int GetThreadPriority(HANDLE thread) {
  if (thread == kCurrentThread) return currentPriority;
  std::lock_guard<std::mutex> guard(emu::ObjectLock());
  auto object = emu::FindObject(thread);
  if (!object || object->kind != KernelObject::Kind::Thread) return THREAD_PRIORITY_ERROR_RETURN;
  return object->priority;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
  std::lock_guard<std::mutex> guard(emu::ObjectLock());
  auto object = emu::FindObject(thread);
  if (!object || object->kind != KernelObject::Kind::Thread || exitCode == nullptr) {
    emu::SetLastErrorValue(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = object->exitCode;
  return TRUE;
}

HANDLE OpenThread(DWORD, BOOL, DWORD threadId) {
  std::shared_ptr<KernelObject> object;
  {
    std::lock_guard<std::mutex> guard(emu::ObjectLock());
    object = emu::FindThread(threadId);
  }
  if (!object) {
    emu::SetLastErrorValue(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return emu::AddObject(std::move(object));
}

DWORD GetThreadId(HANDLE thread) {
  if (thread == kCurrentThread) return GetCurrentThreadId();
  std::lock_guard<std::mutex> guard(emu::ObjectLock());
  auto object = emu::FindObject(thread);
  return object && object->kind == KernelObject::Kind::Thread ? object->threadId : 0;
}

}  // extern "C"

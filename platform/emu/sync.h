// Kernel objects with Windows semantics: handles, events, threads, waits, time and interlocked ops.
#pragma once

#include "platform/emu/types.h"

#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_ERROR_RETURN 0x7fffffff
#define CREATE_SUSPENDED 0x00000004u
#define THREAD_QUERY_INFORMATION 0x0040u
#define THREAD_QUERY_LIMITED_INFORMATION 0x0800u
#define STILL_ACTIVE 259u

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);

extern "C" {
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);
BOOL CloseHandle(HANDLE handle);
BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target,
                     DWORD access, BOOL inherit, DWORD options);

HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags, LPDWORD threadId);
uintptr_t _beginthreadex(void* security, unsigned stackSize, unsigned(WINAPI* start)(void*),
                         void* argument, unsigned flags, unsigned* threadId);
HANDLE GetCurrentThread(void);
HANDLE GetCurrentProcess(void);
DWORD GetCurrentThreadId(void);
DWORD GetCurrentProcessId(void);
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);
// Ends a thread that the emulation started (CreateThread, _beginthreadex) without returning into
// the caller's code: the stack is unwound to the thread's start, then the module is let go.
[[noreturn]] void FreeLibraryAndExitThread(HMODULE module, DWORD exitCode);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
DWORD GetThreadId(HANDLE thread);
// A new handle to a thread of this process, by its identifier; null when there is none.
HANDLE OpenThread(DWORD desiredAccess, BOOL inheritHandle, DWORD threadId);
// The CPU time a thread has used, also after it ended; kernel plus user time is the whole of it.
BOOL GetThreadTimes(HANDLE thread, LPFILETIME creationTime, LPFILETIME exitTime,
                    LPFILETIME kernelTime, LPFILETIME userTime);
// The CPU cycles a thread has used: a precise, ever-growing count in a unit of its own.
BOOL QueryThreadCycleTime(HANDLE thread, PULONG64 cycleTime);

void Sleep(DWORD milliseconds);
DWORD timeGetTime(void);
// The system timer's resolution for timed waits: each begin is matched by an end of the same
// period. This machine's waits are always fine-grained; the emulation counts the requests.
typedef UINT MMRESULT;
#define TIMERR_NOERROR 0
#define TIMERR_NOCANDO 97
MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);
DWORD GetTickCount(void);
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);

LONG InterlockedIncrement(LONG volatile* value);
LONG InterlockedDecrement(LONG volatile* value);
LONG InterlockedExchange(LONG volatile* target, LONG value);
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand);
}

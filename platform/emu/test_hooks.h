// Hooks of the Linux emulation that tests use to steer and observe it. Not part of Windows.
#pragma once

#include <cstdint>
#include <string>

#include "platform/emu/types.h"

namespace emu_test {

// timeGetTime: an offset added to the clock, or a fixed value while frozen.
void SetTimeOffset(DWORD offsetMs);
void FreezeTime(DWORD valueMs);
void UnfreezeTime();
// Moves the frozen clock on by `ms`. A wait with a time-out begun while the clock was frozen
// then also ends when the frozen clock passes its time-out, so a thread paced by timeGetTime
// can be driven by a test's clock alone.
void AdvanceTime(DWORD ms);
// How many timeBeginPeriod requests are not yet ended.
int TimerPeriodsHeld();

// Text handed to OutputDebugStringA since the last clear.
std::string DebugOutput();
void ClearDebugOutput();

struct MessageBoxRecord {
  std::string text;
  std::string caption;
  UINT type = 0;
  int count = 0;
};
MessageBoxRecord LastMessageBox();

struct AvrtRecord {
  std::string taskName;
  DWORD threadId = 0;
  int sets = 0;
  int reverts = 0;
};
AvrtRecord Avrt();

// The headless window manager: posts a user's pick of a combo-box entry (the box selects it and
// tells its dialog CBN_SELCHANGE); counts the live windows; makes dialog creation fail, or wait
// until `release` is set (null: no waiting), as a window that is slow to come up.
bool PostComboPick(HWND comboBox, int index);
int WindowCount();
void FailDialogCreation(bool fail);
void HoldDialogCreation(HANDLE release);

// Makes the next thread start (CreateThread, _beginthreadex) fail.
void FailNextThreadStart();
// Number of CloseHandle calls and waits made on a handle that is not (or no longer) open.
int InvalidHandleUses();
// Waits until the thread is idle: blocked in a wait with a finite, non-zero time-out on objects
// none of which is signalled. (An unbounded wait is taken for a request in progress, not for
// idleness.) False when that does not happen within `milliseconds`.
bool WaitUntilIdle(DWORD threadId, DWORD milliseconds);

// The platform calls of one thread, counted for the tests and benchmarks of the streaming loop.
// A call that the emulation makes inside another call (DeviceIoControl resetting the request's
// event, say) is not counted.
enum class PlatformCall {
  WaitForSingleObject,
  WaitForMultipleObjects,
  SetEvent,
  ResetEvent,
  DeviceIoControl,
  GetOverlappedResult,
  GetLastError,
  timeGetTime,
  QueryPerformanceCounter,
  Count
};
// Counts from zero the calls that thread makes from now on (0: counts nothing).
void CountPlatformCalls(DWORD threadId);
uint64_t CountedPlatformCalls(PlatformCall call);
const char* PlatformCallName(PlatformCall call);

// Makes a built-in module ("Avrt.dll", "ksuser.dll") fail to load, or load again.
void SetModuleMissing(const char* moduleName, bool missing);

}  // namespace emu_test

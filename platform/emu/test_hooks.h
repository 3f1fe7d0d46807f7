// Hooks of the Linux emulation that tests use to steer and observe it. Not part of Windows.
#pragma once

#include <string>

#include "platform/emu/types.h"

namespace emu_test {

// timeGetTime: an offset added to the clock, or a fixed value while frozen.
void SetTimeOffset(DWORD offsetMs);
void FreezeTime(DWORD valueMs);
void UnfreezeTime();

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

// Makes a built-in module ("Avrt.dll", "ksuser.dll") fail to load, or load again.
void SetModuleMissing(const char* moduleName, bool missing);

}  // namespace emu_test

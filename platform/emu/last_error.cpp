// The calling thread's last error number.
#include "platform/emu/errors.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

extern "C" DWORD GetLastError(void) { return lastError; }

extern "C" void SetLastError(DWORD error) { lastError = error; }

#include "host/diagnose/CompletionClock.h"

namespace kx7host {

PerformanceClock::PerformanceClock() {
  LARGE_INTEGER frequency;
  if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0) {
    frequency_ = frequency.QuadPart;
  }
}

int64_t PerformanceClock::NowNs() {
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  // Whole seconds and the remainder apart, so that the product cannot overflow.
  const int64_t seconds = count.QuadPart / frequency_;
  const int64_t rest = count.QuadPart % frequency_;
  return seconds * 1000000000 + rest * 1000000000 / frequency_;
}

DWORD PerformanceClock::Wait(DWORD count, const HANDLE* events, DWORD milliseconds) {
  return WaitForMultipleObjects(count, events, FALSE, milliseconds);
}

}  // namespace kx7host

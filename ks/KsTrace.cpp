#include "ks/KsTrace.h"

#include <cstdarg>
#include <cstdio>

int g_nKsTraceLevel = 0;

void KsTrace(int nLevel, const char* pszFormat, ...) {
  if (nLevel > g_nKsTraceLevel || pszFormat == nullptr) return;
  // vsnprintf never writes past the buffer and always terminates it: long lines are cut.
  char szBuffer[KS_TRACE_BUFFER_SIZE];
  va_list args;
  va_start(args, pszFormat);
  const int cch = std::vsnprintf(szBuffer, sizeof szBuffer, pszFormat, args);
  va_end(args);
  if (cch < 0) return;
  OutputDebugStringA(szBuffer);
}

// Trace output of the kernel-streaming layer: one line per call of KsTrace whose level is at or
// below g_nKsTraceLevel, handed to the debug output. The threshold is 0 and every call uses level
// 1 or higher, so nothing is written unless a test raises it.
#pragma once

#include "platform/windows.h"

// Process-wide threshold; nothing in the system changes it.
extern int g_nKsTraceLevel;

// Levels: errors, failed pin-property reads, warnings, information, method entry and exit.
#define KS_TRACE_ERROR 1
#define KS_TRACE_PIN_PROPERTY 3
#define KS_TRACE_WARNING 4
#define KS_TRACE_INFO 5
#define KS_TRACE_CALLS 6

// Size of the buffer one line is formatted into; longer lines are cut to one less.
#define KS_TRACE_BUFFER_SIZE 260

#if defined(__GNUC__)
#define KS_TRACE_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KS_TRACE_FORMAT(fmt, args)
#endif

void KsTrace(int nLevel, const char* pszFormat, ...) KS_TRACE_FORMAT(2, 3);

// Entry and exit lines of a method, with its qualified name as a literal.
#define KS_TRACE_ENTER(name) KsTrace(KS_TRACE_CALLS, "%s Enter", name "()")
#define KS_TRACE_LEAVE(name) KsTrace(KS_TRACE_CALLS, "%s Leave", name "()")
#define KS_TRACE_LEAVE_HR(name, hr) \
  KsTrace(KS_TRACE_CALLS, "%s Leave, returning %#08x", name, static_cast<unsigned>(hr))

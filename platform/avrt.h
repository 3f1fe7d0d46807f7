// The two entry points of the multimedia class scheduler ("Avrt.dll"), looked up at run time.
#pragma once

#include "platform/windows.h"

#ifdef _WIN32
typedef HANDLE(WINAPI* PFN_AvSetMmThreadCharacteristicsA)(LPCSTR taskName, LPDWORD taskIndex);
typedef BOOL(WINAPI* PFN_AvRevertMmThreadCharacteristics)(HANDLE avrtHandle);
#endif

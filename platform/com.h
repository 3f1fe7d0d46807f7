// COM basics: IUnknown, IClassFactory, GUID helpers, CoInitialize and CoCreateInstance.
#pragma once

#include "platform/windows.h"

#ifdef _WIN32
#include <objbase.h>
#include <unknwn.h>
#else
#include "platform/emu/com.h"
#endif

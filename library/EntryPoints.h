// The five exported entry points of the driver library.
#pragma once

#include "platform/com.h"

#ifndef _WIN32
STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv);
STDAPI DllCanUnloadNow();
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
#endif
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);

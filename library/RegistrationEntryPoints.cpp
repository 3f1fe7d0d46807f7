// DllRegisterServer and DllUnregisterServer: the registration tool's entry points.
#include <cstdio>

#include "library/EntryPoints.h"
#include "library/Registration.h"
#include "product/DriverIdentity.h"

namespace {

// Only the exported entry points show a failure to the user.
HRESULT ReportRegistration(LONG result, const char* format) {
  if (result == kRegistrationOk) return S_OK;
  char text[128] = {};
  std::snprintf(text, sizeof text, format, static_cast<int>(result));
  MessageBoxA(nullptr, text, kDriverKeyName, MB_OK);
  return static_cast<HRESULT>(0xFFFFFFFFu);
}

}  // namespace

STDAPI DllRegisterServer() {
  return ReportRegistration(RegisterDriver(CLSID_NorvaKx7Asio, kModuleBaseName, kDriverKeyName,
                                           kDriverName, kThreadingModel),
                            "NORVA KX-7 ASIO Register Server failed (%d)");
}

STDAPI DllUnregisterServer() {
  return ReportRegistration(UnregisterDriver(CLSID_NorvaKx7Asio, kModuleBaseName, kDriverKeyName),
                            "NORVA KX-7 ASIO Unregister Server failed (%d)");
}

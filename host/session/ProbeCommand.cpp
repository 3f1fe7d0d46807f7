// probe: creates the driver as a host does, asks it everything, prints the answers, lets it go.
#include "host/session/DriverDiscovery.h"
#include "host/session/Probe.h"
#include "host/session/SessionCommands.h"
#include "platform/com.h"

namespace kx7host {

int Run(const ProbeOptions& options, std::ostream& out, std::ostream& err) {
  const DriverList list = ListAsioDrivers();
  std::string why;
  const AsioDriverEntry* entry = SelectDriver(list, options.driverName, &why);
  if (entry == nullptr) {
    err << "kx7-host: " << why << '\n';
    return kExitFailed;
  }
  const HRESULT comResult = CoInitialize(nullptr);
  IASIO* driver = nullptr;
  if (FAILED(CreateAsioDriver(*entry, &driver, &why))) {
    err << "kx7-host: " << why << '\n';
    if (SUCCEEDED(comResult)) CoUninitialize();
    return kExitFailed;
  }
  const ProbeReport report = ProbeDriver(driver);
  // Printed before the driver is released, so that a driver failing at release still leaves
  // its answers on screen.
  if (options.json) {
    PrintProbeJson(*entry, report, out);
  } else {
    PrintProbeText(*entry, report, out);
  }
  out.flush();
  ReleaseAsioDriver(driver);
  if (SUCCEEDED(comResult)) CoUninitialize();
  return kExitOk;
}

}  // namespace kx7host

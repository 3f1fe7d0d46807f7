// list: every driver under SOFTWARE\ASIO with its class identifier and description.
#include "host/session/DriverDiscovery.h"
#include "host/session/SessionCommands.h"

namespace kx7host {

int Run(const ListOptions&, std::ostream& out, std::ostream& err) {
  const DriverList list = ListAsioDrivers();
  if (list.drivers.empty()) {
    err << "kx7-host: " << NoDriverReason(list) << '\n';
    return kExitFailed;
  }
  for (const AsioDriverEntry& entry : list.drivers) {
    out << entry.name << '\n';
    out << "    CLSID        " << (entry.clsidText.empty() ? "(missing)" : entry.clsidText) << '\n';
    out << "    Description  " << (entry.description.empty() ? "(missing)" : entry.description)
        << '\n';
  }
  return kExitOk;
}

}  // namespace kx7host

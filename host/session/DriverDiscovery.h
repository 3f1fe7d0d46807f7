// Finding and creating ASIO drivers as a host does: the subkeys of HKEY_LOCAL_MACHINE\SOFTWARE\ASIO
// name the drivers, their "CLSID" values the COM classes that CoCreateInstance creates.
#pragma once

#include <string>
#include <vector>

#include "asio/asio.h"

namespace kx7host {

inline constexpr char kAsioKeyPath[] = "SOFTWARE\\ASIO";
inline constexpr char kAsioKeyText[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO";

struct AsioDriverEntry {
  std::string name;         // the subkey's name
  std::string clsidText;    // its "CLSID" value; empty when missing
  std::string description;  // its "Description" value; empty when missing
};

struct DriverList {
  bool keyExists = false;  // SOFTWARE\ASIO itself is there
  std::vector<AsioDriverEntry> drivers;
};

// The drivers registered on this machine, in registry enumeration order.
DriverList ListAsioDrivers();

// Why there is no driver to use when the list is empty: the key is missing, or has no entries.
std::string NoDriverReason(const DriverList& list);

// The driver a probe uses: the one whose key name equals `name` ignoring case; with no name, the
// first whose key name or description contains "KX-7", else the only one. nullptr, with the
// reason in `why`, when there is none to pick.
const AsioDriverEntry* SelectDriver(const DriverList& list, const std::string& name,
                                    std::string* why);

// Creates the driver with its class identifier as both class and interface identifier, as hosts
// do. COM must be initialised on this thread. On failure *driver is null and `why` says why.
HRESULT CreateAsioDriver(const AsioDriverEntry& entry, IASIO** driver, std::string* why);

// Gives up the host's hold on the driver: Release until the object is gone.
void ReleaseAsioDriver(IASIO* driver);

}  // namespace kx7host

#include "host/session/DriverDiscovery.h"

#include <algorithm>
#include <cctype>

#include "host/session/AsioText.h"
#include "platform/com.h"
#include "platform/windows.h"

namespace kx7host {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool ContainsIgnoringCase(const std::string& text, const std::string& part) {
  return Lower(text).find(Lower(part)) != std::string::npos;
}

// A string value of an open key; empty when missing or not a string. The stored data may or may
// not end with a zero, so the text is cut at the first zero or at the returned length.
std::string ReadStringValue(HKEY key, const char* name) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 || size > 64 * 1024) return {};
  std::string data(size, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  data.resize(std::min<size_t>(size, data.size()));
  const size_t zero = data.find('\0');
  if (zero != std::string::npos) data.resize(zero);
  return data;
}

std::string DriverNames(const DriverList& list) {
  std::string names;
  for (const AsioDriverEntry& entry : list.drivers) {
    names += names.empty() ? "'" : ", '";
    names += entry.name + "'";
  }
  return names;
}

}  // namespace

DriverList ListAsioDrivers() {
  DriverList list;
  HKEY asioKey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAsioKeyPath, 0, KEY_READ, &asioKey) != ERROR_SUCCESS) {
    return list;
  }
  list.keyExists = true;
  char name[256];
  for (DWORD index = 0; RegEnumKeyA(asioKey, index, name, sizeof name) == ERROR_SUCCESS; ++index) {
    AsioDriverEntry entry;
    entry.name = name;
    HKEY driverKey = nullptr;
    if (RegOpenKeyExA(asioKey, name, 0, KEY_READ, &driverKey) == ERROR_SUCCESS) {
      entry.clsidText = ReadStringValue(driverKey, "CLSID");
      entry.description = ReadStringValue(driverKey, "Description");
      RegCloseKey(driverKey);
    }
    list.drivers.push_back(entry);
  }
  RegCloseKey(asioKey);
  return list;
}

std::string NoDriverReason(const DriverList& list) {
  return std::string("no ASIO driver is registered: ") + kAsioKeyText +
         (list.keyExists ? " has no entries" : " does not exist");
}

const AsioDriverEntry* SelectDriver(const DriverList& list, const std::string& name,
                                    std::string* why) {
  if (list.drivers.empty()) {
    *why = NoDriverReason(list);
    return nullptr;
  }
  if (!name.empty()) {
    for (const AsioDriverEntry& entry : list.drivers) {
      if (Lower(entry.name) == Lower(name)) return &entry;
    }
    *why = "no ASIO driver named '" + name + "'; registered: " + DriverNames(list);
    return nullptr;
  }
  for (const AsioDriverEntry& entry : list.drivers) {
    if (ContainsIgnoringCase(entry.name, "KX-7") ||
        ContainsIgnoringCase(entry.description, "KX-7")) {
      return &entry;
    }
  }
  if (list.drivers.size() == 1) return &list.drivers.front();
  *why = "no KX-7 driver among the registered ASIO drivers (" + DriverNames(list) +
         "); pick one with --driver NAME";
  return nullptr;
}

HRESULT CreateAsioDriver(const AsioDriverEntry& entry, IASIO** driver, std::string* why) {
  *driver = nullptr;
  if (entry.clsidText.empty()) {
    *why = "ASIO driver '" + entry.name + "' has no CLSID value under " + kAsioKeyText;
    return REGDB_E_CLASSNOTREG;
  }
  OLECHAR wide[128] = {};
  CLSID clsid = {};
  HRESULT hr = E_INVALIDARG;
  if (entry.clsidText.size() < 100 &&
      MultiByteToWideChar(CP_ACP, 0, entry.clsidText.c_str(), -1, wide, 128) > 0) {
    hr = CLSIDFromString(wide, &clsid);
  }
  if (FAILED(hr)) {
    *why = "ASIO driver '" + entry.name + "' has an invalid CLSID value '" + entry.clsidText +
           "': " + HresultText(hr);
    return hr;
  }
  void* object = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &object);
  if (FAILED(hr) || object == nullptr) {
    *why = "cannot create ASIO driver '" + entry.name + "': CoCreateInstance(" + entry.clsidText +
           ") returned " + HresultText(hr);
    if (hr == REGDB_E_CLASSNOTREG) {
      *why += "; HKEY_CLASSES_ROOT\\CLSID\\" + entry.clsidText +
              " is missing: register the driver library first";
    }
    return FAILED(hr) ? hr : E_POINTER;
  }
  *driver = static_cast<IASIO*>(object);
  return hr;
}

void ReleaseAsioDriver(IASIO* driver) {
  if (driver == nullptr) return;
  // Bounded, so that a driver whose count never reaches zero cannot keep the host here.
  for (int i = 0; i < 256; ++i) {
    if (driver->Release() == 0) break;
  }
}

}  // namespace kx7host

// Device-interface enumeration of the virtual kernel with the SetupAPI contracts: snapshots of
// a category, interface details, aliases in other categories, and the interface's registry key
// with its "FriendlyName" value.
#include <cstddef>
#include <cstring>

#include "platform/vkernel/DeviceCalls.h"
#include "platform/vkernel/KernelState.h"

namespace {

// The device setup class of sound, video and game controllers.
constexpr GUID kMediaClass = {
    0x4D36E96C, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::shared_ptr<vk::DeviceInfoSet> SetOf(HDEVINFO set) {
  vk::HandleEntry entry;
  if (!vk::FindHandle(set, &entry) || entry.kind != vk::HandleEntry::Kind::Set) return nullptr;
  return entry.set;
}

// The set entry an SP_DEVICE_INTERFACE_DATA names, checked against the set; null if none.
const vk::SetEntry* EntryOf(const vk::DeviceInfoSet& set, PSP_DEVICE_INTERFACE_DATA data) {
  if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return nullptr;
  if (data->Reserved == 0 || data->Reserved > set.entries.size()) return nullptr;
  return &set.entries[data->Reserved - 1];
}

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

}  // namespace

extern "C" {

HDEVINFO VkSetupDiGetClassDevsA(const GUID* classGuid, PCSTR, HWND, DWORD flags) {
  if ((flags & DIGCF_DEVICEINTERFACE) == 0 || classGuid == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  vk::ReportActivity(vk::Activity::Enumerating);
  auto set = std::make_shared<vk::DeviceInfoSet>();
  set->category = *classGuid;
  set->entries = vk::InterfacesOf(*classGuid, (flags & DIGCF_PRESENT) != 0);
  vk::HandleEntry entry;
  entry.kind = vk::HandleEntry::Kind::Set;
  entry.set = std::move(set);
  return vk::AddHandle(std::move(entry));
}

BOOL VkSetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID* interfaceClassGuid,
                                   DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA interfaceData) {
  std::shared_ptr<vk::DeviceInfoSet> info = SetOf(set);
  if (!info) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (interfaceClassGuid == nullptr || interfaceData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  DWORD index = 0;
  for (size_t i = 0; i < info->entries.size(); ++i) {
    const vk::SetEntry& entry = info->entries[i];
    if (entry.alias || !SameGuid(entry.category, *interfaceClassGuid)) continue;
    if (index++ != memberIndex) continue;
    interfaceData->InterfaceClassGuid = entry.category;
    interfaceData->Flags = entry.flags;
    interfaceData->Reserved = i + 1;
    return TRUE;
  }
  SetLastError(ERROR_NO_MORE_ITEMS);
  return FALSE;
}

BOOL VkSetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                        PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                        PDWORD requiredSize, PSP_DEVINFO_DATA device) {
  std::shared_ptr<vk::DeviceInfoSet> info = SetOf(set);
  if (!info) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const vk::SetEntry* entry = EntryOf(*info, interfaceData);
  if (entry == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string path = vk::InterfacePath(entry->description, entry->category);
  const DWORD needed =
      static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
  if (requiredSize != nullptr) *requiredSize = needed;
  if (detail == nullptr) {
    SetLastError(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (detailSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (device != nullptr && device->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
  if (device != nullptr) {
    device->ClassGuid = kMediaClass;
    device->DevInst = static_cast<DWORD>(entry->id);
    device->Reserved = 0;
  }
  return TRUE;
}

BOOL VkSetupDiGetDeviceInterfaceAlias(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                      const GUID* aliasInterfaceClassGuid,
                                      PSP_DEVICE_INTERFACE_DATA aliasInterfaceData) {
  std::shared_ptr<vk::DeviceInfoSet> info = SetOf(set);
  if (!info) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const vk::SetEntry* entry = EntryOf(*info, interfaceData);
  if (entry == nullptr || aliasInterfaceClassGuid == nullptr || aliasInterfaceData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (aliasInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  for (const vk::InterfaceCategory& category : entry->description.categories) {
    if (!SameGuid(category.category, *aliasInterfaceClassGuid)) continue;
    // The alias joins the set (which may move `entry`), so it is filled in from a copy.
    vk::SetEntry alias = *entry;
    alias.category = category.category;
    alias.flags = category.flags;
    alias.alias = true;
    aliasInterfaceData->InterfaceClassGuid = alias.category;
    aliasInterfaceData->Flags = alias.flags;
    info->entries.push_back(std::move(alias));
    aliasInterfaceData->Reserved = info->entries.size();
    return TRUE;
  }
  SetLastError(ERROR_NO_SUCH_DEVICE_INTERFACE);
  return FALSE;
}

HKEY VkSetupDiOpenDeviceInterfaceRegKey(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                        DWORD, REGSAM) {
  HKEY const failed = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
  std::shared_ptr<vk::DeviceInfoSet> info = SetOf(set);
  if (!info) {
    SetLastError(ERROR_INVALID_HANDLE);
    return failed;
  }
  const vk::SetEntry* entry = EntryOf(*info, interfaceData);
  if (entry == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return failed;
  }
  if (!entry->description.hasRegistryKey) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return failed;
  }
  vk::HandleEntry key;
  key.kind = vk::HandleEntry::Kind::Key;
  key.hasFriendlyName = entry->description.hasFriendlyName;
  key.friendlyName = entry->description.friendlyName;
  return reinterpret_cast<HKEY>(vk::AddHandle(std::move(key)));
}

BOOL VkSetupDiDestroyDeviceInfoList(HDEVINFO set) {
  vk::HandleEntry entry;
  if (!vk::FindHandle(set, &entry) || entry.kind != vk::HandleEntry::Kind::Set ||
      !vk::RemoveHandle(set, &entry)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

LSTATUS VkRegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                           LPDWORD dataSize) {
  vk::HandleEntry entry;
  if (!vk::FindHandle(key, &entry)) {
    return RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
  }
  if (entry.kind != vk::HandleEntry::Kind::Key) return ERROR_INVALID_HANDLE;
  if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
  if (valueName == nullptr || !entry.hasFriendlyName || !vk::SameText(valueName, "FriendlyName")) {
    return ERROR_FILE_NOT_FOUND;
  }
  const DWORD needed = static_cast<DWORD>(entry.friendlyName.size() + 1);
  if (type != nullptr) *type = REG_SZ;
  if (dataSize == nullptr) return ERROR_SUCCESS;
  if (data == nullptr) {
    *dataSize = needed;
    return ERROR_SUCCESS;
  }
  if (*dataSize < needed) {
    *dataSize = needed;
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, entry.friendlyName.c_str(), needed);
  *dataSize = needed;
  return ERROR_SUCCESS;
}

LSTATUS VkRegCloseKey(HKEY key) {
  vk::HandleEntry entry;
  if (!vk::FindHandle(key, &entry)) return RegCloseKey(key);
  if (entry.kind != vk::HandleEntry::Kind::Key || !vk::RemoveHandle(key, &entry)) {
    return ERROR_INVALID_HANDLE;
  }
  return ERROR_SUCCESS;
}

}  // extern "C"

// The virtual kernel's device-access calls keep the contracts of their Win32 namesakes.
#include <cstddef>
#include <cstring>

#include "../ks/Kx7Fixture.h"

namespace kx7test {
namespace {

using SetupApiTest = Kx7Test;

SP_DEVICE_INTERFACE_DATA InterfaceData() {
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  return data;
}

std::string DetailPath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data) {
  DWORD required = 0;
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, data, nullptr, 0, &required, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> buffer(required);
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, data, detail, required - 1, nullptr, nullptr));
  EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, data, detail, required, nullptr, nullptr));
  EXPECT_EQ(required, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                          std::strlen(detail->DevicePath) + 1);
  return detail->DevicePath;
}

TEST_F(SetupApiTest, EnumeratesInterfacesWithDetailsAliasesAndNames) {
  HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_CAPTURE, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA data = InterfaceData();
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_CAPTURE, 0, &data));
  EXPECT_EQ(data.Flags, static_cast<DWORD>(SPINT_ACTIVE));
  EXPECT_EQ(DetailPath(set, &data), device.FilterPath(vkx7::kCaptureFilter, 1));
  SP_DEVICE_INTERFACE_DATA next = InterfaceData();
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_CAPTURE, 1, &next));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  next.cbSize = 8;
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_CAPTURE, 0, &next));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));

  // The same interface in the audio category: another path, which opens the same filter.
  SP_DEVICE_INTERFACE_DATA alias = InterfaceData();
  ASSERT_TRUE(SetupDiGetDeviceInterfaceAlias(set, &data, &KSCATEGORY_AUDIO, &alias));
  EXPECT_EQ(DetailPath(set, &alias), device.FilterPath(vkx7::kCaptureFilter, 0));
  EXPECT_FALSE(SetupDiGetDeviceInterfaceAlias(set, &data, &KSCATEGORY_RENDER, &alias));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVICE_INTERFACE));

  HKEY key = SetupDiOpenDeviceInterfaceRegKey(set, &data, 0, KEY_READ);
  ASSERT_NE(key, reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "FriendlyName", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, sizeof "Microphone (NORVA KX-7)");
  char name[8];
  size = sizeof name;
  EXPECT_EQ(
      RegQueryValueExA(key, "FriendlyName", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size),
      ERROR_MORE_DATA);
  EXPECT_EQ(RegQueryValueExA(key, "DeviceDesc", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SetupApiTest, RemovedInterfacesAreNotPresent) {
  vk::InterfaceDescription removed =
      vkx7::Kx7Description(vkx7::Kx7Layout::TwoFilter).filters[1].deviceInterface;
  removed.categories[0].flags = SPINT_REMOVED;
  device.SetInterface(vkx7::kRenderFilter, removed);
  HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  SP_DEVICE_INTERFACE_DATA data = InterfaceData();
  EXPECT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, 0, &data));
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, 1, &data));
  SetupDiDestroyDeviceInfoList(set);
  EXPECT_EQ(SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, nullptr, nullptr, DIGCF_PRESENT),
            INVALID_HANDLE_VALUE);
}

TEST_F(SetupApiTest, FilesAndIoControls) {
  EXPECT_EQ(CreateFileA("\\\\?\\nothing#here", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // Opened without FILE_FLAG_OVERLAPPED and asked without an OVERLAPPED: a plain call.
  HANDLE filter =
      CreateFileA(device.FilterPath(vkx7::kRenderFilter).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(filter, INVALID_HANDLE_VALUE);
  KSP_PIN property = {};
  property.Property.Set = KSPROPSETID_Pin;
  property.Property.Id = KSPROPERTY_PIN_CTYPES;
  property.Property.Flags = KSPROPERTY_TYPE_GET;
  ULONG pins = 0;
  DWORD returned = 0;
  EXPECT_TRUE(DeviceIoControl(filter, IOCTL_KS_PROPERTY, &property, sizeof property, &pins,
                              sizeof pins, &returned, nullptr));
  EXPECT_EQ(pins, 2u);
  EXPECT_EQ(returned, 4u);

  // An overlapped request that completes at once also signals its event.
  OVERLAPPED overlapped = {};
  overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  EXPECT_TRUE(DeviceIoControl(filter, IOCTL_KS_PROPERTY, &property, sizeof property, &pins,
                              sizeof pins, &returned, &overlapped));
  EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), WAIT_OBJECT_0);
  EXPECT_EQ(overlapped.InternalHigh, 4u);
  // Events are not the virtual kernel's: they close as usual through the same name.
  EXPECT_TRUE(CloseHandle(overlapped.hEvent));
  EXPECT_TRUE(CloseHandle(filter));
  EXPECT_FALSE(DeviceIoControl(filter, IOCTL_KS_PROPERTY, &property, sizeof property, &pins,
                               sizeof pins, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
}  // namespace kx7test

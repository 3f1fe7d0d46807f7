// The layer in the Windows release build, against the real device-access calls: a machine
// without a KX-7 (as under Wine, which has no KS filters) yields no filters and no crash.
#include <gtest/gtest.h>

#include "ks/KsLayer.h"

namespace {

TEST(WindowsRelease, NoFiltersOnAMachineWithoutKsAudioDevices) {
  HRESULT hr = E_FAIL;
  CKsEnumFilters enumerator(&hr);
  ASSERT_EQ(hr, S_OK);
  const GUID capture[] = {KSCATEGORY_AUDIO, KSCATEGORY_CAPTURE};
  EXPECT_EQ(enumerator.EnumFilters(FilterTypeCapture, capture, 2, TRUE, FALSE, TRUE), E_FAIL);
  EXPECT_TRUE(enumerator.m_Filters.IsEmpty());
}

TEST(WindowsRelease, OpeningAPathThatIsNotThereFails) {
  HRESULT hr = E_FAIL;
  CKsAudRenFilter filter(
      "\\\\?\\usb#vid_fa57&pid_0e1a&mi_01#0#{00000000-0000-0000-0000-000000000000}\\global", &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(filter.Instantiate(), E_FAIL);
  EXPECT_EQ(filter.EnumeratePins(), E_FAIL);
  ULONG count = 5;
  EXPECT_EQ(CKsIrpTarget::SyncIoctl(filter.GetHandle(), IOCTL_KS_PROPERTY, nullptr, 0, nullptr, 0,
                                    &count),
            E_FAIL);
  EXPECT_EQ(count, 5u);
}

}  // namespace

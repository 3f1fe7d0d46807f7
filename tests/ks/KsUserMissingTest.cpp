// Pin creation when "ksuser.dll" cannot be loaded. A program of its own: once KsCreatePin has
// been found, the layer keeps it for the life of the process.
#include "Kx7Fixture.h"

namespace kx7test {
namespace {

using KsUserMissingTest = Kx7Test;

TEST_F(KsUserMissingTest, EveryCreationFailsAndTriesTheLoadAgain) {
  auto filter = OpenFilter<CKsAudCapFilter>(vkx7::kCaptureFilter);
  CKsAudPin* pin = filter->FindViablePin(AsWfx(ExtensibleFormat(1, 48000)));
  ASSERT_NE(pin, nullptr);
  ASSERT_EQ(pin->SetFormat(AsWfx(ExtensibleFormat(1, 48000))), S_OK);
  emu_test::SetModuleMissing("ksuser.dll", true);
  EXPECT_EQ(static_cast<unsigned>(pin->Instantiate(FALSE)), 0x80070002u);
  EXPECT_EQ(static_cast<unsigned>(pin->Instantiate(FALSE)), 0x80070002u);
  EXPECT_TRUE(device.Record().connects.empty());
  emu_test::SetModuleMissing("ksuser.dll", false);
  EXPECT_EQ(pin->Instantiate(FALSE), S_OK);
  EXPECT_EQ(device.Record().connects.size(), 1u);
}

}  // namespace
}  // namespace kx7test

// COM apartments and the text form of class identifiers, in both builds.
#include <gtest/gtest.h>

#include <string>

#include "platform/com.h"

namespace {

TEST(ComContract, ApartmentsCountAndRefuseAnotherModel) {
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  CoUninitialize();
  CoUninitialize();
}

TEST(ComContract, ClassIdentifierTextHasBracesAndCapitals) {
  const CLSID id = {0xc8817d90, 0xb773, 0x48f1, {0x87, 0x08, 0x4e, 0xcd, 0x6d, 0x91, 0x3f, 0x64}};
  LPOLESTR text = nullptr;
  ASSERT_EQ(StringFromCLSID(id, &text), S_OK);
  char narrow[64] = {};
  ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr), 0);
  CoTaskMemFree(text);
  EXPECT_STREQ(narrow, "{C8817D90-B773-48F1-8708-4ECD6D913F64}");
  char lower[] = "C:\\Program Files\\NORVA";
  CharLowerA(lower);
  EXPECT_STREQ(lower, "c:\\program files\\norva");
}

TEST(ComContract, CreationNeedsARegisteredClass) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  const CLSID unknown = {0x0badc0de, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
  void* object = &object;
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  CoUninitialize();
}

}  // namespace

// The type library embedded in library and host is, byte for byte, the one
// widl builds from the IDL, and holds the contract: its version, 13 types (the
// LONG_PTR alias, six interfaces, six classes) and 102 methods from slot 7 on.
#include <windows.h>

#include <gtest/gtest.h>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"

namespace {

class BrokerTypeLibrary : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(BrokerTypeLibrary, IsWhatWidlBuiltAndHoldsTheContract) {
  const std::wstring module = ProgramFolder() + L"\\" + GetParam();
  const std::string built = ReadAll(GLINT_BROKER_TLB);
  ASSERT_FALSE(built.empty()) << "widl's type library missing";
  UniqueModule image(LoadLibraryExW(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  HRSRC found = image ? FindResourceW(image.Get(), MAKEINTRESOURCEW(1), L"TYPELIB") : nullptr;
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(std::string(static_cast<const char*>(LockResource(LoadResource(image.Get(), found))),
                          SizeofResource(image.Get(), found)) == built);
  BrokerTypes types(module);
  ASSERT_TRUE(types.Loaded());
  TLIBATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(types.Library()->GetLibAttr(&attr));
  EXPECT_EQ(attr->wMajorVerNum * 100 + attr->wMinorVerNum, 100);
  types.Library()->ReleaseTLibAttr(attr);
  EXPECT_EQ(types.Library()->GetTypeInfoCount(), 13u);
  ASSERT_EQ(types.Methods().size(), 102u);
  // clang-format off
  const struct { int slot; const wchar_t* name; MEMBERID dispid; } rows[] = {
      {7, L"BrokerCreateFile", 0x60020000}, {20, L"BrokerLcdLock", 0x6002000D},
      {26, L"BrokerLcdGetMessageTarget", 0x60020013}, {41, L"BrokerDelayScreensaver", 0x60030000},
      {44, L"BrokerSaveDialog", 0x60040000}, {93, L"BrokerLcdMessageTimeout", 0x60050000},
      {98, L"BrokerIsDriveAvailable", 0x60060000}, {99, L"BrokerSaveDialog2", 0x60070000},
      {108, L"BrokerMMNotificationClientDestroy", 0x60070009}};
  // clang-format on
  for (const auto& row : rows) {
    const BrokerMethodInfo& method = types.Methods()[row.slot - 7];
    EXPECT_EQ(method.name, row.name);
    EXPECT_EQ(method.memid, row.dispid) << Utf8Of(row.name);
    EXPECT_EQ(method.vtableOffset, row.slot * 8) << Utf8Of(row.name);
  }
}

INSTANTIATE_TEST_SUITE_P(EmbeddedIn, BrokerTypeLibrary,
                         ::testing::Values(L"GlintUtil.dll", L"glinthost.exe"),
                         [](const auto& info) { return info.index == 0 ? "Library" : "Host"; });

}  // namespace

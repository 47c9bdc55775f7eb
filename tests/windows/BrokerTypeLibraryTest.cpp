// The type library embedded in the library and in the host, read back and
// held against the interface the player was built for.
#include <windows.h>

#include <gtest/gtest.h>

#include "BrokerInterfaceTable.h"
#include "BrokerTestSupport.h"
#include "WineTestSupport.h"

namespace {

VARTYPE ValueType(const TYPEDESC& desc, ITypeInfo* owner) {
  const TYPEDESC& base = desc.vt == VT_PTR ? *desc.lptdesc : desc;
  if (base.vt != VT_USERDEFINED) return base.vt;
  // An alias: the type it stands for.
  ITypeInfo* alias = nullptr;
  VARTYPE vt = VT_EMPTY;
  if (SUCCEEDED(owner->GetRefTypeInfo(base.hreftype, &alias))) {
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(alias->GetTypeAttr(&attr))) {
      if (attr->typekind == TKIND_ALIAS) vt = attr->tdescAlias.vt;
      alias->ReleaseTypeAttr(attr);
    }
    alias->Release();
  }
  return vt;
}

class BrokerTypeLibrary : public ::testing::TestWithParam<const wchar_t*> {
 protected:
  std::wstring Module() const { return ProgramFolder() + L"\\" + GetParam(); }
};

TEST_P(BrokerTypeLibrary, LibraryAttributes) {
  BrokerTypes types(Module());
  ASSERT_TRUE(types.Loaded());
  TLIBATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(types.Library()->GetLibAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_GlintBrokerLib));
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->lcid, 0u);
  types.Library()->ReleaseTLibAttr(attr);
  BSTR name = nullptr;
  ASSERT_HRESULT_SUCCEEDED(types.Library()->GetDocumentation(-1, &name, nullptr, nullptr, nullptr));
  EXPECT_STREQ(name, L"GlintBrokerLib");
  SysFreeString(name);

  // Six coclasses, each defaulting to its interface; one alias of 64 bits.
  const CLSID* classes[] = {&CLSID_GlintBrokerImp,  &CLSID_GlintBrokerImp2, &CLSID_GlintBrokerImp3,
                            &CLSID_GlintBrokerImp4, &CLSID_GlintBrokerImp5, &CLSID_GlintBrokerImp6};
  int coclasses = 0, aliases = 0;
  for (UINT i = 0; i < types.Library()->GetTypeInfoCount(); ++i) {
    TYPEKIND kind;
    types.Library()->GetTypeInfoType(i, &kind);
    coclasses += kind == TKIND_COCLASS;
    if (kind == TKIND_ALIAS) {
      ++aliases;
      ITypeInfo* info = nullptr;
      types.Library()->GetTypeInfo(i, &info);
      TYPEATTR* alias = nullptr;
      info->GetTypeAttr(&alias);
      EXPECT_EQ(alias->tdescAlias.vt, VT_I8);
      info->ReleaseTypeAttr(alias);
      BSTR aliasName = nullptr;
      info->GetDocumentation(MEMBERID_NIL, &aliasName, nullptr, nullptr, nullptr);
      EXPECT_STREQ(aliasName, L"LONG_PTR");
      SysFreeString(aliasName);
      info->Release();
    }
  }
  EXPECT_EQ(coclasses, 6);
  EXPECT_EQ(aliases, 1);
  for (const CLSID* clsid : classes) {
    ITypeInfo* info = nullptr;
    EXPECT_HRESULT_SUCCEEDED(types.Library()->GetTypeInfoOfGuid(*clsid, &info));
    if (info != nullptr) info->Release();
  }
}

TEST_P(BrokerTypeLibrary, InterfacesChainAndAreDual) {
  BrokerTypes types(Module());
  ASSERT_TRUE(types.Loaded());
  const int counts[] = {34, 3, 49, 5, 1, 10};
  const IID* bases[] = {&IID_IDispatch,     &IID_IGlintBroker,  &IID_IGlintBroker2,
                        &IID_IGlintBroker3, &IID_IGlintBroker4, &IID_IGlintBroker5};
  for (int n = 1; n <= 6; ++n) {
    ITypeInfo* info = types.Interface(n);
    ASSERT_NE(info, nullptr);
    TYPEATTR* attr = nullptr;
    ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->cFuncs, counts[n - 1]) << "interface " << n;
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    info->ReleaseTypeAttr(attr);
    HREFTYPE baseRef = 0;
    ITypeInfo* base = nullptr;
    ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeOfImplType(0, &baseRef));
    ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeInfo(baseRef, &base));
    TYPEATTR* baseAttr = nullptr;
    base->GetTypeAttr(&baseAttr);
    EXPECT_TRUE(IsEqualIID(baseAttr->guid, *bases[n - 1])) << "interface " << n;
    base->ReleaseTypeAttr(baseAttr);
    base->Release();
  }
}

TEST_P(BrokerTypeLibrary, EveryMethodMatchesTheContract) {
  BrokerTypes types(Module());
  ASSERT_TRUE(types.Loaded());
  const auto& rows = BrokerMethodRows();
  ASSERT_EQ(types.Methods().size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const BrokerMethodRow& row = rows[i];
    const BrokerMethodInfo& method = types.Methods()[i];
    SCOPED_TRACE(Utf8Of(row.name));
    EXPECT_EQ(method.name, row.name);
    EXPECT_EQ(method.memid, row.dispid);
    // Slot 7 onwards, 8 bytes a slot.
    EXPECT_EQ(method.vtableOffset, row.slot * 8);
    ASSERT_EQ(method.parameters.size(), row.parameters.size());
    ITypeInfo* owner = types.Interface(row.interfaceNumber);
    BSTR names[16] = {};
    UINT got = 0;
    ASSERT_HRESULT_SUCCEEDED(owner->GetNames(method.memid, names, 16, &got));
    ASSERT_EQ(got, row.parameters.size() + 1);
    for (size_t p = 0; p < row.parameters.size(); ++p) {
      const BrokerParameterRow& want = row.parameters[p];
      EXPECT_STREQ(names[p + 1], want.name);
      USHORT flags = method.parameters[p].paramdesc.wParamFlags &
                     (PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FRETVAL | PARAMFLAG_FOPT);
      EXPECT_EQ(flags, want.flags) << Utf8Of(want.name);
      EXPECT_EQ(ValueType(method.parameters[p].tdesc, owner), want.type) << Utf8Of(want.name);
      bool byReference = method.parameters[p].tdesc.vt == VT_PTR;
      EXPECT_EQ(byReference, (want.flags & PARAMFLAG_FOUT) != 0) << Utf8Of(want.name);
    }
    for (UINT n = 0; n < got; ++n) SysFreeString(names[n]);
  }
}

INSTANTIATE_TEST_SUITE_P(EmbeddedIn, BrokerTypeLibrary,
                         ::testing::Values(L"GlintUtil.dll", L"glinthost.exe"),
                         [](const ::testing::TestParamInfo<const wchar_t*>& info) {
                           return std::string(info.index == 0 ? "Library" : "Host");
                         });

}  // namespace

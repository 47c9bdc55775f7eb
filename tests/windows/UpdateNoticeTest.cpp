// The stored update offer through the shim (slots 49-51): what each kind of
// "description" value gives, a refusal that cannot be written, and the round
// trip with the broker.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"
#include "broker/server/CoGlintBrokerServer.h"
#include "foundation/Win32Handles.h"

namespace {

const HKEY HKCU = HKEY_CURRENT_USER;
const std::wstring kUpdateKey = L"Software\\Kestrelink\\GlintPlayerUpdate";
const std::wstring kOffer =
    L"<update version=\"35.0.0.1\"><meta>message &quot;Glint Player 35&quot;;</meta></update>";

std::wstring Value(const wchar_t* name) {  // a text value of the update key, or "absent"
  wchar_t value[512] = {};
  DWORD size = sizeof value;
  LSTATUS status = RegGetValueW(HKCU, kUpdateKey.c_str(), name, RRF_RT_ANY, nullptr, value, &size);
  return status == ERROR_SUCCESS ? value : status == ERROR_FILE_NOT_FOUND ? L"absent" : L"?";
}

// The shim's answers on the stored offer: "version|message|rejected|Rejected value".
std::string Answers(GlintBrokerShim* shim) {
  MString version;
  const bool offered = shim->GetOfferedVersion(&version);
  MConfigNode* texts = nullptr;
  const bool notice = shim->GetNoticeContent(&texts);
  MConfigList owned(texts);
  const MString message = ConfigValue(FindConfigNodeInTexts(texts, MString(u"message")), 0);
  const bool rejected = shim->RejectOfferedUpdate();
  return (offered ? ToUtf8(version) : "-") + "|" + (notice ? ToUtf8(message) : "-") + "|" +
         (rejected ? "yes" : "no") + "|" + Utf8Of(Value(L"Rejected").c_str());
}

TEST_F(ShimTest, StoredOfferByKindOfValue) {
  // clang-format off
  const struct { const char* name; DWORD type; std::wstring text; const char* answers; } cases[] = {
      {"absent", REG_NONE, L"", "-|-|no|absent"},
      {"expandable", REG_EXPAND_SZ, kOffer, "-|-|no|absent"},
      {"no version", REG_SZ, L"<update><meta>message hi;</meta>", "-|hi|no|absent"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchRegistry registry;
    registry.Remove(HKCU, kUpdateKey, L"Rejected");
    registry.Remove(HKCU, kUpdateKey, L"description");
    if (c.type != REG_NONE) {
      registry.Set(HKCU, kUpdateKey, L"description", c.type, c.text.c_str(),
                   (c.text.size() + 1) * sizeof(wchar_t));
    }
    EXPECT_EQ(Answers(shim()), c.answers);
  }
}

// The update key's access list replaced for a test, put back afterwards.
class KeyAccess {
 public:
  explicit KeyAccess(const wchar_t* sddl) {
    RegOpenKeyExW(HKCU, kUpdateKey.c_str(), 0, READ_CONTROL | WRITE_DAC, key_.Receive());
    DWORD size = 0;
    RegGetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    saved_.resize(size);
    RegGetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, saved_.data(), &size);
    UniqueLocal replaced;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(
        sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(replaced.Receive()),
        nullptr);
    RegSetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, replaced.Get());
  }
  ~KeyAccess() { RegSetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, saved_.data()); }

 private:
  UniqueRegKey key_;
  std::vector<BYTE> saved_;
};

TEST_F(ShimTest, RefusalThatCannotBeWrittenStillCounts) {
  ScratchRegistry registry;
  registry.SetString(HKCU, kUpdateKey, L"Rejected", L"34.0.0.1");
  registry.SetString(HKCU, kUpdateKey, L"description", kOffer);
  {
    KeyAccess denied(L"D:(D;;0x2;;;WD)(A;;KA;;;WD)");  // KEY_SET_VALUE denied to everyone
    UniqueRegKey probe;
    ASSERT_EQ(RegOpenKeyExW(HKCU, kUpdateKey.c_str(), 0, KEY_SET_VALUE, probe.Receive()),
              ERROR_ACCESS_DENIED);
    EXPECT_TRUE(shim()->RejectOfferedUpdate());
  }
  EXPECT_EQ(Value(L"Rejected"), L"34.0.0.1");
}

// The broker stores an offer, the host shows and rejects it, and the broker
// then refuses the same offer while it takes a newer one.
TEST_F(ShimTest, RejectedOfferIsRefusedByTheBroker) {
  ScratchRegistry registry;
  for (const wchar_t* name : {L"Rejected", L"description", L"lastnotificationtime"})
    registry.Remove(HKCU, kUpdateKey, name);
  registry.Remove(HKCU, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                  L"GlintPlayerUpdate");
  CoGlintBrokerServer* broker = new CoGlintBrokerServer(nullptr);
  EXPECT_EQ(broker->BrokerPrefMarkAutoUpdaterForRun(Bstr(kOffer)), S_OK);
  EXPECT_EQ(Answers(shim()), "35.0.0.1|Glint Player 35|yes|35.0.0.1");
  RegDeleteKeyValueW(HKCU, kUpdateKey.c_str(), L"description");
  EXPECT_EQ(broker->BrokerPrefMarkAutoUpdaterForRun(Bstr(kOffer)), S_OK);
  EXPECT_EQ(Value(L"description"), L"absent");
  EXPECT_EQ(broker->BrokerPrefMarkAutoUpdaterForRun(Bstr(L"<update version=\"35.0.0.2\"/>")), S_OK);
  EXPECT_EQ(Value(L"description"), L"<update version=\"35.0.0.2\"/>");
  broker->Release();
}

}  // namespace

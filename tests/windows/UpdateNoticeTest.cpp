// The stored update offer through the shim (slots 49-51): what each kind of
// "description" value gives, a refusal that cannot be written, and the round
// trip with the broker, which then refuses the same offer.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"
#include "broker/CoGlintBrokerServer.h"
#include "foundation/Win32Handles.h"

namespace {

const std::wstring kUpdateKey = L"Software\\Kestrelink\\GlintPlayerUpdate";
const std::wstring kOffer =
    L"<update version=\"35.0.0.1\"><meta name=\"notice\">message &quot;Glint Player 35&quot;; "
    L"size 400 300;</meta></update>";

// A text value of the update key, or "absent".
std::wstring Value(const wchar_t* name) {
  wchar_t value[512] = {};
  DWORD size = sizeof value;
  LSTATUS status =
      RegGetValueW(HKEY_CURRENT_USER, kUpdateKey.c_str(), name, RRF_RT_ANY, nullptr, value, &size);
  return status == ERROR_SUCCESS ? value : status == ERROR_FILE_NOT_FOUND ? L"absent" : L"?";
}

// What the shim answers about the stored offer, as one line:
// "version|notice|reject|Rejected".
std::string Answers(GlintBrokerShim* shim) {
  MString version;
  const bool offered = shim->GetOfferedVersion(&version);
  MConfigNode* texts = nullptr;
  const bool notice = shim->GetNoticeContent(&texts);
  MConfigList owned(texts);
  const MString message = ConfigValue(FindConfigNodeInTexts(texts, MString(u"message")), 0);
  const bool rejected = shim->RejectOfferedUpdate();
  return (offered ? ToUtf8(version) : "-") + "|" +
         (!notice            ? "-"
          : message.IsNull() ? "no message"
                             : ToUtf8(message)) +
         "|" + (rejected ? "yes" : "no") + "|" + Utf8Of(Value(L"Rejected").c_str());
}

TEST_F(ShimTest, StoredOfferByKindOfValue) {
  auto text = [](DWORD type, const std::wstring& value) {
    return [=](ScratchRegistry& r) {
      r.Set(HKEY_CURRENT_USER, kUpdateKey, L"description", type, value.c_str(),
            (value.size() + 1) * sizeof(wchar_t));
    };
  };
  const DWORD number = 35;
  // clang-format off
  const struct {
    const char* name;
    std::function<void(ScratchRegistry&)> store;
    const char* answers;
  } cases[] = {
      {"absent", [](ScratchRegistry& r) { r.Remove(HKEY_CURRENT_USER, kUpdateKey, L"description"); },
       "-|-|no|absent"},
      {"offer", text(REG_SZ, kOffer), "35.0.0.1|Glint Player 35|yes|35.0.0.1"},
      {"expandable string", text(REG_EXPAND_SZ, kOffer), "-|-|no|absent"},
      {"several strings", text(REG_MULTI_SZ, kOffer + L'\0'), "-|-|no|absent"},
      {"number", [&](ScratchRegistry& r) {
         r.Set(HKEY_CURRENT_USER, kUpdateKey, L"description", REG_DWORD, &number, sizeof number); },
       "-|-|no|absent"},
      {"notice without a version", text(REG_SZ, L"<update><meta>message hi;</meta>"), "-|hi|no|absent"},
      {"empty version", text(REG_SZ, L"<update version=\"\"><meta></meta>"), "-|no message|no|absent"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchRegistry registry;
    registry.Remove(HKEY_CURRENT_USER, kUpdateKey, L"Rejected");
    c.store(registry);
    EXPECT_EQ(Answers(shim()), c.answers);
  }
}

// The key's access list replaced for the test and put back afterwards.
class KeyAccess {
 public:
  KeyAccess(const std::wstring& path, const wchar_t* sddl) {
    EXPECT_EQ(
        RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, READ_CONTROL | WRITE_DAC, key_.Receive()),
        ERROR_SUCCESS);
    DWORD size = 0;
    RegGetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    saved_.resize(size);
    EXPECT_EQ(RegGetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, saved_.data(), &size),
              ERROR_SUCCESS);
    UniqueLocal descriptor;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.Receive()),
        nullptr));
    EXPECT_EQ(RegSetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, descriptor.Get()),
              ERROR_SUCCESS);
  }
  ~KeyAccess() {
    EXPECT_EQ(RegSetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, saved_.data()),
              ERROR_SUCCESS);
  }

 private:
  UniqueRegKey key_;
  std::vector<BYTE> saved_;
};

TEST_F(ShimTest, RefusalThatCannotBeWrittenStillCounts) {
  ScratchRegistry registry;
  registry.SetString(HKEY_CURRENT_USER, kUpdateKey, L"Rejected", L"34.0.0.1");
  registry.SetString(HKEY_CURRENT_USER, kUpdateKey, L"description", kOffer);
  {
    KeyAccess denied(kUpdateKey, L"D:(D;;0x2;;;WD)(A;;KA;;;WD)");  // KEY_SET_VALUE denied
    HKEY probe = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kUpdateKey.c_str(), 0, KEY_SET_VALUE, &probe),
              ERROR_ACCESS_DENIED);
    EXPECT_TRUE(shim()->RejectOfferedUpdate());
  }
  EXPECT_EQ(Value(L"Rejected"), L"34.0.0.1");
}

// The broker stores an offer, the host shows and rejects it, and the broker
// then refuses to store the same offer again while it takes a newer one.
TEST_F(ShimTest, RejectedOfferIsRefusedByTheBroker) {
  ScratchRegistry registry;
  registry.Remove(HKEY_CURRENT_USER, kUpdateKey, L"Rejected");
  registry.Remove(HKEY_CURRENT_USER, kUpdateKey, L"description");
  registry.Remove(HKEY_CURRENT_USER, kUpdateKey, L"lastnotificationtime");
  registry.Remove(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                  L"GlintPlayerUpdate");
  CoGlintBrokerServer* broker = new CoGlintBrokerServer(nullptr);
  ASSERT_EQ(broker->BrokerPrefMarkAutoUpdaterForRun(Bstr(kOffer)), S_OK);
  EXPECT_EQ(Answers(shim()), "35.0.0.1|Glint Player 35|yes|35.0.0.1");
  ASSERT_EQ(RegDeleteKeyValueW(HKEY_CURRENT_USER, kUpdateKey.c_str(), L"description"),
            ERROR_SUCCESS);
  EXPECT_EQ(broker->BrokerPrefMarkAutoUpdaterForRun(Bstr(kOffer)), S_OK);
  EXPECT_EQ(Value(L"description"), L"absent");
  const std::wstring newer = L"<update version=\"35.0.0.2\"/>";
  EXPECT_EQ(broker->BrokerPrefMarkAutoUpdaterForRun(Bstr(newer)), S_OK);
  EXPECT_EQ(Value(L"description"), newer);
  broker->Release();
}

}  // namespace

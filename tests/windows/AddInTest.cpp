// Preferences and add-in applications through a live broker; downloads reach a
// loopback server that the prefix's proxy settings route the maker's hosts to.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"

namespace {

const std::wstring kHost = L"http://cdn.glint.example/addins/";
const Bstr kAddIn(L"glintaddin");

std::wstring FixtureFolder() {
  return ProgramFolder() + L"\\..\\addin-fixture";
}
std::wstring AddInFolder() {
  return KnownFolder(CSIDL_APPDATA) +
         L"\\Kestrelink\\Glint Player\\glintmedia.example\\bin\\glintaddin";
}
template <typename Done>  // polls `done` up to `rounds` times, `ms` apart
bool Within(int rounds, DWORD ms, Done done) {
  for (int i = 0; i < rounds; ++i, Sleep(ms))
    if (done()) return true;
  return false;
}

class AddIns : public BrokerSuite {
 protected:
  static void SetUpTestSuite() {
    BrokerSuite::SetUpTestSuite();
    std::string port = WaitForContent(FixtureFolder() + L"\\port");  // the server writes it once up
    ASSERT_FALSE(port.empty()) << "add-in fixture missing";
    registry_ = std::make_unique<ScratchRegistry>();
    const std::wstring settings =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    registry_->SetDword(HKEY_CURRENT_USER, settings, L"ProxyEnable", 1);
    registry_->SetString(HKEY_CURRENT_USER, settings, L"ProxyServer",
                         L"127.0.0.1:" + std::wstring(port.begin(), port.end()));
    ASSERT_HRESULT_SUCCEEDED(CreateBroker(&broker_));
  }
  static void TearDownTestSuite() {
    if (broker_ != nullptr) std::exchange(broker_, nullptr)->Release();
    BrokerSuite::TearDownTestSuite();
    registry_.reset();
    RemoveTree(AddInFolder());
  }
  void SetUp() override { RemoveTree(AddInFolder()); }  // every case starts without the add-in
  // Downloads a path of the maker's test host and installs it under `name`
  // (no name: closed without installing). Answers the result code, or 1000
  // when opening failed; `failure` gets what opening or reading answered.
  static ULONG Fetch(const std::wstring& url, const wchar_t* name, HRESULT* failure = nullptr) {
    ULONG cookie = 0, position = 0, length = 0, result = 0;
    const HRESULT opened = broker_->BrokerLMOpenDownload(Bstr(url), &cookie);
    HRESULT hr = opened;
    for (int round = 0; SUCCEEDED(hr) && round < 10000 && (round == 0 || position < length);)
      hr = broker_->BrokerLMUpdateDownload(cookie, &position, &length), ++round;
    if (failure != nullptr) *failure = hr;
    if (FAILED(opened)) return 1000;
    EXPECT_EQ(broker_->BrokerLMCloseDownload(cookie, name ? BSTR(Bstr(name)) : nullptr, &result),
              S_OK);
    return result;
  }
  static inline IGlintBroker6* broker_ = nullptr;
  static inline std::unique_ptr<ScratchRegistry> registry_;
};

TEST_F(AddIns, DownloadInstallVerifyLaunchAndAskTheVersion) {
  EXPECT_EQ(broker_->BrokerLMIsRunning(kAddIn), S_FALSE);
  EXPECT_EQ(Fetch(kHost + L"glintaddin.digest", L"DIGEST#glintaddin"), 0u);
  EXPECT_EQ(Fetch(kHost + L"glintaddin.pkg", L"glintaddin"), 0u);
  ULONG high = 0, low = 0;
  ASSERT_EQ(broker_->BrokerLMGetVersion(kAddIn, &high, &low), S_OK);
  EXPECT_EQ(high, 0x00010002u);
  EXPECT_EQ(low, 0x00030004u);
  UniqueHandle quit(CreateEventW(nullptr, TRUE, FALSE, L"GlintAddInTestQuit"));
  ASSERT_EQ(broker_->BrokerLMLaunch(kAddIn, Bstr(L"glintaddin.exe --stay")), S_OK);
  EXPECT_TRUE(Within(100, 50, [] { return broker_->BrokerLMIsRunning(kAddIn) == S_OK; }));
  // Asking again (it took no mutex away), in capitals: the name is lowered.
  EXPECT_EQ(broker_->BrokerLMIsRunning(Bstr(L"GLINTADDIN")), S_OK);
  SetEvent(quit.Get());
  EXPECT_TRUE(Within(100, 50, [] { return broker_->BrokerLMIsRunning(kAddIn) == S_FALSE; }));
  // One changed byte in the installed program: no launch, no version (the
  // program lets go of its mutex a moment before its image is released).
  const std::filesystem::path executable(AddInFolder() + L"\\glintaddin.exe");
  ASSERT_TRUE(Within(200, 25, [&] {
    std::fstream program(executable, std::ios::in | std::ios::out | std::ios::binary);
    return program.seekp(100) && program.put('\x5A').flush();
  }));
  EXPECT_EQ(broker_->BrokerLMLaunch(kAddIn, Bstr(L"")), E_FAIL);
  EXPECT_EQ(broker_->BrokerLMGetVersion(kAddIn, &high, &low), E_FAIL);
  EXPECT_EQ(Fetch(kHost + L"glintaddin.pkg", L"glintaddin"), 0u);
  EXPECT_EQ(broker_->BrokerLMGetVersion(kAddIn, &high, &low), S_OK);
}

TEST_F(AddIns, HostileServersAndPackages) {
  // What is fetched, under which name; the installation result; what opening or reading answered.
  // clang-format off
  const struct { const char* name; const wchar_t* path; const wchar_t* install; ULONG result; HRESULT openOrRead; } cases[] = {
      {"status 404", L"status404", L"glintaddin", 1000, E_FAIL},
      {"no content length", L"nolength", L"glintaddin", 1000, E_FAIL},
      {"shorter than announced", L"short", L"glintaddin", 6, E_FAIL},
      {"announces ten times its size", L"oversize.pkg", L"glintaddin", 3, S_OK},
      {"payload that does not inflate", L"broken.pkg", L"glintaddin", 3, S_OK},
      {"truncated signature", L"truncated.pkg", L"glintaddin", 6, S_OK},
      {"signed under another root", L"stranger.pkg", L"glintaddin", 6, S_OK},
      {"nothing downloaded", L"empty.pkg", L"glintaddin", 5, S_OK},
      {"name with a dot", L"glintaddin.pkg", L"glint.addin", 3, S_OK},
      {"manifest under a bad name", L"glintaddin.digest", L"DIGEST#bad-name", 6, S_OK},
      {"closed without a name", L"glintaddin.pkg", nullptr, 0, S_OK},
  };
  // clang-format on
  for (const auto& c : cases) {
    HRESULT failure = S_OK;
    EXPECT_EQ(Fetch(kHost + c.path, c.install, &failure), c.result) << c.name;
    EXPECT_EQ(failure, c.openOrRead) << c.name;
    EXPECT_FALSE(Exists(AddInFolder() + L"\\glintaddin.exe")) << c.name;
  }
  // Addresses outside the maker's hosts never reach the network; https
  // reaches the proxy and fails without keeping anything.
  for (const wchar_t* url :
       {L"http://cdn.glint.example.evil/addins/glintaddin.pkg", L"http://user@cdn.glint.example/x",
        L"https://", L"https://cdn.glint.example/addins/glintaddin.pkg"}) {
    ULONG cookie = 7;
    EXPECT_EQ(broker_->BrokerLMOpenDownload(Bstr(url), &cookie), E_FAIL) << Utf8Of(url);
    EXPECT_EQ(cookie, 0u) << Utf8Of(url);
  }
  EXPECT_NE(ReadAll(FixtureFolder() + L"\\server.log").find("CONNECT cdn.glint.example:443"),
            std::string::npos);
  ULONG position = 0, length = 0, result = 0;
  EXPECT_EQ(broker_->BrokerLMUpdateDownload(4242, &position, &length), E_INVALIDARG);
  EXPECT_EQ(broker_->BrokerLMCloseDownload(4242, nullptr, &result), E_INVALIDARG);
  EXPECT_EQ(broker_->BrokerLMIsRunning(Bstr(L"glint-addin")), S_FALSE);
  EXPECT_EQ(broker_->BrokerLMIsRunning(Bstr(L"")), S_FALSE);
}

// Has AddInServer.py limit the broker's memory to what it holds plus `headroomMiB`.
bool LimitBrokerMemory(int headroomMiB) {
  const std::wstring request = FixtureFolder() + L"\\limit-request";
  DeleteFileW((FixtureFolder() + L"\\limited").c_str());
  std::ofstream(std::filesystem::path(request + L".new")) << headroomMiB << "\n";
  MoveFileExW((request + L".new").c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING);
  std::string answer = WaitForContent(FixtureFolder() + L"\\limited", 10000);
  return answer.rfind("limited", 0) == 0 || (ADD_FAILURE() << answer, false);
}

// Sizes announced that the broker cannot hold are refused, and it serves on
// (a suite of its own: a fresh broker, whose memory the test limits).
class AddInsLowOnMemory : public AddIns {};
TEST_F(AddInsLowOnMemory, SizesThatCannotBeHeldAreRefusedAndTheBrokerLivesOn) {
  ASSERT_EQ(broker_->BrokerLMIsRunning(kAddIn), S_FALSE);  // the server runs
  ASSERT_TRUE(LimitBrokerMemory(288));
  // 32 MiB of signed content that announces 320 MiB unpacked.
  HRESULT failure = E_FAIL;
  EXPECT_EQ(Fetch(kHost + L"huge.pkg", L"glintaddin", &failure), 4u);
  EXPECT_EQ(failure, S_OK);
  EXPECT_FALSE(Exists(AddInFolder() + L"\\glintaddin.exe"));
  ASSERT_TRUE(LimitBrokerMemory(40));
  ULONG cookie = 7;
  EXPECT_EQ(broker_->BrokerLMOpenDownload(Bstr(kHost + L"announces60m"), &cookie), E_FAIL);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(broker_->BrokerLMIsRunning(kAddIn), S_FALSE);
}

// A text value of HKCU, or "absent".
std::wstring Value(const std::wstring& key, const wchar_t* name) {
  wchar_t value[512] = {};
  DWORD size = sizeof value;
  LSTATUS status =
      RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_ANY, nullptr, value, &size);
  return status == ERROR_SUCCESS ? value : status == ERROR_FILE_NOT_FOUND ? L"absent" : L"?";
}

TEST_F(AddIns, Preferences) {
  const std::wstring player = L"Software\\Kestrelink\\GlintPlayer";
  const std::wstring update = L"Software\\Kestrelink\\GlintPlayerUpdate";
  const std::wstring runOnce = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
  ScratchRegistry registry;
  registry.Remove(HKEY_CURRENT_USER, player, L"GlintPlayerVersion");
  BSTR text = nullptr;
  // Absent: E_FAIL, and still nothing left behind.
  EXPECT_EQ(broker_->BrokerPrefGetAndDeleteGlintPlayerVersion(&text), E_FAIL);
  EXPECT_EQ(Value(player, L"GlintPlayerVersion"), L"absent");
  registry.SetString(HKEY_CURRENT_USER, player, L"GlintPlayerVersion", L"34.0.0.384");
  for (int take = 0; take < 2; ++take) {
    EXPECT_EQ(take ? broker_->BrokerPrefGetAndDeleteGlintPlayerVersion(&text)
                   : broker_->BrokerPrefGetGlintPlayerVersion(&text),
              S_OK);
    EXPECT_STREQ(text, L"34.0.0.384");
    SysFreeString(text);
  }
  EXPECT_EQ(broker_->BrokerPrefGetGlintPlayerVersion(&text), E_FAIL);
  // Deleting empties the value first, so there is always one to delete.
  EXPECT_EQ(broker_->BrokerPrefDeleteGlintPlayerVersion(), S_OK);
  EXPECT_EQ(broker_->BrokerPrefGetGlintPlayerVersion(&text), E_FAIL);
  registry.SetDword(HKEY_CURRENT_USER, player, L"GlintPlayerVersion", 5);
  EXPECT_EQ(broker_->BrokerPrefGetGlintPlayerVersion(&text), E_FAIL);  // not text
  ULONG width = 0, height = 0;
  registry.Remove(HKEY_CURRENT_USER, player, L"Exception Dialog Width");
  registry.Remove(HKEY_CURRENT_USER, player, L"Exception Dialog Height");
  EXPECT_EQ(broker_->BrokerPrefGetExceptionDialogSize(&width, &height), E_FAIL);
  EXPECT_EQ(broker_->BrokerPrefSetExceptionDialogSize(640, 480), S_OK);
  registry.SetString(HKEY_CURRENT_USER, player, L"Exception Dialog Height", L"480");
  EXPECT_EQ(broker_->BrokerPrefGetExceptionDialogSize(&width, &height), E_FAIL);
  for (const wchar_t* name : {L"description", L"lastnotificationtime", L"Rejected"})
    registry.Remove(HKEY_CURRENT_USER, update, name);
  registry.Remove(HKEY_CURRENT_USER, runOnce, L"GlintPlayerUpdate");
  const std::wstring offer = L"<update version=\"35.0.0.2\"/>";
  EXPECT_EQ(broker_->BrokerPrefMarkAutoUpdaterForRun(Bstr(offer)), S_OK);
  EXPECT_NE(Value(runOnce, L"GlintPlayerUpdate").find(L"glinthost.exe -update activex"),
            std::wstring::npos);
  EXPECT_EQ(broker_->BrokerPrefMarkAutoUpdaterForRun(nullptr), E_INVALIDARG);
}

}  // namespace

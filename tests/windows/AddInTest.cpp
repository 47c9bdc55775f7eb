// Preferences and add-in applications through a live broker: downloads go
// through the system's internet functions to a loopback server that the test
// prefix's proxy settings route every host of the maker's domain to.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"

namespace {

constexpr wchar_t kServer[] = L"glinthost.exe";

std::wstring FixtureFolder() {
  return ProgramFolder() + L"\\..\\addin-fixture";
}

std::wstring AddInFolder() {
  wchar_t appData[MAX_PATH];
  SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData);
  return std::wstring(appData) + L"\\Kestrelink\\Glint Player\\glintmedia.example\\bin\\glintaddin";
}

class AddIns : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterTestBroker();
    std::string port = ReadAll(FixtureFolder() + L"\\port");
    ASSERT_FALSE(port.empty()) << "add-in fixture missing";
    registry_ = new ScratchRegistry;
    const std::wstring settings =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    registry_->SetDword(HKEY_CURRENT_USER, settings, L"ProxyEnable", 1);
    registry_->SetString(HKEY_CURRENT_USER, settings, L"ProxyServer",
                         L"127.0.0.1:" + std::wstring(port.begin(), port.end()));
    ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
    ASSERT_HRESULT_SUCCEEDED(CreateBroker(&broker_));
  }
  static void TearDownTestSuite() {
    if (broker_ != nullptr) broker_->Release();
    broker_ = nullptr;
    CoUninitialize();
    WaitUntilGone(kServer, 5000);
    delete registry_;
    UnregisterTestBroker();
    RemoveTree(AddInFolder());
  }

  // Downloads a path of the maker's test host and installs it under `name`
  // (no name: closed without installing). Answers the result code, or
  // 1000 + an HRESULT's low bits when a call failed.
  static ULONG Fetch(const std::wstring& url, const wchar_t* name, HRESULT* failure = nullptr) {
    ULONG cookie = 0;
    HRESULT hr = broker_->BrokerLMOpenDownload(Bstr(url), &cookie);
    if (failure != nullptr) *failure = hr;
    if (FAILED(hr)) return 1000;
    ULONG position = 0, length = 0;
    for (int round = 0; round < 10000; ++round) {
      hr = broker_->BrokerLMUpdateDownload(cookie, &position, &length);
      if (FAILED(hr) || position >= length) break;
    }
    if (failure != nullptr) *failure = hr;
    ULONG result = 0;
    HRESULT closed = name != nullptr ? broker_->BrokerLMCloseDownload(cookie, Bstr(name), &result)
                                     : broker_->BrokerLMCloseDownload(cookie, nullptr, &result);
    EXPECT_EQ(closed, S_OK);
    return result;
  }

  static IGlintBroker6* broker_;
  static ScratchRegistry* registry_;
};
IGlintBroker6* AddIns::broker_ = nullptr;
ScratchRegistry* AddIns::registry_ = nullptr;

const std::wstring kHost = L"http://cdn.glint.example/addins/";

TEST_F(AddIns, DownloadInstallVerifyLaunchAndAskTheVersion) {
  RemoveTree(AddInFolder());
  EXPECT_EQ(broker_->BrokerLMIsRunning(Bstr(L"glintaddin")), S_FALSE);
  EXPECT_EQ(Fetch(kHost + L"glintaddin.digest", L"DIGEST#glintaddin"), 0u);
  EXPECT_EQ(Fetch(kHost + L"glintaddin.pkg", L"glintaddin"), 0u);
  EXPECT_TRUE(Exists(AddInFolder() + L"\\glintaddin.exe"));
  EXPECT_TRUE(Exists(AddInFolder() + L"\\digest.s"));

  ULONG high = 0, low = 0;
  ASSERT_EQ(broker_->BrokerLMGetVersion(Bstr(L"glintaddin"), &high, &low), S_OK);
  EXPECT_EQ(high, 0x00010002u);
  EXPECT_EQ(low, 0x00030004u);

  HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, L"GlintAddInTestQuit");
  ASSERT_EQ(broker_->BrokerLMLaunch(Bstr(L"glintaddin"), Bstr(L"glintaddin.exe --stay")), S_OK);
  bool running = false;
  for (int i = 0; i < 100 && !running; ++i) {
    running = broker_->BrokerLMIsRunning(Bstr(L"glintaddin")) == S_OK;
    if (!running) Sleep(50);
  }
  EXPECT_TRUE(running);
  // Asking does not take the application's mutex away.
  EXPECT_EQ(broker_->BrokerLMIsRunning(Bstr(L"glintaddin")), S_OK);
  EXPECT_EQ(broker_->BrokerLMIsRunning(Bstr(L"GLINTADDIN")), S_OK);  // the name is lowered
  SetEvent(quit);
  bool ended = false;
  for (int i = 0; i < 100 && !ended; ++i) {
    ended = broker_->BrokerLMIsRunning(Bstr(L"glintaddin")) == S_FALSE;
    if (!ended) Sleep(50);
  }
  EXPECT_TRUE(ended);
  CloseHandle(quit);

  // One changed byte in the installed program: no launch, no version.
  std::wstring executable = AddInFolder() + L"\\glintaddin.exe";
  // The program lets go of its mutex a moment before its image is released.
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int i = 0; i < 200 && file == INVALID_HANDLE_VALUE; ++i) {
    file = CreateFileW(executable.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) Sleep(25);
  }
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  SetFilePointer(file, 100, nullptr, FILE_BEGIN);
  DWORD written = 0;
  WriteFile(file, "\x5A", 1, &written, nullptr);
  CloseHandle(file);
  EXPECT_EQ(broker_->BrokerLMLaunch(Bstr(L"glintaddin"), Bstr(L"")), E_FAIL);
  EXPECT_EQ(broker_->BrokerLMGetVersion(Bstr(L"glintaddin"), &high, &low), E_FAIL);
  // An unlisted extra file does not matter; the listed one does.
  EXPECT_EQ(Fetch(kHost + L"glintaddin.pkg", L"glintaddin"), 0u);  // reinstalled
  ScratchFiles extra;
  extra.File(AddInFolder() + L"\\notes.txt", "not listed");
  EXPECT_EQ(broker_->BrokerLMGetVersion(Bstr(L"glintaddin"), &high, &low), S_OK);
}

TEST_F(AddIns, HostileServersAndPackages) {
  RemoveTree(AddInFolder());
  struct Case {
    const char* name;
    std::wstring url;
    const wchar_t* install;
    ULONG result;        // installation result
    HRESULT openOrRead;  // what opening or reading answered
  } cases[] = {
      {"status 404", kHost + L"status404", L"glintaddin", 1000, E_FAIL},
      {"no content length", kHost + L"nolength", L"glintaddin", 1000, E_FAIL},
      {"shorter than announced", kHost + L"short", L"glintaddin", 6, E_FAIL},
      {"announces ten times its size", kHost + L"oversize.pkg", L"glintaddin", 3, S_OK},
      {"payload that does not inflate", kHost + L"broken.pkg", L"glintaddin", 3, S_OK},
      {"truncated signature", kHost + L"truncated.pkg", L"glintaddin", 6, S_OK},
      {"signed under another root", kHost + L"stranger.pkg", L"glintaddin", 6, S_OK},
      {"nothing downloaded", kHost + L"empty.pkg", L"glintaddin", 5, S_OK},
      {"name of 32 characters", kHost + L"glintaddin.pkg", L"abcdefghijabcdefghijabcdefghijab", 3,
       S_OK},
      {"name with a dash", kHost + L"glintaddin.pkg", L"glint-addin", 3, S_OK},
      {"name with a dot", kHost + L"glintaddin.pkg", L"glint.addin", 3, S_OK},
      {"manifest under a bad name", kHost + L"glintaddin.digest", L"DIGEST#bad-name", 6, S_OK},
      {"closed without a name", kHost + L"glintaddin.pkg", nullptr, 0, S_OK},
  };
  for (const Case& c : cases) {
    HRESULT failure = S_OK;
    ULONG result = Fetch(c.url, c.install, &failure);
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(failure, c.openOrRead) << c.name;
    EXPECT_FALSE(Exists(AddInFolder() + L"\\glintaddin.exe")) << c.name;
  }
  // Addresses outside the maker's hosts never reach the network.
  const wchar_t* refused[] = {
      L"http://CDN.glint.example/addins/glintaddin.pkg",
      L"http://cdn.glint.example.evil/addins/glintaddin.pkg",
      L"http://glint.example/addins/glintaddin.pkg",
      L"http://a.b.glint.example/x",
      L"http://cdn.glint.example",
      L"ftp://cdn.glint.example/x",
      L"http://abcdefghijabcdefghijabcdefghijabc.glint.example/x",
      L"http://user@cdn.glint.example/x",
      L"https://",
  };
  for (const wchar_t* url : refused) {
    ULONG cookie = 7;
    EXPECT_EQ(broker_->BrokerLMOpenDownload(Bstr(url), &cookie), E_FAIL) << Utf8Of(url);
    EXPECT_EQ(cookie, 0u);
  }
  // https reaches the proxy and fails without keeping anything.
  ULONG cookie = 0;
  EXPECT_EQ(broker_->BrokerLMOpenDownload(Bstr(L"https://cdn.glint.example/addins/glintaddin.pkg"),
                                          &cookie),
            E_FAIL);
  EXPECT_NE(ReadAll(FixtureFolder() + L"\\server.log").find("CONNECT cdn.glint.example:443"),
            std::string::npos);
  // Unknown cookies and names.
  ULONG position = 0, length = 0, result = 0;
  EXPECT_EQ(broker_->BrokerLMUpdateDownload(4242, &position, &length), E_INVALIDARG);
  EXPECT_EQ(broker_->BrokerLMCloseDownload(4242, nullptr, &result), E_INVALIDARG);
  EXPECT_EQ(broker_->BrokerLMIsRunning(Bstr(L"glint-addin")), S_FALSE);
  EXPECT_EQ(broker_->BrokerLMIsRunning(Bstr(L"")), S_FALSE);
  ULONG high = 0, low = 0;
  EXPECT_EQ(broker_->BrokerLMGetVersion(Bstr(L"missing"), &high, &low), E_FAIL);
  EXPECT_EQ(broker_->BrokerLMLaunch(Bstr(L"missing"), Bstr(L"")), E_FAIL);
}

// Asks the fixture's server to limit the running broker's memory to what it
// holds now plus `headroomMiB` (AddInServer.py); its answer.
std::string LimitBrokerMemory(int headroomMiB) {
  const std::wstring answer = FixtureFolder() + L"\\limited";
  DeleteFileW(answer.c_str());
  const std::wstring request = FixtureFolder() + L"\\limit-request";
  HANDLE file = CreateFileW((request + L".new").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string text = std::to_string(headroomMiB) + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  MoveFileExW((request + L".new").c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING);
  return WaitForContent(answer, 10000);
}

// A fresh broker, whose memory the test then limits.
class AddInsLowOnMemory : public AddIns {};

// Sizes that a package or a server announces but the broker cannot hold are
// refused with the documented answers, and the broker serves on.
TEST_F(AddInsLowOnMemory, SizesThatCannotBeHeldAreRefusedAndTheBrokerLivesOn) {
  RemoveTree(AddInFolder());
  ASSERT_EQ(broker_->BrokerLMIsRunning(Bstr(L"glintaddin")), S_FALSE);  // the server runs
  std::string limited = LimitBrokerMemory(288);
  ASSERT_EQ(limited.rfind("limited", 0), 0u) << limited;
  // 32 MiB of signed content that announces 320 MiB unpacked.
  HRESULT failure = E_FAIL;
  EXPECT_EQ(Fetch(kHost + L"huge.pkg", L"glintaddin", &failure), 4u);
  EXPECT_EQ(failure, S_OK);
  EXPECT_FALSE(Exists(AddInFolder() + L"\\glintaddin.exe"));

  limited = LimitBrokerMemory(40);
  ASSERT_EQ(limited.rfind("limited", 0), 0u) << limited;
  ULONG cookie = 7;
  EXPECT_EQ(broker_->BrokerLMOpenDownload(Bstr(kHost + L"announces60m"), &cookie), E_FAIL);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(broker_->BrokerLMIsRunning(Bstr(L"glintaddin")), S_FALSE);
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
  EXPECT_EQ(text, nullptr);
  DWORD size = 0;
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, player.c_str(), L"GlintPlayerVersion", RRF_RT_ANY,
                         nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  registry.SetString(HKEY_CURRENT_USER, player, L"GlintPlayerVersion", L"34.0.0.384");
  EXPECT_EQ(broker_->BrokerPrefGetGlintPlayerVersion(&text), S_OK);
  EXPECT_STREQ(text, L"34.0.0.384");
  SysFreeString(text);
  EXPECT_EQ(broker_->BrokerPrefGetAndDeleteGlintPlayerVersion(&text), S_OK);
  EXPECT_STREQ(text, L"34.0.0.384");
  SysFreeString(text);
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
  EXPECT_EQ(broker_->BrokerPrefGetExceptionDialogSize(&width, &height), S_OK);
  EXPECT_EQ(width, 640u);
  EXPECT_EQ(height, 480u);
  registry.SetString(HKEY_CURRENT_USER, player, L"Exception Dialog Height", L"480");
  EXPECT_EQ(broker_->BrokerPrefGetExceptionDialogSize(&width, &height), E_FAIL);

  // An offer the user rejected is not stored again.
  registry.Remove(HKEY_CURRENT_USER, update, L"description");
  registry.Remove(HKEY_CURRENT_USER, update, L"lastnotificationtime");
  registry.Remove(HKEY_CURRENT_USER, runOnce, L"GlintPlayerUpdate");
  registry.SetString(HKEY_CURRENT_USER, update, L"Rejected", L"35.0.0.1");
  EXPECT_EQ(broker_->BrokerPrefMarkAutoUpdaterForRun(Bstr(L"<update version=\"35.0.0.1\"/>")),
            S_OK);
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, update.c_str(), L"description", RRF_RT_ANY, nullptr,
                         nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  const std::wstring offer = L"<update version=\"35.0.0.2\"/>";
  EXPECT_EQ(broker_->BrokerPrefMarkAutoUpdaterForRun(Bstr(offer)), S_OK);
  wchar_t value[512] = {};
  size = sizeof value;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, update.c_str(), L"description", RRF_RT_REG_SZ, nullptr,
                         value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(value), offer);
  size = sizeof value;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, runOnce.c_str(), L"GlintPlayerUpdate", RRF_RT_REG_SZ,
                         nullptr, value, &size),
            ERROR_SUCCESS);
  std::wstring command = value;
  EXPECT_NE(command.find(L"glinthost.exe -update activex"), std::wstring::npos);
  EXPECT_EQ(broker_->BrokerPrefMarkAutoUpdaterForRun(nullptr), E_INVALIDARG);
}

}  // namespace

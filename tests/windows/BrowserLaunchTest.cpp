// Browser search and launch with stand-in programs that record their
// command lines; no real browser is ever started.
#include <windows.h>

#include <gtest/gtest.h>

#include "WineTestSupport.h"
#include "engine/HostCallbacks.h"

namespace {

const std::wstring kIE = L"c:\\Program Files\\Internet Explorer\\iexplore.exe";
const std::wstring kIE32 = L"c:\\Program Files (x86)\\Internet Explorer\\iexplore.exe";

// Pages open through a URL scheme whose handler is the recorder.
class BrowserTest : public ShimTest {
 protected:
  void SetUp() override {
    ShimTest::SetUp();
    folder_ = NewTempFolder(L"glint-browser");
    RemoveDirectoryW(folder_.c_str());
    files_.Folder(folder_);  // removed last, once the files in it are gone
    handler_ = folder_ + L"\\urlhandler.exe";
    files_.Copy(RecorderPath(), handler_);
    std::wstring key = L"glinttest";
    registry_.SetString(HKEY_CLASSES_ROOT, key, L"URL Protocol", L"");
    registry_.SetString(HKEY_CLASSES_ROOT, key + L"\\shell\\open\\command", L"",
                        L"\"" + handler_ + L"\" \"%1\"");
  }
  void TearDown() override {
    for (HANDLE process : running_) {
      TerminateProcess(process, 0);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    }
    ShimTest::TearDown();
  }

  // Starts a copy of the recorder under `name` that stays running.
  std::wstring StartStandIn(const wchar_t* name) {
    std::wstring path = folder_ + L"\\" + name;
    files_.Copy(RecorderPath(), path);
    std::wstring line = L"\"" + path + L"\" --stay";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    EXPECT_TRUE(CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    CloseHandle(process.hThread);
    running_.push_back(process.hProcess);
    // Running once its log shows the start.
    EXPECT_FALSE(WaitForContent(path + L".log").empty());
    DeleteFileW((path + L".log").c_str());
    return path;
  }

  // Replaces a program of the prefix with the recorder for this test.
  void ReplaceWithRecorder(const std::wstring& path) {
    files_.Hide(path);
    files_.Copy(RecorderPath(), path);
  }

  std::wstring folder_;
  std::wstring handler_;
  ScratchRegistry registry_;
  ScratchFiles files_;
  std::vector<HANDLE> running_;
};

TEST_F(BrowserTest, NoFlagsOpensTheUrlItself) {
  Restart(u"HostFlags 0;");
  EXPECT_TRUE(shim()->LaunchBrowser(nullptr, MString(u"glinttest:plain").Give()));
  EXPECT_NE(WaitForContent(handler_ + L".log").find("glinttest:plain"), std::string::npos);
}

TEST_F(BrowserTest, ActiveXHostUsesInternetExplorer) {
  ReplaceWithRecorder(kIE);
  Restart(u"HostFlags 24;");  // ActiveX wins over plugin
  EXPECT_TRUE(shim()->LaunchBrowser(nullptr, MString(u"glinttest:ie").Give()));
  std::string line = WaitForContent(kIE + L".log");
  EXPECT_NE(line.find("glinttest:ie"), std::string::npos) << line;
  Sleep(300);
  EXPECT_TRUE(ReadAll(handler_ + L".log").empty());
}

TEST_F(BrowserTest, ActiveXHostRetriesWithThe32BitBrowserThenTheUrl) {
  files_.Hide(kIE);
  files_.Folder(L"c:\\Program Files (x86)\\Internet Explorer");
  ReplaceWithRecorder(kIE32);
  Restart(u"HostFlags 8;");
  EXPECT_TRUE(shim()->LaunchBrowser(nullptr, MString(u"glinttest:retry").Give()));
  EXPECT_NE(WaitForContent(kIE32 + L".log").find("glinttest:retry"), std::string::npos);

  files_.Hide(kIE32);  // the recorder copy goes; neither browser is left
  EXPECT_TRUE(shim()->LaunchBrowser(nullptr, MString(u"glinttest:last").Give()));
  EXPECT_NE(WaitForContent(handler_ + L".log").find("glinttest:last"), std::string::npos);
}

TEST_F(BrowserTest, PluginHostFindsARunningBrowser) {
  Restart(u"HostFlags 16;");
  EXPECT_FALSE(shim()->FindBrowser());
  EXPECT_EQ(ToUtf8(shim()->BrowserPath()), "");

  std::wstring chrome = StartStandIn(L"chrome.exe");
  std::wstring opera = StartStandIn(L"Opera.EXE");
  EXPECT_TRUE(shim()->FindBrowser());
  std::wstring found = Wide(shim()->BrowserPath());
  EXPECT_TRUE(_wcsicmp(found.c_str(), chrome.c_str()) == 0 ||
              _wcsicmp(found.c_str(), opera.c_str()) == 0)
      << ToUtf8(shim()->BrowserPath());

  // The launch goes to the browser found, with the url as its argument.
  Restart(u"HostFlags 16;");
  EXPECT_TRUE(shim()->LaunchBrowser(nullptr, MString(u"glinttest:plugin").Give()));
  std::string line = WaitForContent(found + L".log");
  EXPECT_NE(line.find("glinttest:plugin"), std::string::npos) << line;
}

TEST_F(BrowserTest, PluginHostWithoutBrowserFallsBackToTheUrl) {
  Restart(u"HostFlags 16;");
  EXPECT_TRUE(shim()->LaunchBrowser(nullptr, MString(u"glinttest:fallback").Give()));
  EXPECT_NE(WaitForContent(handler_ + L".log").find("glinttest:fallback"), std::string::npos);
}

TEST_F(BrowserTest, ExpressInstallPageComesFromTheConfiguration) {
  Restart(u"HostFlags 0; ExpressInstallURL \"glinttest:express\";");
  EXPECT_TRUE(shim()->OpenExpressInstallPage(nullptr));
  EXPECT_NE(WaitForContent(handler_ + L".log").find("glinttest:express"), std::string::npos);
  Restart(u"HostFlags 0; ExpressInstallURL;");
  EXPECT_FALSE(shim()->OpenExpressInstallPage(nullptr));
}

TEST_F(BrowserTest, UnopenableUrlFails) {
  Restart(u"HostFlags 0;");
  EXPECT_FALSE(shim()->LaunchBrowser(nullptr, MString(u"glint-no-such-scheme:x").Give()));
}

}  // namespace

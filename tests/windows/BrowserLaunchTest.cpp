// Browser search and launch with stand-ins that record their command lines.
#include <windows.h>

#include <gtest/gtest.h>

#include "WineTestSupport.h"
#include "foundation/Win32Handles.h"

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
    registry_.SetString(HKEY_CLASSES_ROOT, L"glinttest", L"URL Protocol", L"");
    registry_.SetString(HKEY_CLASSES_ROOT, L"glinttest\\shell\\open\\command", L"",
                        L"\"" + handler_ + L"\" \"%1\"");
  }
  void TearDown() override {
    for (UniqueHandle& process : running_) {
      TerminateProcess(process.Get(), 0);
      WaitForSingleObject(process.Get(), 5000);
    }
    ShimTest::TearDown();
  }
  // Launches `url` under the host flags; true when the program at `recorder` recorded it.
  bool Launched(const char16_t* flags, const char16_t* url, const std::wstring& recorder) {
    Restart(flags);
    EXPECT_TRUE(shim()->LaunchBrowser(nullptr, MString(url).Give()));
    std::string line = WaitForContent(recorder + L".log");
    DeleteFileW((recorder + L".log").c_str());
    return line.find(ToUtf8(MString(url))) != std::string::npos;
  }
  // Starts a copy of the recorder under `name` that stays running.
  std::wstring StartStandIn(const wchar_t* name) {
    std::wstring path = folder_ + L"\\" + name;
    files_.Copy(RecorderPath(), path);
    running_.push_back(StartProgram(L"\"" + path + L"\" --stay"));
    EXPECT_TRUE(running_.back()) << Utf8Of(name);
    EXPECT_FALSE(WaitForContent(path + L".log").empty());  // running once its log shows it
    DeleteFileW((path + L".log").c_str());
    return path;
  }
  void ReplaceWithRecorder(const std::wstring& path) {
    files_.Hide(path);
    files_.Copy(RecorderPath(), path);
  }
  std::wstring folder_, handler_;
  ScratchRegistry registry_;
  ScratchFiles files_;
  std::vector<UniqueHandle> running_;
};

TEST_F(BrowserTest, WithoutFlagsTheUrlOpensItself) {
  EXPECT_TRUE(Launched(u"HostFlags 0;", u"glinttest:plain", handler_));
  EXPECT_FALSE(shim()->LaunchBrowser(nullptr, MString(u"glint-no-such-scheme:x").Give()));
  Restart(u"HostFlags 0; ExpressInstallURL \"glinttest:express\";");
  EXPECT_TRUE(shim()->OpenExpressInstallPage(nullptr));
  EXPECT_NE(WaitForContent(handler_ + L".log").find("glinttest:express"), std::string::npos);
}

TEST_F(BrowserTest, ActiveXHostUsesInternetExplorerThenThe32BitOneThenTheUrl) {
  ReplaceWithRecorder(kIE);
  EXPECT_TRUE(Launched(u"HostFlags 24;", u"glinttest:ie", kIE));  // ActiveX wins over plugin
  Sleep(300);
  EXPECT_TRUE(ReadAll(handler_ + L".log").empty());
  auto remove = [](const std::wstring& path) {  // a recorder copy, once it has ended
    for (int i = 0; i < 100 && !DeleteFileW(path.c_str()); ++i) Sleep(20);
  };
  remove(kIE);
  files_.Folder(L"c:\\Program Files (x86)\\Internet Explorer");
  ReplaceWithRecorder(kIE32);
  EXPECT_TRUE(Launched(u"HostFlags 8;", u"glinttest:retry", kIE32));
  remove(kIE32);  // neither browser is left
  EXPECT_TRUE(Launched(u"HostFlags 8;", u"glinttest:last", handler_));
}

TEST_F(BrowserTest, PluginHostFindsARunningBrowserOrFallsBackToTheUrl) {
  EXPECT_TRUE(Launched(u"HostFlags 16;", u"glinttest:fallback", handler_));
  EXPECT_FALSE(shim()->FindBrowser());
  std::wstring chrome = StartStandIn(L"chrome.exe"), opera = StartStandIn(L"Opera.EXE");
  EXPECT_TRUE(shim()->FindBrowser());
  std::wstring found = Wide(shim()->BrowserPath());
  EXPECT_TRUE(_wcsicmp(found.c_str(), chrome.c_str()) == 0 ||
              _wcsicmp(found.c_str(), opera.c_str()) == 0)
      << ToUtf8(shim()->BrowserPath());
  EXPECT_TRUE(Launched(u"HostFlags 16;", u"glinttest:plugin", found));
}

}  // namespace

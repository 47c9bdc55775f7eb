// The update check under the real system: the URL as built for each Windows
// version Wine can report (per-program "Version" settings on copies of a
// printer program), byte for byte. CTest starts the test in a Portuguese
// locale, which the copies inherit: the language is the system's answer too.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "WineTestSupport.h"
#include "update/UpdateCheckWin32.h"

namespace {

const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\";

TEST(UpdateCheck, UrlPerWindowsVersionAndLanguage) {
  struct Case {
    const wchar_t* version;  // as Wine names it
    const char* osVer;
  } cases[] = {
      {L"winxp64", "8"},    {L"win2003", "6"},  {L"winxp", "7"}, {L"win2k", "4"},
      {L"vista", "12"},     {L"win2008", "10"}, {L"win8", "14"}, {L"win7", "11"},
      {L"win2008r2", "13"}, {L"win10", "14"},  // no manifest declares it
  };
  ScratchRegistry registry;
  const std::wstring folder = NewTempFolder(L"glint-update-url");
  for (const Case& c : cases) {
    // A Wine version name is not a program name everywhere ("win2k"): prefix it.
    const std::wstring name = L"glint_" + std::wstring(c.version) + L".exe";
    CopyFileW((ProgramFolder() + L"\\update_url.exe").c_str(), (folder + L"\\" + name).c_str(),
              FALSE);
    registry.SetString(HKEY_CURRENT_USER, kAppDefaults + name, L"Version", c.version);
    EXPECT_EQ(RunProgram(L"\"" + folder + L"\\" + name +
                         L"\" \"InstallVector 3; PreviousVersion 33.0.0.120; ProcessName "
                         L"GL\u0130NT.EXE; HostFlags 8;\" 8 0 0 5")
                  .output,
              std::string("https://update.glint.example/get/glintplayer/update/current/install/"
                          "version.xml?version=34.0.0.384&installVector=103&previousVersion="
                          "33.0.0.120&pProc=gl\xC4\xB0nt.exe&lang=pt_pt&cpuWordLength=32&"
                          "playerType=ax&os=win&osVer=") +
                  c.osVer + "&isDebug=1&werr=5")
        << Utf8Of(c.version);
  }
  RemoveTree(folder);
}

// The request on the wire, at loopback proxies (scripts/update-proxy-fixture.sh):
// one CONNECT to the update server with the agent and no caching; a
// certificate no root vouches for ends it before any data; a refusing proxy
// and a closed port let the check return; a proxy that takes the request and
// never answers holds the caller no longer than the three phases' bound
// (this platform's WinINet ignores the time-out options themselves).
TEST_F(ShimTest, CheckReachesTheProxyOnceAndSendsNothingUntrusted) {
  const std::wstring fixture = ProgramFolder() + L"\\..\\update-proxy";
  std::istringstream ports(ReadAll(fixture + L"\\ports"));
  ASSERT_FALSE(ports.str().empty()) << "update proxy fixture missing";
  std::map<std::string, std::wstring> proxy;  // name: "127.0.0.1:port"
  for (std::string name, number; ports >> name >> number;)
    proxy[name] = L"127.0.0.1:" + std::wstring(number.begin(), number.end());
  proxy["closed"] = L"127.0.0.1:9";  // discard: nothing listens there
  // Only what this run sent: other suites and reruns share the proxies' log.
  const auto sent = [&, from = ReadAll(fixture + L"\\proxy.log").size()] {
    return ReadAll(fixture + L"\\proxy.log").substr(from);
  };
  ScratchRegistry registry;
  const std::wstring settings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  registry.SetDword(HKEY_CURRENT_USER, settings, L"ProxyEnable", 1);
  for (const char* name : {"tls", "reject", "closed"}) {
    registry.SetString(HKEY_CURRENT_USER, settings, L"ProxyServer", proxy[name]);
    EXPECT_TRUE(shim()->CheckForUpdate(8, 2, 0, 0)) << name;
  }
  const std::string log = sent();
  for (const char* name : {"tls", "reject"}) {
    const std::string at = std::string(name) + ": ";
    EXPECT_EQ(log.find(at + "CONNECT "), log.rfind(at + "CONNECT ")) << name << ": once";
    for (const char* line :
         {"CONNECT update.glint.example:443 HTTP/1.", "User-Agent: Arvex Glint Player",
          "Pragma: no-cache", "Host: update.glint.example"})
      EXPECT_NE(log.find(at + line), std::string::npos) << name << " " << line << "\n" << log;
  }
  EXPECT_NE(log.find("tls: data after handshake: 0 bytes"), std::string::npos) << log;

  registry.SetString(HKEY_CURRENT_USER, settings, L"ProxyServer", proxy["silent"]);
  const ULONGLONG start = GetTickCount64();
  SendUpdateCheck(M(L"https://update.glint.example/get/glintplayer/update/current/install/"
                    L"version.xml?silent=1"),
                  1000);
  // Three phases of 1 s and the grace after closing: well inside 15 s, where
  // an unbounded wait would hang until CTest ends the test.
  EXPECT_LT(GetTickCount64() - start, 15000u);
  EXPECT_NE(sent().find("silent: CONNECT update.glint.example:443"), std::string::npos);
}

}  // namespace

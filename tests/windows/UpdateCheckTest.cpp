// The update check under the real system: the URL as built for each Windows
// version Wine can report (per-program "Version" settings on copies of a
// printer program), byte for byte. CTest starts the test in a Portuguese
// locale, which the copies inherit: the language is the system's answer too.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "WineTestSupport.h"
#include "foundation/Win32Handles.h"

namespace {

const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\";

// Runs a copy of the printer named `name` under `version`; its output.
std::string PrintedUrl(const std::wstring& folder, const std::wstring& name, const wchar_t* version,
                       ScratchRegistry* registry) {
  const std::wstring program = folder + L"\\" + name + L".exe";
  CopyFileW((ProgramFolder() + L"\\update_url.exe").c_str(), program.c_str(), FALSE);
  registry->SetString(HKEY_CURRENT_USER, kAppDefaults + name + L".exe", L"Version", version);
  const std::wstring out = program + L".out";
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  UniqueHandle file(CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, 0, nullptr));
  std::wstring line = L"\"" + program +
                      L"\" \"InstallVector 3; PreviousVersion 33.0.0.120; ProcessName "
                      L"GL\u0130NT.EXE; HostFlags 8;\" 8 0 0 5";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = file.Get();
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return "not started";
  }
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hThread), CloseHandle(process.hProcess);
  file.Reset();
  return ReadAll(out);
}

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
    const std::wstring name = L"glint_" + std::wstring(c.version);
    EXPECT_EQ(PrintedUrl(folder, name, c.version, &registry),
              std::string("https://update.glint.example/get/glintplayer/update/current/install/"
                          "version.xml?version=34.0.0.384&installVector=103&previousVersion="
                          "33.0.0.120&pProc=gl\xC4\xB0nt.exe&lang=pt_pt&cpuWordLength=32&"
                          "playerType=ax&os=win&osVer=") +
                  c.osVer + "&isDebug=1&werr=5")
        << Utf8Of(c.version);
    RegDeleteTreeW(HKEY_CURRENT_USER, (kAppDefaults + name + L".exe").c_str());
  }
  RemoveTree(folder);
}

}  // namespace

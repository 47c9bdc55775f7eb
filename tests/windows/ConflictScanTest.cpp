// The conflict scan against real processes: copies of the file holder under
// browser names load the installed players; the scan finds them by module or
// by the configuration, records them and may end the designated process.
#include "WineTestSupport.h"

namespace {

const std::wstring kRecords = L"Software\\Kestrelink\\GlintPlayer";

class ConflictScan : public ShimTest {
 protected:
  void SetUp() override {
    ShimTest::SetUp();
    registry_.SetString(HKEY_LOCAL_MACHINE, kRecords + L"Plugin", L"PlayerPath", plugin_);
    registry_.SetString(HKEY_LOCAL_MACHINE, kRecords + L"ActiveX", L"PlayerPath", control_);
    for (const std::wstring& player : {plugin_, control_})
      files_.Copy(ProgramFolder() + L"\\glintstub.dll", player);
  }
  void TearDown() override {
    for (UniqueHandle& process : holders_) TerminateProcess(process.Get(), 1);
    holders_.clear();
    ShimTest::TearDown();
  }
  // A holder named `image` that loads `module`; its process handle.
  HANDLE Hold(const wchar_t* image, const std::wstring& module) {
    HANDLE process = StartHolder(L"module", module, folder_ + L"\\" + image);
    EXPECT_NE(process, nullptr);
    holders_.emplace_back(process);
    return process;
  }
  // The scan's entries as "base=display|…".
  std::string Scan(uint32_t mask) {
    std::unique_ptr<MStringList> found(shim()->FindConflictingProcesses(mask));
    std::string text;
    for (const auto& node : *found) text += ToUtf8(node.key) + "=" + ToUtf8(node.value) + "|";
    return text;
  }

  ScratchRegistry registry_;
  ScratchFiles files_;
  std::vector<UniqueHandle> holders_;
  const std::wstring folder_ = NewTempFolder(L"glint-conflicts");
  const std::wstring plugin_ = folder_ + L"\\NPGlint34_0_0_384.dll";
  const std::wstring control_ = folder_ + L"\\GlintAX_34_0_0_384.ocx";
};

const char16_t kConfig[] =
    u"NewPlayerFileName { ActiveX GlintAX_34_0_0_384.ocx glintax.exe;"
    u" Plugin NPGlint34_0_0_384.dll; };"
    u" FriendlyProcessNames { firefox \"Web browser\"; };";

TEST_F(ConflictScan, ModulesConfigurationAndTheDesignatedProcess) {
  Restart(kConfig);
  Hold(L"firefox.exe", plugin_);
  HANDLE browser = Hold(L"iexplore.exe", control_);
  HANDLE designated = Hold(L"glintax.exe", control_);

  EXPECT_EQ(Scan(kPlayerPlugin), "firefox=Web browser|");
  // The browser that hosts the control is a conflict: the designated
  // process is left running.
  EXPECT_EQ(Scan(kPlayerActiveX), "iexplore=iexplore|glintax=glintax|");
  EXPECT_EQ(WaitForSingleObject(designated, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  TerminateProcess(browser, 1);
  WaitForSingleObject(browser, 5000);
  EXPECT_EQ(Scan(kPlayerActiveX), "glintax=glintax|");
  ASSERT_EQ(WaitForSingleObject(designated, 5000), WAIT_OBJECT_0);
  DWORD code = 7;
  GetExitCodeProcess(designated, &code);
  EXPECT_EQ(code, 0u);

  // Recorded by display name (clearing is ShimOperationsTest's case).
  registry_.Remove(HKEY_CURRENT_USER, kRecords, L"ConflictingProcs");
  EXPECT_TRUE(shim()->RecordConflictingProcesses(kPlayerPlugin | kPlayerActiveX));
  wchar_t value[256] = {};
  DWORD size = sizeof value;
  RegGetValueW(HKEY_CURRENT_USER, kRecords.c_str(), L"ConflictingProcs", RRF_RT_REG_SZ, nullptr,
               value, &size);
  EXPECT_EQ(std::wstring(value), L"Web browser");

  // Listed to be ignored: never a conflict, its module notwithstanding.
  Restart((std::u16string(kConfig) + u" ConflictsToIgnore { fire 1; };").c_str());
  EXPECT_EQ(Scan(kPlayerPlugin), "");
  EXPECT_FALSE(shim()->RecordConflictingProcesses(kPlayerPlugin));
}

}  // namespace

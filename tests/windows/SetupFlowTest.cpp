// The setup window as its users meet it: glinthost shows it in its own
// process and glintdriver clicks, types and reads it from another one, through
// the controls' accessible objects and real input. Each case checks what the
// host was told (notifications, slot calls, exit code) and what was opened.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "SetupTestSupport.h"

namespace {

using Steps = std::vector<std::wstring>;
using Lines = std::vector<std::string>;

class SetupFlow : public ::testing::Test {
 protected:
  PageRecorder pages_;
  const std::wstring box_ = SetupText(4), installed_ = SetupText(7, L"34.0");
  const std::wstring done_ = SetupText(16), quit_ = SetupText(17), install_ = SetupText(18);
};

// --- flows ---------------------------------------------------------------------

struct FlowCase {
  const char* name;
  const wchar_t* mode;
  std::u16string configuration;
  Steps steps;
  int32_t exitCode;
  Lines printed, notPrinted;
  const char* page;  // a page that must have opened, or null
};

TEST_F(SetupFlow, InstallUninstallMaintenanceAndEndRequests) {
  const std::wstring uninstall = SetupText(21), restart = SetupText(74);
  const FlowCase cases[] = {
      {"install to DONE and the express page", L"installer",
       u"HostFlags 0; ExpressInstallURL \"https://express.glint.example/thanks\";",
       Steps{L"press", box_, L"press", install_, L"wait", installed_, L"screenshot",
             ArtefactPath(L"setup-installed.png"), L"press", done_, L"wait-gone"},
       0, Lines{"notify code=2 value=0", "notify code=0 value=0"}, Lines{},
       "https://express.glint.example/thanks"},
      {"keyboard only: TAB to the box, SPACE, back to INSTALL, ENTER, TAB to DONE", L"installer",
       u"HostFlags 0;",
       Steps{L"wait", quit_, L"key", L"TAB", L"key", L"SPACE", L"key", L"SHIFT+TAB", L"key",
             L"ENTER", L"wait", installed_, L"key", L"TAB", L"key", L"ENTER", L"wait-gone"},
       0, Lines{"notify code=2 value=0", "notify code=0 value=0"}, Lines{}, nullptr},
      {"failed install reports through the log", L"installer", u"HostFlags 0; FailInstall 1040;",
       Steps{L"press", box_, L"press", install_, L"wait", SetupText(76), L"wait",
             SetupText(53, L"1040"), L"screenshot", ArtefactPath(L"setup-failure.png"), L"press",
             quit_, L"wait-gone"},
       -1, Lines{"notify code=2 value=0"}, Lines{}, nullptr},
      {"uninstall through the conflicts step", L"uninstaller",
       u"HostFlags 0; ForceConflictListing 1;",
       Steps{L"press", uninstall, L"wait", restart, L"screenshot",
             ArtefactPath(L"setup-uninstalled.png"), L"press", done_, L"wait-gone"},
       0,
       Lines{"call slot=12 value=0", "call slot=41", "notify code=3 value=0",
             "notify code=0 value=0"},
       Lines{"notify code=2 value=0"}, nullptr},
      {"QUIT on the uninstaller splash", L"uninstaller", u"HostFlags 0;",
       Steps{L"press", quit_, L"wait-gone"}, 0, Lines{"notify code=0 value=0"},
       Lines{"call slot=41"}, nullptr},
      {"maintenance: REINSTALL does nothing, UNINSTALL skips the conflicts", L"maintenance",
       u"HostFlags 0; ForceConflictListing 1;",
       Steps{L"wait", SetupText(20), L"screenshot", ArtefactPath(L"setup-maintenance.png"),
             L"press", SetupText(20), L"sleep", L"300", L"press", uninstall, L"wait", restart,
             L"press", done_, L"wait-gone"},
       0, Lines{"call slot=41", "notify code=3 value=0"}, Lines{"call slot=12 value=0"}, nullptr},
  };
  for (const FlowCase& c : cases) {
    SCOPED_TRACE(c.name);
    HostRun host(c.configuration, std::wstring(L"setup-window ") + c.mode);
    EXPECT_EQ(host.Finish(c.steps), c.exitCode) << host.Output();
    for (const std::string& line : c.printed) EXPECT_TRUE(host.Printed(line)) << line;
    for (const std::string& line : c.notPrinted) EXPECT_FALSE(host.Printed(line)) << line;
    const std::string opened = pages_.Opened(c.page != nullptr ? 8000 : 0);
    EXPECT_TRUE(c.page == nullptr || opened.find(c.page) != std::string::npos) << opened;
  }
}

// A tooltip of the host's process with at least one tool.
bool TooltipActive(DWORD process) {
  for (HWND tip = nullptr; (tip = FindWindowExW(nullptr, tip, L"tooltips_class32", nullptr));) {
    DWORD owner = 0;
    GetWindowThreadProcessId(tip, &owner);
    if (owner == process && SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0) > 0) return true;
  }
  return false;
}

TEST_F(SetupFlow, UncheckedBoxLeavesInstallInertWithItsTooltip) {
  HostRun host(u"HostFlags 0;", L"setup-window installer");
  ASSERT_EQ(Drive({L"wait", quit_, L"screenshot", ArtefactPath(L"setup-splash.png")}), 0u);
  const DWORD process = GetProcessId(host.Process());
  EXPECT_TRUE(TooltipActive(process));
  // Pressing the disabled INSTALL does nothing; checking the box and
  // unchecking it again leaves it disabled, with the tooltip back.
  EXPECT_EQ(Drive({L"press", install_, L"sleep", L"300", L"press", box_, L"sleep", L"200"}), 0u);
  EXPECT_FALSE(TooltipActive(process));
  EXPECT_EQ(Drive({L"press", box_, L"sleep", L"200", L"press", install_, L"sleep", L"300"}), 0u);
  EXPECT_TRUE(TooltipActive(process));
  EXPECT_FALSE(host.Printed("notify code=2 value=0"));
  EXPECT_EQ(host.Finish({L"close", L"wait-gone"}), 1039);
}

// --- failure -------------------------------------------------------------------

TEST_F(SetupFlow, FailureShowsTheNewestSevereEntry) {
  const std::wstring setup = SetupText(29, L"34.0"), uninstall = SetupText(30);
  struct Case {
    const char* name;
    std::u16string configuration;
    uint32_t heading;
    std::wstring message;
    std::wstring title;
  } cases[] = {
      {"nothing logged", u"", 8, SetupText(51), setup},
      {"newest of severity 2 wins over a later notice",
       u"ErrorLog \"2 1040 a\" \"2 1047 C:\\held.dll\" \"1 1015 x\";", 75, SetupText(53, L"1047"),
       uninstall},
      {"1048 at the uninstaller", u"ErrorLog \"2 1048 b\";", 75, SetupText(53, L"1048"), uninstall},
      {"1044 keeps the setup title", u"ErrorLog \"3 1044 c\";", 76, SetupText(52, L"1044"), setup},
      {"only notices: the first entry", u"ErrorLog \"1 1015 d\" \"0 20 e\";", 8,
       SetupText(54, L"1015"), setup},
      {"mapped text with the detail",
       u"ErrorLog \"2 1040 C:\\GlintAX.ocx\"; ErrorTexts { 1040 62; };", 76,
       SetupText(62, L"C:\\GlintAX.ocx"), setup},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostRun host(u"HostFlags 0; SetupEvents \"4 8 0\"; " + c.configuration,
                 L"setup-window installer");
    EXPECT_EQ(Drive({L"wait", SetupText(c.heading), L"wait", c.message}), 0u) << host.Output();
    EXPECT_EQ(WindowTitle(SetupWindowHandle()), c.title);
    EXPECT_EQ(host.Finish({L"press", quit_, L"wait-gone"}), -1);
  }
}

// --- conflicts -----------------------------------------------------------------

class SetupConflicts : public SetupFlow {
 protected:
  void SetUp() override {
    registry_.SetString(HKEY_LOCAL_MACHINE, L"Software\\Kestrelink\\GlintPlayerPlugin",
                        L"PlayerPath", plugin_);
    files_.Copy(ProgramFolder() + L"\\glintstub.dll", plugin_);
  }
  void TearDown() override {
    for (UniqueHandle& process : holders_) TerminateProcess(process.Get(), 1);
    holders_.clear();
  }
  HANDLE Hold(const std::wstring& image) {
    HANDLE process = StartHolder(L"module", plugin_, folder_ + L"\\" + image + L".exe");
    EXPECT_NE(process, nullptr);
    holders_.emplace_back(process);
    return process;
  }
  const std::u16string config_ =
      u"HostFlags 16; ForceConflictListing 1; NewPlayerFileName { Plugin NPGlint34_0_0_384.dll; };";
  ScratchRegistry registry_;
  ScratchFiles files_;
  std::vector<UniqueHandle> holders_;
  const std::wstring folder_ = NewTempFolder(L"glint-setup-conflicts");
  const std::wstring plugin_ = folder_ + L"\\NPGlint34_0_0_384.dll";
};

TEST_F(SetupConflicts, SevenHoldersShowFiveAndTheRest) {
  const wchar_t* holders[] = {L"holda", L"holdb", L"holdc", L"holdd", L"holde", L"holdf", L"holdg"};
  for (const wchar_t* name : holders) Hold(name);
  HostRun host(config_, L"setup-window installer");
  EXPECT_EQ(Drive({L"press", box_, L"press", install_, L"wait", SetupText(28, L"2"), L"screenshot",
                   ArtefactPath(L"setup-conflicts.png")}),
            0u)
      << host.Output();
  int shown = 0;
  for (const wchar_t* name : holders) {
    SetEnvironmentVariableW(L"GLINT_DRIVER_TIMEOUT_MS", L"300");
    if (Drive({L"wait", name}) == 0) ++shown;
  }
  SetEnvironmentVariableW(L"GLINT_DRIVER_TIMEOUT_MS", nullptr);
  EXPECT_EQ(shown, 5);
  EXPECT_FALSE(host.Printed("notify code=2 value=0"));
  EXPECT_EQ(host.Finish({L"press", quit_, L"wait-gone"}), -1);
}

TEST_F(SetupConflicts, AHolderLeavingLetsTheInstallGoOn) {
  HANDLE holder = Hold(L"holda");
  HostRun host(config_, L"setup-window installer");
  EXPECT_EQ(Drive({L"press", box_, L"press", install_, L"wait", L"holda"}), 0u) << host.Output();
  EXPECT_FALSE(host.Printed("call slot=12 value=0"));
  TerminateProcess(holder, 1);
  WaitForSingleObject(holder, 5000);
  EXPECT_EQ(host.Finish({L"wait", installed_, L"press", done_, L"wait-gone"}), 0);
  EXPECT_TRUE(host.Printed("call slot=12 value=0"));
  EXPECT_TRUE(host.Printed("notify code=2 value=0"));
  EXPECT_TRUE(host.Printed("notify code=6 value=16"));  // the player kinds the scan asked for
}

// --- update notice -------------------------------------------------------------

TEST_F(SetupFlow, UpdateNoticeAnswersAndChoices) {
  const std::wstring message = L"A newer player is ready.";
  const std::u16string notice =
      u"HostFlags 0; UpdateNotice { message \"A newer player is ready.\"; size 520 280;";
  struct Case {
    const char* name;
    std::u16string configuration;
    std::wstring shownText;  // empty: the window never shows
    std::wstring press;      // the button that ends the run; empty: INSTALL, then close
    int32_t exitCode;
    Lines printed;
    SIZE client;
    const char* page;
  } cases[] = {
      {"mode 1", notice + u" autoUpdateMode 1; };", message, quit_, -1,
       Lines{"call slot=40 mode=1"}, SIZE{520, 280}, nullptr},
      {"mode 2", notice + u" autoUpdateMode 2; };", message, quit_, -1,
       Lines{"call slot=40 mode=2"}, SIZE{520, 280}, nullptr},
      {"another mode", notice + u" autoUpdateMode 7; };", message, quit_, -1,
       Lines{"call slot=40 mode=0"}, SIZE{520, 280}, nullptr},
      {"download by the player kind", u"HostFlags 16; RightButtonMode 2;", SetupText(26),
       SetupText(39), 0, Lines{"notify code=6 value=16"}, SIZE{500, 270},
       "/glintplayer/update/plugin"},
      {"the right button otherwise notifies", u"HostFlags 0;", SetupText(26), L"", 1039,
       Lines{"notify code=4 value=0"}, SIZE{500, 270}, nullptr},
      {"silent vector", notice + u" }; InstallVector 12; SetupEvents \"3 5 0\";", L"", L"", 0,
       Lines{"call slot=40 mode=0", "notify code=4 value=0"}, SIZE{0, 0}, nullptr},
  };
  const std::wstring updateKey = L"Software\\Kestrelink\\GlintPlayerUpdate";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchRegistry registry;
    registry.Remove(HKEY_CURRENT_USER, updateKey, L"proc");
    HostRun host(c.configuration, L"setup-window update-notice");
    Steps last;
    if (!c.shownText.empty()) {
      EXPECT_EQ(Drive({L"wait", c.shownText}), 0u) << host.Output();
      RECT client{};
      GetClientRect(SetupWindowHandle(), &client);
      EXPECT_EQ(std::make_pair(client.right, client.bottom),
                std::make_pair(c.client.cx, c.client.cy));
      wchar_t proc[MAX_PATH] = {};
      DWORD size = sizeof proc;
      RegGetValueW(HKEY_CURRENT_USER, updateKey.c_str(), L"proc", RRF_RT_REG_SZ, nullptr, proc,
                   &size);
      EXPECT_NE(std::wstring(proc).find(L"glinthost.exe"), std::wstring::npos);
      if (std::string(c.name) == "mode 1") {
        png::WriteClient(SetupWindowHandle(), ArtefactPath(L"setup-update-notice.png"));
      }
      last = {L"press", c.press, L"wait-gone"};
      if (c.press.empty()) {
        EXPECT_EQ(Drive({L"press", install_, L"sleep", L"300"}), 0u);
        EXPECT_TRUE(host.Printed("notify code=4 value=0")) << host.Output();
        last = {L"close", L"wait-gone"};
      }
    }
    EXPECT_EQ(host.Finish(last), c.exitCode) << host.Output();
    for (const std::string& line : c.printed) EXPECT_TRUE(host.Printed(line)) << line;
    const std::string opened = pages_.Opened(c.page != nullptr ? 8000 : 0);
    EXPECT_TRUE(c.page == nullptr || opened.find(c.page) != std::string::npos) << opened;
  }
}

// --- closing -------------------------------------------------------------------

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

TEST_F(SetupFlow, ClosingAfterARemovalDeletesTheUninstallerAtRestart) {
  ScratchRegistry registry;
  // The restart entry is taken back afterwards: the disposable copy is never
  // deleted by a later server start either.
  registry.Remove(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
  registry.Remove(HKEY_LOCAL_MACHINE, kSessionManager, L"AllowProtectedRenames");
  ScratchFiles files;
  const std::wstring folder = NewTempFolder(L"glint-own-path");
  const std::wstring own = folder + L"\\uninstaller.exe";
  files.File(own, "disposable");
  const std::u16string config = u"HostFlags 0; RunFinished 0; RemovalRun 1; OwnPath \"" +
                                std::u16string(own.begin(), own.end()) + u"\";";
  HostRun host(config, L"setup-window uninstaller");
  EXPECT_EQ(host.Finish({L"wait", SetupText(21), L"close", L"wait-gone"}), 1039);
  EXPECT_NE(pages_.Opened().find("/go/thank_you_from_glint_player"), std::string::npos);
  std::wstring lowered = PendingRenames(), wanted = own;
  CharLowerW(lowered.data());
  CharLowerW(wanted.data());
  EXPECT_NE(lowered.find(wanted.substr(2)), std::wstring::npos) << Utf8Of(lowered.c_str());
  DWORD allow = 0, size = sizeof allow;
  RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"AllowProtectedRenames", RRF_RT_REG_DWORD,
               nullptr, &allow, &size);
  EXPECT_EQ(allow, 1u);
  RemoveTree(folder);
}

TEST_F(SetupFlow, ClosingAfterAFinishedRunSendsTheUpdateCheck) {
  const std::wstring fixture = ProgramFolder() + L"\\..\\update-proxy";
  std::istringstream ports(ReadAll(fixture + L"\\ports"));
  std::string reject;
  for (std::string name, number; ports >> name >> number;)
    if (name == "reject") reject = number;
  ASSERT_FALSE(reject.empty()) << "update proxy fixture missing";
  const std::wstring settings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  ScratchRegistry registry;
  registry.SetDword(HKEY_CURRENT_USER, settings, L"ProxyEnable", 1);
  registry.SetString(HKEY_CURRENT_USER, settings, L"ProxyServer",
                     L"127.0.0.1:" + std::wstring(reject.begin(), reject.end()));
  auto connects = [&] {
    const std::string log = ReadAll(fixture + L"\\proxy.log");
    size_t n = 0;
    for (size_t at = 0; (at = log.find("reject: CONNECT ", at)) != std::string::npos; ++at) ++n;
    return n;
  };
  struct Case {
    const char* name;
    const char16_t* configuration;
    size_t checks;
  } cases[] = {
      {"finished, no removal: checked", u"HostFlags 0; RunFinished 1; RemovalRun 0;", 1},
      {"neither: not checked", u"HostFlags 0; RunFinished 0; RemovalRun 0;", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = connects();
    HostRun host(c.configuration, L"setup-window installer");
    EXPECT_EQ(host.Finish({L"wait", quit_, L"close", L"wait-gone"}), 1039);
    EXPECT_EQ(connects() - before, c.checks) << ReadAll(fixture + L"\\proxy.log");
  }
}

// --- accessibility -------------------------------------------------------------

constexpr LONG kFocusable = STATE_SYSTEM_FOCUSABLE, kReadOnly = STATE_SYSTEM_READONLY;

// One shown proxy of the host's window, as this process sees it through
// oleacc: the proxy stub of the object in the host's process.
struct AccProxy {
  HWND window = nullptr;
  ComRef<IAccessible> object;
  std::wstring name;
  LONG role = -1;
};

std::vector<AccProxy> ShownProxies() {
  std::vector<AccProxy> proxies;
  HWND setup = SetupWindowHandle();
  for (HWND child = GetWindow(setup, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    ComRef<IAccessible> object = AccessibleOf(child);
    if (!object) {
      ADD_FAILURE() << "no accessible object for a proxy";
      continue;
    }
    std::wstring name = AccName(object.Get());
    const LONG role = AccNumber(object.Get(), &IAccessible::get_accRole);
    proxies.push_back(AccProxy{child, std::move(object), std::move(name), role});
  }
  return proxies;
}

IAccessible* Find(const std::vector<AccProxy>& proxies, const std::wstring& name, LONG role) {
  for (const AccProxy& proxy : proxies)
    if (proxy.name == name && proxy.role == role) return proxy.object.Get();
  return nullptr;
}

// A screen reader's process: its own apartment, the host's objects reached
// through their proxies.
class SetupAccessibility : public SetupFlow {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(SetupAccessibility, EveryShownProxyAnswersAnotherProcess) {
  struct Row {
    std::wstring name;
    LONG role, state;
  };
  using Rows = std::vector<Row>;
  struct Case {
    const char* name;
    const wchar_t* mode;
    std::u16string configuration;
    std::wstring shown;
    Rows rows;
  } cases[] = {
      {"installer splash: INSTALL unavailable until the box is checked", L"installer",
       u"HostFlags 0;", quit_,
       Rows{Row{quit_, ROLE_SYSTEM_PUSHBUTTON, kFocusable},
            Row{quit_, ROLE_SYSTEM_STATICTEXT, kReadOnly},
            Row{install_, ROLE_SYSTEM_PUSHBUTTON, kFocusable | STATE_SYSTEM_UNAVAILABLE},
            Row{box_, ROLE_SYSTEM_CHECKBUTTON, kFocusable},
            Row{box_, ROLE_SYSTEM_STATICTEXT, kReadOnly}}},
      {"failure over the splash", L"installer", u"HostFlags 0; SetupEvents \"4 8 0\";",
       SetupText(51),
       Rows{Row{SetupText(8), ROLE_SYSTEM_STATICTEXT, kReadOnly},
            Row{SetupText(51), ROLE_SYSTEM_STATICTEXT, kReadOnly}}},
      {"maintenance inside its nested sections", L"maintenance", u"HostFlags 0;", SetupText(20),
       Rows{Row{SetupText(21), ROLE_SYSTEM_PUSHBUTTON, kFocusable},
            Row{SetupText(21), ROLE_SYSTEM_STATICTEXT, kReadOnly}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostRun host(c.configuration, std::wstring(L"setup-window ") + c.mode);
    ASSERT_EQ(Drive({L"wait", c.shown}), 0u) << host.Output();
    const std::vector<AccProxy> proxies = ShownProxies();
    for (const Row& row : c.rows) {
      SCOPED_TRACE(Utf8Of(row.name.c_str()));
      IAccessible* object = Find(proxies, row.name, row.role);
      ASSERT_NE(object, nullptr);
      EXPECT_EQ(AccNumber(object, &IAccessible::get_accState), row.state);
    }
    for (const AccProxy& proxy : proxies) {
      SCOPED_TRACE(Utf8Of(proxy.name.c_str()));
      IAccessible* object = proxy.object.Get();
      RECT expected{};
      GetWindowRect(proxy.window, &expected);
      LONG x = 0, y = 0, w = 0, h = 0;
      EXPECT_EQ(object->accLocation(&x, &y, &w, &h, Child()), S_OK);
      EXPECT_EQ((std::vector<LONG>{x, y, x + w, y + h}),
                (std::vector<LONG>{expected.left, expected.top, expected.right, expected.bottom}));
      // An operation it leaves out (the rest of its contract: the toolkit's tests).
      BSTR help = nullptr;
      EXPECT_EQ(object->get_accHelp(Child(), &help), E_NOTIMPL);
    }
    host.Finish({L"close", L"wait-gone"});
  }
}

TEST_F(SetupAccessibility, DefaultActionsInstallAndAGoneElementAnswersDisconnected) {
  HostRun host(u"HostFlags 0;", L"setup-window installer");
  ASSERT_EQ(Drive({L"wait", quit_}), 0u) << host.Output();
  const std::vector<AccProxy> proxies = ShownProxies();
  IAccessible* install = Find(proxies, install_, ROLE_SYSTEM_PUSHBUTTON);
  IAccessible* box = Find(proxies, box_, ROLE_SYSTEM_CHECKBUTTON);
  ASSERT_NE(install, nullptr);
  ASSERT_NE(box, nullptr);
  // The box's action checks it, which makes INSTALL available (a disabled
  // control refuses the action: the toolkit's tests); its action then starts
  // the install as a click does.
  EXPECT_EQ(box->accDoDefaultAction(Child()), S_OK);
  // Polled: the window acts on its own thread, after the call returned.
  const auto state = [](IAccessible* object) {
    return AccNumber(object, &IAccessible::get_accState);
  };
  EXPECT_TRUE(PumpUntil([&] { return (state(box) & STATE_SYSTEM_CHECKED) != 0; }, 5000));
  EXPECT_TRUE(PumpUntil([&] { return state(install) == STATE_SYSTEM_FOCUSABLE; }, 5000));
  EXPECT_EQ(install->accDoDefaultAction(Child()), S_OK);
  EXPECT_EQ(Drive({L"wait", installed_}), 0u) << host.Output();
  EXPECT_TRUE(host.Printed("notify code=2 value=0"));
  // The splash's box went with its panel: the reader's object says so.
  BSTR name = nullptr;
  LONG x = 0, y = 0, w = 0, h = 0;
  EXPECT_EQ(box->get_accName(Child(), &name), CO_E_OBJNOTCONNECTED);
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(state(box), -1);
  VARIANT role{};
  EXPECT_EQ(box->get_accRole(Child(), &role), CO_E_OBJNOTCONNECTED);
  EXPECT_EQ(box->accLocation(&x, &y, &w, &h, Child()), CO_E_OBJNOTCONNECTED);
  EXPECT_EQ(box->accDoDefaultAction(Child()), CO_E_OBJNOTCONNECTED);
  EXPECT_EQ(host.Finish({L"press", done_, L"wait-gone"}), 0);
  // With the host gone, held objects fail their calls and give nothing.
  for (IAccessible* held : {install, box}) {
    EXPECT_TRUE(FAILED(held->get_accName(Child(), &name)));
    EXPECT_EQ(name, nullptr);
  }
}

}  // namespace

// The setup window in the test's own process: the shim makes it for a
// reference host, the test posts the host's events and pumps the window's
// messages, and reads the layout back from the elements.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "SetupTestSupport.h"
#include "engine/GlintBrokerShim.h"
#include "engine/StringTablesWin32.h"
#include "ui/MInstallerWindow.h"
#include "ui/SetupPanels.h"
#include "ui/ZavuzER.h"

void PrintTo(const UiRect& r, std::ostream* os) {
  *os << r.left << "," << r.top << "," << r.right << "," << r.bottom;
}

namespace {

UiRect Rect(int32_t x, int32_t y, int32_t w, int32_t h) {
  return UiRect{x, y, x + w, y + h};
}

class SetupWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = LoadLibraryW((ProgramFolder() + L"\\GlintUtil.dll").c_str());
    ASSERT_NE(library_, nullptr);
  }
  void TearDown() override {
    Close();
    FreeLibrary(library_);
    SetThreadLocale(MAKELCID(0x0409, SORT_DEFAULT));
  }
  void Open(const std::u16string& configuration) {
    Close();
    host_ = std::make_unique<ReferenceHost>();
    host_->SetStatusStream(nullptr);
    host_->SetCallStream(nullptr);
    host_->AddConfiguration(MString(configuration.c_str()));
    host_->SetResourceModule(library_);
    shim_ = new GlintBrokerShim(host_.get());
    ui_ = shim_->CreateSetupWindow();
    ASSERT_NE(ui_, nullptr);
    window_ = static_cast<MInstallerWindow*>(ui_->Window());
    quit_ = kNoQuit;
  }
  void Close() {
    if (shim_ == nullptr) return;
    shim_->DestroySetupWindow(ui_);
    shim_->Destroy();
    shim_ = nullptr;
    ui_ = nullptr;
    window_ = nullptr;
    PumpUntil([] { return true; });  // drops a quit that would end the next window's pump
  }
  // A WM_QUIT ends the pump, its code kept in quit_.
  bool Pump(const std::function<bool()>& done, DWORD ms = 8000) {
    return PumpUntil(done, ms, &quit_);
  }
  void Select(int32_t panel) {
    window_->PostEvent(kSourceHost, kHostSelectPanel, panel);
    Pump([&] { return window_->CurrentPanel() != nullptr; }, 2000);
  }
  MUIPanelInstallerSplash* Splash() {
    return static_cast<MUIPanelInstallerSplash*>(window_->Panel(kPanelInstallerSplash));
  }

  static constexpr int32_t kNoQuit = 0x7FFFFFFF;
  HMODULE library_ = nullptr;
  std::unique_ptr<ReferenceHost> host_;
  GlintBrokerShim* shim_ = nullptr;
  ZavuzER* ui_ = nullptr;
  MInstallerWindow* window_ = nullptr;
  int32_t quit_ = kNoQuit;
};

TEST_F(SetupWindow, ButtonLabelsFromTheHost) {
  struct Case {
    const char16_t* configuration;
    uint32_t left, right;
  } cases[] = {
      {u"HostFlags 130; InstallVector 4;", 34, 18},
      {u"HostFlags 130; InstallVector 3;", 17, 18},
      {u"HostFlags 131; InstallVector 4;", 17, 18},
      {u"RightButtonMode 1;", 17, 39},
      {u"RightButtonMode 2;", 17, 39},
      {u"RightButtonMode 3;", 17, 18},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(MString(c.configuration)));
    Open(c.configuration);
    EXPECT_EQ(Wide(window_->LeftButton()->Label()->Text()), SetupText(c.left));
    EXPECT_EQ(Wide(window_->RightButton()->Label()->Text()), SetupText(c.right));
    EXPECT_EQ(Wide(window_->RightButton()->text), SetupText(c.right));
  }
}

TEST_F(SetupWindow, RealPlayerMovesTheBrowserNote) {
  const std::wstring key = L"SOFTWARE\\RealNetworks\\RealPlayer";
  struct Case {
    const wchar_t* version;  // null: no RealPlayer
    int32_t dx, dy;
  } cases[] = {{nullptr, 0, 0}, {L"6.0.12.1040", 250, 20}, {L"16.0.3", 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version != nullptr ? Utf8Of(c.version) : "none");
    ScratchRegistry registry;
    if (c.version != nullptr) {
      registry.SetString(HKEY_LOCAL_MACHINE, key, L"version", c.version);
    } else {
      registry.Remove(HKEY_LOCAL_MACHINE, key, L"version");
    }
    Open(u"HostFlags 0;");
    EXPECT_EQ(window_->BrowserNote()->rect, (UiRect{c.dx + 117, c.dy + 25, c.dx + 400, c.dy + 42}));
    EXPECT_EQ(window_->NoteIcon()->rect, (UiRect{c.dx + 97, c.dy + 25, c.dx + 112, c.dy + 40}));
    EXPECT_EQ(window_->RealPlayerNote()->rect, (UiRect{117, 10, 550, 82}));
  }
}

TEST_F(SetupWindow, RingFollowsTheFocusedControlAcrossResizes) {
  Open(u"HostFlags 0;");
  Select(kPanelUninstallerSplash);
  MButton* right = window_->RightButton();
  window_->SetFocusElement(right, true);
  auto grown = [](UiRect r) { return UiRect{r.left - 2, r.top - 2, r.right + 2, r.bottom + 2}; };
  EXPECT_TRUE(window_->FocusRing()->visible);
  EXPECT_EQ(window_->FocusRing()->rect, grown(AbsoluteRect(right)));
  window_->SetClientSize(900, 400);
  EXPECT_EQ(AbsoluteRect(right).left, 900 - 156);
  EXPECT_EQ(window_->FocusRing()->rect, grown(AbsoluteRect(right)));
  // Focus moved on without the ring hides it, but the ring comes back with
  // the next layout while it counts as shown; losing the focus ends that.
  window_->SetFocusElement(right, false);
  EXPECT_FALSE(window_->FocusRing()->visible);
  window_->SetClientSize(700, 345);
  EXPECT_TRUE(window_->FocusRing()->visible);
  window_->SetFocusElement(nullptr, false);
  window_->SetClientSize(730, 345);
  EXPECT_FALSE(window_->FocusRing()->visible);
  EXPECT_EQ(window_->Focused(), nullptr);
}

TEST_F(SetupWindow, AutoExitCountdownAndHiddenDone) {
  struct Case {
    const char16_t* configuration;
    bool countdown;
    uint32_t ticks;
  } cases[] = {
      {u"HostFlags 0; AutoExitDelay 160;", true, 10},
      {u"HostFlags 0; AutoExitDelay;", true, 62},
      {u"HostFlags 0; AutoExitDelay 0;", true, 0},
      {u"HostFlags 0;", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(MString(c.configuration)));
    Open(c.configuration);
    Select(kPanelInstallerSplash);
    Splash()->CheckBox()->SetChecked(true);  // the box checked, INSTALL pressed
    window_->OnEvent(200, kControlClicked, 0);
    window_->PostEvent(kRightButton, kControlClicked, 0);
    Pump([&] { return window_->CurrentPanel() == window_->Progress(); }, 3000);
    ASSERT_EQ(window_->CurrentPanel(), window_->Progress());
    // Shown at the size the splash left: laid out all the same.
    EXPECT_EQ(window_->Progress()->Bar()->rect, Rect(94, 87, 730 - 111, 33));
    EXPECT_EQ(Splash()->Countdown(), c.ticks);
    EXPECT_EQ(window_->RightButton()->visible != 0, !c.countdown);
    // The run ends by itself only with a countdown that can reach zero.
    Pump([&] { return quit_ != kNoQuit; }, c.countdown && c.ticks > 0 ? 8000 : 2500);
    if (c.countdown && c.ticks > 0) {
      EXPECT_EQ(quit_, 0);
    } else {
      EXPECT_EQ(quit_, kNoQuit);
      EXPECT_EQ(Wide(window_->Progress()->Status()->Text()), SetupText(7, L"34.0"));
    }
  }
}

TEST_F(SetupWindow, PanelSelectorsOutOfRangeShowNothing) {
  for (int32_t selector : {5, 4, -1, 0x7FFFFFFF}) {
    SCOPED_TRACE(selector);
    Open(u"HostFlags 0;");
    window_->PostEvent(kSourceHost, kHostSelectPanel, selector);
    window_->PostEvent(kSourceHost, 9, 0);
    window_->PostEvent(kSourceWindow, 7, 0);
    Pump([] { return false; }, 200);
    EXPECT_EQ(window_->CurrentPanel(), nullptr);
    EXPECT_FALSE(IsWindowVisible(window_->Handle()));
    window_->PostEvent(kSourceHost, kHostEndRequest, 12);
    Pump([&] { return quit_ != kNoQuit; });
    EXPECT_EQ(quit_, 12);
  }
}

TEST_F(SetupWindow, AFloodOfEventsFromAnotherThreadLeavesItUsable) {
  Open(u"HostFlags 0;");
  Select(kPanelInstallerSplash);
  // A progress tick while idle, a size change, a conflict poll out of place,
  // and nobody's control.
  const int32_t events[4][2] = {{1, 4}, {2, 2}, {1, 200}, {777, 2}};
  std::thread poster([ui = ui_, &events] {
    for (int i = 0; i < 10000; ++i)
      ui->PostEvent(events[i % 4][0], events[i % 4][1], i % 4 == 3 ? i : 0);
  });
  poster.join();
  Pump([] { return false; }, 1500);
  EXPECT_EQ(quit_, kNoQuit);
  EXPECT_EQ(window_->CurrentPanel(), Splash());
  window_->PostEvent(kLeftButton, kControlClicked, 0);
  Pump([&] { return quit_ != kNoQuit; });
  EXPECT_EQ(quit_, kExitCancelled);
}

TEST_F(SetupWindow, HostileNoticesKeepTheWindowUsable) {
  std::u16string huge = u"UpdateNotice { message \"";
  huge.append(1 << 20, u'x');
  huge += u"\"; };";
  std::u16string links = u"UpdateNotice { message \"";
  for (int i = 0; i < 10000; ++i) links += u"<a href='https://l.example/'>l</a> ";
  links += u"\"; };";
  struct Case {
    const char* name;
    std::u16string configuration;
    int32_t width, height;
  } cases[] = {
      {"size 0 0", u"UpdateNotice { message m; size 0 0; };", 500, 270},
      {"size 60000 60000", u"UpdateNotice { message m; size 60000 60000; };", 1600, 1200},
      {"size as text", u"UpdateNotice { message m; size wide tall; };", 500, 270},
      {"one value", u"UpdateNotice { message m; size 640; };", 640, 270},
      {"1 MB message", huge, 500, 270},
      {"10 000 links", links, 500, 270},
      {"empty block", u"UpdateNotice { };", 500, 270},
  };
  ScratchRegistry registry;
  registry.Remove(HKEY_CURRENT_USER, L"Software\\Kestrelink\\GlintPlayerUpdate", L"proc");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Open(u"HostFlags 0; " + c.configuration);
    Select(kPanelUpdateNotice);
    EXPECT_EQ(std::make_pair(window_->Current().Width(), window_->Current().Height()),
              std::make_pair(c.width, c.height));
    EXPECT_TRUE(IsWindowVisible(window_->Handle()));
    window_->PostEvent(kLeftButton, kControlClicked, 0);
    Pump([&] { return quit_ != kNoQuit; });
    EXPECT_EQ(quit_, kExitQuit);
  }
}

// The footer and the content follow the language's width (0x040B has no
// table of its own).
TEST_F(SetupWindow, SplashInEveryLanguage) {
  const LANGID languages[] = {0x0409, 0x0404, 0x0405, 0x0407, 0x040B, 0x040C,
                              0x0410, 0x0411, 0x0412, 0x0413, 0x0415, 0x0416,
                              0x0419, 0x041F, 0x0804, 0x0C0A, 0x041D};
  for (LANGID language : languages) {
    SCOPED_TRACE(language);
    SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
    Open(u"HostFlags 0;");
    Select(kPanelInstallerSplash);
    Pump([] { return false; }, 150);
    wchar_t name[32];
    swprintf(name, 32, L"setup-splash-%04x.png", language);
    EXPECT_TRUE(png::WriteClient(window_->Handle(), ArtefactPath(name)));
    EXPECT_EQ(WindowTitle(window_->Handle()), SetupText(29, L"34.0"));
    EXPECT_EQ(Wide(window_->Text(30)), SetupText(30));
    const int32_t w = language == 0x0405 ? 750 : 730, h = kSetupHeight;
    EXPECT_EQ(window_->FooterBar()->rect, Rect(0, h - 68, w, 67));
    EXPECT_EQ(window_->ContentRoot()->rect, Rect(0, 0, w, h - 66));
    EXPECT_EQ(window_->CurrentPanel()->rect, Rect(0, 0, w, h - 66));
    EXPECT_EQ(window_->RightButton()->rect, Rect(w - 156, 18, 140, 33));
    EXPECT_EQ(window_->MiddleButton()->rect, Rect(w - 326, 18, 140, 33));
    EXPECT_EQ(window_->LeftButton()->rect, Rect(94, 18, 140, 33));
  }
}

// Run by CTest once per locale (LC_ALL), with the table that locale must
// read in GLINT_EXPECT_TABLE: the window's title and a control's name as a
// screen reader gets it come from that table.
TEST_F(SetupWindow, UserLocaleChoosesTheTable) {
  wchar_t expected[16] = {};
  if (GetEnvironmentVariableW(L"GLINT_EXPECT_TABLE", expected, 16) == 0) {
    GTEST_SKIP() << "run per locale by CTest";
  }
  const auto table = static_cast<uint16_t>(wcstoul(expected, nullptr, 16));
  auto text = [&](uint32_t id) { return Wide(LoadTableString(library_, id, table)); };
  Open(u"HostFlags 0;");
  Select(kPanelUninstallerSplash);
  EXPECT_EQ(WindowTitle(window_->Handle()), text(30));
  EXPECT_EQ(window_->Current().Width(), table == 0x0405 ? 750 : 730);
  wchar_t locale[LOCALE_NAME_MAX_LENGTH] = {};
  GetUserDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH);
  png::WriteClient(window_->Handle(),
                   ArtefactPath(L"setup-uninstaller-" + std::wstring(locale) + L".png"));
  const ComRef<IAccessible> accessible = AccessibleOf(window_->RightButton()->proxy);
  ASSERT_TRUE(accessible);
  EXPECT_EQ(AccName(accessible.Get()), text(21));
  if (table != 0x0409) {
    EXPECT_NE(text(30), Wide(LoadTableString(library_, 30, 0x0409)));
  }
}

}  // namespace

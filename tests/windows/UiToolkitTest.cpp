// The window toolkit and its controls on the real user32 and GDI: one
// gallery window of every control look, read back with BitBlt, driven with
// window messages and SendInput, and the toolkit object through its table.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>

#include "SetupTestSupport.h"
#include "UiGallery.h"
#include "engine/HostCallbacks.h"
#include "ui/SkinRegions.h"

namespace {

constexpr COLORREF kBackground = 0x333332;

// COLORREF (0x00BBGGRR) as a read-back pixel (0xRRGGBB).
uint32_t PixelOf(COLORREF c) {
  return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
}
int Channel(uint32_t pixel, int shift) {
  return static_cast<int>(pixel >> shift & 0xFF);
}

// A decoded image's pixel (blue, green, red, alpha), rows counted from the top.
const uint8_t* PixelAt(const MSkinImage& image, int x, int y) {
  return image.bits + (size_t(image.height - 1 - y) * image.width + x) * 4;
}

void Key(WORD key, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = flags;
  SendInput(1, &input, sizeof input);
}
void Press(WORD key, bool shift = false) {
  if (shift) Key(VK_SHIFT, 0);
  Key(key, 0);
  Key(key, KEYEVENTF_KEYUP);
  if (shift) Key(VK_SHIFT, KEYEVENTF_KEYUP);
}

// A host whose slot 8 inflates zlib data, as hosts with compressed skins do.
class InflatingHost final : public HostCallbacks {
 public:
  bool ExpandImage(uint8_t* out, uint32_t outSize, const uint8_t* in, uint32_t inSize) override {
    uLongf size = outSize;
    return uncompress(out, &size, in, inSize) == Z_OK && size == outSize;
  }
};

// An element that notes the dispatch it receives.
struct Probe : MSkinnedSection {
  struct Call {
    POINT point;
    int inside;
  };
  std::vector<Call> calls;
  bool answer = true;
  explicit Probe(int x = 450, int y = 250, int w = 40, int h = 30) {
    SetRectXYWH(this, x, y, w, h);
    handler = [](MRegion*, MWindow*, POINT p, int inside, UINT message, void* context) {
      auto* self = static_cast<Probe*>(context);
      if (message != WM_TIMER) self->calls.push_back(Call{p, inside});
      return self->answer;
    };
    handlerContext = this;
  }
};

class UiToolkitTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    library_ = new GlintLibrary;
    ASSERT_TRUE(library_->Load()) << "error " << library_->Error();
    host_ = new ReferenceHost;
    host_->SetStatusStream(nullptr);
    host_->SetResourceModule(library_->Module());
    host_->AddConfiguration(MString(u"HostFlags 0;"));
    shim_ = library_->Start()(host_);
    ASSERT_NE(shim_, nullptr);
    ui_ = new ZavuzER(host_, library_->Module(), shim_);
    gallery_ = new GalleryWindow(ui_);
    ASSERT_NE(gallery_->Handle(), nullptr);
    ui_->AttachWindow(gallery_);
    gallery_->Build();
    gallery_->Show(true);
    SetForegroundWindow(gallery_->Handle());
    PumpMessages();
  }
  static void TearDownTestSuite() {
    delete gallery_;
    ZavuzER::Free(ui_);
    if (shim_ != nullptr) shim_->Destroy();
    delete host_;
    delete library_;
  }
  void SetUp() override {
    PumpMessages();
    gallery_->events.clear();
  }
  // Runs the loop. Wine's AtlAxWinInit fails with 1410 when its window
  // classes already exist, which they do after an earlier Run of this
  // process: they go with the library's handle kept here.
  static int32_t RunOnce(int32_t (*run)(ZavuzER*)) {
    static HMODULE atl = LoadLibraryW(L"atl.dll");
    for (const wchar_t* name : {L"AtlAxWin", L"AtlAxWinLic", L"AtlAxWin100", L"AtlAxWinLic100"}) {
      UnregisterClassW(name, atl);
    }
    return run(ui_);
  }
  // The window in front with the element's proxy focused (activation can
  // move while other programs start).
  static bool FocusOn(MRegion* element) {
    HWND hwnd = gallery_->Handle();
    return PumpUntil([&] {
      if (GetForegroundWindow() != hwnd) SetForegroundWindow(hwnd);
      if (GetFocus() != element->proxy) gallery_->SetFocusElement(element, true);
      return GetFocus() == element->proxy;
    });
  }
  // Mouse input as the window procedure gets it, at client coordinates.
  static void Mouse(UINT message, int x, int y) {
    SendMessageW(gallery_->Handle(), message, message == WM_LBUTTONDOWN ? MK_LBUTTON : 0,
                 MAKELPARAM(x, y));
  }
  static void Click(int x, int y) {
    for (UINT message : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP}) Mouse(message, x, y);
  }
  static ClientPixels Repaint(MWindow* window = gallery_) {
    InvalidateRect(window->Handle(), nullptr, FALSE);
    UpdateWindow(window->Handle());
    return ReadClient(window->Handle());
  }
  // The kinds the control with `id` posted since the last clear.
  static std::vector<int32_t> KindsFrom(int32_t id) {
    PumpMessages();
    std::vector<int32_t> kinds;
    for (const UiEvent& e : gallery_->events) {
      if (e.source == id) kinds.push_back(e.kind);
    }
    gallery_->events.clear();
    return kinds;
  }

  static inline GlintLibrary* library_ = nullptr;
  static inline ReferenceHost* host_ = nullptr;
  static inline GlintBrokerShim* shim_ = nullptr;
  static inline ZavuzER* ui_ = nullptr;
  static inline GalleryWindow* gallery_ = nullptr;
};

// Window and host ------------------------------------------------------------

TEST_F(UiToolkitTest, WindowIsTheTopmostToolkitWindowWithItsObject) {
  HWND hwnd = gallery_->Handle();
  EXPECT_TRUE(GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_EQ(SendMessageW(hwnd, WM_GETDLGCODE, 0, 0), DLGC_WANTTAB);
  EXPECT_EQ(SendMessageW(hwnd, WM_DRAWITEM, 0, 0), 1);
  const int settled = gallery_->settledEvents;  // timer 0 drives the size animation
  EXPECT_TRUE(PumpUntil([&] { return gallery_->settledEvents > settled + 2; }));
}

// A radio and a focused, checked box as a screen reader sees them (the other
// controls and every proxy's place: SetupAccessibility, across processes).
TEST_F(UiToolkitTest, AccessibleObjectsDescribeTheirControlsAndAnswerTheirContract) {
  constexpr LONG kFocusable = STATE_SYSTEM_FOCUSABLE;
  ASSERT_TRUE(gallery_->SetFocusElement(gallery_->boxes[1], false));
  const struct {
    MRegion* element;
    LONG role, state;
  } cases[] = {
      {gallery_->boxes[1], ROLE_SYSTEM_CHECKBUTTON,
       kFocusable | STATE_SYSTEM_CHECKED | STATE_SYSTEM_FOCUSED},
      {gallery_->radios[1], ROLE_SYSTEM_RADIOBUTTON, kFocusable | STATE_SYSTEM_CHECKED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    const ComRef<IAccessible> acc = AccessibleOf(c.element->proxy);
    ASSERT_TRUE(acc);
    EXPECT_EQ(AccName(acc.Get()), c.element->text.IsEmpty() ? L"<none>" : Wide(c.element->text));
    EXPECT_EQ(AccNumber(acc.Get(), &IAccessible::get_accRole), c.role);
    EXPECT_EQ(AccNumber(acc.Get(), &IAccessible::get_accState), c.state);
  }
  gallery_->SetFocusElement(nullptr, false);

  // What needs no element and what the object refuses (a disconnected
  // object once its element is gone: SetupAccessibility, across processes).
  const ComRef<IAccessible> acc = AccessibleOf(gallery_->buttons[0]->proxy);
  ASSERT_TRUE(acc);
  LONG count = -1, x = 0;
  IDispatch* dispatch = nullptr;
  IUnknown* unknown = nullptr;
  VARIANT v{};
  EXPECT_EQ(acc->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  dispatch->Release();
  EXPECT_EQ(acc->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&unknown)),
            E_NOINTERFACE);
  EXPECT_EQ(unknown, nullptr);
  EXPECT_EQ(acc->get_accChildCount(&count), S_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(acc->get_accChild(Child(1), &dispatch), S_FALSE);
  EXPECT_EQ(dispatch, nullptr);
  EXPECT_EQ(Utf8Of(AccName(acc.Get(), 1).c_str()), Hex(E_INVALIDARG));
  EXPECT_EQ(acc->accLocation(&x, nullptr, &x, &x, Child()), E_INVALIDARG);
  EXPECT_EQ(acc->accLocation(&x, &x, &x, &x, Child(2)), E_INVALIDARG);
  EXPECT_EQ(acc->accHitTest(1, 1, &v), S_FALSE);
  EXPECT_EQ(v.vt, VT_EMPTY);
  UINT types = 0;
  EXPECT_EQ(acc->GetTypeInfoCount(&types), E_NOTIMPL);
  EXPECT_EQ(acc->get_accFocus(&v), E_NOTIMPL);
  EXPECT_EQ(acc->accSelect(SELFLAG_TAKEFOCUS, Child()), E_NOTIMPL);
  BSTR shortcut = nullptr;
  EXPECT_EQ(acc->get_accKeyboardShortcut(Child(), &shortcut), S_OK);
  EXPECT_TRUE(shortcut != nullptr && SysStringLen(shortcut) == 0);
  SysFreeString(shortcut);
}

// A disabled control and plain text have no default action (an enabled
// control's presses it as Space does: the setup flow's accessibility cases).
TEST_F(UiToolkitTest, DefaultActionRefusedWithoutAnEnabledControl) {
  const struct {
    MRegion* element;
    HRESULT result;
  } cases[] = {
      {gallery_->buttons[3], E_FAIL},
      {gallery_->buttons[0]->Label(), DISP_E_MEMBERNOTFOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    const ComRef<IAccessible> acc = AccessibleOf(c.element->proxy);
    ASSERT_TRUE(acc);
    EXPECT_EQ(acc->accDoDefaultAction(Child()), c.result);
  }
}

// The steps themselves are the size rule's table (ten from 100 to 450);
// here each tick resizes the window and reports it settled.
TEST_F(UiToolkitTest, SizeAnimatesTickByTick) {
  gallery_->SetClientSize(100, 345);
  gallery_->SetTargetSize(450, 345);
  const int settled = gallery_->settledEvents;
  for (int tick = 0; tick < 20 && gallery_->Current().Width() != 450; ++tick) {
    gallery_->Tick();
    RECT client{};
    GetClientRect(gallery_->Handle(), &client);
    EXPECT_EQ(client.right, gallery_->Current().Width());
  }
  gallery_->Tick();  // settled: nothing moves
  EXPECT_EQ(gallery_->Current().Width(), 450);
  EXPECT_EQ(gallery_->settledEvents, settled + 11);
  gallery_->SetClientSize(730, 345);
}

// Run ends with the host's request or the window's close and tells the host;
// LoadText asks the host with 1 (the library's table, then HostStrings),
// the host's own fallback with 0 (HostStrings only).
TEST_F(UiToolkitTest, ToolkitSlotsThroughTheRawTable) {
  using PostFn = void (*)(ZavuzER*, int32_t, int32_t, intptr_t);
  using LoadTextFn = void (*)(ZavuzER*, MString*, uint32_t);
  void** table = *reinterpret_cast<void***>(ui_);
  std::vector<std::pair<int32_t, intptr_t>> calls;  // what the host hears through Notify
  const NotifyCallback note = [](ZavuzER*, int32_t code, intptr_t value, void* context) {
    static_cast<decltype(calls)*>(context)->emplace_back(code, value);
    return intptr_t{7};
  };
  reinterpret_cast<void (*)(ZavuzER*, NotifyCallback, void*)>(table[0])(ui_, note, &calls);
  EXPECT_EQ(reinterpret_cast<intptr_t (*)(ZavuzER*, int32_t, intptr_t)>(table[1])(ui_, 4, 9), 7);
  const struct {
    std::function<void()> end;
    int32_t code;
  } runs[] = {
      {[&] { reinterpret_cast<PostFn>(table[3])(ui_, kSourceHost, 5, 1234); }, 1234},
      {[] { PostMessageW(gallery_->Handle(), WM_CLOSE, 0, 0); }, 1039},
  };
  for (const auto& c : runs) {
    SCOPED_TRACE(c.code);
    calls.clear();
    gallery_->Show(true);
    c.end();
    EXPECT_EQ(RunOnce(reinterpret_cast<int32_t (*)(ZavuzER*)>(table[4])), c.code);
    EXPECT_FALSE(IsWindowVisible(gallery_->Handle()));
    EXPECT_EQ(calls, (decltype(calls){{0, c.code}}));
  }
  ui_->SetNotifyCallback(nullptr, nullptr);
  EXPECT_EQ(ui_->Notify(0, 1), 0);
  gallery_->Show(true);

  ReferenceHost configured;
  configured.SetResourceModule(library_->Module());
  configured.AddConfiguration(MString(u"HostStrings { 29 \"Setup ^\"; 18 \"not asked\"; };"));
  ZavuzER configuredUi(&configured, library_->Module());
  const auto loadText = reinterpret_cast<LoadTextFn>(table[5]);
  const struct {
    ZavuzER* ui;  // none: the host's own fallback
    uint32_t id;
    const wchar_t* expected;
  } texts[] = {{ui_, 15, L"^%"},
               {ui_, 9999, L"kept"},
               {&configuredUi, 29, L"Setup ^"},
               {&configuredUi, 18, L"INSTALL"},  // the library's table answers first
               {nullptr, 18, L"not asked"},
               {nullptr, 15, L"kept"}};
  for (const auto& t : texts) {
    SCOPED_TRACE(&t - texts);
    MString text(u"kept");
    if (t.ui != nullptr) {
      loadText(t.ui, &text, t.id);
    } else {
      configured.LoadHostString(&text, t.id, 0);
    }
    EXPECT_EQ(Wide(text), t.expected);
  }
}

// Run when the system's control-hosting library is the failing stand-in
// (the atl_standin ctest entry).
TEST_F(UiToolkitTest, FailingControlHostingReturnsItsErrorWithoutAWindow) {
  if (std::getenv("GLINT_ATL_STANDIN") == nullptr) GTEST_SKIP() << "needs the atl stand-in";
  gallery_->Show(false);
  PostMessageW(gallery_->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(RunOnce([](ZavuzER* ui) { return ui->Run(); }),
            static_cast<int32_t>(ERROR_DLL_INIT_FAILED));
  EXPECT_FALSE(IsWindowVisible(gallery_->Handle()));
  PumpMessages();
}

TEST_F(UiToolkitTest, FontsFollowTheThreadLocale) {
  const struct {
    LCID locale;
    const wchar_t* face;
    LONG height;
  } cases[] = {
      {1041, L"Mincho", 14}, {2052, L"SimSun", 13}, {1028, L"Mingliu", 13}, {1033, L"Arial", 16}};
  const LCID saved = GetThreadLocale();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.locale);
    SetThreadLocale(c.locale);
    MTextArea area(gallery_, 16, false, true);
    SetThreadLocale(saved);
    SetRectXYWH(&area, 0, 0, 100, 20);
    area.SetText(MString(u"text"));
    area.Layout();
    LOGFONTW selected{}, regular{};  // the bold one of the pair is selected
    GetObjectW(GetCurrentObject(area.Dc(), OBJ_FONT), sizeof selected, &selected);
    GetObjectW(area.Font(false), sizeof regular, &regular);
    EXPECT_EQ(regular.lfWeight, FW_NORMAL);
    EXPECT_STREQ(selected.lfFaceName, c.face);
    EXPECT_EQ(std::make_pair(selected.lfHeight, selected.lfWeight),
              std::make_pair(c.height, LONG(FW_BOLD)));
  }
}

// Pixels ---------------------------------------------------------------------

// Mode 1 copies the splash picture exactly; mode 2 blends the logo over the
// background within 1; glyphs cast a shadow; links are underlined children.
TEST_F(UiToolkitTest, GalleryScreenshotDrawModesShadowsAndLinks) {
  const ClientPixels shot = Repaint();
  png::WriteClient(gallery_->Handle(), ArtefactPath(L"gallery.png"));
  const uint32_t background = PixelOf(kBackground);
  for (int y = 0; y < 130; y += 7) {
    for (int x = 0; x < 400; x += 9) {
      const uint8_t* s = PixelAt(gallery_->skin164, x, y);
      ASSERT_EQ(shot.At(10 + x, 210 + y), uint32_t(s[2] << 16 | s[1] << 8 | s[0])) << x << "," << y;
    }
  }
  for (int y = 0; y < 71; ++y) {
    for (int x = 0; x < 47; ++x) {
      const uint8_t* s = PixelAt(gallery_->skin161, kMakerLogo.x + x, kMakerLogo.y + y);
      for (int ch = 0; ch < 3; ++ch) {
        const int expected = s[ch] + Channel(background, 8 * ch) * (255 - s[3]) / 255;
        ASSERT_NEAR(Channel(shot.At(660 + x, 220 + y), 8 * ch), expected, 1)
            << x << "," << y << " channel " << ch;
      }
    }
  }
  MTextArea* text = gallery_->paragraph;
  ASSERT_EQ(text->Links().size(), 2u);
  MHTMLLink* link = text->Links()[0];
  EXPECT_EQ(link->parent, text);
  EXPECT_EQ(link->id, 1);
  const UiRect at = AbsoluteRect(link);
  for (int x = at.left; x < at.right; ++x) {
    ASSERT_EQ(shot.At(x, at.bottom - 1), PixelOf(0xD88127)) << x;
  }
  // A bright glyph pixel above a pixel darker than the background.
  const UiRect area = AbsoluteRect(text);
  int shadows = 0;
  for (int y = area.top; y + 1 < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      const uint32_t p = shot.At(x, y), below = shot.At(x, y + 1);
      if (Channel(p, 8) > 200 && Channel(below, 8) < 0x20 && Channel(below, 16) < 0x20) ++shadows;
    }
  }
  EXPECT_GT(shadows, 20);
  EXPECT_GE(text->Render(), 5);                     // two lines, two items, the text after the list
  EXPECT_EQ(Wide(text->text), Wide(text->Text()));  // its accessible name
}

TEST_F(UiToolkitTest, ChildrenOfImagelessParentsAtNestedOffsetsAndOnlyTheUpdateRect) {
  MSkinnedSection parent, child, grandchild, other;
  SetRectXYWH(&parent, 450, 230, 60, 60);  // no image: only its children show
  SetRectXYWH(&child, 5, 6, 40, 40);
  SetRectXYWH(&grandchild, 3, 4, 10, 10);  // at 458, 240
  SetRectXYWH(&other, 530, 230, 10, 10);
  for (MSkinnedSection* solid : {&grandchild, &other}) solid->SetMode(DrawMode::SolidFill);
  grandchild.SetColour(0x123456);
  other.SetColour(0x0000FF);
  AddRootElement(gallery_, &parent);
  AddChild(&parent, &child);
  AddChild(&child, &grandchild);
  AddRootElement(gallery_, &other);
  const auto expect = [](const ClientPixels& shot, std::vector<std::pair<POINT, COLORREF>> points) {
    for (const auto& [p, colour] : points) {
      EXPECT_EQ(shot.At(p.x, p.y), PixelOf(colour)) << p.x << "," << p.y;
    }
  };
  expect(Repaint(), {{{458, 240}, 0x123456},
                     {{457, 240}, kBackground},
                     {{458, 239}, kBackground},
                     {{467, 249}, 0x123456},
                     {{468, 250}, kBackground}});
  // Both change; only the grandchild's rect is repainted.
  grandchild.SetColour(0x00FF00);
  other.SetColour(0xFF0000);
  InvalidateElement(gallery_, &grandchild);
  UpdateWindow(gallery_->Handle());
  expect(ReadClient(gallery_->Handle()), {{{460, 242}, 0x00FF00}, {{532, 232}, 0x0000FF}});
  SetVisible(&child, false);  // the hidden subtree is skipped
  expect(Repaint(), {{{460, 242}, kBackground}});
  RemoveRootElement(gallery_, &other);
  RemoveRootElement(gallery_, &parent);
}

// Dispatch and tree ------------------------------------------------------------

// A probe with a child covering it and a second probe on the same place:
// strictly inside only, children before parents, the first true stops, a
// hidden subtree is skipped; the captured element gets outside moves.
TEST_F(UiToolkitTest, ClicksInsideStrictlyFirstTrueStopsHiddenSkippedCapturedForced) {
  const struct {
    int x, y;
    bool childAnswer, hideHolder;
    size_t childCalls, holderCalls, secondCalls;
  } cases[] = {{0, 0, true, false, 0, 0, 0},    {1, 1, true, false, 1, 0, 0},
               {39, 29, true, false, 1, 0, 0},  {40, 30, true, false, 0, 0, 0},
               {0, 15, true, false, 0, 0, 0},   {20, 0, true, false, 0, 0, 0},
               {10, 10, false, false, 1, 1, 1}, {10, 10, true, true, 0, 0, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    Probe holder, child(0, 0), second;
    child.answer = c.childAnswer;
    holder.answer = false;
    AddRootElement(gallery_, &holder);
    AddChild(&holder, &child);
    AddRootElement(gallery_, &second);
    if (c.hideHolder) SetVisible(&holder, false);
    Mouse(WM_LBUTTONDOWN, 450 + c.x, 250 + c.y);
    EXPECT_EQ(child.calls.size(), c.childCalls);
    EXPECT_EQ(holder.calls.size(), c.holderCalls);
    EXPECT_EQ(second.calls.size(), c.secondCalls);
    for (const Probe::Call& call : child.calls) {
      EXPECT_EQ(std::make_pair(call.point.x, call.inside), std::make_pair(LONG(c.x), 1));
    }
    RemoveRootElement(gallery_, &second);
    RemoveRootElement(gallery_, &holder);
  }
  Probe probe;
  AddRootElement(gallery_, &probe);
  CaptureMouse(&probe);
  Mouse(WM_MOUSEMOVE, 5, 7);
  ReleaseMouse(&probe);
  ASSERT_EQ(probe.calls.size(), 1u);
  EXPECT_EQ(probe.calls[0].inside, 0);
  EXPECT_EQ(std::make_pair(probe.calls[0].point.x, probe.calls[0].point.y),
            std::make_pair(5L - 450, 7L - 250));
  EXPECT_EQ(gallery_->Captured(), nullptr);
  RemoveRootElement(gallery_, &probe);
}

TEST_F(UiToolkitTest, RemovingAChildKeepsTheRestAndDestroysItsProxy) {
  for (int removed = 0; removed < 3; ++removed) {
    SCOPED_TRACE(removed);
    MSkinnedSection parent, children[3];
    SetRectXYWH(&parent, 450, 250, 90, 30);
    for (int i = 0; i < 3; ++i) {
      SetRectXYWH(&children[i], 30 * i, 0, 30, 30);
      children[i].id = 50 + i;
      children[i].SetProxyFlag();
      AddChild(&parent, &children[i]);
    }
    EXPECT_EQ(children[0].proxy, nullptr);  // no window yet
    AddRootElement(gallery_, &parent);
    HWND proxies[3];
    for (int i = 0; i < 3; ++i) {
      proxies[i] = children[i].proxy;
      ASSERT_TRUE(IsWindow(proxies[i]));
      EXPECT_EQ(GetDlgCtrlID(proxies[i]), 50 + i);
      RECT r{};
      GetWindowRect(proxies[i], &r);
      MapWindowPoints(nullptr, gallery_->Handle(), reinterpret_cast<POINT*>(&r), 2);
      EXPECT_EQ(r.left, 450 + 30 * i);
    }
    RemoveChild(&parent, &children[removed]);
    EXPECT_EQ(children[removed].parent, nullptr);
    EXPECT_EQ(children[removed].window, nullptr);
    std::vector<MRegion*> expected, kept;
    for (int i = 0; i < 3; ++i) {
      if (i != removed) expected.push_back(&children[i]);
      EXPECT_EQ(bool(IsWindow(proxies[i])), i != removed);
    }
    for (MRegion* c = parent.firstChild; c != nullptr; c = c->NextSibling()) kept.push_back(c);
    EXPECT_EQ(kept, expected);
    EXPECT_EQ(expected[1]->previous, expected[0]);
    RemoveRootElement(gallery_, &parent);
    for (HWND proxy : proxies) EXPECT_FALSE(IsWindow(proxy));
  }
}

// Controls -------------------------------------------------------------------

TEST_F(UiToolkitTest, ButtonStatesAndEvents) {
  using Kinds = std::vector<int32_t>;
  struct Step {
    UINT message;
    int x, y;
    uint8_t state;
    Kinds kinds;
  };
  using Steps = std::vector<Step>;
  constexpr int in = 20, out = 300;
  const Step enter{WM_MOUSEMOVE, in, 10, kOver, Kinds{kControlEntered}};
  const Step press{WM_LBUTTONDOWN, in, 10, kPressedOver, Kinds{kControlPressed}};
  const Step dragOut{WM_MOUSEMOVE, out, 10, kPressedOutside, Kinds{kControlLeft}};
  const struct {
    const char* name;
    bool enabled;
    Steps steps;
  } cases[] = {
      // The click releases the capture: leaving goes unnoticed.
      {"click", true,
       Steps{enter, press, Step{WM_LBUTTONUP, in, 10, kOver, Kinds{kControlClicked}},
             Step{WM_MOUSEMOVE, out, 10, kOver, Kinds{}}}},
      {"enter and leave", true,
       Steps{enter, Step{WM_MOUSEMOVE, out, 10, kIdle, Kinds{kControlLeft}}}},
      {"drag out and release", true,
       Steps{enter, press, dragOut, Step{WM_MOUSEMOVE, out, 12, kPressedOutside, Kinds{}},
             Step{WM_LBUTTONUP, out, 10, kIdle, Kinds{kControlReleasedOutside}}}},
      {"drag out and back", true,
       Steps{enter, press, dragOut,
             Step{WM_MOUSEMOVE, in, 10, kPressedOver, Kinds{kControlEntered}},
             Step{WM_LBUTTONUP, in, 10, kOver, Kinds{kControlClicked}}}},
      {"disabled is silent", false,
       Steps{Step{WM_MOUSEMOVE, in, 10, kIdle, Kinds{}},
             Step{WM_LBUTTONDOWN, in, 10, kIdle, Kinds{}},
             Step{WM_LBUTTONUP, in, 10, kIdle, Kinds{}}}},
  };
  std::unique_ptr<MButton> button(CreateButton(gallery_, &gallery_->skin161, MString(u"TEST")));
  button->id = 130;
  gallery_->Place(button.get(), 450, 250, 140, 33);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetButtonEnabled(button.get(), false);  // back to idle
    SetButtonEnabled(button.get(), c.enabled);
    EXPECT_EQ(button->Label()->alpha, c.enabled ? 255 : 128);
    EXPECT_TRUE(!c.enabled || button->Spec() == button->LookFor(kIdle));
    KindsFrom(130);
    for (const Step& s : c.steps) {
      SCOPED_TRACE(&s - c.steps.data());
      Mouse(s.message, 450 + s.x, 250 + s.y);
      EXPECT_EQ(button->State(), s.state);
      EXPECT_EQ(KindsFrom(130), s.kinds);
      EXPECT_EQ(button->Label()->rect.top, s.state == kPressedOver ? 1 : 0);
    }
    EXPECT_EQ(gallery_->Captured(), nullptr);
  }
}

// Seven radios grow the group 3, 6, 12 in order; a click releases the
// capture, so a second click finds the radio under the pointer already.
TEST_F(UiToolkitTest, RadioGroupOfSevenAndCheckBoxClicks) {
  MRadioGroup group;
  std::vector<std::unique_ptr<MRadioButton>> radios;
  const uint32_t capacities[7] = {3, 3, 3, 6, 6, 6, 12};
  for (int i = 0; i < 7; ++i) {
    radios.emplace_back(CreateRadioButton(gallery_, &gallery_->skin161, i == 2, i, &group));
    radios[i]->id = 140 + i;
    gallery_->Place(radios[i].get(), 450 + 20 * i, 250, 15, 15);
    EXPECT_EQ(group.Capacity(), capacities[i]);
  }
  EXPECT_EQ(group.Count(), 7u);
  EXPECT_EQ(group.Selected(), radios[2].get());
  for (int i = 0; i < 7; ++i) EXPECT_EQ(group.At(i), radios[i].get());
  const struct {
    int clicked;
    std::vector<int32_t> kinds;
  } cases[] = {{5, {kControlEntered, kControlPressed, kControlClicked}},
               {5, {kControlPressed, kControlClicked}},
               {0, {kControlEntered, kControlPressed, kControlClicked}}};
  MRadioButton* previous = radios[2].get();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clicked);
    Click(450 + 20 * c.clicked + 7, 257);
    EXPECT_EQ(KindsFrom(140 + c.clicked), c.kinds);
    MRadioButton* selected = radios[c.clicked].get();
    EXPECT_EQ(group.Selected(), selected);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(radios[i]->Checked(), i == c.clicked) << i;
    EXPECT_EQ(selected->Spec(), selected->LookFor(kOver));
    EXPECT_TRUE(previous == selected || previous->Spec() == previous->LookFor(kIdle));
    previous = selected;
  }
  for (auto& radio : radios) RemoveRootElement(gallery_, radio.get());

  MCheckboxButton* box = gallery_->boxes[0];
  const bool before = box->Checked();
  const UiRect at = AbsoluteRect(box);
  for (bool expected : {!before, before}) {
    Click(at.left + 7, at.top + 7);
    EXPECT_EQ(box->Checked(), expected);
    // Set while the pointer is over it: the hover look of the new state.
    box->SetChecked(!expected);
    EXPECT_EQ(box->Spec(), box->LookFor(kOver));
    box->SetChecked(expected);
    Mouse(WM_MOUSEMOVE, 700, 340);
  }
}

// The fill is linked, kept and unlinked (the clamps: the layout's table).
TEST_F(UiToolkitTest, ProgressFillAndTrack) {
  MProgressBar bar(gallery_, &gallery_->trackSpec, &gallery_->fillSpec);
  gallery_->Place(&bar, 420, 250, 300, 33);
  const struct {
    int32_t percent, stored, right;  // right 0: no fill
  } cases[] = {{0, 0, 0}, {1, 1, -1}, {100, 100, 299}, {0, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.percent);
    bar.SetPercentage(c.percent);
    bar.Layout();
    EXPECT_EQ(bar.Percentage(), c.stored);
    EXPECT_EQ(bar.firstChild, &bar.Track());
    EXPECT_EQ(bar.Track().NextSibling(), c.right != 0 ? &bar.Fill() : nullptr);
    EXPECT_TRUE(c.right <= 0 || bar.Fill().rect.right == c.right);
  }
  RemoveRootElement(gallery_, &bar);
}

TEST_F(UiToolkitTest, TooltipToolsAndDelays) {
  MTooltipArea* tip = gallery_->tooltip;
  HWND tooltip = tip->Tooltip();
  ASSERT_TRUE(IsWindow(tooltip));
  EXPECT_EQ(SendMessageW(tooltip, TTM_GETDELAYTIME, TTDT_INITIAL, 0), 100);
  EXPECT_EQ(SendMessageW(tooltip, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0), 30000);
  for (bool on : {true, true, false, false, true, false}) {
    tip->SetActive(on);
    EXPECT_EQ(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0), on ? 1 : 0);
  }
  tip->SetActive(true);
  SetRectXYWH(tip, 600, 220, 47, 71);
  tip->Layout();  // the tool follows the element
  wchar_t text[80] = {};
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.lpszText = text;
  ASSERT_TRUE(SendMessageW(tooltip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&tool)));
  EXPECT_EQ(std::make_pair(tool.rect.left, tool.rect.bottom), std::make_pair(600L, 291L));
  EXPECT_EQ(tool.uFlags & (TTF_SUBCLASS | TTF_CENTERTIP), UINT(TTF_SUBCLASS | TTF_CENTERTIP));
  EXPECT_STREQ(text, L"Arvex Glint Player");
  tip->SetActive(false);
  SetRectXYWH(tip, 660, 220, 47, 71);
}

// Keyboard -------------------------------------------------------------------

// Tab and Shift+Tab visit every enabled, visible proxy once and wrap.
TEST_F(UiToolkitTest, TabVisitsEveryFocusableProxyOnceAndWraps) {
  SetVisible(gallery_->boxes[0], false);
  const std::set<MRegion*> expected = {gallery_->buttons[0], gallery_->buttons[1],
                                       gallery_->buttons[2], gallery_->boxes[1],
                                       gallery_->radios[0],  gallery_->radios[1]};
  gallery_->Show(true);
  for (bool shift : {false, true}) {
    SCOPED_TRACE(shift ? "Shift+Tab" : "Tab");
    ASSERT_TRUE(FocusOn(gallery_->buttons[0]));
    std::vector<MRegion*> visited;
    for (size_t i = 0; i < expected.size(); ++i) {
      MRegion* before = gallery_->Focused();
      Press(VK_TAB, shift);
      ASSERT_TRUE(PumpUntil([&] { return gallery_->Focused() != before; })) << i;
      visited.push_back(gallery_->Focused());
      EXPECT_TRUE(gallery_->RingShown());
    }
    EXPECT_EQ(std::set<MRegion*>(visited.begin(), visited.end()), expected);
    EXPECT_EQ(visited.back(), gallery_->buttons[0]);  // wrapped round
  }
  SetVisible(gallery_->boxes[0], true);
}

TEST_F(UiToolkitTest, SpaceAndEnterClickTheFocusedButton) {
  gallery_->Show(true);
  for (WORD key : {WORD(VK_SPACE), WORD(VK_RETURN)}) {
    SCOPED_TRACE(key);
    ASSERT_TRUE(FocusOn(gallery_->buttons[0]));
    KindsFrom(100);
    Press(key);
    std::vector<int32_t> kinds;
    PumpUntil([&] {
      for (int32_t k : KindsFrom(100)) kinds.push_back(k);
      return kinds.size() >= 2;
    });
    EXPECT_EQ(kinds, (std::vector<int32_t>{kControlPressed, kControlClicked}));
  }
  Mouse(WM_MOUSEMOVE, 700, 340);
}

TEST_F(UiToolkitTest, HidingOrDisablingTheFocusedElementDropsFocusAndRing) {
  MRegion* box = gallery_->boxes[1];
  for (auto set : {&SetVisible, &SetEnabled}) {
    SCOPED_TRACE(set == &SetVisible ? "hidden" : "disabled");
    ASSERT_TRUE(FocusOn(box));
    Repaint();
    png::WriteClient(gallery_->Handle(), ArtefactPath(L"gallery-focused.png"));
    set(box, false);
    EXPECT_EQ(gallery_->Focused(), nullptr);  // the ring goes with it
    EXPECT_NE(MWindow::FindFocusWindow(gallery_->buttons[0]->proxy, true), box->proxy);
    set(box, true);
  }
}

// Skins ----------------------------------------------------------------------

// Each id reaches its own sheet (kept as PNG for people to look at); the
// sheets' pixels are the sheets' unit table's, the copy into the DIB below.
TEST_F(UiToolkitTest, SkinResourcesLoadEachSheetById) {
  const struct {
    int32_t id, width, height;
    const wchar_t* png;
  } cases[] = {{161, 569, 175, L"sheet161.png"},
               {162, 72, 44, L"sheet162.png"},
               {164, 460, 130, L"sheet164.png"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    MSkinImage image;
    ASSERT_TRUE(LoadSkinImage(gallery_, &image, c.id, 0));
    ASSERT_EQ(std::make_pair(image.width, image.height), std::make_pair(c.width, c.height));
    std::vector<uint8_t> topDown;
    for (int y = 0; y < c.height; ++y) {
      topDown.insert(topDown.end(), PixelAt(image, 0, y), PixelAt(image, 0, y) + c.width * 4);
    }
    EXPECT_TRUE(png::Write(ArtefactPath(c.png), topDown.data(), c.width, c.height, true));
  }
}

TEST_F(UiToolkitTest, TargaResourcesFromAModuleAndTheirRefusals) {
  HMODULE module = LoadLibraryW((ProgramFolder() + L"\\skin-standin.dll").c_str());
  ASSERT_NE(module, nullptr);
  InflatingHost host;
  ZavuzER ui(&host, module);
  GalleryWindow window(&ui);
  const std::string pattern = ReadAll(std::wstring(GLINT_SKIN_FIXTURES) + L"\\pattern.bgra");
  ASSERT_EQ(pattern.size(), 5u * 3 * 4);
  // Other Targa shapes: the decoder's own tables. Here refusals of the header,
  // of the pixels (after the DIB exists) and of the resource's way in.
  const struct {
    const char* name;
    int32_t id;
    int compressed;
    std::string pixels;  // top row first; empty: refused
  } cases[] = {
      {"raw 32 by ImageMagick", 1, 0, pattern},
      {"image-ID field", 10, 0, ""},
      {"short pixels", 14, 0, ""},
      {"compressed, host inflates", 20, 1, pattern},
      {"compressed, host fails", 21, 1, ""},
      {"compressed flag 2", 1, 2, ""},
      {"missing resource", 99, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MSkinImage image;
    const bool loaded = LoadSkinImage(&window, &image, c.id, c.compressed);
    ASSERT_EQ(loaded, !c.pixels.empty());
    if (!loaded) {
      EXPECT_EQ(image.dc, nullptr);
      EXPECT_EQ(image.dib, nullptr);
      continue;
    }
    std::string got;
    for (int y = 0; y < image.height; ++y) {
      got.append(reinterpret_cast<const char*>(PixelAt(image, 0, y)), image.width * 4);
    }
    EXPECT_EQ(got, c.pixels);
    EXPECT_EQ(GetCurrentObject(image.dc, OBJ_BITMAP), image.dib);
  }
  // An element whose image failed draws nothing; the window keeps painting.
  MSkinImage failed;
  EXPECT_FALSE(LoadSkinImage(&window, &failed, 10, 0));
  window.Show(true);
  MSkinnedSection element;
  element.SetImage(&failed);
  element.source = UiSourceRect{0, 0, 5, 3};
  window.Place(&element, 0, 0, 50, 50);
  EXPECT_EQ(Repaint(&window).At(10, 10), PixelOf(kBackground));
  RemoveRootElement(&window, &element);
  FreeLibrary(module);
}

// Last: the pages it opens start other programs. The applet's file sits in
// SysWOW64 and a recorder as control.exe beside this program, where process
// creation looks first.
TEST_F(UiToolkitTest, LinkClicksOpenThroughTheShim) {
  PageRecorder pages(L"glinttest");
  ScratchFiles files;
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring wow = std::wstring(windows) + L"\\SysWOW64";
  CreateDirectoryW(wow.c_str(), nullptr);
  files.File(wow + L"\\GlintPlayerCPLApp.cpl", "applet");
  const std::wstring control = ProgramFolder() + L"\\control.exe";
  files.Copy(RecorderPath(), control);
  const struct {
    std::function<std::string()> opened;
    const char* expected;
  } cases[] = {{[&] { return pages.Opened(); }, "glinttest:license"},
               {[&] { return WaitForContent(control + L".log"); }, "GlintPlayerCPLApp.cpl"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    MHTMLLink* link = gallery_->paragraph->Links()[&c - cases];
    const UiRect at = AbsoluteRect(link);
    const int x = at.left + at.Width() / 2, y = at.top + at.Height() / 2;
    Mouse(WM_MOUSEMOVE, x, y);
    EXPECT_EQ(link->State(), kOver);
    EXPECT_EQ(gallery_->CursorState(), 1);
    EXPECT_EQ(link->Underline().imageOrColour, 0xFF982Eu);
    Mouse(WM_LBUTTONDOWN, x, y);
    EXPECT_EQ(link->State(), kPressedOver);
    Mouse(WM_LBUTTONUP, x, y);
    Mouse(WM_MOUSEMOVE, 700, 340);
    EXPECT_EQ(link->State(), kIdle);
    EXPECT_EQ(gallery_->CursorState(), 0);
    EXPECT_EQ(link->Underline().imageOrColour, 0xD88127u);
    EXPECT_NE(c.opened().find(c.expected), std::string::npos);
  }
  DeleteFileW((control + L".log").c_str());
}

}  // namespace

// Icons and shortcuts against a live broker: icon paths, internet shortcuts
// authorised under root B (SignedDataFixture.sh), desktop shortcuts under
// their rate limit. Every refusal leaves the three locations and the icon
// cache as they were. The http "open" handler is the command-line recorder.
#include <windows.h>
#include <ole2.h>
#include <shlguid.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"
#include "broker/services/ShortcutRules.h"
#include "foundation/ComRef.h"

namespace {

constexpr HRESULT kRefused = RPC_E_INVALID_PARAMETER;
constexpr wchar_t kNull[] = L"<null>";  // a case's string sent as a null BSTR
constexpr wchar_t kName[] = L"Glint Demo";
constexpr wchar_t kUrl[] = L"https://games.example.com/play/index.html";
constexpr wchar_t kCjkName[] = L"\u904A\u622F\u5E83\u5834";  // four characters, 8 bytes in 932
constexpr ULONG kDesktop = 1, kPrograms = 2, kQuickLaunch = 4, kPin = 8;
const std::wstring kRoaming = KnownFolder(CSIDL_APPDATA);
const std::wstring kCache = kRoaming + L"\\Arvex\\Glint Player\\Icon Cache";
const std::wstring kQuickLaunchFolder = kRoaming + L"\\Microsoft\\Internet Explorer\\Quick Launch";
const std::wstring kRecorderLog = RecorderPath() + L".log";

std::wstring Icon(const std::wstring& name, const std::wstring& suffix = L"") {
  return kCache + L"\\" + name + suffix + L".ico";
}
std::wstring Folder(ULONG location) {
  if (location == kDesktop) return KnownFolder(CSIDL_DESKTOPDIRECTORY);
  return location == kPrograms ? KnownFolder(CSIDL_PROGRAMS) : kQuickLaunchFolder;
}
std::wstring Redirect() {
  const ShortcutRules::Text& prefix = ShortcutRules::RedirectPrefix();
  return std::wstring(prefix.begin(), prefix.end()) + L"https%3A%2F%2Fgames.example.com%2Fplay";
}

// Every entry (size and write time) under the three locations and the
// player's roaming folder, where the icon cache lives.
std::set<std::string> Snapshot() {
  std::set<std::string> lines;
  for (ULONG location : {kDesktop, kPrograms, kQuickLaunch}) FolderLines(Folder(location), &lines);
  FolderLines(kRoaming + L"\\Arvex", &lines);
  return lines;
}

BSTR Arg(const std::wstring& text) {
  return text == kNull ? nullptr : SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// A byte blob in another shape a player might send (FileDialogTest.cpp holds the others).
SAFEARRAY* TwoDimensional(const std::string& data) {
  SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(data.size()), 0}, {1, 0}};
  SAFEARRAY* array = SafeArrayCreate(VT_UI1, 2, bounds);
  memcpy(array->pvData, data.data(), data.size());
  return array;
}

// One BrokerCreateInternetShortcut request: the strings blob and signed
// message of `fixture` (altered, in another shape, or null), name, URL, icon
// (empty: the cache's icon for the name) and flags.
struct InternetCase {
  const char* label;
  const wchar_t* fixture = L"good";
  std::wstring name = kName;
  std::wstring url = kUrl;
  std::wstring icon = L"";
  ULONG flags = kDesktop;
  std::function<void(std::string& strings, std::string& message)> alter = nullptr;
  SAFEARRAY* (*strings)(const std::string&) = ByteArray;
  SAFEARRAY* (*message)(const std::string&) = ByteArray;
};

HRESULT Send(IGlintBroker6* broker, const InternetCase& c) {
  const std::wstring fixture = std::wstring(GLINT_SIGNED_FIXTURES) + L"\\shortcut\\" + c.fixture;
  std::string strings = ReadAll(fixture + L".strings"), message = ReadAll(fixture + L".p7");
  EXPECT_FALSE(strings.empty() || message.empty()) << "fixture missing: " << c.label;
  if (c.alter) c.alter(strings, message);
  UniqueBstr name(Arg(c.name)), url(Arg(c.url));
  UniqueBstr icon(Arg(c.icon.empty() ? Icon(c.name) : c.icon));
  UniqueSafeArray stringArray(c.strings ? c.strings(strings) : nullptr);
  UniqueSafeArray messageArray(c.message ? c.message(message) : nullptr);
  return broker->BrokerCreateInternetShortcut(name.Get(), url.Get(), icon.Get(), messageArray.Get(),
                                              stringArray.Get(), c.flags);
}

// A shell link as the shell reads it back.
struct Link {
  HRESULT loaded = E_FAIL;
  std::wstring target, arguments, icon;
  int index = -1;
};
Link ReadLink(const std::wstring& path) {
  Link read;
  ComRef<IShellLinkW> link;
  ComRef<IPersistFile> file;
  read.loaded = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 link.Receive());
  if (SUCCEEDED(read.loaded)) read.loaded = link->QueryInterface(IID_IPersistFile, file.Receive());
  if (SUCCEEDED(read.loaded)) read.loaded = file->Load(path.c_str(), STGM_READ);
  if (FAILED(read.loaded)) return read;
  wchar_t target[1024] = {}, arguments[1024] = {}, icon[1024] = {};
  link->GetPath(target, 1024, nullptr, SLGP_RAWPATH);
  link->GetArguments(arguments, 1024);
  link->GetIconLocation(icon, 1024, &read.index);
  return {read.loaded, target, arguments, icon, read.index};
}

// An entry of an internet shortcut's file (".url" or ".lnk" name), or "<none>".
std::wstring Entry(const std::wstring& path, const wchar_t* key) {
  wchar_t text[1024] = {};
  GetPrivateProfileStringW(L"InternetShortcut", key, L"<none>", text, 1024, path.c_str());
  return text;
}

// A live broker per test, the recorder as the browser, Quick Launch present;
// whatever a test wrote into the locations or the player's roaming folder is
// removed afterwards, and nothing may reach the Linux user's home.
class Shortcuts : public BrokerSuite {
 protected:
  static void SetUpTestSuite() {
    BrokerSuite::SetUpTestSuite();
    registry_ = new ScratchRegistry;
    registry_->SetString(HKEY_LOCAL_MACHINE, L"Software\\Classes\\http\\shell\\open\\command", L"",
                         L"\"" + RecorderPath() + L"\" \"%1\"");
    // A fresh prefix has no Quick Launch folder (nor its parent) and no
    // player folder; each test removes what it added inside them.
    folders_ = new ScratchFiles;
    for (const wchar_t* folder : {L"\\Arvex", L"\\Microsoft\\Internet Explorer"})
      folders_->Folder(kRoaming + folder);
    folders_->Folder(kQuickLaunchFolder);
  }
  static void TearDownTestSuite() {
    delete registry_;
    delete folders_;
    BrokerSuite::TearDownTestSuite();
    // Nothing of ours in the Linux user's home or its menus.
    wchar_t home[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"HOME", home, MAX_PATH) == 0) return;
    std::wstring root = std::wstring(L"Z:") + home;
    for (wchar_t& c : root) c = c == L'/' ? L'\\' : c;
    for (const wchar_t* name : {kName, L"MyGame", L"Quoted", kCjkName}) {
      for (const wchar_t* extension : {L".lnk", L".url"}) {
        EXPECT_FALSE(Exists(root + L"\\" + name + extension)) << Utf8Of(name);
      }
      EXPECT_FALSE(
          Exists(root + L"\\.local\\share\\applications\\wine\\Programs\\" + name + L".desktop"))
          << Utf8Of(name);
    }
  }
  void SetUp() override {
    before_ = Snapshot();
    DeleteFileW(kRecorderLog.c_str());
    session_ = std::make_unique<Session>();
    ASSERT_EQ(session_->created, S_OK);
  }
  void TearDown() override {
    session_.reset();
    std::set<std::string> existed;
    for (const std::string& line : before_) existed.insert(PathOf(line));
    const std::set<std::string> after = Snapshot();
    for (auto it = after.rbegin(); it != after.rend(); ++it) {  // a folder's entries first
      if (existed.count(PathOf(*it))) continue;
      const std::wstring path = Wide(FromUtf8(PathOf(*it).c_str()));
      if (!DeleteFileW(path.c_str())) RemoveDirectoryW(path.c_str());
    }
    DeleteFileW(kRecorderLog.c_str());
  }
  // A snapshot line is "path size time".
  static std::string PathOf(const std::string& line) {
    std::string path = line.substr(0, line.rfind(' '));
    return path.substr(0, path.rfind(' '));
  }
  IGlintBroker6* broker() const { return session_->broker; }
  HRESULT Desktop(const std::wstring& name, const std::wstring& url, const std::wstring& icon,
                  ULONG flags, IGlintBroker6* object = nullptr) {
    return (object ? object : broker())
        ->BrokerCreateDesktopShortcut(Bstr(name), Bstr(url), Bstr(icon), flags);
  }
  HRESULT IconPath(const std::wstring& name, std::wstring* path, LONG overwrite = -1) {
    BSTR out = reinterpret_cast<BSTR>(1);
    HRESULT hr = overwrite == -1 ? broker()->BrokerCreateIconPath(Bstr(name), &out)
                                 : broker()->BrokerCreateIconPathV2(Bstr(name), &out, overwrite);
    path->assign(out != nullptr ? out : L"<none>");
    SysFreeString(out);
    return hr;
  }

  static inline ScratchRegistry* registry_ = nullptr;
  static inline ScratchFiles* folders_ = nullptr;
  std::set<std::string> before_;
  std::unique_ptr<Session> session_;
  ScratchFiles files_;  // files a test puts in the broker's way
};

TEST_F(Shortcuts, IconPathsNumberTheCopiesAndStayInsideThePathBuffer) {
  RemoveTree(kRoaming + L"\\Arvex");
  std::wstring path;
  ASSERT_EQ(IconPath(L"name", &path), S_OK);
  EXPECT_EQ(path, Icon(L"name"));
  EXPECT_TRUE(Exists(kCache)) << "the cache folder is made";
  EXPECT_FALSE(Exists(path)) << "the broker only names the icon";
  for (const wchar_t* suffix : {L" (2)", L" (3)"}) {
    files_.File(path);
    ASSERT_EQ(IconPath(L"name", &path), S_OK);
    EXPECT_EQ(path, Icon(L"name", suffix));
  }
  // The second form overwrites for exactly 1; an omitted argument arrives
  // as DISP_E_PARAMNOTFOUND.
  struct {
    LONG overwrite;
    const wchar_t* suffix;
  } const forms[] = {
      {1, L""}, {2, L" (3)"}, {0, L" (3)"}, {static_cast<LONG>(0x80020004), L" (3)"}};
  for (const auto& form : forms) {
    SCOPED_TRACE(form.overwrite);
    ASSERT_EQ(IconPath(L"name", &path, form.overwrite), S_OK);
    EXPECT_EQ(path, Icon(L"name", form.suffix));
  }
  // 259 units fit the buffer, 260 do not; a plain name that fits can still
  // leave no room for a number.
  const size_t room = 259 - (kCache.size() + 1) - 4;
  struct {
    size_t length;
    bool exists;
    HRESULT expected;
  } const lengths[] = {{room, false, S_OK}, {room + 1, false, E_FAIL}, {room, true, E_FAIL}};
  for (const auto& c : lengths) {
    SCOPED_TRACE(c.length);
    const std::wstring name(c.length, L'n');
    if (c.exists) files_.File(Icon(name));
    EXPECT_EQ(IconPath(name, &path), c.expected);
    EXPECT_EQ(path, c.expected == S_OK ? Icon(name) : L"<none>");
  }
}

// One location and all three: a link to the recorder with the canonical URL
// as its one argument and the cache's icon (numbered icons included).
TEST_F(Shortcuts, InternetShortcutsLinkTheBrowserWithTheUrlAndIcon) {
  struct {
    InternetCase request;
    const wchar_t* arguments;
  } const cases[] = {
      {{.label = "three locations",
        .icon = Icon(kName, L" (12)"),
        .flags = kDesktop | kPrograms | kQuickLaunch},
       kUrl},
      // A space or quote in the URL stays inside the one argument.
      {{.label = "quoted",
        .fixture = L"quoted",
        .name = L"Quoted",
        .url = L"https://games.example.com/a b\"c"},
       L"https://games.example.com/a%20b%22c"},
  };
  for (const auto& [request, arguments] : cases) {
    SCOPED_TRACE(request.label);
    ASSERT_EQ(Send(broker(), request), S_OK);
    for (ULONG location : {kDesktop, kPrograms, kQuickLaunch}) {
      const std::wstring path = Folder(location) + L"\\" + request.name + L".lnk";
      if (!(request.flags & location)) {
        EXPECT_FALSE(Exists(path)) << location;
        continue;
      }
      Link link = ReadLink(path);
      ASSERT_EQ(link.loaded, S_OK) << location;
      EXPECT_EQ(_wcsicmp(link.target.c_str(), RecorderPath().c_str()), 0)
          << Utf8Of(link.target.c_str());
      EXPECT_EQ(link.arguments, arguments);
      EXPECT_EQ(link.icon, request.icon.empty() ? Icon(request.name) : request.icon);
      EXPECT_EQ(link.index, 0);
    }
  }
  EXPECT_EQ(ReadAll(kRecorderLog), "") << "saving a link starts nothing";
}

TEST_F(Shortcuts, InternetShortcutsKeepExistingFilesAndStopAtTheFirstFailedSave) {
  const std::wstring desktop = Folder(kDesktop) + L"\\" + kName;
  files_.File(desktop + L".lnk");
  ASSERT_EQ(Send(broker(), {.label = "taken"}), S_OK);
  EXPECT_EQ(ReadAll(desktop + L".lnk"), "") << "the existing file is left alone";
  EXPECT_EQ(ReadLink(desktop + L" (2).lnk").arguments, kUrl);

  // Pinned: the Quick Launch file is gone, and the verb started nothing.
  ASSERT_EQ(Send(broker(), {.label = "pinned", .flags = kQuickLaunch | kPin}), S_OK);
  Sleep(1000);
  EXPECT_FALSE(Exists(kQuickLaunchFolder + L"\\" + kName + L".lnk"));
  EXPECT_FALSE(Exists(kRecorderLog));

  // "CON" passes the name rules; the shell cannot save it.
  std::set<std::string> before = Snapshot();
  HRESULT hr = Send(broker(), {.label = "device name", .fixture = L"device-name", .name = L"CON"});
  EXPECT_TRUE(FAILED(hr) && hr != kRefused) << Hex(hr);
  EXPECT_EQ(LinesOnlyIn(Snapshot(), before), "");

  // Without the Quick Launch folder: the desktop file stays, the save's error comes back.
  ASSERT_TRUE(RemoveDirectoryW(kQuickLaunchFolder.c_str()));
  hr = Send(broker(), {.label = "no quick launch", .flags = kDesktop | kQuickLaunch});
  SHCreateDirectoryExW(nullptr, kQuickLaunchFolder.c_str(), nullptr);
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(Exists(desktop + L" (3).lnk"));
}

TEST_F(Shortcuts, RefusedInternetShortcutsWriteNothing) {
  const InternetCase cases[] = {
      {.label = "no name", .name = kNull},
      {.label = "no url", .url = kNull},
      {.label = "no icon", .icon = kNull},
      {.label = "no strings", .strings = nullptr},
      {.label = "no message", .message = nullptr},
      {.label = "NUL in name", .name = std::wstring(kName) + L'\0' + L"x"},
      {.label = "file to a program", .url = L"file:///C:/windows/notepad.exe"},
      {.label = "CR LF in URL", .url = std::wstring(kUrl) + L"\r\nIconFile=x"},
      {.label = "two-dimensional strings", .strings = TwoDimensional},
      {.label = "two-dimensional message", .message = TwoDimensional},
      {.label = "under root A", .fixture = L"root-a"},
      {.label = "snippet after a zero byte", .fixture = L"zero-snippet"},
      {.label = "strings changed", .alter = [&](std::string& s, std::string&) { s[0] ^= 1; }},
      // Code page 1252 has no form of these characters.
      {.label = "CJK outside the code page", .fixture = L"cjk", .name = kCjkName},
  };
  for (InternetCase c : cases) {
    SCOPED_TRACE(c.label);
    c.flags = kDesktop | kPrograms | kQuickLaunch;
    EXPECT_EQ(Send(broker(), c), kRefused);
    EXPECT_EQ(LinesOnlyIn(Snapshot(), before_), "");
  }
}

// Run with the thread's code page 932 (LC_ALL=ja_JP.UTF-8).
TEST_F(Shortcuts, Cp932NamesAreSignedOverTheirCodePageBytes) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932, not " << GetACP();
  ASSERT_EQ(Send(broker(), {.label = "cjk", .fixture = L"cjk", .name = kCjkName}), S_OK);
  EXPECT_EQ(ReadLink(Folder(kDesktop) + L"\\" + kCjkName + L".lnk").arguments, kUrl);
  // 15 characters are 30 bytes there.
  const std::set<std::string> before = Snapshot();
  const std::wstring fifteen = std::wstring(kCjkName) + kCjkName + kCjkName + L"\u904A\u622F\u5E83";
  EXPECT_EQ(Send(broker(), {.label = "cjk15", .fixture = L"cjk15", .name = fifteen}), kRefused);
  EXPECT_EQ(LinesOnlyIn(Snapshot(), before), "");
}

// One call every three seconds, refused calls included (the second step comes
// 3.3 s after the first call, 2.3 s after the refused one), for every broker
// object of the process. The first call's answer depends on the uptime.
TEST_F(Shortcuts, DesktopShortcutsWaitThreeSecondsSinceTheLastCall) {
  Desktop(L"MyGame", Redirect(), L"", kPin);
  struct {
    DWORD wait;
    HRESULT expected;
  } const steps[] = {{1000, kRefused}, {2300, kRefused}, {3300, S_OK}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.wait);
    Sleep(step.wait);
    EXPECT_EQ(Desktop(L"MyGame", Redirect(), L"", kPin), step.expected);
  }
  IGlintBroker6* second = nullptr;
  ASSERT_EQ(CreateBroker(&second), S_OK);
  EXPECT_EQ(ProcessesNamed(kServer).size(), 1u);
  Sleep(3300);
  EXPECT_EQ(Desktop(L"MyGame", Redirect(), L"", kPin, second), S_OK);
  EXPECT_EQ(Desktop(L"MyGame", Redirect(), L"", kPin), kRefused);
  second->Release();
  EXPECT_EQ(LinesOnlyIn(Snapshot(), before_), "");
}

// Which URLs and icons a desktop shortcut may carry is ShortcutRules' unit
// case; here a refusal leaves every location as it was.
TEST_F(Shortcuts, DesktopShortcutsPointAtTheRedirectServiceWithPlainNames) {
  struct {
    const char* label;
    std::wstring name, icon;
    ULONG flags;
    HRESULT expected;
  } const cases[] = {
      {"MyGame", L"MyGame", Icon(L"MyGame"), kDesktop, S_OK},
      {"CJK", kCjkName, L"", kDesktop, S_OK},
      {"links", L"MyGame", Icon(L"MyGame"), kPrograms | kQuickLaunch, S_OK},
      {"no flags", L"MyGame", L"", 0, kRefused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::set<std::string> before = Snapshot();
    if (&c != cases) Sleep(3200);  // under the rate limit of one call in three seconds
    ASSERT_EQ(Desktop(c.name, Redirect(), c.icon, c.flags), c.expected);
    if (c.expected != S_OK) {
      EXPECT_EQ(LinesOnlyIn(Snapshot(), before), "");
      continue;
    }
    for (ULONG location : {kDesktop, kPrograms, kQuickLaunch}) {
      const std::wstring path =
          Folder(location) + L"\\" + c.name + (location == kDesktop ? L".url" : L".lnk");
      if (!(c.flags & location)) continue;
      ASSERT_TRUE(Exists(path)) << location;
      EXPECT_EQ(Entry(path, L"URL"), Redirect());
      EXPECT_EQ(Entry(path, L"IconFile"), c.icon.empty() ? L"<none>" : c.icon);
      EXPECT_EQ(Entry(path, L"IconIndex"), c.icon.empty() ? L"<none>" : L"0");
    }
  }
}

}  // namespace

// Hostile paths and requests against a live broker, through COM as the
// sandboxed player sends them. Every case gets the answer it must get, and
// nothing outside the player's folders is created, written, moved, deleted
// or read. Links come from scripts/redteam-fixture.sh.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"

namespace {

constexpr HRESULT kAnyFailure = static_cast<HRESULT>(0xFFFFFFFF);
const std::wstring kOutside = L"C:\\glint-outside";
using Call = std::function<HRESULT()>;

struct Case {
  std::string name;
  Call run;
  HRESULT expected;  // kAnyFailure: any failing result
};

std::wstring LowTemp() {  // made by the link fixture
  wchar_t buffer[MAX_PATH];
  GetTempPathW(MAX_PATH, buffer);
  return std::wstring(buffer) + L"Low";
}

std::wstring ShortName(const std::wstring& path) {
  wchar_t buffer[1024];
  DWORD length = GetShortPathNameW(path.c_str(), buffer, 1024);
  return length == 0 || length >= 1024 ? path : std::wstring(buffer, length);
}

// Every entry outside with its size and write time, to compare before and after.
std::set<std::string> Outside() {
  std::set<std::string> lines;
  FolderLines(kOutside, &lines);
  return lines;
}

// One broker object for the suite; each call below is a case's request.
class RedTeam : public BrokerSuite {
 protected:
  static void SetUpTestSuite() {
    BrokerSuite::SetUpTestSuite();
    ASSERT_HRESULT_SUCCEEDED(CreateBroker(&files_.broker));
  }
  static void TearDownTestSuite() {
    if (files_.broker != nullptr) files_.broker->Release();
    files_.broker = nullptr;
    BrokerSuite::TearDownTestSuite();
  }
  static IGlintBroker6* B() { return files_.broker; }
  static Call W(std::wstring p, std::string data = "x") {
    return [=] { return files_.Write(p, data); };
  }
  static Call R(std::wstring p) {
    return [=] { return files_.Read(p); };
  }
  static Call Ok(std::wstring p, LONG e = 1) {
    return [=] { return B()->BrokerIsWritablePath(Bstr(p), e); };
  }
  // A method that takes one path.
  static Call On(HRESULT (STDMETHODCALLTYPE IGlintBroker6::*method)(BSTR), std::wstring p) {
    return [=] { return (B()->*method)(Bstr(p)); };
  }
  static Call Del(std::wstring p) { return On(&IGlintBroker6::BrokerDeleteFile, p); }
  static Call MkDir(std::wstring p) { return On(&IGlintBroker6::BrokerCreateDirectory, p); }
  static Call RmDir(std::wstring p) { return On(&IGlintBroker6::BrokerRemoveDirectory, p); }
  static Call History(std::wstring p) { return On(&IGlintBroker6::BrokerDeleteBrowsingHistory, p); }
  static Call Mv(std::wstring from, std::wstring to, LONG flags = 0) {
    return [=] { return B()->BrokerMoveFileEx(Bstr(from), Bstr(to), flags); };
  }
  // Opens for writing without emptying the file, and closes again.
  static Call Append(std::wstring p) {
    return [=] {
      ULONG cookie = 0;
      HRESULT hr = files_.Open(p, false, &cookie, false);
      files_.Close(cookie);
      return hr;
    };
  }
  static Call Find(std::wstring pattern) {
    return [=] {
      UniqueBstr name;
      ULONG attributes = 0, cookie = 0;
      HRESULT hr = B()->BrokerFindFirstFile(Bstr(pattern), name.Receive(), &attributes, &cookie);
      if (cookie != 0) B()->BrokerFindClose(cookie);
      return hr;
    };
  }
  // Attribute query; on a refusal every out-value must stay zero.
  static Call Attr(std::wstring p) {
    return [=] {
      std::vector<ULONG> v(9, 0xCCCCCCCC);
      HRESULT hr = B()->BrokerGetFileAttributesEx(Bstr(p), &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                                                  &v[6], &v[7], &v[8]);
      return FAILED(hr) && v != std::vector<ULONG>(9, 0) ? E_UNEXPECTED : hr;
    };
  }
  // Opens `p` for writing, then writes `steps` (a step of "@n" seeks to n).
  static Call Steps(std::wstring p, std::vector<std::string> steps) {
    return [=] {
      ULONG c = 0, position = 0;
      HRESULT hr = files_.Open(p, false, &c);
      for (size_t i = 0; i < steps.size() && SUCCEEDED(hr); ++i) {
        hr = steps[i][0] == '@'
                 ? B()->BrokerSetFilePointer(c, atoi(steps[i].c_str() + 1), FILE_BEGIN, &position)
                 : files_.WriteTo(c, steps[i]);
      }
      files_.Close(c);
      return hr;
    };
  }
  static void RunAll(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      HRESULT hr = c.run();
      if (c.expected == kAnyFailure) {
        EXPECT_TRUE(FAILED(hr)) << c.name << ": " << Hex(hr);
      } else {
        EXPECT_EQ(Hex(hr), Hex(c.expected)) << c.name;
      }
    }
  }

  static inline BrokerFiles files_;
  const std::wstring store = Store(), s = SharedObjects(), temp = LowTemp();
};

TEST_F(RedTeam, HostilePathsGetTheirAnswersAndNothingEscapes) {
  ASSERT_TRUE(Exists(kOutside + L"\\keep.txt")) << "link fixture missing";
  // Ways of writing the outside folder; every request through one is refused.
  const std::pair<std::string, std::wstring> outsideForms[] = {
      {"plain", kOutside},
      {"\\\\?\\ prefix", L"\\\\?\\" + kOutside},
      {"\\\\?\\UNC\\ prefix", L"\\\\?\\UNC\\localhost\\C$\\glint-outside"},
      {"\\??\\ prefix", L"\\??\\" + kOutside},
      {"\\\\.\\ prefix", L"\\\\.\\" + kOutside},
      {"GLOBALROOT", L"\\\\?\\GLOBALROOT\\??\\" + kOutside},
      {"administrative share", L"\\\\localhost\\C$\\glint-outside"},
      {"UNC by address", L"\\\\127.0.0.1\\C$\\glint-outside"},
      {"dot-dot after the root", s + L"\\..\\..\\..\\..\\..\\..\\glint-outside"},
      {"forward slashes", L"C:/glint-outside"},
      {"dot-dot with forward slashes", s + L"/../../../../../../glint-outside"},
      {"upper case", L"C:\\GLINT-OUTSIDE"},
      {"short name", ShortName(kOutside)},
      {"folder link inside the store", store + L"\\dirlink"},
  };
  std::vector<Case> cases;
  for (const auto& [form, f] : outsideForms) {
    for (auto [what, call] : {std::pair{"write new file, ", W(f + L"\\new.sol")},
                              {"overwrite file, ", W(f + L"\\keep.txt", "gone")},
                              {"writable, ", Ok(f + L"\\new.sol")},
                              {"delete, ", Del(f + L"\\keep.txt")},
                              {"read, ", R(f + L"\\keep.txt")},
                              {"list, ", Find(f + L"\\*")}}) {
      cases.push_back({what + form, call, kAnyFailure});
    }
  }
  const std::wstring local = L"<LOCAL_APPDATA>\\Kestrelink\\Glint Player\\#SharedObjects\\x.sol";
  std::vector<std::string> chunks;  // the image header in pieces of 7 bytes
  for (size_t at = 0; at < kImageHeader.size(); at += 7)
    chunks.push_back(kImageHeader.substr(at, 7));
  // clang-format off
  const std::vector<Case> specific = {
      // The player's own folders work, in every spelling of them.
      {"write in the store", W(s + L"\\ok.sol", "ok"), S_OK},
      {"write with \\\\?\\ prefix", W(L"\\\\?\\" + s + L"\\ok2.sol", "ok"), S_OK},
      {"write in another case", Ok(s + L"\\OK3.SOL"), S_OK},
      {"write through the store's short name", Ok(ShortName(store) + L"\\#SharedObjects\\ok4.sol"), S_OK},
      {"read back", R(s + L"\\ok.sol"), S_OK},
      {"list the store", Find(s + L"\\*"), S_OK},
      {"temporary folder takes any extension", Ok(temp + L"\\t.exe"), S_OK},
      // The store's boundaries.
      {"the root itself", Ok(store, 0), S_OK},
      {"sibling named like the root", Ok(store + L"2\\x.sol"), E_FAIL},
      {"sibling with a suffix", Ok(store + L"Evil\\x.sol"), E_FAIL},
      {"maker-site folder", W(store + L"\\glintmedia.example\\x.sol"), E_ACCESSDENIED},
      {"maker-site folder in upper case", Ok(store + L"\\GLINTMEDIA.EXAMPLE\\x.sol"), E_FAIL},
      {"executable extension", W(s + L"\\run.exe"), E_ACCESSDENIED},
      {"executable extension, upper case", Ok(s + L"\\RUN.EXE"), E_FAIL},
      {"script extension", Ok(s + L"\\run.bat"), E_FAIL},
      // Spellings the policy refuses outright.
      {"encoded dots", Ok(s + L"\\%2E%2E\\%2E%2E\\x.sol"), E_FAIL},
      {"encoded dot before a separator", Ok(s + L"\\a%2e\\x.sol"), E_FAIL},
      {"name starting with a dot", Ok(s + L"\\.hidden\\x.sol"), E_FAIL},
      {"alternate stream", W(s + L"\\ok.sol:evil"), E_ACCESSDENIED},
      {"alternate stream by type", Ok(s + L"\\ok.sol::$DATA"), E_FAIL},
      {"second colon", Ok(L"C:" + s.substr(2) + L"\\a:b.sol"), E_FAIL},
      {"wildcard in a write", Ok(s + L"\\*.sol"), E_FAIL},
      {"quote in a path", Ok(s + L"\\a\".sol"), E_FAIL},
      {"pipe in a path", Ok(s + L"\\a|b.sol"), E_FAIL},
      {"device CON", W(s + L"\\CON"), kAnyFailure},
      {"device NUL", W(s + L"\\NUL"), kAnyFailure},
      {"device COM1", W(s + L"\\COM1"), kAnyFailure},
      {"device with an extension", W(s + L"\\nul.sol"), kAnyFailure},
      {"embedded NUL", W(s + L"\\x.sol" + std::wstring(1, L'\0') + L"\\..\\..\\evil.sol"), E_INVALIDARG},
      // Long names in the store are judged like short ones; a path the policy
      // cannot expand in full is refused.
      {"260 characters", Ok(s + L"\\" + std::wstring(260, L'a') + L".sol"), S_OK},
      {"1040 characters", Ok(s + L"\\" + std::wstring(1040, L'a') + L".sol"), kAnyFailure},
      {"32767 characters", Ok(s + L"\\" + std::wstring(32767, L'a')), kAnyFailure},
      {"local application data without the switch", Ok(local), E_FAIL},
      {"marker not at the start", Ok(s + L"\\<LOCAL_APPDATA>\\x.sol"), E_FAIL},
      {"relative path", Ok(L"x.sol"), E_FAIL},
      {"empty path", Ok(L""), kAnyFailure},
      {"null path", [] { return B()->BrokerIsWritablePath(nullptr, 1); }, kAnyFailure},
      // Links made outside the broker.
      {"file link: write", W(store + L"\\filelink.sol", "gone"), E_ACCESSDENIED},
      {"file link: read", R(store + L"\\filelink.sol"), E_ACCESSDENIED},
      {"file link: delete", Del(store + L"\\filelink.sol"), E_FAIL},
      {"folder link: make a folder", MkDir(store + L"\\dirlink\\made"), E_FAIL},
      {"folder link: remove it", RmDir(store + L"\\dirlink"), E_FAIL},
      // Moves with either side outside, and flags outside 0x2F.
      {"move out", Mv(s + L"\\ok.sol", kOutside + L"\\moved.sol"), E_FAIL},
      {"move in", Mv(kOutside + L"\\keep.txt", s + L"\\stolen.sol"), E_FAIL},
      {"move through the folder link", Mv(s + L"\\ok.sol", store + L"\\dirlink\\moved.sol"), E_FAIL},
      {"move with the hard-link flag", Mv(s + L"\\ok.sol", s + L"\\h.sol", 0x10), E_FAIL},
      {"move with an unknown flag", Mv(s + L"\\ok.sol", s + L"\\h.sol", 0x40), E_FAIL},
      {"move with the top flag", Mv(s + L"\\ok.sol", s + L"\\h.sol", 0x80000000), E_FAIL},
      {"move a folder", Mv(s, store + L"\\elsewhere"), E_FAIL},
      {"move within the store", Mv(s + L"\\ok2.sol", s + L"\\renamed.sol", 1), S_OK},
      // Folders outside.
      {"make a folder outside", MkDir(kOutside + L"\\made"), E_FAIL},
      {"make a folder in the temporary folder", MkDir(temp + L"\\made"), E_FAIL},
      {"remove a folder outside", RmDir(kOutside + L"\\inner"), E_FAIL},
      {"delete history outside", History(kOutside), E_FAIL},
      // Executable images, however they are written.
      {"image in one write", W(s + L"\\one.dll", kImageHeader), E_FAIL},
      {"image in several writes", Steps(s + L"\\several.dll", chunks), E_FAIL},
      {"image header last", Steps(s + L"\\last.dll", {"@2", kImageHeader.substr(2), "@0", "MZ"}), E_FAIL},
      {"image after a seek past the end (zeros fill 66..99)", Steps(s + L"\\gap.dll", {kImageHeader.substr(0, 66), "@100", "tail"}), E_FAIL},
      {"not an image", W(s + L"\\fine.dll", "MZ" + std::string(100, 'y')), S_OK},
  };
  // clang-format on
  cases.insert(cases.end(), specific.begin(), specific.end());
  // A hard link inside the store to a file outside.
  const std::wstring hardLink = s + L"\\hard.sol";
  DeleteFileW(hardLink.c_str());
  if (CreateHardLinkW(hardLink.c_str(), (kOutside + L"\\keep.txt").c_str(), nullptr)) {
    cases.push_back({"hard link: write", W(hardLink, "gone"), E_ACCESSDENIED});
    cases.push_back({"hard link: move", Mv(hardLink, s + L"\\moved.sol"), E_FAIL});
  }
  // Taken after the link so that the snapshots compare what the suite did.
  const auto before = Outside();
  RunAll(cases);
  EXPECT_EQ(Outside(), before);
  for (const std::wstring& made :
       {std::wstring(L"C:\\evil.sol"), KnownFolder(CSIDL_APPDATA) + L"\\evil.sol", s + L"\\one.dll",
        s + L"\\several.dll", s + L"\\last.dll", s + L"\\gap.dll"}) {
    EXPECT_FALSE(Exists(made)) << Utf8Of(made.c_str());
  }
  EXPECT_TRUE(Exists(s + L"\\fine.dll"));
  DeleteFileW(hardLink.c_str());
  for (const wchar_t* left : {L"\\ok.sol", L"\\renamed.sol", L"\\fine.dll"})
    DeleteFileW((s + left).c_str());
}

// A step made from the Linux side between two broker calls (links Wine
// cannot make), in the prefix's drive C. Wine gives a Unix program no
// process handle to wait on, so the step's end is a marker file.
void OnLinux(const std::string& script) {
  const std::wstring marker = L"C:\\glint-linux-step.done";
  DeleteFileW(marker.c_str());
  std::string line = "cd $WINEPREFIX/drive_c && { " + script + "; } ; touch glint-linux-step.done";
  StartProgram(L"Z:\\bin\\sh -c \"" + std::wstring(line.begin(), line.end()) + L"\"");
  for (int i = 0; i < 200 && !Exists(marker); ++i) Sleep(25);
  ASSERT_TRUE(Exists(marker)) << script;
  DeleteFileW(marker.c_str());
}

// The quoted Linux form of a path on drive C, relative to drive_c.
std::string OnDriveC(const std::wstring& path) {
  std::string out;
  for (wchar_t c : path.substr(3)) out += c == L'\\' ? '/' : static_cast<char>(c);
  return "'" + out + "'";
}

// The escapes a boundary checked only on the path as given lets through:
// wildcards followed by "..", second names of outside files, links whose
// target does not exist yet, swaps between two calls, and moves deferred to
// the next start. Each is refused, and nothing outside changes.
TEST_F(RedTeam, WildcardsLinksSwapsAndDeferredMovesAreRefused) {
  ASSERT_TRUE(Exists(s + L"\\second-name.sol")) << "link fixture missing";
  auto before = Outside();
  const std::wstring up = L"\\..\\..\\..\\..\\..\\..\\..\\..", windows = L"\\windows\\*";
  ScratchFiles files;
  files.Folder(s + L"\\sub");
  // clang-format off
  const std::vector<Case> cases = {
      // Listing: a wildcard before "..", in any form of the system's.
      {"list: * then ..", Find(store + L"\\*" + up + windows), E_ACCESSDENIED},
      {"list: ? then ..", Find(store + L"\\?" + up + windows), E_ACCESSDENIED},
      {"list: < then ..", Find(store + L"\\<" + up + windows), E_ACCESSDENIED},
      {"list: > then ..", Find(s + L"\\>" + up + windows), E_ACCESSDENIED},
      {"list: quote then ..", Find(s + L"\\\"" + up + windows), E_ACCESSDENIED},
      {"list: wildcard in a folder name", Find(s + L"\\s*b\\*"), E_ACCESSDENIED},
      {"list: through the temporary folder", Find(temp + L"\\*" + up + windows), E_ACCESSDENIED},
      {"list: through the local marker", Find(L"<LOCAL_APPDATA>\\Kestrelink\\*" + up + windows), E_ACCESSDENIED},
      {"list: the outside by plain ..", Find(s + up + windows), E_ACCESSDENIED},
      {"list: ending at a folder link", Find(store + L"\\sub\\..\\dirlink\\*"), E_ACCESSDENIED},
      {"list: the store after ..", Find(s + L"\\sub\\..\\*"), S_OK},
      {"list: nothing matches", Find(s + L"\\no-such-*.sol"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
      // Second names of outside files, in both folders the player may write.
      {"hard link: read in the store", R(s + L"\\second-name.sol"), E_ACCESSDENIED},
      {"hard link: write in the store", W(s + L"\\second-name.sol", "gone"), E_ACCESSDENIED},
      {"hard link: append in the store", Append(s + L"\\second-name.sol"), E_ACCESSDENIED},
      {"hard link: read in the temporary folder", R(temp + L"\\second-name.tmp"), E_ACCESSDENIED},
      {"hard link: write in the temporary folder", W(temp + L"\\second-name.tmp", "gone"), E_ACCESSDENIED},
      {"hard link: attributes", Attr(s + L"\\second-name.sol"), E_ACCESSDENIED},
      // Links whose target does not exist yet: nothing is created through them.
      {"dangling link: write in the store", W(s + L"\\dangling.sol"), E_ACCESSDENIED},
      {"dangling link: append in the store", Append(s + L"\\dangling.sol"), E_ACCESSDENIED},
      {"dangling link: write in the temporary folder", W(temp + L"\\dangling.tmp"), E_ACCESSDENIED},
      // Attribute queries answer only inside the read rule.
      {"attributes: store file", Attr(s + L"\\attr.sol"), S_OK},
      {"attributes: temporary file", Attr(temp + L"\\attr.tmp"), S_OK},
      {"attributes: outside file", Attr(kOutside + L"\\keep.txt"), E_ACCESSDENIED},
      {"attributes: outside folder", Attr(kOutside), E_ACCESSDENIED},
      {"attributes: outside name of a second name", Attr(kOutside + L"\\hard-secret.txt"), E_ACCESSDENIED},
      {"attributes: system file", Attr(L"C:\\windows\\win.ini"), E_ACCESSDENIED},
      {"attributes: wildcard", Attr(s + L"\\*"), E_ACCESSDENIED},
      {"attributes: through a folder link", Attr(store + L"\\dirlink\\keep.txt"), E_ACCESSDENIED},
      {"attributes: through a file link", Attr(store + L"\\filelink.sol"), E_ACCESSDENIED},
      // Moves deferred to the next start, of either side, with or without replacing.
      {"deferred move", Mv(s + L"\\attr.sol", s + L"\\later.sol", 4), E_ACCESSDENIED},
      {"deferred move, replacing", Mv(s + L"\\attr.sol", s + L"\\later.sol", 5), E_ACCESSDENIED},
      {"deferred move into a folder link", Mv(s + L"\\attr.sol", store + L"\\dirlink\\later.sol", 4), E_ACCESSDENIED},
      {"deferred move out of a folder link", Mv(store + L"\\dirlink\\secret.sol", s + L"\\later.sol", 4), E_ACCESSDENIED},
      {"deferred move with write-through", Mv(temp + L"\\attr.tmp", temp + L"\\later.tmp", 0xC), E_ACCESSDENIED},
      // Deletes and renames act on the object, judged where it lies.
      {"delete through a file link", Del(store + L"\\filelink.sol"), E_FAIL},
      {"delete through a folder link", Del(store + L"\\dirlink\\keep.txt"), E_FAIL},
      {"remove a folder through a folder link", RmDir(store + L"\\dirlink\\inner"), E_FAIL},
      {"rename a second name", Mv(s + L"\\second-name.sol", s + L"\\m.sol"), E_FAIL},
      {"rename onto a file link, replacing", Mv(s + L"\\attr2.sol", store + L"\\filelink.sol", 1), S_OK},
  };
  // clang-format on
  files.File(s + L"\\attr.sol", "a");
  files.File(s + L"\\attr2.sol", "b");
  files.File(temp + L"\\attr.tmp", "t");
  const std::wstring pendingBefore = PendingRenames();
  RunAll(cases);
  EXPECT_EQ(PendingRenames(), pendingBefore) << "a move was deferred";
  // The renamed file replaced the link itself, not the file it led to.
  EXPECT_EQ(ReadAll(store + L"\\filelink.sol"), "b");
  OnLinux("ln -sfn " + OnDriveC(kOutside + L"\\secret.sol") + " " +
          OnDriveC(store + L"\\filelink.sol"));

  // Swaps from the Linux side between two writes of an image: the image goes,
  // through the cookie's handle, and the file now at the old name stays.
  const std::wstring folder = s + L"\\swap";
  struct Swap {
    std::string name;
    std::wstring opened, moved;  // the name written through; where the image is after the swap
    std::string swap;
  } swaps[] = {
      {"folder swapped for a link", folder + L"\\img.dll", folder + L"-moved\\img.dll",
       "mv " + OnDriveC(folder) + " " + OnDriveC(folder + L"-moved") + " && ln -sfn " +
           OnDriveC(kOutside + L"\\inner") + " " + OnDriveC(folder)},
      {"file name swapped for a link", s + L"\\img.dll", s + L"\\img-moved.dll",
       "mv " + OnDriveC(s + L"\\img.dll") + " " + OnDriveC(s + L"\\img-moved.dll") +
           " && ln -sfn " + OnDriveC(kOutside + L"\\inner\\img.dll") + " " +
           OnDriveC(s + L"\\img.dll")},
  };
  EXPECT_EQ(Outside(), before);
  files.File(kOutside + L"\\inner\\img.dll", "victim");
  before = Outside();
  for (const Swap& swap : swaps) {
    CreateDirectoryW(folder.c_str(), nullptr);
    ULONG cookie = 0;
    ASSERT_EQ(files_.Open(swap.opened, false, &cookie), S_OK) << swap.name;
    EXPECT_EQ(files_.WriteTo(cookie, kImageHeader.substr(0, 64)), S_OK) << swap.name;
    OnLinux(swap.swap);
    EXPECT_EQ(files_.WriteTo(cookie, kImageHeader.substr(64)), E_FAIL) << swap.name;
    files_.Close(cookie);
    EXPECT_EQ(Exists(swap.moved) ? ReadAll(swap.moved) : "", "") << swap.name << ": image left";
    OnLinux("rm -f " + OnDriveC(swap.opened) + " " + OnDriveC(swap.moved) + "; rm -rf " +
            OnDriveC(folder) + " " + OnDriveC(folder + L"-moved"));
  }
  EXPECT_EQ(Outside(), before);
}

// With the administrator's switch on (read when a broker object is made),
// the local application data folder is the store and the marker reaches it.
TEST_F(RedTeam, LocalApplicationDataSwitch) {
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemWow64DirectoryW(folder, MAX_PATH);
  if (length == 0) length = GetSystemDirectoryW(folder, MAX_PATH);
  const std::wstring admin = std::wstring(folder, length) + L"\\Kestreli";
  const std::wstring local = KnownFolder(CSIDL_LOCAL_APPDATA) + L"\\Kestrelink";
  const std::wstring marked = L"<LOCAL_APPDATA>\\Kestrelink\\Glint Player\\#SharedObjects\\x.sol";
  ScratchFiles files;
  for (const std::wstring& f : {admin, admin + L"\\Glint", local, local + L"\\Glint Player",
                                local + L"\\Glint Player\\#SharedObjects"}) {
    files.Folder(f);
  }
  files.File(admin + L"\\Glint\\gcs.cfg", "EnableLocalAppData=1\r\n");
  EXPECT_EQ(Ok(marked)(), E_FAIL);
  BrokerFiles switched;
  ASSERT_HRESULT_SUCCEEDED(CreateBroker(&switched.broker));
  EXPECT_EQ(switched.broker->BrokerIsWritablePath(Bstr(marked), 1), S_OK);
  EXPECT_EQ(switched.broker->BrokerIsWritablePath(Bstr(s + L"\\x.sol"), 1), E_FAIL);
  EXPECT_EQ(switched.Write(marked, ""), S_OK);
  EXPECT_TRUE(Exists(local + L"\\Glint Player\\#SharedObjects\\x.sol"));
  DeleteFileW((local + L"\\Glint Player\\#SharedObjects\\x.sol").c_str());
  switched.broker->Release();
}

// Ordinary file work, with the cookie rules.
TEST_F(RedTeam, CookiesAndFileOperations) {
  IGlintBroker6* b = B();
  EXPECT_EQ(b->BrokerCloseHandle(999999), E_INVALIDARG);  // unknown: changes nothing
  ULONG a = 0, r = 0, read = 0, attributes = 0, search = 0, written = 0;
  ASSERT_EQ(files_.Open(s + L"\\ten.sol", false, &a), S_OK);
  ASSERT_EQ(files_.WriteTo(a, "0123456789"), S_OK);
  // Files and searches share one sequence.
  UniqueBstr name;
  ASSERT_EQ(b->BrokerFindFirstFile(Bstr(s + L"\\*.sol"), name.Receive(), &attributes, &search),
            S_OK);
  ASSERT_EQ(files_.Open(s + L"\\ten.sol", true, &r), S_OK);
  EXPECT_EQ(search, a + 1);
  EXPECT_EQ(r, a + 2);
  // Reading 100 bytes from a 10-byte file: 10 read, 100 in the array.
  UniqueSafeArray data;
  ASSERT_EQ(b->BrokerReadFile(r, 100, &read, data.Receive()), S_OK);
  EXPECT_EQ(read, 10u);
  LONG upper = 0;
  SafeArrayGetUBound(data.Get(), 1, &upper);
  EXPECT_EQ(upper, 99);
  // A search cookie is not a file, and a file cookie is not a search.
  EXPECT_EQ(b->BrokerReadFile(search, 1, &read, data.Receive()), E_INVALIDARG);
  EXPECT_EQ(b->BrokerFindClose(r), E_INVALIDARG);
  EXPECT_EQ(b->BrokerFindClose(search), S_OK);
  EXPECT_EQ(b->BrokerFindClose(search), E_INVALIDARG);
  // A malformed array: two dimensions, or a lower bound of 1.
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  for (SAFEARRAY* bad :
       {SafeArrayCreate(VT_UI1, 2, bounds), SafeArrayCreateVectorEx(VT_UI1, 1, 4, 0)}) {
    EXPECT_EQ(b->BrokerWriteFile(a, bad, &written), E_FAIL);
    SafeArrayDestroy(bad);
  }
  EXPECT_EQ(b->BrokerReadFile(r, 0x7FFFFFFF, &read, data.Receive()), E_INVALIDARG);
  files_.Close(a);
  files_.Close(r);
  EXPECT_EQ(b->BrokerCloseHandle(a), E_INVALIDARG);
  EXPECT_EQ(Del(s + L"\\ten.sol")(), S_OK);
  EXPECT_EQ(Del(s + L"\\ten.sol")(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  // Drives: a letter without a colon is malformed; one without a volume answers no.
  EXPECT_EQ(b->BrokerIsDriveAvailable(Bstr(L"C")), E_INVALIDARG);
  EXPECT_EQ(b->BrokerIsDriveAvailable(Bstr(L"Q:")), S_FALSE);
}

// Deleting the browsing history empties the history folder and makes it
// again; a history tree with a link inside, or outside the player's
// folders, is left alone.
TEST_F(RedTeam, BrowsingHistoryIsDeletedOnlyWhereItLies) {
  const std::wstring kestrelink = KnownFolder(CSIDL_APPDATA) + L"\\Kestrelink";
  const std::wstring history = kestrelink + L"\\HistoryTest\\#SharedObjects";
  ScratchFiles files;
  for (const std::wstring& folder : {kestrelink + L"\\HistoryTest", history, history + L"\\site"})
    files.Folder(folder);
  files.File(history + L"\\site\\a.sol");
  EXPECT_EQ(History(kestrelink + L"\\HistoryTest")(), S_OK);
  EXPECT_FALSE(Exists(history + L"\\site\\a.sol"));
  EXPECT_TRUE(Exists(history));  // made again
  ASSERT_TRUE(Exists(kestrelink + L"\\HistoryLink\\#SharedObjects\\linked.sol"))
      << "link fixture missing";
  std::string before = ReadAll(kOutside + L"\\keep.txt");
  EXPECT_EQ(History(kestrelink + L"\\HistoryLink")(), E_FAIL);
  EXPECT_EQ(ReadAll(kOutside + L"\\keep.txt"), before);
  EXPECT_EQ(History(temp)(), E_FAIL);
}

}  // namespace

// Hostile paths and requests against a live broker, through COM as the
// sandboxed player would send them. Every case has the answer it must get,
// and after the suite nothing outside the player's folders has been created,
// written, moved, deleted or read.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"

namespace {

constexpr wchar_t kServer[] = L"glinthost.exe";
constexpr HRESULT kAnyFailure = static_cast<HRESULT>(0xFFFFFFFF);

const std::wstring kOutside = L"C:\\glint-outside";

struct Paths {
  std::wstring appData = KnownFolder(CSIDL_APPDATA);
  std::wstring localAppData = KnownFolder(CSIDL_LOCAL_APPDATA);
  std::wstring store = appData + L"\\Kestrelink\\Glint Player";
  std::wstring shared = store + L"\\#SharedObjects";
  std::wstring temp;
  Paths() {
    wchar_t buffer[MAX_PATH];
    GetTempPathW(MAX_PATH, buffer);
    temp = std::wstring(buffer) + L"Low";
    CreateDirectoryW(temp.c_str(), nullptr);
  }
};

std::wstring ShortName(const std::wstring& path) {
  wchar_t buffer[1024];
  DWORD length = GetShortPathNameW(path.c_str(), buffer, 1024);
  return length == 0 || length >= 1024 ? path : std::wstring(buffer, length);
}

// Everything under a folder, with contents, to compare before and after.
void Snapshot(const std::wstring& folder, std::map<std::wstring, std::string>& out) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring child = folder + L"\\" + name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out[child] = "<dir>";
      Snapshot(child, out);
    } else {
      out[child] = ReadAll(child);
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}

// One broker object for the whole suite, and the calls the cases make.
class RedTeam : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterTestBroker();
    ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
    ASSERT_HRESULT_SUCCEEDED(CreateBroker(&broker_));
  }
  static void TearDownTestSuite() {
    if (broker_ != nullptr) broker_->Release();
    broker_ = nullptr;
    CoUninitialize();
    WaitUntilGone(kServer, 5000);
    UnregisterTestBroker();
  }

  static HRESULT Open(const std::wstring& path, bool readOnly, ULONG* cookie,
                      bool truncate = true) {
    *cookie = 0;
    return broker_->BrokerCreateFile(Bstr(path), readOnly ? 1 : 0, truncate ? 1 : 0, cookie);
  }
  static HRESULT Write(ULONG cookie, const std::string& data) {
    SAFEARRAY* array = ByteArray(data);
    ULONG written = 0;
    HRESULT hr = broker_->BrokerWriteFile(cookie, array, &written);
    SafeArrayDestroy(array);
    return hr;
  }
  static HRESULT Seek(ULONG cookie, LONG to) {
    ULONG position = 0;
    return broker_->BrokerSetFilePointer(cookie, to, FILE_BEGIN, &position);
  }
  static void Close(ULONG cookie) {
    if (cookie != 0) broker_->BrokerCloseHandle(cookie);
  }
  // Opens for writing without emptying the file, and closes again.
  static HRESULT Append(const std::wstring& path) {
    ULONG cookie = 0;
    HRESULT hr = Open(path, false, &cookie, false);
    Close(cookie);
    return hr;
  }
  // Creates (truncating) and writes; answers the first failure.
  static HRESULT WriteFileAt(const std::wstring& path, const std::string& data) {
    ULONG cookie = 0;
    HRESULT hr = Open(path, false, &cookie);
    if (SUCCEEDED(hr)) hr = Write(cookie, data);
    Close(cookie);
    return hr;
  }
  static HRESULT ReadFileAt(const std::wstring& path) {
    ULONG cookie = 0;
    HRESULT hr = Open(path, true, &cookie);
    if (SUCCEEDED(hr)) {
      ULONG read = 0;
      SAFEARRAY* data = nullptr;
      hr = broker_->BrokerReadFile(cookie, 64, &read, &data);
      if (data != nullptr) SafeArrayDestroy(data);
    }
    Close(cookie);
    return hr;
  }
  static HRESULT Find(const std::wstring& pattern) {
    BSTR name = nullptr;
    ULONG attributes = 0, cookie = 0;
    HRESULT hr = broker_->BrokerFindFirstFile(Bstr(pattern), &name, &attributes, &cookie);
    SysFreeString(name);
    if (cookie != 0) broker_->BrokerFindClose(cookie);
    return hr;
  }
  static HRESULT Delete(const std::wstring& path) { return broker_->BrokerDeleteFile(Bstr(path)); }
  static HRESULT Writable(const std::wstring& path, LONG extension = 1) {
    return broker_->BrokerIsWritablePath(Bstr(path), extension);
  }
  static HRESULT Move(const std::wstring& from, const std::wstring& to, LONG flags = 0) {
    return broker_->BrokerMoveFileEx(Bstr(from), Bstr(to), flags);
  }
  // Attribute query; on a refusal every out-value must stay zero.
  static HRESULT Attributes(const std::wstring& path) {
    ULONG values[9];
    for (ULONG& value : values) value = 0xCCCCCCCC;
    HRESULT hr = broker_->BrokerGetFileAttributesEx(Bstr(path), &values[0], &values[1], &values[2],
                                                    &values[3], &values[4], &values[5], &values[6],
                                                    &values[7], &values[8]);
    if (FAILED(hr)) {
      for (ULONG value : values) {
        if (value != 0) return E_UNEXPECTED;
      }
    }
    return hr;
  }
  // The system's list of moves deferred to the next start.
  static std::vector<BYTE> PendingMoves() {
    std::vector<BYTE> data(1 << 16);
    DWORD size = static_cast<DWORD>(data.size());
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                     L"PendingFileRenameOperations", RRF_RT_ANY, nullptr, data.data(),
                     &size) != ERROR_SUCCESS) {
      size = 0;
    }
    data.resize(size);
    return data;
  }
  static HRESULT MakeFolder(const std::wstring& path) {
    return broker_->BrokerCreateDirectory(Bstr(path));
  }

  static IGlintBroker6* broker_;
};
IGlintBroker6* RedTeam::broker_ = nullptr;

struct Case {
  std::string name;
  std::function<HRESULT()> run;
  HRESULT expected;  // kAnyFailure: any failing result
};

// The MZ/PE header of a minimal image: "MZ", filler, offset 64, "PE\0\0".
std::string ImageHeader() {
  std::string image = "MZ" + std::string(58, 'x');
  image += std::string("\x40\x00\x00\x00", 4);
  image += std::string("PE\0\0", 4);
  return image;
}

TEST_F(RedTeam, HostilePathsGetTheirAnswersAndNothingEscapes) {
  Paths p;
  ASSERT_TRUE(Exists(kOutside + L"\\keep.txt")) << "link fixture missing";
  std::map<std::wstring, std::string> before;
  Snapshot(kOutside, before);
  const std::wstring s = p.shared;  // the player's own folder
  const std::wstring rel = L"..\\..\\..\\..\\..\\..\\glint-outside";
  const std::wstring relative = s + L"\\" + rel;

  // Ways of writing the outside folder; every one must be refused.
  std::vector<std::pair<std::string, std::wstring>> outsideForms = {
      {"plain", kOutside},
      {"\\\\?\\ prefix", L"\\\\?\\" + kOutside},
      {"\\\\?\\UNC\\ prefix", L"\\\\?\\UNC\\localhost\\C$\\glint-outside"},
      {"\\??\\ prefix", L"\\??\\" + kOutside},
      {"\\\\.\\ prefix", L"\\\\.\\" + kOutside},
      {"GLOBALROOT", L"\\\\?\\GLOBALROOT\\??\\" + kOutside},
      {"administrative share", L"\\\\localhost\\C$\\glint-outside"},
      {"UNC by address", L"\\\\127.0.0.1\\C$\\glint-outside"},
      {"dot-dot after the root", relative},
      {"forward slashes", L"C:/glint-outside"},
      {"dot-dot with forward slashes", s + L"/../../../../../../glint-outside"},
      {"upper case", L"C:\\GLINT-OUTSIDE"},
      {"short name", ShortName(kOutside)},
      {"folder link inside the store", p.store + L"\\dirlink"},
  };
  std::vector<Case> cases;
  for (const auto& [form, folder] : outsideForms) {
    cases.push_back({"write new file, " + form,
                     [=] { return WriteFileAt(folder + L"\\new.sol", "x"); }, kAnyFailure});
    cases.push_back({"overwrite file, " + form,
                     [=] { return WriteFileAt(folder + L"\\keep.txt", "gone"); }, kAnyFailure});
    cases.push_back(
        {"writable, " + form, [=] { return Writable(folder + L"\\new.sol"); }, kAnyFailure});
    cases.push_back(
        {"delete, " + form, [=] { return Delete(folder + L"\\keep.txt"); }, kAnyFailure});
    cases.push_back(
        {"read, " + form, [=] { return ReadFileAt(folder + L"\\keep.txt"); }, kAnyFailure});
    cases.push_back({"list, " + form, [=] { return Find(folder + L"\\*"); }, kAnyFailure});
  }

  const std::string image = ImageHeader();
  std::vector<Case> specific = {
      // The player's own folders work, in every spelling of them.
      {"write in the store", [=] { return WriteFileAt(s + L"\\ok.sol", "ok"); }, S_OK},
      {"write with \\\\?\\ prefix",
       [=] { return WriteFileAt(L"\\\\?\\" + s + L"\\ok2.sol", "ok"); }, S_OK},
      {"write in another case", [=] { return Writable(s + L"\\OK3.SOL"); }, S_OK},
      {"write through the store's short name",
       [=] { return Writable(ShortName(p.store) + L"\\#SharedObjects\\ok4.sol"); }, S_OK},
      {"read back", [=] { return ReadFileAt(s + L"\\ok.sol"); }, S_OK},
      {"list the store", [=] { return Find(s + L"\\*"); }, S_OK},
      {"temporary folder takes any extension", [=] { return Writable(p.temp + L"\\t.exe"); }, S_OK},
      // The store's boundaries.
      {"the root itself", [=] { return Writable(p.store, 0); }, S_OK},
      {"sibling named like the root", [=] { return Writable(p.store + L"2\\x.sol"); }, E_FAIL},
      {"sibling with a suffix", [=] { return Writable(p.store + L"Evil\\x.sol"); }, E_FAIL},
      {"maker-site folder",
       [=] { return WriteFileAt(p.store + L"\\glintmedia.example\\x.sol", "x"); }, E_ACCESSDENIED},
      {"maker-site folder in upper case",
       [=] { return Writable(p.store + L"\\GLINTMEDIA.EXAMPLE\\x.sol"); }, E_FAIL},
      {"executable extension", [=] { return WriteFileAt(s + L"\\run.exe", "x"); }, E_ACCESSDENIED},
      {"executable extension, upper case", [=] { return Writable(s + L"\\RUN.EXE"); }, E_FAIL},
      {"script extension", [=] { return Writable(s + L"\\run.bat"); }, E_FAIL},
      // Spellings the policy refuses outright.
      {"encoded dots", [=] { return Writable(s + L"\\%2E%2E\\%2E%2E\\x.sol"); }, E_FAIL},
      {"encoded dot before a separator", [=] { return Writable(s + L"\\a%2e\\x.sol"); }, E_FAIL},
      {"name starting with a dot", [=] { return Writable(s + L"\\.hidden\\x.sol"); }, E_FAIL},
      {"alternate stream", [=] { return WriteFileAt(s + L"\\ok.sol:evil", "x"); }, E_ACCESSDENIED},
      {"alternate stream by type", [=] { return Writable(s + L"\\ok.sol::$DATA"); }, E_FAIL},
      {"second colon", [=] { return Writable(L"C:" + s.substr(2) + L"\\a:b.sol"); }, E_FAIL},
      {"wildcard in a write", [=] { return Writable(s + L"\\*.sol"); }, E_FAIL},
      {"quote in a path", [=] { return Writable(s + L"\\a\".sol"); }, E_FAIL},
      {"pipe in a path", [=] { return Writable(s + L"\\a|b.sol"); }, E_FAIL},
      {"device CON", [=] { return WriteFileAt(s + L"\\CON", "x"); }, kAnyFailure},
      {"device NUL", [=] { return WriteFileAt(s + L"\\NUL", "x"); }, kAnyFailure},
      {"device COM1", [=] { return WriteFileAt(s + L"\\COM1", "x"); }, kAnyFailure},
      {"device with an extension", [=] { return WriteFileAt(s + L"\\nul.sol", "x"); }, kAnyFailure},
      {"embedded NUL",
       [=] {
         return WriteFileAt(s + L"\\x.sol" + std::wstring(1, L'\0') + L"\\..\\..\\evil.sol", "x");
       },
       E_INVALIDARG},
      // Long names inside the store are judged like short ones; a path the
      // policy cannot expand in full is refused.
      {"260 characters", [=] { return Writable(s + L"\\" + std::wstring(260, L'a') + L".sol"); },
       S_OK},
      {"1040 characters", [=] { return Writable(s + L"\\" + std::wstring(1040, L'a') + L".sol"); },
       kAnyFailure},
      {"32767 characters", [=] { return Writable(s + L"\\" + std::wstring(32767, L'a')); },
       kAnyFailure},
      {"local application data without the switch",
       [=] {
         return Writable(L"<LOCAL_APPDATA>\\Kestrelink\\Glint Player\\#SharedObjects\\x.sol");
       },
       E_FAIL},
      {"marker not at the start", [=] { return Writable(s + L"\\<LOCAL_APPDATA>\\x.sol"); },
       E_FAIL},
      {"relative path", [] { return Writable(L"x.sol"); }, E_FAIL},
      {"empty path", [] { return Writable(L""); }, kAnyFailure},
      {"null path", [] { return broker_->BrokerIsWritablePath(nullptr, 1); }, kAnyFailure},
      // Links made outside the broker.
      {"file link: write", [=] { return WriteFileAt(p.store + L"\\filelink.sol", "gone"); },
       E_ACCESSDENIED},
      {"file link: read", [=] { return ReadFileAt(p.store + L"\\filelink.sol"); }, E_ACCESSDENIED},
      {"file link: delete", [=] { return Delete(p.store + L"\\filelink.sol"); }, E_FAIL},
      {"folder link: make a folder", [=] { return MakeFolder(p.store + L"\\dirlink\\made"); },
       E_FAIL},
      {"folder link: remove it",
       [=] { return broker_->BrokerRemoveDirectory(Bstr(p.store + L"\\dirlink")); }, E_FAIL},
      // Moves with either side outside, and flags outside 0x2F.
      {"move out", [=] { return Move(s + L"\\ok.sol", kOutside + L"\\moved.sol"); }, E_FAIL},
      {"move in", [=] { return Move(kOutside + L"\\keep.txt", s + L"\\stolen.sol"); }, E_FAIL},
      {"move through the folder link",
       [=] { return Move(s + L"\\ok.sol", p.store + L"\\dirlink\\moved.sol"); }, E_FAIL},
      {"move with the hard-link flag", [=] { return Move(s + L"\\ok.sol", s + L"\\h.sol", 0x10); },
       E_FAIL},
      {"move with an unknown flag", [=] { return Move(s + L"\\ok.sol", s + L"\\h.sol", 0x40); },
       E_FAIL},
      {"move with the top flag", [=] { return Move(s + L"\\ok.sol", s + L"\\h.sol", 0x80000000); },
       E_FAIL},
      {"move a folder", [=] { return Move(s, p.store + L"\\elsewhere"); }, E_FAIL},
      {"move within the store", [=] { return Move(s + L"\\ok2.sol", s + L"\\renamed.sol", 1); },
       S_OK},
      // Folders outside.
      {"make a folder outside", [] { return MakeFolder(kOutside + L"\\made"); }, E_FAIL},
      {"make a folder in the temporary folder", [=] { return MakeFolder(p.temp + L"\\made"); },
       E_FAIL},
      {"remove a folder outside",
       [] { return broker_->BrokerRemoveDirectory(Bstr(kOutside + L"\\inner")); }, E_FAIL},
      {"delete history outside",
       [] { return broker_->BrokerDeleteBrowsingHistory(Bstr(kOutside)); }, E_FAIL},
      // Executable images, however they are written.
      {"image in one write", [=] { return WriteFileAt(s + L"\\one.dll", image); }, E_FAIL},
      {"image in several writes",
       [=] {
         ULONG c = 0;
         HRESULT hr = Open(s + L"\\several.dll", false, &c);
         for (size_t at = 0; SUCCEEDED(hr) && at < image.size(); at += 7)
           hr = Write(c, image.substr(at, 7));
         Close(c);
         return hr;
       },
       E_FAIL},
      {"image header last",
       [=] {
         ULONG c = 0;
         HRESULT hr = Open(s + L"\\last.dll", false, &c);
         if (SUCCEEDED(hr)) hr = Seek(c, 2);
         if (SUCCEEDED(hr)) hr = Write(c, image.substr(2));
         if (SUCCEEDED(hr)) hr = Seek(c, 0);
         if (SUCCEEDED(hr)) hr = Write(c, "MZ");
         Close(c);
         return hr;
       },
       E_FAIL},
      {"image after a seek past the end",
       [=] {
         ULONG c = 0;
         HRESULT hr = Open(s + L"\\gap.dll", false, &c);
         if (SUCCEEDED(hr)) hr = Write(c, image.substr(0, 66));  // up to "PE"
         if (SUCCEEDED(hr)) hr = Seek(c, 100);                   // zeros fill 66..99
         if (SUCCEEDED(hr)) hr = Write(c, "tail");
         Close(c);
         return hr;
       },
       E_FAIL},
      {"not an image", [=] { return WriteFileAt(s + L"\\fine.dll", "MZ" + std::string(100, 'y')); },
       S_OK},
  };
  cases.insert(cases.end(), specific.begin(), specific.end());

  // A hard link inside the store to a file outside.
  std::wstring hardLink = s + L"\\hard.sol";
  DeleteFileW(hardLink.c_str());
  if (CreateHardLinkW(hardLink.c_str(), (kOutside + L"\\keep.txt").c_str(), nullptr)) {
    cases.push_back(
        {"hard link: write", [=] { return WriteFileAt(hardLink, "gone"); }, E_ACCESSDENIED});
    cases.push_back(
        {"hard link: move", [=] { return Move(hardLink, s + L"\\moved.sol"); }, E_FAIL});
  }
  // Refreshed so that snapshots compare what the suite did, not the link.
  before.clear();
  Snapshot(kOutside, before);

  EXPECT_GE(cases.size(), 80u);
  for (const Case& c : cases) {
    HRESULT hr = c.run();
    if (c.expected == kAnyFailure) {
      EXPECT_TRUE(FAILED(hr)) << c.name << ": " << Hex(hr);
    } else {
      EXPECT_EQ(Hex(hr), Hex(c.expected)) << c.name;
    }
  }

  // Zero escapes: the outside folder is exactly as it was, and nothing was
  // made next to it.
  std::map<std::wstring, std::string> after;
  Snapshot(kOutside, after);
  EXPECT_EQ(after, before);
  EXPECT_FALSE(Exists(L"C:\\evil.sol"));
  EXPECT_FALSE(Exists(p.appData + L"\\evil.sol"));
  EXPECT_FALSE(Exists(s + L"\\one.dll"));
  EXPECT_FALSE(Exists(s + L"\\several.dll"));
  EXPECT_FALSE(Exists(s + L"\\last.dll"));
  EXPECT_FALSE(Exists(s + L"\\gap.dll"));
  EXPECT_TRUE(Exists(s + L"\\fine.dll"));
  std::cout << cases.size() << " hostile paths and requests\n";
  DeleteFileW(hardLink.c_str());
}

// A step made from the Linux side between two broker calls: links Wine
// cannot make, swapped in for a folder or a file name. Paths are relative to
// the prefix's drive C.
void OnLinux(const std::string& script) {
  const std::wstring marker = L"C:\\glint-linux-step.done";
  DeleteFileW(marker.c_str());
  std::string line = "cd $WINEPREFIX/drive_c && { " + script + "; } ; touch glint-linux-step.done";
  std::wstring command = L"Z:\\bin\\sh -c \"" + std::wstring(line.begin(), line.end()) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(L"Z:\\bin\\sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &process));
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // A Linux process cannot be waited for from here: its last step is seen.
  for (int i = 0; i < 200 && !Exists(marker); ++i) Sleep(25);
  ASSERT_TRUE(Exists(marker)) << script;
  DeleteFileW(marker.c_str());
}

// The prefix-relative Linux form of a path on drive C.
std::string OnDriveC(const std::wstring& path) {
  std::string out;
  for (wchar_t c : path.substr(3)) out += c == L'\\' ? '/' : static_cast<char>(c);
  return "'" + out + "'";
}

// The classes of escape that a boundary checked only on the path as given
// lets through: wildcards followed by "..", second names of outside files,
// links whose target does not exist yet, swaps between two calls, and moves
// deferred to the next start. Each is refused, and nothing outside changes.
TEST_F(RedTeam, WildcardsLinksSwapsAndDeferredMovesAreRefused) {
  Paths p;
  const std::wstring s = p.shared;
  ASSERT_TRUE(Exists(s + L"\\second-name.sol")) << "link fixture missing";
  std::map<std::wstring, std::string> before;
  Snapshot(kOutside, before);
  const std::wstring up = L"\\..\\..\\..\\..\\..\\..\\..\\..";
  const std::wstring windows = L"\\windows\\*";
  ScratchFiles files;
  files.Folder(s + L"\\sub");

  std::vector<Case> cases = {
      // Listing: a wildcard before "..", in any form of the system's.
      {"list: * then ..", [=] { return Find(p.store + L"\\*" + up + windows); }, E_ACCESSDENIED},
      {"list: ? then ..", [=] { return Find(p.store + L"\\?" + up + windows); }, E_ACCESSDENIED},
      {"list: < then ..", [=] { return Find(p.store + L"\\<" + up + windows); }, E_ACCESSDENIED},
      {"list: > then ..", [=] { return Find(s + L"\\>" + up + windows); }, E_ACCESSDENIED},
      {"list: quote then ..", [=] { return Find(s + L"\\\"" + up + windows); }, E_ACCESSDENIED},
      {"list: wildcard in a folder name", [=] { return Find(s + L"\\s*b\\*"); }, E_ACCESSDENIED},
      {"list: through the temporary folder", [=] { return Find(p.temp + L"\\*" + up + windows); },
       E_ACCESSDENIED},
      {"list: through the local marker",
       [=] { return Find(L"<LOCAL_APPDATA>\\Kestrelink\\*" + up + windows); }, E_ACCESSDENIED},
      {"list: the outside by plain ..", [=] { return Find(s + up + windows); }, E_ACCESSDENIED},
      {"list: ending at a folder link", [=] { return Find(p.store + L"\\sub\\..\\dirlink\\*"); },
       E_ACCESSDENIED},
      {"list: the store after ..", [=] { return Find(s + L"\\sub\\..\\*"); }, S_OK},
      {"list: nothing matches", [=] { return Find(s + L"\\no-such-*.sol"); },
       HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
      // Second names of outside files, in both folders the player may write.
      {"hard link: read in the store", [=] { return ReadFileAt(s + L"\\second-name.sol"); },
       E_ACCESSDENIED},
      {"hard link: write in the store",
       [=] { return WriteFileAt(s + L"\\second-name.sol", "gone"); }, E_ACCESSDENIED},
      {"hard link: append in the store", [=] { return Append(s + L"\\second-name.sol"); },
       E_ACCESSDENIED},
      {"hard link: read in the temporary folder",
       [=] { return ReadFileAt(p.temp + L"\\second-name.tmp"); }, E_ACCESSDENIED},
      {"hard link: write in the temporary folder",
       [=] { return WriteFileAt(p.temp + L"\\second-name.tmp", "gone"); }, E_ACCESSDENIED},
      {"hard link: attributes", [=] { return Attributes(s + L"\\second-name.sol"); },
       E_ACCESSDENIED},
      // Links whose target does not exist yet: nothing is created through them.
      {"dangling link: write in the store", [=] { return WriteFileAt(s + L"\\dangling.sol", "x"); },
       E_ACCESSDENIED},
      {"dangling link: append in the store", [=] { return Append(s + L"\\dangling.sol"); },
       E_ACCESSDENIED},
      {"dangling link: write in the temporary folder",
       [=] { return WriteFileAt(p.temp + L"\\dangling.tmp", "x"); }, E_ACCESSDENIED},
      // Attribute queries answer only inside the read rule.
      {"attributes: store file", [=] { return Attributes(s + L"\\attr.sol"); }, S_OK},
      {"attributes: temporary file", [=] { return Attributes(p.temp + L"\\attr.tmp"); }, S_OK},
      {"attributes: outside file", [] { return Attributes(kOutside + L"\\keep.txt"); },
       E_ACCESSDENIED},
      {"attributes: outside folder", [] { return Attributes(kOutside); }, E_ACCESSDENIED},
      {"attributes: outside name of a second name",
       [] { return Attributes(kOutside + L"\\hard-secret.txt"); }, E_ACCESSDENIED},
      {"attributes: system file", [] { return Attributes(L"C:\\windows\\win.ini"); },
       E_ACCESSDENIED},
      {"attributes: wildcard", [=] { return Attributes(s + L"\\*"); }, E_ACCESSDENIED},
      {"attributes: through a folder link",
       [=] { return Attributes(p.store + L"\\dirlink\\keep.txt"); }, E_ACCESSDENIED},
      {"attributes: through a file link", [=] { return Attributes(p.store + L"\\filelink.sol"); },
       E_ACCESSDENIED},
      // Moves deferred to the next start, of either side, with or without
      // replacing.
      {"deferred move", [=] { return Move(s + L"\\attr.sol", s + L"\\later.sol", 4); },
       E_ACCESSDENIED},
      {"deferred move, replacing", [=] { return Move(s + L"\\attr.sol", s + L"\\later.sol", 5); },
       E_ACCESSDENIED},
      {"deferred move into a folder link",
       [=] { return Move(s + L"\\attr.sol", p.store + L"\\dirlink\\later.sol", 4); },
       E_ACCESSDENIED},
      {"deferred move out of a folder link",
       [=] { return Move(p.store + L"\\dirlink\\secret.sol", s + L"\\later.sol", 4); },
       E_ACCESSDENIED},
      {"deferred move with write-through",
       [=] { return Move(p.temp + L"\\attr.tmp", p.temp + L"\\later.tmp", 0xC); }, E_ACCESSDENIED},
      // Deletes and renames act on the object, judged where it lies.
      {"delete through a file link", [=] { return Delete(p.store + L"\\filelink.sol"); }, E_FAIL},
      {"delete through a folder link", [=] { return Delete(p.store + L"\\dirlink\\keep.txt"); },
       E_FAIL},
      {"remove a folder through a folder link",
       [=] { return broker_->BrokerRemoveDirectory(Bstr(p.store + L"\\dirlink\\inner")); }, E_FAIL},
      {"rename a second name", [=] { return Move(s + L"\\second-name.sol", s + L"\\m.sol"); },
       E_FAIL},
      {"rename onto a file link, replacing",
       [=] { return Move(s + L"\\attr2.sol", p.store + L"\\filelink.sol", 1); }, S_OK},
  };
  ASSERT_EQ(WriteFileAt(s + L"\\attr.sol", "a"), S_OK);
  ASSERT_EQ(WriteFileAt(s + L"\\attr2.sol", "b"), S_OK);
  ASSERT_EQ(WriteFileAt(p.temp + L"\\attr.tmp", "t"), S_OK);
  std::vector<BYTE> pendingBefore = PendingMoves();
  for (const Case& c : cases) EXPECT_EQ(Hex(c.run()), Hex(c.expected)) << c.name;
  EXPECT_EQ(PendingMoves(), pendingBefore) << "a move was deferred";
  // The renamed file replaced the link itself, not the file it led to.
  EXPECT_EQ(ReadAll(p.store + L"\\filelink.sol"), "b");
  OnLinux("ln -sfn " + OnDriveC(kOutside + L"\\secret.sol") + " " +
          OnDriveC(p.store + L"\\filelink.sol"));

  // Swaps made from the Linux side between two writes of an image: the
  // image goes, through the cookie's handle, and the file now at the old
  // name (outside) stays as it was.
  const std::string image = ImageHeader();
  struct Swap {
    std::string name;
    std::wstring opened;  // the name the image is written through
    std::wstring moved;   // where the image really is after the swap
    std::string swap;
  };
  const std::wstring folder = s + L"\\swap";
  std::vector<Swap> swaps = {
      {"folder swapped for a link", folder + L"\\img.dll", folder + L"-moved\\img.dll",
       "mv " + OnDriveC(folder) + " " + OnDriveC(folder + L"-moved") + " && ln -sfn " +
           OnDriveC(kOutside + L"\\inner") + " " + OnDriveC(folder)},
      {"file name swapped for a link", s + L"\\img.dll", s + L"\\img-moved.dll",
       "mv " + OnDriveC(s + L"\\img.dll") + " " + OnDriveC(s + L"\\img-moved.dll") +
           " && ln -sfn " + OnDriveC(kOutside + L"\\inner\\img.dll") + " " +
           OnDriveC(s + L"\\img.dll")},
  };
  files.File(kOutside + L"\\inner\\img.dll", "victim");
  before.clear();
  Snapshot(kOutside, before);
  for (const Swap& swap : swaps) {
    CreateDirectoryW(folder.c_str(), nullptr);
    ULONG cookie = 0;
    ASSERT_EQ(Open(swap.opened, false, &cookie), S_OK) << swap.name;
    EXPECT_EQ(Write(cookie, image.substr(0, 64)), S_OK) << swap.name;
    OnLinux(swap.swap);
    EXPECT_EQ(Write(cookie, image.substr(64)), E_FAIL) << swap.name;
    Close(cookie);
    std::string left = Exists(swap.moved) ? ReadAll(swap.moved) : "";
    EXPECT_EQ(left, "") << swap.name << ": the image is still there";
    OnLinux("rm -f " + OnDriveC(swap.opened) + " " + OnDriveC(swap.moved) + "; rm -rf " +
            OnDriveC(folder) + " " + OnDriveC(folder + L"-moved"));
  }

  std::map<std::wstring, std::string> after;
  Snapshot(kOutside, after);
  EXPECT_EQ(after, before);
  EXPECT_FALSE(Exists(kOutside + L"\\made-through-link.sol"));
  EXPECT_FALSE(Exists(kOutside + L"\\made-through-link.tmp"));
  EXPECT_EQ(ReadAll(kOutside + L"\\hard-secret.txt"), "hard secret\n");
  for (const wchar_t* name : {L"\\attr.sol", L"\\later.sol", L"\\m.sol"}) {
    DeleteFileW((s + name).c_str());
  }
  DeleteFileW((p.temp + L"\\attr.tmp").c_str());
  std::cout << cases.size() + swaps.size() << " wildcard, link, swap and deferred-move cases\n";
}

// With the administrator's switch on, the local application data folder is
// the store; the marker reaches it, and the roaming store is no longer it.
TEST_F(RedTeam, LocalApplicationDataSwitch) {
  Paths p;
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemWow64DirectoryW(folder, MAX_PATH);
  if (length == 0) length = GetSystemDirectoryW(folder, MAX_PATH);
  std::wstring kestreli = std::wstring(folder, length) + L"\\Kestreli";
  ScratchFiles files;
  files.Folder(kestreli);
  files.Folder(kestreli + L"\\Glint");
  files.File(kestreli + L"\\Glint\\gcs.cfg", "EnableLocalAppData=1\r\n");
  const std::wstring local = p.localAppData + L"\\Kestrelink";
  files.Folder(local);
  files.Folder(local + L"\\Glint Player");
  files.Folder(local + L"\\Glint Player\\#SharedObjects");
  const std::wstring marked = L"<LOCAL_APPDATA>\\Kestrelink\\Glint Player\\#SharedObjects\\x.sol";
  // The switch is read when a broker object is made.
  EXPECT_EQ(Writable(marked), E_FAIL);
  IGlintBroker6* switched = nullptr;
  ASSERT_HRESULT_SUCCEEDED(CreateBroker(&switched));
  EXPECT_EQ(switched->BrokerIsWritablePath(Bstr(marked), 1), S_OK);
  EXPECT_EQ(switched->BrokerIsWritablePath(Bstr(p.shared + L"\\x.sol"), 1), E_FAIL);
  ULONG cookie = 0;
  EXPECT_EQ(switched->BrokerCreateFile(Bstr(marked), 0, 1, &cookie), S_OK);
  switched->BrokerCloseHandle(cookie);
  EXPECT_TRUE(Exists(local + L"\\Glint Player\\#SharedObjects\\x.sol"));
  DeleteFileW((local + L"\\Glint Player\\#SharedObjects\\x.sol").c_str());
  switched->Release();
}

// Ordinary file work, with the cookie rules.
TEST_F(RedTeam, CookiesAndFileOperations) {
  Paths p;
  const std::wstring s = p.shared;
  // Closing an unknown cookie changes nothing.
  EXPECT_EQ(broker_->BrokerCloseHandle(999999), E_INVALIDARG);
  ULONG a = 0, b = 0;
  ASSERT_EQ(Open(s + L"\\ten.sol", false, &a), S_OK);
  ASSERT_EQ(Write(a, "0123456789"), S_OK);
  // Files and searches share one sequence.
  BSTR name = nullptr;
  ULONG attributes = 0, search = 0;
  ASSERT_EQ(broker_->BrokerFindFirstFile(Bstr(s + L"\\*.sol"), &name, &attributes, &search), S_OK);
  SysFreeString(name);
  ASSERT_EQ(Open(s + L"\\ten.sol", true, &b), S_OK);
  EXPECT_EQ(search, a + 1);
  EXPECT_EQ(b, a + 2);
  // Reading 100 bytes from a 10-byte file: 10 read, 100 in the array.
  ULONG read = 0;
  SAFEARRAY* data = nullptr;
  ASSERT_EQ(broker_->BrokerReadFile(b, 100, &read, &data), S_OK);
  EXPECT_EQ(read, 10u);
  LONG upper = 0;
  SafeArrayGetUBound(data, 1, &upper);
  EXPECT_EQ(upper, 99);
  SafeArrayDestroy(data);
  data = nullptr;
  // A search cookie is not a file, and a file cookie is not a search.
  EXPECT_EQ(broker_->BrokerReadFile(search, 1, &read, &data), E_INVALIDARG);
  EXPECT_EQ(broker_->BrokerFindClose(b), E_INVALIDARG);
  EXPECT_EQ(broker_->BrokerFindClose(search), S_OK);
  EXPECT_EQ(broker_->BrokerFindClose(search), E_INVALIDARG);
  // A malformed array: two dimensions, or a lower bound of 1.
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  SAFEARRAY* square = SafeArrayCreate(VT_UI1, 2, bounds);
  ULONG written = 0;
  EXPECT_EQ(broker_->BrokerWriteFile(a, square, &written), E_FAIL);
  SafeArrayDestroy(square);
  SAFEARRAY* shifted = SafeArrayCreateVectorEx(VT_UI1, 1, 4, nullptr);
  EXPECT_EQ(broker_->BrokerWriteFile(a, shifted, &written), E_FAIL);
  SafeArrayDestroy(shifted);
  EXPECT_EQ(broker_->BrokerReadFile(b, 0x7FFFFFFF, &read, &data), E_INVALIDARG);
  Close(a);
  Close(b);
  EXPECT_EQ(broker_->BrokerCloseHandle(a), E_INVALIDARG);
  EXPECT_EQ(Delete(s + L"\\ten.sol"), S_OK);
  EXPECT_EQ(Delete(s + L"\\ten.sol"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  // Drives: a letter without a colon is malformed; a drive without a volume answers no.
  EXPECT_EQ(broker_->BrokerIsDriveAvailable(Bstr(L"C")), E_INVALIDARG);
  EXPECT_EQ(broker_->BrokerIsDriveAvailable(Bstr(L"C:")), S_OK);
  EXPECT_EQ(broker_->BrokerIsDriveAvailable(Bstr(L"Q:")), S_FALSE);
}

// Deleting the browsing history empties the history folder and makes it
// again; a history tree with a link inside is left alone.
TEST_F(RedTeam, BrowsingHistoryIsDeletedOnlyWhereItLies) {
  Paths p;
  const std::wstring kestrelink = p.appData + L"\\Kestrelink";
  ScratchFiles files;
  files.Folder(kestrelink + L"\\HistoryTest");
  const std::wstring history = kestrelink + L"\\HistoryTest\\#SharedObjects";
  CreateDirectoryW(history.c_str(), nullptr);
  CreateDirectoryW((history + L"\\site").c_str(), nullptr);
  HANDLE file = CreateFileW((history + L"\\site\\a.sol").c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, 0, nullptr);
  CloseHandle(file);
  EXPECT_EQ(broker_->BrokerDeleteBrowsingHistory(Bstr(kestrelink + L"\\HistoryTest")), S_OK);
  EXPECT_FALSE(Exists(history + L"\\site\\a.sol"));
  EXPECT_TRUE(Exists(history));  // made again
  RemoveDirectoryW(history.c_str());

  ASSERT_TRUE(Exists(kestrelink + L"\\HistoryLink\\#SharedObjects\\linked.sol"))
      << "link fixture missing";
  std::string before = ReadAll(kOutside + L"\\keep.txt");
  EXPECT_EQ(broker_->BrokerDeleteBrowsingHistory(Bstr(kestrelink + L"\\HistoryLink")), E_FAIL);
  EXPECT_EQ(ReadAll(kOutside + L"\\keep.txt"), before);
  EXPECT_TRUE(Exists(kOutside + L"\\keep.txt"));
  // Outside the player's folders nothing is deleted at all.
  EXPECT_EQ(broker_->BrokerDeleteBrowsingHistory(Bstr(p.temp)), E_FAIL);
}

}  // namespace

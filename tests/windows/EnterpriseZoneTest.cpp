// Enterprise identities, file protection and zone marking, with and without
// the system facilities behind them. Wine has none of them; stand-ins built
// with the tests (stubs/) are copied into the prefix's system folder or
// registered as COM classes for the tests that need them and removed again.
// Cases go through a live broker started by COM, as the player uses it; the
// broker is a separate process, so the stand-ins are configured through the
// registry (stubs/StandInSettings.h). Wine gives a COM server no call context,
// so a live broker never sees a caller with identities: those cases call a
// broker object in a fresh process of this program with a caller's context.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"
#include "broker/CoGlintBrokerServer.h"
#include "broker/services/EnterpriseData.h"
#include "foundation/Win32Handles.h"
#include "stubs/StandInSettings.h"

namespace {

constexpr wchar_t kServer[] = L"glinthost.exe";
constexpr wchar_t kNoFile[] = L"<none>";

std::wstring SystemFile(const wchar_t* name) {
  return KnownFolder(CSIDL_SYSTEM) + L"\\" + name;
}

// Content of a file, or kNoFile (as UTF-8) when there is none.
std::string Content(const std::wstring& path) {
  return Exists(path) ? ReadAll(path) : Utf8Of(kNoFile);
}
std::string ZoneOf(const std::wstring& path) {
  return Content(path + standin::kZoneSuffix);
}
std::string ZoneText(int zone) {
  return "[ZoneTransfer]\r\nZoneId=" + std::to_string(zone) + "\r\n";
}
const std::string kNone = Utf8Of(kNoFile);

void WriteBytes(const std::wstring& path, const std::string& content) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file) << "error " << GetLastError();
  DWORD written = 0;
  WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
}

void RemoveFile(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(path.c_str());
}

// The player's folders in this prefix, and a folder outside them.
struct Places {
  std::wstring store = KnownFolder(CSIDL_APPDATA) + L"\\Kestrelink\\Glint Player";
  std::wstring settings = store + L"\\#SharedObjects";
  std::wstring outside = L"C:\\glint-edp-outside";
  // Left by the link fixture (scripts/edp-fixture.sh).
  std::wstring link = settings + L"\\edp-filelink.sol";
  std::wstring linkTarget = L"C:\\glint-edp-linked\\target.sol";
};

// The stand-ins of one test: system libraries copied into the prefix's
// system folder, the COM classes registered, and the registry values they
// answer from. Everything is removed again at the end; a broker that loaded
// them must have ended before (a mapped library cannot be deleted).
class StandIns {
 public:
  StandIns() { ClearSettings(); }
  ~StandIns() {
    for (const std::wstring& file : installed_) {
      RemoveFile(file);
      EXPECT_FALSE(Exists(file)) << Utf8Of(file.c_str()) << " is still installed";
    }
    if (classes_) {
      RegDeleteTreeW(HKEY_LOCAL_MACHINE, standin::kPersistentZoneIdentifierKey);
      RegDeleteTreeW(HKEY_LOCAL_MACHINE, standin::kAttachmentServicesKey);
    }
    ClearSettings();
  }
  StandIns(const StandIns&) = delete;
  StandIns& operator=(const StandIns&) = delete;

  void Srpapi() { Install(L"srpapi-standin.dll", L"srpapi.dll"); }
  void Efswrt() { Install(L"efswrt-standin.dll", L"efswrt.dll"); }
  void ZoneClasses() {
    classes_ = true;
    const std::wstring server = ProgramFolder() + L"\\zone-standin.dll";
    for (const wchar_t* key :
         {standin::kPersistentZoneIdentifierKey, standin::kAttachmentServicesKey}) {
      std::wstring inproc = std::wstring(key) + L"\\InprocServer32";
      ASSERT_EQ(SetText(inproc, L"", server), ERROR_SUCCESS);
      ASSERT_EQ(SetText(inproc, L"ThreadingModel", L"Both"), ERROR_SUCCESS);
    }
  }

  void Ids(const wchar_t* name, const std::vector<std::wstring>& ids) {
    std::wstring list;
    for (const std::wstring& id : ids) list += id + L'\0';
    list += L'\0';
    if (ids.empty()) list += L'\0';
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, standin::kKey, name, REG_MULTI_SZ, list.data(),
                              static_cast<DWORD>(list.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  void Result(const wchar_t* name, HRESULT value) {
    DWORD data = static_cast<DWORD>(value);
    ASSERT_EQ(
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, standin::kKey, name, REG_DWORD, &data, sizeof data),
        ERROR_SUCCESS);
  }
  void Text(const wchar_t* name, const std::wstring& value) {
    ASSERT_EQ(SetText(standin::kKey, name, value), ERROR_SUCCESS);
  }
  void Remove(const wchar_t* name) { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, standin::kKey, name); }

  // A copy left by an interrupted run is recognised by its content.
  static void RemoveLeftovers() {
    for (auto [built, system] : {std::pair{L"srpapi-standin.dll", L"srpapi.dll"},
                                 std::pair{L"efswrt-standin.dll", L"efswrt.dll"}}) {
      std::wstring copy = SystemFile(system);
      if (Exists(copy) && ReadAll(copy) == ReadAll(ProgramFolder() + L"\\" + built)) {
        RemoveFile(copy);
      }
    }
    if (KeyExists(standin::kPersistentZoneIdentifierKey) &&
        KeyExists(standin::kAttachmentServicesKey)) {
      RegDeleteTreeW(HKEY_LOCAL_MACHINE, standin::kPersistentZoneIdentifierKey);
      RegDeleteTreeW(HKEY_LOCAL_MACHINE, standin::kAttachmentServicesKey);
    }
  }
  static bool KeyExists(const wchar_t* key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
  }

 private:
  static LSTATUS SetText(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  static void ClearSettings() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, standin::kKey); }
  void Install(const wchar_t* built, const wchar_t* system) {
    std::wstring target = SystemFile(system);
    ASSERT_FALSE(Exists(target)) << Utf8Of(system) << " already in the system folder";
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\" + built).c_str(), target.c_str(), TRUE))
        << "error " << GetLastError();
    installed_.push_back(target);
  }

  std::vector<std::wstring> installed_;
  bool classes_ = false;
};

// The player's calls on a broker object, in or out of this process.
class BrokerCalls {
 public:
  HRESULT Open(const std::wstring& path, bool readOnly, ULONG* cookie) {
    *cookie = 0;
    return broker_->BrokerCreateFile(Bstr(path), readOnly ? 1 : 0, 1, cookie);
  }
  HRESULT WriteTo(ULONG cookie, const std::string& data) {
    SAFEARRAY* array = ByteArray(data);
    ULONG written = 0;
    HRESULT hr = broker_->BrokerWriteFile(cookie, array, &written);
    SafeArrayDestroy(array);
    return hr;
  }
  // Opens for writing (truncating), writes, closes; the first failure.
  HRESULT Write(const std::wstring& path, const std::string& data, ULONG* cookie = nullptr) {
    ULONG opened = 0;
    HRESULT hr = Open(path, false, &opened);
    if (cookie != nullptr) *cookie = opened;
    if (FAILED(hr)) return hr;
    hr = WriteTo(opened, data);
    broker_->BrokerCloseHandle(opened);
    return hr;
  }
  HRESULT Read(const std::wstring& path, std::string* content) {
    content->clear();
    ULONG cookie = 0;
    HRESULT hr = Open(path, true, &cookie);
    if (FAILED(hr)) return hr;
    ULONG read = 0;
    SAFEARRAY* data = nullptr;
    hr = broker_->BrokerReadFile(cookie, 4096, &read, &data);
    if (data != nullptr) {
      void* raw = nullptr;
      SafeArrayAccessData(data, &raw);
      content->assign(static_cast<const char*>(raw), read);
      SafeArrayUnaccessData(data);
      SafeArrayDestroy(data);
    }
    broker_->BrokerCloseHandle(cookie);
    return hr;
  }

 protected:
  IGlintBroker6* broker_ = nullptr;
};

// One broker object in its own server process, started by COM. The process
// reads its own enterprise identities and binds the protection function when
// the object is made, so each configuration gets a new session. The server
// ends when the object is released; the session waits for that.
class Session : public BrokerCalls {
 public:
  Session() { created_ = CreateBroker(&broker_); }
  ~Session() {
    if (broker_ != nullptr) broker_->Release();
    EXPECT_TRUE(WaitUntilGone(kServer, 10000)) << "the broker did not end";
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  HRESULT Created() const { return created_; }

 private:
  HRESULT created_ = E_FAIL;
};

// A broker object in this process, called with a caller's context.
class LocalBroker : public BrokerCalls {
 public:
  LocalBroker() : server_(new CoGlintBrokerServer(nullptr)) { broker_ = server_; }
  ~LocalBroker() {
    server_->Release();
    // The broker reverted what it impersonated.
    EXPECT_FALSE(caller_.IsImpersonating());
  }
  LocalBroker(const LocalBroker&) = delete;
  LocalBroker& operator=(const LocalBroker&) = delete;
  CoGlintBrokerServer* Server() const { return server_; }
  const CallerContext& Caller() const { return caller_; }

 private:
  CallerContext caller_;
  CoGlintBrokerServer* server_;
};

class EnterpriseZone : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(WaitUntilGone(kServer, 10000)) << "a broker from before is still running";
    StandIns::RemoveLeftovers();
    RegisterTestBroker();
    ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
  }
  static void TearDownTestSuite() {
    CoUninitialize();
    UnregisterTestBroker();
  }
  void SetUp() override {
    CreateDirectoryW((KnownFolder(CSIDL_APPDATA) + L"\\Kestrelink").c_str(), nullptr);
    CreateDirectoryW(places_.store.c_str(), nullptr);
    CreateDirectoryW(places_.settings.c_str(), nullptr);
    files_.Folder(places_.outside);
    log_ = NewTempFolder(L"glint-edp") + L"\\protect.txt";
  }
  void TearDown() override { RemoveTree(log_.substr(0, log_.rfind(L'\\'))); }

  // A file of the test; it and its side file go at the end.
  std::wstring Scratch(const std::wstring& folder, const std::wstring& name) {
    return Scratch(folder + L"\\" + name);
  }
  std::wstring Scratch(const std::wstring& path) {
    RemoveFile(path);
    RemoveFile(path + standin::kZoneSuffix);
    cleanup_.push_back(path);
    return path;
  }
  ~EnterpriseZone() override {
    for (const std::wstring& path : cleanup_) {
      RemoveFile(path);
      RemoveFile(path + standin::kZoneSuffix);
    }
  }

  Places places_;
  ScratchFiles files_;
  std::vector<std::wstring> cleanup_;
  std::wstring log_;  // where the efswrt stand-in records its calls
};

// --- without stand-ins ---------------------------------------------------------

TEST_F(EnterpriseZone, WithoutTheSystemFacilitiesTheFallbacksHold) {
  ASSERT_FALSE(Exists(SystemFile(L"srpapi.dll")));
  ASSERT_FALSE(Exists(SystemFile(L"efswrt.dll")));
  ASSERT_FALSE(StandIns::KeyExists(standin::kPersistentZoneIdentifierKey));
  ASSERT_FALSE(StandIns::KeyExists(standin::kAttachmentServicesKey));
  // Settings alone change nothing while the libraries are missing.
  StandIns settings;
  settings.Ids(standin::kEnterpriseIds, {L"corp.example"});
  settings.Text(standin::kProtectLog, log_);

  const std::wstring written = Scratch(places_.settings, L"edp-fallback.sol");
  const std::wstring outside = places_.outside + L"\\fallback.txt";
  files_.File(outside, "outside");
  {
    Session broker;
    ASSERT_HRESULT_SUCCEEDED(broker.Created());
    EXPECT_EQ(Hex(broker.Write(written, "data")), Hex(S_OK));
    EXPECT_EQ(Content(written), "data");
    EXPECT_EQ(ZoneOf(written), kNone);  // no zone identifiers: nothing written
    std::string read;
    EXPECT_EQ(Hex(broker.Read(outside, &read)), Hex(E_ACCESSDENIED));  // no identities
  }
  EXPECT_EQ(Content(log_), kNone);

  // The same pieces in this process.
  EXPECT_TRUE(GlintBrokerZoneIdentifier().Mark(written.c_str()));
  EXPECT_TRUE(GlintBrokerAttachmentExecute().Mark(written.c_str()));
  EXPECT_FALSE(GlintBrokerZoneIdentifier().Mark(nullptr));
  EXPECT_FALSE(GlintBrokerAttachmentExecute().Mark(nullptr));
  EXPECT_EQ(ZoneOf(written), kNone);
  Edpwin32DllHelper edp;
  EXPECT_EQ(edp.ProtectFileToEnterpriseIdentity, nullptr);
  EXPECT_EQ(Hex(ProtectFileToEnterpriseIdentity(edp, written.c_str(), L"corp.example")),
            Hex(S_FALSE));
  EnterpriseIds process(false);
  EXPECT_FALSE(process.HasIdentity());
  EXPECT_EQ(process.Count(), 0u);
  EXPECT_EQ(process.Identity(0), nullptr);
}

// --- zone marking --------------------------------------------------------------

struct ZoneCase {
  const char* name;
  std::optional<std::string> existing;  // the file before, if any
  std::optional<std::string> zone;      // its side file before, if any
  bool readOnly;
  std::string expectedZone;  // kNone: no side file
};

TEST_F(EnterpriseZone, FilesWrittenThroughTheBrokerCarryTheInternetZone) {
  StandIns standIns;
  standIns.ZoneClasses();
  const std::string keep = ZoneText(3) + "HostUrl=https://keep.example/\r\n";
  const std::vector<ZoneCase> cases = {
      {"new file", std::nullopt, std::nullopt, false, ZoneText(3)},
      {"existing file without a zone", "old", std::nullopt, false, ZoneText(3)},
      {"already Internet: left as it is", "old", keep, false, keep},
      {"local machine: marked again", "old", ZoneText(0), false, ZoneText(3)},
      {"intranet counts as marked", "old", ZoneText(1), false, ZoneText(1)},
      {"restricted counts as marked", "old", ZoneText(4), false, ZoneText(4)},
      {"unreadable zone: marked again", "old", std::string("[ZoneTransfer]\r\n"), false,
       ZoneText(3)},
      {"read-only open marks nothing", "old", std::nullopt, true, kNone},
      {"read-only open leaves a local zone", "old", ZoneText(0), true, ZoneText(0)},
  };
  Session broker;
  ASSERT_HRESULT_SUCCEEDED(broker.Created());
  int n = 0;
  for (const ZoneCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring path = Scratch(places_.settings, L"edp-zone-" + std::to_wstring(n++) + L".sol");
    if (c.existing) WriteBytes(path, *c.existing);
    if (c.zone) WriteBytes(path + standin::kZoneSuffix, *c.zone);
    if (c.readOnly) {
      std::string read;
      EXPECT_EQ(Hex(broker.Read(path, &read)), Hex(S_OK));
      EXPECT_EQ(read, *c.existing);
    } else {
      EXPECT_EQ(Hex(broker.Write(path, "new")), Hex(S_OK));
      EXPECT_EQ(Content(path), "new");
    }
    EXPECT_EQ(ZoneOf(path), c.expectedZone);
  }
}

TEST_F(EnterpriseZone, AFailedMarkingDoesNotFailTheWrite) {
  StandIns standIns;
  standIns.ZoneClasses();
  standIns.Result(standin::kZoneSaveResult, E_ACCESSDENIED);
  const std::wstring path = Scratch(places_.settings, L"edp-zone-failing.sol");
  Session broker;
  ASSERT_HRESULT_SUCCEEDED(broker.Created());
  EXPECT_EQ(Hex(broker.Write(path, "kept")), Hex(S_OK));
  EXPECT_EQ(Content(path), "kept");
  EXPECT_EQ(ZoneOf(path), kNone);
}

struct MarkCase {
  const char* name;
  std::optional<std::string> zone;  // side file before
  bool saveFails;
  bool expected;
  std::string expectedZone;
};

TEST_F(EnterpriseZone, MarkersInThisProcess) {
  StandIns standIns;
  standIns.ZoneClasses();
  const std::string attached = ZoneText(3) + "HostUrl=http://\r\n";
  const std::vector<MarkCase> attachmentCases = {
      {"unmarked file", std::nullopt, false, true, attached},
      {"already Internet", ZoneText(3), false, true, ZoneText(3)},
      {"local machine", ZoneText(0), false, true, attached},
      {"trusted sites", ZoneText(2), false, true, ZoneText(2)},
      {"save fails", std::nullopt, true, false, kNone},
      {"save fails but already marked", ZoneText(3), true, true, ZoneText(3)},
  };
  const std::vector<MarkCase> zoneCases = {
      {"unmarked file", std::nullopt, false, true, ZoneText(3)},
      {"local machine", ZoneText(0), false, true, ZoneText(3)},
      {"save fails", std::nullopt, true, false, kNone},
      {"save fails on a local file", ZoneText(0), true, false, ZoneText(0)},
  };
  const std::wstring folder = NewTempFolder(L"glint-edp-mark");
  int n = 0;
  for (bool attachment : {true, false}) {
    for (const MarkCase& c : attachment ? attachmentCases : zoneCases) {
      SCOPED_TRACE(std::string(attachment ? "attachment services: " : "zone identifier: ") +
                   c.name);
      std::wstring path = folder + L"\\m" + std::to_wstring(n++) + L".txt";
      WriteBytes(path, "x");
      if (c.zone) WriteBytes(path + standin::kZoneSuffix, *c.zone);
      if (c.saveFails) {
        standIns.Result(standin::kZoneSaveResult, E_ACCESSDENIED);
      } else {
        standIns.Remove(standin::kZoneSaveResult);
      }
      bool marked = attachment ? GlintBrokerAttachmentExecute().Mark(path.c_str())
                               : GlintBrokerZoneIdentifier().Mark(path.c_str());
      EXPECT_EQ(marked, c.expected);
      EXPECT_EQ(ZoneOf(path), c.expectedZone);
    }
  }
  standIns.Remove(standin::kZoneSaveResult);

  // A file that is not there cannot be marked.
  EXPECT_FALSE(GlintBrokerZoneIdentifier().Mark((folder + L"\\missing.txt").c_str()));
  EXPECT_FALSE(GlintBrokerAttachmentExecute().Mark((folder + L"\\missing.txt").c_str()));
  // The attachment services get the full path of a relative one, and
  // nothing when it does not fit in 260 characters.
  WriteBytes(folder + L"\\relative.txt", "x");
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(folder.c_str());
  EXPECT_TRUE(GlintBrokerAttachmentExecute().Mark(L"relative.txt"));
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(ZoneOf(folder + L"\\relative.txt"), attached);
  std::wstring longPath = folder + L"\\" + std::wstring(MAX_PATH, L'a');
  EXPECT_FALSE(GlintBrokerAttachmentExecute().Mark(longPath.c_str()));
  EXPECT_FALSE(Exists(longPath + standin::kZoneSuffix));
  RemoveTree(folder);
}

// --- enterprise identities -----------------------------------------------------------

struct IdsCase {
  const char* name;
  std::optional<std::vector<std::wstring>> ids;  // nullopt: value absent
  std::optional<HRESULT> noBufferResult;
  std::optional<HRESULT> fillResult;
  std::vector<std::wstring> expected;  // the record's identities
};

TEST_F(EnterpriseZone, TheProcessRecordFollowsTheSystemsAnswers) {
  StandIns standIns;
  standIns.Srpapi();
  // The guessed buffer of 260 bytes holds one pointer and 126 characters.
  const std::wstring fits(125, L'f');
  const std::wstring tooLong(126, L'g');
  std::vector<std::wstring> many;
  for (int i = 0; i < 64; ++i) many.push_back(L"unit" + std::to_wstring(i) + L".corp.example");
  const std::vector<IdsCase> cases = {
      {"value absent", std::nullopt, {}, {}, {}},
      {"empty list", std::vector<std::wstring>{}, {}, {}, {}},
      {"one identity", std::vector<std::wstring>{L"corp.example"}, {}, {}, {L"corp.example"}},
      {"order kept",
       std::vector<std::wstring>{L"b.example", L"a.example"},
       {},
       {},
       {L"b.example", L"a.example"}},
      {"beyond ASCII",
       std::vector<std::wstring>{L"b\u00fccher.example", L"\u65e5\u672c.example"},
       {},
       {},
       {L"b\u00fccher.example", L"\u65e5\u672c.example"}},
      {"many identities", many, {}, {}, many},
      {"guessed buffer, fits exactly", std::vector<std::wstring>{fits}, E_INVALIDARG, {}, {fits}},
      {"guessed buffer, one character too long",
       std::vector<std::wstring>{tooLong},
       E_INVALIDARG,
       {},
       {}},
      {"guessed buffer, two identities",
       std::vector<std::wstring>{L"a.example", L"b.example"},
       E_INVALIDARG,
       {},
       {L"a.example", L"b.example"}},
      {"first answer fails otherwise", std::vector<std::wstring>{L"corp.example"}, E_FAIL, {}, {}},
      {"first answer succeeds without data",
       std::vector<std::wstring>{L"corp.example"},
       S_OK,
       {},
       {}},
      {"second answer fails", std::vector<std::wstring>{L"corp.example"}, {}, E_ACCESSDENIED, {}},
      {"guessed buffer, second answer fails",
       std::vector<std::wstring>{L"corp.example"},
       E_INVALIDARG,
       E_ACCESSDENIED,
       {}},
  };
  for (const IdsCase& c : cases) {
    SCOPED_TRACE(c.name);
    standIns.Remove(standin::kEnterpriseIds);
    standIns.Remove(standin::kNoBufferResult);
    standIns.Remove(standin::kFillResult);
    if (c.ids) standIns.Ids(standin::kEnterpriseIds, *c.ids);
    if (c.noBufferResult) standIns.Result(standin::kNoBufferResult, *c.noBufferResult);
    if (c.fillResult) standIns.Result(standin::kFillResult, *c.fillResult);

    EnterpriseIds record(false);
    EXPECT_EQ(record.HasIdentity(), !c.expected.empty());
    ASSERT_EQ(record.Count(), c.expected.size());
    for (size_t i = 0; i < c.expected.size(); ++i) {
      ASSERT_NE(record.Identity(static_cast<ULONG>(i)), nullptr);
      EXPECT_EQ(std::wstring(record.Identity(static_cast<ULONG>(i))), c.expected[i]);
      EXPECT_TRUE(record.Holds(c.expected[i]));
    }
    EXPECT_EQ(record.Identity(record.Count()), nullptr);
    if (!c.expected.empty()) {
      // Held means equal in length and every unit.
      const std::wstring& first = c.expected[0];
      EXPECT_FALSE(record.Holds(first.substr(0, first.size() - 1)));
      EXPECT_FALSE(record.Holds(first + L"x"));
      EXPECT_FALSE(record.Holds(std::wstring(first.c_str()) + std::wstring(1, L'\0')));
      std::wstring upper = first;
      CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
      if (upper != first) {
        EXPECT_FALSE(record.Holds(upper));
      }
      EXPECT_FALSE(record.Holds(L""));
    }
  }

  // Outside a call from a client there is nobody to impersonate.
  standIns.Ids(standin::kEnterpriseIds, {L"corp.example"});
  standIns.Ids(standin::kClientEnterpriseIds, {L"client.example"});
  EnterpriseIds client(true);
  EXPECT_FALSE(client.HasIdentity());
  EXPECT_EQ(client.Count(), 0u);
}

// --- a broker object in a fresh process ------------------------------------------

// A broker process reads its own identities and binds the protection library
// once, and keeps the library loaded, so the cases that call a broker object
// in-process (with a caller's context) each run in a fresh process of this
// program: EnterpriseZoneChild.DISABLED_OneCase with "--edp-case=<table>:<n>".
// The child answers for the broker's replies; the parent sets up the
// stand-ins, checks what reached the disk and removes the stand-ins once the
// child has ended.
constexpr wchar_t kChildDone[] = L"TestChildDone";  // under standin::kKey

std::optional<std::pair<std::string, int>> ChildCaseArgument() {
  std::string line = Utf8Of(GetCommandLineW());
  size_t at = line.find("--edp-case=");
  if (at == std::string::npos) return std::nullopt;
  std::string value = line.substr(at + 11);
  value = value.substr(0, value.find(' '));
  size_t colon = value.find(':');
  if (colon == std::string::npos) return std::nullopt;
  return std::make_pair(value.substr(0, colon), atoi(value.c_str() + colon + 1));
}

// Runs one case in a child process; true when it ran and passed.
::testing::AssertionResult RunInChild(const std::string& table, int index) {
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring caseText = std::wstring(table.begin(), table.end()) + L":" + std::to_wstring(index);
  std::wstring command = L"\"" + std::wstring(program) +
                         L"\" --gtest_also_run_disabled_tests"
                         L" --gtest_filter=EnterpriseZoneChild.DISABLED_OneCase --edp-case=" +
                         caseText;
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, standin::kKey, kChildDone);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return ::testing::AssertionFailure() << "cannot start the child, error " << GetLastError();
  }
  UniqueHandle child(process.hProcess);
  UniqueHandle thread(process.hThread);
  DWORD waited = WaitForSingleObject(child.Get(), 60000);
  DWORD code = 1;
  GetExitCodeProcess(child.Get(), &code);
  if (waited != WAIT_OBJECT_0) return ::testing::AssertionFailure() << "the child did not end";
  std::wstring done;
  if (!standin::ReadText(kChildDone, REG_SZ, &done) || done != caseText) {
    return ::testing::AssertionFailure() << "the child did not run its case";
  }
  if (code != 0) return ::testing::AssertionFailure() << "the child failed (see its output)";
  return ::testing::AssertionSuccess();
}

// --- enterprise protection ------------------------------------------------------

struct AccessCase {
  const char* name;
  // Through a live broker the caller has no identities (see CallerContext);
  // otherwise a broker object in a fresh process is called with a caller's
  // context.
  bool live;
  std::optional<std::vector<std::wstring>> processIds;  // the broker's own
  std::optional<std::vector<std::wstring>> callerIds;   // when they differ
  enum Place { kSettings, kStoreRoot, kOutside } place;
  bool exists;    // the file exists before (with "old")
  bool readOnly;  // else a truncating write of "new"
  HRESULT expected;
  std::wstring protectedTo;  // empty: the protection function is not called
};

const std::vector<AccessCase>& AccessCases() {
  static const std::vector<std::wstring> corp = {L"corp.example", L"second.example"};
  static const std::vector<std::wstring> none = {};
  static const std::optional<std::vector<std::wstring>> same;
  using P = AccessCase;
  static const std::vector<AccessCase> cases = {
      // A caller without identities keeps the path policy whatever the broker has.
      {"live: settings area, not protected", true, corp, same, P::kSettings, false, false, S_OK,
       L""},
      {"live: read outside refused", true, corp, same, P::kOutside, true, true, E_ACCESSDENIED,
       L""},
      {"live: read in the store after the protection query", true, corp, same, P::kSettings, true,
       true, S_OK, L""},
      {"live: write outside refused", true, corp, same, P::kOutside, false, false, E_ACCESSDENIED,
       L""},
      {"caller without identities, settings area", false, corp, none, P::kSettings, false, false,
       S_OK, L""},
      {"caller without identities, process value absent", false, std::nullopt, none, P::kSettings,
       false, false, S_OK, L""},
      {"caller without identities reads outside", false, corp, none, P::kOutside, true, true,
       E_ACCESSDENIED, L""},
      // Writes in the settings area are protected to the caller's first identity.
      {"settings area, new file", false, corp, same, P::kSettings, false, false, S_OK,
       L"corp.example"},
      {"settings area, existing file", false, corp, same, P::kSettings, true, false, S_OK,
       L"corp.example"},
      {"the caller's identity, not the process's", false,
       std::vector<std::wstring>{L"broker.example"},
       std::vector<std::wstring>{L"b\u00fcro.example", L"a.example"}, P::kSettings, false, false,
       S_OK, L"b\u00fcro.example"},
      {"outside the settings area: not protected", false, corp, same, P::kStoreRoot, false, false,
       S_OK, L""},
      {"broker without identities: not protected", false, none, corp, P::kSettings, false, false,
       S_OK, L""},
      // Writes keep the path policy whoever calls.
      {"caller with identities writes outside", false, corp, same, P::kOutside, false, false,
       E_ACCESSDENIED, L""},
      // Reads by a caller with identities: unprotected files without the path policy.
      {"caller with identities reads outside", false, corp, same, P::kOutside, true, true, S_OK,
       L""},
      {"caller with identities reads a missing file", false, corp, same, P::kOutside, false, true,
       HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L""},
      {"broker without identities, caller with, reads outside", false, none, corp, P::kOutside,
       true, true, S_OK, L""},
  };
  return cases;
}

std::wstring AccessPath(int index) {
  Places places;
  const AccessCase& c = AccessCases()[index];
  const std::wstring& folder = c.place == AccessCase::kSettings    ? places.settings
                               : c.place == AccessCase::kStoreRoot ? places.store
                                                                   : places.outside;
  return folder + L"\\edp-access-" + std::to_wstring(index) + L".sol";
}

// The broker's answers to one case.
void AnswersOf(BrokerCalls& broker, const AccessCase& c, const std::wstring& path) {
  if (c.readOnly) {
    std::string read;
    EXPECT_EQ(Hex(broker.Read(path, &read)), Hex(c.expected));
    if (SUCCEEDED(c.expected)) {
      EXPECT_EQ(read, "old");
    }
  } else {
    EXPECT_EQ(Hex(broker.Write(path, "new")), Hex(c.expected));
  }
}

void AccessCaseHere(int index) {
  LocalBroker broker;
  AnswersOf(broker, AccessCases()[index], AccessPath(index));
  EXPECT_GT(broker.Caller().Impersonations(), 0);  // the caller's identities were read
}

TEST_F(EnterpriseZone, IdentitiesDecideProtectionAndAccess) {
  for (int index = 0; index < static_cast<int>(AccessCases().size()); ++index) {
    const AccessCase& c = AccessCases()[index];
    SCOPED_TRACE(c.name);
    StandIns standIns;
    standIns.Srpapi();
    standIns.Efswrt();
    standIns.ZoneClasses();
    standIns.Text(standin::kProtectLog, log_);
    if (c.processIds) standIns.Ids(standin::kEnterpriseIds, *c.processIds);
    if (c.callerIds) standIns.Ids(standin::kClientEnterpriseIds, *c.callerIds);
    RemoveFile(log_);
    const std::wstring path = AccessPath(index);
    Scratch(path);
    if (c.exists) WriteBytes(path, "old");
    if (c.live) {
      Session broker;
      ASSERT_HRESULT_SUCCEEDED(broker.Created());
      AnswersOf(broker, c, path);
    } else {
      EXPECT_TRUE(RunInChild("access", index));
    }
    std::string expectedLog =
        c.protectedTo.empty() ? kNone
                              : Utf8Of(path.c_str()) + "|" + Utf8Of(c.protectedTo.c_str()) + "\n";
    EXPECT_EQ(Content(log_), expectedLog);
    if (!c.readOnly) {
      EXPECT_EQ(Content(path), SUCCEEDED(c.expected) ? "new" : c.exists ? "old" : kNone);
      EXPECT_EQ(ZoneOf(path), SUCCEEDED(c.expected) ? ZoneText(3) : kNone);
    } else {
      EXPECT_EQ(ZoneOf(path), kNone);
    }
  }
}

// Not a system code: it can only have come from the protection function.
constexpr HRESULT kProtectionFailure = static_cast<HRESULT>(0x80FE1234);

std::wstring RefusedPath(int exists) {
  return Places().settings + (exists ? L"\\edp-refused-old.sol" : L"\\edp-refused-new.sol");
}

void RefusedCaseHere(int exists) {
  LocalBroker broker;
  ULONG cookie = 1;
  EXPECT_EQ(Hex(broker.Write(RefusedPath(exists), "new", &cookie)), Hex(kProtectionFailure));
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(broker.Server()->Cookies().Find(1), nullptr);
}

TEST_F(EnterpriseZone, AFailedProtectionIsAnsweredAsIs) {
  for (int exists : {0, 1}) {
    SCOPED_TRACE(exists ? "existing file" : "new file");
    StandIns standIns;
    standIns.Srpapi();
    standIns.Efswrt();
    standIns.ZoneClasses();
    standIns.Ids(standin::kEnterpriseIds, {L"corp.example"});
    standIns.Text(standin::kProtectLog, log_);
    standIns.Result(standin::kProtectResult, kProtectionFailure);
    RemoveFile(log_);
    const std::wstring path = RefusedPath(exists);
    Scratch(path);
    if (exists) WriteBytes(path, "old");
    EXPECT_TRUE(RunInChild("refused", exists));
    EXPECT_EQ(Content(log_), Utf8Of(path.c_str()) + "|corp.example\n");
    // Nothing was written or marked; an existing file was not truncated.
    EXPECT_EQ(Content(path), exists ? "old" : "");
    EXPECT_EQ(ZoneOf(path), kNone);
  }
}

void LinkCaseHere(int) {
  LocalBroker broker;
  EXPECT_EQ(Hex(broker.Write(Places().link, "gone")), Hex(E_ACCESSDENIED));
}

TEST_F(EnterpriseZone, ALinkInTheSettingsAreaLeadsNowhereAndDeletesNothing) {
  ASSERT_TRUE(Exists(places_.linkTarget)) << "link fixture missing";
  const std::string before = ReadAll(places_.linkTarget);
  for (bool identities : {false, true}) {
    SCOPED_TRACE(identities ? "caller with identities" : "caller without identities");
    StandIns standIns;
    standIns.Srpapi();
    standIns.Efswrt();
    standIns.ZoneClasses();
    standIns.Ids(standin::kEnterpriseIds, {L"corp.example"});
    standIns.Ids(standin::kClientEnterpriseIds, identities
                                                    ? std::vector<std::wstring>{L"corp.example"}
                                                    : std::vector<std::wstring>{});
    standIns.Text(standin::kProtectLog, log_);
    RemoveFile(log_);
    EXPECT_TRUE(RunInChild("link", 0));
    ASSERT_TRUE(Exists(places_.linkTarget)) << "the file behind the link was deleted";
    EXPECT_EQ(ReadAll(places_.linkTarget), before);
    EXPECT_EQ(ZoneOf(places_.linkTarget), kNone);
    // Nor is the file behind the link protected to anyone.
    EXPECT_EQ(ReadAll(log_), "");
  }
}

// Adds a file that a save dialog named, not opened yet.
FileCookie* AddPending(LocalBroker& broker, const std::wstring& path, DWORD access,
                       DWORD disposition, const std::optional<std::wstring>& identity) {
  auto pending = std::make_unique<PendingOpen>();
  pending->access = access;
  pending->share = FILE_SHARE_READ;
  pending->disposition = disposition;
  pending->flags = FILE_ATTRIBUTE_NORMAL;
  pending->identity = identity;
  return broker.Server()->Cookies().Add(INVALID_HANDLE_VALUE, std::move(pending), path);
}

std::wstring UnprotectedPath(int saved) {
  return Places().settings + (saved ? L"\\edp-unprotected-saved.sol" : L"\\edp-unprotected.sol");
}

void UnprotectedCaseHere(int) {
  LocalBroker broker;
  EXPECT_EQ(Hex(broker.Write(UnprotectedPath(0), "new")), Hex(S_OK));
  FileCookie* node =
      AddPending(broker, UnprotectedPath(1), GENERIC_WRITE, CREATE_ALWAYS, L"corp.example");
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(Hex(broker.WriteTo(node->cookie, "saved")), Hex(S_OK));
  broker.Server()->BrokerCloseHandle(node->cookie);
}

// Identities without the protection library (a system may have one and not
// the other): files are written unprotected, as where neither exists.
TEST_F(EnterpriseZone, WithoutTheProtectionLibraryWritesGoOnUnprotected) {
  StandIns standIns;
  standIns.Srpapi();
  standIns.ZoneClasses();
  standIns.Ids(standin::kEnterpriseIds, {L"corp.example"});
  const std::wstring written = UnprotectedPath(0);
  const std::wstring saved = UnprotectedPath(1);
  Scratch(written);
  Scratch(saved);
  EXPECT_TRUE(RunInChild("unprotected", 0));
  EXPECT_EQ(Content(written), "new");
  EXPECT_EQ(ZoneOf(written), ZoneText(3));
  EXPECT_EQ(Content(saved), "saved");
  EXPECT_EQ(ZoneOf(saved), ZoneText(3) + "HostUrl=http://\r\n");
}

struct PendingCase {
  const char* name;
  bool processIds;  // the broker's process has identities
  std::optional<std::wstring> identity;
  DWORD access;
  DWORD disposition;
  bool exists;  // the file exists before (with "old-content")
  HRESULT protectResult;
  HRESULT expectedWrite;     // of "new" through the cookie
  std::string expectedFile;  // kNone: no file
  bool protectedCall;        // the protection function was called
};

const std::vector<PendingCase>& PendingCases() {
  static const HRESULT failure = static_cast<HRESULT>(0x80FE4321);
  static const HRESULT noHandle = HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
  static const std::optional<std::wstring> corp = L"corp.example";
  static const std::vector<PendingCase> cases = {
      {"new file, create always", true, corp, GENERIC_WRITE, CREATE_ALWAYS, false, S_OK, S_OK,
       "new", true},
      {"new file, open always", true, corp, GENERIC_WRITE, OPEN_ALWAYS, false, S_OK, S_OK, "new",
       true},
      {"new file, create new", true, corp, GENERIC_WRITE, CREATE_NEW, false, S_OK, S_OK, "new",
       true},
      {"existing file, create always: replaced", true, corp, GENERIC_WRITE, CREATE_ALWAYS, true,
       S_OK, S_OK, "new", true},
      {"existing file, open always: kept", true, corp, GENERIC_WRITE, OPEN_ALWAYS, true, S_OK, S_OK,
       "new-content", true},
      {"missing file, open existing: protected, not opened", true, corp, GENERIC_WRITE,
       OPEN_EXISTING, false, S_OK, noHandle, kNone, true},
      // The file is replaced before it is protected, as the user chose.
      {"protection fails after replacing: no handle", true, corp, GENERIC_WRITE, CREATE_ALWAYS,
       true, failure, noHandle, "", true},
      {"protection fails, open always: kept, no handle", true, corp, GENERIC_WRITE, OPEN_ALWAYS,
       true, failure, noHandle, "old-content", true},
      {"protection fails on a new file: created, no handle", true, corp, GENERIC_WRITE,
       CREATE_ALWAYS, false, failure, noHandle, "", true},
      {"broker without identities", false, corp, GENERIC_WRITE, CREATE_ALWAYS, false, S_OK, S_OK,
       "new", false},
      {"no identity", true, std::nullopt, GENERIC_WRITE, CREATE_ALWAYS, false, S_OK, S_OK, "new",
       false},
  };
  return cases;
}

std::wstring PendingPath(int index) {
  return Places().outside + L"\\pending" + std::to_wstring(index) + L".sol";
}

void PendingCaseHere(int index) {
  const PendingCase& c = PendingCases()[index];
  LocalBroker broker;
  FileCookie* node = AddPending(broker, PendingPath(index), c.access, c.disposition, c.identity);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(Hex(broker.WriteTo(node->cookie, "new")), Hex(c.expectedWrite));
  EXPECT_EQ(node->pending, nullptr);  // carried out once, whatever the outcome
  EXPECT_EQ(Hex(broker.WriteTo(node->cookie, "")),
            Hex(SUCCEEDED(c.expectedWrite) ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE)));
  EXPECT_EQ(Hex(broker.Server()->BrokerCloseHandle(node->cookie)), Hex(S_OK));
}

// A file a save dialog named is opened on its first use; with an enterprise
// identity it is created first when the open would create it, then
// protected, and the attachment services record its origin.
TEST_F(EnterpriseZone, PendingOpensWithAnEnterpriseIdentity) {
  const std::string attached = ZoneText(3) + "HostUrl=http://\r\n";
  for (int index = 0; index < static_cast<int>(PendingCases().size()); ++index) {
    const PendingCase& c = PendingCases()[index];
    SCOPED_TRACE(c.name);
    StandIns standIns;
    standIns.Srpapi();
    standIns.Efswrt();
    standIns.ZoneClasses();
    standIns.Ids(standin::kEnterpriseIds, c.processIds ? std::vector<std::wstring>{L"proc.example"}
                                                       : std::vector<std::wstring>{});
    standIns.Text(standin::kProtectLog, log_);
    standIns.Result(standin::kProtectResult, c.protectResult);
    RemoveFile(log_);
    const std::wstring path = PendingPath(index);
    Scratch(path);
    if (c.exists) WriteBytes(path, "old-content");
    EXPECT_TRUE(RunInChild("pending", index));
    EXPECT_EQ(Content(path), c.expectedFile);
    EXPECT_EQ(Content(log_), c.protectedCall ? Utf8Of(path.c_str()) + "|corp.example\n" : kNone);
    // Marked once opened; a failed protection ends before the marking.
    EXPECT_EQ(ZoneOf(path), SUCCEEDED(c.expectedWrite) ? attached : kNone);
  }
}

TEST(EnterpriseZoneChild, DISABLED_OneCase) {
  auto which = ChildCaseArgument();
  ASSERT_TRUE(which) << "run by the other tests of this program, with --edp-case";
  const auto& [table, index] = *which;
  ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
  if (table == "access") {
    AccessCaseHere(index);
  } else if (table == "refused") {
    RefusedCaseHere(index);
  } else if (table == "link") {
    LinkCaseHere(index);
  } else if (table == "unprotected") {
    UnprotectedCaseHere(index);
  } else if (table == "pending") {
    PendingCaseHere(index);
  } else {
    FAIL() << "no table " << table;
  }
  CoUninitialize();
  std::wstring done = std::wstring(table.begin(), table.end()) + L":" + std::to_wstring(index);
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, standin::kKey, kChildDone, REG_SZ, done.c_str(),
                  static_cast<DWORD>((done.size() + 1) * sizeof(wchar_t)));
}

// --- protection query and worker ------------------------------------------------------

TEST_F(EnterpriseZone, ProtectionQueries) {
  TaskWorker::StopShared();
  // A missing file is answered at once, without starting the worker.
  BrokerFileProtectionInfo missing(places_.outside + L"\\missing.txt");
  EXPECT_FALSE(missing.IsProtected());
  EXPECT_TRUE(missing.Identity().empty());
  EXPECT_EQ(missing.CurrentState(), BrokerFileProtectionInfo::kFailed);
  EXPECT_EQ(TaskWorker::Shared(false), nullptr);

  // An existing file goes through the worker; this system has no protection
  // runtime, so the answer is "not protected", and it comes back.
  const std::wstring path = places_.outside + L"\\query.txt";
  files_.File(path, "x");
  struct Query {
    std::wstring path;
    bool isProtected = true;
    LONG state = -1;
  } query{path};
  UniqueHandle thread(CreateThread(
      nullptr, 0,
      [](void* context) -> DWORD {
        auto* q = static_cast<Query*>(context);
        BrokerFileProtectionInfo info(q->path);
        q->isProtected = info.IsProtected();
        q->state = info.CurrentState();
        return 0;
      },
      &query, 0, nullptr));
  ASSERT_TRUE(thread);
  ASSERT_EQ(WaitForSingleObject(thread.Get(), 20000), WAIT_OBJECT_0) << "the query did not finish";
  EXPECT_FALSE(query.isProtected);
  EXPECT_EQ(query.state, BrokerFileProtectionInfo::kFailed);
  EXPECT_NE(TaskWorker::Shared(false), nullptr);
  TaskWorker::StopShared();
  EXPECT_EQ(TaskWorker::Shared(false), nullptr);
}

class RecordingTask final : public Task {
 public:
  void Run() override {
    thread = GetCurrentThreadId();
    SetEvent(done.Get());
  }
  DWORD thread = 0;
  UniqueHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

TEST_F(EnterpriseZone, TheWorkerRunsTasksOnItsOwnThreadUntilStopped) {
  TaskWorker::StopShared();
  TaskWorker* worker = TaskWorker::Shared(true);
  ASSERT_NE(worker, nullptr);
  EXPECT_EQ(TaskWorker::Shared(true), worker);  // one per process
  for (int round = 0; round < 3; ++round) {
    RecordingTask task;
    ASSERT_TRUE(worker->Post(&task));
    ASSERT_EQ(WaitForSingleObject(task.done.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_NE(task.thread, 0u);
    EXPECT_NE(task.thread, GetCurrentThreadId());
  }
  TaskWorker::StopShared();
  EXPECT_EQ(TaskWorker::Shared(false), nullptr);
}

}  // namespace

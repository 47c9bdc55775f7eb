// Enterprise identities, file protection and zone marking, with and without the
// system facilities behind them (stand-ins from stubs/). Cases whose caller needs
// identities call a broker object with a caller's context (see RunInChild).
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"
#include "broker/server/CoGlintBrokerServer.h"
#include "broker/services/EnterpriseData.h"
#include "foundation/Win32Handles.h"
#include "stubs/StandInSettings.h"
#include "stubs/TaskStandInSettings.h"

namespace {

using Ids = std::optional<std::vector<std::wstring>>;
const std::string kNone = "<none>";
const std::wstring kOutside = L"C:\\glint-edp-outside";
// Behind the link scripts/redteam-fixture.sh leaves in the settings area.
const std::wstring kLinkTarget = L"C:\\glint-edp-linked\\target.sol";

std::string Content(const std::wstring& path) {
  return Exists(path) ? ReadAll(path) : kNone;
}
std::string ZoneOf(const std::wstring& path) {
  return Content(path + standin::kZoneSuffix);
}
std::string ZoneText(int zone) {
  return "[ZoneTransfer]\r\nZoneId=" + std::to_string(zone) + "\r\n";
}
// What the attachment services record for a file the broker wrote.
const std::string kAttached = ZoneText(3) + "HostUrl=http://\r\n";
std::string Logged(const std::wstring& path, const char* identity) {
  return Utf8Of(path.c_str()) + "|" + identity + "\n";
}

using standin::WriteFileText;
// The marking in this process, by the attachment services or the zone identifier.
bool Mark(bool attachment, const wchar_t* path) {
  return attachment ? GlintBrokerAttachmentExecute().Mark(path)
                    : GlintBrokerZoneIdentifier().Mark(path);
}
// The file of row `index` of a table; parent and child make the same.
std::wstring CasePath(const wchar_t* table, int index,
                      const std::wstring& folder = SharedObjects()) {
  return folder + L"\\edp-" + table + L"-" + std::to_wstring(index) + L".sol";
}
void RemoveFile(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(path.c_str());
}

// A broker object in this process, called with a caller's context.
class LocalBroker : public BrokerFiles {
 public:
  LocalBroker() : server(new CoGlintBrokerServer(nullptr)) { broker = server; }
  ~LocalBroker() {
    server->Release();
    EXPECT_FALSE(caller.IsImpersonating());  // the broker reverted what it impersonated
  }
  LocalBroker(const LocalBroker&) = delete;
  LocalBroker& operator=(const LocalBroker&) = delete;
  // Adds a file that a save dialog named for the owner corp.example, not opened yet.
  FileCookie* AddPending(const std::wstring& path, DWORD disposition) {
    auto pending = std::make_unique<PendingOpen>();
    pending->access = GENERIC_WRITE;
    pending->share = FILE_SHARE_READ;
    pending->disposition = disposition;
    pending->flags = FILE_ATTRIBUTE_NORMAL;
    pending->identity = L"corp.example";
    return server->Cookies().Add(INVALID_HANDLE_VALUE, std::move(pending), path);
  }
  CallerContext caller;
  CoGlintBrokerServer* server;
};

// A broker process reads its own identities and binds the protection
// library once, so each in-process case runs in a fresh process of this
// program (--edp-case=<table>:<n>), which checks the broker's replies and
// marks that it ran; the parent checks what reached the disk.
constexpr wchar_t kChildDone[] = L"TestChildDone";  // under standin::kKey

::testing::AssertionResult RunInChild(const std::string& table, int index) {
  std::wstring which = std::wstring(table.begin(), table.end()) + L":" + std::to_wstring(index);
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, standin::kKey, kChildDone);
  UniqueHandle child = StartSelf(L"EnterpriseZoneChild.DISABLED_OneCase", L"--edp-case=" + which);
  DWORD code = 1;
  std::wstring done;
  if (!child || WaitForSingleObject(child.Get(), 60000) != WAIT_OBJECT_0)
    return ::testing::AssertionFailure() << "the child did not start or end";
  GetExitCodeProcess(child.Get(), &code);
  if (!standin::ReadText(kChildDone, REG_SZ, &done) || done != which)
    return ::testing::AssertionFailure() << "the child did not run its case";
  if (code != 0) return ::testing::AssertionFailure() << "the child failed (see its output)";
  return ::testing::AssertionSuccess();
}

class EnterpriseZone : public BrokerSuite {
 protected:
  void SetUp() override {
    SHCreateDirectoryExW(nullptr, SharedObjects().c_str(), nullptr);
    files_.Folder(kOutside);
    log_ = NewTempFolder(L"glint-edp") + L"\\protect.txt";
  }
  void TearDown() override {
    RemoveTree(log_.substr(0, log_.rfind(L'\\')));
    for (const std::wstring& path : cleanup_) {
      RemoveFile(path);
      RemoveFile(path + standin::kZoneSuffix);
    }
  }
  // A file of the test; it and its side file go now and at the end.
  std::wstring Scratch(const std::wstring& path) {
    RemoveFile(path);
    RemoveFile(path + standin::kZoneSuffix);
    cleanup_.push_back(path);
    return path;
  }
  // The stand-ins of the broker's cases: both libraries, the zone classes,
  // the protection log (emptied) and the broker's own identities.
  void Broker(StandIns& s, const Ids& processIds, HRESULT protect = S_OK) {
    s.Srpapi();
    s.Efswrt();
    s.ZoneClasses();
    s.Text(standin::kProtectLog, log_);
    if (processIds) s.Ids(standin::kEnterpriseIds, *processIds);
    if (protect != S_OK) s.Result(standin::kProtectResult, protect);
    RemoveFile(log_);
  }

  ScratchFiles files_;
  std::vector<std::wstring> cleanup_;
  std::wstring log_;  // where the efswrt stand-in records its calls
};

TEST_F(EnterpriseZone, WithoutTheSystemFacilitiesTheFallbacksHold) {
  for (const wchar_t* name : {L"srpapi.dll", L"efswrt.dll"})
    ASSERT_FALSE(Exists(StandIns::SystemFile(name)));
  ASSERT_FALSE(StandIns::KeyExists(standin::kPersistentZoneIdentifierKey));
  ASSERT_FALSE(StandIns::KeyExists(standin::kAttachmentServicesKey));
  // Settings alone change nothing while the libraries are missing.
  StandIns settings;
  settings.Ids(standin::kEnterpriseIds, {L"corp.example"});
  settings.Text(standin::kProtectLog, log_);
  const std::wstring written = Scratch(SharedObjects() + L"\\edp-fallback.sol");
  Session broker;
  ASSERT_HRESULT_SUCCEEDED(broker.created);
  EXPECT_EQ(Hex(broker.Write(written, "data")), Hex(S_OK));
  EXPECT_EQ(Content(written), "data");
  EXPECT_EQ(Content(log_), kNone);
  // The same pieces in this process.
  for (bool attachment : {false, true}) {
    EXPECT_TRUE(Mark(attachment, written.c_str()));
    EXPECT_FALSE(Mark(attachment, nullptr));
  }
  EXPECT_EQ(ZoneOf(written), kNone);  // no zone identifiers: nothing written
  Edpwin32DllHelper edp;
  EXPECT_EQ(Hex(ProtectFileToEnterpriseIdentity(edp, written.c_str(), L"corp.example")),
            Hex(S_FALSE));
  EXPECT_EQ(EnterpriseIds(false).Count(), 0u);
}

// Files the broker writes carry the Internet zone, unless already marked as
// another remote zone; read-only opens mark nothing; a failed marking does
// not fail the write.
TEST_F(EnterpriseZone, FilesWrittenThroughTheBrokerCarryTheInternetZone) {
  struct Case {
    const char* name;
    std::optional<std::string> existing, zone;  // the file and its side file before
    bool readOnly, saveFails;
    std::string expectedZone;
  };
  const std::optional<std::string> none;
  // clang-format off
  const Case cases[] = {
      {"new file", none, none, false, false, ZoneText(3)},
      {"local machine: marked again", "old", ZoneText(0), false, false, ZoneText(3)},
      {"intranet counts as marked", "old", ZoneText(1), false, false, ZoneText(1)},
      {"read-only open leaves a local zone", "old", ZoneText(0), true, false, ZoneText(0)},
      {"the marking fails", none, none, false, true, kNone},
  };
  // clang-format on
  StandIns standIns;
  standIns.ZoneClasses();
  Session broker;
  ASSERT_HRESULT_SUCCEEDED(broker.created);
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring path = Scratch(SharedObjects() + L"\\edp-zone-" + std::to_wstring(n++) + L".sol");
    if (c.existing) WriteFileText(path, *c.existing);
    if (c.zone) WriteFileText(path + standin::kZoneSuffix, *c.zone);
    if (c.saveFails) standIns.Result(standin::kZoneSaveResult, E_ACCESSDENIED);
    std::string read;
    EXPECT_EQ(Hex(c.readOnly ? broker.Read(path, &read) : broker.Write(path, "new")), Hex(S_OK));
    EXPECT_EQ(c.readOnly ? read : Content(path), c.readOnly ? *c.existing : "new");
    EXPECT_EQ(ZoneOf(path), c.expectedZone);
  }
}

TEST_F(EnterpriseZone, MarkersInThisProcess) {
  StandIns standIns;
  standIns.ZoneClasses();
  struct Case {
    bool attachment;
    const char* name;
    std::optional<std::string> zone;  // side file before
    bool saveFails, expected;
    std::string expectedZone;
  };
  // clang-format off
  const Case cases[] = {
      {true, "unmarked file", std::nullopt, false, true, kAttached},
      {true, "trusted sites", ZoneText(2), false, true, ZoneText(2)},
      {true, "save fails", std::nullopt, true, false, kNone},
      {false, "unmarked file", std::nullopt, false, true, ZoneText(3)},
      {false, "save fails", std::nullopt, true, false, kNone},
  };
  // clang-format on
  const std::wstring folder = NewTempFolder(L"glint-edp-mark");
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.attachment ? "attachment services: " : "zone identifier: ") +
                 c.name);
    std::wstring path = folder + L"\\m" + std::to_wstring(n++) + L".txt";
    WriteFileText(path, "x");
    if (c.zone) WriteFileText(path + standin::kZoneSuffix, *c.zone);
    standIns.Remove(standin::kZoneSaveResult);
    if (c.saveFails) standIns.Result(standin::kZoneSaveResult, E_ACCESSDENIED);
    EXPECT_EQ(Mark(c.attachment, path.c_str()), c.expected);
    EXPECT_EQ(ZoneOf(path), c.expectedZone);
  }
  standIns.Remove(standin::kZoneSaveResult);
  // The attachment services get the full path of a relative one, and
  // nothing when it does not fit in 260 characters.
  WriteFileText(folder + L"\\relative.txt", "x");
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(folder.c_str());
  EXPECT_TRUE(Mark(true, L"relative.txt"));
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(ZoneOf(folder + L"\\relative.txt"), kAttached);
  std::wstring longPath = folder + L"\\" + std::wstring(MAX_PATH, L'a');
  EXPECT_FALSE(Mark(true, longPath.c_str()));
  EXPECT_FALSE(Exists(longPath + standin::kZoneSuffix));
  RemoveTree(folder);
}

TEST_F(EnterpriseZone, TheProcessRecordFollowsTheSystemsAnswers) {
  StandIns standIns;
  standIns.Srpapi();
  // The guessed buffer of 260 bytes holds one pointer and 126 characters.
  const std::wstring fits(125, L'f'), tooLong(126, L'g');
  using List = std::vector<std::wstring>;
  const List corp = {L"corp.example"}, ab = {L"a.example", L"b.example"};
  const std::optional<HRESULT> no;
  struct Case {
    const char* name;
    List ids;
    std::optional<HRESULT> noBufferResult, fillResult;
    List expected;  // the record's identities
  };
  // clang-format off
  const Case cases[] = {
      {"empty list", List{}, no, no, {}},
      {"one identity", corp, no, no, corp},
      {"guessed buffer, fits exactly", List{fits}, E_INVALIDARG, no, {fits}},
      {"guessed buffer, one character too long", List{tooLong}, E_INVALIDARG, no, {}},
      {"guessed buffer, two identities", ab, E_INVALIDARG, no, ab},
      {"first answer fails otherwise", corp, E_FAIL, no, {}},
      {"first answer succeeds without data", corp, S_OK, no, {}},
      {"second answer fails", corp, no, E_ACCESSDENIED, {}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const wchar_t* name : {standin::kNoBufferResult, standin::kFillResult})
      standIns.Remove(name);
    standIns.Ids(standin::kEnterpriseIds, c.ids);
    if (c.noBufferResult) standIns.Result(standin::kNoBufferResult, *c.noBufferResult);
    if (c.fillResult) standIns.Result(standin::kFillResult, *c.fillResult);
    EnterpriseIds record(false);
    EXPECT_EQ(record.HasIdentity(), !c.expected.empty());
    ASSERT_EQ(record.Count(), c.expected.size());
    for (ULONG i = 0; i < c.expected.size(); ++i) {
      EXPECT_STREQ(record.Identity(i), c.expected[i].c_str());
      EXPECT_TRUE(record.Holds(c.expected[i]));
    }
    EXPECT_EQ(record.Identity(record.Count()), nullptr);
    if (c.expected.empty()) continue;
    // Held means equal in length and every unit.
    const std::wstring& first = c.expected[0];
    std::wstring upper = first;
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    for (const std::wstring& other : {first.substr(0, first.size() - 1), first + L"x",
                                      first + std::wstring(1, L'\0'), std::wstring(), upper}) {
      EXPECT_FALSE(record.Holds(other));
    }
  }
  // Outside a call from a client there is nobody to impersonate.
  standIns.Ids(standin::kEnterpriseIds, corp);
  standIns.Ids(standin::kClientEnterpriseIds, {L"client.example"});
  EXPECT_EQ(EnterpriseIds(true).Count(), 0u);
}

// Reads and writes by callers with and without identities, through a live
// broker (no caller identities there) or a broker object with a caller's
// context: where writes are protected, to whom, and what is refused.
struct AccessCase {
  const char* name;
  bool live;
  Ids processIds, callerIds;  // the broker's own; the caller's when they differ
  enum Place { kSettings, kStoreRoot, kOutside } place;
  bool exists, readOnly;  // the file holds "old" before; else a truncating write of "new"
  HRESULT expected;
  const char* protectedTo;  // empty: the protection function is not called
};

// Not a system code: it can only have come from the protection function.
constexpr HRESULT kProtectionFailure = static_cast<HRESULT>(0x80FE1234);

const std::vector<AccessCase>& AccessCases() {
  static const Ids corp = std::vector<std::wstring>{L"corp.example", L"second.example"};
  static const Ids none = std::vector<std::wstring>{}, same;
  static const Ids broker = std::vector<std::wstring>{L"broker.example"};
  static const Ids caller = std::vector<std::wstring>{L"b\u00fcro.example", L"a.example"};
  using P = AccessCase;
  const HRESULT denied = E_ACCESSDENIED, missing = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  // clang-format off
  static const std::vector<AccessCase> cases = {
      // A caller without identities keeps the path policy whatever the broker has.
      {"live: settings area, not protected", true, corp, same, P::kSettings, false, false, S_OK, ""},
      {"live: read outside refused", true, corp, same, P::kOutside, true, true, denied, ""},
      // Writes in the settings area are protected to the caller's first identity.
      {"settings area, new file", false, corp, same, P::kSettings, false, false, S_OK, "corp.example"},
      {"the caller's identity, not the process's", false, broker, caller, P::kSettings, false, false, S_OK, "b\xc3\xbcro.example"},
      {"outside the settings area: not protected", false, corp, same, P::kStoreRoot, false, false, S_OK, ""},
      {"broker without identities: not protected", false, none, corp, P::kSettings, false, false, S_OK, ""},
      // Writes keep the path policy whoever calls.
      {"caller with identities writes outside", false, corp, same, P::kOutside, false, false, denied, ""},
      // Reads by a caller with identities: unprotected files without the path policy.
      {"caller with identities reads outside", false, corp, same, P::kOutside, true, true, S_OK, ""},
      {"caller with identities reads a missing file", false, corp, same, P::kOutside, false, true, missing, ""},
      // A failed protection is answered as it is; nothing is written or marked and an
      // existing file is not truncated.
      {"protection fails on a new file", false, corp, same, P::kSettings, false, false, kProtectionFailure, "corp.example"},
      {"protection fails on an existing file", false, corp, same, P::kSettings, true, false, kProtectionFailure, "corp.example"},
  };
  // clang-format on
  return cases;
}

std::wstring AccessPath(int index) {
  AccessCase::Place place = AccessCases()[index].place;
  const std::wstring folder = place == AccessCase::kSettings    ? SharedObjects()
                              : place == AccessCase::kStoreRoot ? Store()
                                                                : kOutside;
  return CasePath(L"access", index, folder);
}

void AnswersOf(BrokerFiles& broker, const AccessCase& c, const std::wstring& path) {
  std::string read;
  ULONG cookie = 1;
  EXPECT_EQ(Hex(c.readOnly ? broker.Read(path, &read) : broker.Write(path, "new", &cookie)),
            Hex(c.expected));
  if (c.readOnly && SUCCEEDED(c.expected)) {
    EXPECT_EQ(read, "old");
  }
  if (!c.readOnly && FAILED(c.expected)) {
    EXPECT_EQ(cookie, 0u);
  }
}

TEST_F(EnterpriseZone, IdentitiesDecideProtectionAndAccess) {
  for (int index = 0; index < static_cast<int>(AccessCases().size()); ++index) {
    const AccessCase& c = AccessCases()[index];
    SCOPED_TRACE(c.name);
    StandIns standIns;
    Broker(standIns, c.processIds, c.expected == kProtectionFailure ? c.expected : S_OK);
    if (c.callerIds) standIns.Ids(standin::kClientEnterpriseIds, *c.callerIds);
    const std::wstring path = Scratch(AccessPath(index));
    if (c.exists) WriteFileText(path, "old");
    if (c.live) {
      Session broker;
      ASSERT_HRESULT_SUCCEEDED(broker.created);
      AnswersOf(broker, c, path);
    } else {
      EXPECT_TRUE(RunInChild("access", index));
    }
    EXPECT_EQ(Content(log_), *c.protectedTo ? Logged(path, c.protectedTo) : kNone);
    bool written = !c.readOnly && SUCCEEDED(c.expected);
    if (!c.readOnly) {
      // A file whose protection failed was made first.
      EXPECT_EQ(Content(path), written ? "new" : c.exists ? "old" : *c.protectedTo ? "" : kNone);
    }
    EXPECT_EQ(ZoneOf(path), written ? ZoneText(3) : kNone);
  }
}

TEST_F(EnterpriseZone, ALinkInTheSettingsAreaLeadsNowhereAndDeletesNothing) {
  ASSERT_TRUE(Exists(kLinkTarget)) << "link fixture missing";
  const std::string before = ReadAll(kLinkTarget);
  for (bool identities : {false, true}) {
    SCOPED_TRACE(identities ? "caller with identities" : "caller without identities");
    StandIns standIns;
    Broker(standIns, std::vector<std::wstring>{L"corp.example"});
    standIns.Ids(standin::kClientEnterpriseIds, identities
                                                    ? std::vector<std::wstring>{L"corp.example"}
                                                    : std::vector<std::wstring>{});
    EXPECT_TRUE(RunInChild("link", 0));
    ASSERT_TRUE(Exists(kLinkTarget)) << "the file behind the link was deleted";
    EXPECT_EQ(ReadAll(kLinkTarget), before);
    EXPECT_EQ(ZoneOf(kLinkTarget), kNone);
    EXPECT_EQ(ReadAll(log_), "");  // nor is the file behind the link protected
  }
}

// Identities without the protection library (a system may have one and not
// the other): files are written unprotected, as where neither exists.
TEST_F(EnterpriseZone, WithoutTheProtectionLibraryWritesGoOnUnprotected) {
  StandIns standIns;
  standIns.Srpapi();
  standIns.ZoneClasses();
  standIns.Ids(standin::kEnterpriseIds, {L"corp.example"});
  const std::wstring written = Scratch(CasePath(L"unprotected", 0)),
                     saved = Scratch(CasePath(L"unprotected", 1));
  EXPECT_TRUE(RunInChild("unprotected", 0));
  EXPECT_EQ(Content(written), "new");
  EXPECT_EQ(ZoneOf(written), ZoneText(3));
  EXPECT_EQ(Content(saved), "saved");
  EXPECT_EQ(ZoneOf(saved), kAttached);
}

// A file a save dialog named is opened on its first use; with an enterprise
// identity it is created first when the open would create it, then
// protected, and the attachment services record its origin.
struct PendingCase {
  const char* name;
  bool processIds;  // the broker's process has identities: the file is protected
  DWORD disposition;
  bool exists;                           // the file holds "old-content" before
  HRESULT protectResult, expectedWrite;  // of "new" through the cookie
  std::string expectedFile;
};

const std::vector<PendingCase>& PendingCases() {
  const HRESULT failure = static_cast<HRESULT>(0x80FE4321);
  const HRESULT noHandle = HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
  // clang-format off
  static const std::vector<PendingCase> cases = {
      {"new file, open always", true, OPEN_ALWAYS, false, S_OK, S_OK, "new"},
      {"new file, create new", true, CREATE_NEW, false, S_OK, S_OK, "new"},
      {"existing file, create always: replaced", true, CREATE_ALWAYS, true, S_OK, S_OK, "new"},
      {"existing file, open always: kept", true, OPEN_ALWAYS, true, S_OK, S_OK, "new-content"},
      {"missing file, open existing: protected, not opened", true, OPEN_EXISTING, false, S_OK, noHandle, kNone},
      // The file is replaced before it is protected, as the user chose.
      {"protection fails after replacing: no handle", true, CREATE_ALWAYS, true, failure, noHandle, ""},
      {"protection fails, open always: kept, no handle", true, OPEN_ALWAYS, true, failure, noHandle, "old-content"},
      {"protection fails on a new file: created, no handle", true, CREATE_ALWAYS, false, failure, noHandle, ""},
      {"broker without identities", false, CREATE_ALWAYS, false, S_OK, S_OK, "new"},
  };
  // clang-format on
  return cases;
}

TEST_F(EnterpriseZone, PendingOpensWithAnEnterpriseIdentity) {
  for (int index = 0; index < static_cast<int>(PendingCases().size()); ++index) {
    const PendingCase& c = PendingCases()[index];
    SCOPED_TRACE(c.name);
    StandIns standIns;
    Broker(standIns,
           c.processIds ? std::vector<std::wstring>{L"proc.example"} : std::vector<std::wstring>{},
           c.protectResult);
    const std::wstring path = Scratch(CasePath(L"pending", index, kOutside));
    if (c.exists) WriteFileText(path, "old-content");
    EXPECT_TRUE(RunInChild("pending", index));
    EXPECT_EQ(Content(path), c.expectedFile);
    EXPECT_EQ(Content(log_), c.processIds ? Logged(path, "corp.example") : kNone);
    // Marked once opened; a failed protection ends before the marking.
    EXPECT_EQ(ZoneOf(path), SUCCEEDED(c.expectedWrite) ? kAttached : kNone);
  }
}

// The children's halves of the cases above, by table.
const std::map<std::string, void (*)(int)> kChildCases = {
    {"access",
     [](int index) {
       LocalBroker broker;
       AnswersOf(broker, AccessCases()[index], AccessPath(index));
       EXPECT_GT(broker.caller.Impersonations(), 0);          // the caller's identities were read
       EXPECT_EQ(broker.server->Cookies().Find(1), nullptr);  // no cookie stays behind
     }},
    {"link",
     [](int) {
       LocalBroker broker;
       EXPECT_EQ(Hex(broker.Write(SharedObjects() + L"\\edp-filelink.sol", "gone")),
                 Hex(E_ACCESSDENIED));
     }},
    {"unprotected",
     [](int) {
       LocalBroker broker;
       EXPECT_EQ(Hex(broker.Write(CasePath(L"unprotected", 0), "new")), Hex(S_OK));
       FileCookie* node = broker.AddPending(CasePath(L"unprotected", 1), CREATE_ALWAYS);
       ASSERT_NE(node, nullptr);
       EXPECT_EQ(Hex(broker.WriteTo(node->cookie, "saved")), Hex(S_OK));
       broker.server->BrokerCloseHandle(node->cookie);
     }},
    {"pending",
     [](int index) {
       const PendingCase& c = PendingCases()[index];
       LocalBroker broker;
       FileCookie* node = broker.AddPending(CasePath(L"pending", index, kOutside), c.disposition);
       ASSERT_NE(node, nullptr);
       EXPECT_EQ(Hex(broker.WriteTo(node->cookie, "new")), Hex(c.expectedWrite));
       EXPECT_EQ(node->pending, nullptr);  // carried out once, whatever the outcome
       EXPECT_EQ(Hex(broker.WriteTo(node->cookie, "")),
                 Hex(SUCCEEDED(c.expectedWrite) ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE)));
       EXPECT_EQ(Hex(broker.server->BrokerCloseHandle(node->cookie)), Hex(S_OK));
     }},
};

TEST(EnterpriseZoneChild, DISABLED_OneCase) {
  const std::string which = CommandLineValue("--edp-case=");
  const size_t colon = which.find(':');
  ASSERT_NE(colon, std::string::npos) << "run by the other tests of this program, with --edp-case";
  const auto found = kChildCases.find(which.substr(0, colon));
  ASSERT_NE(found, kChildCases.end()) << which;
  ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
  found->second(atoi(which.c_str() + colon + 1));
  CoUninitialize();
  const std::wstring done(which.begin(), which.end());
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, standin::kKey, kChildDone, REG_SZ, done.c_str(),
                  static_cast<DWORD>((done.size() + 1) * sizeof(wchar_t)));
}

// A missing file is answered at once, without the worker; an existing one
// goes through it (from a thread without COM) and, without the protection
// runtime, is not protected. The worker, one per process, runs later tasks
// on its own thread until stopped.
TEST_F(EnterpriseZone, ProtectionQueriesAndTheirWorker) {
  TaskWorker::StopShared();
  BrokerFileProtectionInfo missing(kOutside + L"\\missing.txt");
  EXPECT_FALSE(missing.IsProtected());
  EXPECT_EQ(missing.CurrentState(), BrokerFileProtectionInfo::kFailed);
  EXPECT_EQ(TaskWorker::Shared(false), nullptr);
  struct Query {
    std::wstring path;
    bool isProtected = true;
    LONG state = -1;
  } query{kOutside + L"\\query.txt"};
  files_.File(query.path, "x");
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
  ASSERT_EQ(WaitForSingleObject(thread.Get(), 20000), WAIT_OBJECT_0) << "the query did not finish";
  EXPECT_FALSE(query.isProtected);
  EXPECT_EQ(query.state, BrokerFileProtectionInfo::kFailed);
  TaskWorker* worker = TaskWorker::Shared(false);
  ASSERT_NE(worker, nullptr);  // started by the query
  EXPECT_EQ(TaskWorker::Shared(true), worker);
  struct Recording final : Task {
    void Run() override {
      thread = GetCurrentThreadId();
      SetEvent(done.Get());
    }
    DWORD thread = 0;
    UniqueHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  };
  Recording task;
  ASSERT_TRUE(worker->Post(&task));
  ASSERT_EQ(WaitForSingleObject(task.done.Get(), 10000), WAIT_OBJECT_0);
  EXPECT_NE(task.thread, GetCurrentThreadId());
  TaskWorker::StopShared();
  EXPECT_EQ(TaskWorker::Shared(false), nullptr);
}

}  // namespace

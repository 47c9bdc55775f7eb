// The zone marking of downloads and the audited open of protected files, against a live
// broker with stand-ins (stubs/) for what Wine lacks: zones go to "<path>.zone", and the
// runtime answers protection queries from the registry and logs audited requests.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BrokerTestSupport.h"
#include "OwnerProgram.h"
#include "WineTestSupport.h"
#include "broker/server/CoGlintBrokerServer.h"
#include "broker/services/EnterpriseData.h"
#include "stubs/StandInSettings.h"

namespace {

const std::wstring kOutside = L"C:\\glint-audit";
const std::wstring kRemote = L"http://remote.example/doc";
const std::string kNone = "<none>";

std::string Content(const std::wstring& path) {
  return Exists(path) ? ReadAll(path) : kNone;
}
std::string Zone(const std::string& lines) {
  return "[ZoneTransfer]\r\nZoneId=3\r\n" + lines;
}

class ZoneAudit : public BrokerSuite {
 protected:
  void SetUp() override {
    SHCreateDirectoryExW(nullptr, SharedObjects().c_str(), nullptr);
    files_.Folder(kOutside);
    folder_ = NewTempFolder(L"glint-audit");
    CopyFileW((ProgramFolder() + L"\\owner-window.exe").c_str(), Edge().c_str(), FALSE);
  }
  void TearDown() override { RemoveTree(folder_); }
  std::wstring Edge() const { return folder_ + L"\\microsoftedge.exe"; }
  std::wstring Log() const { return folder_ + L"\\audit.txt"; }
  // The requests the runtime stand-in recorded since the last call.
  std::string TakeRequests() {
    std::string requests = Content(Log());
    DeleteFileW(Log().c_str());
    return requests == kNone ? "" : requests;
  }
  // The stand-ins of an audited open: the broker's identities (none when
  // empty), the runtime classes and the request log.
  void Audited(StandIns& s, const std::vector<std::wstring>& brokerIds) {
    s.Srpapi();
    s.RuntimeClasses();
    if (!brokerIds.empty()) s.Ids(standin::kEnterpriseIds, brokerIds);
    s.Text(standin::kAuditLog, Log());
    DeleteFileW(Log().c_str());
  }

  ScratchFiles files_;
  std::wstring folder_;  // the browser's copy and the request log
};

// The marking goes into the zone record and never into the file; the
// player names only files it may write, and no URL adds lines of its own.
TEST_F(ZoneAudit, MarkingWritesTheZoneRecordOfWritableFiles) {
  const std::wstring store = SharedObjects() + L"\\mark.sol";
  std::wstring local = KnownFolder(CSIDL_LOCAL_APPDATA);
  for (const wchar_t* level : {L"\\Kestrelink", L"\\Glint Player", L"\\#SharedObjects"})
    files_.Folder(local += level);
  const std::wstring paths[] = {store, local + L"\\local.sol", kOutside + L"\\outside.txt"};
  for (const std::wstring& path : paths) files_.File(path, "downloaded");
  {
    // Without the attachment services the class is missing.
    Session live;
    ASSERT_HRESULT_SUCCEEDED(live.created);
    EXPECT_EQ(
        Hex(live.broker->BrokerMarkFileUnsafe(Bstr(store), Bstr(L"http://s.example/"), Bstr(L""))),
        Hex(REGDB_E_CLASSNOTREG));
  }
  EXPECT_EQ(Content(store + standin::kZoneSuffix), kNone);
  struct Case {
    const char* name;
    std::wstring path, source, referrer;
    HRESULT saveResult;
    HRESULT expected;
    std::wstring marked;  // where a zone record is expected, or empty
    std::string zone;
  } cases[] = {
      {"source and referrer", store, L"http://s.example/f.sol", L"http://r.example/page", S_OK,
       S_OK, store,
       Zone("ReferrerUrl=http://r.example/page\r\nHostUrl=http://s.example/f.sol\r\n")},
      {"only the path", store, L"", L"", S_OK, S_OK, store, Zone("")},
      {"the local folder, not the player's store here",
       L"<LOCAL_APPDATA>\\Kestrelink\\Glint Player\\#SharedObjects\\local.sol",
       L"http://s.example/", L"", S_OK, E_ACCESSDENIED, L"", ""},
      {"the save fails", store, L"http://s.example/", L"",
       HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION),
       L"", ""},
      {"an empty path", L"", L"http://s.example/", L"", S_OK, E_INVALIDARG, L"", ""},
      {"a line break in the source", store, L"http://s.example/\r\nZoneId=0", L"", S_OK,
       E_INVALIDARG, L"", ""},
      {"a control character in the referrer", store, L"", L"http://r.example/\x1b", S_OK,
       E_INVALIDARG, L"", ""},
      {"a NUL in the source", store, std::wstring(L"http://s.example/\0x", 19), L"", S_OK,
       E_INVALIDARG, L"", ""},
      {"a file the player may not write", kOutside + L"\\outside.txt", L"http://s.example/", L"",
       S_OK, E_ACCESSDENIED, L"", ""},
  };
  StandIns standIns;
  standIns.ZoneClasses();
  {
    Session live;
    ASSERT_HRESULT_SUCCEEDED(live.created);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      for (const std::wstring& path : paths) DeleteFileW((path + standin::kZoneSuffix).c_str());
      if (FAILED(c.saveResult)) {
        standIns.Result(standin::kZoneSaveResult, c.saveResult);
      } else {
        standIns.Remove(standin::kZoneSaveResult);
      }
      EXPECT_EQ(
          Hex(live.broker->BrokerMarkFileUnsafe(Bstr(c.path), Bstr(c.source), Bstr(c.referrer))),
          Hex(c.expected));
      for (const std::wstring& path : paths) {
        EXPECT_EQ(Content(path), "downloaded");
        EXPECT_EQ(Content(path + standin::kZoneSuffix), path == c.marked ? c.zone : kNone)
            << Utf8Of(path.c_str());
      }
    }
  }
  // With the administrator's switch on, a new broker object expands the local folder's
  // marker to the player's store and the record goes beside the expanded path.
  const std::wstring admin = KnownFolder(CSIDL_SYSTEMX86) + L"\\Kestreli";
  files_.Folder(admin);
  files_.Folder(admin + L"\\Glint");
  files_.File(admin + L"\\Glint\\gcs.cfg", "EnableLocalAppData=1\r\n");
  Session live;
  ASSERT_HRESULT_SUCCEEDED(live.created);
  EXPECT_EQ(Hex(live.broker->BrokerMarkFileUnsafe(
                Bstr(L"<LOCAL_APPDATA>\\Kestrelink\\Glint Player\\#SharedObjects\\local.sol"),
                Bstr(L"http://s.example/"), Bstr(L""))),
            Hex(S_OK));
  EXPECT_EQ(Content(local + L"\\local.sol" + standin::kZoneSuffix),
            Zone("HostUrl=http://s.example/\r\n"));
  EXPECT_EQ(Content(local + L"\\local.sol"), "downloaded");
  DeleteFileW((local + L"\\local.sol" + standin::kZoneSuffix).c_str());
}

// Who gets a protected file through the audited open: only a file protected to the
// broker's own enterprise (or to no identity), asked for a browser's window, and allowed
// by the system; every other refusal comes before any request. The open is read-only.
TEST_F(ZoneAudit, TheAuditedOpenAsksOnlyForItsOwnEnterprisesFiles) {
  StandIns standIns;
  Audited(standIns, {L"corp.example"});
  OwnerProgram edge(Edge());
  HWND own = CreateWindowW(L"STATIC", L"test", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                           nullptr, nullptr);
  const ULONG ownWindow = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(own));
  const std::string window = std::to_string(edge.window);
  const std::string shared = Utf8Of(SharedObjects().c_str()) + "\\";
  const std::string remote = Utf8Of(kRemote.c_str());
  SHCreateDirectoryExW(nullptr, Store().c_str(), nullptr);
  files_.File(Store() + L"\\audit-store.sol", "store file");
  struct Case {
    const char* name;
    std::wstring path;
    const wchar_t* protection;  // the runtime's answer for the file; none: unprotected
    ULONG window;
    DWORD answer;
    bool holdForWriting;
    HRESULT expected;
    std::string request;  // the recorded request, without the window; empty: none
  } cases[] = {
      {"a file the ordinary open admits", Store() + L"\\audit-store.sol", nullptr, edge.window, 1,
       false, S_OK, ""},
      {"unprotected, outside the store", kOutside + L"\\plain.txt", nullptr, edge.window, 0, false,
       E_ACCESSDENIED, ""},
      {"protected to the broker's enterprise, allowed", kOutside + L"\\own.txt", L"3|corp.example",
       edge.window, 0, false, S_OK, "|corp.example||3|own.txt|C:\\glint-audit\\|" + remote},
      {"blocked", kOutside + L"\\blocked.txt", L"3|corp.example", edge.window, 1, false,
       E_ACCESSDENIED, "|corp.example||3|blocked.txt|C:\\glint-audit\\|" + remote},
      {"protected to another enterprise", kOutside + L"\\other.txt", L"3|other.example",
       edge.window, 0, false, E_ACCESSDENIED, ""},
      {"a window that is not a browser's", kOutside + L"\\window.txt", L"3|corp.example", ownWindow,
       0, false, E_ACCESSDENIED, ""},
      {"protected, identity unknown", kOutside + L"\\noid.txt", L"3|", edge.window, 0, false, S_OK,
       "|||3|noid.txt|C:\\glint-audit\\|" + remote},
      {"held open for writing elsewhere", kOutside + L"\\held.txt", L"3|corp.example", edge.window,
       0, true, S_OK, "|corp.example||3|held.txt|C:\\glint-audit\\|" + remote},
      // Links made from the Linux side (scripts/redteam-fixture.sh): what is
      // opened must be the file whose protection was asked about.
      {"a link to a file elsewhere", SharedObjects() + L"\\edp-filelink.sol", L"3|corp.example",
       edge.window, 0, false, E_ACCESSDENIED,
       "|corp.example||3|edp-filelink.sol|" + shared + "|" + remote},
      {"a second name of a file elsewhere", SharedObjects() + L"\\second-name.sol",
       L"3|corp.example", edge.window, 0, false, E_ACCESSDENIED,
       "|corp.example||3|second-name.sol|" + shared + "|" + remote},
  };
  Session live;
  ASSERT_HRESULT_SUCCEEDED(live.created);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring name = c.path.substr(c.path.rfind(L'\\') + 1);
    if (c.path.compare(0, kOutside.size(), kOutside) == 0)
      files_.File(c.path, "secret " + Utf8Of(name.c_str()));
    if (c.protection != nullptr) standIns.Text(name.c_str(), c.protection, standin::kProtectionKey);
    standIns.Result(standin::kAuditAnswer, static_cast<HRESULT>(c.answer));
    UniqueHandle holder;
    if (c.holdForWriting) {
      holder.Reset(CreateFileW(c.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(holder);
    }
    ULONG cookie = 0;
    EXPECT_EQ(Hex(live.broker->BrokerOpenFileWithAuditingInfo(Bstr(c.path), Bstr(kRemote), c.window,
                                                              &cookie)),
              Hex(c.expected));
    EXPECT_EQ(TakeRequests(), c.request.empty() ? "" : window + c.request + "\n");
    if (FAILED(c.expected)) {
      EXPECT_EQ(cookie, 0u);
      continue;
    }
    ULONG read = 0;
    SAFEARRAY* data = nullptr;
    EXPECT_EQ(Hex(live.broker->BrokerReadFile(cookie, 100, &read, &data)), Hex(S_OK));
    EXPECT_EQ(data != nullptr ? TakeBytes(data, read) : "",
              c.protection == nullptr ? "store file" : "secret " + Utf8Of(name.c_str()));
    EXPECT_TRUE(FAILED(live.WriteTo(cookie, "overwritten")));
    live.Close(cookie);
    EXPECT_NE(Content(c.path), "overwritten");
  }
  DestroyWindow(own);
  // The target of the request is the calling player's first identity; the request is made
  // through this process's runtime, from a thread that pumps.
  standIns.Ids(standin::kClientEnterpriseIds, {L"client.example", L"second.example"});
  standIns.Result(standin::kAuditAnswer, S_OK);
  CallerContext caller;
  auto* broker = new CoGlintBrokerServer(nullptr);
  ULONG cookie = 0;
  EXPECT_EQ(Hex(broker->BrokerOpenFileWithAuditingInfo(Bstr(kOutside + L"\\own.txt"), Bstr(kRemote),
                                                       edge.window, &cookie)),
            Hex(S_OK));
  broker->BrokerCloseHandle(cookie);
  broker->Release();
  TaskWorker::StopShared();
  EXPECT_EQ(TakeRequests(),
            window + "|corp.example|client.example|3|own.txt|C:\\glint-audit\\|" + remote + "\n");
}

// A broker without enterprise identities answers as the ordinary open does
// and asks nothing: a protection query would wait for the held answer.
TEST_F(ZoneAudit, WithoutIdentitiesNothingIsAsked) {
  StandIns standIns;
  Audited(standIns, {});
  OwnerProgram edge(Edge());
  files_.File(kOutside + L"\\noids.txt", "secret");
  standIns.Text(L"noids.txt", L"3|corp.example|hold", standin::kProtectionKey);
  standIns.Result(standin::kAuditAnswer, S_OK);
  UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, standin::kReleaseEvent));
  Session live;
  ASSERT_HRESULT_SUCCEEDED(live.created);
  const std::wstring path = kOutside + L"\\noids.txt";
  ULONG cookie = 0;
  HRESULT ordinary = live.Open(path, true, &cookie);
  live.Close(cookie);
  EXPECT_EQ(Hex(live.broker->BrokerOpenFileWithAuditingInfo(Bstr(path), Bstr(kRemote), edge.window,
                                                            &cookie)),
            Hex(ordinary));
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(TakeRequests(), "");
  SetEvent(release.Get());
}

}  // namespace

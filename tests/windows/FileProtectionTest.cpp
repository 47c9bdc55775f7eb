// Enterprise file protection as the runtime stand-in reports it (the broker and its caller
// are "corp.example"): which statuses keep a file from a caller, whose identity opens it,
// and what the broker does while an answer has not come.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"
#include "broker/server/CoGlintBrokerServer.h"
#include "broker/services/EnterpriseData.h"
#include "stubs/StandInSettings.h"

namespace {

class FileProtection : public BrokerSuite {
 protected:
  void SetUp() override {
    SHCreateDirectoryExW(nullptr, SharedObjects().c_str(), nullptr);
    standIns_.RuntimeClasses();
    standIns_.Srpapi();
    standIns_.Ids(standin::kEnterpriseIds, {L"corp.example"});
    standIns_.Ids(standin::kClientEnterpriseIds, {L"corp.example"});
  }
  // A file in the settings area with the protection `setting` (StandInSettings.h).
  std::wstring File(const std::wstring& name, const std::wstring& setting) {
    files_.File(SharedObjects() + L"\\" + name, "content");
    if (!setting.empty()) standIns_.Text(name.c_str(), setting, standin::kProtectionKey);
    return SharedObjects() + L"\\" + name;
  }
  StandIns standIns_;
  ScratchFiles files_;
};

// Through the live broker the player has no identity (Wine gives a COM server no caller's
// context): a file that counts as protected is refused, every other answer lets the read
// go on. A caller with an identity (in-process, with a caller's context) reads a protected
// file only when it is protected to that very identity.
TEST_F(FileProtection, StatusesAndIdentitiesDecideWhoReads) {
  struct Case {
    bool caller;
    const char* name;
    const wchar_t* setting;
    HRESULT expected;
  } cases[] = {
      {false, "unprotected", L"1|", S_OK},
      {false, "revoked", L"2|other.example", S_OK},
      {false, "protected", L"3|other.example", E_ACCESSDENIED},
      {false, "protected by another user", L"4|other.example", E_ACCESSDENIED},
      {false, "protected to another enterprise", L"5|other.example", E_ACCESSDENIED},
      {false, "not protectable", L"6|", S_OK},
      {false, "protected to another identity", L"7|other.example", E_ACCESSDENIED},
      {false, "license expired", L"8|other.example", S_OK},
      {false, "the file lookup fails", L"lookup", S_OK},
      {false, "the protection query fails", L"3|other.example|error", S_OK},
      {true, "protected to the caller's identity", L"3|corp.example", S_OK},
      {true, "protected to another identity", L"3|other.example", E_ACCESSDENIED},
      {true, "to another identity, status 7, the caller's", L"7|corp.example", S_OK},
  };
  std::vector<std::wstring> paths;
  for (const Case& c : cases)
    paths.push_back(File(L"edp-status-" + std::to_wstring(paths.size()) + L".sol", c.setting));
  auto reads = [&](bool caller, IGlintBroker6* broker) {
    BrokerFiles files{broker};
    for (size_t i = 0; i < std::size(cases); ++i) {
      if (cases[i].caller != caller) continue;
      SCOPED_TRACE(cases[i].name);
      ULONG cookie = 0;
      EXPECT_EQ(Hex(files.Open(paths[i], true, &cookie)), Hex(cases[i].expected));
      files.Close(cookie);
      if (FAILED(cases[i].expected)) {
        EXPECT_EQ(cookie, 0u);  // a refusal leaves no cookie
      }
    }
  };
  Session live;
  ASSERT_HRESULT_SUCCEEDED(live.created);
  reads(false, live.broker);
  CallerContext caller;
  CoGlintBrokerServer* broker = new CoGlintBrokerServer(nullptr);
  reads(true, broker);
  broker->Release();
  TaskWorker::StopShared();
}

// A protection query whose answer does not come holds the read until it
// comes; while it is held nothing is granted, and the late answer decides.
TEST_F(FileProtection, AnAnswerThatDoesNotComeGrantsNothing) {
  UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, standin::kReleaseEvent));
  ASSERT_TRUE(release);
  // However the test ends, the held answer comes, so the broker can end.
  std::unique_ptr<void, decltype(&SetEvent)> releaser(release.Get(), &SetEvent);
  struct Read {
    std::wstring path;
    HRESULT result = E_PENDING;
    ULONG cookie = 0;
  } read{File(L"edp-held.sol", L"3|other.example|hold")};
  UniqueHandle reader(CreateThread(
      nullptr, 0,
      [](void* context) -> DWORD {
        auto* r = static_cast<Read*>(context);
        CoInitialize(nullptr);
        BrokerFiles files;
        if (SUCCEEDED(CreateBroker(&files.broker))) {
          r->result = files.Open(r->path, true, &r->cookie, false);
          files.broker->Release();
        }
        CoUninitialize();
        return 0;
      },
      &read, 0, nullptr));
  ASSERT_TRUE(reader);
  // Held past a minute: a query that gave up after a while and counted the
  // file as unprotected would have answered by now.
  EXPECT_EQ(WaitForSingleObject(reader.Get(), 65000), static_cast<DWORD>(WAIT_TIMEOUT))
      << "answered " << Hex(read.result) << " without the runtime's answer";
  EXPECT_EQ(read.cookie, 0u);
  SetEvent(release.Get());
  ASSERT_EQ(WaitForSingleObject(reader.Get(), 30000), WAIT_OBJECT_0);
  EXPECT_EQ(Hex(read.result), Hex(E_ACCESSDENIED));
  EXPECT_EQ(read.cookie, 0u);
  EXPECT_TRUE(WaitUntilGone(kServer, 10000));
}

}  // namespace

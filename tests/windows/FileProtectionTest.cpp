// Enterprise file protection as the system's runtime reports it: which
// statuses keep a file from a caller, whose identity opens it, and what the
// broker does while an answer has not come. Wine has no such runtime; a
// stand-in for its two classes (stubs/RuntimeStandIn.cpp) is registered in
// the test prefix where the runtime looks for classes, and the srpapi
// stand-in gives the broker and its caller their identities.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"
#include "broker/CoGlintBrokerServer.h"
#include "broker/services/EnterpriseData.h"
#include "foundation/Win32Handles.h"
#include "stubs/RuntimeStandInSettings.h"
#include "stubs/StandInSettings.h"

namespace {

constexpr wchar_t kServer[] = L"glinthost.exe";

LSTATUS SetText(const std::wstring& key, const wchar_t* name, const std::wstring& value,
                DWORD type = REG_SZ) {
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, type, value.c_str(),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// The runtime's classes served by the stand-in, the srpapi stand-in in the
// system folder (the broker and its caller both hold "corp.example"), and
// the protection of each file; all removed again at the end.
class ProtectionStandIns {
 public:
  ProtectionStandIns() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, standin::kKey);
    for (const wchar_t* name : {standin::kStorageFileClass, standin::kProtectionManagerClass}) {
      const std::wstring key = std::wstring(standin::kActivatableClasses) + L"\\" + name;
      DWORD zero = 0;
      EXPECT_EQ(SetText(key, L"DllPath", ProgramFolder() + L"\\runtime-standin.dll"), 0);
      for (const wchar_t* value : {L"ActivationType", L"Threading"}) {
        EXPECT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, REG_DWORD, &zero, 4), 0);
      }
    }
    srpapi_ = KnownFolder(CSIDL_SYSTEM) + L"\\srpapi.dll";
    const std::wstring built = ProgramFolder() + L"\\srpapi-standin.dll";
    // A copy an interrupted run left is recognised by its content.
    if (Exists(srpapi_) && ReadAll(srpapi_) == ReadAll(built)) DeleteFileW(srpapi_.c_str());
    EXPECT_FALSE(Exists(srpapi_)) << "srpapi.dll already in the system folder";
    EXPECT_TRUE(CopyFileW(built.c_str(), srpapi_.c_str(), TRUE));
    const std::wstring ids = std::wstring(L"corp.example") + L'\0';
    EXPECT_EQ(SetText(standin::kKey, standin::kEnterpriseIds, ids, REG_MULTI_SZ), 0);
    EXPECT_EQ(SetText(standin::kKey, standin::kClientEnterpriseIds, ids, REG_MULTI_SZ), 0);
  }
  ~ProtectionStandIns() {
    for (const wchar_t* name : {standin::kStorageFileClass, standin::kProtectionManagerClass}) {
      RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                     (std::wstring(standin::kActivatableClasses) + L"\\" + name).c_str());
    }
    DeleteFileW(srpapi_.c_str());
    EXPECT_FALSE(Exists(srpapi_));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, standin::kKey);
  }
  ProtectionStandIns(const ProtectionStandIns&) = delete;
  ProtectionStandIns& operator=(const ProtectionStandIns&) = delete;

  // A file in the player's settings area with the protection `setting`
  // (RuntimeStandInSettings.h; empty: none).
  std::wstring File(const std::wstring& name, const std::wstring& setting) {
    std::wstring path = KnownFolder(CSIDL_APPDATA) + L"\\Kestrelink\\Glint Player\\#SharedObjects";
    SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    path += L"\\" + name;
    files_.File(path, "content");
    if (!setting.empty()) {
      EXPECT_EQ(SetText(standin::kProtectionKey, name.c_str(), setting), 0);
    }
    return path;
  }

 private:
  std::wstring srpapi_;
  ScratchFiles files_;
};

// Opens for reading and closes again; the open's answer.
HRESULT ReadOpen(IGlintBroker6* broker, const std::wstring& path) {
  ULONG cookie = 0;
  HRESULT hr = broker->BrokerCreateFile(Bstr(path), 1, 0, &cookie);
  if (cookie != 0) broker->BrokerCloseHandle(cookie);
  if (FAILED(hr) && cookie != 0) return E_UNEXPECTED;  // refused, yet a cookie
  return hr;
}

class FileProtection : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(WaitUntilGone(kServer, 10000)) << "a broker from before is still running";
    RegisterTestBroker();
    ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
  }
  static void TearDownTestSuite() {
    CoUninitialize();
    UnregisterTestBroker();
  }
};

// The broker holds an identity and the player (Wine gives a COM server no
// caller's context) has none: a file that counts as protected is refused,
// every other answer of the runtime lets the read go on.
TEST_F(FileProtection, StatusesThatCountAsProtectedKeepAFileFromTheLiveBroker) {
  ProtectionStandIns standIns;
  struct Case {
    const char* name;
    const wchar_t* setting;
    HRESULT expected;
  } cases[] = {
      {"undetermined", L"0|other.example", S_OK},
      {"unprotected", L"1|", S_OK},
      {"revoked", L"2|other.example", S_OK},
      {"protected", L"3|other.example", E_ACCESSDENIED},
      {"protected by another user", L"4|other.example", E_ACCESSDENIED},
      {"protected to another enterprise", L"5|other.example", E_ACCESSDENIED},
      {"not protectable", L"6|", S_OK},
      {"protected to another identity", L"7|other.example", E_ACCESSDENIED},
      {"license expired", L"8|other.example", S_OK},
      {"access suspended", L"9|other.example", S_OK},
      {"file in use", L"10|other.example", S_OK},
      {"no answer for the file", L"", S_OK},
      {"the file lookup fails", L"lookup", S_OK},
      {"the protection query fails", L"3|other.example|error", S_OK},
  };
  std::vector<std::wstring> paths;
  for (size_t i = 0; i < std::size(cases); ++i) {
    paths.push_back(standIns.File(L"edp-status-" + std::to_wstring(i) + L".sol", cases[i].setting));
  }
  IGlintBroker6* broker = nullptr;
  ASSERT_HRESULT_SUCCEEDED(CreateBroker(&broker));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(Hex(ReadOpen(broker, paths[i])), Hex(cases[i].expected));
  }
  broker->Release();
  EXPECT_TRUE(WaitUntilGone(kServer, 10000));
}

// A protection query whose answer does not come holds the read until it
// comes; while it is held nothing is granted, and the late answer decides.
TEST_F(FileProtection, AnAnswerThatDoesNotComeGrantsNothing) {
  ProtectionStandIns standIns;
  UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, standin::kReleaseEvent));
  ASSERT_TRUE(release);
  // However the test ends, the held answer comes, so the broker can end.
  struct Releaser {
    HANDLE event;
    ~Releaser() { SetEvent(event); }
  } releaser{release.Get()};
  struct Read {
    std::wstring path;
    HRESULT result = E_PENDING;
    ULONG cookie = 0;
  } read{standIns.File(L"edp-held.sol", L"3|other.example|hold")};
  UniqueHandle reader(CreateThread(
      nullptr, 0,
      [](void* context) -> DWORD {
        auto* r = static_cast<Read*>(context);
        CoInitialize(nullptr);
        IGlintBroker6* broker = nullptr;
        if (SUCCEEDED(CreateBroker(&broker))) {
          r->result = broker->BrokerCreateFile(Bstr(r->path), 1, 0, &r->cookie);
          broker->Release();
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

// A caller with an identity reads a protected file only when the file is
// protected to that very identity (same units, case included).
TEST_F(FileProtection, ACallerReadsWhatIsProtectedToItsOwnIdentity) {
  ProtectionStandIns standIns;
  struct Case {
    const char* name;
    const wchar_t* setting;
    HRESULT expected;
  } cases[] = {
      {"protected to the caller's identity", L"3|corp.example", S_OK},
      {"protected to another identity", L"3|other.example", E_ACCESSDENIED},
      {"to another identity, status 7, the caller's", L"7|corp.example", S_OK},
      {"the identity in other case", L"7|CORP.example", E_ACCESSDENIED},
      {"a longer identity", L"5|corp.example.net", E_ACCESSDENIED},
      {"revoked, another identity", L"2|other.example", S_OK},
  };
  CallerContext caller;
  CoGlintBrokerServer* broker = new CoGlintBrokerServer(nullptr);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    std::wstring path =
        standIns.File(L"edp-identity-" + std::to_wstring(i) + L".sol", cases[i].setting);
    EXPECT_EQ(Hex(ReadOpen(broker, path)), Hex(cases[i].expected));
  }
  broker->Release();
  TaskWorker::StopShared();
}

}  // namespace

// The broker's server pieces inside the test process: class object
// registration, the factory, object counting and the end of the server,
// IUnknown and IDispatch rules, argument checks of every method, and the
// registration keys.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "BrokerInterfaceTable.h"
#include "BrokerTestSupport.h"
#include "WineTestSupport.h"
#include "broker/BrokerServer.h"
#include "broker/CoGlintBrokerServer.h"
#include "broker/services/EnterpriseData.h"
#include "foundation/WideText.h"

namespace {

bool QuitPosted() {
  MSG message;
  return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
}

class BrokerInProcess : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterTestBroker(); }
  static void TearDownTestSuite() { UnregisterTestBroker(); }
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
    QuitPosted();  // nothing left over from another test
  }
  void TearDown() override {
    RevokeBrokerClassObject();
    QuitPosted();
    CoUninitialize();
  }

  // A broker object made by the registered factory, as IGlintBroker6.
  IGlintBroker6* NewBroker() {
    IGlintBroker6* broker = nullptr;
    EXPECT_HRESULT_SUCCEEDED(BrokerFactory()->CreateInstance(nullptr, IID_IGlintBroker6,
                                                             reinterpret_cast<void**>(&broker)));
    return broker;
  }
};

TEST_F(BrokerInProcess, ClassObjectRegistersOnce) {
  EXPECT_EQ(RevokeBrokerClassObject(), E_FAIL);  // nothing registered yet
  EXPECT_EQ(RegisterBrokerClassObject(false, nullptr), S_OK);
  EXPECT_EQ(BrokerFactory(), nullptr);
  ASSERT_HRESULT_SUCCEEDED(RegisterBrokerClassObject(true, nullptr));
  EXPECT_NE(BrokerFactory(), nullptr);
  EXPECT_EQ(RegisterBrokerClassObject(true, nullptr), E_FAIL);
  EXPECT_EQ(RegisterBrokerClassObject(false, nullptr), E_FAIL);
  EXPECT_HRESULT_SUCCEEDED(RevokeBrokerClassObject());
  EXPECT_EQ(BrokerFactory(), nullptr);
  EXPECT_EQ(RevokeBrokerClassObject(), E_FAIL);
}

TEST_F(BrokerInProcess, FactoryRules) {
  ASSERT_HRESULT_SUCCEEDED(RegisterBrokerClassObject(true, nullptr));
  IClassFactory* factory = BrokerFactory();
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->QueryInterface(IID_IDispatch, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(factory));
  unknown->Release();

  // Aggregation is refused and creates nothing.
  IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(BrokerFactory()->BrokerObjectCount, 0);
  EXPECT_FALSE(QuitPosted());
}

TEST_F(BrokerInProcess, RefusedInterfaceEndsTheServerWhenNothingElseLives) {
  ASSERT_HRESULT_SUCCEEDED(RegisterBrokerClassObject(true, nullptr));
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(BrokerFactory()->CreateInstance(nullptr, IID_IGlintBroker5, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(BrokerFactory()->BrokerObjectCount, 0);
  EXPECT_TRUE(QuitPosted());
}

TEST_F(BrokerInProcess, LastReleaseEndsTheServerUnlessLocked) {
  ASSERT_HRESULT_SUCCEEDED(RegisterBrokerClassObject(true, nullptr));
  IGlintBroker6* first = NewBroker();
  IGlintBroker6* second = NewBroker();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(BrokerFactory()->BrokerObjectCount, 2);
  first->Release();
  EXPECT_FALSE(QuitPosted());

  // A lock outlives the last object; unlocking alone does not end the server.
  BrokerFactory()->LockServer(TRUE);
  second->Release();
  EXPECT_EQ(BrokerFactory()->BrokerObjectCount, 0);
  EXPECT_FALSE(QuitPosted());
  BrokerFactory()->LockServer(FALSE);
  EXPECT_FALSE(QuitPosted());

  // With the lock gone, the next last release ends it.
  NewBroker()->Release();
  EXPECT_TRUE(QuitPosted());
}

TEST_F(BrokerInProcess, OnlyTheNewestInterfaceIsServed) {
  ASSERT_HRESULT_SUCCEEDED(RegisterBrokerClassObject(true, nullptr));
  IGlintBroker6* broker = NewBroker();
  ASSERT_NE(broker, nullptr);
  struct Case {
    const IID* iid;
    HRESULT expected;
  } cases[] = {
      {&IID_IUnknown, S_OK},
      {&IID_IDispatch, S_OK},
      {&IID_IGlintBroker6, S_OK},
      {&IID_IGlintBroker, E_NOINTERFACE},
      {&IID_IGlintBroker2, E_NOINTERFACE},
      {&IID_IGlintBroker3, E_NOINTERFACE},
      {&IID_IGlintBroker4, E_NOINTERFACE},
      {&IID_IGlintBroker5, E_NOINTERFACE},
      {&IID_IClassFactory, E_NOINTERFACE},
  };
  for (const Case& c : cases) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(broker->QueryInterface(*c.iid, &object), c.expected);
    if (c.expected == S_OK) {
      EXPECT_EQ(object, static_cast<void*>(broker));  // one table for all three
      static_cast<IUnknown*>(object)->Release();
    } else {
      EXPECT_EQ(object, nullptr);
    }
  }
  EXPECT_EQ(broker->AddRef(), 2u);
  EXPECT_EQ(broker->Release(), 1u);
  broker->Release();
}

TEST_F(BrokerInProcess, DispatchGoesThroughTheSecondInterface) {
  ASSERT_HRESULT_SUCCEEDED(RegisterBrokerClassObject(true, nullptr));
  IGlintBroker6* broker = NewBroker();
  ASSERT_NE(broker, nullptr);
  UINT count = 0;
  EXPECT_EQ(broker->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);

  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(broker->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
  EXPECT_EQ(info, nullptr);
  ASSERT_EQ(broker->GetTypeInfo(0, 0, &info), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
  EXPECT_TRUE(IsEqualIID(attr->guid, IID_IGlintBroker2));
  info->ReleaseTypeAttr(attr);
  info->Release();

  // Names of the first two interfaces resolve; later ones do not.
  struct Case {
    const wchar_t* name;
    HRESULT expected;
    DISPID id;
  } cases[] = {
      {L"BrokerCreateFile", S_OK, 0x60020000},
      {L"BrokerLMIsRunning", S_OK, 0x60020021},
      {L"BrokerDelayScreensaver", S_OK, 0x60030000},
      {L"BrokerPrefDeleteGlintPlayerVersion", S_OK, 0x60030002},
      {L"BrokerPrintDialog", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
      {L"BrokerIsWritablePath", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
  };
  for (const Case& c : cases) {
    LPOLESTR name = const_cast<LPOLESTR>(c.name);
    DISPID id = 0;
    EXPECT_EQ(broker->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), c.expected) << Utf8Of(c.name);
    if (c.expected == S_OK) {
      EXPECT_EQ(id, c.id);
    }
  }
  broker->Release();
}

// Every method answers a null out-pointer with E_INVALIDARG before doing
// anything, except the local-connection methods, which answer E_FAIL; the
// retired save dialog answers E_NOTIMPL whatever it is given.
TEST_F(BrokerInProcess, EveryMethodChecksItsOutPointers) {
  ASSERT_HRESULT_SUCCEEDED(RegisterBrokerClassObject(true, nullptr));
  IGlintBroker6* broker = NewBroker();
  ASSERT_NE(broker, nullptr);
  BrokerTypes types(LibraryPath());
  ASSERT_TRUE(types.Loaded());
  ASSERT_EQ(types.Methods().size(), 102u);
  for (const BrokerMethodInfo& method : types.Methods()) {
    bool hasOut = false;
    for (const ELEMDESC& p : method.parameters)
      hasOut |= (p.paramdesc.wParamFlags & PARAMFLAG_FOUT) != 0;
    HRESULT result = CallWithHarmlessArguments(broker, method, true);
    if (method.name == L"BrokerSaveDialog") {
      EXPECT_EQ(result, E_NOTIMPL);
    } else if (hasOut) {
      bool localConnection = method.name.rfind(L"BrokerLcd", 0) == 0;
      EXPECT_EQ(result, localConnection ? E_FAIL : E_INVALIDARG) << Utf8Of(method.name.c_str());
    }
  }
  broker->Release();
}

// A file a save dialog named is opened on first use; its writes are watched
// like any other.
TEST_F(BrokerInProcess, PendingOpensAreWatchedForImages) {
  ASSERT_HRESULT_SUCCEEDED(RegisterBrokerClassObject(true, nullptr));
  CoGlintBrokerServer* broker = static_cast<CoGlintBrokerServer*>(NewBroker());
  ASSERT_NE(broker, nullptr);
  std::wstring folder = NewTempFolder(L"glint-pending");
  std::wstring path = folder + L"\\saved.dll";
  auto pending = std::make_unique<PendingOpen>();
  pending->access = GENERIC_WRITE;
  pending->share = FILE_SHARE_READ;
  pending->disposition = CREATE_ALWAYS;
  pending->flags = FILE_ATTRIBUTE_NORMAL;
  FileCookie* node = broker->Cookies().Add(INVALID_HANDLE_VALUE, std::move(pending), path);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->cookie, 1u);  // the first cookie of a broker object
  ULONG cookie = node->cookie;
  std::string image = "MZ" + std::string(58, 'x') + std::string("\x40\0\0\0PE\0\0", 8);
  SAFEARRAY* data = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(image.size()));
  void* raw = nullptr;
  SafeArrayAccessData(data, &raw);
  memcpy(raw, image.data(), image.size());
  SafeArrayUnaccessData(data);
  ULONG written = 0;
  EXPECT_EQ(broker->BrokerWriteFile(cookie, data, &written), E_FAIL);
  EXPECT_FALSE(Exists(path));                                          // the image is gone
  EXPECT_EQ(broker->BrokerWriteFile(cookie, data, &written), E_FAIL);  // and stays blocked
  // A cookie without a handle cannot be read.
  SAFEARRAY* read = nullptr;
  ULONG count = 0;
  EXPECT_EQ(broker->BrokerReadFile(cookie, 4, &count, &read), E_INVALIDARG);
  EXPECT_EQ(broker->BrokerCloseHandle(cookie), S_OK);
  SafeArrayDestroy(data);
  broker->Release();
  RemoveTree(folder);
}

// Where the runtime's storage or enterprise-data classes are missing (as on
// this test platform), an existing file is queried on the worker thread and
// reported as not protected; the worker then stops cleanly.
TEST(FileProtectionQuery, ExistingFileWithoutTheRuntimeClasses) {
  std::wstring folder = NewTempFolder(L"glint-protection");
  ScratchFiles files;
  files.File(folder + L"\\plain.sol", "x");
  {
    BrokerFileProtectionInfo query(folder + L"\\plain.sol");
    EXPECT_FALSE(query.IsProtected());
    EXPECT_TRUE(query.Identity().empty());
    EXPECT_EQ(query.CurrentState(), BrokerFileProtectionInfo::kFailed);
  }
  EXPECT_NE(TaskWorker::Shared(false), nullptr);  // started by the query
  TaskWorker::StopShared();
  EXPECT_EQ(TaskWorker::Shared(false), nullptr);
  RemoveTree(folder);
}

// --- registration --------------------------------------------------------------

std::wstring ReadText(const std::wstring& key, const wchar_t* name) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS) {
    return L"<missing>";
  }
  return buffer;
}

DWORD ReadNumber(const std::wstring& key, const wchar_t* name) {
  DWORD value = 0xDEADBEEF;
  DWORD size = sizeof value;
  RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  return value;
}

bool KeyExists(const std::wstring& key, REGSAM view = 0) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, &handle) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(handle);
  return true;
}

std::wstring G(const GUID& guid) {
  return Wide(GuidText(guid));
}

TEST(BrokerRegistration, KeysAreExactAndUnregistrationLeavesNeighbours) {
  UnregisterTestBroker();
  const std::wstring server = L"C:\\Program Files\\Glint\\glinthost.exe";
  ASSERT_EQ(WriteBrokerRegistration(M(server), true), S_OK);

  const std::wstring clsid = L"Software\\Classes\\CLSID\\" + G(CLSID_GlintBrokerImp6);
  const std::wstring libid = G(LIBID_GlintBrokerLib);
  const std::wstring typeLib = L"Software\\Classes\\TypeLib\\" + libid;
  const std::wstring policy =
      L"Software\\Microsoft\\Internet Explorer\\Low Rights\\ElevationPolicy\\" +
      G(kBrokerElevationPolicyGuid);
  EXPECT_EQ(ReadText(clsid, nullptr), L"GlintBroker");
  EXPECT_EQ(ReadText(clsid + L"\\LocalServer32", nullptr), server);
  EXPECT_EQ(ReadText(clsid + L"\\TypeLib", nullptr), libid);
  EXPECT_EQ(ReadText(clsid, L"LocalizedString"), L"@" + server + L",-101");
  EXPECT_EQ(ReadNumber(clsid + L"\\Elevation", L"Enabled"), 1u);
  for (const IID* iid : {&IID_IGlintBroker, &IID_IGlintBroker2, &IID_IGlintBroker3,
                         &IID_IGlintBroker4, &IID_IGlintBroker5, &IID_IGlintBroker6}) {
    const std::wstring key = L"Software\\Classes\\Interface\\" + G(*iid);
    EXPECT_EQ(ReadText(key + L"\\ProxyStubClsid32", nullptr),
              L"{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(ReadText(key + L"\\TypeLib", nullptr), libid);
    EXPECT_EQ(ReadText(key + L"\\TypeLib", L"Version"), L"1.0");
  }
  EXPECT_EQ(ReadText(L"Software\\Classes\\Interface\\" + G(IID_IGlintBroker6), nullptr),
            L"IGlintBroker6");
  EXPECT_EQ(ReadText(typeLib, nullptr), L"");
  EXPECT_EQ(ReadText(typeLib + L"\\1.0", nullptr), L"GlintBroker");
  EXPECT_EQ(ReadText(typeLib + L"\\1.0\\FLAGS", nullptr), L"0");
  EXPECT_EQ(ReadText(typeLib + L"\\1.0\\HELPDIR", nullptr), server);
  EXPECT_EQ(ReadText(typeLib + L"\\1.0\\0\\win32", nullptr), server);
  EXPECT_EQ(ReadNumber(policy, L"Policy"), 3u);
  EXPECT_EQ(ReadText(policy, L"AppPath"), L"C:\\Program Files\\Glint");
  EXPECT_EQ(ReadText(policy, L"AppName"), L"glinthost.exe");
  // The browser's policy entry is named by a fixed GUID of its own, none of
  // the broker's class, library or interface identifiers.
  EXPECT_EQ(G(kBrokerElevationPolicyGuid), L"{5D4F2C3A-8E61-4B7F-9A0D-2C6E1B38F7A4}");
  for (const GUID* other : {&GUID_NULL, &CLSID_GlintBrokerImp6, &LIBID_GlintBrokerLib,
                            &IID_IGlintBroker, &IID_IGlintBroker2, &IID_IGlintBroker3,
                            &IID_IGlintBroker4, &IID_IGlintBroker5, &IID_IGlintBroker6}) {
    EXPECT_FALSE(IsEqualGUID(kBrokerElevationPolicyGuid, *other)) << Utf8Of(G(*other).c_str());
  }
  // GUIDs are written in upper case.
  for (wchar_t c : libid) EXPECT_FALSE(c >= L'a' && c <= L'f');

  // Neighbours under the same parents survive unregistration.
  ScratchRegistry registry;
  const std::wstring otherClass =
      L"Software\\Classes\\CLSID\\{11111111-2222-3333-4444-555555555555}";
  const std::wstring otherPolicy =
      L"Software\\Microsoft\\Internet Explorer\\Low Rights\\ElevationPolicy\\{11111111-2222-3333-"
      L"4444-555555555555}";
  registry.SetString(HKEY_LOCAL_MACHINE, otherClass, L"", L"other");
  registry.SetString(HKEY_LOCAL_MACHINE, otherPolicy, L"AppName", L"other.exe");
  ASSERT_EQ(WriteBrokerRegistration(MString(), false), S_OK);
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    EXPECT_FALSE(KeyExists(clsid, view));
    EXPECT_FALSE(KeyExists(typeLib, view));
    EXPECT_FALSE(KeyExists(policy, view));
    EXPECT_FALSE(KeyExists(L"Software\\Classes\\Interface\\" + G(IID_IGlintBroker6), view));
    EXPECT_FALSE(KeyExists(L"Software\\Classes\\Interface\\" + G(IID_IGlintBroker), view));
  }
  EXPECT_EQ(ReadText(otherClass, nullptr), L"other");
  EXPECT_EQ(ReadText(otherPolicy, L"AppName"), L"other.exe");
  EXPECT_TRUE(KeyExists(L"Software\\Classes\\CLSID"));
}

TEST(BrokerRegistration, ServerPathSplitsAtItsLastSeparator) {
  struct Case {
    const wchar_t* server;
    const wchar_t* path;
    const wchar_t* name;
  } cases[] = {
      {L"C:\\a\\b\\host.exe", L"C:\\a\\b", L"host.exe"},
      {L"C:/a/b/host.exe", L"C:/a/b", L"host.exe"},
      {L"C:\\a/b\\host.exe", L"C:\\a/b", L"host.exe"},
      {L"host.exe", L"host.exe", L"host.exe"},
      {L"C:\\folder\\", L"C:\\folder", L""},
  };
  const std::wstring policy =
      L"Software\\Microsoft\\Internet Explorer\\Low Rights\\ElevationPolicy\\" +
      G(kBrokerElevationPolicyGuid);
  for (const Case& c : cases) {
    ASSERT_EQ(WriteBrokerRegistration(M(c.server), true), S_OK);
    EXPECT_EQ(ReadText(policy, L"AppPath"), c.path) << Utf8Of(c.server);
    EXPECT_EQ(ReadText(policy, L"AppName"), c.name) << Utf8Of(c.server);
  }
  EXPECT_EQ(WriteBrokerRegistration(MString(), true), E_FAIL);
  WriteBrokerRegistration(MString(), false);
}

// A file a save dialog named gets the checks of any other open once it is
// opened: nothing is created through a name that exists (a link to nothing
// included), a file with a second name is not opened, and a refused open
// leaves no handle. The dangling link comes from the hostile-path fixture.
TEST_F(BrokerInProcess, PendingOpensAreCheckedAfterOpening) {
  ASSERT_HRESULT_SUCCEEDED(RegisterBrokerClassObject(true, nullptr));
  CoGlintBrokerServer* broker = static_cast<CoGlintBrokerServer*>(NewBroker());
  ASSERT_NE(broker, nullptr);
  std::wstring folder = NewTempFolder(L"glint-pending-checks");
  ScratchFiles files;
  files.File(folder + L"\\kept.sol", "kept");
  files.File(folder + L"\\first-name.sol", "first");
  ASSERT_TRUE(CreateHardLinkW((folder + L"\\second-name.sol").c_str(),
                              (folder + L"\\first-name.sol").c_str(), nullptr));
  wchar_t roaming[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, roaming);
  const std::wstring dangling =
      std::wstring(roaming) + L"\\Kestrelink\\Glint Player\\#SharedObjects\\dangling.sol";
  ASSERT_TRUE(GetFileAttributesW(dangling.c_str()) == INVALID_FILE_ATTRIBUTES)
      << "the link must lead nowhere";
  struct Case {
    std::wstring name;
    DWORD disposition;
    bool opened;
  } cases[] = {
      {folder + L"\\new.sol", CREATE_ALWAYS, true},
      {folder + L"\\kept.sol", OPEN_ALWAYS, true},
      {folder + L"\\kept.sol", CREATE_NEW, false},
      {folder + L"\\second-name.sol", OPEN_EXISTING, false},
      {folder + L"\\second-name.sol", CREATE_ALWAYS, false},
      {dangling, CREATE_ALWAYS, false},
      {dangling, OPEN_ALWAYS, false},
  };
  for (const Case& c : cases) {
    auto pending = std::make_unique<PendingOpen>();
    pending->access = GENERIC_WRITE;
    pending->share = FILE_SHARE_READ;
    pending->disposition = c.disposition;
    pending->flags = FILE_ATTRIBUTE_NORMAL;
    FileCookie* node = broker->Cookies().Add(INVALID_HANDLE_VALUE, std::move(pending), c.name);
    ASSERT_NE(node, nullptr);
    ULONG position = 0;
    HRESULT seek = broker->BrokerSetFilePointer(node->cookie, 0, FILE_END, &position);
    EXPECT_EQ(node->HasHandle(), c.opened) << Utf8Of(c.name.c_str()) << " " << c.disposition;
    EXPECT_EQ(SUCCEEDED(seek), c.opened) << Utf8Of(c.name.c_str());
    broker->BrokerCloseHandle(node->cookie);
  }
  EXPECT_EQ(ReadAll(folder + L"\\kept.sol"), "kept");
  EXPECT_EQ(ReadAll(folder + L"\\first-name.sol"), "first");
  EXPECT_EQ(GetFileAttributesW(dangling.c_str()), INVALID_FILE_ATTRIBUTES);
  broker->Release();
  DeleteFileW((folder + L"\\second-name.sol").c_str());
  RemoveTree(folder);
}

// Attribute queries outside the player's folders answer only for a file the
// user chose in a dialog, and only while that name still leads to it.
TEST_F(BrokerInProcess, AttributesOfChosenFilesOnly) {
  ASSERT_HRESULT_SUCCEEDED(RegisterBrokerClassObject(true, nullptr));
  IGlintBroker6* broker = NewBroker();
  ASSERT_NE(broker, nullptr);
  std::wstring folder = NewTempFolder(L"glint-chosen");
  ScratchFiles files;
  files.File(folder + L"\\chosen.txt", "12345");
  files.File(folder + L"\\other.txt", "1");
  AddChosenFile(folder + L"\\chosen.txt");
  struct Case {
    std::wstring path;
    HRESULT expected;
    ULONG size;
  } cases[] = {
      {folder + L"\\chosen.txt", S_OK, 5},
      {folder + L"\\other.txt", E_ACCESSDENIED, 0},
      {folder, E_ACCESSDENIED, 0},
  };
  for (const Case& c : cases) {
    ULONG v[9] = {};
    HRESULT hr = broker->BrokerGetFileAttributesEx(Bstr(c.path), &v[0], &v[1], &v[2], &v[3], &v[4],
                                                   &v[5], &v[6], &v[7], &v[8]);
    EXPECT_EQ(hr, c.expected) << Utf8Of(c.path.c_str());
    EXPECT_EQ(v[7], c.size) << Utf8Of(c.path.c_str());
    EXPECT_EQ(v[5] != 0 || v[6] != 0, SUCCEEDED(hr)) << "write time";
  }
  broker->Release();
  RemoveTree(folder);
}

}  // namespace

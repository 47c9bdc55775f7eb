// The broker's server pieces inside the test process, where a case can reach
// the factory, the object count and the cookie table directly.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"
#include "broker/server/BrokerServer.h"
#include "broker/server/CoGlintBrokerServer.h"

namespace {

bool QuitPosted() {
  MSG message;
  return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
}

class BrokerInProcess : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterTestBroker(); }
  static void TearDownTestSuite() { UnregisterTestBroker(); }
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr)); }
  void TearDown() override {
    RevokeBrokerClassObject();
    QuitPosted();  // nothing left for the next test
    CoUninitialize();
  }
  // A broker object from the registered factory (registered here first).
  CoGlintBrokerServer* NewBroker() {
    if (BrokerFactory() == nullptr) {
      EXPECT_HRESULT_SUCCEEDED(RegisterBrokerClassObject(true, nullptr));
    }
    IGlintBroker6* broker = nullptr;
    EXPECT_HRESULT_SUCCEEDED(BrokerFactory()->CreateInstance(nullptr, IID_IGlintBroker6,
                                                             reinterpret_cast<void**>(&broker)));
    return static_cast<CoGlintBrokerServer*>(broker);
  }
};

// The class object registers once. The factory answers only IUnknown and
// refuses aggregation, which leaves the server be. (A refused interface ends
// a lone server: BrokerCrossProcess.OnlyObjectsKeepTheServer.)
TEST_F(BrokerInProcess, ClassObjectAndFactoryRules) {
  EXPECT_EQ(RevokeBrokerClassObject(), E_FAIL);  // nothing registered yet
  EXPECT_EQ(RegisterBrokerClassObject(false, nullptr), S_OK);
  EXPECT_EQ(BrokerFactory(), nullptr);
  ASSERT_HRESULT_SUCCEEDED(RegisterBrokerClassObject(true, nullptr));
  EXPECT_EQ(RegisterBrokerClassObject(true, nullptr), E_FAIL);
  EXPECT_EQ(RegisterBrokerClassObject(false, nullptr), E_FAIL);
  IClassFactory* factory = BrokerFactory();
  ASSERT_NE(factory, nullptr);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->QueryInterface(IID_IDispatch, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(factory));
  unknown->Release();
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(factory, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(BrokerFactory()->BrokerObjectCount, 0);
  EXPECT_FALSE(QuitPosted());
  EXPECT_HRESULT_SUCCEEDED(RevokeBrokerClassObject());
  EXPECT_EQ(BrokerFactory(), nullptr);
  EXPECT_EQ(RevokeBrokerClassObject(), E_FAIL);
}

TEST_F(BrokerInProcess, LastReleaseEndsTheServerUnlessLocked) {
  IGlintBroker6* first = NewBroker();
  IGlintBroker6* second = NewBroker();
  ASSERT_TRUE(first != nullptr && second != nullptr);
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
  NewBroker()->Release();  // with the lock gone, the next last release ends it
  EXPECT_TRUE(QuitPosted());
}

// Only the newest interface is served (one table for IUnknown, IDispatch and
// it), not an older one; IDispatch goes through the second's type information.
TEST_F(BrokerInProcess, InterfaceAndDispatchRules) {
  IGlintBroker6* broker = NewBroker();
  ASSERT_NE(broker, nullptr);
  for (auto [iid, expected] : {std::pair{&IID_IUnknown, S_OK},
                               {&IID_IDispatch, S_OK},
                               {&IID_IGlintBroker6, S_OK},
                               {&IID_IGlintBroker2, E_NOINTERFACE},
                               {&IID_IGlintBroker5, E_NOINTERFACE},
                               {&IID_IClassFactory, E_NOINTERFACE}}) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(broker->QueryInterface(*iid, &object), expected);
    EXPECT_EQ(object, expected == S_OK ? static_cast<void*>(broker) : nullptr);
    if (object != nullptr) static_cast<IUnknown*>(object)->Release();
  }
  EXPECT_EQ(broker->AddRef(), 2u);
  EXPECT_EQ(broker->Release(), 1u);
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
  for (auto [text, id] : {std::pair{L"BrokerCreateFile", 0x60020000},
                          {L"BrokerLMIsRunning", 0x60020021},
                          {L"BrokerDelayScreensaver", 0x60030000},
                          {L"BrokerPrefDeleteGlintPlayerVersion", 0x60030002},
                          {L"BrokerPrintDialog", DISPID_UNKNOWN},
                          {L"BrokerIsWritablePath", DISPID_UNKNOWN}}) {
    LPOLESTR name = const_cast<LPOLESTR>(text);
    DISPID got = 0;
    EXPECT_EQ(broker->GetIDsOfNames(IID_NULL, &name, 1, 0, &got),
              id == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK)
        << Utf8Of(text);
    if (id != DISPID_UNKNOWN) {
      EXPECT_EQ(got, id);
    }
  }
  broker->Release();
}

// Every method answers a null out-pointer with E_INVALIDARG before doing
// anything, except the local-connection methods, which answer E_FAIL; the
// retired save dialog answers E_NOTIMPL whatever it is given.
TEST_F(BrokerInProcess, EveryMethodChecksItsOutPointers) {
  IGlintBroker6* broker = NewBroker();
  ASSERT_NE(broker, nullptr);
  BrokerTypes types(ProgramFolder() + L"\\GlintUtil.dll");
  ASSERT_TRUE(types.Loaded());
  for (const BrokerMethodInfo& method : types.Methods()) {
    bool hasOut = false;
    for (const BrokerParameter& p : method.parameters) hasOut |= (p.flags & PARAMFLAG_FOUT) != 0;
    HRESULT result = CallWithHarmlessArguments(broker, method, true);
    bool localConnection = method.name.rfind(L"BrokerLcd", 0) == 0;
    if (method.name == L"BrokerSaveDialog") {
      EXPECT_EQ(result, E_NOTIMPL);
    } else if (hasOut) {
      EXPECT_EQ(result, localConnection ? E_FAIL : E_INVALIDARG) << Utf8Of(method.name.c_str());
    }
  }
  broker->Release();
}

// Files handed over by dialogs. One a save dialog named is checked like any
// open once it is opened: nothing is created through an existing name (the
// fixture's dangling link included), a second name is not opened, a refusal
// keeps no handle, and images are caught as they are written. Attribute
// queries outside the player's folders answer for a file the user chose (its
// siblings and folder stay refused: the red team's rows).
TEST_F(BrokerInProcess, FilesFromDialogsAreCheckedAfterOpening) {
  CoGlintBrokerServer* broker = NewBroker();
  ASSERT_NE(broker, nullptr);
  const std::wstring folder = NewTempFolder(L"glint-pending-checks");
  ScratchFiles files;
  files.File(folder + L"\\kept.sol", "kept");
  files.File(folder + L"\\first-name.sol", "first");
  ASSERT_TRUE(CreateHardLinkW((folder + L"\\second-name.sol").c_str(),
                              (folder + L"\\first-name.sol").c_str(), nullptr));
  const std::wstring dangling = SharedObjects() + L"\\dangling.sol";
  ASSERT_FALSE(Exists(dangling)) << "the link must lead nowhere";
  auto add = [&](const std::wstring& path, DWORD disposition) {
    auto pending = std::make_unique<PendingOpen>();
    pending->access = GENERIC_WRITE;
    pending->share = FILE_SHARE_READ;
    pending->disposition = disposition;
    pending->flags = FILE_ATTRIBUTE_NORMAL;
    return broker->Cookies().Add(INVALID_HANDLE_VALUE, std::move(pending), path);
  };
  FileCookie* image = add(folder + L"\\saved.dll", CREATE_ALWAYS);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->cookie, 1u);  // the first cookie of a broker object
  BrokerFiles calls{broker};
  EXPECT_EQ(calls.WriteTo(image->cookie, kImageHeader), E_FAIL);
  EXPECT_FALSE(Exists(folder + L"\\saved.dll"));                  // the image is gone
  EXPECT_EQ(calls.WriteTo(image->cookie, kImageHeader), E_FAIL);  // and stays blocked
  SAFEARRAY* read = nullptr;
  ULONG count = 0;  // a cookie without a handle cannot be read
  EXPECT_EQ(broker->BrokerReadFile(image->cookie, 4, &count, &read), E_INVALIDARG);
  EXPECT_EQ(broker->BrokerCloseHandle(image->cookie), S_OK);
  struct Case {
    std::wstring name;
    DWORD disposition;
    bool opened;
  } cases[] = {
      {folder + L"\\kept.sol", OPEN_ALWAYS, true},
      {folder + L"\\kept.sol", CREATE_NEW, false},
      {folder + L"\\second-name.sol", OPEN_EXISTING, false},
      {folder + L"\\second-name.sol", CREATE_ALWAYS, false},
      {dangling, CREATE_ALWAYS, false},
      {dangling, OPEN_ALWAYS, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8Of(c.name.c_str()) + " " + std::to_string(c.disposition));
    FileCookie* node = add(c.name, c.disposition);
    ASSERT_NE(node, nullptr);
    ULONG position = 0;
    HRESULT seek = broker->BrokerSetFilePointer(node->cookie, 0, FILE_END, &position);
    EXPECT_EQ(node->HasHandle(), c.opened);
    EXPECT_EQ(SUCCEEDED(seek), c.opened);
    broker->BrokerCloseHandle(node->cookie);
  }
  EXPECT_EQ(ReadAll(folder + L"\\kept.sol"), "kept");
  EXPECT_EQ(ReadAll(folder + L"\\first-name.sol"), "first");
  EXPECT_FALSE(Exists(dangling));
  files.File(folder + L"\\chosen.txt", "12345");
  AddChosenFile(folder + L"\\chosen.txt");
  ULONG v[9] = {};
  EXPECT_EQ(broker->BrokerGetFileAttributesEx(Bstr(folder + L"\\chosen.txt"), &v[0], &v[1], &v[2],
                                              &v[3], &v[4], &v[5], &v[6], &v[7], &v[8]),
            S_OK);
  EXPECT_EQ(v[7], 5u);
  EXPECT_TRUE(v[5] != 0 || v[6] != 0) << "write time";
  broker->Release();
  RemoveTree(folder);
}

// A value as text, a DWORD as "#n"; "<missing>" when there is none.
std::wstring ReadText(const std::wstring& key, const wchar_t* name) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer, type = 0, number = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_DWORD, &type,
                   buffer, &size) != ERROR_SUCCESS)
    return L"<missing>";
  std::memcpy(&number, buffer, sizeof number);
  return type == REG_DWORD ? L"#" + std::to_wstring(number) : buffer;
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
  std::vector<std::tuple<std::wstring, const wchar_t*, std::wstring>> values = {
      {clsid, nullptr, L"GlintBroker"},
      {clsid + L"\\Elevation", L"Enabled", L"#1"},
      {policy, L"Policy", L"#3"},
      {clsid + L"\\LocalServer32", nullptr, server},
      {clsid + L"\\TypeLib", nullptr, libid},
      {clsid, L"LocalizedString", L"@" + server + L",-101"},
      {L"Software\\Classes\\Interface\\" + G(IID_IGlintBroker6), nullptr, L"IGlintBroker6"},
      {typeLib, nullptr, L""},
      {typeLib + L"\\1.0", nullptr, L"GlintBroker"},
      {typeLib + L"\\1.0\\FLAGS", nullptr, L"0"},
      {typeLib + L"\\1.0\\HELPDIR", nullptr, server},
      {typeLib + L"\\1.0\\0\\win32", nullptr, server},
      {policy, L"AppPath", L"C:\\Program Files\\Glint"},
      {policy, L"AppName", L"glinthost.exe"},
  };
  for (const IID* iid : {&IID_IGlintBroker, &IID_IGlintBroker2, &IID_IGlintBroker3,
                         &IID_IGlintBroker4, &IID_IGlintBroker5, &IID_IGlintBroker6}) {
    const std::wstring key = L"Software\\Classes\\Interface\\" + G(*iid);
    values.push_back(
        {key + L"\\ProxyStubClsid32", nullptr, L"{00020424-0000-0000-C000-000000000046}"});
    values.push_back({key + L"\\TypeLib", nullptr, libid});
    values.push_back({key + L"\\TypeLib", L"Version", L"1.0"});
  }
  for (const auto& [key, name, expected] : values)
    EXPECT_EQ(ReadText(key, name), expected) << Utf8Of(key.c_str());
  for (wchar_t c : libid) EXPECT_FALSE(c >= L'a' && c <= L'f');  // GUIDs in upper case

  // Neighbours under the same parents survive unregistration.
  ScratchRegistry registry;
  const std::wstring other = L"{11111111-2222-3333-4444-555555555555}";
  const std::wstring otherPolicy = policy.substr(0, policy.rfind(L'\\') + 1) + other;
  registry.SetString(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" + other, L"", L"other");
  registry.SetString(HKEY_LOCAL_MACHINE, otherPolicy, L"AppName", L"other.exe");
  ASSERT_EQ(WriteBrokerRegistration(MString(), false), S_OK);
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    for (const std::wstring& key :
         {clsid, typeLib, policy, L"Software\\Classes\\Interface\\" + G(IID_IGlintBroker6),
          L"Software\\Classes\\Interface\\" + G(IID_IGlintBroker)}) {
      EXPECT_FALSE(StandIns::KeyExists(key.c_str(), view)) << Utf8Of(key.c_str());
    }
  }
  EXPECT_EQ(ReadText(L"Software\\Classes\\CLSID\\" + other, nullptr), L"other");
  EXPECT_EQ(ReadText(otherPolicy, L"AppName"), L"other.exe");

  // The policy's path and name come from the server path's last separator.
  for (auto [path, folder, name] : {std::tuple{L"C:/a/b/host.exe", L"C:/a/b", L"host.exe"},
                                    {L"C:\\a/b\\host.exe", L"C:\\a/b", L"host.exe"},
                                    {L"host.exe", L"host.exe", L"host.exe"},
                                    {L"C:\\folder\\", L"C:\\folder", L""}}) {
    ASSERT_EQ(WriteBrokerRegistration(M(path), true), S_OK);
    EXPECT_EQ(ReadText(policy, L"AppPath"), folder) << Utf8Of(path);
    EXPECT_EQ(ReadText(policy, L"AppName"), name) << Utf8Of(path);
  }
  EXPECT_EQ(WriteBrokerRegistration(MString(), true), E_FAIL);
  WriteBrokerRegistration(MString(), false);
}

}  // namespace

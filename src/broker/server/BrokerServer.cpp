#include "broker/server/BrokerServer.h"

#include <psapi.h>

#include <cstdio>
#include <string>

#include "broker/services/EnterpriseData.h"
#include "engine/HostCallbacks.h"
#include "foundation/DynamicLoadLibraryHelper.h"
#include "foundation/Registry.h"
#include "foundation/SystemModule.h"
#include "foundation/WideText.h"
#include "foundation/Win32Handles.h"

// {5D4F2C3A-8E61-4B7F-9A0D-2C6E1B38F7A4}
const GUID kBrokerElevationPolicyGuid = {
    0x5D4F2C3A, 0x8E61, 0x4B7F, {0x9A, 0x0D, 0x2C, 0x6E, 0x1B, 0x38, 0xF7, 0xA4}};

namespace {

// Process-wide server state.
CoGlintBrokerServer::Factory* g_factory = nullptr;
DWORD g_registrationCookie = 0;

}  // namespace

CoGlintBrokerServer::Factory* BrokerFactory() {
  return g_factory;
}

// --- class factory --------------------------------------------------------

HRESULT STDMETHODCALLTYPE CoGlintBrokerServer::Factory::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CoGlintBrokerServer::Factory::AddRef() {
  return ++references_;
}

ULONG STDMETHODCALLTYPE CoGlintBrokerServer::Factory::Release() {
  LONG count = --references_;
  if (count == 0) {
    delete this;
    return 0;
  }
  return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CoGlintBrokerServer::Factory::CreateInstance(IUnknown* outer, REFIID iid,
                                                                       void** object) {
  if (object != nullptr) *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  auto* broker = new (std::nothrow) CoGlintBrokerServer(host_);
  if (broker == nullptr) return E_OUTOFMEMORY;
  HRESULT result = broker->QueryInterface(iid, object);
  broker->Release();  // a refused interface ends the object, and maybe the server
  return result;
}

HRESULT STDMETHODCALLTYPE CoGlintBrokerServer::Factory::LockServer(BOOL lock) {
  if (lock) {
    ++BrokerLockCount;
  } else {
    --BrokerLockCount;
  }
  return S_OK;
}

// --- class object and server loop ------------------------------------------

HRESULT RegisterBrokerClassObject(bool registerObject, HostCallbacks* host) {
  if (g_registrationCookie != 0) return E_FAIL;
  if (!registerObject) return S_OK;
  g_factory = new (std::nothrow) CoGlintBrokerServer::Factory(host);
  HRESULT result = CoRegisterClassObject(CLSID_GlintBrokerImp6, g_factory, CLSCTX_LOCAL_SERVER,
                                         REGCLS_MULTIPLEUSE, &g_registrationCookie);
  if (FAILED(result)) {
    g_registrationCookie = 0;
    if (g_factory != nullptr) g_factory->Release();
    g_factory = nullptr;
  }
  return result;
}

HRESULT RevokeBrokerClassObject() {
  if (g_registrationCookie == 0) return E_FAIL;
  HRESULT result = CoRevokeClassObject(g_registrationCookie);
  g_registrationCookie = 0;
  if (g_factory != nullptr) g_factory->Release();
  g_factory = nullptr;
  return result;
}

HRESULT RunBrokerServer(HostCallbacks* host) {
  if (FAILED(CoInitialize(nullptr))) return E_FAIL;
  HRESULT result = E_FAIL;
  if (SUCCEEDED(RegisterBrokerClassObject(true, host))) {
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0 && got != -1) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    result = got == 0 ? static_cast<HRESULT>(message.wParam) : E_FAIL;
    RevokeBrokerClassObject();
    // Calls already on their way (a client letting go of the class object,
    // say) are answered before COM shuts down: shutting down waits for them,
    // and nothing else would deliver them now.
    for (int idle = 0; idle < 20;) {
      DWORD woke = MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
      if (woke == WAIT_TIMEOUT) break;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      ++idle;
    }
  }
  ReleaseSharedBrokerState();
  // The worker thread of the protection queries ends before COM does.
  TaskWorker::StopShared();
  CoUninitialize();
  return result;
}

// --- registration ------------------------------------------------------------

MString GuidText(const GUID& guid) {
  wchar_t text[40];
  std::swprintf(text, 40, L"{%08lX-%04hX-%04hX-%02hhX%02hhX-%02hhX%02hhX%02hhX%02hhX%02hhX%02hhX}",
                guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return FromWide(text);
}

namespace {

const MString kClasses(u"Software\\Classes\\");
const wchar_t kAutomationMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";

const GUID* const kBrokerClasses[] = {
    &CLSID_GlintBrokerImp,  &CLSID_GlintBrokerImp2, &CLSID_GlintBrokerImp3,
    &CLSID_GlintBrokerImp4, &CLSID_GlintBrokerImp5, &CLSID_GlintBrokerImp6,
};

struct InterfaceName {
  const IID* iid;
  const char16_t* name;
};
const InterfaceName kInterfaces[] = {
    {&IID_IGlintBroker, u"IGlintBroker"},   {&IID_IGlintBroker2, u"IGlintBroker2"},
    {&IID_IGlintBroker3, u"IGlintBroker3"}, {&IID_IGlintBroker4, u"IGlintBroker4"},
    {&IID_IGlintBroker5, u"IGlintBroker5"}, {&IID_IGlintBroker6, u"IGlintBroker6"},
};

// Writes one value: "#d" (a '#' and exactly one digit) as DWORD d, anything
// else as a string. A null name is the key's default value. Failures are
// ignored: registration carries on with the next value.
void WriteValue(const MString& keyPath, const MString& name, const MString& data) {
  RegKey key;
  if (key.Create(HKEY_LOCAL_MACHINE, keyPath, KEY_ALL_ACCESS) != ERROR_SUCCESS) return;
  if (data.Length() == 2 && data[0] == u'#' && data[1] >= u'0' && data[1] <= u'9') {
    key.WriteDword(name, data[1] - u'0');
  } else {
    key.WriteString(name, data);
  }
}

void DeleteTreeBothViews(const MString& keyPath) {
  Advapi32DllHelper advapi32;
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    HKEY parent = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_ALL_ACCESS | view, &parent) !=
        ERROR_SUCCESS) {
      continue;
    }
    UniqueRegKey owner(parent);
    RegDeleteTreeW(parent, W(keyPath));
    // Without RegDeleteKeyExW the parent's view decides.
    if (advapi32.RegDeleteKeyExW != nullptr) {
      advapi32.RegDeleteKeyExW(parent, W(keyPath), view, 0);
    } else {
      RegDeleteKeyW(parent, W(keyPath));
    }
  }
}

MString ClassKey() {
  return kClasses + MString(u"CLSID\\") + GuidText(CLSID_GlintBrokerImp6);
}
MString InterfaceKey(const IID& iid) {
  return kClasses + MString(u"Interface\\") + GuidText(iid);
}
MString TypeLibKey() {
  return kClasses + MString(u"TypeLib\\") + GuidText(LIBID_GlintBrokerLib);
}
MString ElevationPolicyKey() {
  return MString(u"Software\\Microsoft\\Internet Explorer\\Low Rights\\ElevationPolicy\\") +
         GuidText(kBrokerElevationPolicyGuid);
}

}  // namespace

HRESULT WriteBrokerRegistration(const MString& commandLine, bool registerServer) {
  if (!registerServer) {
    DeleteTreeBothViews(ClassKey());
    DeleteTreeBothViews(TypeLibKey());
    for (const InterfaceName& entry : kInterfaces) DeleteTreeBothViews(InterfaceKey(*entry.iid));
    DeleteTreeBothViews(ElevationPolicyKey());
    return S_OK;
  }
  if (commandLine.IsNull()) return E_FAIL;
  const MString none;
  const MString libid = GuidText(LIBID_GlintBrokerLib);
  const MString classKey = ClassKey();
  WriteValue(classKey, none, MString(u"GlintBroker"));
  WriteValue(classKey + MString(u"\\LocalServer32"), none, commandLine);
  WriteValue(classKey + MString(u"\\TypeLib"), none, libid);
  WriteValue(classKey, MString(u"LocalizedString"),
             MString(u"@") + commandLine + MString(u",-101"));
  WriteValue(classKey + MString(u"\\Elevation"), MString(u"Enabled"), MString(u"#1"));
  {
    RegKey programmable;
    programmable.Create(HKEY_LOCAL_MACHINE, classKey + MString(u"\\Programmable"), KEY_WRITE);
  }

  // IGlintBroker6 is what the player asks for; its bases are registered for
  // marshalling too, since a proxy may be built through them.
  for (const InterfaceName& entry : kInterfaces) {
    const MString key = InterfaceKey(*entry.iid);
    WriteValue(key, none, MString(entry.name));
    WriteValue(key + MString(u"\\ProxyStubClsid32"), none, FromWide(kAutomationMarshaller));
    WriteValue(key + MString(u"\\TypeLib"), none, libid);
    WriteValue(key + MString(u"\\TypeLib"), MString(u"Version"), MString(u"1.0"));
  }

  const MString typeLib = TypeLibKey();
  WriteValue(typeLib, none, MString(u""));
  WriteValue(typeLib + MString(u"\\1.0"), none, MString(u"GlintBroker"));
  WriteValue(typeLib + MString(u"\\1.0\\FLAGS"), none, MString(u"0"));
  WriteValue(typeLib + MString(u"\\1.0\\HELPDIR"), none, commandLine);
  WriteValue(typeLib + MString(u"\\1.0\\0\\win32"), none, commandLine);

  // The browser's policy names the server by folder and file, read back from
  // what was just registered.
  const MString policy = ElevationPolicyKey();
  WriteValue(policy, MString(u"Policy"), MString(u"#3"));
  MString server;
  {
    RegKey key;
    DWORD size = 512;
    wchar_t buffer[257] = {};
    if (key.Open(HKEY_LOCAL_MACHINE, classKey + MString(u"\\LocalServer32")) == ERROR_SUCCESS &&
        RegQueryValueExW(key.Get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                         &size) == ERROR_SUCCESS) {
      server = FromWide(buffer);
    } else {
      server = commandLine;
    }
  }
  MString folder = server;
  MString file = SplitAtLast(folder, "\\/");
  if (file.IsNull()) {
    folder = server;
    file = server;
  } else {
    file.Consume(1);
  }
  WriteValue(policy, MString(u"AppPath"), folder);
  WriteValue(policy, MString(u"AppName"), file);
  return S_OK;
}

MString RegisteredBrokerExecutable() {
  for (const GUID* clsid : kBrokerClasses) {
    MString path;
    MString key = kClasses + MString(u"CLSID\\") + GuidText(*clsid) + MString(u"\\LocalServer32");
    if (ReadRegistryString(HKEY_LOCAL_MACHINE, key, MString(), &path) != ERROR_SUCCESS) continue;
    if (path.Length() >= 2 && path[0] == u'"' && path[path.Length() - 1] == u'"') {
      path = MString(path.CStr() + 1, static_cast<int32_t>(path.Length() - 2));
    }
    if (!path.IsEmpty()) return path;
  }
  return MString();
}

// --- elevation policy refresh ---------------------------------------------------

bool RefreshElevationPoliciesInProcess() {
  using RefreshFn = HRESULT(WINAPI*)();
  SystemModule ieframe;
  if (!ieframe.Load(MString(u"ieframe.dll"))) return false;
  auto refresh = ieframe.ResolveAs<RefreshFn>("IERefreshElevationPolicy");
  if (refresh == nullptr) return false;
  refresh();
  return true;
}

bool RefreshElevationPoliciesPerUser(HostCallbacks* host) {
  using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
  using ModuleNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
  SystemModule psapi;
  psapi.Load(MString(u"psapi.dll"));
  auto enumProcesses = psapi.ResolveAs<EnumProcessesFn>("EnumProcesses");
  auto baseName = psapi.ResolveAs<ModuleNameFn>("GetModuleBaseNameW");
  DWORD ids[1024];
  DWORD bytes = 0;
  if (enumProcesses != nullptr && !enumProcesses(ids, sizeof ids, &bytes)) return false;
  if (enumProcesses == nullptr || baseName == nullptr) return true;
  MString hostPath;
  if (host != nullptr) host->GetOwnPath(&hostPath);
  for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]));
    if (!process) continue;
    wchar_t image[MAX_PATH + 1] = {};
    DWORD length = baseName(process.Get(), nullptr, image, MAX_PATH);
    MString name = FromWide(image, static_cast<int32_t>(length));
    if (!Equals(name, MString(u"iexplore.exe")) && !Equals(name, MString(u"ieuser.exe"))) continue;
    UniqueHandle token;
    if (!OpenProcessToken(process.Get(), TOKEN_DUPLICATE, token.Receive())) continue;
    UniqueHandle primary;
    if (!DuplicateTokenEx(token.Get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                          TokenPrimary, primary.Receive())) {
      continue;
    }
    MString line = MString(u"\"") + hostPath + MString(u"\" -refreshIEElevationPolicies");
    std::wstring mutableLine = W(line);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (CreateProcessAsUserW(primary.Get(), nullptr, mutableLine.data(), nullptr, nullptr, FALSE,
                             DETACHED_PROCESS | CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr,
                             &startup, &started)) {
      CloseHandle(started.hThread);
      CloseHandle(started.hProcess);
    }
  }
  return true;
}

#include "BrokerTestSupport.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <cstring>

#include "WineTestSupport.h"
#include "broker/server/BrokerServer.h"
#include "engine/KeyTableActions.h"
#include "stubs/StandInSettings.h"

BrokerTypes::BrokerTypes(const std::wstring& module) {
  if (FAILED(LoadTypeLibEx(module.c_str(), REGKIND_NONE, library_.ReceiveTyped()))) return;
  for (const IID* iid : {&IID_IGlintBroker, &IID_IGlintBroker2, &IID_IGlintBroker3,
                         &IID_IGlintBroker4, &IID_IGlintBroker5, &IID_IGlintBroker6}) {
    ComRef<ITypeInfo> info, vtable;
    library_->GetTypeInfoOfGuid(*iid, info.ReceiveTyped());
    // A dual interface answers its dispatch side; take the vtable side.
    HREFTYPE vtableSide = 0;
    if (info && SUCCEEDED(info->GetRefTypeOfImplType(-1, &vtableSide)) &&
        SUCCEEDED(info->GetRefTypeInfo(vtableSide, vtable.ReceiveTyped()))) {
      info = std::move(vtable);
    }
    TYPEATTR* attr = nullptr;
    if (!info || FAILED(info->GetTypeAttr(&attr))) continue;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
      FUNCDESC* func = nullptr;
      if (FAILED(info->GetFuncDesc(i, &func))) continue;
      BSTR name = nullptr;
      info->GetDocumentation(func->memid, &name, nullptr, nullptr, nullptr);
      BrokerMethodInfo method{name ? name : L"", func->oVft, func->memid, {}};
      SysFreeString(name);
      for (SHORT p = 0; p < func->cParams; ++p) {
        const TYPEDESC& desc = func->lprgelemdescParam[p].tdesc;
        bool byReference = desc.vt == VT_PTR;
        method.parameters.push_back({byReference, byReference ? desc.lptdesc->vt : desc.vt,
                                     func->lprgelemdescParam[p].paramdesc.wParamFlags});
      }
      methods_.push_back(method);
      info->ReleaseFuncDesc(func);
    }
    info->ReleaseTypeAttr(attr);
  }
}

HRESULT CallWithHarmlessArguments(IUnknown* broker, const BrokerMethodInfo& method, bool nullOuts) {
  size_t count = method.parameters.size();
  std::vector<VARIANT> storage(count), arguments(count);
  std::vector<VARIANTARG*> pointers(count);
  std::vector<VARTYPE> types(count);
  for (size_t p = 0; p < count; ++p) {
    VariantInit(&storage[p]);
    VariantInit(&arguments[p]);
    const BrokerParameter& parameter = method.parameters[p];
    VARTYPE vt = parameter.type == VT_USERDEFINED ? VARTYPE{VT_I8} : parameter.type;
    USHORT flags = parameter.flags;
    // Out-only storage starts empty: nothing for the callee to free.
    bool outOnly = parameter.byReference && (flags & PARAMFLAG_FOUT) && !(flags & PARAMFLAG_FIN);
    if (vt == VT_SAFEARRAY) {
      V_VT(&storage[p]) = VT_ARRAY | VT_UI1;
      if (!outOnly) V_ARRAY(&storage[p]) = SafeArrayCreateVector(VT_UI1, 0, 1);
    } else if (vt != VT_VARIANT) {
      V_VT(&storage[p]) = vt;
      V_I8(&storage[p]) = 0;
      if (vt == VT_BSTR && !outOnly) V_BSTR(&storage[p]) = SysAllocString(L"");
      // The print dialog's flags 0 would show it and wait for a person: ask
      // for the default printer instead (PD_RETURNDEFAULT), which shows nothing.
      if (method.name == L"BrokerPrintDialog" && method.parameters.size() == 5 && p == 3)
        V_I8(&storage[p]) = 0x400;
    }
    if (parameter.byReference) {
      types[p] = VT_PTR;
      V_VT(&arguments[p]) = VT_PTR;
      void* target = vt == VT_VARIANT ? static_cast<void*>(&storage[p])
                                      : static_cast<void*>(&V_I8(&storage[p]));
      V_BYREF(&arguments[p]) = nullOuts && (flags & PARAMFLAG_FOUT) ? nullptr : target;
    } else {
      types[p] = V_VT(&storage[p]);
      arguments[p] = storage[p];
    }
    pointers[p] = &arguments[p];
  }
  VARIANT result;
  VariantInit(&result);
  HRESULT call = DispCallFunc(broker, method.vtableOffset, CC_STDCALL, VT_ERROR,
                              static_cast<UINT>(count), types.data(), pointers.data(), &result);
  for (VARIANT& v : storage) VariantClear(&v);
  return SUCCEEDED(call) ? V_ERROR(&result) : call;
}

SAFEARRAY* ByteArray(const std::string& data) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(data.size()));
  void* raw = nullptr;
  if (array == nullptr || FAILED(SafeArrayAccessData(array, &raw))) return array;
  if (!data.empty()) memcpy(raw, data.data(), data.size());
  SafeArrayUnaccessData(array);
  return array;
}

std::string TakeBytes(SAFEARRAY* array, ULONG count) {
  void* raw = nullptr;
  if (array == nullptr || FAILED(SafeArrayAccessData(array, &raw))) return "<no array>";
  std::string data(static_cast<const char*>(raw), count);
  SafeArrayUnaccessData(array);
  SafeArrayDestroy(array);
  return data;
}

std::wstring Store() {
  return KnownFolder(CSIDL_APPDATA) + L"\\Kestrelink\\Glint Player";
}
std::wstring SharedObjects() {
  return Store() + L"\\#SharedObjects";
}

HRESULT CreateBroker(IGlintBroker6** broker) {
  *broker = nullptr;
  HRESULT hr = E_FAIL;
  // Activation right after a server of the same class ended can be refused
  // for a moment on this test platform while the old registration goes;
  // such refusals are tried again, everything else is the answer.
  for (int attempt = 0; attempt < 6; ++attempt) {
    hr = CoCreateInstance(CLSID_GlintBrokerImp6, nullptr, CLSCTX_LOCAL_SERVER, IID_IGlintBroker6,
                          reinterpret_cast<void**>(broker));
    if (hr != REGDB_E_CLASSNOTREG && hr != CO_E_SERVER_EXEC_FAILURE &&
        hr != HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE))
      break;
    Sleep(500);
  }
  return hr;
}

void UnregisterTestBroker() {
  WriteBrokerRegistration(MString(), false);
}

// The build's host serves the tests unlocked: an install's locks on it would
// outlast the run. Locks a failed registration test left are taken off first.
void RegisterTestBroker() {
  LockRegistration(KeyTable::kBroker, false);
  UnregisterTestBroker();
  EXPECT_EQ(WriteBrokerRegistration(M(ProgramFolder() + L"\\glinthost.exe"), true), S_OK);
}

std::vector<DWORD> ProcessesNamed(const wchar_t* image) {
  std::vector<DWORD> ids;
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, image) == 0) ids.push_back(entry.th32ProcessID);
  }
  return ids;
}

bool WaitUntilGone(const wchar_t* image, DWORD ms) {
  for (DWORD waited = 0; waited <= ms; waited += 50) {
    if (ProcessesNamed(image).empty()) return true;
    Sleep(50);
  }
  return false;
}

void KillAll(const wchar_t* image) {
  for (DWORD id : ProcessesNamed(image)) {
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (!process) continue;
    TerminateProcess(process.Get(), 1);
    WaitForSingleObject(process.Get(), 5000);
  }
}

// A killed server would leave a dead registration behind, so it is waited for first.
void BrokerSuite::SetUpTestSuite() {
  if (!WaitUntilGone(kServer, 15000)) KillAll(kServer);
  RegisterTestBroker();
  ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
}

void BrokerSuite::TearDownTestSuite() {
  CoUninitialize();
  if (!WaitUntilGone(kServer, 15000)) KillAll(kServer);
  UnregisterTestBroker();
}

HRESULT BrokerFiles::Open(const std::wstring& path, bool readOnly, ULONG* cookie, bool truncate) {
  *cookie = 0;
  return broker->BrokerCreateFile(Bstr(path), readOnly ? 1 : 0, truncate ? 1 : 0, cookie);
}

HRESULT BrokerFiles::WriteTo(ULONG cookie, const std::string& data) {
  SAFEARRAY* array = ByteArray(data);
  ULONG written = 0;
  HRESULT hr = broker->BrokerWriteFile(cookie, array, &written);
  SafeArrayDestroy(array);
  return hr;
}

void BrokerFiles::Close(ULONG cookie) {
  if (cookie != 0) broker->BrokerCloseHandle(cookie);
}

HRESULT BrokerFiles::Write(const std::wstring& path, const std::string& data, ULONG* cookie) {
  ULONG opened = 0;
  HRESULT hr = Open(path, false, &opened);
  if (cookie != nullptr) *cookie = opened;
  if (SUCCEEDED(hr)) hr = WriteTo(opened, data);
  Close(opened);
  return hr;
}

HRESULT BrokerFiles::Read(const std::wstring& path, std::string* content) {
  ULONG cookie = 0, read = 0;
  HRESULT hr = Open(path, true, &cookie);
  SAFEARRAY* data = nullptr;
  if (SUCCEEDED(hr)) hr = broker->BrokerReadFile(cookie, 4096, &read, &data);
  std::string bytes = data != nullptr ? TakeBytes(data, read) : "";
  if (content != nullptr) *content = bytes;
  Close(cookie);
  return hr;
}

namespace {

void RemoveFile(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(path.c_str());
}

LSTATUS SetValue(const std::wstring& key, const wchar_t* name, DWORD type, const void* data,
                 size_t size) {
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, type, data,
                         static_cast<DWORD>(size));
}
LSTATUS SetText(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  return SetValue(key, name, REG_SZ, value.c_str(), (value.size() + 1) * sizeof(wchar_t));
}

const std::pair<const wchar_t*, const wchar_t*> kLibraries[] = {
    {L"srpapi-standin.dll", L"srpapi.dll"}, {L"efswrt-standin.dll", L"efswrt.dll"}};

}  // namespace

std::wstring StandIns::SystemFile(const wchar_t* name) {
  return KnownFolder(CSIDL_SYSTEM) + L"\\" + name;
}

bool StandIns::KeyExists(const wchar_t* key, REGSAM view) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
    return false;
  RegCloseKey(handle);
  return true;
}

StandIns::StandIns() {
  for (auto [built, system] : kLibraries) {
    std::wstring copy = SystemFile(system);
    if (Exists(copy) && ReadAll(copy) == ReadAll(ProgramFolder() + L"\\" + built)) RemoveFile(copy);
  }
  if (KeyExists(standin::kPersistentZoneIdentifierKey) &&
      KeyExists(standin::kAttachmentServicesKey)) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, standin::kPersistentZoneIdentifierKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, standin::kAttachmentServicesKey);
  }
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, standin::kKey);
}

StandIns::~StandIns() {
  for (const std::wstring& file : installed_) {
    RemoveFile(file);
    EXPECT_FALSE(Exists(file)) << Utf8Of(file.c_str()) << " is still installed";
  }
  for (const std::wstring& key : keys_) RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, standin::kKey);
}

void StandIns::Install(const wchar_t* built, const wchar_t* system) {
  std::wstring target = SystemFile(system);
  ASSERT_FALSE(Exists(target)) << Utf8Of(system) << " already in the system folder";
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\" + built).c_str(), target.c_str(), TRUE))
      << "error " << GetLastError();
  installed_.push_back(target);
}

void StandIns::ZoneClasses() {
  for (const wchar_t* key :
       {standin::kPersistentZoneIdentifierKey, standin::kAttachmentServicesKey}) {
    keys_.push_back(key);
    std::wstring inproc = std::wstring(key) + L"\\InprocServer32";
    ASSERT_EQ(SetText(inproc, L"", ProgramFolder() + L"\\zone-standin.dll"), ERROR_SUCCESS);
    ASSERT_EQ(SetText(inproc, L"ThreadingModel", L"Both"), ERROR_SUCCESS);
  }
}

// In-process (ActivationType 0), any thread (Threading 0).
void StandIns::RuntimeClasses() {
  for (const wchar_t* name : {standin::kStorageFileClass, standin::kProtectionManagerClass,
                              standin::kAuditInfoClass, standin::kPolicyManagerClass}) {
    keys_.push_back(std::wstring(standin::kActivatableClasses) + L"\\" + name);
    ASSERT_EQ(SetText(keys_.back(), L"DllPath", ProgramFolder() + L"\\runtime-standin.dll"), 0);
    DWORD zero = 0;
    for (const wchar_t* value : {L"ActivationType", L"Threading"})
      ASSERT_EQ(SetValue(keys_.back(), value, REG_DWORD, &zero, sizeof zero), 0);
  }
}

void StandIns::Ids(const wchar_t* name, const std::vector<std::wstring>& ids) {
  std::wstring list;
  for (const std::wstring& id : ids) list += id + L'\0';
  list += ids.empty() ? std::wstring(2, L'\0') : std::wstring(1, L'\0');
  ASSERT_EQ(SetValue(standin::kKey, name, REG_MULTI_SZ, list.data(), list.size() * 2), 0);
}

void StandIns::Result(const wchar_t* name, HRESULT value) {
  DWORD data = static_cast<DWORD>(value);
  ASSERT_EQ(SetValue(standin::kKey, name, REG_DWORD, &data, sizeof data), ERROR_SUCCESS);
}

void StandIns::Text(const wchar_t* name, const std::wstring& value, const wchar_t* key) {
  ASSERT_EQ(SetText(key != nullptr ? key : standin::kKey, name, value), ERROR_SUCCESS);
}

void StandIns::Remove(const wchar_t* name) {
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, standin::kKey, name);
}

HRESULT CallerContext::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  bool mine = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IServerSecurity);
  *object = mine ? static_cast<IServerSecurity*>(this) : nullptr;
  return mine ? S_OK : E_NOINTERFACE;
}

HRESULT CallerContext::ImpersonateClient() {
  if (!ImpersonateSelf(SecurityImpersonation)) return HRESULT_FROM_WIN32(GetLastError());
  impersonations_++;
  return S_OK;
}

HRESULT CallerContext::RevertToSelf() {
  return ::RevertToSelf() ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

BOOL CallerContext::IsImpersonating() {
  UniqueHandle token;
  return OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Receive());
}

UniqueHandle StartSelf(const std::wstring& test, const std::wstring& argument, HANDLE output) {
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  return StartProgram(L"\"" + std::wstring(program) +
                          L"\" --gtest_also_run_disabled_tests --gtest_filter=" + test + L" " +
                          argument,
                      output != nullptr ? output : GetStdHandle(STD_OUTPUT_HANDLE));
}

std::string CommandLineValue(const char* name) {
  std::string line = Utf8Of(GetCommandLineW());
  size_t at = line.find(name);
  if (at == std::string::npos) return "";
  std::string value = line.substr(at + strlen(name));
  return value.substr(0, value.find(' '));
}

bool IsTransportFailure(HRESULT hr) {
  if (hr == RPC_E_INVALID_PARAMETER) return false;
  uint32_t code = static_cast<uint32_t>(hr);
  return (code & 0xFFFF0000) == 0x80010000 ||
         ((code & 0xFFFF0000) == 0x80070000 && (code & 0xFFFF) >= 1700 && (code & 0xFFFF) < 1800);
}

std::string LcdMessageTo(const std::string& target, const std::string& rest) {
  return std::string("\x02") + static_cast<char>(target.size() >> 8) +
         static_cast<char>(target.size()) + target + rest;
}

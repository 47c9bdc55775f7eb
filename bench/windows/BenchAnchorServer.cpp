// bench_anchor: the anchor server of the broker benchmark. A local server
// whose one object has an empty method and two that only move bytes, served
// the way the broker is served: single-threaded apartment, one multiple-use
// class object, a message loop, and the server ends when its last object goes
// with no lock held. The object does nothing else, so the benchmark sets each
// broker figure beside what COM alone costs.
//
//   bench_anchor register      write the class, interface and type-library keys
//   bench_anchor unregister    remove them (both registry views)
//   bench_anchor -Embedding    run the server (COM starts it so)
#include <windows.h>
#include <ole2.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <new>
#include <string>

#include "foundation/ComRef.h"
#include "bench/BenchAnchor.h"
#include "foundation/Win32Handles.h"

namespace {

// The broker's cap on one read, so that the anchor refuses what it refuses.
constexpr ULONG kMaxBytes = 16u << 20;

std::atomic<LONG> g_objects{0};
std::atomic<LONG> g_locks{0};

// Loaded on the first late-bound use and kept until the server ends.
ComRef<ITypeInfo> g_typeInfo;

ITypeInfo* AnchorTypeInfo() {
  if (!g_typeInfo) {
    ComRef<ITypeLib> library;
    if (SUCCEEDED(LoadRegTypeLib(LIBID_GlintBenchAnchorLib, 1, 0, 0, library.ReceiveTyped()))) {
      library->GetTypeInfoOfGuid(IID_IBenchAnchor, g_typeInfo.ReceiveTyped());
    }
  }
  return g_typeInfo.Get();
}

class AnchorObject final : public IBenchAnchor {
 public:
  AnchorObject() { ++g_objects; }
  AnchorObject(const AnchorObject&) = delete;
  AnchorObject& operator=(const AnchorObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IBenchAnchor)) {
      *object = static_cast<IBenchAnchor*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG count = --references_;
    if (count != 0) return static_cast<ULONG>(count);
    delete this;
    // The broker's rule: the last object with no lock outstanding ends the server.
    if (g_objects == 0 && g_locks == 0) PostQuitMessage(0);
    return 0;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_INVALIDARG;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_INVALIDARG;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ITypeInfo* typeInfo = AnchorTypeInfo();
    if (typeInfo == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    typeInfo->AddRef();
    *info = typeInfo;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    ITypeInfo* typeInfo = AnchorTypeInfo();
    if (typeInfo == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    return DispGetIDsOfNames(typeInfo, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) override {
    ITypeInfo* typeInfo = AnchorTypeInfo();
    if (typeInfo == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    return DispInvoke(static_cast<IBenchAnchor*>(this), typeInfo, member, flags, parameters, result,
                      exception, argumentError);
  }

  HRESULT STDMETHODCALLTYPE Empty() override { return S_OK; }

  // The array is checked the way the broker checks a write's: one dimension
  // of bytes from 0.
  HRESULT STDMETHODCALLTYPE TakeBytes(SAFEARRAY* data, ULONG* size) override {
    if (data == nullptr || size == nullptr) return E_INVALIDARG;
    *size = 0;
    LONG lower = 0, upper = -1;
    if (SafeArrayGetDim(data) != 1 || SafeArrayGetElemsize(data) != 1 ||
        FAILED(SafeArrayGetLBound(data, 1, &lower)) || lower != 0 ||
        FAILED(SafeArrayGetUBound(data, 1, &upper))) {
      return E_FAIL;
    }
    *size = static_cast<ULONG>(upper + 1);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GiveBytes(ULONG size, SAFEARRAY** data) override {
    if (data == nullptr) return E_INVALIDARG;
    *data = nullptr;
    if (size > kMaxBytes) return E_INVALIDARG;
    *data = SafeArrayCreateVector(VT_UI1, 0, size);
    return *data == nullptr ? E_OUTOFMEMORY : S_OK;
  }

 private:
  ~AnchorObject() { --g_objects; }

  std::atomic<LONG> references_{1};
};

// Lives as long as the process; COM's references to it are not counted.
class AnchorFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object != nullptr) *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* anchor = new (std::nothrow) AnchorObject;
    if (anchor == nullptr) return E_OUTOFMEMORY;
    HRESULT result = anchor->QueryInterface(iid, object);
    anchor->Release();  // a refused interface ends the object, and maybe the server
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++g_locks;
    } else {
      --g_locks;
    }
    return S_OK;
  }
};

AnchorFactory g_factory;

int RunServer() {
  if (FAILED(CoInitialize(nullptr))) return 3;
  DWORD cookie = 0;
  HRESULT registered = CoRegisterClassObject(CLSID_BenchAnchor, &g_factory, CLSCTX_LOCAL_SERVER,
                                             REGCLS_MULTIPLEUSE, &cookie);
  int status = 4;
  if (SUCCEEDED(registered)) {
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0 && got != -1) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    status = got == 0 ? 0 : 5;
    CoRevokeClassObject(cookie);
  }
  g_typeInfo.Reset();
  CoUninitialize();
  return status;
}

// --- registration --------------------------------------------------------------

const wchar_t kAutomationMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

struct RegisteredKey {
  const wchar_t* parent;
  const GUID* guid;
};
const RegisteredKey kKeys[] = {
    {L"Software\\Classes\\CLSID", &CLSID_BenchAnchor},
    {L"Software\\Classes\\Interface", &IID_IBenchAnchor},
    {L"Software\\Classes\\TypeLib", &LIBID_GlintBenchAnchorLib},
};

std::wstring KeyPath(const RegisteredKey& key) {
  return std::wstring(key.parent) + L"\\" + GuidText(*key.guid);
}

bool WriteString(const std::wstring& keyPath, const wchar_t* name, const std::wstring& data) {
  UniqueRegKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      key.Receive(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

int Register() {
  wchar_t path[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) {
    std::fprintf(stderr, "bench_anchor: cannot read the program's path (error %lu)\n",
                 GetLastError());
    return 1;
  }
  const std::wstring program(path, length);
  const std::wstring folder = program.substr(0, program.find_last_of(L"\\/"));
  const std::wstring libid = GuidText(LIBID_GlintBenchAnchorLib);
  const std::wstring classKey = KeyPath(kKeys[0]);
  const std::wstring interfaceKey = KeyPath(kKeys[1]);
  const std::wstring typeLibKey = KeyPath(kKeys[2]);

  // The Automation marshaller builds the proxy from the type library that the
  // interface key names, and finds the library's file through the TypeLib key.
  bool written =
      WriteString(classKey, nullptr, L"GlintBenchAnchor") &&
      WriteString(classKey + L"\\LocalServer32", nullptr, L"\"" + program + L"\"") &&
      WriteString(classKey + L"\\TypeLib", nullptr, libid) &&
      WriteString(interfaceKey, nullptr, L"IBenchAnchor") &&
      WriteString(interfaceKey + L"\\ProxyStubClsid32", nullptr, kAutomationMarshaller) &&
      WriteString(interfaceKey + L"\\TypeLib", nullptr, libid) &&
      WriteString(interfaceKey + L"\\TypeLib", L"Version", L"1.0") &&
      WriteString(typeLibKey + L"\\1.0", nullptr, L"GlintBenchAnchor") &&
      WriteString(typeLibKey + L"\\1.0\\FLAGS", nullptr, L"0") &&
      WriteString(typeLibKey + L"\\1.0\\HELPDIR", nullptr, folder) &&
      WriteString(typeLibKey + L"\\1.0\\0\\win32", nullptr, program);
  if (!written) {
    std::fprintf(stderr, "bench_anchor: cannot write the registration (error %lu)\n",
                 GetLastError());
    return 1;
  }
  std::printf("anchor registered: %ls\n", program.c_str());
  return 0;
}

// Wine falls back to the 32-bit view when a key is missing from the 64-bit
// one, so both are cleaned.
int Unregister() {
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    for (const RegisteredKey& entry : kKeys) {
      UniqueRegKey parent;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, entry.parent, 0, KEY_ALL_ACCESS | view,
                        parent.Receive()) != ERROR_SUCCESS) {
        continue;
      }
      const std::wstring name = GuidText(*entry.guid);
      RegDeleteTreeW(parent.Get(), name.c_str());
      RegDeleteKeyExW(parent.Get(), name.c_str(), view, 0);
    }
  }
  std::printf("anchor registration removed\n");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2) {
    if (std::wcscmp(argv[1], L"register") == 0) return Register();
    if (std::wcscmp(argv[1], L"unregister") == 0) return Unregister();
    if (_wcsicmp(argv[1], L"-Embedding") == 0 || _wcsicmp(argv[1], L"/Embedding") == 0) {
      return RunServer();
    }
  }
  std::fprintf(stderr, "usage: bench_anchor register | unregister | -Embedding\n");
  return 2;
}

// Stand-in in-process server for the system's persistent zone identifier
// (IZoneIdentifier + IPersistFile) and attachment services
// (IAttachmentExecute). Wine has no alternate data streams, so a file's zone
// is kept in a side file "<path>.zone" in the format of the system's stream.
// The test registers this DLL under both system class identifiers with
// threading model Both.
#include <windows.h>
#include <ole2.h>
#include <shobjidl.h>
#include <urlmon.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "StandInSettings.h"
#include "foundation/Win32Handles.h"

namespace {

// Not in every uuid library.
const IID kIidZoneIdentifier = {
    0xCD45F185, 0x1B21, 0x48E2, {0x96, 0x7B, 0xEA, 0xD7, 0x43, 0xA8, 0x91, 0x4E}};
const IID kIidAttachmentExecute = {
    0x73DB1241, 0x1E85, 0x4581, {0x8E, 0x4F, 0xA8, 0x1E, 0x1D, 0x0F, 0x8C, 0x57}};

LONG g_objects = 0;
LONG g_locks = 0;

constexpr DWORD kUrlZoneInternet = 3;

std::string Utf8(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

// Writes the side file of an existing file; its content replaces any before.
HRESULT WriteZone(const std::wstring& path, DWORD zone, const std::wstring& source) {
  if (path.empty()) return E_INVALIDARG;
  HRESULT configured = standin::ReadResult(standin::kZoneSaveResult, S_OK);
  if (FAILED(configured)) return configured;
  // The stream belongs to a file: without the file there is nothing to mark.
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return HRESULT_FROM_WIN32(GetLastError());
  }
  std::string text = "[ZoneTransfer]\r\nZoneId=" + std::to_string(zone) + "\r\n";
  if (!source.empty()) text += "HostUrl=" + Utf8(source) + "\r\n";
  UniqueHandle file(CreateFileW((path + standin::kZoneSuffix).c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return HRESULT_FROM_WIN32(GetLastError());
  DWORD written = 0;
  if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
    return HRESULT_FROM_WIN32(GetLastError());
  }
  return S_OK;
}

// Reads the zone from a side file; fails as the system does for a file
// without a zone stream.
HRESULT ReadZone(const std::wstring& path, DWORD* zone) {
  UniqueHandle file(CreateFileW((path + standin::kZoneSuffix).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return HRESULT_FROM_WIN32(GetLastError());
  char buffer[1024];
  DWORD read = 0;
  if (!ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) return E_FAIL;
  std::string text(buffer, read);
  size_t at = text.find("ZoneId=");
  if (at == std::string::npos) return E_FAIL;
  char* end = nullptr;
  unsigned long value = strtoul(text.c_str() + at + 7, &end, 10);
  if (end == text.c_str() + at + 7) return E_FAIL;
  *zone = static_cast<DWORD>(value);
  return S_OK;
}

class Counted {
 protected:
  Counted() { InterlockedIncrement(&g_objects); }
  ~Counted() { InterlockedDecrement(&g_objects); }
  LONG references_ = 1;
};

class ZoneIdentifier final : public IZoneIdentifier, public IPersistFile, private Counted {
 public:
  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIidZoneIdentifier)) {
      *object = static_cast<IZoneIdentifier*>(this);
    } else if (IsEqualIID(iid, IID_IPersistFile) || IsEqualIID(iid, IID_IPersist)) {
      *object = static_cast<IPersistFile*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG count = InterlockedDecrement(&references_);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

  // IZoneIdentifier
  HRESULT STDMETHODCALLTYPE GetId(DWORD* zone) override {
    if (zone == nullptr) return E_INVALIDARG;
    if (!hasZone_) {
      *zone = static_cast<DWORD>(-1);
      return E_ACCESSDENIED;
    }
    *zone = zone_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetId(DWORD zone) override {
    zone_ = zone;
    hasZone_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Remove() override {
    hasZone_ = false;
    return S_OK;
  }

  // IPersistFile
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override {
    if (id == nullptr) return E_POINTER;
    *id = standin::kClsidPersistentZoneIdentifier;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR name, DWORD /*mode*/) override {
    if (name == nullptr) return E_INVALIDARG;
    DWORD zone = 0;
    HRESULT read = ReadZone(name, &zone);
    if (FAILED(read)) return read;
    zone_ = zone;
    hasZone_ = true;
    file_ = name;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Save(LPCOLESTR name, BOOL remember) override {
    std::wstring path = name != nullptr ? std::wstring(name) : file_;
    HRESULT result;
    if (hasZone_) {
      result = WriteZone(path, zone_, std::wstring());
    } else {
      result = standin::ReadResult(standin::kZoneSaveResult, S_OK);
      if (SUCCEEDED(result)) DeleteFileW((path + standin::kZoneSuffix).c_str());
    }
    if (SUCCEEDED(result) && remember && name != nullptr) file_ = name;
    return result;
  }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR /*name*/) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* name) override {
    if (name == nullptr) return E_POINTER;
    *name = nullptr;
    if (file_.empty()) return S_FALSE;
    size_t bytes = (file_.size() + 1) * sizeof(wchar_t);
    *name = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (*name == nullptr) return E_OUTOFMEMORY;
    memcpy(*name, file_.c_str(), bytes);
    return S_OK;
  }

 private:
  DWORD zone_ = 0;
  bool hasZone_ = false;
  std::wstring file_;
};

class AttachmentServices final : public IAttachmentExecute, private Counted {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIidAttachmentExecute)) {
      *object = static_cast<IAttachmentExecute*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG count = InterlockedDecrement(&references_);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

  HRESULT STDMETHODCALLTYPE SetLocalPath(LPCWSTR path) override {
    if (path == nullptr || path[0] == 0) return E_INVALIDARG;
    localPath_ = path;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSource(LPCWSTR source) override {
    if (source == nullptr) return E_INVALIDARG;
    source_ = source;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Save() override {
    if (localPath_.empty()) return E_UNEXPECTED;
    return WriteZone(localPath_, kUrlZoneInternet, source_);
  }

  HRESULT STDMETHODCALLTYPE SetClientTitle(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetClientGuid(REFGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetFileName(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetReferrer(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CheckPolicy() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Prompt(HWND, ATTACHMENT_PROMPT, ATTACHMENT_ACTION*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Execute(HWND, LPCWSTR, HANDLE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SaveWithUI(HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ClearClientState() override { return E_NOTIMPL; }

 private:
  std::wstring localPath_;
  std::wstring source_;
};

template <typename Object>
class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // Static objects: their references do not keep the DLL loaded.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* created = new (std::nothrow) Object;
    if (created == nullptr) return E_OUTOFMEMORY;
    HRESULT result = created->QueryInterface(iid, object);
    created->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      InterlockedIncrement(&g_locks);
    } else {
      InterlockedDecrement(&g_locks);
    }
    return S_OK;
  }
};

Factory<ZoneIdentifier> g_zoneFactory;
Factory<AttachmentServices> g_attachmentFactory;

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (IsEqualCLSID(clsid, standin::kClsidPersistentZoneIdentifier)) {
    return g_zoneFactory.QueryInterface(iid, object);
  }
  if (IsEqualCLSID(clsid, standin::kClsidAttachmentServices)) {
    return g_attachmentFactory.QueryInterface(iid, object);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

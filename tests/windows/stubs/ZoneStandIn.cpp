// Stand-in in-process server for the persistent zone identifier
// (IZoneIdentifier + IPersistFile) and the attachment services
// (IAttachmentExecute), registered by the tests under both system classes.
// A file's zone is kept in the side file "<path>.zone" (StandInSettings.h).
#include <windows.h>
#include <ole2.h>
#include <shobjidl.h>
#include <urlmon.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "StandInObject.h"
#include "StandInSettings.h"
#include "TaskStandInSettings.h"

namespace {

// Not in every uuid library.
const IID kIidZoneIdentifier = {
    0xCD45F185, 0x1B21, 0x48E2, {0x96, 0x7B, 0xEA, 0xD7, 0x43, 0xA8, 0x91, 0x4E}};
const IID kIidAttachmentExecute = {
    0x73DB1241, 0x1E85, 0x4581, {0x8E, 0x4F, 0xA8, 0x1E, 0x1D, 0x0F, 0x8C, 0x57}};

// Replaces the side file of an existing file.
HRESULT WriteZone(const std::wstring& path, DWORD zone, const std::wstring& source,
                  const std::wstring& referrer = L"") {
  HRESULT configured = standin::ReadResult(standin::kZoneSaveResult, S_OK);
  if (FAILED(configured)) return configured;
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    return HRESULT_FROM_WIN32(GetLastError());
  std::string text = "[ZoneTransfer]\r\nZoneId=" + std::to_string(zone) + "\r\n";
  for (auto [name, url] : {std::pair{"ReferrerUrl=", &referrer}, std::pair{"HostUrl=", &source}}) {
    if (url->empty()) continue;
    text += name + standin::Utf8(url->c_str()) + "\r\n";
  }
  std::ofstream file((path + standin::kZoneSuffix).c_str(), std::ios::binary);
  return (file << text) ? S_OK : E_FAIL;
}

// Fails as the system does for a file without a zone stream.
HRESULT ReadZone(const std::wstring& path, DWORD* zone) {
  std::ifstream file((path + standin::kZoneSuffix).c_str(), std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(file), {}};
  const char* at = strstr(text.c_str(), "ZoneId=");
  char* end = nullptr;
  unsigned long value = at != nullptr ? strtoul(at + 7, &end, 10) : 0;
  if (at == nullptr || end == at + 7) return E_FAIL;
  *zone = static_cast<DWORD>(value);
  return S_OK;
}

class ZoneIdentifier final : public standin::Unknown<IZoneIdentifier, kIidZoneIdentifier>,
                             public IPersistFile {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return Unknown::QueryInterface(iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Unknown::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return Unknown::Release(); }
  // What the broker calls: Load and GetId, or SetId and Save; nothing else.
  HRESULT STDMETHODCALLTYPE GetId(DWORD* zone) override {
    *zone = zone_;
    return zone_ == kNoZone ? E_ACCESSDENIED : S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetId(DWORD zone) override {
    zone_ = zone;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR name, DWORD) override {
    return name == nullptr ? E_INVALIDARG : ReadZone(name, &zone_);
  }
  HRESULT STDMETHODCALLTYPE Save(LPCOLESTR name, BOOL) override {
    return name == nullptr || zone_ == kNoZone ? E_INVALIDARG : WriteZone(name, zone_, L"");
  }
  HRESULT STDMETHODCALLTYPE Remove() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR*) override { return E_NOTIMPL; }

 private:
  void* Other(REFIID iid) override {
    bool persist = IsEqualIID(iid, IID_IPersistFile) || IsEqualIID(iid, IID_IPersist);
    return persist ? static_cast<IPersistFile*>(this) : nullptr;
  }
  static constexpr DWORD kNoZone = 0xFFFFFFFF;
  DWORD zone_ = kNoZone;
};

class AttachmentServices final
    : public standin::Unknown<IAttachmentExecute, kIidAttachmentExecute> {
 public:
  HRESULT STDMETHODCALLTYPE SetLocalPath(LPCWSTR path) override {
    localPath_ = path;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSource(LPCWSTR source) override {
    source_ = source;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Save() override {
    return localPath_.empty() ? E_UNEXPECTED
                              : WriteZone(localPath_, URLZONE_INTERNET, source_, referrer_);
  }
  HRESULT STDMETHODCALLTYPE SetClientTitle(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetClientGuid(REFGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetFileName(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetReferrer(LPCWSTR referrer) override {
    referrer_ = referrer;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CheckPolicy() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Prompt(HWND, ATTACHMENT_PROMPT, ATTACHMENT_ACTION*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Execute(HWND, LPCWSTR, HANDLE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SaveWithUI(HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ClearClientState() override { return E_NOTIMPL; }

 private:
  std::wstring localPath_, source_, referrer_;
};

// Static class objects: their references do not keep the library loaded.
template <typename Object>
class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    bool mine = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory);
    *object = mine ? static_cast<IClassFactory*>(this) : nullptr;
    return mine ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** object) override {
    auto* created = new Object;
    HRESULT result = created->QueryInterface(iid, object);
    created->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};
Factory<ZoneIdentifier> g_zoneFactory;
Factory<AttachmentServices> g_attachmentFactory;

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  *object = nullptr;
  if (IsEqualCLSID(clsid, standin::kClsidPersistentZoneIdentifier))
    return g_zoneFactory.QueryInterface(iid, object);
  if (IsEqualCLSID(clsid, standin::kClsidAttachmentServices))
    return g_attachmentFactory.QueryInterface(iid, object);
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return S_FALSE;
}

// Icons, internet shortcuts and desktop shortcuts.
//
// Every method applies the common argument checks first: a null out-pointer
// answers E_INVALIDARG, and out-values start cleared. The shortcut methods
// decide the whole request (ShortcutRules) before the first file is written:
// a refused request answers RPC_E_INVALID_PARAMETER and leaves every
// location as it was.
#include <windows.h>
#include <ole2.h>
#include <intshcut.h>
#include <isguids.h>
#include <shellapi.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "broker/server/ByteBlob.h"
#include "broker/server/CoGlintBrokerServer.h"
#include "broker/services/ShortcutRules.h"
#include "broker/signeddata/Sha256.h"
#include "broker/signeddata/SignedData.h"
#include "broker/signeddata/SignedDataRoots.h"
#include "foundation/DynamicLoadLibraryHelper.h"
#include "foundation/Win32Error.h"
#include "foundation/Win32Handles.h"

namespace {

using ShortcutRules::Text;

constexpr HRESULT kRefused = RPC_E_INVALID_PARAMETER;
// UrlCanonicalizeW's flags for an authorised URL.
constexpr DWORD kCanonicalUrlFlags = URL_ESCAPE_UNSAFE | URL_ESCAPE_PERCENT;
// The registered browser's path: AssocQueryStringW's buffer.
constexpr DWORD kExecutableUnits = 520;

// The tick count of the previous desktop shortcut request, refused or not:
// one for the process, whichever broker object is asked.
volatile LONG g_desktopShortcutStamp = 0;

template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (p_ != nullptr) p_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  T* operator->() const { return p_; }
  T* Get() const { return p_; }
  void** Receive() { return reinterpret_cast<void**>(&p_); }
  T** ReceiveTyped() { return &p_; }
  template <typename U>
  HRESULT As(REFIID iid, ComRef<U>* other) const {
    return p_->QueryInterface(iid, other->Receive());
  }

 private:
  T* p_ = nullptr;
};

const wchar_t* W(const Text& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The whole BSTR, an embedded NUL included, so that the rules see it.
Text FromBstr(BSTR value) {
  if (value == nullptr) return Text();
  return Text(reinterpret_cast<const char16_t*>(value), SysStringLen(value));
}

Text FromWide(const wchar_t* text) {
  return Text(reinterpret_cast<const char16_t*>(text));
}

// Through the run-time binding: the library imports no optional function.
Text KnownFolder(int csidl) {
  wchar_t path[MAX_PATH + 1] = {};
  Shell32DllHelper shell32;
  if (shell32.SHGetFolderPathW == nullptr ||
      FAILED(shell32.SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) {
    return Text();
  }
  return FromWide(path);
}

// An entry of exactly that name in its folder. A device name ("CON.lnk")
// answers with the device's own name, so it is none: its save then fails
// instead of moving on to a numbered name.
bool FileExists(const Text& path) {
  WIN32_FIND_DATAW entry;
  UniqueFind found(FindFirstFileW(W(path), &entry));
  if (!found.Valid()) return false;
  const size_t slash = path.find_last_of(u'\\');
  const Text last = slash == Text::npos ? path : path.substr(slash + 1);
  return CompareStringOrdinal(entry.cFileName, -1, W(last), -1, TRUE) == CSTR_EQUAL;
}

// The icon cache, or nothing when the roaming folder is unknown, too long,
// or on a network drive (a drive letter mapped to a share counts as one: the
// shell would fetch a shortcut's icon from there with the user's credentials).
std::optional<Text> IconCache() {
  std::optional<Text> cache = ShortcutRules::IconCacheFolder(KnownFolder(CSIDL_APPDATA));
  if (!cache) return std::nullopt;
  if (cache->size() >= 2 && (*cache)[1] == u':') {
    const wchar_t root[] = {static_cast<wchar_t>((*cache)[0]), L':', L'\\', 0};
    if (GetDriveTypeW(root) == DRIVE_REMOTE) return std::nullopt;
  }
  return cache;
}

// The folder of one shortcut location; empty when it cannot be found.
Text LocationFolder(ShortcutRules::Location location) {
  switch (location) {
    case ShortcutRules::Location::Desktop:
      return KnownFolder(CSIDL_DESKTOPDIRECTORY);
    case ShortcutRules::Location::Programs:
      return KnownFolder(CSIDL_PROGRAMS);
    case ShortcutRules::Location::QuickLaunch: {
      Text roaming = KnownFolder(CSIDL_APPDATA);
      if (roaming.empty()) return Text();
      if (roaming.back() == u'\\') roaming.pop_back();
      return roaming + u"\\Microsoft\\Internet Explorer\\Quick Launch";
    }
  }
  return Text();
}

// The text in the thread's ANSI code page; nothing when a character has no
// exact form there (a best-fit or default character would sign other text
// than the player meant). A code page that takes no default character (UTF-8)
// refuses unpaired surrogates instead.
std::optional<std::string> Ansi(const Text& text) {
  if (text.empty()) return std::string();
  const int units = static_cast<int>(text.size());
  BOOL usedDefault = FALSE;
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  BOOL* defaulted = &usedDefault;
  int size =
      WideCharToMultiByte(CP_THREAD_ACP, flags, W(text), units, nullptr, 0, nullptr, defaulted);
  if (size <= 0 && GetLastError() == ERROR_INVALID_PARAMETER) {
    flags = WC_ERR_INVALID_CHARS;
    defaulted = nullptr;
    size = WideCharToMultiByte(CP_THREAD_ACP, flags, W(text), units, nullptr, 0, nullptr, nullptr);
  }
  if (size <= 0 || usedDefault) return std::nullopt;
  std::string out(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(CP_THREAD_ACP, flags, W(text), units, out.data(), size, nullptr,
                          defaulted) != size ||
      usedDefault) {
    return std::nullopt;
  }
  return out;
}

// The authorisation: the strings blob holds the snippet for this URL and
// name, and a message signed under built-in root B holds the blob's digest.
bool Authorised(SAFEARRAY* signedAuthData, SAFEARRAY* strings, const Text& canonicalUrl,
                const Text& name) {
  ByteBlob stringBytes(strings);
  if (!stringBytes.Valid()) return false;
  std::optional<std::string> ansiName = Ansi(name);
  std::optional<std::string> ansiUrl = Ansi(canonicalUrl);
  if (!ansiName || !ansiUrl) return false;
  if (!ShortcutRules::StringsHoldSnippet(stringBytes.Bytes(), *ansiUrl, *ansiName)) return false;
  ByteBlob message(signedAuthData);
  if (!message.Valid()) return false;
  std::vector<uint8_t> content;
  const std::span<const uint8_t> root = BuiltInRootB();
  if (!VerifySignedBlob(message.Bytes().data(), message.Bytes().size(), content, root.data(),
                        root.size())) {
    return false;
  }
  const Sha256Digest digest = Sha256(stringBytes.Bytes().data(), stringBytes.Bytes().size());
  return ShortcutRules::ContentHoldsDigest(content, digest);
}

// Saves the shell object once per planned location, pinning and deleting the
// Quick Launch file when asked. The first failing save ends the walk.
HRESULT SaveToLocations(IPersistFile* file, const Text& name, uint32_t flags,
                        ShortcutRules::ShortcutKind kind) {
  for (const ShortcutRules::LocationStep& step : ShortcutRules::PlanLocations(flags, kind)) {
    std::optional<Text> path = ShortcutRules::UniquePath(LocationFolder(step.location), name,
                                                         step.extension, false, FileExists);
    if (!path) continue;
    HRESULT saved = file->Save(W(*path), TRUE);
    if (FAILED(saved)) return saved;
    if (step.pin) {
      // The verb's answer does not change the result; the file goes either way.
      ShellExecuteW(nullptr, L"taskbarpin", W(*path), nullptr, nullptr, SW_HIDE);
      DeleteFileW(W(*path));
    }
  }
  return S_OK;
}

HRESULT IconPath(BSTR fileName, BSTR* iconPath, bool overwrite) {
  std::optional<Text> cache = IconCache();
  if (!cache) return E_FAIL;
  SHCreateDirectory(nullptr, W(*cache));
  std::optional<Text> path =
      ShortcutRules::UniquePath(*cache, FromBstr(fileName), u".ico", overwrite, FileExists);
  if (!path) return E_FAIL;
  *iconPath = SysAllocStringLen(W(*path), static_cast<UINT>(path->size()));
  return *iconPath != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

HRESULT CoGlintBrokerServer::BrokerCreateIconPath(BSTR p_fileName, BSTR* p_iconPath) {
  if (p_iconPath == nullptr) return E_INVALIDARG;
  *p_iconPath = nullptr;
  return IconPath(p_fileName, p_iconPath, false);
}

HRESULT CoGlintBrokerServer::BrokerCreateIconPathV2(BSTR p_fileName, BSTR* p_iconPath,
                                                    LONG p_overwrite) {
  if (p_iconPath == nullptr) return E_INVALIDARG;
  *p_iconPath = nullptr;
  return IconPath(p_fileName, p_iconPath, ShortcutRules::OverwriteAsked(p_overwrite));
}

HRESULT CoGlintBrokerServer::BrokerCreateInternetShortcut(BSTR fileName, BSTR url, BSTR iconPath,
                                                          SAFEARRAY* p_signed_auth_data,
                                                          SAFEARRAY* p_strings, ULONG flags) {
  if (p_signed_auth_data == nullptr || p_strings == nullptr) return kRefused;
  ShortcutRules::InternetShortcutText request;
  request.name = FromBstr(fileName);
  request.url = FromBstr(url);
  request.iconPath = FromBstr(iconPath);
  request.flags = flags;
  if (request.name.empty() || request.url.empty() ||
      ShortcutRules::HasControlCharacters(request.url)) {
    return kRefused;
  }
  std::optional<Text> cache = IconCache();
  if (!cache) return kRefused;
  request.iconCache = *cache;
  wchar_t canonical[ShortcutRules::kPathBufferUnits] = {};
  if (request.name.size() < ShortcutRules::kPathBufferUnits &&
      PathCanonicalizeW(canonical, W(request.name))) {
    request.canonicalName = FromWide(canonical);
  }
  DWORD urlUnits = ShortcutRules::kPathBufferUnits;
  if (SUCCEEDED(UrlCanonicalizeW(W(request.url), canonical, &urlUnits, kCanonicalUrlFlags))) {
    request.canonicalUrl = FromWide(canonical);
  }
  if (!ShortcutRules::AdmitsInternetShortcut(request)) return kRefused;
  if (!Authorised(p_signed_auth_data, p_strings, request.canonicalUrl, request.name)) {
    return kRefused;
  }

  // Every link starts the registered browser with the URL as its one argument.
  wchar_t browser[kExecutableUnits] = {};
  DWORD browserUnits = kExecutableUnits;
  HRESULT found =
      AssocQueryStringW(ASSOCF_NONE, ASSOCSTR_EXECUTABLE, L"http", L"open", browser, &browserUnits);
  if (FAILED(found)) return found;
  ComRef<IShellLinkW> link;
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.Receive());
  if (FAILED(hr)) return hr;
  if (FAILED(hr = link->SetPath(browser))) return hr;
  if (FAILED(hr = link->SetArguments(W(request.canonicalUrl)))) return hr;
  if (FAILED(hr = link->SetIconLocation(W(request.iconPath), 0))) return hr;
  ComRef<IPersistFile> file;
  if (FAILED(hr = link.As(IID_IPersistFile, &file))) return hr;
  return SaveToLocations(file.Get(), request.name, flags, ShortcutRules::ShortcutKind::Internet);
}

HRESULT CoGlintBrokerServer::BrokerCreateDesktopShortcut(BSTR fileName, BSTR url, BSTR iconPath,
                                                         ULONG flags) {
  const auto now = static_cast<uint32_t>(GetTickCount());
  const auto previous =
      static_cast<uint32_t>(InterlockedExchange(&g_desktopShortcutStamp, static_cast<LONG>(now)));
  if (!ShortcutRules::CheckRateLimit(now, previous).allowed) return kRefused;

  ShortcutRules::DesktopShortcutText request;
  request.name = FromBstr(fileName);
  request.url = FromBstr(url);
  request.iconPath = FromBstr(iconPath);
  request.flags = flags;
  if (!request.iconPath.empty()) {
    std::optional<Text> cache = IconCache();
    if (!cache) return kRefused;
    request.iconCache = *cache;
  }
  if (!ShortcutRules::AdmitsDesktopShortcut(request)) return kRefused;

  ComRef<IUniformResourceLocatorW> shortcut;
  HRESULT hr = CoCreateInstance(CLSID_InternetShortcut, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IUniformResourceLocatorW, shortcut.Receive());
  if (FAILED(hr)) return hr;
  if (FAILED(hr = shortcut->SetURL(W(request.url), 0))) return hr;
  if (!request.iconPath.empty()) {
    ComRef<IPropertySetStorage> sets;
    if (FAILED(hr = shortcut.As(IID_IPropertySetStorage, &sets))) return hr;
    ComRef<IPropertyStorage> properties;
    if (FAILED(hr = sets->Open(FMTID_Intshcut, STGM_READWRITE, properties.ReceiveTyped())))
      return hr;
    PROPSPEC specs[2] = {};
    specs[0].ulKind = specs[1].ulKind = PRSPEC_PROPID;
    specs[0].propid = PID_IS_ICONFILE;
    specs[1].propid = PID_IS_ICONINDEX;
    PROPVARIANT values[2] = {};
    values[0].vt = VT_LPWSTR;
    values[0].pwszVal = const_cast<wchar_t*>(W(request.iconPath));
    values[1].vt = VT_I4;
    values[1].lVal = 0;
    if (FAILED(hr = properties->WriteMultiple(2, specs, values, 0))) return hr;
    if (FAILED(hr = properties->Commit(STGC_DEFAULT))) return hr;
  }
  ComRef<IPersistFile> file;
  if (FAILED(hr = shortcut.As(IID_IPersistFile, &file))) return hr;
  return SaveToLocations(file.Get(), request.name, flags, ShortcutRules::ShortcutKind::Desktop);
}

// Add-in applications: downloaded from the maker's hosts only, installed only
// from a package whose signature verifies, and started or queried only when
// their folder matches its signed manifest. Their folders lie below the
// maker-site folder, which the player itself may not write.
#include <windows.h>
#include <shellapi.h>
#include <wininet.h>
#include <zlib.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "broker/addins/AddInDownload.h"
#include "broker/addins/AddInRules.h"
#include "broker/files/FileObject.h"
#include "broker/server/CoGlintBrokerServer.h"
#include "broker/signeddata/SignedData.h"
#include "engine/HostCallbacks.h"
#include "foundation/Win32Handles.h"
#include "foundation/WideText.h"

namespace {

// Result codes of an installation.
enum InstallResult : ULONG {
  kInstalled = 0,
  kNotWritten = 3,
  kOutOfMemory = 4,
  kNothingDownloaded = 5,
  kNotAccepted = 6,
};

// Not in every set of system headers.
constexpr DWORD kErrorElevationRequired = 740;

// A package larger than this is not taken into memory.
constexpr uint32_t kMaxPackage = 64u << 20;

std::u16string NameOf(BSTR name) {
  return name == nullptr
             ? std::u16string()
             : std::u16string(reinterpret_cast<const char16_t*>(name), SysStringLen(name));
}

std::string Ansi(BSTR text) {
  UINT length = SysStringLen(text);
  int size =
      WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), out.data(), size, nullptr,
                        nullptr);
  }
  return out;
}

bool WriteAll(HANDLE file, const uint8_t* data, size_t size) {
  while (size > 0) {
    DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr) || written != chunk) return false;
    data += chunk;
    size -= chunk;
  }
  return true;
}

// A file of an add-in's folder, opened for writing as itself: nothing is
// created through a link, and a file that the open found elsewhere or with
// another name is refused (what the open created goes again).
UniqueHandle CreateForWriting(PlayerPaths& paths, const std::wstring& path) {
  FileObject::Opened opened = FileObject::OpenForPlayer(
      path, GENERIC_WRITE | DELETE, FILE_SHARE_READ, CREATE_ALWAYS, FILE_FLAG_RANDOM_ACCESS);
  using Text = PathRules::Text;
  auto text = [](const std::wstring& wide) {
    return Text(reinterpret_cast<const char16_t*>(wide.data()), wide.size());
  };
  bool kept = FileObject::KeepIfAdmitted(opened, [&](const std::wstring& final) {
    return paths.IsSamePlace(text(final), text(path));
  });
  if (kept && opened.truncate && !SetEndOfFile(opened.handle.Get())) {
    if (opened.created) FileObject::DeleteByHandle(opened.handle.Get());
    return UniqueHandle();
  }
  return std::move(opened.handle);
}

void CreateFolderChain(const std::wstring& folder) {
  for (size_t at = folder.find(L'\\', 3); at != std::wstring::npos;
       at = folder.find(L'\\', at + 1)) {
    CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryW(folder.c_str(), nullptr);
}

// Inflates a verified package's payload and appends it to the new program.
// The unpacked size comes from the package: one the process cannot hold is
// answered as out of memory, never by ending the broker.
ULONG UnpackInto(HANDLE file, const AddInRules::PackageHeader& header,
                 const std::vector<uint8_t>& content) {
  std::unique_ptr<uint8_t[]> unpacked(new (std::nothrow)
                                          uint8_t[static_cast<size_t>(header.unpackedSize) + 1]);
  if (unpacked == nullptr) return kOutOfMemory;
  uLongf unpackedSize = header.unpackedSize;
  if (uncompress(unpacked.get(), &unpackedSize, content.data() + header.payloadOffset,
                 static_cast<uLong>(content.size() - header.payloadOffset)) != Z_OK) {
    return kNotWritten;
  }
  if (SetFilePointer(file, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER ||
      !WriteAll(file, unpacked.get(), unpackedSize)) {
    return kNotWritten;
  }
  return kInstalled;
}

}  // namespace

// The add-in's folder: the maker-site folder + "\bin\" + name.
static std::wstring AddInFolder(PlayerPaths& paths, const std::u16string& name) {
  const auto& site = paths.MakerSiteFolder();
  if (!site) return std::wstring();
  return std::wstring(reinterpret_cast<const wchar_t*>(site->c_str())) + L"\\bin\\" +
         std::wstring(reinterpret_cast<const wchar_t*>(name.c_str()));
}

static MString RootOverride(HostCallbacks* host) {
  MString path;
  int32_t flag = 0;
  if (host != nullptr) host->GetRootCertificateOverride(&path, &flag);
  return path;
}

HRESULT CoGlintBrokerServer::BrokerLMOpenDownload(BSTR p_url, ULONG* p_lmCookie) {
  if (p_url == nullptr || p_lmCookie == nullptr) return E_INVALIDARG;
  *p_lmCookie = 0;
  std::optional<AddInRules::DownloadAddress> address =
      AddInRules::ParseDownloadAddress(Ansi(p_url));
  if (!address) return E_FAIL;
  std::unique_ptr<DownloadState> state(new (std::nothrow) DownloadState);
  if (state == nullptr) return E_FAIL;
  state->session =
      InternetOpenA("Stormwing Glint", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (state->session == nullptr) return E_FAIL;
  state->connection =
      InternetConnectA(state->session, address->host.c_str(),
                       address->secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT,
                       nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  if (state->connection == nullptr) return E_FAIL;
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
  if (address->secure) flags |= INTERNET_FLAG_SECURE;
  state->request = HttpOpenRequestA(state->connection, "GET", address->path.c_str(), "HTTP/1.0",
                                    nullptr, nullptr, flags, 0);
  if (state->request == nullptr) return E_FAIL;
  if (!HttpSendRequestA(state->request, nullptr, 0, nullptr, 0)) {
    OutputDebugStringA("HttpSendRequestA fail");
    return E_FAIL;
  }
  DWORD status = 0, size = sizeof status;
  if (!HttpQueryInfoA(state->request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                      &size, nullptr) ||
      status >= 400) {
    return E_FAIL;
  }
  DWORD length = 0;
  size = sizeof length;
  if (!HttpQueryInfoA(state->request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length,
                      &size, nullptr) ||
      length > kMaxPackage) {
    return E_FAIL;
  }
  state->contentLength = length;
  state->buffer.reset(new (std::nothrow) uint8_t[length > 0 ? length : 1]);
  if (state->buffer == nullptr) return E_FAIL;
  FileCookie* node = Cookies().AddDownload(state.get());
  if (node == nullptr) return E_FAIL;
  state.release();
  *p_lmCookie = node->cookie;
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerLMUpdateDownload(ULONG p_lmCookie, ULONG* p_pos, ULONG* p_len) {
  if (p_pos == nullptr || p_len == nullptr) return E_INVALIDARG;
  *p_pos = 0;
  *p_len = 0;
  FileCookie* node = Cookies().Find(p_lmCookie);
  if (node == nullptr || node->download == nullptr) return E_INVALIDARG;
  DownloadState& state = *node->download;
  uint32_t remaining = state.contentLength - state.received;
  DWORD want = remaining < 65536 ? remaining : 65536;
  DWORD got = 0;
  if (want > 0) {
    if (!InternetReadFile(state.request, state.buffer.get() + state.received, want, &got)) {
      return E_FAIL;
    }
    // The server closed before sending all it announced.
    if (got == 0) return E_FAIL;
    state.received += got;
  }
  *p_pos = state.received;
  *p_len = state.contentLength;
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerLMCloseDownload(ULONG p_lmCookie, BSTR p_applicationName,
                                                   ULONG* p_resultCode) {
  if (p_resultCode == nullptr) return E_INVALIDARG;
  *p_resultCode = 0;
  FileCookie* node = Cookies().Find(p_lmCookie);
  if (node == nullptr || node->download == nullptr) return E_INVALIDARG;
  ULONG result = kInstalled;
  if (p_applicationName != nullptr) {
    result = Install(*node->download, NameOf(p_applicationName));
  }
  Cookies().Remove(p_lmCookie);
  *p_resultCode = result;
  return S_OK;
}

ULONG CoGlintBrokerServer::Install(DownloadState& download, const std::u16string& given) {
  if (download.buffer == nullptr || download.received == 0) return kNothingDownloaded;
  const uint8_t* bytes = download.buffer.get();
  const size_t size = download.received;
  static const std::u16string kDigestPrefix = u"DIGEST#";
  if (given.compare(0, kDigestPrefix.size(), kDigestPrefix) == 0) {
    std::u16string name = given.substr(kDigestPrefix.size());
    if (!AddInRules::IsValidName(name)) return kNotAccepted;
    std::wstring folder = AddInFolder(paths_, name);
    if (folder.empty()) return kNotWritten;
    CreateFolderChain(folder);
    UniqueHandle manifest = CreateForWriting(paths_, folder + L"\\digest.s");
    return manifest && WriteAll(manifest.Get(), bytes, size) ? kInstalled : kNotWritten;
  }
  if (!AddInRules::IsValidName(given)) return kNotWritten;
  std::wstring folder = AddInFolder(paths_, given);
  if (folder.empty()) return kNotWritten;
  std::wstring executable =
      folder + L"\\" + std::wstring(reinterpret_cast<const wchar_t*>(given.c_str())) + L".exe";
  CreateFolderChain(folder);
  UniqueHandle file = CreateForWriting(paths_, executable);
  if (!file) return kNotWritten;
  ULONG result = kInstalled;
  std::vector<uint8_t> root = ReadRootCertificate(RootOverride(host_));
  std::vector<uint8_t> content;
  std::optional<AddInRules::PackageHeader> header;
  if (root.empty() || !VerifySignedBlob(bytes, size, content, root.data(), root.size())) {
    result = kNotAccepted;
  } else if (!(header = AddInRules::ReadPackageHeader(content.data(), content.size()))) {
    result = kNotWritten;
  } else {
    result = UnpackInto(file.Get(), *header, content);
  }
  // A package that is not installed leaves nothing behind: the file goes
  // through its own handle.
  if (result != kInstalled) FileObject::DeleteByHandle(file.Get());
  return result;
}

HRESULT CoGlintBrokerServer::BrokerLMLaunch(BSTR p_applicationName, BSTR p_applicationParams) {
  if (p_applicationName == nullptr) return E_INVALIDARG;
  std::u16string name = NameOf(p_applicationName);
  if (!AddInRules::IsValidName(name)) return E_FAIL;
  std::wstring folder = AddInFolder(paths_, name);
  MString folderText = FromWide(folder.c_str());
  if (folder.empty() ||
      !VerifyAddInFolder(folderText, MString(name.c_str()), RootOverride(host_))) {
    return E_FAIL;
  }
  std::wstring executable =
      folder + L"\\" + std::wstring(p_applicationName, SysStringLen(p_applicationName)) + L".exe";
  std::wstring parameters =
      p_applicationParams != nullptr
          ? std::wstring(p_applicationParams, SysStringLen(p_applicationParams))
          : std::wstring();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  BOOL started;
  if (ProcessKernel32().CreateProcessW != nullptr) {
    started =
        ProcessKernel32().CreateProcessW(executable.c_str(), parameters.data(), nullptr, nullptr,
                                         FALSE, 0, nullptr, nullptr, &startup, &process);
  } else {
    BSTR wide = SysAllocString(executable.c_str());
    std::string executableA = Ansi(wide);
    SysFreeString(wide);
    std::string parametersA = Ansi(p_applicationParams);
    STARTUPINFOA startupA{};
    startupA.cb = sizeof startupA;
    started = CreateProcessA(executableA.c_str(), parametersA.data(), nullptr, nullptr, FALSE, 0,
                             nullptr, nullptr, &startupA, &process);
  }
  if (started) {
    WaitForInputIdle(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return S_OK;
  }
  if (GetLastError() != kErrorElevationRequired) return E_FAIL;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.lpVerb = L"open";
  info.lpFile = executable.c_str();
  info.hwnd = GetForegroundWindow();
  info.nShow = SW_SHOWNORMAL;
  return ShellExecuteExW(&info) ? S_OK : E_FAIL;
}

HRESULT CoGlintBrokerServer::BrokerLMGetVersion(BSTR p_applicationName, ULONG* p_fileVersionMS,
                                                ULONG* p_fileVersionLS) {
  if (p_applicationName == nullptr || p_fileVersionMS == nullptr || p_fileVersionLS == nullptr) {
    return E_INVALIDARG;
  }
  *p_fileVersionMS = 0;
  *p_fileVersionLS = 0;
  std::u16string name = NameOf(p_applicationName);
  if (!AddInRules::IsValidName(name)) return E_FAIL;
  std::wstring folder = AddInFolder(paths_, name);
  if (folder.empty() ||
      !VerifyAddInFolder(FromWide(folder.c_str()), MString(name.c_str()), RootOverride(host_))) {
    return E_FAIL;
  }
  std::wstring executable =
      folder + L"\\" + std::wstring(p_applicationName, SysStringLen(p_applicationName)) + L".exe";
  VersionDllHelper version;
  if (version.GetFileVersionInfoSizeW == nullptr || version.GetFileVersionInfoW == nullptr) {
    return E_FAIL;
  }
  DWORD ignored = 0;
  DWORD size = version.GetFileVersionInfoSizeW(executable.c_str(), &ignored);
  if (size == 0) return E_FAIL;
  std::vector<uint8_t> data(size);
  if (!version.GetFileVersionInfoW(executable.c_str(), 0, size, data.data())) return E_FAIL;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
      fixed == nullptr || length < 52) {
    return E_FAIL;
  }
  *p_fileVersionMS = fixed->dwFileVersionMS;
  *p_fileVersionLS = fixed->dwFileVersionLS;
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerLMIsRunning(BSTR p_applicationName) {
  if (p_applicationName == nullptr) return E_INVALIDARG;
  std::u16string name = NameOf(p_applicationName);
  if (!AddInRules::IsValidName(name)) return S_FALSE;
  std::string mutex = AddInRules::RunningMutexName(name);
  HANDLE handle = CreateMutexA(nullptr, TRUE, mutex.c_str());
  DWORD error = GetLastError();
  if (handle != nullptr) CloseHandle(handle);
  return error == ERROR_ALREADY_EXISTS ? S_OK : S_FALSE;
}

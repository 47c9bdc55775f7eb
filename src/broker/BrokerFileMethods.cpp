// File access for the player: files, folders and searches in its storage
// folders, behind the storage path policy.
//
// Beyond the policy's decision on the path as given, every open is checked
// again on the path the system actually opened (a link swapped in between,
// or a link that does not look like one, cannot lead elsewhere), files with
// more than one name are never written, and every write is watched so that
// no executable image can be produced.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <vector>

#include "broker/CoGlintBrokerServer.h"
#include "broker/ExecutableWatch.h"
#include "broker/services/EnterpriseData.h"
#include "foundation/Win32Error.h"
#include "foundation/Win32Handles.h"

namespace {

using Text = PathRules::Text;

Text ToText(const std::wstring& path) {
  return Text(reinterpret_cast<const char16_t*>(path.data()), path.size());
}

std::wstring FromText(const Text& text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

// The reads of one call are capped: the array is made before reading.
constexpr ULONG kMaxReadLength = 16u << 20;

// The path the system opened for a handle, in DOS form; empty when unknown.
std::wstring FinalPath(HANDLE handle) {
  std::vector<wchar_t> buffer(1040);
  DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= buffer.size()) return std::wstring();
  return std::wstring(buffer.data(), length);
}

// Opens what a path names, following links, only to ask where it lies.
std::wstring FinalPathOf(const std::wstring& path) {
  UniqueHandle handle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return handle ? FinalPath(handle.Get()) : std::wstring();
}

bool IsDeleteResultSuccess(int result) {
  return result == 0 || result == 2 || result == 124 || result == 1026;
}

HRESULT NewBytes(ULONG count, SAFEARRAY** array) {
  *array = SafeArrayCreateVector(VT_UI1, 0, count);
  return *array == nullptr ? E_FAIL : S_OK;
}

}  // namespace

std::optional<std::wstring> CoGlintBrokerServer::PlayerPath(BSTR path) {
  if (path == nullptr) return std::nullopt;
  Text text(reinterpret_cast<const char16_t*>(path), SysStringLen(path));
  // A NUL inside the string would let the system see a shorter path than
  // the one judged.
  if (text.find(u'\0') != Text::npos) return std::nullopt;
  return FromText(paths_.ExpandPlayerPath(text));
}

FileCookie* CoGlintBrokerServer::OpenedCookie(ULONG cookie) {
  FileCookie* node = cookies_.Find(cookie);
  if (node == nullptr || node->pending == nullptr) return node;
  std::unique_ptr<PendingOpen> pending = std::move(node->pending);
  Kernel32DllHelper& kernel32 = ProcessKernel32();
  if (kernel32.CreateFileW == nullptr || !node->path) return node;
  const std::wstring& path = *node->path;
  DWORD disposition = pending->disposition;
  if (pending->identity && (pending->access & GENERIC_WRITE) && processIds_->HasIdentity()) {
    bool exists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    bool creates = (exists && disposition == CREATE_ALWAYS) ||
                   (!exists && (disposition == CREATE_NEW || disposition == CREATE_ALWAYS ||
                                disposition == OPEN_ALWAYS));
    if (creates) {
      UniqueHandle created(kernel32.CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!created) return node;
    }
    disposition = OPEN_EXISTING;
    if (FAILED(
            ProtectFileToEnterpriseIdentity(edpwin32_, path.c_str(), pending->identity->c_str()))) {
      return node;
    }
  }
  HANDLE handle = kernel32.CreateFileW(path.c_str(), pending->access, pending->share, nullptr,
                                       disposition, pending->flags, nullptr);
  node->handle = handle;
  node->examining = node->HasHandle() && (pending->access & GENERIC_WRITE) != 0;
  GlintBrokerAttachmentExecute().Mark(path.c_str());
  return node;
}

HRESULT CoGlintBrokerServer::BrokerCreateFile(BSTR pFileName, LONG p_readOnly,
                                              LONG p_truncateOnOpen, ULONG* p_fileCookie) {
  if (p_fileCookie == nullptr) return E_INVALIDARG;
  *p_fileCookie = 0;
  Kernel32DllHelper& kernel32 = ProcessKernel32();
  if (kernel32.CreateFileW == nullptr) return E_FAIL;
  std::optional<std::wstring> expanded = PlayerPath(pFileName);
  if (!expanded) return E_INVALIDARG;
  const std::wstring& path = *expanded;
  const Text text = ToText(path);
  const bool readOnly = p_readOnly != 0;
  const DWORD access = readOnly ? GENERIC_READ : GENERIC_WRITE;
  // Writes open without truncating: the file is emptied only once the
  // checks after opening have passed.
  DWORD disposition = readOnly ? OPEN_EXISTING : OPEN_ALWAYS;
  const bool truncate = !readOnly && p_truncateOnOpen != 0;
  const DWORD flags = readOnly ? FILE_FLAG_SEQUENTIAL_SCAN : FILE_FLAG_RANDOM_ACCESS;

  // Which rule admitted the path decides what is checked after opening.
  enum class Admitted { ByReadRule, ByChoice, ByIdentity, ByWriteRule } admitted;
  bool createdBeforeProtecting = false;
  EnterpriseIds caller(true);
  if (!caller.HasIdentity()) {
    if (readOnly) {
      if (paths_.MayRead(text)) {
        admitted = Admitted::ByReadRule;
      } else if (IsChosenFile(path)) {
        admitted = Admitted::ByChoice;
      } else {
        return E_ACCESSDENIED;
      }
      if (processIds_->HasIdentity() && BrokerFileProtectionInfo(path).IsProtected()) {
        return E_ACCESSDENIED;
      }
    } else {
      if (!paths_.MayWrite(text, true)) return E_ACCESSDENIED;
      admitted = Admitted::ByWriteRule;
    }
  } else if (readOnly) {
    BrokerFileProtectionInfo protection(path);
    if (protection.IsProtected() && !caller.Holds(protection.Identity())) return E_ACCESSDENIED;
    admitted = Admitted::ByIdentity;
  } else {
    bool settingsArea = false;
    if (!paths_.MayWrite(text, true, &settingsArea)) return E_ACCESSDENIED;
    admitted = Admitted::ByWriteRule;
    if (settingsArea && processIds_->HasIdentity()) {
      if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        UniqueHandle created(kernel32.CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                  nullptr, truncate ? CREATE_ALWAYS : OPEN_ALWAYS,
                                                  flags, nullptr));
        if (!created) return LastErrorResult();
        createdBeforeProtecting = true;
      }
      // Only a file that really lies in the player's folders is protected:
      // a link must not lead the protection elsewhere.
      const std::wstring target = FinalPathOf(path);
      if (target.empty() || !paths_.MayWrite(ToText(target), true)) {
        if (createdBeforeProtecting && !target.empty()) DeleteFileW(target.c_str());
        return E_ACCESSDENIED;
      }
      disposition = OPEN_EXISTING;
      HRESULT protectedResult =
          ProtectFileToEnterpriseIdentity(edpwin32_, path.c_str(), caller.Identity(0));
      if (FAILED(protectedResult)) return protectedResult;
    }
  }

  UniqueHandle handle(kernel32.CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr,
                                           disposition, flags, nullptr));
  if (!handle && readOnly) {
    handle.Reset(kernel32.CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, disposition, flags, nullptr));
  }
  if (!handle) return LastErrorResult();
  // An open of an existing file creates nothing, whatever the last error says.
  const bool created =
      !readOnly && (createdBeforeProtecting ||
                    (disposition != OPEN_EXISTING && GetLastError() != ERROR_ALREADY_EXISTS));

  // The same rule again, on the path that was really opened.
  const std::wstring final = FinalPath(handle.Get());
  bool stillAdmitted = true;
  if (admitted == Admitted::ByReadRule) {
    stillAdmitted = !final.empty() && paths_.MayRead(ToText(final));
  } else if (admitted == Admitted::ByWriteRule) {
    stillAdmitted = !final.empty() && paths_.MayWrite(ToText(final), true);
    BY_HANDLE_FILE_INFORMATION information;
    if (stillAdmitted && (!GetFileInformationByHandle(handle.Get(), &information) ||
                          information.nNumberOfLinks > 1)) {
      stillAdmitted = false;  // another name of this file may lie anywhere
    }
  }
  if (!stillAdmitted) {
    handle.Reset();
    if (created && !final.empty()) DeleteFileW(final.c_str());
    return E_ACCESSDENIED;
  }
  if (truncate && (!SetFilePointerEx(handle.Get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN) ||
                   !SetEndOfFile(handle.Get()))) {
    return LastErrorResult();
  }
  if (!readOnly) GlintBrokerZoneIdentifier().Mark(path.c_str());

  FileCookie* node = cookies_.Add(handle.Get(), nullptr, path);
  if (node == nullptr) return E_FAIL;
  handle.Release();
  node->examining = !readOnly;
  *p_fileCookie = node->cookie;
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerCloseHandle(ULONG p_fileCookie) {
  FileCookie* node = cookies_.Find(p_fileCookie);
  if (node == nullptr) return E_INVALIDARG;
  if (node->HasHandle()) {
    if (node->search) {
      FindClose(node->handle);
    } else {
      CloseHandle(node->handle);
    }
  }
  cookies_.Remove(p_fileCookie);
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerSetFilePointer(ULONG p_fileCookie, LONG p_distanceToMove,
                                                  ULONG p_moveMethod, ULONG* p_newPosition) {
  if (p_newPosition == nullptr) return E_INVALIDARG;
  *p_newPosition = 0;
  FileCookie* node = OpenedCookie(p_fileCookie);
  if (node == nullptr || node->search) return E_INVALIDARG;
  node->seekBase = static_cast<uint32_t>(p_distanceToMove);
  SetLastError(0);
  DWORD position = SetFilePointer(node->handle, p_distanceToMove, nullptr, p_moveMethod);
  *p_newPosition = position;
  if (position == INVALID_SET_FILE_POINTER) {
    DWORD error = GetLastError();
    return error == 0 ? S_OK : HResultFromWin32(static_cast<LONG>(error));
  }
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerReadFile(ULONG p_fileCookie, ULONG p_numToRead, ULONG* p_numRead,
                                            SAFEARRAY** p_data) {
  if (p_numRead == nullptr || p_data == nullptr) return E_INVALIDARG;
  *p_numRead = 0;
  *p_data = nullptr;
  FileCookie* node = cookies_.Find(p_fileCookie);
  if (node == nullptr || !node->HasHandle() || node->search) return E_INVALIDARG;
  if (p_numToRead > kMaxReadLength) return E_INVALIDARG;
  SAFEARRAY* array = nullptr;
  if (FAILED(NewBytes(p_numToRead, &array))) return E_FAIL;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) {
    SafeArrayDestroy(array);
    return E_FAIL;
  }
  DWORD read = 0;
  BOOL ok = ReadFile(node->handle, data, p_numToRead, &read, nullptr);
  DWORD error = GetLastError();
  SafeArrayUnaccessData(array);
  if (!ok) {
    SafeArrayDestroy(array);
    return error == 0 ? E_FAIL : HResultFromWin32(static_cast<LONG>(error));
  }
  *p_numRead = read;
  *p_data = array;
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerWriteFile(ULONG p_fileCookie, SAFEARRAY* p_data,
                                             ULONG* p_numWritten) {
  if (p_data == nullptr || p_numWritten == nullptr) return E_INVALIDARG;
  *p_numWritten = 0;
  FileCookie* node = OpenedCookie(p_fileCookie);
  if (node == nullptr || node->search) return E_INVALIDARG;
  LONG lower = 0, upper = -1;
  if (SafeArrayGetDim(p_data) != 1 || SafeArrayGetElemsize(p_data) != 1 ||
      FAILED(SafeArrayGetLBound(p_data, 1, &lower)) || lower != 0 ||
      FAILED(SafeArrayGetUBound(p_data, 1, &upper))) {
    return E_FAIL;
  }
  void* raw = nullptr;
  HRESULT locked = SafeArrayAccessData(p_data, &raw);
  if (FAILED(locked)) return locked;
  const auto* data = static_cast<const uint8_t*>(raw);
  const DWORD length = static_cast<DWORD>(upper + 1);

  HRESULT result = S_OK;
  if (node->examining && !node->blocked && node->HasHandle()) {
    LARGE_INTEGER position{}, size{};
    bool readFailed = false;
    if (!SetFilePointerEx(node->handle, LARGE_INTEGER{}, &position, FILE_CURRENT) ||
        !GetFileSizeEx(node->handle, &size)) {
      readFailed = true;
    }
    ExecutableWatch::Reader reader = [&](uint64_t offset, uint8_t* out, size_t count) -> size_t {
      if (node->watchReader == INVALID_HANDLE_VALUE && node->path) {
        node->watchReader =
            CreateFileW(node->path->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
      }
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD got = 0;
      if (node->watchReader == INVALID_HANDLE_VALUE ||
          !ReadFile(node->watchReader, out, static_cast<DWORD>(count), &got, &at)) {
        readFailed = true;
        return 0;
      }
      return got;
    };
    bool image = !readFailed && ExecutableWatch::WouldMakeImage(
                                    static_cast<uint64_t>(position.QuadPart), data, length,
                                    static_cast<uint64_t>(size.QuadPart), reader);
    if (image) {
      node->blocked = true;
    } else if (readFailed) {
      // What the file would hold cannot be told: the write does not happen.
      result = E_FAIL;
    }
  }
  if (node->blocked) {
    if (node->HasHandle() && CloseHandle(node->handle)) {
      if (node->watchReader != INVALID_HANDLE_VALUE) {
        CloseHandle(node->watchReader);
        node->watchReader = INVALID_HANDLE_VALUE;
      }
      if (node->path) DeleteFileW(node->path->c_str());
      node->handle = INVALID_HANDLE_VALUE;
    }
    result = E_FAIL;
  } else if (result == S_OK) {
    DWORD written = 0;
    if (!WriteFile(node->handle, data, length, &written, nullptr)) {
      result = LastErrorResult();
    } else {
      *p_numWritten = written;
    }
    node->bytesWritten += length;
    node->lastWriteLength = length;
  }
  SafeArrayUnaccessData(p_data);
  return result;
}

namespace {
// The policy's write rule on the path as given and, when it exists, on the
// object the system finds there.
bool MayWriteHere(PlayerPaths& paths, const std::wstring& path, bool checkExtension) {
  if (!paths.MayWrite(ToText(path), checkExtension)) return false;
  std::wstring final = FinalPathOf(path);
  return final.empty() || paths.MayWrite(ToText(final), checkExtension);
}
}  // namespace

HRESULT CoGlintBrokerServer::BrokerDeleteFile(BSTR p_fileName) {
  std::optional<std::wstring> path = PlayerPath(p_fileName);
  if (!path) return E_INVALIDARG;
  if (ProcessKernel32().DeleteFileW == nullptr) return E_FAIL;
  if (!MayWriteHere(paths_, *path, false)) return E_FAIL;
  if (!ProcessKernel32().DeleteFileW(path->c_str())) return LastErrorResult();
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerRemoveDirectory(BSTR p_dirName) {
  std::optional<std::wstring> path = PlayerPath(p_dirName);
  if (!path) return E_INVALIDARG;
  if (ProcessKernel32().RemoveDirectoryW == nullptr) return E_FAIL;
  if (!MayWriteHere(paths_, *path, false)) return E_FAIL;
  // A link is never removed: on some systems that removes what it points to.
  DWORD attributes = GetFileAttributesW(path->c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return E_FAIL;
  }
  if (!ProcessKernel32().RemoveDirectoryW(path->c_str())) return LastErrorResult();
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerMoveFileEx(BSTR p_oldFileName, BSTR p_newFileName,
                                              LONG dwFlags) {
  std::optional<std::wstring> source = PlayerPath(p_oldFileName);
  std::optional<std::wstring> destination = PlayerPath(p_newFileName);
  if (!source || !destination) return E_INVALIDARG;
  if (ProcessKernel32().MoveFileExW == nullptr) return E_FAIL;
  if ((static_cast<ULONG>(dwFlags) & ~0x2Fu) != 0) return E_FAIL;
  DWORD attributes = GetFileAttributesW(source->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return E_FAIL;
  }
  if (!MayWriteHere(paths_, *source, true) || !paths_.MayWrite(ToText(*destination), true)) {
    return E_FAIL;
  }
  // A file with several names is not moved: its other names stay behind.
  {
    UniqueHandle file(CreateFileW(source->c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (!file || !GetFileInformationByHandle(file.Get(), &information) ||
        information.nNumberOfLinks > 1) {
      return E_FAIL;
    }
  }
  DWORD destinationAttributes = GetFileAttributesW(destination->c_str());
  std::wstring folder = *destination;
  if (destinationAttributes == INVALID_FILE_ATTRIBUTES ||
      !(destinationAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    size_t separator = folder.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return E_FAIL;
    folder = folder.substr(0, separator);
  }
  UniqueHandle folderHandle(
      CreateFileW(folder.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
  if (!folderHandle) return E_FAIL;
  // The folder the system opened must itself be one the player may write in.
  std::wstring finalFolder = FinalPath(folderHandle.Get());
  std::wstring name = destination->substr(folder.size());
  if (finalFolder.empty() || !paths_.MayWrite(ToText(finalFolder + name), true)) return E_FAIL;
  BOOL moved = ProcessKernel32().MoveFileExW(source->c_str(), destination->c_str(),
                                             static_cast<DWORD>(dwFlags));
  DWORD error = GetLastError();
  folderHandle.Reset();
  if (!moved) return error == 0 ? E_FAIL : HResultFromWin32(static_cast<LONG>(error));
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerCreateDirectory(BSTR p_dirName) {
  std::optional<std::wstring> path = PlayerPath(p_dirName);
  if (!path) return E_INVALIDARG;
  if (ProcessKernel32().CreateDirectoryW == nullptr) return E_FAIL;
  if (!paths_.MayCreateDirectory(ToText(*path))) return E_FAIL;
  if (!ProcessKernel32().CreateDirectoryW(path->c_str(), nullptr)) return LastErrorResult();
  // Where the folder really landed must be a place for the player's folders.
  std::wstring final = FinalPathOf(*path);
  if (final.empty() || !paths_.MayCreateDirectory(ToText(final))) {
    RemoveDirectoryW(path->c_str());
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerGetFileAttributesEx(
    BSTR p_fileName, ULONG* p_dwFileAttributes, ULONG* p_ftCreationTimeLo,
    ULONG* p_ftCreationTimeHi, ULONG* p_ftLastAccessTimeLo, ULONG* p_ftLastAccessTimeHi,
    ULONG* p_ftLastWriteTimeLo, ULONG* p_ftLastWriteTimeHi, ULONG* p_nFileSizeLo,
    ULONG* p_nFileSizeHi) {
  ULONG* outs[] = {p_dwFileAttributes,   p_ftCreationTimeLo,   p_ftCreationTimeHi,
                   p_ftLastAccessTimeLo, p_ftLastAccessTimeHi, p_ftLastWriteTimeLo,
                   p_ftLastWriteTimeHi,  p_nFileSizeLo,        p_nFileSizeHi};
  for (ULONG* out : outs) {
    if (out == nullptr) return E_INVALIDARG;
    *out = 0;
  }
  std::optional<std::wstring> path = PlayerPath(p_fileName);
  if (!path) return E_INVALIDARG;
  if (ProcessKernel32().GetFileAttributesExW == nullptr) return E_FAIL;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!ProcessKernel32().GetFileAttributesExW(path->c_str(), GetFileExInfoStandard, &data)) {
    return LastErrorResult();
  }
  *p_dwFileAttributes = data.dwFileAttributes;
  *p_ftCreationTimeLo = data.ftCreationTime.dwLowDateTime;
  *p_ftCreationTimeHi = data.ftCreationTime.dwHighDateTime;
  *p_ftLastAccessTimeLo = data.ftLastAccessTime.dwLowDateTime;
  *p_ftLastAccessTimeHi = data.ftLastAccessTime.dwHighDateTime;
  *p_ftLastWriteTimeLo = data.ftLastWriteTime.dwLowDateTime;
  *p_ftLastWriteTimeHi = data.ftLastWriteTime.dwHighDateTime;
  *p_nFileSizeLo = data.nFileSizeLow;
  *p_nFileSizeHi = data.nFileSizeHigh;
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerFindFirstFile(BSTR p_searchPath, BSTR* p_fileLeafName,
                                                 ULONG* p_fileAttrs, ULONG* p_findCookie) {
  if (p_searchPath == nullptr || p_fileLeafName == nullptr || p_fileAttrs == nullptr ||
      p_findCookie == nullptr) {
    return E_INVALIDARG;
  }
  *p_fileLeafName = nullptr;
  *p_fileAttrs = 0;
  *p_findCookie = 0;
  std::optional<std::wstring> path = PlayerPath(p_searchPath);
  if (!path) return E_INVALIDARG;
  if (ProcessKernel32().FindFirstFileW == nullptr) return E_FAIL;
  if (!paths_.MayRead(ToText(*path))) return E_ACCESSDENIED;
  WIN32_FIND_DATAW entry;
  HANDLE find = ProcessKernel32().FindFirstFileW(path->c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return LastErrorResult();
  FileCookie* node = cookies_.Add(find, nullptr, std::nullopt);
  if (node == nullptr) {
    FindClose(find);
    return E_FAIL;
  }
  node->search = true;
  *p_fileLeafName = SysAllocString(entry.cFileName);
  *p_fileAttrs = entry.dwFileAttributes;
  *p_findCookie = node->cookie;
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerFindNextFile(ULONG p_findCookie, BSTR* p_fileLeafName,
                                                ULONG* p_fileAttrs) {
  if (p_fileLeafName == nullptr || p_fileAttrs == nullptr) return E_INVALIDARG;
  *p_fileLeafName = nullptr;
  *p_fileAttrs = 0;
  FileCookie* node = cookies_.Find(p_findCookie);
  if (node == nullptr || !node->HasHandle() || !node->search) return E_INVALIDARG;
  if (ProcessKernel32().FindNextFileW == nullptr) return E_FAIL;
  WIN32_FIND_DATAW entry;
  if (!ProcessKernel32().FindNextFileW(node->handle, &entry)) return LastErrorResult();
  *p_fileLeafName = SysAllocString(entry.cFileName);
  *p_fileAttrs = entry.dwFileAttributes;
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerFindClose(ULONG p_findCookie) {
  FileCookie* node = cookies_.Find(p_findCookie);
  if (node == nullptr || !node->HasHandle() || !node->search) return E_INVALIDARG;
  HANDLE handle = node->handle;
  cookies_.Remove(p_findCookie);
  if (!FindClose(handle)) return LastErrorResult();
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerIsDriveAvailable(LPWSTR p_lpwRootPathName) {
  if (p_lpwRootPathName == nullptr || p_lpwRootPathName[0] == 0 || p_lpwRootPathName[1] != L':') {
    return E_INVALIDARG;
  }
  wchar_t root[4] = {p_lpwRootPathName[0], L':', L'\\', 0};
  if (ProcessKernel32().GetVolumeInformationW == nullptr) return E_FAIL;
  return ProcessKernel32().GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr,
                                                 nullptr, 0)
             ? S_OK
             : S_FALSE;
}

HRESULT CoGlintBrokerServer::BrokerIsWritablePath(BSTR p_path, LONG p_alsoCheckExtension) {
  std::optional<std::wstring> path = PlayerPath(p_path);
  if (!path) return E_INVALIDARG;
  return paths_.MayWrite(ToText(*path), p_alsoCheckExtension == 1) ? S_OK : E_FAIL;
}

namespace {
// Every entry of a tree lies, as the system finds it, inside `root` (its
// final path); a link inside would make a tree deletion reach elsewhere.
bool TreeStaysInside(const std::wstring& folder, const std::wstring& finalRoot, int depth) {
  if (depth > 64) return false;
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (!find) return true;
  do {
    std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring child = folder + L"\\" + name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
    std::wstring final = FinalPathOf(child);
    if (final.size() <= finalRoot.size() ||
        _wcsnicmp(final.c_str(), finalRoot.c_str(), finalRoot.size()) != 0 ||
        final[finalRoot.size()] != L'\\') {
      return false;
    }
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !TreeStaysInside(child, finalRoot, depth + 1)) {
      return false;
    }
  } while (FindNextFileW(find.Get(), &entry));
  return true;
}
}  // namespace

HRESULT CoGlintBrokerServer::BrokerDeleteBrowsingHistory(BSTR pRootPathName) {
  std::optional<std::wstring> path = PlayerPath(pRootPathName);
  if (!path) return E_INVALIDARG;
  if (!paths_.MayCreateDirectory(ToText(*path))) return E_FAIL;
  std::wstring tree = *path + L"\\#SharedObjects";
  std::wstring finalTree = FinalPathOf(tree);
  if (!finalTree.empty() &&
      (!paths_.MayCreateDirectory(ToText(finalTree)) || !TreeStaysInside(tree, finalTree, 0))) {
    return E_FAIL;
  }
  std::wstring from = tree;
  from.push_back(L'\0');  // the list of paths ends with an empty one
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  int deleted = SHFileOperationW(&operation);
  BSTR recreate = SysAllocStringLen(tree.data(), static_cast<UINT>(tree.size()));
  BrokerCreateDirectory(recreate);
  SysFreeString(recreate);
  return IsDeleteResultSuccess(deleted) ? S_OK : E_FAIL;
}

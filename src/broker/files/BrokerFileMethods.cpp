// File access for the player: files, folders and searches in its storage
// folders, behind the storage path policy.
//
// The broker decides on the path as given, opens the object, checks the
// opened object again (the path the system really opened, and its number of
// names), and then acts only through that handle: reads, writes, listings,
// deletions and renames never go back to a path that could have changed
// since the decision. Creation never follows a link in the last name, files
// with more than one name are never opened for the player, and every write
// is watched so that no executable image can be produced.
#include <windows.h>

#include <cstring>
#include <vector>

#include "broker/server/ByteBlob.h"
#include "broker/server/CoGlintBrokerServer.h"
#include "broker/policy/ExecutableWatch.h"
#include "broker/files/FileObject.h"
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

using FileObject::FinalPath;

bool SamePlace(PlayerPaths& paths, const std::wstring& final, const std::wstring& path) {
  return paths.IsSamePlace(ToText(final), ToText(path));
}

HRESULT Win32Result(DWORD error) {
  return error == 0 ? S_OK : HResultFromWin32(static_cast<LONG>(error));
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
  const bool writes = (pending->access & GENERIC_WRITE) != 0;
  DWORD disposition = pending->disposition;
  // The file the dialog named, and no other: an open that reached another
  // place (a link) or a file with other names is undone.
  auto namedFile = [&](const std::wstring& final) { return SamePlace(paths_, final, path); };
  if (pending->identity && writes && processIds_->HasIdentity()) {
    bool exists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    bool creates = (exists && disposition == CREATE_ALWAYS) ||
                   (!exists && (disposition == CREATE_NEW || disposition == CREATE_ALWAYS ||
                                disposition == OPEN_ALWAYS));
    if (creates) {
      FileObject::Opened created = FileObject::OpenForPlayer(
          path, GENERIC_WRITE | DELETE, 0, exists ? OPEN_EXISTING : CREATE_NEW, 0);
      if (!FileObject::KeepIfAdmitted(created, namedFile)) return node;
      if (exists && !SetEndOfFile(created.handle.Get())) return node;
    }
    disposition = OPEN_EXISTING;
    if (FAILED(
            ProtectFileToEnterpriseIdentity(edpwin32_, path.c_str(), pending->identity->c_str()))) {
      return node;
    }
  }
  FileObject::Opened opened =
      FileObject::OpenForPlayer(path, pending->access | (writes ? GENERIC_READ | DELETE : 0),
                                pending->share, disposition, pending->flags);
  if (FileObject::KeepIfAdmitted(opened, namedFile) && opened.truncate &&
      !SetEndOfFile(opened.handle.Get())) {
    opened.handle.Reset();
  }
  node->handle = opened.handle ? opened.handle.Release() : INVALID_HANDLE_VALUE;
  node->examining = node->HasHandle() && writes;
  node->readable = (pending->access & GENERIC_READ) != 0;
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
  // A write handle may also read and delete: the image watch reads the
  // file's bytes through it, and a refused creation and an executable image
  // are removed through it. The player still only writes through it.
  const DWORD access = readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE | DELETE;
  DWORD disposition = readOnly                ? OPEN_EXISTING
                      : p_truncateOnOpen != 0 ? CREATE_ALWAYS
                                              : OPEN_ALWAYS;
  const DWORD flags = readOnly ? FILE_FLAG_SEQUENTIAL_SCAN : FILE_FLAG_RANDOM_ACCESS;

  // Which rule admitted the path decides what is checked after opening.
  enum class Admitted { ByReadRule, ByChoice, ByIdentity, ByWriteRule } admitted;
  EnterpriseIds caller(true, srpapi_);
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
      // The file is made first, as itself, and only a file that really lies
      // in the player's folders is protected.
      FileObject::Opened made = FileObject::OpenForPlayer(path, GENERIC_WRITE | DELETE,
                                                          FILE_SHARE_READ, disposition, flags);
      if (!made.handle) return LastErrorResult();
      if (!FileObject::KeepIfAdmitted(made, [&](const std::wstring& final) {
            return paths_.MayWriteOpened(ToText(final), true);
          })) {
        return E_ACCESSDENIED;
      }
      made.handle.Reset();
      disposition = p_truncateOnOpen != 0 ? TRUNCATE_EXISTING : OPEN_EXISTING;
      HRESULT protectedResult =
          ProtectFileToEnterpriseIdentity(edpwin32_, path.c_str(), caller.Identity(0));
      if (FAILED(protectedResult)) return protectedResult;
    }
  }

  FileObject::Opened opened =
      FileObject::OpenForPlayer(path, access, FILE_SHARE_READ, disposition, flags);
  if (!opened.handle && readOnly) {
    // Write handles of the broker may delete (see above), so a reader that
    // shares writing shares deletion too.
    opened = FileObject::OpenForPlayer(
        path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition, flags);
  }
  if (!opened.handle) {
    // A name that exists but cannot be opened is a link to nothing.
    if (!readOnly && GetLastError() == ERROR_FILE_NOT_FOUND) return E_ACCESSDENIED;
    return LastErrorResult();
  }

  // The same rule again, on the object that was really opened.
  auto stillAdmitted = [&](const std::wstring& final) {
    switch (admitted) {
      case Admitted::ByReadRule:
        return paths_.MayReadOpened(ToText(final));
      case Admitted::ByChoice:
        return SamePlace(paths_, final, path);
      case Admitted::ByWriteRule:
        return paths_.MayWriteOpened(ToText(final), true);
      case Admitted::ByIdentity:
        break;
    }
    return true;
  };
  if (!FileObject::KeepIfAdmitted(opened, stillAdmitted)) return E_ACCESSDENIED;
  if (opened.truncate && !SetEndOfFile(opened.handle.Get())) return LastErrorResult();
  if (!readOnly) GlintBrokerZoneIdentifier().Mark(path.c_str());

  FileCookie* node = cookies_.Add(opened.handle.Get(), nullptr, path);
  if (node == nullptr) return E_FAIL;
  opened.handle.Release();
  node->examining = !readOnly;
  node->readable = readOnly;
  *p_fileCookie = node->cookie;
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerCloseHandle(ULONG p_fileCookie) {
  FileCookie* node = cookies_.Find(p_fileCookie);
  if (node == nullptr) return E_INVALIDARG;
  if (node->HasHandle()) CloseHandle(node->handle);
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
  // A file opened for writing is not read through its cookie.
  if (!node->readable) return HResultFromWin32(ERROR_ACCESS_DENIED);
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
  const ByteBlob blob(p_data);
  if (!blob.Valid()) return blob.Result();
  const uint8_t* data = blob.Bytes().data();
  const DWORD length = static_cast<DWORD>(blob.Bytes().size());

  HRESULT result = S_OK;
  if (node->examining && !node->blocked && node->HasHandle()) {
    LARGE_INTEGER position{}, size{};
    bool readFailed = false;
    if (!SetFilePointerEx(node->handle, LARGE_INTEGER{}, &position, FILE_CURRENT) ||
        !GetFileSizeEx(node->handle, &size)) {
      readFailed = true;
    }
    // The file's existing bytes are read through the cookie's own handle
    // (never through a path that may name something else by now), which is
    // then put back where the write must land.
    bool moved = false;
    ExecutableWatch::Reader reader = [&](uint64_t offset, uint8_t* out, size_t count) -> size_t {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD got = 0;
      moved = true;
      if (!ReadFile(node->handle, out, static_cast<DWORD>(count), &got, &at)) {
        readFailed = true;
        return 0;
      }
      return got;
    };
    bool image = !readFailed && ExecutableWatch::WouldMakeImage(
                                    static_cast<uint64_t>(position.QuadPart), data, length,
                                    static_cast<uint64_t>(size.QuadPart), reader);
    if (moved && !SetFilePointerEx(node->handle, position, nullptr, FILE_BEGIN)) readFailed = true;
    if (image) {
      node->blocked = true;
    } else if (readFailed) {
      // What the file would hold cannot be told: the write does not happen.
      result = E_FAIL;
    }
  }
  if (node->blocked) {
    // The image goes through the cookie's own handle: emptied, so that
    // nothing of it survives even where the deletion cannot complete, and
    // deleted, whatever its folder or name has been changed into meanwhile.
    if (node->HasHandle()) {
      LARGE_INTEGER start{};
      if (SetFilePointerEx(node->handle, start, nullptr, FILE_BEGIN)) SetEndOfFile(node->handle);
      FileObject::DeleteByHandle(node->handle);
      CloseHandle(node->handle);
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
  return result;
}

namespace {

// A removal after the write rule admitted the path: the object is opened as
// itself, judged again where it really lies, and deleted through its handle.
HRESULT RemoveAdmitted(PlayerPaths& paths, const std::wstring& path, bool directory) {
  UniqueHandle object = FileObject::OpenToRemove(path, directory);
  if (!object) return LastErrorResult();
  DWORD attributes = FileObject::Attributes(object.Get());
  if (attributes == INVALID_FILE_ATTRIBUTES) return E_FAIL;
  const bool isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (isDirectory != directory) {
    return HResultFromWin32(directory ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED);
  }
  // A link is never removed: on some systems that removes what it points to.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return E_FAIL;
  if (!paths.MayWriteOpened(ToText(FinalPath(object.Get())), false)) return E_FAIL;
  return Win32Result(FileObject::DeleteByHandle(object.Get()));
}

}  // namespace

HRESULT CoGlintBrokerServer::BrokerDeleteFile(BSTR p_fileName) {
  std::optional<std::wstring> path = PlayerPath(p_fileName);
  if (!path) return E_INVALIDARG;
  if (ProcessKernel32().DeleteFileW == nullptr) return E_FAIL;
  if (!paths_.MayWrite(ToText(*path), false)) return E_FAIL;
  return RemoveAdmitted(paths_, *path, false);
}

HRESULT CoGlintBrokerServer::BrokerRemoveDirectory(BSTR p_dirName) {
  std::optional<std::wstring> path = PlayerPath(p_dirName);
  if (!path) return E_INVALIDARG;
  if (ProcessKernel32().RemoveDirectoryW == nullptr) return E_FAIL;
  if (!paths_.MayWrite(ToText(*path), false)) return E_FAIL;
  return RemoveAdmitted(paths_, *path, true);
}

HRESULT CoGlintBrokerServer::BrokerMoveFileEx(BSTR p_oldFileName, BSTR p_newFileName,
                                              LONG dwFlags) {
  std::optional<std::wstring> source = PlayerPath(p_oldFileName);
  std::optional<std::wstring> destination = PlayerPath(p_newFileName);
  if (!source || !destination) return E_INVALIDARG;
  if (ProcessKernel32().MoveFileExW == nullptr) return E_FAIL;
  const ULONG flags = static_cast<ULONG>(dwFlags);
  if ((flags & ~0x2Fu) != 0) return E_FAIL;
  // A move deferred to the next start could not be checked again when it
  // runs, and its folders may be links by then.
  if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) return E_ACCESSDENIED;
  DWORD attributes = GetFileAttributesW(source->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return E_FAIL;
  }
  if (!paths_.MayWrite(ToText(*source), true) || !paths_.MayWrite(ToText(*destination), true)) {
    return E_FAIL;
  }
  // The file as itself, where it really lies, with one name only (its other
  // names would stay behind).
  UniqueHandle file = FileObject::OpenToRemove(*source, false);
  if (!file) return LastErrorResult();
  attributes = FileObject::Attributes(file.Get());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      FileObject::LinkCount(file.Get()) != 1 ||
      !paths_.MayWriteOpened(ToText(FinalPath(file.Get())), true)) {
    return E_FAIL;
  }
  // The destination's folder, held open during the move: the new name is
  // made inside the folder the system opened, which must itself be one the
  // player may write in.
  size_t separator = destination->find_last_of(L"\\/");
  if (separator == std::wstring::npos || separator + 1 >= destination->size()) return E_FAIL;
  std::wstring name = destination->substr(separator + 1);
  if (name == L"." || name == L"..") return E_FAIL;
  std::wstring folder = destination->substr(0, separator);
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
  UniqueHandle folderHandle(CreateFileW(folder.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folderHandle) return E_FAIL;
  std::wstring finalFolder = FinalPath(folderHandle.Get());
  if (finalFolder.empty() || !paths_.MayWriteOpened(ToText(finalFolder + L"\\" + name), true)) {
    return E_FAIL;
  }
  return Win32Result(FileObject::RenameByHandle(file.Get(), folderHandle.Get(), name,
                                                (flags & MOVEFILE_REPLACE_EXISTING) != 0));
}

HRESULT CoGlintBrokerServer::BrokerCreateDirectory(BSTR p_dirName) {
  std::optional<std::wstring> path = PlayerPath(p_dirName);
  if (!path) return E_INVALIDARG;
  if (ProcessKernel32().CreateDirectoryW == nullptr) return E_FAIL;
  if (!paths_.MayCreateDirectory(ToText(*path))) return E_FAIL;
  if (!ProcessKernel32().CreateDirectoryW(path->c_str(), nullptr)) return LastErrorResult();
  // Where the folder really landed must be a place for the player's folders;
  // a folder made elsewhere goes again, through its own handle.
  UniqueHandle made = FileObject::OpenToRemove(*path, true);
  if (!made || !paths_.MayCreateDirectoryOpened(ToText(FinalPath(made.Get())))) {
    if (made) FileObject::DeleteByHandle(made.Get());
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
  // Only what the player may read, or a file the user chose, is described:
  // the question is answered by the object opened, judged where it lies.
  const Text text = ToText(*path);
  const bool chosen = IsChosenFile(*path);
  if (text.find_first_of(u"*?<>\"") != Text::npos || (!chosen && !paths_.MayRead(text))) {
    return E_ACCESSDENIED;
  }
  UniqueHandle object(CreateFileW(path->c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!object) return LastErrorResult();
  const std::wstring final = FinalPath(object.Get());
  FILE_BASIC_INFO basic{};
  FILE_STANDARD_INFO standard{};
  if (!GetFileInformationByHandleEx(object.Get(), FileBasicInfo, &basic, sizeof basic) ||
      !GetFileInformationByHandleEx(object.Get(), FileStandardInfo, &standard, sizeof standard)) {
    return LastErrorResult();
  }
  bool admitted = !final.empty() && (standard.Directory || standard.NumberOfLinks == 1) &&
                  (chosen ? SamePlace(paths_, final, *path) : paths_.MayReadOpened(ToText(final)));
  if (!admitted) return E_ACCESSDENIED;
  auto low = [](LARGE_INTEGER value) { return static_cast<ULONG>(value.QuadPart & 0xFFFFFFFF); };
  auto high = [](LARGE_INTEGER value) { return static_cast<ULONG>(value.QuadPart >> 32); };
  *p_dwFileAttributes = basic.FileAttributes;
  *p_ftCreationTimeLo = low(basic.CreationTime);
  *p_ftCreationTimeHi = high(basic.CreationTime);
  *p_ftLastAccessTimeLo = low(basic.LastAccessTime);
  *p_ftLastAccessTimeHi = high(basic.LastAccessTime);
  *p_ftLastWriteTimeLo = low(basic.LastWriteTime);
  *p_ftLastWriteTimeHi = high(basic.LastWriteTime);
  // A folder has no size of its own.
  if (!standard.Directory) {
    *p_nFileSizeLo = low(standard.EndOfFile);
    *p_nFileSizeHi = high(standard.EndOfFile);
  }
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
  std::optional<PathRules::SearchPattern> search = paths_.MayList(ToText(*path));
  if (!search) return E_ACCESSDENIED;
  // The folder is opened, judged where it really lies, and listed through
  // that handle.
  UniqueHandle folder = FileObject::OpenToList(FromText(search->folder));
  if (!folder) return LastErrorResult();
  if (!paths_.MayReadOpened(ToText(FinalPath(folder.Get())))) return E_ACCESSDENIED;
  FileObject::Entry entry;
  DWORD error = FileObject::FirstEntry(folder.Get(), FromText(search->mask), &entry);
  if (error != 0) return Win32Result(error);
  FileCookie* node = cookies_.Add(folder.Get(), nullptr, std::nullopt);
  if (node == nullptr) return E_FAIL;
  folder.Release();
  node->search = true;
  *p_fileLeafName = SysAllocStringLen(entry.name.data(), static_cast<UINT>(entry.name.size()));
  *p_fileAttrs = entry.attributes;
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
  FileObject::Entry entry;
  DWORD error = FileObject::NextEntry(node->handle, &entry);
  if (error != 0) return Win32Result(error);
  *p_fileLeafName = SysAllocStringLen(entry.name.data(), static_cast<UINT>(entry.name.size()));
  *p_fileAttrs = entry.attributes;
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerFindClose(ULONG p_findCookie) {
  FileCookie* node = cookies_.Find(p_findCookie);
  if (node == nullptr || !node->HasHandle() || !node->search) return E_INVALIDARG;
  HANDLE handle = node->handle;
  cookies_.Remove(p_findCookie);
  if (!CloseHandle(handle)) return LastErrorResult();
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

UniqueHandle OpenFolderToRemove(const std::wstring& path) {
  return UniqueHandle(
      CreateFileW(path.c_str(), DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// Walks a tree through handles: every entry is opened as itself and must lie
// exactly where its folder's listing put it (a link, or anything swapped in,
// fails the walk). With `remove` set, each entry is deleted through its
// handle, children before their folder.
bool WalkTree(HANDLE folder, const std::wstring& finalFolder, bool remove, int depth) {
  if (depth > 64) return false;
  std::vector<FileObject::Entry> entries;
  FileObject::Entry entry;
  DWORD error = FileObject::FirstEntry(folder, L"*", &entry);
  while (error == 0) {
    if (entry.name != L"." && entry.name != L"..") entries.push_back(entry);
    error = FileObject::NextEntry(folder, &entry);
  }
  if (error != ERROR_NO_MORE_FILES && error != ERROR_FILE_NOT_FOUND) return false;
  for (const FileObject::Entry& child : entries) {
    if (child.attributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
    const bool directory = (child.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::wstring path = finalFolder + L"\\" + child.name;
    UniqueHandle object =
        directory ? OpenFolderToRemove(path) : FileObject::OpenToRemove(path, false);
    if (!object) return false;
    const std::wstring final = FinalPath(object.Get());
    DWORD attributes = FileObject::Attributes(object.Get());
    if (final.size() != path.size() || _wcsicmp(final.c_str(), path.c_str()) != 0 ||
        attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != directory) {
      return false;
    }
    if (directory && !WalkTree(object.Get(), final, remove, depth + 1)) return false;
    if (remove && FileObject::DeleteByHandle(object.Get()) != 0) return false;
  }
  return true;
}

}  // namespace

HRESULT CoGlintBrokerServer::BrokerDeleteBrowsingHistory(BSTR pRootPathName) {
  std::optional<std::wstring> path = PlayerPath(pRootPathName);
  if (!path) return E_INVALIDARG;
  if (!paths_.MayCreateDirectory(ToText(*path))) return E_FAIL;
  const std::wstring tree = *path + L"\\#SharedObjects";
  bool deleted = true;
  {
    UniqueHandle root = OpenFolderToRemove(tree);
    if (!root) {
      DWORD error = GetLastError();
      deleted = IsDeleteResultSuccess(static_cast<int>(error)) || error == ERROR_PATH_NOT_FOUND;
    } else {
      const std::wstring final = FinalPath(root.Get());
      DWORD attributes = FileObject::Attributes(root.Get());
      // The whole tree is checked before anything goes: a tree with a link
      // inside is left as it is.
      if (final.empty() || attributes == INVALID_FILE_ATTRIBUTES ||
          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
          !paths_.MayCreateDirectoryOpened(ToText(final)) ||
          !WalkTree(root.Get(), final, false, 0)) {
        return E_FAIL;
      }
      deleted = WalkTree(root.Get(), final, true, 0) && FileObject::DeleteByHandle(root.Get()) == 0;
    }
  }
  BSTR recreate = SysAllocStringLen(tree.data(), static_cast<UINT>(tree.size()));
  BrokerCreateDirectory(recreate);
  SysFreeString(recreate);
  return deleted ? S_OK : E_FAIL;
}

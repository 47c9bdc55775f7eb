#include "broker/files/FileObject.h"

#include <winternl.h>

#include <cstring>
#include <vector>

namespace FileObject {

namespace {

// The handle-based operations that have no Win32 form on every system
// (renaming relative to a folder handle, listing a folder through its handle)
// are the native ones under it; ntdll is in every process.
struct Native {
  using QueryDirectoryFn = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID,
                                            ULONG, ULONG, BOOLEAN, PUNICODE_STRING, BOOLEAN);
  using SetInformationFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
  using StatusToErrorFn = ULONG(NTAPI*)(NTSTATUS);
  using OpenFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                      ULONG, ULONG);
  using QueryObjectFn = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
  QueryDirectoryFn queryDirectory = nullptr;
  SetInformationFn setInformation = nullptr;
  StatusToErrorFn statusToError = nullptr;
  OpenFileFn openFile = nullptr;
  QueryObjectFn queryObject = nullptr;

  Native() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return;
    queryDirectory = reinterpret_cast<QueryDirectoryFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryDirectoryFile")));
    setInformation = reinterpret_cast<SetInformationFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
    statusToError = reinterpret_cast<StatusToErrorFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
    openFile = reinterpret_cast<OpenFileFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtOpenFile")));
    queryObject = reinterpret_cast<QueryObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")));
  }
  DWORD Error(NTSTATUS status) const {
    if (status >= 0) return 0;
    DWORD error = statusToError != nullptr ? statusToError(status) : ERROR_GEN_FAILURE;
    return error == 0 ? ERROR_GEN_FAILURE : error;
  }
};

const Native& Ntdll() {
  static const Native native;
  return native;
}

constexpr ULONG kFileRenameInformation = 10;
constexpr ULONG kFileDirectoryFile = 0x00000001;
constexpr ULONG kFileSynchronousIoNonalert = 0x00000020;
constexpr ULONG kFileNonDirectoryFile = 0x00000040;
constexpr ULONG kFileOpenForBackupIntent = 0x00004000;
constexpr ULONG kFileOpenReparsePoint = 0x00200000;
constexpr ULONG kObjCaseInsensitive = 0x00000040;
constexpr ULONG kFileFullDirectoryInformation = 2;
constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006);

struct FullDirectoryEntry {
  ULONG nextEntryOffset;
  ULONG fileIndex;
  LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime;
  LARGE_INTEGER endOfFile, allocationSize;
  ULONG fileAttributes;
  ULONG fileNameLength;
  ULONG eaSize;
  WCHAR fileName[1];
};

DWORD QueryEntry(HANDLE folder, const std::wstring* mask, Entry* entry) {
  const Native& native = Ntdll();
  if (native.queryDirectory == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  alignas(8) BYTE buffer[sizeof(FullDirectoryEntry) + 2 * MAX_PATH * sizeof(WCHAR)];
  IO_STATUS_BLOCK status{};
  UNICODE_STRING pattern{};
  if (mask != nullptr) {
    if (mask->empty() || mask->size() > 0x7FF0) return ERROR_FILE_NOT_FOUND;
    pattern.Buffer = const_cast<PWSTR>(mask->c_str());
    pattern.Length = static_cast<USHORT>(mask->size() * sizeof(WCHAR));
    pattern.MaximumLength = pattern.Length;
  }
  NTSTATUS result = native.queryDirectory(folder, nullptr, nullptr, nullptr, &status, buffer,
                                          sizeof buffer, kFileFullDirectoryInformation, TRUE,
                                          mask ? &pattern : nullptr, mask != nullptr);
  if (result == kStatusNoMoreFiles) return ERROR_NO_MORE_FILES;
  if (result < 0) return native.Error(result);
  const auto* found = reinterpret_cast<const FullDirectoryEntry*>(buffer);
  size_t length = found->fileNameLength / sizeof(WCHAR);
  if (offsetof(FullDirectoryEntry, fileName) + found->fileNameLength > sizeof buffer) {
    return ERROR_INVALID_DATA;
  }
  entry->name.assign(found->fileName, length);
  entry->attributes = found->fileAttributes;
  return 0;
}

}  // namespace

std::wstring FinalPath(HANDLE handle) {
  std::vector<wchar_t> buffer(1040);
  DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= buffer.size()) return std::wstring();
  return std::wstring(buffer.data(), length);
}

DWORD LinkCount(HANDLE handle) {
  FILE_STANDARD_INFO standard{};
  if (!GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) return 0;
  return standard.NumberOfLinks;
}

DWORD Attributes(HANDLE handle) {
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
    return INVALID_FILE_ATTRIBUTES;
  }
  return basic.FileAttributes;
}

Opened OpenForPlayer(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                     DWORD flags) {
  Opened opened;
  const bool creates =
      disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  if (creates) {
    opened.handle.Reset(
        CreateFileW(path.c_str(), access, share, nullptr, CREATE_NEW, flags, nullptr));
    if (opened.handle) {
      opened.created = true;
      return opened;
    }
    // Any existing name, a link whose target is missing included, is opened
    // as what it is, never created through.
    if (disposition == CREATE_NEW || GetLastError() != ERROR_FILE_EXISTS) return opened;
  }
  opened.handle.Reset(
      CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
  opened.truncate =
      opened.handle && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
  return opened;
}

bool KeepIfAdmitted(Opened& opened, const std::function<bool(const std::wstring&)>& admitted) {
  if (!opened.handle) return false;
  const std::wstring final = FinalPath(opened.handle.Get());
  if (!final.empty() && LinkCount(opened.handle.Get()) == 1 && admitted(final)) return true;
  if (opened.created) DeleteByHandle(opened.handle.Get());
  opened.handle.Reset();
  return false;
}

UniqueHandle OpenToRemove(const std::wstring& path, bool directory) {
  DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (directory ? FILE_FLAG_BACKUP_SEMANTICS : 0);
  return UniqueHandle(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, flags, nullptr));
}

DWORD DeleteByHandle(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  if (!SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)) {
    DWORD error = GetLastError();
    return error == 0 ? ERROR_GEN_FAILURE : error;
  }
  return 0;
}

DWORD RenameByHandle(HANDLE handle, HANDLE folder, const std::wstring& name, bool replace) {
  const Native& native = Ntdll();
  if (native.setInformation == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  if (name.empty() || name.size() > 32767) return ERROR_INVALID_NAME;
  // FILE_RENAME_INFORMATION: replace flag, root folder, name length, name.
  std::vector<BYTE> buffer(offsetof(FILE_RENAME_INFO, FileName) + name.size() * sizeof(WCHAR) +
                           sizeof(WCHAR));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = folder;
  rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(WCHAR));
  memcpy(rename->FileName, name.data(), name.size() * sizeof(WCHAR));
  IO_STATUS_BLOCK status{};
  return native.Error(native.setInformation(
      handle, &status, buffer.data(), static_cast<ULONG>(buffer.size()), kFileRenameInformation));
}

UniqueHandle OpenToList(const std::wstring& folder) {
  return UniqueHandle(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

DWORD FirstEntry(HANDLE folder, const std::wstring& mask, Entry* entry) {
  DWORD error = QueryEntry(folder, &mask, entry);
  return error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : error;
}

DWORD NextEntry(HANDLE folder, Entry* entry) {
  return QueryEntry(folder, nullptr, entry);
}

UniqueHandle OpenChildToRemove(HANDLE folder, const std::wstring& name, bool directory) {
  const Native& native = Ntdll();
  if (native.openFile == nullptr || name.empty() || name.size() > 255 ||
      name.find_first_of(L"\\/") != std::wstring::npos) {
    return UniqueHandle();
  }
  UNICODE_STRING objectName{};
  objectName.Buffer = const_cast<PWSTR>(name.c_str());
  objectName.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  objectName.MaximumLength = objectName.Length;
  OBJECT_ATTRIBUTES attributes{};
  attributes.Length = sizeof attributes;
  attributes.RootDirectory = folder;
  attributes.ObjectName = &objectName;
  attributes.Attributes = kObjCaseInsensitive;
  const ACCESS_MASK access =
      DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE | (directory ? FILE_LIST_DIRECTORY : 0);
  const ULONG options = kFileSynchronousIoNonalert | kFileOpenReparsePoint |
                        (directory ? kFileDirectoryFile | kFileOpenForBackupIntent
                                   : kFileNonDirectoryFile);
  HANDLE handle = nullptr;
  IO_STATUS_BLOCK status{};
  if (native.openFile(&handle, access, &attributes, &status,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, options) < 0) {
    return UniqueHandle();
  }
  return UniqueHandle(handle);
}

std::wstring ObjectName(HANDLE handle) {
  const Native& native = Ntdll();
  if (native.queryObject == nullptr) return std::wstring();
  constexpr OBJECT_INFORMATION_CLASS kObjectNameInformation = static_cast<OBJECT_INFORMATION_CLASS>(1);
  alignas(8) BYTE buffer[sizeof(UNICODE_STRING) + 2 * 1040];
  ULONG length = 0;
  if (native.queryObject(handle, kObjectNameInformation, buffer, sizeof buffer, &length) < 0) {
    return std::wstring();
  }
  const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer);
  if (name->Buffer == nullptr) return std::wstring();
  return std::wstring(name->Buffer, name->Length / sizeof(WCHAR));
}

bool Listing::Next(Entry* entry) {
  const Native& native = Ntdll();
  if (native.queryDirectory == nullptr) return false;
  if (buffer_.empty()) buffer_.resize(64 * 1024);
  for (;;) {
    if (done_) return false;
    if (offset_ == 0) {
      IO_STATUS_BLOCK status{};
      const NTSTATUS result = native.queryDirectory(
          folder_, nullptr, nullptr, nullptr, &status, buffer_.data(),
          static_cast<ULONG>(buffer_.size()), kFileFullDirectoryInformation, FALSE, nullptr, FALSE);
      if (result < 0 || status.Information == 0) {
        done_ = true;
        return false;
      }
      // Entries start at offset 0; offset_ marks the next one to hand out,
      // biased by one so that 0 means "read a batch".
      offset_ = 1;
    }
    const size_t at = offset_ - 1;
    const auto* found = reinterpret_cast<const FullDirectoryEntry*>(buffer_.data() + at);
    if (at + offsetof(FullDirectoryEntry, fileName) > buffer_.size() ||
        at + offsetof(FullDirectoryEntry, fileName) + found->fileNameLength > buffer_.size()) {
      done_ = true;
      offset_ = 0;
      return false;
    }
    entry->name.assign(found->fileName, found->fileNameLength / sizeof(WCHAR));
    entry->attributes = found->fileAttributes;
    offset_ = found->nextEntryOffset == 0 ? 0 : offset_ + found->nextEntryOffset;
    return true;
  }
}

}  // namespace FileObject

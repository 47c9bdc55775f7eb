#include "engine/DeleteTree.h"

#include <windows.h>

#include <string>

#include "broker/files/FileObject.h"
#include "foundation/WideText.h"
#include "foundation/Win32Handles.h"

namespace {

constexpr size_t kMaxPath = 260;  // units, the terminating zero included

// The object at `path` opened to be removed, when it is no link and the
// system opened it where its name says (`expected`). A file link shows no
// reparse attribute on this platform: its final path gives it away.
UniqueHandle Open(const std::wstring& path, bool directory) {
  if (!directory) return FileObject::OpenToRemove(path, false);
  return UniqueHandle(
      CreateFileW(path.c_str(), DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return !a.empty() && a.size() == b.size() &&
         CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

UniqueHandle OpenChecked(const std::wstring& path, bool directory, const std::wstring& expected) {
  UniqueHandle handle = Open(path, directory);
  if (!handle) return handle;
  // A file open refuses a folder; a folder open takes a file too, so a folder
  // must still be one (and no link) when opened.
  if (directory) {
    const DWORD attributes = FileObject::Attributes(handle.Get());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      handle.Reset();
      return handle;
    }
  }
  if (!SameText(FileObject::FinalPath(handle.Get()), expected)) handle.Reset();
  return handle;
}

// Removes what it can inside the folder opened as `folder`, whose object
// name is `name` and whose path takes `units` units. Each entry is opened
// through the folder's handle by its own name and must be found at `name` and
// that name: a link the system followed names its target and is left alone,
// so nothing outside the tree is ever reached.
void RemoveContents(HANDLE folder, const std::wstring& name, size_t units) {
  FileObject::Listing listing(folder);
  FileObject::Entry entry;
  while (listing.Next(&entry)) {
    if (entry.name == L"." || entry.name == L"..") continue;
    const size_t childUnits = units + 1 + entry.name.size();
    if (childUnits >= kMaxPath) continue;
    // A link is left alone: deleting one can take its target with it.
    if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    const bool directory = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    UniqueHandle handle = FileObject::OpenChildToRemove(folder, entry.name, directory);
    if (!handle) continue;
    const std::wstring childName = name + L"\\" + entry.name;
    if (!SameText(FileObject::ObjectName(handle.Get()), childName)) continue;
    if (directory) {
      const DWORD attributes = FileObject::Attributes(handle.Get());
      if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        continue;
      }
      RemoveContents(handle.Get(), childName, childUnits);
    }
    FileObject::DeleteByHandle(handle.Get());
  }
}

// The path's long full form as the system's final paths read ("\\?\C:\…");
// empty when it does not fit.
std::wstring ExpectedFinalPath(const std::wstring& path) {
  wchar_t full[kMaxPath], longForm[kMaxPath];
  const DWORD fullLength = GetFullPathNameW(path.c_str(), kMaxPath, full, nullptr);
  if (fullLength == 0 || fullLength >= kMaxPath) return std::wstring();
  const DWORD longLength = GetLongPathNameW(full, longForm, kMaxPath);
  if (longLength == 0 || longLength >= kMaxPath) return std::wstring();
  return L"\\\\?\\" + std::wstring(longForm, longLength);
}

}  // namespace

bool DeleteTree(const MString& folder) {
  const std::wstring path(W(folder));
  if (path.empty() || path.size() >= kMaxPath) return false;
  // The folder itself must be no link: its own attributes say so for a
  // folder link, and the opened folder must be the one its name names (in
  // long form), which also refuses a path through a linked ancestor.
  const DWORD named = GetFileAttributesW(path.c_str());
  if (named == INVALID_FILE_ATTRIBUTES || !(named & FILE_ATTRIBUTE_DIRECTORY) ||
      (named & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return false;
  }
  const std::wstring root = ExpectedFinalPath(path);
  UniqueHandle handle = root.empty() ? UniqueHandle() : OpenChecked(path, true, root);
  const std::wstring name = handle ? FileObject::ObjectName(handle.Get()) : std::wstring();
  if (name.empty()) return false;
  RemoveContents(handle.Get(), name, path.size());
  if (FileObject::DeleteByHandle(handle.Get()) != 0) return false;
  handle.Reset();  // the folder goes when its last handle closes
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool DeleteFileInPlace(const MString& file) {
  return DeleteFileInPlaceError(file, false) == 0;
}

uint32_t DeleteFileInPlaceError(const MString& file, bool clearAttributes) {
  const std::wstring path(W(file));
  const std::wstring expected = path.size() < kMaxPath ? ExpectedFinalPath(path) : std::wstring();
  if (expected.empty()) {
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? GetLastError()
                                                                       : ERROR_FILENAME_EXCED_RANGE;
  }
  UniqueHandle handle(CreateFileW(
      path.c_str(), DELETE | FILE_READ_ATTRIBUTES | (clearAttributes ? FILE_WRITE_ATTRIBUTES : 0) |
                        SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) return GetLastError();
  if (!SameText(FileObject::FinalPath(handle.Get()), expected)) return ERROR_CANT_RESOLVE_FILENAME;
  if (clearAttributes) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(handle.Get(), FileBasicInfo, &basic, sizeof basic);
  }
  return FileObject::DeleteByHandle(handle.Get());
}

bool RemoveEmptyFolderInPlace(const MString& folder) {
  const std::wstring path(W(folder));
  const std::wstring expected = path.size() < kMaxPath ? ExpectedFinalPath(path) : std::wstring();
  UniqueHandle handle = expected.empty() ? UniqueHandle() : OpenChecked(path, true, expected);
  return handle && FileObject::DeleteByHandle(handle.Get()) == 0;
}

bool LiesInPlace(const MString& name) {
  const std::wstring path(W(name));
  const std::wstring expected = path.size() < kMaxPath ? ExpectedFinalPath(path) : std::wstring();
  if (expected.empty()) return false;
  UniqueHandle handle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return false;
  const DWORD attributes = FileObject::Attributes(handle.Get());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         SameText(FileObject::FinalPath(handle.Get()), expected);
}

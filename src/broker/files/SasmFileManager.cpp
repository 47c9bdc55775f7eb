#include "broker/files/SasmFileManager.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "broker/policy/PlayerPaths.h"
#include "foundation/DynamicLoadLibraryHelper.h"
#include "foundation/Win32Handles.h"

namespace SMImplementation {

PointerVector::PointerVector()
    : items_(static_cast<void**>(std::calloc(10, sizeof(void*)))), capacity_(items_ ? 10 : 0) {}

PointerVector::~PointerVector() {
  std::free(items_);
}

bool PointerVector::AppendElement(void* element) {
  if (count_ == capacity_) {
    size_t grown = capacity_ == 0 ? 10 : capacity_ * 2;
    void** items = static_cast<void**>(std::realloc(items_, grown * sizeof(void*)));
    if (items == nullptr) return false;
    items_ = items;
    capacity_ = grown;
  }
  items_[count_++] = element;
  return true;
}

void PointerVector::FreeAll() {
  for (size_t i = 0; i < count_; ++i) FreeElement(items_[i]);
  count_ = 0;
}

}  // namespace SMImplementation

namespace SASM {

namespace {

std::wstring Wide(const std::string& utf8) {
  int size = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring wide(size > 0 ? size - 1 : 0, L'\0');
  if (size > 1) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), size);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? size - 1 : 0, '\0');
  if (size > 1)
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

std::string Folder(int csidl, const wchar_t* tail) {
  wchar_t buffer[MAX_PATH + 1] = {};
  Shell32DllHelper shell32;
  if (shell32.SHGetFolderPathW == nullptr ||
      FAILED(shell32.SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) {
    return std::string();
  }
  return Utf8(std::wstring(buffer) + tail);
}

struct Entry {
  std::wstring path;
  uint64_t size;
  uint64_t written;
};

// Files of a tree (not following links), for sizes and pruning.
void CollectFiles(const std::wstring& folder, std::vector<Entry>& files, int depth) {
  if (depth > 64) return;
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (!find) return;
  do {
    std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring child = folder + L"\\" + name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      CollectFiles(child, files, depth + 1);
    } else {
      uint64_t size = (static_cast<uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
      uint64_t written = (static_cast<uint64_t>(entry.ftLastWriteTime.dwHighDateTime) << 32) |
                         entry.ftLastWriteTime.dwLowDateTime;
      files.push_back({child, size, written});
    }
  } while (FindNextFileW(find.Get(), &entry));
}

// Removes empty folders below and including `folder`; true when it went.
bool RemoveEmptyFolders(const std::wstring& folder, int depth) {
  if (depth > 64) return false;
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (find) {
    do {
      std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveEmptyFolders(folder + L"\\" + name, depth + 1);
      }
    } while (FindNextFileW(find.Get(), &entry));
  }
  find.Reset();
  return RemoveDirectoryW(folder.c_str()) != 0;
}

}  // namespace

StringVector::~StringVector() {
  FreeAll();
}

bool StringVector::Add(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) return false;
  std::memcpy(copy, text.c_str(), text.size() + 1);
  if (!AppendElement(copy)) {
    std::free(copy);
    return false;
  }
  return true;
}

const char* StringVector::At(size_t index) const {
  return static_cast<const char*>(ElementAt(index));
}

void StringVector::FreeElement(void* element) {
  std::free(element);
}

WindowsFileManager::WindowsFileManager()
    : enableLocalAppData_(ReadAdminBool("EnableLocalAppData")) {}

bool WindowsFileManager::DeleteDirectoryTree(const std::string& path) {
  std::wstring from = Wide(path);
  from.push_back(L'\0');
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  int result = SHFileOperationW(&operation);
  return result == 0 || result == 2 || result == 124 || result == 1026;
}

bool WindowsFileManager::PruneDirectoryTree(const std::string& path, uint64_t keepBytes,
                                            uint32_t olderThanDays) {
  std::wstring root = Wide(path);
  std::vector<Entry> files;
  CollectFiles(root, files, 0);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  uint64_t current = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  uint64_t cutoff = current - static_cast<uint64_t>(olderThanDays) * 24 * 3600 * 10000000ull;
  std::sort(files.begin(), files.end(),
            [](const Entry& a, const Entry& b) { return a.written < b.written; });
  uint64_t total = 0;
  for (const Entry& file : files) total += file.size;
  bool ok = true;
  for (const Entry& file : files) {
    if (file.written >= cutoff && total <= keepBytes) continue;
    if (DeleteFileW(file.path.c_str())) {
      total -= file.size;
    } else {
      ok = false;
    }
  }
  if (total == 0) RemoveEmptyFolders(root, 0);
  return ok;
}

uint64_t WindowsFileManager::Size(const std::string& path) {
  std::wstring wide = Wide(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return 0;
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  std::vector<Entry> files;
  CollectFiles(wide, files, 0);
  uint64_t total = 0;
  for (const Entry& file : files) total += file.size;
  return total;
}

bool WindowsFileManager::CreateSubdirectory(const std::string& parent, const std::string& name) {
  std::wstring folder = Wide(parent);
  int made = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS) {
    return false;
  }
  std::wstring child = folder + L"\\" + Wide(name);
  return CreateDirectoryW(child.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

const std::string& WindowsFileManager::AssetCacheFolder() {
  static const std::string folder = Folder(CSIDL_APPDATA, L"\\Arvex\\Glint Player\\AssetCache");
  return folder;
}

const std::string& WindowsFileManager::CacheFolder() {
  static const std::string folder = Folder(CSIDL_APPDATA, L"\\Arvex\\Glint Player\\VXCache");
  return folder;
}

const std::string& WindowsFileManager::SharedObjectsFolder() {
  static const std::string folder = [this] {
    PlayerPaths paths(false);
    paths.SetUseLocalAppData(enableLocalAppData_);
    const auto& root = paths.SharedObjectsRoot();
    return root ? Utf8(std::wstring(reinterpret_cast<const wchar_t*>(root->c_str())))
                : std::string();
  }();
  return folder;
}

const std::string& WindowsFileManager::PrivateDataFolder() {
  static const std::string folder =
      Folder(CSIDL_APPDATA, L"\\Arvex\\Glint Player\\QPSPrivateData2");
  return folder;
}

StringVector* WindowsFileManager::ListFolder(const std::string& path) {
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW((Wide(path) + L"\\*").c_str(), &entry));
  if (!find) return nullptr;
  std::vector<std::string> names;
  do {
    std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    names.push_back(Utf8(name));
  } while (FindNextFileW(find.Get(), &entry));
  std::sort(names.begin(), names.end());
  auto* list = new (std::nothrow) StringVector;
  if (list == nullptr) return nullptr;
  for (const std::string& name : names) list->Add(name);
  return list;
}

}  // namespace SASM

#include "broker/files/FileCookie.h"

#include <set>

#include "broker/addins/AddInDownload.h"

void DownloadState::Close() {
  if (request != nullptr) InternetCloseHandle(request);
  if (connection != nullptr) InternetCloseHandle(connection);
  if (session != nullptr) InternetCloseHandle(session);
  request = connection = session = nullptr;
}

void DestroyDownloadState(DownloadState* state) {
  delete state;
}

CookieTable::~CookieTable() {
  while (head_ != nullptr) {
    FileCookie* node = head_;
    head_ = node->next;
    // A broker object that goes away leaves nothing open behind it.
    if (node->HasHandle()) CloseHandle(node->handle);
    Free(node);
  }
}

FileCookie* CookieTable::Add(HANDLE handle, std::unique_ptr<PendingOpen> pending,
                             std::optional<std::wstring> path) {
  bool realHandle = handle != nullptr && handle != INVALID_HANDLE_VALUE;
  if (!realHandle && pending == nullptr) return nullptr;
  auto* node = new (std::nothrow) FileCookie;
  if (node == nullptr) return nullptr;
  if (next_ == 0) next_ = 1;
  node->cookie = next_++;
  node->handle = realHandle ? handle : INVALID_HANDLE_VALUE;
  node->pending = std::move(pending);
  node->path = std::move(path);
  node->next = head_;
  head_ = node;
  return node;
}

FileCookie* CookieTable::AddDownload(DownloadState* download) {
  if (download == nullptr) return nullptr;
  auto* node = new (std::nothrow) FileCookie;
  if (node == nullptr) return nullptr;
  if (next_ == 0) next_ = 1;
  node->cookie = next_++;
  node->download = download;
  node->next = head_;
  head_ = node;
  return node;
}

FileCookie* CookieTable::Find(uint32_t cookie) const {
  for (FileCookie* node = head_; node != nullptr; node = node->next) {
    if (node->cookie == cookie) return node;
  }
  return nullptr;
}

bool CookieTable::Remove(uint32_t cookie) {
  for (FileCookie** link = &head_; *link != nullptr; link = &(*link)->next) {
    if ((*link)->cookie == cookie) {
      FileCookie* node = *link;
      *link = node->next;
      Free(node);
      return true;
    }
  }
  return false;
}

void CookieTable::Free(FileCookie* node) {
  if (node->download != nullptr) DestroyDownloadState(node->download);
  delete node;
}

namespace {
std::set<std::wstring>& ChosenFiles() {
  static std::set<std::wstring> files;
  return files;
}
}  // namespace

bool IsChosenFile(const std::wstring& path) {
  return ChosenFiles().count(path) != 0;
}
void AddChosenFile(const std::wstring& path) {
  ChosenFiles().insert(path);
}

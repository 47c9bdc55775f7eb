// The broker object's table of open files, searches, downloads and dialog
// results, handed to the player as 32-bit cookies from one sequence per
// broker object. 0 is never a cookie and cookies are not reused.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// A file named by a save dialog, opened on first use.
struct PendingOpen {
  DWORD access = 0;
  DWORD share = 0;
  DWORD disposition = 0;
  DWORD flags = 0;
  std::optional<std::wstring> identity;  // enterprise identity to protect it to
};

// The download state of an add-in, owned by its cookie.
struct DownloadState;
void DestroyDownloadState(DownloadState* state);

struct FileCookie {
  uint32_t cookie = 0;
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool blocked = false;              // judged an executable image: no further writes
  bool examining = false;            // writes are watched for executable images
  bool readable = false;             // opened for reading by the player
  bool search = false;               // a directory search: the handle is the listed folder
  std::optional<std::wstring> path;  // files only
  uint32_t seekBase = 0;
  uint32_t bytesWritten = 0;
  uint32_t lastWriteLength = 0;
  std::unique_ptr<PendingOpen> pending;
  DownloadState* download = nullptr;
  FileCookie* next = nullptr;

  bool HasHandle() const { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
};

class CookieTable {
 public:
  CookieTable() = default;
  CookieTable(const CookieTable&) = delete;
  CookieTable& operator=(const CookieTable&) = delete;
  // Frees every node and closes what they still hold.
  ~CookieTable();

  // Adds a node with a real handle or a pending open; null otherwise.
  FileCookie* Add(HANDLE handle, std::unique_ptr<PendingOpen> pending,
                  std::optional<std::wstring> path);
  // Adds a node that owns a download.
  FileCookie* AddDownload(DownloadState* download);
  FileCookie* Find(uint32_t cookie) const;
  // Removes and frees the node (its path, pending open and download); the
  // file or search handle is the caller's to close.
  bool Remove(uint32_t cookie);
  uint32_t NextCookie() const { return next_; }

 private:
  static void Free(FileCookie* node);

  FileCookie* head_ = nullptr;
  uint32_t next_ = 1;
};

// Files the user picked in an open dialog: readable whatever the policy says.
// Shared by every broker object of the process, used on its one thread.
bool IsChosenFile(const std::wstring& path);
void AddChosenFile(const std::wstring& path);

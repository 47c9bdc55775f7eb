// What the broker does to a file system object after its policy decision:
// open it without following a link in its last name, ask the opened object
// where it really lies and how many names it has, and delete, rename or list
// it through the handle, so that nothing swapped in between the decision and
// the act can be reached.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "foundation/Win32Handles.h"

namespace FileObject {

// The path the system opened for a handle, in DOS form ("\\?\C:\..."); empty
// when unknown.
std::wstring FinalPath(HANDLE handle);

// The number of names of the opened file; 0 when it cannot be asked.
DWORD LinkCount(HANDLE handle);

// Attributes of the opened object; INVALID_FILE_ATTRIBUTES when unknown.
DWORD Attributes(HANDLE handle);

// An open that never follows a link in the last name when it creates: a
// creating disposition first tries CREATE_NEW (which fails on any existing
// name, a dangling link included) and only then opens what exists. `created`
// tells that this open made the file; `truncate` that the caller must empty
// it (CREATE_ALWAYS, TRUNCATE_EXISTING) once its checks have passed. The last
// error is the system's on failure.
struct Opened {
  UniqueHandle handle;
  bool created = false;
  bool truncate = false;
};
Opened OpenForPlayer(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                     DWORD flags);

// The check after an open: the opened object must have one name and its
// final path must pass `admitted`. Otherwise what the open created goes
// again, through its handle, and the handle is closed; false tells that.
bool KeepIfAdmitted(Opened& opened, const std::function<bool(const std::wstring&)>& admitted);

// Opens an object to delete or rename it: DELETE access, every sharing mode,
// a link in the last name opened as itself where the system can.
UniqueHandle OpenToRemove(const std::wstring& path, bool directory);

// Marks the opened object for deletion; it goes when its last handle closes.
// A Windows error, 0 on success.
DWORD DeleteByHandle(HANDLE handle);

// Gives the opened object the name `name` inside the opened folder.
DWORD RenameByHandle(HANDLE handle, HANDLE folder, const std::wstring& name, bool replace);

// A listing of one opened folder through its handle, with a name pattern
// that only the first query takes.
struct Entry {
  std::wstring name;
  DWORD attributes = 0;
};
// The first entry matching `mask` (fresh handle), or the next one. A Windows
// error, 0 on success; the end of a listing is ERROR_NO_MORE_FILES, no match
// at all ERROR_FILE_NOT_FOUND.
DWORD FirstEntry(HANDLE folder, const std::wstring& mask, Entry* entry);
DWORD NextEntry(HANDLE folder, Entry* entry);

// Opens a folder for listing: the handle that FirstEntry and NextEntry take.
UniqueHandle OpenToList(const std::wstring& folder);

// Opens `name`, one name without separators, inside the folder opened as
// `folder`, to delete it: DELETE and attribute access (and listing for a
// folder), every sharing mode, a link opened as itself where the system can,
// and only an object of the asked kind. Invalid on failure.
UniqueHandle OpenChildToRemove(HANDLE folder, const std::wstring& name, bool directory);

// The opened object's name as the object manager gives it ("\??\C:\..." or
// "\Device\...\..."): cheaper to ask than the final path, and enough to
// compare a child with its folder. Empty when unknown.
std::wstring ObjectName(HANDLE handle);

// Every entry of an opened folder, read through its handle many at a time.
class Listing {
 public:
  explicit Listing(HANDLE folder) : folder_(folder) {}
  // The next entry ("." and ".." included); false at the end or on failure.
  bool Next(Entry* entry);

 private:
  HANDLE folder_;
  std::vector<BYTE> buffer_;
  size_t offset_ = 0;
  bool done_ = false;
};

}  // namespace FileObject

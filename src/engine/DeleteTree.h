// Recursive folder removal that can be pointed at folders the user can
// write: it never enters or deletes through a link or reparse point. Each
// folder and file is opened without following a link, the opened object
// must lie inside the tree being removed, and it is deleted through its own
// handle.
#pragma once

#include <cstdint>

#include "foundation/MString.h"

// Removes everything under `folder` that it can, then the folder; true when
// the folder itself is gone. Links, entries reached through links, held or
// read-only files and paths of 260 units or more stay (and with them the
// folders that hold them).
bool DeleteTree(const MString& folder);

// Deletes one file through its handle, when it is no link and the system
// opens it where its name says; false otherwise or when it stays.
bool DeleteFileInPlace(const MString& file);

// The same with the reason it stays, as DeleteFileW gives it (2 absent, 5
// refused or read-only, 32 held), or ERROR_CANT_RESOLVE_FILENAME for a link
// or a file found elsewhere than its name says; 0 when it is gone. With
// `clearAttributes` the opened file's attributes are cleared first, so a
// read-only file goes too.
uint32_t DeleteFileInPlaceError(const MString& file, bool clearAttributes);

// Removes one empty folder through its handle, when it is no link and the
// system opens it where its name says; false otherwise or when it stays.
bool RemoveEmptyFolderInPlace(const MString& folder);

// Whether the object at `path` is no link and the system opens it where its
// name says: asked with attribute access only, which a holder's sharing
// never refuses. False too when it is absent.
bool LiesInPlace(const MString& path);

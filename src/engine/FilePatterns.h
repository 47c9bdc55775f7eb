// Removal by name pattern, without the system: the "prefix:suffix" file
// pattern, the lookups over the folder listings the engine keeps, and the
// rule that a path too long for the system's path buffers is left alone.
#pragma once

#include <cstdint>

#include "foundation/MString.h"
#include "foundation/MStringList.h"

// Units of the path buffers removal works in, the terminating NUL included.
inline constexpr uint32_t kPathBufferUnits = 260;

// File patterns read "prefix:suffix": the prefix is everything before the
// first ':', the suffix everything after the last one, and without ':' the
// whole text is the prefix. A name matches when it starts with the prefix
// and ends with the suffix, both compared case-sensitively. The two may
// overlap in a short name. A pattern with both parts empty ("", ":", "::")
// names nothing and matches nothing: a sweep never takes a whole folder for it.
bool MatchesFilePattern(const MString& name, const MString& pattern);

// Folder and name joined with one '\' between them; false, with `path` left
// as it was, when the result would not fit a path buffer. Such a path is
// never acted on: cutting it short could name some other file.
bool JoinPathWithin(const MString& folder, const MString& name, MString* path);

// The system folder listing's lookup: the last entry of the listing that
// matches wins, joined to `folder`. False when none matches or the joined
// path does not fit.
bool FindLastListingMatch(const MStringList& listing, const MString& pattern, const MString& folder,
                          MString* path);

// The per-user bin listing's lookup: every matching entry, joined to
// `folder`, is added to `paths` in listing order (one that does not fit is
// left out). True when any was added.
bool CollectListingMatches(const MStringList& listing, const MString& pattern,
                           const MString& folder, MStringList& paths);

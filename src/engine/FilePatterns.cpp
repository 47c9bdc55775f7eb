#include "engine/FilePatterns.h"

namespace {

// Positions of the first and last ':' (the length when there is none).
struct Colons {
  uint32_t first;
  uint32_t last;
};
Colons FindColons(const char16_t* units, uint32_t length) {
  Colons colons{length, length};
  for (uint32_t i = 0; i < length; ++i) {
    if (units[i] != u':') continue;
    if (colons.first == length) colons.first = i;
    colons.last = i;
  }
  return colons;
}

}  // namespace

// Compared in place: the pattern is split for every listing entry.
bool MatchesFilePattern(const MString& name, const MString& pattern) {
  const char16_t* units = pattern.CStr();
  const uint32_t length = pattern.Length();
  const Colons colons = FindColons(units, length);
  const uint32_t prefix = colons.first;
  const uint32_t suffix = colons.last == length ? 0 : length - colons.last - 1;
  const uint32_t nameLength = name.Length();
  if (prefix == 0 && suffix == 0) return false;
  if (prefix > nameLength || suffix > nameLength) return false;
  const char16_t* text = name.CStr();
  for (uint32_t i = 0; i < prefix; ++i) {
    if (text[i] != units[i]) return false;
  }
  for (uint32_t i = 0; i < suffix; ++i) {
    if (text[nameLength - suffix + i] != units[length - suffix + i]) return false;
  }
  return true;
}

bool JoinPathWithin(const MString& folder, const MString& name, MString* path) {
  MString joined = folder;
  joined.JoinPath(u'\\', name);
  if (joined.Length() >= kPathBufferUnits) return false;
  *path = joined;
  return true;
}

bool FindLastListingMatch(const MStringList& listing, const MString& pattern, const MString& folder,
                          MString* path) {
  const MStringList::MStringNode* match = nullptr;
  for (const auto& node : listing) {
    if (MatchesFilePattern(node.key, pattern)) match = &node;
  }
  return match != nullptr && JoinPathWithin(folder, match->key, path);
}

bool CollectListingMatches(const MStringList& listing, const MString& pattern,
                           const MString& folder, MStringList& paths) {
  bool added = false;
  for (const auto& node : listing) {
    MString path;
    if (!MatchesFilePattern(node.key, pattern) || !JoinPathWithin(folder, node.key, &path)) {
      continue;
    }
    paths.AddName(path);
    added = true;
  }
  return added;
}

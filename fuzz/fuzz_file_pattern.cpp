// The file pattern and the listing lookups from arbitrary text: the first
// line is an entry name, the rest a pattern. A match must mean the name
// starts with the prefix and ends with the suffix (and the reverse), and no
// path the lookups give out is longer than a path buffer allows.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/FilePatterns.h"
#include "FuzzSupport.h"

namespace {

std::u16string U16(const MString& s) {
  return std::u16string(s.begin(), s.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string text = U16(FromUtf8(data, size));
  const size_t newline = text.find(u'\n');
  const std::u16string name = text.substr(0, newline);
  const std::u16string pattern = newline == text.npos ? u"" : text.substr(newline + 1);

  const size_t first = pattern.find(u':'), last = pattern.rfind(u':');
  const std::u16string prefix = pattern.substr(0, first);
  const std::u16string suffix = last == pattern.npos ? u"" : pattern.substr(last + 1);
  // A pattern that names nothing (both parts empty) matches nothing.
  const bool holds =
      !(prefix.empty() && suffix.empty()) && name.starts_with(prefix) && name.ends_with(suffix);
  const MString nameString(name.data(), static_cast<int32_t>(name.size()));
  const MString patternString(pattern.data(), static_cast<int32_t>(pattern.size()));
  // A counted copy stops at an embedded NUL; the expectation follows it then.
  if (nameString.Length() == name.size() && patternString.Length() == pattern.size()) {
    Check(MatchesFilePattern(nameString, patternString) == holds);
  }

  // The name and the pattern text as a listing, the name's tail as a folder.
  MStringList listing;
  listing.AddName(nameString);
  listing.AddName(patternString);
  const MString folder = nameString + patternString + nameString;
  MString path;
  if (FindLastListingMatch(listing, patternString, folder, &path)) {
    Check(path.Length() < kPathBufferUnits && StartsWith(path, folder));
  }
  MStringList paths;
  const bool any = CollectListingMatches(listing, patternString, nameString, paths);
  Check(any == (paths.Count() != 0) && paths.Count() <= 2);
  for (const auto& node : paths) Check(node.key.Length() < kPathBufferUnits);
  return 0;
}

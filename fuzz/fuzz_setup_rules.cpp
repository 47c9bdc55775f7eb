// The setup engine's name rules and the key-entry split from arbitrary
// bytes: each answer is held against what it must be whatever the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "engine/KeyTables.h"
#include "engine/SetupRules.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view entry(reinterpret_cast<const char*>(data), size);
  KeyRoot root;
  std::string_view path;
  if (SplitKeyEntry(entry, &root, &path)) {
    Check(!path.empty() && entry.size() <= kMaxKeyEntryBytes && entry.ends_with(path));
  }

  const MString text = FromUtf8(data, size);
  const uint32_t length = text.Length();
  const MString stripped = StripSurroundingQuotes(text);
  // Unquoted text comes back whole; quoted text loses its quotes (and, as
  // every counted copy does, stops at an embedded NUL).
  Check(stripped.Length() == length || stripped.Length() + 2 <= length);
  const MString name = LastName(text);
  Check(EndsWith(text, name));
  for (uint32_t i = 0; i < name.Length(); ++i) Check(name[i] != u'\\' && name[i] != u'/');
  const MString dll = WithExtension(text, MString(u".dll"));
  Check(EndsWith(dll, MString(u".dll")) && dll.Length() <= length + 4);
  if (IsProductCode(text)) Check(length == 38 && text[0] == u'{');
  MStringList names;
  names.AddName(name);
  Check(name.IsEmpty() || EndsWithListedName(text, names));
  return 0;
}

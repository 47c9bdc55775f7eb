// Helpers shared by the native unit tests: readable MString values for
// assertions, strings with embedded NULs, and buffers that come from
// "another module" with their own counting release routine.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/MString.h"

// "<null>" for the null string, otherwise the units with everything outside
// printable ASCII written as \uXXXX, so null, empty and odd units all differ.
inline std::string Show(const MString& s) {
  if (s.IsNull()) return "<null>";
  std::string out;
  for (char16_t unit : s) {
    if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
      out += escaped;
    }
  }
  return out;
}

// Lets GoogleTest print MString values in failure messages.
inline void PrintTo(const MString& s, std::ostream* os) {
  *os << '"' << Show(s) << '"';
}

// Exactly these units, NULs included (the pointer constructors stop at a NUL).
inline MString Raw(std::u16string_view units) {
  char16_t* out = nullptr;
  MString s = MString::WithLength(static_cast<uint32_t>(units.size()), &out);
  if (!units.empty()) std::memcpy(out, units.data(), units.size() * sizeof(char16_t));
  return s;
}

// A buffer as another module would build it: plain malloc, its own release
// routine, which counts its calls and records the text it released.
struct ForeignBuffers {
  static inline int released = 0;
  static inline std::vector<std::u16string> releasedTexts;

  static void Reset() {
    released = 0;
    releasedTexts.clear();
  }

  static void Release(MStringBuffer* buffer) {
    ++released;
    releasedTexts.emplace_back(buffer->Units(), buffer->length);
    std::memset(buffer, 0xDD, sizeof *buffer);  // a second release would then misbehave loudly
    std::free(buffer);
  }

  // One reference, start 0, handed over as across the binary interface.
  static MStringArg Make(std::u16string_view text, int32_t count = 1) {
    size_t bytes = sizeof(MStringBuffer) + (text.size() + 1) * sizeof(char16_t);
    auto* buffer = static_cast<MStringBuffer*>(std::malloc(bytes));
    buffer->count = count;
    buffer->length = static_cast<uint32_t>(text.size());
    buffer->release = &Release;
    if (!text.empty()) std::memcpy(buffer->Units(), text.data(), text.size() * sizeof(char16_t));
    buffer->Units()[text.size()] = 0;
    return MStringArg{buffer, 0};
  }
};

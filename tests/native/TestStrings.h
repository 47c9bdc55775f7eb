// Helpers of the foundation tests: readable MString values, strings with
// embedded NULs, and buffers from "another module" with a counting release.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/MString.h"

// "<null>", or the units with everything outside printable ASCII as \uXXXX.
inline std::string Show(const MString& s) {
  if (s.IsNull()) return "<null>";
  std::string out;
  char escaped[8];
  for (char16_t unit : s) {
    std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
    out += unit >= 0x20 && unit < 0x7F ? std::string(1, static_cast<char>(unit)) : escaped;
  }
  return out;
}
inline void PrintTo(const MString& s, std::ostream* os) {
  *os << '"' << Show(s) << '"';
}

// Exactly these units, NULs included; nullptr gives the null string.
inline MString Raw(std::u16string_view units) {
  char16_t* out = nullptr;
  MString s = MString::WithLength(static_cast<uint32_t>(units.size()), &out);
  if (!units.empty()) std::memcpy(out, units.data(), units.size() * sizeof(char16_t));
  return s;
}
inline MString Str(const char16_t* text) {
  return text == nullptr ? MString() : MString(text);
}

// Plain malloc and an own release routine that counts its calls and records the text.
struct ForeignBuffers {
  static inline std::vector<std::u16string> released;
  static void Release(MStringBuffer* buffer) {
    released.emplace_back(buffer->Units(), buffer->length);
    std::memset(buffer, 0xDD, sizeof *buffer);  // a second release would misbehave loudly
    std::free(buffer);
  }
  // Handed over as across the binary interface: `count` references, start 0.
  static MStringArg Make(std::u16string_view text, int32_t count = 1) {
    auto* buffer = static_cast<MStringBuffer*>(
        std::malloc(sizeof(MStringBuffer) + (text.size() + 1) * sizeof(char16_t)));
    *buffer = MStringBuffer{count, static_cast<uint32_t>(text.size()), &Release};
    std::memcpy(buffer->Units(), text.data(), text.size() * sizeof(char16_t));
    buffer->Units()[text.size()] = 0;
    return MStringArg{buffer, 0};
  }
};

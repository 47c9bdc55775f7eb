// UTF-8 decoding and the string operations on its result.
//
// Input layout: two bytes of byte budget (little-endian, capped to the text
// that follows), one byte of flags (bits 0-2: length of a character set, bit
// 3: span mode), the set's bytes, then the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "foundation/MString.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool InSet(char16_t unit, const char* set) {
  return unit != 0 && unit < 256 && std::strchr(set, static_cast<char>(unit)) != nullptr;
}

// Neither surrogates nor NULs: such text survives ToUtf8 and back unchanged.
bool RoundTrips(const MString& s) {
  for (char16_t u : s) {
    if (u == 0 || (u >= 0xD800 && u <= 0xDFFF)) return false;
  }
  return true;
}

void CheckUtf8RoundTrips(const MString& s) {
  std::string utf8 = ToUtf8(s);
  MString back = FromUtf8(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size());
  if (RoundTrips(s)) Check(Equals(back, s));

  std::unique_ptr<char[]> narrow = ToNarrow(s);
  uint32_t length = s.Length();
  for (uint32_t i = 0; i < length; ++i) Check(narrow[i] == static_cast<char>(s[i] & 0xFF));
  Check(narrow[length] == 0);
  Check(FromNarrow(narrow.get()).Length() == std::strlen(narrow.get()));
}

void CheckSpans(const MString& s, const char* set, SpanMode mode, uint32_t count) {
  MString excluding = SpanExcluding(s, set);
  for (char16_t u : excluding) Check(u != 0 && !InSet(u, set));
  MString including = SpanIncluding(s, set);
  for (char16_t u : including) Check(InSet(u, set));

  // Taking consumes the prefix in place: the rest still points into s.
  MString rest = s;
  MString prefix = TakeSpan(rest, set, mode);
  Check(prefix.Length() + rest.Length() == s.Length());
  Check(rest.Buffer() == s.Buffer() && rest.CStr() == s.CStr() + prefix.Length());
  Check(StartsWith(s, prefix) && EndsWith(s, rest) && Equals(prefix + rest, s));

  MString front = TakeFront(rest, count);
  Check(front.Length() ==
        (count < s.Length() - prefix.Length() ? count : s.Length() - prefix.Length()));
  Check(Equals(prefix + front + rest, s));

  MString suffix = FromLastOf(s, set);
  MString split = s;
  MString splitSuffix = SplitAtLast(split, set);
  Check(Equals(suffix, splitSuffix) && suffix.IsNull() == splitSuffix.IsNull());
  if (suffix.IsNull()) {
    Check(Equals(split, s));
  } else {
    Check(InSet(suffix[0], set) && EndsWith(s, suffix) && Equals(split + suffix, s));
  }

  // Replacing every match with itself changes nothing.
  if (!including.IsEmpty()) Check(Equals(ReplaceAll(s, including, including), s));
  MString joined = prefix;
  joined.JoinPath(u'.', rest);
  uint32_t parts = prefix.Length() + rest.Length();
  Check(joined.Length() + 1 >= parts && joined.Length() <= parts + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  size_t budget = data[0] | (data[1] << 8);
  uint8_t flags = data[2];
  size_t setLength = flags & 7;
  SpanMode mode = (flags & 8) != 0 ? SpanMode::Including : SpanMode::Excluding;
  data += 3;
  size -= 3;
  if (setLength > size) setLength = size;
  char set[8] = {};
  std::memcpy(set, data, setLength);
  data += setLength;
  size -= setLength;
  if (budget > size) budget = size;

  MString s = FromUtf8(data, budget);
  Check(!s.IsNull() && s.Length() <= budget && s.CStr()[s.Length()] == 0);

  // The same bytes as NUL-terminated text, in a block of exactly that size:
  // the unbounded overload must stop at the same place.
  std::unique_ptr<char[]> text(new char[budget + 1]);
  std::memcpy(text.get(), data, budget);
  text[budget] = 0;
  Check(Equals(FromUtf8(text.get()), s));

  CheckUtf8RoundTrips(s);
  CheckSpans(s, set, mode, budget % 7);

  MString lower = ToLowerAscii(s);
  Check(EqualsIgnoreAsciiCase(lower, s) && Equals(ToLowerAscii(lower), lower));
  uint32_t value = ParseUnsigned(s);
  Check(ParseUnsigned(FormatNumber(value, 10)) == value);
  Check(ParseUnsigned(FormatSignedNumber(static_cast<int32_t>(value), 10, value % 40)) ==
        (static_cast<int32_t>(value) < 0 ? 0 : value));
  return 0;
}

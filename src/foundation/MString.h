// Reference-counted UTF-16 strings shared across the Start boundary.
//
// An MString is a buffer pointer plus a start index. Copies share the buffer,
// consuming text from the front only raises the start, and anything that
// shortens from the back or appends builds a new buffer of the exact length.
// Every buffer names the routine that releases it, so a string made by the
// host and released by the library (or the other way round) goes back to the
// module that allocated it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct MStringBuffer;
using MStringReleaseRoutine = void (*)(MStringBuffer*);

// Shared heap block: 16 bytes of header, then length + 1 units (text and NUL).
struct MStringBuffer {
  int32_t count;
  uint32_t length;
  MStringReleaseRoutine release;

  char16_t* Units() { return reinterpret_cast<char16_t*>(this + 1); }
  const char16_t* Units() const { return reinterpret_cast<const char16_t*>(this + 1); }
};
static_assert(sizeof(MStringBuffer) == 16, "the buffer header is part of the binary interface");

// An MString in transit through a binary interface (shim operations, host
// callbacks). It is trivially copyable, so every compiler passes it the same
// way, and it carries one reference that the receiver takes over with
// MString::Adopt. Nobody releases it implicitly.
struct MStringArg {
  MStringBuffer* buffer;
  uint32_t start;
};

class MString {
 public:
  MString() noexcept = default;  // the null string
  // NUL-terminated text; a null pointer gives the null string.
  explicit MString(const char16_t* text);
  // The first `count` units (copying stops early at a NUL); count < 1 gives null.
  MString(const char16_t* units, int32_t count);
  MString(const MString& other) noexcept;
  MString(MString&& other) noexcept;
  ~MString();

  MString& operator=(const MString& other) noexcept;
  MString& operator=(MString&& other) noexcept;
  // Replaces the value; count < 1 reads up to the NUL, a null pointer gives null.
  void Assign(const char16_t* units, int32_t count);

  // Takes over the reference an MStringArg carries.
  static MString Adopt(MStringArg arg) noexcept;
  // A new reference for a receiver across a binary interface.
  MStringArg Give() const noexcept;

  // A buffer of `length` units, NUL-terminated, for the caller to fill.
  static MString WithLength(uint32_t length, char16_t** units);

  bool IsNull() const noexcept { return buffer_ == nullptr; }
  bool IsEmpty() const noexcept { return Length() == 0; }
  const char16_t* CStr() const noexcept;
  uint32_t Length() const noexcept;
  char16_t operator[](uint32_t index) const noexcept { return CStr()[index]; }
  // Units of the value as a plain range (empty for the null string).
  const char16_t* begin() const noexcept { return buffer_ ? CStr() : nullptr; }
  const char16_t* end() const noexcept { return buffer_ ? CStr() + Length() : nullptr; }

  MString& operator+=(const MString& tail);
  MString& JoinPath(char16_t separator, const MString& tail);

  // Raises the start by `count` units (clamped to the length).
  void Consume(uint32_t count) noexcept;

  MStringBuffer* Buffer() const noexcept { return buffer_; }
  uint32_t Start() const noexcept { return start_; }

 private:
  void ReleaseBuffer() noexcept;

  MStringBuffer* buffer_ = nullptr;
  uint32_t start_ = 0;
};
static_assert(sizeof(MString) == sizeof(MStringArg), "MString and MStringArg share one layout");

// The routine this module puts into the buffers it makes.
void ReleaseOwnMStringBuffer(MStringBuffer* buffer);

// Comparison: unit by unit, case-sensitive, no locale.
bool Equals(const MString& a, const MString& b) noexcept;
bool StartsWith(const MString& a, const MString& b) noexcept;
bool EndsWith(const MString& a, const MString& b) noexcept;
MString ToLowerAscii(const MString& a);
// Equals on the two lowered copies, without building them.
bool EqualsIgnoreAsciiCase(const MString& a, const MString& b) noexcept;

MString operator+(const MString& a, const MString& b);
MString ReplaceAll(const MString& s, const MString& from, const MString& to);
// base < 3: binary, 3..8: octal, 9..10: decimal, above: hexadecimal (upper case).
MString FormatNumber(uint32_t value, uint32_t base, uint32_t width = 0);
// The signed form: "-" before the magnitude of a negative value.
MString FormatSignedNumber(int32_t value, uint32_t base, uint32_t width = 0);
// Decodes at most `max` bytes, stopping at a NUL byte.
MString FromUtf8(const uint8_t* bytes, size_t max);
MString FromUtf8(const char* text);
// ASCII or Latin-1 text widened unit by unit.
MString FromNarrow(const char* text);
// UTF-8 for logs and consoles; a lone surrogate is written as U+FFFD.
std::string ToUtf8(const MString& a);
// Length + 1 bytes: the low 8 bits of each unit, then NUL.
std::unique_ptr<char[]> ToNarrow(const MString& a);
uint32_t ParseUnsigned(const MString& a) noexcept;

// Character sets are NUL-terminated narrow strings; only units below 256 can
// belong to a set, and a NUL unit always ends a scan.
MString SpanExcluding(const MString& a, const char* set);
MString SpanIncluding(const MString& a, const char* set);
enum class SpanMode { Excluding = 0, Including = 1 };
MString TakeSpan(MString& a, const char* set, SpanMode mode);
MString TakeFront(MString& a, uint32_t count);
// Suffix from the last unit in the set on; null when a is empty or no unit matches.
MString FromLastOf(const MString& a, const char* set);
// a keeps the part before the last set unit; the result is FromLastOf.
MString SplitAtLast(MString& a, const char* set);

// Convenience for literals in code and tests.
inline MString operator""_ms(const char16_t* text, size_t length) {
  return length == 0 ? MString(u"") : MString(text, static_cast<int32_t>(length));
}

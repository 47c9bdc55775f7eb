#include "MString.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

MStringBuffer* NewBuffer(uint32_t length) {
  // Header plus text plus NUL, rounded up to a multiple of 8 bytes.
  size_t bytes = sizeof(MStringBuffer) + (static_cast<size_t>(length) + 1) * sizeof(char16_t);
  bytes = (bytes + 7) & ~static_cast<size_t>(7);
  auto* buffer = static_cast<MStringBuffer*>(std::malloc(bytes));
  if (buffer == nullptr) std::abort();  // allocation failure is not recoverable here
  buffer->count = 1;
  buffer->length = length;
  buffer->release = &ReleaseOwnMStringBuffer;
  buffer->Units()[length] = 0;
  return buffer;
}

uint32_t LengthUpToNul(const char16_t* units, uint32_t limit) {
  uint32_t n = 0;
  while (n < limit && units[n] != 0) ++n;
  return n;
}

bool InSet(char16_t unit, const char* set) {
  if (unit == 0 || unit >= 256 || set == nullptr) return false;
  for (const char* p = set; *p != 0; ++p) {
    if (static_cast<unsigned char>(*p) == unit) return true;
  }
  return false;
}

// Units of the value before the first that the predicate rejects; a NUL
// unit always ends the scan.
template <typename Keep>
uint32_t Span(const MString& a, Keep keep) {
  const char16_t* units = a.CStr();
  uint32_t length = a.Length();
  uint32_t n = 0;
  while (n < length && units[n] != 0 && keep(units[n])) ++n;
  return n;
}

MString Copy(const char16_t* units, uint32_t length) {
  char16_t* out = nullptr;
  MString result = MString::WithLength(length, &out);
  if (length != 0) std::memcpy(out, units, length * sizeof(char16_t));
  return result;
}

}  // namespace

void ReleaseOwnMStringBuffer(MStringBuffer* buffer) { std::free(buffer); }

MString::MString(const char16_t* text) {
  if (text == nullptr) return;
  uint32_t length = LengthUpToNul(text, UINT32_MAX);
  *this = Copy(text, length);
}

MString::MString(const char16_t* units, int32_t count) {
  if (count < 1 || units == nullptr) return;
  *this = Copy(units, LengthUpToNul(units, static_cast<uint32_t>(count)));
}

MString::MString(const MString& other) noexcept : buffer_(other.buffer_), start_(other.start_) {
  if (buffer_ != nullptr) ++buffer_->count;
}

MString::MString(MString&& other) noexcept : buffer_(other.buffer_), start_(other.start_) {
  other.buffer_ = nullptr;
  other.start_ = 0;
}

MString::~MString() { ReleaseBuffer(); }

MString& MString::operator=(const MString& other) noexcept {
  // Reference the source first so that self-assignment is safe.
  if (other.buffer_ != nullptr) ++other.buffer_->count;
  MStringBuffer* source = other.buffer_;
  uint32_t start = other.start_;
  ReleaseBuffer();
  buffer_ = source;
  start_ = start;
  return *this;
}

MString& MString::operator=(MString&& other) noexcept {
  if (this != &other) {
    ReleaseBuffer();
    buffer_ = other.buffer_;
    start_ = other.start_;
    other.buffer_ = nullptr;
    other.start_ = 0;
  }
  return *this;
}

void MString::Assign(const char16_t* units, int32_t count) {
  if (units == nullptr) {
    ReleaseBuffer();
    return;
  }
  uint32_t limit = count < 1 ? UINT32_MAX : static_cast<uint32_t>(count);
  *this = Copy(units, LengthUpToNul(units, limit));
}

MString MString::Adopt(MStringArg arg) noexcept {
  MString result;
  result.buffer_ = arg.buffer;
  result.start_ = arg.buffer == nullptr ? 0 : arg.start;
  // A start past the end would make every later access read outside the
  // buffer; such a value is treated as fully consumed.
  if (result.buffer_ != nullptr && result.start_ > result.buffer_->length) {
    result.start_ = result.buffer_->length;
  }
  return result;
}

MStringArg MString::Give() const noexcept {
  if (buffer_ != nullptr) ++buffer_->count;
  return MStringArg{buffer_, start_};
}

MString MString::WithLength(uint32_t length, char16_t** units) {
  MString result;
  result.buffer_ = NewBuffer(length);
  *units = result.buffer_->Units();
  return result;
}

const char16_t* MString::CStr() const noexcept {
  return buffer_ == nullptr ? nullptr : buffer_->Units() + start_;
}

uint32_t MString::Length() const noexcept {
  return buffer_ == nullptr ? 0 : buffer_->length - start_;
}

MString& MString::operator+=(const MString& tail) {
  if (tail.IsNull()) return *this;
  uint32_t left = Length();
  uint32_t right = tail.Length();
  char16_t* out = nullptr;
  MString joined = WithLength(left + right, &out);
  if (left != 0) std::memcpy(out, CStr(), left * sizeof(char16_t));
  if (right != 0) std::memcpy(out + left, tail.CStr(), right * sizeof(char16_t));
  *this = std::move(joined);
  return *this;
}

MString& MString::JoinPath(char16_t separator, const MString& tail) {
  if (separator == 0 || tail.IsNull()) return *this;
  uint32_t left = Length();
  uint32_t right = tail.Length();
  const char16_t* r = tail.CStr();
  bool insert = false;
  if (left != 0 && right != 0) {
    bool leftHas = CStr()[left - 1] == separator;
    bool rightHas = r[0] == separator;
    if (leftHas && rightHas) {
      ++r;
      --right;
    } else if (!leftHas && !rightHas) {
      insert = true;
    }
  }
  char16_t* out = nullptr;
  MString joined = WithLength(left + right + (insert ? 1 : 0), &out);
  if (left != 0) std::memcpy(out, CStr(), left * sizeof(char16_t));
  if (insert) out[left] = separator;
  if (right != 0) std::memcpy(out + left + (insert ? 1 : 0), r, right * sizeof(char16_t));
  *this = std::move(joined);
  return *this;
}

void MString::Consume(uint32_t count) noexcept {
  uint32_t length = Length();
  start_ += count < length ? count : length;
}

void MString::ReleaseBuffer() noexcept {
  MStringBuffer* buffer = buffer_;
  buffer_ = nullptr;
  start_ = 0;
  if (buffer != nullptr && --buffer->count <= 0 && buffer->release != nullptr) {
    buffer->release(buffer);
  }
}

bool StartsWith(const MString& a, const MString& b) noexcept {
  uint32_t n = b.Length();
  if (n > a.Length()) return false;
  return n == 0 || std::memcmp(a.CStr(), b.CStr(), n * sizeof(char16_t)) == 0;
}

bool EndsWith(const MString& a, const MString& b) noexcept {
  uint32_t n = b.Length();
  uint32_t length = a.Length();
  if (n > length) return false;
  return n == 0 || std::memcmp(a.CStr() + (length - n), b.CStr(), n * sizeof(char16_t)) == 0;
}

bool Equals(const MString& a, const MString& b) noexcept {
  return a.Length() == b.Length() && StartsWith(a, b);
}

namespace {
char16_t LowerAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit;
}
}  // namespace

MString ToLowerAscii(const MString& a) {
  if (a.IsNull()) return MString();
  uint32_t length = a.Length();
  char16_t* out = nullptr;
  MString result = MString::WithLength(length, &out);
  const char16_t* in = a.CStr();
  for (uint32_t i = 0; i < length; ++i) out[i] = LowerAscii(in[i]);
  return result;
}

bool EqualsIgnoreAsciiCase(const MString& a, const MString& b) noexcept {
  uint32_t length = a.Length();
  if (length != b.Length()) return false;
  const char16_t* x = a.CStr();
  const char16_t* y = b.CStr();
  for (uint32_t i = 0; i < length; ++i) {
    if (LowerAscii(x[i]) != LowerAscii(y[i])) return false;
  }
  return true;
}

MString operator+(const MString& a, const MString& b) {
  MString result = a;
  result += b;
  return result;
}

MString ReplaceAll(const MString& s, const MString& from, const MString& to) {
  uint32_t length = s.Length();
  uint32_t fromLength = from.Length();
  if (fromLength == 0 || length == 0) return s;
  const char16_t* in = s.CStr();
  const char16_t* pattern = from.CStr();
  std::vector<char16_t> out;
  out.reserve(length);
  uint32_t i = 0;
  while (i < length) {
    if (in[i] == pattern[0] && length - i >= fromLength &&
        std::memcmp(in + i, pattern, fromLength * sizeof(char16_t)) == 0) {
      out.insert(out.end(), to.begin(), to.end());
      i += fromLength;
    } else {
      out.push_back(in[i]);
      ++i;
    }
  }
  return Copy(out.data(), static_cast<uint32_t>(out.size()));
}

namespace {
MString FormatMagnitude(uint32_t value, uint32_t base, uint32_t width, bool negative) {
  uint32_t radix = base < 3 ? 2 : base <= 8 ? 8 : base <= 10 ? 10 : 16;
  if (width > 32) width = 32;
  char16_t digits[33];
  uint32_t n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u"0123456789ABCDEF"[value % radix]);
    value /= radix;
  } while (value != 0);
  while (n < width) digits[n++] = u'0';
  uint32_t total = n + (negative ? 1 : 0);
  char16_t* out = nullptr;
  MString result = MString::WithLength(total, &out);
  uint32_t k = 0;
  if (negative) out[k++] = u'-';
  while (n != 0) out[k++] = digits[--n];
  return result;
}
}  // namespace

MString FormatNumber(uint32_t value, uint32_t base, uint32_t width) {
  return FormatMagnitude(value, base, width, false);
}

MString FormatSignedNumber(int32_t value, uint32_t base, uint32_t width) {
  if (value >= 0) return FormatMagnitude(static_cast<uint32_t>(value), base, width, false);
  return FormatMagnitude(0u - static_cast<uint32_t>(value), base, width, true);
}

MString FromUtf8(const uint8_t* bytes, size_t max) {
  if (bytes == nullptr) return MString();
  std::vector<char16_t> out;
  size_t i = 0;
  while (i < max && bytes[i] != 0) {
    uint8_t lead = bytes[i];
    size_t size = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    // A sequence cut short by the budget or by a NUL ends the text.
    if (size > max - i) break;
    // Stop at the first NUL: the bytes after it may not belong to the text.
    bool complete = true;
    for (size_t k = 1; k < size && complete; ++k) {
      if (bytes[i + k] == 0) complete = false;
    }
    if (!complete) break;
    char16_t unit;
    switch (size) {
      case 1:
        unit = lead;
        break;
      case 2:
        unit = static_cast<char16_t>(((lead & 0x1F) << 6) | (bytes[i + 1] & 0x3F));
        break;
      case 3:
        unit = static_cast<char16_t>(((lead & 0x0F) << 12) | ((bytes[i + 1] & 0x3F) << 6) |
                                     (bytes[i + 2] & 0x3F));
        break;
      default:
        unit = 0xFFFF;
        break;
    }
    out.push_back(unit);
    i += size;
  }
  return Copy(out.data(), static_cast<uint32_t>(out.size()));
}

MString FromUtf8(const char* text) {
  return FromUtf8(reinterpret_cast<const uint8_t*>(text), SIZE_MAX);
}

MString FromNarrow(const char* text) {
  if (text == nullptr) return MString();
  size_t length = std::strlen(text);
  char16_t* out = nullptr;
  MString result = MString::WithLength(static_cast<uint32_t>(length), &out);
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<unsigned char>(text[i]);
  return result;
}

std::string ToUtf8(const MString& a) {
  std::string out;
  uint32_t length = a.Length();
  const char16_t* in = a.CStr();
  out.reserve(length);
  for (uint32_t i = 0; i < length; ++i) {
    uint32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::unique_ptr<char[]> ToNarrow(const MString& a) {
  uint32_t length = a.Length();
  std::unique_ptr<char[]> out(new char[length + 1]);
  const char16_t* in = a.CStr();
  for (uint32_t i = 0; i < length; ++i) out[i] = static_cast<char>(in[i] & 0xFF);
  out[length] = 0;
  return out;
}

uint32_t ParseUnsigned(const MString& a) noexcept {
  uint32_t value = 0;
  for (char16_t unit : a) {
    if (unit < u'0' || unit > u'9') break;
    value = value * 10u + static_cast<uint32_t>(unit - u'0');
  }
  return value;
}

MString SpanExcluding(const MString& a, const char* set) {
  if (a.IsNull()) return MString();
  return Copy(a.CStr(), Span(a, [set](char16_t u) { return !InSet(u, set); }));
}

MString SpanIncluding(const MString& a, const char* set) {
  if (a.IsNull()) return MString();
  return Copy(a.CStr(), Span(a, [set](char16_t u) { return InSet(u, set); }));
}

MString TakeSpan(MString& a, const char* set, SpanMode mode) {
  MString prefix = mode == SpanMode::Including ? SpanIncluding(a, set) : SpanExcluding(a, set);
  a.Consume(prefix.Length());
  return prefix;
}

MString TakeFront(MString& a, uint32_t count) {
  if (a.IsNull()) return MString();
  uint32_t length = a.Length();
  if (count > length) count = length;
  MString front = Copy(a.CStr(), count);
  a.Consume(count);
  return front;
}

MString FromLastOf(const MString& a, const char* set) {
  uint32_t length = a.Length();
  const char16_t* units = a.CStr();
  for (uint32_t i = length; i-- > 0;) {
    if (InSet(units[i], set)) return Copy(units + i, length - i);
  }
  return MString();
}

MString SplitAtLast(MString& a, const char* set) {
  uint32_t length = a.Length();
  const char16_t* units = a.CStr();
  for (uint32_t i = length; i-- > 0;) {
    if (InSet(units[i], set)) {
      MString suffix = Copy(units + i, length - i);
      a = Copy(units, i);
      return suffix;
    }
  }
  return MString();
}

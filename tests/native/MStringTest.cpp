#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "TestStrings.h"

namespace {

using namespace std::literals;
constexpr const char* kNull = "<null>";

TEST(MStringBasics, NullEmptyConstructionAssignAndSharing) {
  MString null, empty(u"");
  EXPECT_TRUE(null.IsNull() && null.IsEmpty() && null.CStr() == nullptr &&
              null.begin() == null.end());
  EXPECT_TRUE(!empty.IsNull() && empty.IsEmpty() && empty.CStr() != nullptr &&
              empty.CStr()[0] == 0);
  EXPECT_TRUE(MString(static_cast<const char16_t*>(nullptr)).IsNull());
  // clang-format off
  const std::tuple<const char16_t*, int32_t, const char*> cases[] = {
      {u"abc", 3, "abc"}, {u"abc", 2, "ab"}, {u"abc", 1, "a"}, {u"abc", 0, kNull},
      {u"abc", -1, kNull}, {u"abc", INT32_MIN, kNull}, {u"a\0bc", 4, "a"}, {u"\0bc", 3, ""},
      {nullptr, 3, kNull}};
  // clang-format on
  for (const auto& [units, count, expected] : cases) {
    MString s(units, count);
    EXPECT_EQ(Show(s), expected) << count;
    if (!s.IsNull()) EXPECT_EQ(s.CStr()[s.Length()], 0) << "always NUL-terminated";
  }
  MString s(u"hello");  // Assign reads to the NUL for counts below 1, also from its own buffer
  s.Assign(u"wor\0ld", 0);
  EXPECT_EQ(Show(s), "wor");
  s.Assign(s.CStr() + 1, -5);
  EXPECT_EQ(Show(s), "or");
  s.Assign(u"xyz", 1);
  EXPECT_EQ(Show(s), "x");
  s.Assign(nullptr, 4);
  EXPECT_TRUE(s.IsNull());

  MString a(u"shared");
  MStringBuffer* buffer = a.Buffer();
  {
    MString b = a, c;
    c = b;
    EXPECT_EQ(c.Buffer(), buffer);
    EXPECT_EQ(buffer->count, 3);
  }
  MString& alias = a;
  a = alias;
  a = std::move(alias);
  EXPECT_EQ(a.Buffer(), buffer);
  EXPECT_EQ(buffer->count, 1);
  a.Consume(1);  // a moved-from string is null, its start back at 0
  MString moved = std::move(a), assigned;
  EXPECT_TRUE(a.IsNull() && a.Start() == 0u);  // NOLINT(bugprone-use-after-move)
  assigned = std::move(moved);
  EXPECT_TRUE(moved.IsNull() && moved.Start() == 0u);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(Show(assigned) + " " + std::to_string(buffer->count), "hared 1");
}

// Buffers from another module go back through their own routine, exactly once.
TEST(MStringForeign, ReleasedOnceAfterCopiesRoundTripsAndConsumption) {
  ForeignBuffers::released.clear();
  {
    MString s = MString::Adopt(ForeignBuffers::Make(u"C:\\dir\\file.dll")), copy = s, other(u"x");
    other = copy;
    MString back = MString::Adopt(MString::Adopt(s.Give()).Give());  // out and back, twice
    EXPECT_EQ(back.Buffer(), s.Buffer());
    EXPECT_EQ(s.Buffer()->count, 4);
    MString consumed = s;
    consumed.Consume(3);
    MStringArg arg = consumed.Give();
    EXPECT_EQ(arg.start, 3u);
    EXPECT_EQ(Show(MString::Adopt(arg)), "dir\\file.dll");
    MString suffix = SplitAtLast(consumed, ".");
    EXPECT_EQ(Show(consumed), "dir\\file");
    MString appended = MString::Adopt(s.Give());
    appended += u"!"_ms;
    EXPECT_EQ(appended.Buffer()->release, &ReleaseOwnMStringBuffer);
    s = MString();
    copy = u"replaced"_ms;
    MString moved = std::move(other);
    EXPECT_TRUE(ForeignBuffers::released.empty());
  }
  EXPECT_EQ(ForeignBuffers::released, std::vector<std::u16string>{u"C:\\dir\\file.dll"});
  // A count that falls to zero or below releases; no routine at all frees nothing.
  { MString s = MString::Adopt(ForeignBuffers::Make(u"zero", 0)); }
  EXPECT_EQ(ForeignBuffers::released.size(), 2u);
  MStringArg shared = ForeignBuffers::Make(u"two", 2);
  { MString s = MString::Adopt(shared); }
  EXPECT_EQ(ForeignBuffers::released.size(), 2u);
  { MString s = MString::Adopt(shared); }
  EXPECT_EQ(ForeignBuffers::released.size(), 3u);
  struct {
    MStringBuffer header{1, 2, nullptr};
    char16_t units[3] = {u'o', u'k', 0};
  } fixed;
  { MString s = MString::Adopt(MStringArg{&fixed.header, 0}); }
  EXPECT_EQ(fixed.header.count, 0);
  // A null arg, and a start past the end read as fully consumed.
  EXPECT_EQ(MString().Give().buffer, nullptr);
  MString adopted = MString::Adopt(MStringArg{nullptr, 7});
  EXPECT_TRUE(adopted.IsNull() && adopted.Start() == 0u);
  MString abc(u"abc");
  for (uint32_t start : {3u, 4u, 1000u}) {
    MStringArg arg = abc.Give();
    arg.start = start;
    MString clamped = MString::Adopt(arg);
    EXPECT_EQ(clamped.Length(), 0u);
    EXPECT_EQ(clamped.CStr(), abc.CStr() + 3);
  }
}

TEST(MStringCompare, EqualsStartsWithEndsWithAndAsciiCase) {
  // clang-format off
  // Equals, StartsWith, EndsWith.
  const std::tuple<const char16_t*, const char16_t*, bool, bool, bool> cases[] = {
      {u"abc", u"abc", 1, 1, 1}, {u"abc", u"ab", 0, 1, 0}, {u"abc", u"bc", 0, 0, 1},
      {u"ab", u"abc", 0, 0, 0}, {u"abc", u"", 0, 1, 1}, {u"abc", nullptr, 0, 1, 1},
      {u"", nullptr, 1, 1, 1}, {nullptr, nullptr, 1, 1, 1}, {nullptr, u"a", 0, 0, 0},
      {u"ABC", u"abc", 0, 0, 0}, {u"\u0141", u"A", 0, 0, 0} /* same low byte */,
      {u"\u4E2D\u6587", u"\u6587", 0, 0, 1}, {u"xbc", u"abc", 0, 0, 0}};
  // clang-format on
  for (const auto& [a, b, equals, startsWith, endsWith] : cases) {
    SCOPED_TRACE(Show(Str(a)) + " / " + Show(Str(b)));
    EXPECT_EQ(Equals(Str(a), Str(b)), equals);
    EXPECT_EQ(StartsWith(Str(a), Str(b)), startsWith);
    EXPECT_EQ(EndsWith(Str(a), Str(b)), endsWith);
  }
  MString consumed(u"xxabc");
  consumed.Consume(2);
  EXPECT_TRUE(Equals(consumed, u"abc"_ms));
  consumed.Consume(100);
  EXPECT_TRUE(Equals(consumed, u""_ms));
  // '@' and '[' border A-Z; U+00C0 and U+0141 are upper case outside ASCII.
  EXPECT_EQ(Show(ToLowerAscii(u"@AZ[az`{\u00C0\u0141 Hello"_ms)), "@az[az`{\\u00C0\\u0141 hello");
  EXPECT_TRUE(ToLowerAscii(MString()).IsNull());
  EXPECT_EQ(Show(ToLowerAscii(u""_ms)), "");
  EXPECT_TRUE(EqualsIgnoreAsciiCase(u"Glint.DLL"_ms, u"gLINT.dll"_ms));
  EXPECT_TRUE(EqualsIgnoreAsciiCase(u"@Z["_ms, u"@z["_ms));
  for (auto [a, b] : {std::pair{u"\u00C0", u"\u00E0"},
                      {u"@", u"`"},
                      {u"ab", u"abc"},
                      {u"[", u"{"},
                      {u"ab", u"ac"}}) {
    EXPECT_FALSE(EqualsIgnoreAsciiCase(MString(a), MString(b))) << Show(MString(a));
  }
}

TEST(MStringBuild, AppendJoinPathAndReplaceAll) {
  MString a(u"ab"), keep = a;
  a += u"cd"_ms;
  EXPECT_EQ(Show(a) + Show(keep), "abcdab");  // the shared buffer is left alone
  MStringBuffer* before = a.Buffer();
  a += MString();
  EXPECT_EQ(a.Buffer(), before);  // a null tail changes nothing
  MString null;
  null += MString();
  EXPECT_TRUE(null.IsNull());
  null += u""_ms;
  EXPECT_FALSE(null.IsNull());  // a null string becomes empty first
  MString consumed(u"--xy");
  consumed.Consume(2);
  consumed += consumed;
  EXPECT_EQ(Show(consumed + u"!"_ms), "xyxy!");
  // clang-format off
  const std::tuple<const char16_t*, char16_t, const char16_t*, const char*> joins[] = {
      {u"C:\\a\\", u'\\', u"\\b", "C:\\a\\b"} /* one dropped */,
      {u"C:\\a", u'\\', u"b", "C:\\a\\b"} /* inserted */, {u"C:\\a\\", u'\\', u"b", "C:\\a\\b"},
      {u"C:\\a", u'\\', u"\\b", "C:\\a\\b"}, {u"", u'\\', u"b", "b"}, {nullptr, u'\\', u"b", "b"},
      {u"a", u'\\', u"", "a"}, {u"", u'\\', u"\\b", "\\b"}, {u"a\\", u'\\', u"\\", "a\\"},
      {u"C:\\a", u'\\', nullptr, "C:\\a"}, {u"a", 0, u"b", "a"}, {nullptr, u'/', nullptr, kNull},
      {u"a\\", u'/', u"b", "a\\/b"}};
  // clang-format on
  for (const auto& [left, separator, right, expected] : joins) {
    MString s = Str(left);
    s.JoinPath(separator, Str(right));
    EXPECT_EQ(Show(s), expected) << Show(Str(left)) << " + " << Show(Str(right));
  }
  MString self(u"x");
  self.JoinPath(u'/', self);
  EXPECT_EQ(Show(self), "x/x");
  // Every non-overlapping occurrence, left to right; replacements are not scanned again.
  // clang-format off
  const std::tuple<const char16_t*, const char16_t*, const char16_t*, const char*> replaces[] = {
      {u"a&amp;b", u"&amp;", u"&", "a&b"}, {u"aaa", u"aa", u"b", "ba"}, {u"aaaa", u"aa", u"b", "bb"},
      {u"xab", u"ab", u"abab", "xabab"}, {u"ab", u"abc", u"X", "ab"}, {u"abab", u"ab", nullptr, ""},
      {u"abc", u"", u"X", "abc"}, {u"abc", nullptr, u"X", "abc"}, {u"", u"a", u"X", ""},
      {nullptr, u"a", u"X", kNull}, {u"ba", u"ab", u"X", "ba"},
      {u"\u4E2D\u6587\u4E2D", u"\u4E2D", u"\u0100", "\\u0100\\u6587\\u0100"},
      {u"\u0161a", u"a", u"b", "\\u0161b"},
      {u"\uFFFF\uFFFF", u"\uFFFF", u"\xD800\xDC00", "\\uD800\\uDC00\\uD800\\uDC00"}};
  // clang-format on
  for (const auto& [s, from, to, expected] : replaces) {
    EXPECT_EQ(Show(ReplaceAll(Str(s), Str(from), Str(to))), expected)
        << Show(Str(s)) << " " << Show(Str(from));
  }
  MString amp(u"&amp;x&amp;");
  amp.Consume(5);
  EXPECT_EQ(Show(ReplaceAll(amp, u"&amp;"_ms, u"&"_ms)), "x&");
}

TEST(MStringNumbers, FormatAndParse) {
  // clang-format off
  // value, base, width, text
  const std::tuple<int64_t, uint32_t, uint32_t, const char*> unsignedCases[] = {
      {0, 10, 0, "0"}, {0, 16, 5, "00000"}, {255, 16, 0, "FF"}, {255, 16, 4, "00FF"},
      {255, 16, 1, "FF"}, {5, 2, 0, "101"}, {8, 3, 0, "10"}, {8, 8, 0, "10"}, {8, 9, 0, "8"},
      {10, 10, 0, "10"}, {10, 11, 0, "A"}, {48879, 1000, 0, "BEEF"},
      {UINT32_MAX, 2, 0, "11111111111111111111111111111111"}, {UINT32_MAX, 8, 0, "37777777777"},
      {UINT32_MAX, 10, 0, "4294967295"}, {UINT32_MAX, 16, 0, "FFFFFFFF"},
      {1, 10, 33, "00000000000000000000000000000001"} /* width at most 32 */,
      {UINT32_MAX, 2, UINT32_MAX, "11111111111111111111111111111111"}};
  const std::tuple<int64_t, uint32_t, uint32_t, const char*> signedCases[] = {
      {-5, 10, 0, "-5"}, {0, 10, 0, "0"}, {-1, 16, 0, "-1"}, {-5, 10, 3, "-005"},
      {INT32_MAX, 10, 0, "2147483647"}, {INT32_MIN, 10, 0, "-2147483648"},
      {INT32_MIN, 16, 0, "-80000000"}, {INT32_MIN, 2, 40, "-10000000000000000000000000000000"},
      {-1, 2, 32, "-00000000000000000000000000000001"}};
  const std::pair<std::u16string_view, uint32_t> parses[] = {{u"34.0", 34}, {u"", 0}, {u"007", 7},
      {u" 7", 0}, {u"-1", 0}, {u"9:", 9}, {u"12/3", 12}, {u"\uFF11", 0}, {u"12\0" u"34"sv, 12},
      {u"4294967295", UINT32_MAX}, {u"4294967296", 0}, {u"4294967297", 1}};
  // clang-format on
  for (const auto& [value, base, width, expected] : unsignedCases) {
    EXPECT_EQ(Show(FormatNumber(static_cast<uint32_t>(value), base, width)), expected)
        << value << " " << base;
  }
  for (const auto& [value, base, width, expected] : signedCases) {
    EXPECT_EQ(Show(FormatSignedNumber(static_cast<int32_t>(value), base, width)), expected)
        << value << " " << base;
  }
  for (const auto& [text, expected] : parses)
    EXPECT_EQ(ParseUnsigned(Raw(text)), expected) << Show(Raw(text));
  EXPECT_EQ(ParseUnsigned(MString()), 0u);
}

TEST(MStringText, Utf8AndNarrow) {
  // Decoding stops at the budget and at a NUL; an exact-size copy catches reads beyond.
  // clang-format off
  const std::tuple<std::string_view, size_t, std::u16string_view> decodes[] = {
      {"\xC3\xA9"sv, 2, u"\u00E9"sv}, {"\xE4\xB8\xAD"sv, 3, u"\u4E2D"sv},
      {"\xF0\x9F\x98\x80"sv, 4, u"\uFFFF"sv}, {"\xFF\x80\x80\x80z"sv, 5, u"\uFFFFz"sv},
      {"\xED\xA0\x80"sv, 3, u"\xD800"sv}, {"\x7F\xDF\xBF"sv, 3, u"\x7F\u07FF"sv},
      {"a\xC3\xA9"sv, 2, u"a"sv}, {"a\xF0\x9F\x98\x80"sv, 4, u"a"sv}, {"\xC3\x00\x41"sv, 3, u""sv},
      {"ab\0cd"sv, 5, u"ab"sv}, {"abc"sv, 0, u""sv}, {"\xEF\xBF\xBF"sv, 3, u"\uFFFF"sv}};
  const std::pair<std::u16string_view, std::string_view> encodes[] = {
      {u"A\u00E9\u4E2D", "A\xC3\xA9\xE4\xB8\xAD"}, {u"\u007F\u0080", "\x7F\xC2\x80"},
      {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"}, {u"\uFFFF", "\xEF\xBF\xBF"},
      {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"}, {u"\xD800\xDC00", "\xF0\x90\x80\x80"},
      {u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF"}, {u"\xD83D", "\xEF\xBF\xBD"},
      {u"\xD83Dx", "\xEF\xBF\xBDx"}, {u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {u"\xD800\xE000", "\xEF\xBF\xBD\xEE\x80\x80"}};
  // clang-format on
  for (const auto& [utf8, max, expected] : decodes) {
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[utf8.size()]);
    std::memcpy(bytes.get(), utf8.data(), utf8.size());
    EXPECT_EQ(Show(FromUtf8(bytes.get(), max)), Show(Raw(expected))) << "budget " << max;
  }
  EXPECT_TRUE(FromUtf8(nullptr, 10).IsNull() &&
              FromUtf8(static_cast<const char*>(nullptr)).IsNull());
  // NUL-terminated text has no budget: a lead byte before the NUL must not read past it.
  for (const auto& [lead, size] : {std::pair<uint8_t, size_t>{0xC3, 2}, {0xE4, 3}, {0xF0, 4}}) {
    for (size_t tail = 0; tail + 1 < size; ++tail) {
      std::unique_ptr<char[]> text(new char[tail + 2]);
      text[0] = static_cast<char>(lead);
      std::memset(text.get() + 1, 0x80, tail);
      text[tail + 1] = 0;
      EXPECT_EQ(Show(FromUtf8(text.get())), "") << int{lead} << " + " << tail;
    }
  }
  for (const auto& [units, utf8] : encodes) EXPECT_EQ(ToUtf8(Raw(units)), utf8) << Show(Raw(units));
  EXPECT_EQ(ToUtf8(MString()), "");
  // Narrow: the low eight bits of each unit, then a NUL.
  std::unique_ptr<char[]> narrow = ToNarrow(Raw(u"A\u0141\u00E9\u0100z"));
  EXPECT_EQ(std::memcmp(narrow.get(), "AA\xE9\0z\0", 6), 0);
  EXPECT_EQ(ToNarrow(MString())[0], 0);
  EXPECT_EQ(Show(FromNarrow("caf\xE9")), "caf\\u00E9");
  EXPECT_TRUE(FromNarrow(nullptr).IsNull());
}

TEST(MStringSets, SpansTakingFromTheFrontAndTheLastOfASet) {
  // clang-format off
  // text, set, excluding, including
  const std::tuple<std::u16string_view, const char*, const char*, const char*> spans[] = {
      {u"key=value", "=", "key", ""}, {u"  x", " \t", "", "  "}, {u"abc", "", "abc", ""},
      {u"abc", nullptr, "abc", ""}, {u"", "a", "", ""},
      {u"aa\u0161a", "a", "", "aa"} /* units >= 256 never belong */,
      {u"\u0161a", "a", "\\u0161", ""},
      {u"\u00E9\uFFE9", "\xE9", "", "\\u00E9"} /* set bytes are unsigned */,
      {u"ab\0cd"sv, ";", "ab", ""}, {u"aa\0aa"sv, "a", "", "aa"} /* a NUL unit ends the scan */,
      {u"\u00FF\u0100", "\xFF", "", "\\u00FF"}};
  const std::tuple<const char16_t*, const char*, const char*> lasts[] = {
      {u"player.exe", ".", ".exe"}, {u"a.b.c", ".", ".c"}, {u"abc.", ".", "."},
      {u".abc", ".", ".abc"}, {u"C:\\d/e\\f", "\\/", "\\f"}, {u"abc", ".", kNull},
      {u"", ".", kNull}, {nullptr, ".", kNull}, {u"a.b", nullptr, kNull},
      {u"a.\u012E", ".", ".\\u012E"}};
  // clang-format on
  for (const auto& [text, set, excluding, including] : spans) {
    EXPECT_EQ(Show(SpanExcluding(Raw(text), set)), excluding) << Show(Raw(text));
    EXPECT_EQ(Show(SpanIncluding(Raw(text), set)), including) << Show(Raw(text));
  }
  EXPECT_TRUE(SpanExcluding(MString(), "a").IsNull() && SpanIncluding(MString(), "a").IsNull());
  MString a(u"name value;");  // taking consumes the prefix without copying the rest
  const char16_t* origin = a.CStr();
  EXPECT_EQ(Show(TakeSpan(a, " ", SpanMode::Excluding)), "name");
  EXPECT_EQ(Show(TakeSpan(a, " ", SpanMode::Including)), " ");
  EXPECT_EQ(Show(TakeSpan(a, ";", SpanMode::Including)), "");
  EXPECT_EQ(a.CStr(), origin + 5);
  EXPECT_EQ(Show(TakeFront(a, 0)) + "|" + Show(TakeFront(a, 2)), "|va");
  EXPECT_EQ(Show(TakeFront(a, UINT32_MAX)), "lue;");
  EXPECT_EQ(Show(TakeFront(a, 1)), "");
  EXPECT_TRUE(a.IsEmpty() && !a.IsNull() && a.CStr() == origin + 11);
  MString null;
  EXPECT_TRUE(TakeSpan(null, "x", SpanMode::Excluding).IsNull() && TakeFront(null, 3).IsNull() &&
              null.IsNull());

  for (const auto& [text, set, expected] : lasts)
    EXPECT_EQ(Show(FromLastOf(Str(text), set)), expected) << Show(Str(text));
  MString path(u"C:\\dir\\file.dll"), plain(u"file"), leading(u".dll");
  EXPECT_EQ(Show(SplitAtLast(path, ".")), ".dll");
  EXPECT_EQ(Show(path), "C:\\dir\\file");
  EXPECT_EQ(path.CStr()[path.Length()], 0);
  MStringBuffer* buffer = plain.Buffer();
  EXPECT_TRUE(SplitAtLast(plain, ".").IsNull());
  EXPECT_EQ(plain.Buffer(), buffer);  // no match: untouched
  EXPECT_EQ(Show(SplitAtLast(leading, ".")), ".dll");
  EXPECT_EQ(Show(leading), "");
}

}  // namespace

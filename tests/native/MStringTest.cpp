#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string_view>
#include <tuple>
#include <utility>

#include "TestStrings.h"

namespace {

using namespace std::literals;

// Marks "the null string" in tables of expected values.
constexpr const char* kNull = "<null>";

MString Str(const char16_t* text) {
  return text == nullptr ? MString() : MString(text);
}

// ---------------------------------------------------------------------------
// Null, empty, construction and sharing

TEST(MStringBasics, NullAndEmptyDiffer) {
  MString null;
  EXPECT_TRUE(null.IsNull() && null.IsEmpty());
  EXPECT_EQ(null.CStr(), nullptr);
  EXPECT_EQ(null.begin(), null.end());
  MString empty(u"");
  EXPECT_TRUE(!empty.IsNull() && empty.IsEmpty());
  ASSERT_NE(empty.CStr(), nullptr);
  EXPECT_EQ(empty.CStr()[0], 0);
  EXPECT_TRUE(MString(static_cast<const char16_t*>(nullptr)).IsNull());
}

TEST(MStringBasics, ConstructFromUnitsAndCount) {
  const std::tuple<const char16_t*, int32_t, const char*> cases[] = {
      {u"abc", 3, "abc"},         {u"abc", 2, "ab"},  {u"abc", 0, kNull}, {u"abc", -1, kNull},
      {u"abc", INT32_MIN, kNull}, {u"a\0bc", 4, "a"}, {u"\0bc", 3, ""},   {nullptr, 3, kNull}};
  for (const auto& [units, count, expected] : cases) {
    MString s(units, count);
    EXPECT_EQ(Show(s), expected) << "count " << count;
    if (!s.IsNull()) EXPECT_EQ(s.CStr()[s.Length()], 0) << "always NUL-terminated";
  }
}

TEST(MStringBasics, AssignReadsToNulForNonPositiveCountAndAcceptsItsOwnUnits) {
  MString s(u"hello");
  s.Assign(u"wor\0ld", 0);
  EXPECT_EQ(Show(s), "wor");
  s.Assign(s.CStr() + 1, -5);  // the source may lie in the string's own buffer
  EXPECT_EQ(Show(s), "or");
  s.Assign(nullptr, 4);
  EXPECT_TRUE(s.IsNull());
}

TEST(MStringBasics, CopiesShareTheBufferAndSelfAssignmentKeepsIt) {
  MString a(u"shared");
  MStringBuffer* buffer = a.Buffer();
  {
    MString b = a;
    MString c;
    c = b;
    EXPECT_EQ(c.Buffer(), buffer);
    EXPECT_EQ(buffer->count, 3);
  }
  EXPECT_EQ(buffer->count, 1);
  MString& alias = a;
  a = alias;
  a = std::move(alias);
  EXPECT_EQ(a.Buffer(), buffer);
  EXPECT_EQ(buffer->count, 1);
  MString moved = std::move(a);
  EXPECT_TRUE(a.IsNull());  // NOLINT(bugprone-use-after-move): moved-from is null
  EXPECT_EQ(buffer->count, 1);
}

// ---------------------------------------------------------------------------
// Buffers from another module go back through their own routine, once

class ForeignBufferTest : public ::testing::Test {
 protected:
  void SetUp() override { ForeignBuffers::Reset(); }
};

TEST_F(ForeignBufferTest, ReleasedExactlyOnceAfterCopiesRoundTripsAndConsumption) {
  {
    MString s = MString::Adopt(ForeignBuffers::Make(u"C:\\dir\\file.dll"));
    MString copy = s;
    MString other(u"x");
    other = copy;
    // Out through the binary interface and back, twice over.
    MString back = MString::Adopt(MString::Adopt(s.Give()).Give());
    EXPECT_EQ(back.Buffer(), s.Buffer());
    EXPECT_EQ(s.Buffer()->count, 4);

    MString consumed = s;
    consumed.Consume(3);
    MStringArg arg = consumed.Give();
    EXPECT_EQ(arg.start, 3u);
    MString adopted = MString::Adopt(arg);
    EXPECT_EQ(Show(adopted), "dir\\file.dll");
    MString suffix = SplitAtLast(consumed, ".");
    EXPECT_EQ(Show(consumed), "dir\\file");

    MString appended = MString::Adopt(s.Give());
    appended += u"!"_ms;
    EXPECT_EQ(appended.Buffer()->release, &ReleaseOwnMStringBuffer);
    s = MString();
    copy = u"replaced"_ms;
    MString moved = std::move(other);
    EXPECT_EQ(ForeignBuffers::released, 0);
  }
  EXPECT_EQ(ForeignBuffers::released, 1);
  EXPECT_EQ(ForeignBuffers::releasedTexts, std::vector<std::u16string>{u"C:\\dir\\file.dll"});
}

TEST_F(ForeignBufferTest, ReleasedWhenTheCountFallsToZeroOrBelow) {
  // A peer that hands over a buffer with no reference left still gets it back.
  { MString s = MString::Adopt(ForeignBuffers::Make(u"zero", 0)); }
  EXPECT_EQ(ForeignBuffers::released, 1);
  MStringArg shared = ForeignBuffers::Make(u"two", 2);
  { MString s = MString::Adopt(shared); }
  EXPECT_EQ(ForeignBuffers::released, 1);  // the other owner still holds it
  { MString s = MString::Adopt(shared); }
  EXPECT_EQ(ForeignBuffers::released, 2);

  // No routine at all: a static buffer, never freed.
  struct {
    MStringBuffer header{1, 2, nullptr};
    char16_t units[3] = {u'o', u'k', 0};
  } fixed;
  { MString s = MString::Adopt(MStringArg{&fixed.header, 0}); }
  EXPECT_EQ(fixed.header.count, 0);
}

TEST(MStringAdopt, NullArgAndStartPastTheEnd) {
  EXPECT_EQ(MString().Give().buffer, nullptr);
  MString adopted = MString::Adopt(MStringArg{nullptr, 7});
  EXPECT_TRUE(adopted.IsNull());
  EXPECT_EQ(adopted.Start(), 0u);

  // A start beyond the length would read outside the buffer: treated as consumed.
  MString s(u"abc");
  MStringArg arg = s.Give();
  arg.start = 1000;
  MString clamped = MString::Adopt(arg);
  EXPECT_EQ(clamped.Length(), 0u);
  EXPECT_EQ(clamped.CStr(), s.CStr() + 3);
}

// ---------------------------------------------------------------------------
// Comparison

TEST(MStringCompare, EqualsStartsWithEndsWith) {
  // a, b, Equals, StartsWith, EndsWith
  const std::tuple<const char16_t*, const char16_t*, bool, bool, bool> cases[] = {
      {u"abc", u"abc", true, true, true},
      {u"abc", u"ab", false, true, false},
      {u"abc", u"bc", false, false, true},
      {u"ab", u"abc", false, false, false},
      {u"abc", u"", false, true, true},
      {u"abc", nullptr, false, true, true},
      {u"", nullptr, true, true, true},
      {nullptr, nullptr, true, true, true},
      {nullptr, u"a", false, false, false},
      {u"ABC", u"abc", false, false, false},
      {u"\u0141", u"A", false, false, false},  // same low byte
      {u"\u4E2D\u6587", u"\u6587", false, false, true}};
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
}

TEST(MStringCompare, ToLowerAsciiLowersOnlyAToZ) {
  // '@' and '[' border A-Z; U+00C0 and U+0141 are upper case outside ASCII.
  EXPECT_EQ(Show(ToLowerAscii(u"@AZ[az`{\u00C0\u0141 Hello"_ms)), "@az[az`{\\u00C0\\u0141 hello");
  EXPECT_TRUE(ToLowerAscii(MString()).IsNull());
  EXPECT_EQ(Show(ToLowerAscii(u""_ms)), "");
  EXPECT_FALSE(Equals(u"ABC"_ms, u"abc"_ms));
  EXPECT_TRUE(Equals(ToLowerAscii(u"ABC"_ms), ToLowerAscii(u"abc"_ms)));
  EXPECT_TRUE(EqualsIgnoreAsciiCase(u"Glint.DLL"_ms, u"gLINT.dll"_ms));
  EXPECT_FALSE(EqualsIgnoreAsciiCase(u"\u00C0"_ms, u"\u00E0"_ms));
  EXPECT_FALSE(EqualsIgnoreAsciiCase(u"@"_ms, u"`"_ms));
  EXPECT_FALSE(EqualsIgnoreAsciiCase(u"ab"_ms, u"abc"_ms));
}

// ---------------------------------------------------------------------------
// Building strings

TEST(MStringAppend, BuildsANewBufferAndHandlesNullSides) {
  MString a(u"ab");
  MString keep = a;
  a += u"cd"_ms;
  EXPECT_EQ(Show(a), "abcd");
  EXPECT_EQ(Show(keep), "ab");  // the shared buffer is left alone
  MStringBuffer* before = a.Buffer();
  a += MString();
  EXPECT_EQ(a.Buffer(), before);  // a null argument changes nothing

  MString null;
  null += MString();
  EXPECT_TRUE(null.IsNull());
  null += u""_ms;
  EXPECT_FALSE(null.IsNull());  // null this becomes empty first

  MString consumed(u"--xy");
  consumed.Consume(2);
  consumed += consumed;
  EXPECT_EQ(Show(consumed), "xyxy");
}

TEST(MStringAppend, JoinPathPutsExactlyOneSeparatorBetweenParts) {
  // clang-format off
  const std::tuple<const char16_t*, char16_t, const char16_t*, const char*> cases[] = {
      {u"C:\\a\\", u'\\', u"\\b", "C:\\a\\b"},  // both carry it: one dropped
      {u"C:\\a",   u'\\', u"b",   "C:\\a\\b"},  // neither: inserted
      {u"C:\\a\\", u'\\', u"b",   "C:\\a\\b"},
      {u"C:\\a",   u'\\', u"\\b", "C:\\a\\b"},
      {u"",        u'\\', u"b",   "b"},         // an empty side: no separator
      {nullptr,    u'\\', u"b",   "b"},
      {u"a",       u'\\', u"",    "a"},
      {u"",        u'\\', u"\\b", "\\b"},
      {u"a\\",     u'\\', u"\\",  "a\\"},
      {u"C:\\a",   u'\\', nullptr, "C:\\a"},    // null tail or zero separator: unchanged
      {u"a",       0,     u"b",   "a"},
      {nullptr,    u'/',  nullptr, kNull},
      {u"a\\",     u'/',  u"b",   "a\\/b"}};
  // clang-format on
  for (const auto& [left, separator, right, expected] : cases) {
    MString s = Str(left);
    s.JoinPath(separator, Str(right));
    EXPECT_EQ(Show(s), expected) << Show(Str(left)) << " + " << Show(Str(right));
  }
  MString self(u"x");
  self.JoinPath(u'/', self);
  EXPECT_EQ(Show(self), "x/x");
}

TEST(MStringReplace, ReplacesEveryNonOverlappingOccurrenceLeftToRight) {
  // clang-format off
  const std::tuple<const char16_t*, const char16_t*, const char16_t*, const char*> cases[] = {
      {u"a&amp;b",     u"&amp;", u"&",    "a&b"},
      {u"&amp;&amp;",  u"&amp;", u"&",    "&&"},
      {u"aaa",         u"aa",    u"b",    "ba"},
      {u"aaaa",        u"aa",    u"b",    "bb"},
      {u"xab",         u"ab",    u"abab", "xabab"},  // replacements are not scanned again
      {u"aba",         u"ab",    u"X",    "Xa"},
      {u"ab",          u"abc",   u"X",    "ab"},     // pattern longer than the text
      {u"abab",        u"ab",    nullptr, ""},
      {u"abc",         u"",      u"X",    "abc"},
      {u"abc",         nullptr,  u"X",    "abc"},
      {u"",            u"a",     u"X",    ""},
      {nullptr,        u"a",     u"X",    kNull},
      {u"\u4E2D\u6587\u4E2D", u"\u4E2D", u"\u0100", "\\u0100\\u6587\\u0100"},
      {u"\u0161a",     u"a",     u"b",    "\\u0161b"},  // U+0161 has the low byte of 'a'
      {u"\uFFFF\uFFFF", u"\uFFFF", u"\xD800\xDC00", "\\uD800\\uDC00\\uD800\\uDC00"}};
  // clang-format on
  for (const auto& [s, from, to, expected] : cases) {
    EXPECT_EQ(Show(ReplaceAll(Str(s), Str(from), Str(to))), expected)
        << Show(Str(s)) << ": " << Show(Str(from)) << " -> " << Show(Str(to));
  }
  MString consumed(u"&amp;x&amp;");
  consumed.Consume(5);
  EXPECT_EQ(Show(ReplaceAll(consumed, u"&amp;"_ms, u"&"_ms)), "x&");
}

// ---------------------------------------------------------------------------
// Numbers

struct NumberCase {
  int64_t value;
  uint32_t base, width;
  const char* expected;
};

TEST(MStringNumbers, FormatNumberBasesAndWidths) {
  // clang-format off
  const NumberCase cases[] = {
      {0, 10, 0, "0"},     {0, 2, 0, "0"},      {0, 16, 5, "00000"},  {255, 16, 0, "FF"},
      {255, 16, 4, "00FF"}, {255, 16, 1, "FF"},  // never truncated
      {5, 0, 0, "101"},    {5, 2, 0, "101"},    {8, 3, 0, "10"},      {8, 8, 0, "10"},
      {8, 9, 0, "8"},      {10, 10, 0, "10"},   {10, 11, 0, "A"},     {48879, 1000, 0, "BEEF"},
      {UINT32_MAX, 2, 0, "11111111111111111111111111111111"},
      {UINT32_MAX, 8, 0, "37777777777"},  {UINT32_MAX, 10, 0, "4294967295"},
      {UINT32_MAX, 16, 0, "FFFFFFFF"},
      {1, 10, 33, "00000000000000000000000000000001"},  // width clamped to 32
      {UINT32_MAX, 2, UINT32_MAX, "11111111111111111111111111111111"}};
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(Show(FormatNumber(static_cast<uint32_t>(c.value), c.base, c.width)), c.expected)
        << c.value << " base " << c.base << " width " << c.width;
  }
}

TEST(MStringNumbers, FormatSignedNumberPutsTheSignBeforeTheMagnitude) {
  // clang-format off
  const NumberCase cases[] = {
      {-5, 10, 0, "-5"},   {5, 10, 0, "5"},     {0, 10, 0, "0"},      {-1, 16, 0, "-1"},
      {-5, 10, 3, "-005"}, {INT32_MAX, 10, 0, "2147483647"},    {INT32_MIN, 10, 0, "-2147483648"},
      {INT32_MIN, 16, 0, "-80000000"},        {INT32_MIN, 8, 0, "-20000000000"},
      {INT32_MIN, 2, 40, "-10000000000000000000000000000000"},
      {-1, 2, 32, "-00000000000000000000000000000001"}};
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(Show(FormatSignedNumber(static_cast<int32_t>(c.value), c.base, c.width)), c.expected)
        << c.value << " base " << c.base << " width " << c.width;
  }
}

TEST(MStringNumbers, ParseUnsignedTakesLeadingDigitsAndWraps) {
  // clang-format off
  const std::pair<std::u16string_view, uint32_t> cases[] = {
      {u"34.0", 34},  {u"abc", 0},  {u"", 0},  {u"007", 7},  {u" 7", 0},  {u"-1", 0},
      {u"9:", 9},  {u"12/3", 12},  {u"\uFF11", 0},  {u"12\0" u"34"sv, 12},
      {u"4294967295", UINT32_MAX},  {u"4294967296", 0},  {u"4294967297", 1}};
  // clang-format on
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ParseUnsigned(Raw(text)), expected) << Show(Raw(text));
  }
  EXPECT_EQ(ParseUnsigned(MString()), 0u);
}

// ---------------------------------------------------------------------------
// UTF-8 and narrow text

TEST(MStringUtf8, FromUtf8DecodesWithinTheBudget) {
  // clang-format off
  const std::tuple<std::string_view, size_t, std::u16string_view> cases[] = {
      {"\xC3\xA9"sv,           2, u"\u00E9"sv},
      {"\xE4\xB8\xAD"sv,       3, u"\u4E2D"sv},
      {"\xF0\x9F\x98\x80"sv,   4, u"\uFFFF"sv},  // any four-byte sequence: one unit
      {"\xFF\x80\x80\x80z"sv,  5, u"\uFFFFz"sv},
      {"\xED\xA0\x80"sv,       3, u"\xD800"sv},
      {"a\xC3\xA9"sv,          2, u"a"sv},       // cut short by the budget
      {"a\xF0\x9F\x98\x80"sv,  4, u"a"sv},
      {"\xC3\x00\x41"sv,       3, u""sv},        // cut short by a NUL
      {"ab\0cd"sv,             5, u"ab"sv},
      {"abc"sv,                0, u""sv}};
  // clang-format on
  for (const auto& [utf8, max, expected] : cases) {
    // An exact-size copy, so that a read beyond the budget is caught.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[utf8.size()]);
    std::memcpy(bytes.get(), utf8.data(), utf8.size());
    MString s = FromUtf8(bytes.get(), max);
    EXPECT_FALSE(s.IsNull());
    EXPECT_EQ(Show(s), Show(Raw(expected))) << "budget " << max;
  }
  EXPECT_TRUE(FromUtf8(nullptr, 10).IsNull());
  EXPECT_TRUE(FromUtf8(static_cast<const char*>(nullptr)).IsNull());
}

TEST(MStringUtf8, TruncatedSequenceAtTheTerminatorIsNotReadPast) {
  // NUL-terminated text has no budget: a lead byte shortly before the NUL must
  // not make the decoder look at the bytes after it.
  const std::pair<uint8_t, size_t> leads[] = {{0xC3, 2}, {0xE4, 3}, {0xF0, 4}};
  for (const auto& [lead, size] : leads) {
    for (size_t tail = 0; tail + 1 < size; ++tail) {
      std::unique_ptr<char[]> text(new char[tail + 2]);
      text[0] = static_cast<char>(lead);
      std::memset(text.get() + 1, 0x80, tail);
      text[tail + 1] = 0;
      EXPECT_EQ(Show(FromUtf8(text.get())), "") << "lead " << int{lead} << " + " << tail;
    }
  }
}

TEST(MStringUtf8, ToUtf8EncodesPairsAndReplacesLoneSurrogates) {
  // clang-format off
  const std::pair<std::u16string_view, std::string_view> cases[] = {
      {u"A\u00E9\u4E2D",  "A\xC3\xA9\xE4\xB8\xAD"},
      {u"\u07FF\u0800",   "\xDF\xBF\xE0\xA0\x80"},
      {u"\uFFFF",         "\xEF\xBF\xBF"},
      {u"\xD83D\xDE00",   "\xF0\x9F\x98\x80"},
      {u"\xD83D",         "\xEF\xBF\xBD"},
      {u"\xD83Dx",        "\xEF\xBF\xBDx"},
      {u"\xDE00\xD83D",   "\xEF\xBF\xBD\xEF\xBF\xBD"}};
  // clang-format on
  for (const auto& [units, utf8] : cases) EXPECT_EQ(ToUtf8(Raw(units)), utf8);
  EXPECT_EQ(ToUtf8(MString()), "");
}

TEST(MStringUtf8, EveryBmpUnitRoundTrips) {
  std::u16string all;
  for (char32_t c = 1; c <= 0xFFFF; ++c) {
    if (c < 0xD800 || c > 0xDFFF) all += static_cast<char16_t>(c);
  }
  MString s = Raw(all);
  std::string utf8 = ToUtf8(s);
  EXPECT_TRUE(Equals(FromUtf8(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size()), s));
  EXPECT_TRUE(Equals(FromUtf8(utf8.c_str()), s));
}

TEST(MStringNarrow, KeepsTheLowEightBitsAndTerminates) {
  std::unique_ptr<char[]> narrow = ToNarrow(Raw(u"A\u0141\u00E9\u0100z"));
  EXPECT_EQ(std::memcmp(narrow.get(), "AA\xE9\0z\0", 6), 0);
  EXPECT_EQ(ToNarrow(MString())[0], 0);
  EXPECT_EQ(Show(FromNarrow("caf\xE9")), "caf\\u00E9");
  EXPECT_TRUE(FromNarrow(nullptr).IsNull());
}

// ---------------------------------------------------------------------------
// Character sets and consuming from the front

TEST(MStringSets, SpanExcludingAndIncluding) {
  // clang-format off
  const std::tuple<std::u16string_view, const char*, const char*, const char*> cases[] = {
      // text              set       excluding  including
      {u"key=value",       "=",      "key",     ""},
      {u"  x",             " \t",    "",        "  "},
      {u"abc",             "",       "abc",     ""},
      {u"abc",             nullptr,  "abc",     ""},
      {u"",                "a",      "",        ""},
      {u"aa\u0161a",       "a",      "",        "aa"},      // units >= 256 never belong
      {u"\u0161a",         "a",      "\\u0161", ""},
      {u"\u00E9\uFFE9",    "\xE9",   "",        "\\u00E9"},  // set bytes are unsigned
      {u"ab\0cd"sv,        ";",      "ab",      ""},        // a NUL unit ends the scan
      {u"aa\0aa"sv,        "a",      "",        "aa"}};
  // clang-format on
  for (const auto& [text, set, excluding, including] : cases) {
    EXPECT_EQ(Show(SpanExcluding(Raw(text), set)), excluding) << Show(Raw(text));
    EXPECT_EQ(Show(SpanIncluding(Raw(text), set)), including) << Show(Raw(text));
  }
  EXPECT_TRUE(SpanExcluding(MString(), "a").IsNull());
  EXPECT_TRUE(SpanIncluding(MString(), "a").IsNull());
}

TEST(MStringSets, TakeSpanConsumesThePrefixWithoutCopyingTheRest) {
  MString a(u"name value;");
  const char16_t* origin = a.CStr();
  MStringBuffer* buffer = a.Buffer();
  EXPECT_EQ(Show(TakeSpan(a, " ", SpanMode::Excluding)), "name");
  EXPECT_EQ(a.Buffer(), buffer);
  EXPECT_EQ(a.CStr(), origin + 4);
  EXPECT_EQ(Show(TakeSpan(a, " ", SpanMode::Including)), " ");
  EXPECT_EQ(Show(TakeSpan(a, ";", SpanMode::Including)), "");  // nothing to take
  EXPECT_EQ(a.CStr(), origin + 5);
  EXPECT_EQ(Show(TakeSpan(a, "", SpanMode::Excluding)), "value;");
  EXPECT_EQ(a.CStr(), origin + 11);
  EXPECT_TRUE(a.IsEmpty() && !a.IsNull());

  MString null;
  EXPECT_TRUE(TakeSpan(null, "x", SpanMode::Excluding).IsNull());
  EXPECT_TRUE(null.IsNull());
}

TEST(MStringSets, TakeFrontClamps) {
  MString a(u"abcdef");
  const char16_t* origin = a.CStr();
  EXPECT_EQ(Show(TakeFront(a, 0)), "");
  EXPECT_EQ(Show(TakeFront(a, 2)), "ab");
  EXPECT_EQ(a.CStr(), origin + 2);
  EXPECT_EQ(Show(TakeFront(a, UINT32_MAX)), "cdef");
  EXPECT_EQ(Show(TakeFront(a, 1)), "");  // empty: nothing consumed
  EXPECT_EQ(a.CStr(), origin + 6);
  MString null;
  EXPECT_TRUE(TakeFront(null, 3).IsNull());
}

TEST(MStringSets, FromLastOfAndSplitAtLast) {
  // clang-format off
  const std::tuple<const char16_t*, const char*, const char*> cases[] = {
      {u"player.exe", ".", ".exe"},  {u"a.b.c", ".", ".c"},  {u"abc.", ".", "."},
      {u".abc", ".", ".abc"},  {u"C:\\d/e\\f", "\\/", "\\f"},  {u"abc", ".", kNull},
      {u"", ".", kNull},  {nullptr, ".", kNull},  {u"a.b", nullptr, kNull},
      {u"a.\u012E", ".", ".\\u012E"}};  // U+012E has the low byte of '.'
  // clang-format on
  for (const auto& [a, set, expected] : cases) {
    EXPECT_EQ(Show(FromLastOf(Str(a), set)), expected) << Show(Str(a));
  }

  MString path(u"C:\\dir\\file.dll");
  EXPECT_EQ(Show(SplitAtLast(path, ".")), ".dll");
  EXPECT_EQ(Show(path), "C:\\dir\\file");
  EXPECT_EQ(path.CStr()[path.Length()], 0);
  MString plain(u"file");
  MStringBuffer* buffer = plain.Buffer();
  EXPECT_TRUE(SplitAtLast(plain, ".").IsNull());
  EXPECT_EQ(plain.Buffer(), buffer);  // no match: untouched
  MString leading(u".dll");
  EXPECT_EQ(Show(SplitAtLast(leading, ".")), ".dll");
  EXPECT_EQ(Show(leading), "");
}

}  // namespace

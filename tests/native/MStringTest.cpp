#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string_view>
#include <tuple>
#include <utility>

#include "TestStrings.h"

namespace {

// A marker for "the null string" in tables of expected values.
constexpr const char* kNull = "<null>";

MString Str(const char16_t* text) {
  return text == nullptr ? MString() : MString(text);
}

// ---------------------------------------------------------------------------
// Null, empty, construction and sharing

TEST(MStringBasics, NullAndEmptyDiffer) {
  MString null;
  EXPECT_TRUE(null.IsNull());
  EXPECT_TRUE(null.IsEmpty());
  EXPECT_EQ(null.CStr(), nullptr);
  EXPECT_EQ(null.begin(), null.end());

  MString empty(u"");
  EXPECT_FALSE(empty.IsNull());
  EXPECT_TRUE(empty.IsEmpty());
  ASSERT_NE(empty.CStr(), nullptr);
  EXPECT_EQ(empty.CStr()[0], 0);
  EXPECT_EQ(Show(u""_ms), "");
  EXPECT_EQ(Show(MString(static_cast<const char16_t*>(nullptr))), kNull);
}

struct UnitsCase {
  const char16_t* units;
  int32_t count;
  const char* expected;
};

TEST(MStringBasics, ConstructFromUnitsAndCount) {
  const UnitsCase cases[] = {
      {u"abc", 3, "abc"}, {u"abc", 2, "ab"},   {u"abc", 1, "a"},
      {u"abc", 0, kNull}, {u"abc", -1, kNull}, {u"abc", INT32_MIN, kNull},
      {u"a\0bc", 4, "a"}, {u"\0bc", 3, ""},    {nullptr, 3, kNull},
  };
  for (const auto& c : cases) {
    MString s(c.units, c.count);
    EXPECT_EQ(Show(s), c.expected) << "count " << c.count;
    if (!s.IsNull()) EXPECT_EQ(s.CStr()[s.Length()], 0) << "always NUL-terminated";
  }
}

TEST(MStringBasics, AssignReadsToNulForNonPositiveCountAndAcceptsItsOwnUnits) {
  MString s(u"hello");
  s.Assign(u"wor\0ld", 0);
  EXPECT_EQ(Show(s), "wor");
  s.Assign(u"world", 3);
  EXPECT_EQ(Show(s), "wor");
  // The source may point into the string's own buffer.
  s.Assign(s.CStr() + 1, -5);
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
    EXPECT_EQ(b.Buffer(), buffer);
    EXPECT_EQ(c.Buffer(), buffer);
    EXPECT_EQ(buffer->count, 3);
  }
  EXPECT_EQ(buffer->count, 1);

  MString& alias = a;
  a = alias;
  EXPECT_EQ(a.Buffer(), buffer);
  EXPECT_EQ(buffer->count, 1);
  a = std::move(alias);
  EXPECT_EQ(Show(a), "shared");

  MString moved = std::move(a);
  EXPECT_TRUE(a.IsNull());  // NOLINT(bugprone-use-after-move): moved-from is null
  EXPECT_EQ(moved.Buffer(), buffer);
  EXPECT_EQ(buffer->count, 1);
}

// ---------------------------------------------------------------------------
// Buffers from another module: released once, through their own routine

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
    // Out through the binary interface and back again, twice.
    MString back = MString::Adopt(MString::Adopt(s.Give()).Give());
    EXPECT_EQ(back.Buffer(), s.Buffer());
    EXPECT_EQ(s.Buffer()->count, 4);

    MString consumed = s;
    consumed.Consume(3);
    EXPECT_EQ(consumed.Buffer(), s.Buffer());
    MStringArg arg = consumed.Give();
    EXPECT_EQ(arg.start, 3u);
    MString adopted = MString::Adopt(arg);
    EXPECT_EQ(Show(adopted), "dir\\file.dll");

    MString suffix = SplitAtLast(consumed, ".");  // builds new buffers; the old one stays shared
    EXPECT_EQ(Show(consumed), "dir\\file");
    s = MString();
    copy = u"replaced"_ms;
    EXPECT_EQ(ForeignBuffers::released, 0);
  }
  EXPECT_EQ(ForeignBuffers::released, 1);
  ASSERT_EQ(ForeignBuffers::releasedTexts.size(), 1u);
  EXPECT_EQ(ForeignBuffers::releasedTexts[0], u"C:\\dir\\file.dll");
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
}

TEST_F(ForeignBufferTest, AppendAndMoveLeaveTheForeignBufferToItsRoutine) {
  {
    MString s = MString::Adopt(ForeignBuffers::Make(u"head"));
    s += u"-tail"_ms;  // new buffer of our own; the foreign one goes now
    EXPECT_EQ(ForeignBuffers::released, 1);
    EXPECT_EQ(s.Buffer()->release, &ReleaseOwnMStringBuffer);
    MString t = MString::Adopt(ForeignBuffers::Make(u"moved"));
    MString u = std::move(t);
    MString& alias = u;
    u = std::move(alias);
    EXPECT_EQ(Show(u), "moved");
  }
  EXPECT_EQ(ForeignBuffers::released, 2);
}

TEST(MStringAdopt, NullArgAndStartPastTheEnd) {
  MStringArg nothing = MString().Give();
  EXPECT_EQ(nothing.buffer, nullptr);
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
  EXPECT_EQ(*clamped.CStr(), 0);
}

TEST(MStringAdopt, BufferWithoutReleaseRoutineIsNeverFreed) {
  struct {
    MStringBuffer header{1, 2, nullptr};
    char16_t units[3] = {u'o', u'k', 0};
  } fixed;
  { MString s = MString::Adopt(MStringArg{&fixed.header, 0}); }
  EXPECT_EQ(fixed.header.count, 0);
  EXPECT_EQ(fixed.units[0], u'o');
}

// ---------------------------------------------------------------------------
// Comparison

struct CompareCase {
  const char16_t* a;
  const char16_t* b;
  bool equals, startsWith, endsWith;
};

TEST(MStringCompare, EqualsStartsWithEndsWith) {
  const CompareCase cases[] = {
      {u"abc", u"abc", true, true, true},
      {u"abc", u"ab", false, true, false},
      {u"abc", u"bc", false, false, true},
      {u"ab", u"abc", false, false, false},  // b longer
      {u"abc", u"", false, true, true},
      {u"abc", nullptr, false, true, true},
      {u"", nullptr, true, true, true},  // null and empty have the same length
      {nullptr, nullptr, true, true, true},
      {nullptr, u"a", false, false, false},
      {u"ABC", u"abc", false, false, false},
      {u"\u0141", u"\u0041", false, false, false},  // same low byte
      {u"\u4E2D\u6587", u"\u6587", false, false, true},
  };
  for (const auto& c : cases) {
    MString a = Str(c.a), b = Str(c.b);
    SCOPED_TRACE(Show(a) + " / " + Show(b));
    EXPECT_EQ(Equals(a, b), c.equals);
    EXPECT_EQ(StartsWith(a, b), c.startsWith);
    EXPECT_EQ(EndsWith(a, b), c.endsWith);
  }
}

TEST(MStringCompare, ConsumedStringsCompareFromTheirStart) {
  MString s(u"xxabc");
  s.Consume(2);
  EXPECT_TRUE(Equals(s, u"abc"_ms));
  EXPECT_TRUE(EndsWith(s, u"abc"_ms));
  s.Consume(100);  // clamps
  EXPECT_EQ(s.Length(), 0u);
  EXPECT_TRUE(Equals(s, u""_ms));
}

TEST(MStringCompare, ToLowerAsciiLowersOnlyAToZ) {
  // '@' and '[' border A-Z; U+00C0 and U+0141 are upper case outside ASCII.
  MString mixed(u"@AZ[az`{\u00C0\u0141 Hello");
  EXPECT_EQ(Show(ToLowerAscii(mixed)), "@az[az`{\\u00C0\\u0141 hello");
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
  EXPECT_NE(a.Buffer(), keep.Buffer());

  MStringBuffer* before = a.Buffer();
  a += MString();
  EXPECT_EQ(a.Buffer(), before);  // a null argument changes nothing

  MString null;
  null += MString();
  EXPECT_TRUE(null.IsNull());
  null += u""_ms;
  EXPECT_FALSE(null.IsNull());  // null this becomes empty first
  EXPECT_EQ(Show(null), "");

  MString consumed(u"--xy");
  consumed.Consume(2);
  consumed += consumed;
  EXPECT_EQ(Show(consumed), "xyxy");
  EXPECT_EQ(Show(MString() + u"z"_ms), "z");
}

struct JoinCase {
  const char16_t* left;
  char16_t separator;
  const char16_t* right;
  const char* expected;
};

TEST(MStringAppend, JoinPathPutsExactlyOneSeparatorBetweenParts) {
  const JoinCase cases[] = {
      {u"C:\\a\\", u'\\', u"\\b", "C:\\a\\b"},  // both carry it: one dropped
      {u"C:\\a", u'\\', u"b", "C:\\a\\b"},      // neither: inserted
      {u"C:\\a\\", u'\\', u"b", "C:\\a\\b"},
      {u"C:\\a", u'\\', u"\\b", "C:\\a\\b"},
      {u"", u'\\', u"b", "b"},
      {nullptr, u'\\', u"b", "b"},
      {u"a", u'\\', u"", "a"},
      {u"", u'\\', u"\\b", "\\b"},
      {u"a\\", u'\\', u"\\", "a\\"},
      {u"C:\\a", u'\\', nullptr, "C:\\a"},  // null tail: unchanged
      {u"a", 0, u"b", "a"},                 // zero separator: unchanged
      {nullptr, u'/', nullptr, kNull},
      {u"a", u'/', u"b", "a/b"},
      {u"a\\", u'/', u"b", "a\\/b"},
  };
  for (const auto& c : cases) {
    MString s = Str(c.left);
    s.JoinPath(c.separator, Str(c.right));
    EXPECT_EQ(Show(s), c.expected) << Show(Str(c.left)) << " + " << Show(Str(c.right));
  }
  MString self(u"x");
  self.JoinPath(u'/', self);
  EXPECT_EQ(Show(self), "x/x");
}

struct ReplaceCase {
  const char16_t* s;
  const char16_t* from;
  const char16_t* to;
  const char* expected;
};

TEST(MStringReplace, ReplacesEveryNonOverlappingOccurrenceLeftToRight) {
  const ReplaceCase cases[] = {
      {u"a&amp;b", u"&amp;", u"&", "a&b"},
      {u"&amp;&amp;", u"&amp;", u"&", "&&"},
      {u"aaa", u"aa", u"b", "ba"},
      {u"aaaa", u"aa", u"b", "bb"},
      {u"xab", u"ab", u"abab", "xabab"},  // the replacement is not scanned again
      {u"aba", u"ab", u"X", "Xa"},
      {u"ab", u"abc", u"X", "ab"},  // pattern longer than the text
      {u"abab", u"ab", u"", ""},
      {u"abab", u"ab", nullptr, ""},
      {u"abc", u"", u"X", "abc"},
      {u"abc", nullptr, u"X", "abc"},
      {u"", u"a", u"X", ""},
      {nullptr, u"a", u"X", kNull},
      {u"\u4E2D\u6587\u4E2D", u"\u4E2D", u"\u0100", "\\u0100\\u6587\\u0100"},
      {u"\u0161a", u"a", u"b", "\\u0161b"},  // U+0161 shares its low byte with 'a'
      {u"\uFFFF\uFFFF", u"\uFFFF", u"\xD800\xDC00", "\\xD800\\xDC00\\xD800\\xDC00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(ReplaceAll(Str(c.s), Str(c.from), Str(c.to))), c.expected)
        << Show(Str(c.s)) << ": " << Show(Str(c.from)) << " -> " << Show(Str(c.to));
  }
  MString consumed(u"&amp;x&amp;");
  consumed.Consume(5);
  EXPECT_EQ(Show(ReplaceAll(consumed, u"&amp;"_ms, u"&"_ms)), "x&");
}

// ---------------------------------------------------------------------------
// Numbers

struct NumberCase {
  int64_t value;  // formatted as unsigned when not negative
  uint32_t base, width;
  const char* expected;
};

TEST(MStringNumbers, FormatNumberBasesAndWidths) {
  const NumberCase cases[] = {
      {0, 10, 0, "0"},
      {0, 2, 0, "0"},
      {0, 16, 5, "00000"},
      {255, 16, 0, "FF"},
      {255, 16, 4, "00FF"},
      {255, 16, 1, "FF"},  // never truncated
      {5, 0, 0, "101"},
      {5, 1, 0, "101"},
      {5, 2, 0, "101"},
      {8, 3, 0, "10"},
      {8, 8, 0, "10"},
      {8, 9, 0, "8"},
      {10, 10, 0, "10"},
      {10, 11, 0, "A"},
      {48879, 1000, 0, "BEEF"},
      {UINT32_MAX, 2, 0, "11111111111111111111111111111111"},
      {UINT32_MAX, 8, 0, "37777777777"},
      {UINT32_MAX, 10, 0, "4294967295"},
      {UINT32_MAX, 16, 0, "FFFFFFFF"},
      {1, 10, 32, "00000000000000000000000000000001"},
      {1, 10, 33, "00000000000000000000000000000001"},  // width clamped to 32
      {UINT32_MAX, 2, UINT32_MAX, "11111111111111111111111111111111"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(FormatNumber(static_cast<uint32_t>(c.value), c.base, c.width)), c.expected)
        << c.value << " base " << c.base << " width " << c.width;
  }
}

TEST(MStringNumbers, FormatSignedNumberPutsTheSignBeforeTheMagnitude) {
  const NumberCase cases[] = {
      {-5, 10, 0, "-5"},
      {5, 10, 0, "5"},
      {0, 10, 0, "0"},
      {-1, 16, 0, "-1"},
      {-5, 10, 3, "-005"},
      {INT32_MAX, 10, 0, "2147483647"},
      {INT32_MIN, 10, 0, "-2147483648"},
      {INT32_MIN, 16, 0, "-80000000"},
      {INT32_MIN, 8, 0, "-20000000000"},
      {INT32_MIN, 2, 40, "-10000000000000000000000000000000"},
      {-1, 2, 32, "-00000000000000000000000000000001"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(FormatSignedNumber(static_cast<int32_t>(c.value), c.base, c.width)), c.expected)
        << c.value << " base " << c.base << " width " << c.width;
  }
}

TEST(MStringNumbers, ParseUnsignedTakesLeadingDigitsAndWraps) {
  const std::pair<const char16_t*, uint32_t> cases[] = {
      {u"34.0", 34},      {u"abc", 0},        {nullptr, 0},   {u"", 0},
      {u"007", 7},        {u" 7", 0},         {u"-1", 0},     {u"4294967295", UINT32_MAX},
      {u"4294967296", 0}, {u"4294967297", 1}, {u"\uFF11", 0},  // fullwidth digit one
      {u"12/3", 12},      {u"9:", 9},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ParseUnsigned(Str(text)), expected) << Show(Str(text));
  }
  EXPECT_EQ(ParseUnsigned(Raw(std::u16string_view(u"12\0"
                                                  u"34",
                                                  5))),
            12u);
}

// ---------------------------------------------------------------------------
// UTF-8 and narrow text

struct Utf8Case {
  std::string_view bytes;
  size_t max;
  std::u16string_view expected;
};

TEST(MStringUtf8, FromUtf8DecodesWithinTheBudget) {
  using namespace std::literals;
  const Utf8Case cases[] = {
      {"\xC3\xA9"sv, 2, u"\u00E9"sv},
      {"\xE4\xB8\xAD"sv, 3, u"\u4E2D"sv},
      {"\xF0\x9F\x98\x80"sv, 4, u"\uFFFF"sv},  // four bytes, one unit
      {"\xFF\x80\x80\x80z"sv, 5, u"\uFFFFz"sv},
      {"a\xC3\xA9"sv, 2, u"a"sv},  // cut short by the budget
      {"a\xF0\x9F\x98\x80"sv, 4, u"a"sv},
      {"\xC3\x00\x41"sv, 3, u""sv},  // cut short by a NUL
      {"ab\0cd"sv, 5, u"ab"sv},
      {"abc"sv, 0, u""sv},
      {"abc"sv, 2, u"ab"sv},
      {"\x7F"sv, 1, u"\x7F"sv},
      {"\xED\xA0\x80"sv, 3, u"\xD800"sv},  // a surrogate comes through as a unit
  };
  for (const auto& c : cases) {
    // An exact-size copy, so any read beyond the budget is caught.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[c.bytes.size()]);
    std::memcpy(bytes.get(), c.bytes.data(), c.bytes.size());
    MString s = FromUtf8(bytes.get(), c.max);
    EXPECT_FALSE(s.IsNull());
    EXPECT_EQ(Show(s), Show(Raw(c.expected))) << "budget " << c.max;
  }
  EXPECT_TRUE(FromUtf8(nullptr, 10).IsNull());
  EXPECT_TRUE(FromUtf8(static_cast<const char*>(nullptr)).IsNull());
}

TEST(MStringUtf8, TruncatedSequenceAtTheTerminatorIsNotReadPast) {
  // NUL-terminated text with no budget: a lead byte right before the NUL must
  // not make the decoder look at the bytes after it.
  const std::pair<uint8_t, size_t> leads[] = {{0xC3, 2}, {0xE4, 3}, {0xF0, 4}};
  for (const auto& [lead, size] : leads) {
    for (size_t tail = 0; tail + 1 < size; ++tail) {
      std::unique_ptr<char[]> text(new char[tail + 2]);
      text[0] = static_cast<char>(lead);
      std::memset(text.get() + 1, 0x80, tail);
      text[tail + 1] = 0;
      MString s = FromUtf8(text.get());
      EXPECT_EQ(Show(s), "") << "lead " << int{lead} << " with " << tail << " continuation bytes";
    }
  }
}

TEST(MStringUtf8, ToUtf8EncodesPairsAndReplacesLoneSurrogates) {
  const std::pair<std::u16string_view, std::string_view> cases[] = {
      {u"A\u00E9\u4E2D", "A\xC3\xA9\xE4\xB8\xAD"},
      {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
      {u"\xD83D", "\xEF\xBF\xBD"},
      {u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {u"\xD83Dx", "\xEF\xBF\xBDx"},
      {u"\uFFFF", "\xEF\xBF\xBF"},
      {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
  };
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
  MString s = Raw(u"A\u0141\u00E9\u0100z");
  std::unique_ptr<char[]> narrow = ToNarrow(s);
  EXPECT_EQ(std::memcmp(narrow.get(), "A\x41\xE9\x00z\x00", 6), 0);
  EXPECT_EQ(ToNarrow(MString())[0], 0);
  EXPECT_EQ(Show(FromNarrow("caf\xE9")), "caf\\u00E9");
  EXPECT_TRUE(FromNarrow(nullptr).IsNull());
}

// ---------------------------------------------------------------------------
// Character sets and consuming from the front

struct SpanCase {
  std::u16string_view a;
  const char* set;
  const char* excluding;
  const char* including;
};

TEST(MStringSets, SpanExcludingAndIncluding) {
  const SpanCase cases[] = {
      {u"key=value", "=", "key", ""},
      {u"  x", " \t", "", "  "},
      {u"abc", "", "abc", ""},
      {u"abc", nullptr, "abc", ""},
      {u"", "a", "", ""},
      {u"aa\u0161a", "a", "", "aa"},  // units >= 256 never belong
      {u"\u0161a", "a", "\\u0161", ""},
      {u"\u00E9\uFFE9", "\xE9", "", "\\u00E9"},  // set bytes above 0x7F are units below 256
      {std::u16string_view(u"ab\0cd", 5), ";", "ab", ""},  // a NUL unit ends the scan
      {std::u16string_view(u"aa\0aa", 5), "a", "", "aa"},
  };
  for (const auto& c : cases) {
    MString a = Raw(c.a);
    EXPECT_EQ(Show(SpanExcluding(a, c.set)), c.excluding) << Show(a);
    EXPECT_EQ(Show(SpanIncluding(a, c.set)), c.including) << Show(a);
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
  EXPECT_EQ(a.CStr(), origin + 5);
  EXPECT_EQ(Show(TakeSpan(a, ";", SpanMode::Including)), "");  // nothing to take
  EXPECT_EQ(a.CStr(), origin + 5);
  EXPECT_EQ(Show(TakeSpan(a, "", SpanMode::Excluding)), "value;");
  EXPECT_EQ(a.CStr(), origin + 11);
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_FALSE(a.IsNull());

  MString null;
  EXPECT_TRUE(TakeSpan(null, "x", SpanMode::Excluding).IsNull());
  EXPECT_TRUE(null.IsNull());
}

TEST(MStringSets, TakeFrontClamps) {
  MString a(u"abcdef");
  const char16_t* origin = a.CStr();
  EXPECT_EQ(Show(TakeFront(a, 0)), "");
  EXPECT_EQ(a.CStr(), origin);
  EXPECT_EQ(Show(TakeFront(a, 2)), "ab");
  EXPECT_EQ(a.CStr(), origin + 2);
  EXPECT_EQ(Show(TakeFront(a, UINT32_MAX)), "cdef");
  EXPECT_EQ(a.CStr(), origin + 6);
  EXPECT_EQ(Show(TakeFront(a, 1)), "");  // empty: nothing consumed
  EXPECT_EQ(a.CStr(), origin + 6);
  MString null;
  EXPECT_TRUE(TakeFront(null, 3).IsNull());
}

TEST(MStringSets, FromLastOfAndSplitAtLast) {
  const std::tuple<const char16_t*, const char*, const char*> cases[] = {
      {u"player.exe", ".", ".exe"},
      {u"a.b.c", ".", ".c"},
      {u"abc.", ".", "."},
      {u".abc", ".", ".abc"},
      {u"C:\\d/e\\f", "\\/", "\\f"},
      {u"abc", ".", kNull},
      {u"", ".", kNull},
      {nullptr, ".", kNull},
      {u"a.b", nullptr, kNull},
      {u"a.\u012E", ".", ".\\u012E"},  // U+012E has the low byte of '.'
  };
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

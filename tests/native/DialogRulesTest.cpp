// The file dialogs' and the audited open's rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "broker/services/DialogRules.h"

namespace {

using namespace DialogRules;
using namespace std::string_literals;

std::string Show(const Text& t) {
  std::string out;
  for (char16_t c : t) out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  return out;
}

// The units as little-endian bytes, NULs included.
std::vector<uint8_t> Bytes(std::u16string_view units) {
  std::vector<uint8_t> bytes;
  for (char16_t c : units) bytes.insert(bytes.end(), {uint8_t(c & 0xFF), uint8_t(c >> 8)});
  return bytes;
}

// "name|pattern;" per entry, or "<invalid>".
std::string Parsed(uint32_t pairs, const std::vector<uint8_t>& bytes) {
  FilterParse parse = ParseFilterSpecs(pairs, bytes);
  if (parse.verdict != Verdict::Ok) return "<invalid>";
  std::string out;
  for (const FilterSpec& s : parse.specs) out += Show(s.name) + "|" + Show(s.pattern) + ";";
  return out;
}

const std::u16string kTwoPairs = u"Text files\\0*.txt\\0All files\\0*.*\\0"s + u'\0';
const std::string kBad = "<invalid>";

TEST(FilterSpecs, TextShapesAndEscapes) {
  const std::u16string nul(1, u'\0');
  const std::tuple<const char*, std::u16string, uint32_t, std::string> cases[] = {
      {"two pairs", kTwoPairs, 2, "Text files|*.txt;All files|*.*;"},
      {"one announced", kTwoPairs, 1, kBad},
      {"three announced", kTwoPairs, 3, kBad},
      {"huge count", kTwoPairs, 0x10000000, kBad},
      {"three for two", u"a\\0*.a\\0b\\0*.b\\0c\\0*.c\\0" + nul, 2, kBad},
      {"empty text", nul, 0, ""},
      {"empty text, one pair", nul, 1, kBad},
      {"text, no pairs", u"a\\0*.a\\0" + nul, 0, kBad},
      {"no final NUL", u"a\\0*.a\\0", 1, kBad},
      {"NUL inside", u"a\\0*.a\\0" + nul + u"b\\0*.b\\0" + nul, 1, kBad},
      {"two final NULs", u"a\\0*.a\\0" + nul + nul, 1, kBad},
      {"doubled backslash", u"C:\\\\x\\0*.a;*.b\\0" + nul, 1, "C:\\x|*.a;*.b;"},
      {"escaped backslash, 0", u"a\\\\0\\0*\\0" + nul, 1, "a\\0|*;"},
      {"backslash, letter", u"a\\x\\0*.a\\0" + nul, 1, kBad},
      {"backslash, letter in pattern", u"a\\0*.\\a\\0" + nul, 1, kBad},
      {"end inside pattern", u"a\\0*.a" + nul, 1, kBad},
      {"end after a backslash", u"a\\0*.a\\" + nul, 1, kBad},
      {"lone description", u"a\\0" + nul, 1, kBad},
      {"empty description", u"\\0*.a\\0" + nul, 1, kBad},
      {"empty second description", u"a\\0*\\0\\0*\\0" + nul, 2, kBad},
      {"empty pattern", u"a\\0\\0" + nul, 1, "a|;"},
  };
  for (const auto& [name, text, pairs, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Parsed(pairs, Bytes(text)), expected);
  }
  std::vector<uint8_t> odd = Bytes(kTwoPairs);
  odd.push_back(0);
  EXPECT_EQ(Parsed(2, odd), kBad);
  EXPECT_EQ(Parsed(0, {}), kBad);
  FilterParse wide = ParseFilterSpecs(1, Bytes(u"\u0130\\0*.\u3042\\0" + nul));  // byte order
  ASSERT_EQ(wide.verdict, Verdict::Ok);
  EXPECT_EQ(wide.specs[0].name + wide.specs[0].pattern, u"\u0130*.\u3042");
}

TEST(FilterSpecs, ArrayShapeAndOptions) {
  const FilterArrayShape good{true, 1, 1, 0, 72};
  // clang-format off
  const std::tuple<const char*, uint32_t, uint32_t, FilterArrayShape, bool> cases[] = {
      {"two pairs", 2, 72, good, true}, {"most pairs", kMostFilterPairs, 72, good, true},
      {"too many pairs", 0x10000000, 72, good, false}, {"length differs", 2, 70, good, false},
      {"length 0", 2, 0, {true, 1, 1, 0, 0}, false}, {"no array", 2, 72, {}, false},
      {"two dimensions", 2, 72, {true, 2, 1, 0, 72}, false},
      {"two-byte elements", 2, 72, {true, 1, 2, 0, 72}, false},
      {"lower bound 1", 2, 72, {true, 1, 1, 1, 72}, false},
      {"lower bound -1", 2, 72, {true, 1, 1, -1, 72}, false}, {"nothing", 0, 0, {}, true},
      {"no pairs, an array", 0, 0, {true, 1, 1, 0, 0}, false},
      {"no pairs, a length", 0, 72, {}, false}};
  // clang-format on
  for (const auto& [name, pairs, length, array, valid] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(FilterArgumentsValid(pairs, length, array), valid);
  }
  // Multiple selection kept, explorer style dropped; saving always prompts.
  EXPECT_EQ(OpenDialogOptions(0xFFFFFFFF), 0xFF31FF1Au);
  EXPECT_EQ(OpenDialogOptions(0x80200), 0x200u);
  EXPECT_EQ(SaveDialogOptions(0x800000 | 0x1000), 0x1002u);
}

TEST(OpenResult, SelectionShapes) {
  const std::tuple<const char*, std::vector<ChosenItem>, std::vector<Text>> cases[] = {
      {"none", {}, {}},
      {"one", {{u"a.txt", u"C:\\D\\a.txt"}}, {u"C:\\D\\a.txt"}},
      {"two",
       {{u"a.txt", u"C:\\D\\a.txt"}, {u"c d", u"C:\\D\\c d"}},
       {u"C:\\D\\", u"a.txt", u"c d"}},
      {"name also a folder", {{u"a", u"C:\\a\\a"}, {u"b", u"C:\\a\\b"}}, {u"C:\\a\\", u"a", u"b"}},
      {"name not in path", {{u"x", u"C:\\D\\a"}, {u"b", u"C:\\D\\b"}}, {u"C:\\D\\", u"x", u"b"}},
      {"empty name", {{u"", u"C:\\D\\a"}, {u"b", u"C:\\D\\b"}}, {u"C:\\D\\", u"", u"b"}},
  };
  for (const auto& [name, items, expected] : cases) {
    SCOPED_TRACE(name);
    OpenResult result = SplitOpenResult(items);
    EXPECT_EQ(result.verdict, Verdict::Ok);
    EXPECT_EQ(result.strings, expected);
  }
  EXPECT_EQ(SplitOpenResult({{u"x", u"a"}, {u"b", u"b"}}).verdict, Verdict::Failed);
}

TEST(SaveName, OnlyAPlainNameIsProposed) {
  const Text n255(255, u'n'), n256(256, u'n');
  // clang-format off
  for (const char16_t* refused : {(const char16_t*)nullptr, u"", u"C:\\Temp\\", u"..", u" . ",
       u"NUL", u"nul.txt", u"Con .txt", u"lpt9.log", u"lpt0.txt", u"COM\u00B9", u"conout$", u"*.txt",
       u"a\tb.txt", u"a\"b", n256.c_str()}) {
    SCOPED_TRACE(refused ? Show(refused) : "<null>");
    EXPECT_EQ(ProposedSaveName(refused), std::nullopt);
  }
  const std::pair<const char16_t*, Text> cases[] = {{u"report.txt", u"report.txt"},
      {u"C:\\Users\\Ann\\report.txt", u"report.txt"}, {u"..\\..\\report.txt", u"report.txt"},
      {u"\\\\server\\share\\a/b.txt", u"b.txt"}, {u"C:report.txt", u"report.txt"},
      {u"report.txt. . ", u"report.txt"}, {u"COM10.txt", u"COM10.txt"},
      {u"console.txt", u"console.txt"}, {n255.c_str(), n255}};
  // clang-format on
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(Show(text));
    EXPECT_EQ(ProposedSaveName(text), expected);
  }
}

TEST(AuditedOpen, PreconditionsAndPathSplitAtItsLimits) {
  EXPECT_TRUE(MayRequestAudit(u"", u"", 1));  // empty identities go to the system
  EXPECT_FALSE(MayRequestAudit(nullptr, u"corp.example", 1) || MayRequestAudit(u"", nullptr, 1));
  EXPECT_FALSE(MayRequestAudit(u"", u"", 0) || MayRequestAudit(u"", u"", 0xFFFFFFFF));

  auto parts = SplitAuditPath(u"C:\\Users\\Ann\\v.1\\report.final.txt");
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->source + u"|" + parts->name + u"|" + parts->data,
            u"C:\\Users\\Ann\\v.1\\|report.final|report.final.txt");
  parts = SplitAuditPath(u"\\\\server\\share/dir.d/file");
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->drive + u"|" + parts->folder + u"|" + parts->extension,
            u"|\\\\server\\share/dir.d/|");
  EXPECT_FALSE(SplitAuditPath(u""));
  EXPECT_FALSE(SplitAuditPath(u"C:\\a"s + u'\0' + u".txt"));

  // Folder, name and extension of 255 units fit; 256 and 257 do not.
  for (size_t n : {255, 256, 257}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(SplitAuditPath(u"C:\\" + Text(n - 2, u'f') + u"\\a.txt").has_value(), n == 255);
    EXPECT_EQ(SplitAuditPath(u"C:\\" + Text(n, u'n') + u".txt").has_value(), n == 255);
    EXPECT_EQ(SplitAuditPath(u"C:\\a." + Text(n - 1, u'e')).has_value(), n == 255);
  }
  // Name and extension joined: 259 and 260 units fit, 261 do not.
  for (size_t n : {259, 260, 261}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(SplitAuditPath(u"C:\\" + Text(200, u'n') + u"." + Text(n - 201, u'e')).has_value(),
              n <= 260);
  }
}

}  // namespace

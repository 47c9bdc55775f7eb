// The file dialogs' and the audited open's rules: the filter array's shape
// and hostile filter text, the option mask, the open dialog's answer for odd
// selections, the proposed save name, and the audited path split at its
// buffer limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "broker/services/DialogRules.h"

namespace {

using namespace DialogRules;

std::string Show(const Text& t) {
  std::string out;
  for (char16_t c : t) out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  return out;
}

// The units as little-endian bytes, exactly as given (NULs included).
std::vector<uint8_t> Bytes(std::u16string_view units) {
  std::vector<uint8_t> bytes;
  for (char16_t c : units) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  return bytes;
}

// "name|pattern;" per entry, or "<invalid>".
std::string Parsed(uint32_t pairs, const std::vector<uint8_t>& bytes) {
  FilterParse parse = ParseFilterSpecs(pairs, bytes);
  if (parse.verdict != Verdict::Ok) return "<invalid>";
  std::string out;
  for (const FilterSpec& spec : parse.specs)
    out += Show(spec.name) + "|" + Show(spec.pattern) + ";";
  return out;
}

using namespace std::string_literals;
const std::u16string kTwoPairs = u"Text files\\0*.txt\\0All files\\0*.*\\0"s + u'\0';

TEST(FilterSpecs, TextShapesAndEscapes) {
  ASSERT_EQ(Bytes(kTwoPairs).size(), 72u);
  struct Case {
    const char* name;
    std::u16string text;  // the final NUL is written out
    uint32_t pairs;
    std::string expected;
  } const cases[] = {
      {"two pairs", kTwoPairs, 2, "Text files|*.txt;All files|*.*;"},
      {"one pair announced", kTwoPairs, 1, "<invalid>"},
      {"three announced", kTwoPairs, 3, "<invalid>"},
      {"three pairs for two", u"a\\0*.a\\0b\\0*.b\\0c\\0*.c\\0"s + u'\0', 2, "<invalid>"},
      {"empty text, no pairs", u"\0"s, 0, ""},
      {"empty text, one pair", u"\0"s, 1, "<invalid>"},
      {"text, no pairs", u"a\\0*.a\\0"s + u'\0', 0, "<invalid>"},
      {"no final NUL", u"a\\0*.a\\0", 1, "<invalid>"},
      {"NUL inside", u"a\\0*.a\\0"s + u'\0' + u"b\\0*.b\\0" + u'\0', 1, "<invalid>"},
      {"two final NULs", u"a\\0*.a\\0"s + u'\0' + u'\0', 1, "<invalid>"},
      {"doubled backslash", u"C:\\\\x\\0*.a;*.b\\0"s + u'\0', 1, "C:\\x|*.a;*.b;"},
      {"escaped backslash then 0", u"a\\\\0\\0*\\0"s + u'\0', 1, "a\\0|*;"},
      {"backslash and letter", u"a\\x\\0*.a\\0"s + u'\0', 1, "<invalid>"},
      {"backslash and letter in pattern", u"a\\0*.\\a\\0"s + u'\0', 1, "<invalid>"},
      {"end inside pattern", u"a\\0*.a"s + u'\0', 1, "<invalid>"},
      {"end after a backslash", u"a\\0*.a\\"s + u'\0', 1, "<invalid>"},
      {"lone description", u"a\\0"s + u'\0', 1, "<invalid>"},
      {"empty description", u"\\0*.a\\0"s + u'\0', 1, "<invalid>"},
      {"empty second description", u"a\\0*\\0\\0*\\0"s + u'\0', 2, "<invalid>"},
      {"empty pattern", u"a\\0\\0"s + u'\0', 1, "a|;"},
      {"no separators", u"abc"s + u'\0', 1, "<invalid>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Parsed(c.pairs, Bytes(c.text)), c.expected);
  }
  // Bytes that are not whole units, or none at all; little-endian order.
  std::vector<uint8_t> odd = Bytes(kTwoPairs);
  odd.push_back(0);
  EXPECT_EQ(Parsed(2, odd), "<invalid>");
  EXPECT_EQ(Parsed(0, {}), "<invalid>");
  EXPECT_EQ(Parsed(0, {0}), "<invalid>");
  FilterParse wide = ParseFilterSpecs(1, Bytes(u"\u0130\\0*.\u3042\\0"s + u'\0'));
  ASSERT_EQ(wide.verdict, Verdict::Ok);
  EXPECT_EQ(wide.specs[0].name, u"\u0130");
  EXPECT_EQ(wide.specs[0].pattern, u"*.\u3042");
  // A huge count allocates nothing and refuses.
  EXPECT_EQ(Parsed(0x10000000, Bytes(kTwoPairs)), "<invalid>");
  EXPECT_EQ(Parsed(0xFFFFFFFF, Bytes(kTwoPairs)), "<invalid>");
}

TEST(FilterSpecs, ArrayShape) {
  const FilterArrayShape good{true, 1, 1, 0, 72};
  struct Case {
    const char* name;
    uint32_t pairs, length;
    FilterArrayShape array;
    bool valid;
  } const cases[] = {
      {"two pairs", 2, 72, good, true},
      {"most pairs", kMostFilterPairs, 72, good, true},
      {"too many pairs", 0x10000000, 72, good, false},
      {"length differs", 2, 70, good, false},
      {"length 0", 2, 0, {true, 1, 1, 0, 0}, false},
      {"no array", 2, 72, {}, false},
      {"two dimensions", 2, 72, {true, 2, 1, 0, 72}, false},
      {"two-byte elements", 2, 72, {true, 1, 2, 0, 72}, false},
      {"lower bound 1", 2, 72, {true, 1, 1, 1, 72}, false},
      {"lower bound -1", 2, 72, {true, 1, 1, -1, 72}, false},
      {"nothing", 0, 0, {}, true},
      {"no pairs, an array", 0, 0, {true, 1, 1, 0, 0}, false},
      {"no pairs, a length", 0, 72, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FilterArgumentsValid(c.pairs, c.length, c.array), c.valid);
  }
}

TEST(DialogOptions, MaskAndOverwritePrompt) {
  EXPECT_EQ(OpenDialogOptions(0xFFFFFFFF), 0xFF31FF1Au);
  EXPECT_EQ(OpenDialogOptions(0x200), 0x200u);    // multiple selection kept
  EXPECT_EQ(OpenDialogOptions(0x80200), 0x200u);  // explorer style dropped
  EXPECT_EQ(OpenDialogOptions(0x00CE00E5), 0u);
  EXPECT_EQ(SaveDialogOptions(0), kOverwritePrompt);
  EXPECT_EQ(SaveDialogOptions(0x800000 | 0x1000), 0x1002u);
}

TEST(OpenResult, SelectionShapes) {
  struct Case {
    const char* name;
    std::vector<ChosenItem> items;
    std::vector<Text> expected;  // empty with ok false: failure
    bool ok;
  } const cases[] = {
      {"none", {}, {}, true},
      {"one", {{u"a.txt", u"C:\\D\\a.txt"}}, {u"C:\\D\\a.txt"}, true},
      {"two",
       {{u"a.txt", u"C:\\D\\a.txt"}, {u"c d.txt", u"C:\\D\\c d.txt"}},
       {u"C:\\D\\", u"a.txt", u"c d.txt"},
       true},
      {"name also a folder",
       {{u"a", u"C:\\a\\a"}, {u"b", u"C:\\a\\b"}},
       {u"C:\\a\\", u"a", u"b"},
       true},
      {"name not in path",
       {{u"x", u"C:\\D\\a"}, {u"b", u"C:\\D\\b"}},
       {u"C:\\D\\", u"x", u"b"},
       true},
      {"empty name", {{u"", u"C:\\D\\a"}, {u"b", u"C:\\D\\b"}}, {u"C:\\D\\", u"", u"b"}, true},
      {"no place to cut", {{u"x", u"a"}, {u"b", u"b"}}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenResult result = SplitOpenResult(c.items);
    EXPECT_EQ(result.verdict, c.ok ? Verdict::Ok : Verdict::Failed);
    if (c.ok) EXPECT_EQ(result.strings, c.expected);
  }
}

TEST(SaveName, OnlyAPlainNameIsProposed) {
  const Text n255(255, u'n'), n256(256, u'n');
  struct Case {
    const char16_t* text;
    std::optional<Text> expected;
  } const cases[] = {
      {nullptr, std::nullopt},
      {u"", std::nullopt},
      {u"report.txt", u"report.txt"},
      {u"C:\\Users\\Ann\\report.txt", u"report.txt"},
      {u"..\\..\\report.txt", u"report.txt"},
      {u"\\\\server\\share\\a/b.txt", u"b.txt"},
      {u"C:report.txt", u"report.txt"},
      {u"C:\\Temp\\", std::nullopt},
      {u"report.txt. . ", u"report.txt"},
      {u"..", std::nullopt},
      {u" . ", std::nullopt},
      {u"NUL", std::nullopt},
      {u"nul.txt", std::nullopt},
      {u"Con .txt", std::nullopt},
      {u"lpt9.log", std::nullopt},
      {u"COM\u00B9", std::nullopt},
      {u"conout$", std::nullopt},
      {u"COM10.txt", u"COM10.txt"},
      {u"console.txt", u"console.txt"},
      {u"*.txt", std::nullopt},
      {u"a\tb.txt", std::nullopt},
      {u"a\"b", std::nullopt},
      {n255.c_str(), n255},
      {n256.c_str(), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? Show(c.text) : "<null>");
    EXPECT_EQ(ProposedSaveName(c.text), c.expected);
  }
}

TEST(AuditedOpen, RequestPreconditions) {
  EXPECT_TRUE(MayRequestAudit(u"", u"", 1));  // empty identities go to the system
  EXPECT_TRUE(MayRequestAudit(u"contoso.com", u"contoso.com", 0xFFFFFFFE));
  EXPECT_FALSE(MayRequestAudit(nullptr, u"contoso.com", 1));
  EXPECT_FALSE(MayRequestAudit(u"contoso.com", nullptr, 1));
  EXPECT_FALSE(MayRequestAudit(u"contoso.com", u"contoso.com", 0));
  EXPECT_FALSE(MayRequestAudit(u"contoso.com", u"contoso.com", 0xFFFFFFFF));
}

TEST(AuditedOpen, PathSplitAtItsLimits) {
  auto parts = SplitAuditPath(u"C:\\Users\\Ann\\v.1\\report.final.txt");
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->source, u"C:\\Users\\Ann\\v.1\\");
  EXPECT_EQ(parts->data, u"report.final.txt");
  EXPECT_EQ(parts->name, u"report.final");
  EXPECT_EQ(parts->extension, u".txt");
  parts = SplitAuditPath(u"\\\\server\\share/dir.d/file");
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->drive, u"");
  EXPECT_EQ(parts->folder, u"\\\\server\\share/dir.d/");
  EXPECT_EQ(parts->extension, u"");

  const auto fill = [](size_t n, char16_t c) { return Text(n, c); };
  struct Case {
    const char* name;
    Text path;
    bool ok;
  } const cases[] = {
      {"empty", u"", false},
      {"NUL inside", u"C:\\a"s + u'\0' + u".txt", false},
      {"folder 255", u"C:\\" + fill(253, u'f') + u"\\a.txt", true},
      {"folder 256", u"C:\\" + fill(254, u'f') + u"\\a.txt", false},
      {"folder 257", u"C:\\" + fill(255, u'f') + u"\\a.txt", false},
      {"name 255", u"C:\\" + fill(255, u'n') + u".txt", true},
      {"name 256", u"C:\\" + fill(256, u'n') + u".txt", false},
      {"name 257", u"C:\\" + fill(257, u'n') + u".txt", false},
      {"extension 255", u"C:\\a." + fill(254, u'e'), true},
      {"extension 256", u"C:\\a." + fill(255, u'e'), false},
      {"extension 257", u"C:\\a." + fill(256, u'e'), false},
      {"joined 259", u"C:\\" + fill(200, u'n') + u"." + fill(58, u'e'), true},
      {"joined 260", u"C:\\" + fill(200, u'n') + u"." + fill(59, u'e'), true},
      {"joined 261", u"C:\\" + fill(200, u'n') + u"." + fill(60, u'e'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SplitAuditPath(c.path).has_value(), c.ok);
  }
}

}  // namespace

// The update offer document, hostile and ordinary, and the notice content it carries.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "TestStrings.h"
#include "update/UpdateNotice.h"

namespace {

const MString kUntouched = u"untouched"_ms;

TEST(UpdateNotice, ExtractorsOnDocuments) {
  // clang-format off
  const struct { const char* name; std::u16string_view document;
                 std::optional<std::u16string_view> meta, version; } cases[] = {
      {"typical", u"<?xml version=\"1.0\"?><update version=\"35.0.0.1\" size=\"9\"><meta name=\"n\">"
                  u"message \"Hi\";</meta></update>", u"message \"Hi\";", u"35.0.0.1"},
      {"quoted attribute before version", u"<update id=\"7\" version=\"35\">", {}, u"35"},
      {"another v-attribute first", u"<update vendor=\"k\" version=\"35\">", {}, {}},
      {"a later tag still counts", u"<update vendor=\"k\" version=\"35\"><update version=\"36\">", {}, u"36"},
      {"letters of update before the first v", u"<updatevalue version=\"1\">", {}, {}},
      {"opening quote outside the tag", u"<update version=35>\"36\"", {}, {}},
      {"closing quote outside the tag", u"<update version=\"35>\"", {}, {}},
      {"empty version, then another tag", u"<update version=\"\"><update version=\"7\">", {}, u"7"},
      {"no closing bracket", u"<update version=\"8\"", {}, u"8"},
      {"bracket opens inside a tag", u"<x <update version=\"8\">", {}, {}},
      {"empty element", u"<meta></meta>", u"", {}},
      {"longer meta name", u"<metadata a=\"b\">x</metadata>", u"x", {}},
      {"tags inside stay text", u"<meta><b>bold</b> <i>x</meta>", u"<b>bold</b> <i>x", {}},
      {"only the first element", u"<meta>a</meta><meta>b</meta>", u"a", {}},
      {"unterminated", u"<meta>abc</met", {}, {}},
      {"open quote and version inside", u"<meta>\"<update version=\"3\"></meta>", u"\"<update version=\"3\">", u"3"},
      {"NULs are units", std::u16string_view(u"<meta>a\0b</meta><update version=\"\0\">", 36),
       std::u16string_view(u"a\0b", 3), std::u16string_view(u"\0", 1)},
      {"empty", u"", {}, {}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MString meta = kUntouched, version = kUntouched;
    EXPECT_EQ(ExtractMetaText(Raw(c.document), &meta), c.meta.has_value());
    EXPECT_EQ(Show(meta), Show(c.meta ? Raw(*c.meta) : kUntouched));
    EXPECT_EQ(ExtractUpdateVersion(Raw(c.document), &version), c.version.has_value());
    EXPECT_EQ(Show(version), Show(c.version ? Raw(*c.version) : kUntouched));
  }
  MString out = kUntouched;
  EXPECT_FALSE(ExtractMetaText(MString(), &out) || ExtractUpdateVersion(MString(), &out));
  EXPECT_EQ(Show(out), "untouched");
}

TEST(UpdateNotice, DecodesQuotesFirstThenEntities) {
  const std::pair<const char16_t*, const char*> cases[] = {
      {u"message \"Hi\";", "message 'Hi';"},
      {u"message &quot;Hi&quot;;", "message \"Hi\";"},
      {u"\"&quot;\"", "'\"'"},
      {u"&apos;a&nbsp;b&nbsp;&nbsp;", "'a b  "},
      {u"&amp;quot;&quot&NBSP;", "&amp;quot;&quot&NBSP;"},
      {u"", ""},
  };
  for (const auto& [content, decoded] : cases) {
    EXPECT_EQ(Show(DecodeNoticeContent(MString(content))), decoded) << Show(MString(content));
  }
}

// The new entry goes in front and wins lookups; nothing to parse leaves the list alone.
TEST(UpdateNotice, ParsedContentGoesInFrontOfTheList) {
  MConfigList texts;
  AppendParsedConfigText(texts, u"message older; autoUpdateMode 2;"_ms);
  MConfigNode* list = texts.get();
  for (const MString& bad : {MString(), u""_ms, u"<meta>unterminated"_ms, u"<update>"_ms}) {
    EXPECT_FALSE(ParseNoticeContent(&list, bad)) << Show(bad);
  }
  EXPECT_FALSE(ParseNoticeContent(nullptr, u"<meta></meta>"_ms));
  ASSERT_EQ(list, texts.get());
  ASSERT_TRUE(ParseNoticeContent(&list, u"<meta>message &quot;Hi&nbsp;there&quot;;</meta>"_ms));
  ASSERT_TRUE(ParseNoticeContent(&list, u"<meta></meta>"_ms));
  std::ignore = texts.release();
  texts.reset(list);
  EXPECT_EQ(list->children, nullptr);
  EXPECT_EQ(Show(ConfigValue(FindConfigNodeInTexts(list, u"message"_ms), 0)), "Hi there");
  EXPECT_EQ(Show(ConfigValue(FindConfigNodeInTexts(list, u"autoUpdateMode"_ms), 0)), "2");
  EXPECT_EQ(list->next->next->next, nullptr);
}

}  // namespace

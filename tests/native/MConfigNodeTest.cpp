#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "TestStrings.h"
#include "foundation/MConfigNode.h"

namespace {

MConfigList Parse(std::u16string_view text) {
  return ParseConfigText(Raw(text));
}

// A level as "name=[value,value]{children} next ...", in list order.
std::string Dump(const MConfigNode* list) {
  std::string out;
  for (const MConfigNode* node = list; node != nullptr; node = node->next) {
    if (!out.empty()) out += ' ';
    out += Show(node->name);
    if (node->values != nullptr) {
      out += "=[";
      for (const MConfigNode* v = node->values; v != nullptr; v = v->next) {
        out += Show(v->name) + (v->next != nullptr ? "," : "]");
      }
    }
    if (node->children != nullptr) out += "{" + Dump(node->children) + "}";
  }
  return out;
}

std::string FirstValue(const MConfigNode* node) {
  return node == nullptr ? "<not found>" : Show(ConfigValue(node, 0));
}

struct ParseCase {
  std::u16string_view text;
  const char* tree;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
  *os << '"' << Show(Raw(c.text)) << '"';
}

class ParseConfigTextTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseConfigTextTest, BuildsTheTree) {
  EXPECT_EQ(Dump(Parse(GetParam().text).get()), GetParam().tree);
}

using std::literals::operator""sv;

INSTANTIATE_TEST_SUITE_P(
    Statements, ParseConfigTextTest,
    ::testing::Values(ParseCase{u"", ""}, ParseCase{u" \t\r\n;;", ""}, ParseCase{u"a;", "a"},
                      ParseCase{u"a 1 2;", "a=[1,2]"},
                      ParseCase{u"a 1; b 2; c;", "c b=[2] a=[1]"},  // newest first, values in order
                      ParseCase{u"a\t1\r\n2\n;", "a=[1,2]"}, ParseCase{u"a 1", "a=[1]"},
                      ParseCase{u"a 1; a 2;", "a=[2] a=[1]"}, ParseCase{u"a;b;", "b a"},
                      ParseCase{u"\"a b\" \"x;{} y\";", "a b=[x;{} y]"},
                      ParseCase{u"a\"b\"c;", "a=[b,c]"},  // a quote ends a token on both sides
                      ParseCase{u"a \"\" b;", "a=[b]"},   // an empty quoted token adds nothing
                      ParseCase{u"a \"open to the end", "a=[open to the end]"},
                      // Only the listed ASCII units end a token; these share their low byte.
                      ParseCase{u"a\u013Bb\u0120c\u017B\u0122;", "a\\u013Bb\\u0120c\\u017B\\u0122"},
                      ParseCase{u"\u4E2D \u6587;", "\\u4E2D=[\\u6587]"},
                      // A NUL unit stops the parse, quoted or not.
                      ParseCase{u"a;\0b;"sv, "a"}, ParseCase{u"a \"x\0y\" z;"sv, "a=[x]"},
                      ParseCase{u"a\0"sv, "a"}));

INSTANTIATE_TEST_SUITE_P(
    Blocks, ParseConfigTextTest,
    ::testing::Values(ParseCase{u"a { b 1; c; }", "a{c b=[1]}"}, ParseCase{u"a{b{c;}}", "a{b{c}}"},
                      ParseCase{u"a; b { x; } c;", "b=[c]{x} a"},
                      // No node at this level yet: only the '{' goes, and the '}' then ends
                      // the top level.
                      ParseCase{u"{ a; } b;", "a"}, ParseCase{u"a; } b;", "a"},
                      ParseCase{u"a { { b; } c; } d;", "a=[c]{b}"},
                      // A second block after the same node goes in front of the first.
                      ParseCase{u"a { b; } { c; }", "a{c b}"},
                      ParseCase{u"a { b; } c; { d; }", "a=[c]{d b}"},
                      // ';' alone closes a statement: values after a block still belong to it.
                      ParseCase{u"a { b; } c;", "a=[c]{b}"},
                      ParseCase{u"a x { b; } y;", "a=[x,y]{b}"},
                      // The block hangs under the newest node of the level, even a closed one.
                      ParseCase{u"a; b; { c; }", "b{c} a"},
                      // Unclosed blocks keep what they parsed.
                      ParseCase{u"a { b; c { d", "a{c{d} b}"}, ParseCase{u"a {", "a"}));

// A configuration like the ones the product ships, with two nodes of the
// same name whose children differ.
constexpr std::u16string_view kConfig =
    u"Product { Name \"Glint Player\"; Version 34 0; };\n"
    u"Plugins { Audio { Codec pcm; }; };\n"
    u"Product { Vendor Acme; };\n"
    u"Deep { a { b { c 1; }; }; }; Deep { a { b { d 2; }; }; };\n";

struct FindCase {
  const char16_t* path;
  const char* exact;
  const char* byPrefix;
};

TEST(FindConfigNode, DottedPathsWithBacktracking) {
  MConfigList list = Parse(kConfig);
  const FindCase cases[] = {
      {u"Product.Name", "Glint Player", "Glint Player"},  // found in the second Product
      {u"Product.Vendor", "Acme", "Acme"},
      {u"Product", "<null>", "<null>"},  // the newest Product, which has no values
      {u"Plugins.Audio.Codec", "pcm", "pcm"},
      {u"Deep.a.b.c", "1", "1"},  // backtracks two levels up
      {u"Deep.a.b.d", "2", "2"},
      {u"ProductX.NameY", "<not found>", "Glint Player"},
      {u"Prod.Name", "<not found>", "<not found>"},  // a segment shorter than the name
      {u"product.name", "<not found>", "<not found>"},
      {u"Product.Missing", "<not found>", "<not found>"},
      {u"Product.Name.More", "<not found>", "<not found>"},
      {u"", "<not found>", "<not found>"},
      {u".", "<not found>", "<not found>"},
      {u"Product.", "<not found>", "<not found>"},
      {u".Product", "<not found>", "<not found>"},
      {u"Product..Name", "<not found>", "<not found>"},
      {nullptr, "<not found>", "<not found>"},
  };
  for (const auto& c : cases) {
    MString path = c.path == nullptr ? MString() : MString(c.path);
    EXPECT_EQ(FirstValue(FindConfigNode(list.get(), path)), c.exact) << Show(path);
    EXPECT_EQ(FirstValue(FindConfigNodeByPrefix(list.get(), path)), c.byPrefix) << Show(path);
  }
  const MConfigNode* version = FindConfigNode(list.get(), u"Product.Version"_ms);
  EXPECT_EQ(ConfigValueCount(version), 2u);
  EXPECT_EQ(Show(ConfigValue(version, 1)), "0");
  EXPECT_TRUE(ConfigValue(version, 2).IsNull());
  EXPECT_EQ(ConfigValueCount(nullptr), 0u);
  EXPECT_TRUE(ConfigValue(nullptr, 0).IsNull());
  EXPECT_EQ(FindConfigNode(nullptr, u"Product"_ms), nullptr);
}

TEST(FindConfigNode, NewestAppendedTextIsSearchedFirst) {
  MConfigList texts;
  EXPECT_EQ(FindConfigNodeInTexts(texts.get(), u"Name"_ms), nullptr);
  AppendParsedConfigText(texts, u"Name first; Only first; Group { Key one; }"_ms);
  AppendParsedConfigText(texts, u"Name second; Group { Other two; }"_ms);
  AppendParsedConfigText(texts, MString());
  EXPECT_EQ(FirstValue(FindConfigNodeInTexts(texts.get(), u"Name"_ms)), "second");
  EXPECT_EQ(FirstValue(FindConfigNodeInTexts(texts.get(), u"Only"_ms)), "first");
  EXPECT_EQ(FirstValue(FindConfigNodeInTexts(texts.get(), u"Group.Key"_ms)), "one");
  EXPECT_EQ(FirstValue(FindConfigNodeInTexts(texts.get(), u"Group.Other"_ms)), "two");
  EXPECT_EQ(FirstValue(FindConfigNodeByPrefixInTexts(texts.get(), u"NameX"_ms)), "second");
  EXPECT_EQ(FindConfigNodeInTexts(texts.get(), u"Missing"_ms), nullptr);
}

// ---------------------------------------------------------------------------
// Hostile text: nothing here may crash, overflow the stack or leak.

size_t DepthAlongChildren(const MConfigNode* node) {
  size_t depth = 0;
  for (; node != nullptr; node = node->children) ++depth;
  return depth;
}

TEST(ParseConfigTextHostile, DeeplyNestedBlocks) {
  constexpr size_t kDepth = 100000;
  std::u16string open, closed;
  for (size_t i = 0; i < kDepth; ++i) open += u"a{";
  closed = open + std::u16string(kDepth, u'}') + u"after;";

  MConfigList unclosed = Parse(open);
  EXPECT_EQ(DepthAlongChildren(unclosed.get()), kDepth);
  MConfigList balanced = Parse(closed);
  EXPECT_EQ(DepthAlongChildren(balanced.get()), kDepth);  // "after" is a value of the open "a"
  EXPECT_EQ(FirstValue(balanced.get()), "after");

  // Lookups recurse once per path segment, not per level of the tree.
  std::u16string path = u"a";
  for (int i = 1; i < 1000; ++i) path += u".a";
  EXPECT_NE(FindConfigNode(balanced.get(), MString(path.data(), path.size())), nullptr);
  EXPECT_EQ(FindConfigNode(balanced.get(), u"a.b"_ms), nullptr);

  // Braces with no node to hang under do not nest at all.
  EXPECT_EQ(Dump(Parse(u"a" + std::u16string(kDepth, u'{') + u"b;").get()), "a{b}");
  EXPECT_EQ(Parse(std::u16string(kDepth, u'{')), nullptr);
}

TEST(ParseConfigTextHostile, HugeTokensAndManyNodes) {
  std::u16string token(1 << 20, u'x');
  MConfigList one = Parse(u"\"" + token + u" " + token);  // unterminated quote
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->name.Length(), 2u * token.size() + 1);

  std::u16string many;
  for (int i = 0; i < 100000; ++i) many += u"n v v v;";
  MConfigList list = Parse(many);
  size_t count = 0;
  for (const MConfigNode* node = list.get(); node != nullptr; node = node->next) {
    ASSERT_EQ(ConfigValueCount(node), 3u);
    ++count;
  }
  EXPECT_EQ(count, 100000u);
}

}  // namespace

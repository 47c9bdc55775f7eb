#include <gtest/gtest.h>

#include "TestStrings.h"
#include "foundation/MConfigNode.h"

namespace {

using namespace std::literals;

MConfigList Parse(std::u16string_view text) {
  return ParseConfigText(Raw(text));
}

// A level as "name=[value,value]{children} next ...", in list order.
std::string Dump(const MConfigNode* list) {
  std::string out;
  for (const MConfigNode* node = list; node != nullptr; node = node->next) {
    out += (out.empty() ? "" : " ") + Show(node->name);
    for (const MConfigNode* v = node->values; v != nullptr; v = v->next) {
      out += (v == node->values ? "=[" : ",") + Show(v->name) + (v->next ? "" : "]");
    }
    if (node->children != nullptr) out += "{" + Dump(node->children) + "}";
  }
  return out;
}
std::string First(const MConfigNode* node) {
  return node == nullptr ? "<not found>" : Show(ConfigValue(node, 0));
}

TEST(ParseConfigText, StatementsAndBlocks) {
  // clang-format off
  const std::pair<std::u16string_view, const char*> cases[] = {
      {u"", ""}, {u" \t\r\n;;", ""}, {u"a;", "a"}, {u"a 1 2;", "a=[1,2]"},
      {u"a 1; b 2; c;", "c b=[2] a=[1]"}, {u"a\t1\r\n2\n;", "a=[1,2]"}, {u"a 1", "a=[1]"},
      {u"a 1; a 2;", "a=[2] a=[1]"}, {u"a;b;", "b a"}, {u"\"a b\" \"x;{} y\";", "a b=[x;{} y]"},
      {u"a\"b\"c;", "a=[b,c]"} /* a quote ends a token */, {u"a \"\" b;", "a=[b]"},
      {u"a \"open to the end", "a=[open to the end]"},
      // Only the listed ASCII units end a token (these share their low byte); a NUL unit stops it.
      {u"a\u013Bb\u0120c\u017B\u0122;", "a\\u013Bb\\u0120c\\u017B\\u0122"},
      {u"\u4E2D \u6587;", "\\u4E2D=[\\u6587]"}, {u"a;\0b;"sv, "a"}, {u"a \"x\0y\" z;"sv, "a=[x]"},
      {u"a\0"sv, "a"}, {u"a\u0100b;", "a\\u0100b"}, {u"a { b 1; c; }", "a{c b=[1]}"},
      {u"a{b{c;}}", "a{b{c}}"}, {u"a; b { x; } c;", "b=[c]{x} a"},
      // No node at this level yet: only the '{' goes, and the '}' then ends the top level.
      {u"{ a; } b;", "a"}, {u"a; } b;", "a"}, {u"a { { b; } c; } d;", "a=[c]{b}"},
      {u"a { b; } { c; }", "a{c b}"} /* a second block goes in front */,
      {u"a { b; } c; { d; }", "a=[c]{d b}"},
      {u"a { b; } c;", "a=[c]{b}"} /* only ';' closes */, {u"a x { b; } y;", "a=[x,y]{b}"},
      {u"a; b; { c; }", "b{c} a"} /* under the newest node, even a closed one */,
      {u"a { b; c { d", "a{c{d} b}"}, {u"a {", "a"}};
  // clang-format on
  for (const auto& [text, tree] : cases)
    EXPECT_EQ(Dump(Parse(text).get()), tree) << Show(Raw(text));
}

TEST(FindConfigNode, DottedPathsWithBacktrackingAndAppendedTexts) {
  // Two nodes of the same name whose children differ.
  MConfigList list = Parse(
      u"Product { Name \"Glint Player\"; Version 34 0; };\nPlugins { Audio { Codec pcm; }; };\n"
      u"Product { Vendor Acme; };\nDeep { a { b { c 1; }; }; }; Deep { a { b { d 2; }; }; };\n");
  // clang-format off
  const struct { const char16_t* path; const char *exact, *byPrefix; } cases[] = {
      {u"Product.Name", "Glint Player", "Glint Player"}, {u"Product.Vendor", "Acme", "Acme"},
      {u"Product", "<null>", "<null>"} /* the newest */, {u"Plugins.Audio.Codec", "pcm", "pcm"},
      {u"Deep.a.b.c", "1", "1"} /* backtracks two levels */, {u"Deep.a.b.d", "2", "2"},
      {u"ProductX.NameY", "<not found>", "Glint Player"},
      {u"Prod.Name", "<not found>", "<not found>"}, {u"product.name", "<not found>", "<not found>"},
      {u"Product.Missing", "<not found>", "<not found>"},
      {u"Product.Name.More", "<not found>", "<not found>"}, {u"", "<not found>", "<not found>"},
      {u".", "<not found>", "<not found>"}, {u"Product.", "<not found>", "<not found>"},
      {u".Product", "<not found>", "<not found>"}, {u"Product..Name", "<not found>", "<not found>"},
      {nullptr, "<not found>", "<not found>"}};
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(First(FindConfigNode(list.get(), Str(c.path))), c.exact) << Show(Str(c.path));
    EXPECT_EQ(First(FindConfigNodeByPrefix(list.get(), Str(c.path))), c.byPrefix)
        << Show(Str(c.path));
  }
  const MConfigNode* version = FindConfigNode(list.get(), u"Product.Version"_ms);
  EXPECT_EQ(ConfigValueCount(version), 2u);
  EXPECT_EQ(Show(ConfigValue(version, 1)), "0");
  EXPECT_TRUE(ConfigValue(version, 2).IsNull() && ConfigValue(nullptr, 0).IsNull());
  EXPECT_EQ(ConfigValueCount(nullptr), 0u);
  EXPECT_EQ(FindConfigNode(nullptr, u"Product"_ms), nullptr);

  MConfigList texts;  // the newest appended text is searched first
  EXPECT_EQ(FindConfigNodeInTexts(texts.get(), u"Name"_ms), nullptr);
  AppendParsedConfigText(texts, u"Name first; Only first; Group { Key one; }"_ms);
  AppendParsedConfigText(texts, u"Name second; Group { Other two; }"_ms);
  AppendParsedConfigText(texts, MString());
  EXPECT_EQ(First(FindConfigNodeInTexts(texts.get(), u"Name"_ms)), "second");
  EXPECT_EQ(First(FindConfigNodeInTexts(texts.get(), u"Only"_ms)), "first");
  EXPECT_EQ(First(FindConfigNodeInTexts(texts.get(), u"Group.Key"_ms)), "one");
  EXPECT_EQ(First(FindConfigNodeInTexts(texts.get(), u"Group.Other"_ms)), "two");
  EXPECT_EQ(First(FindConfigNodeByPrefixInTexts(texts.get(), u"NameX"_ms)), "second");
  EXPECT_EQ(FindConfigNodeInTexts(texts.get(), u"Missing"_ms), nullptr);
  MString value, child;  // freeing a list releases its nodes, their values and their children
  {
    MConfigList owner = Parse(u"a b { c d; };");
    value = ConfigValue(owner.get(), 0), child = ConfigValue(owner->children, 0);
    EXPECT_EQ(value.Buffer()->count + child.Buffer()->count, 4);
  }
  EXPECT_EQ(value.Buffer()->count + child.Buffer()->count, 2);
}

// Hostile text: nothing may crash, overflow the stack or leak.
TEST(ParseConfigText, DeepNestingHugeTokensAndManyNodes) {
  constexpr size_t kDepth = 100000;
  std::u16string open;
  for (size_t i = 0; i < kDepth; ++i) open += u"a{";
  auto depth = [](const MConfigNode* node) {
    size_t n = 0;
    for (; node != nullptr; node = node->children) ++n;
    return n;
  };
  EXPECT_EQ(depth(Parse(open).get()), kDepth);
  MConfigList balanced = Parse(open + std::u16string(kDepth, u'}') + u"after;");
  EXPECT_EQ(depth(balanced.get()), kDepth);
  EXPECT_EQ(First(balanced.get()), "after");  // a value of the open "a"
  std::u16string path = u"a";                 // lookups recurse per path segment, not per level
  for (int i = 1; i < 1000; ++i) path += u".a";
  EXPECT_NE(FindConfigNode(balanced.get(), Raw(path)), nullptr);
  EXPECT_EQ(FindConfigNode(balanced.get(), u"a.b"_ms), nullptr);
  EXPECT_EQ(Dump(Parse(u"a" + std::u16string(kDepth, u'{') + u"b;").get()), "a{b}");
  EXPECT_EQ(Parse(std::u16string(kDepth, u'{')), nullptr);

  std::u16string token(1 << 20, u'x');
  MConfigList one = Parse(u"\"" + token + u" " + token);  // unterminated quote
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->name.Length(), 2u * token.size() + 1);
  std::u16string many;
  for (int i = 0; i < 100000; ++i) many += u"n v v v;";
  MConfigList list = Parse(many);
  size_t count = 0;
  for (const MConfigNode* node = list.get(); node != nullptr; node = node->next, ++count) {
    ASSERT_EQ(ConfigValueCount(node), 3u);
  }
  EXPECT_EQ(count, 100000u);
}

}  // namespace

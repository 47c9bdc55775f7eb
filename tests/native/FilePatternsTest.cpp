// Removal by pattern; an over-long joined path is never acted on.
#include <gtest/gtest.h>

#include <string>

#include "TestStrings.h"
#include "engine/FilePatterns.h"
#include "engine/SetupRules.h"

namespace {

using namespace std::literals;

TEST(FilePatterns, PrefixBeforeFirstColonSuffixAfterLast) {
  // clang-format off
  const struct { std::u16string_view name, pattern; bool match; } cases[] = {
      {u"abc_64.dll", u"abc:.dll", true}, {u"xabc.dll", u"abc:.dll", false},
      {u"abc_64.dl", u"abc:.dll", false}, {u"GlintAX.ocx", u"GlintAX", true} /* all prefix */,
      {u"xGlintAX.ocx", u"GlintAX", false}, {u"abc_64.dll", u"abc:_32:.dll", true},
      {u"abc_64.dll", u"abc::.dll", true}, {u"abc_64.dll", u"abc:.dll:", true},
      {u"abc_64.dll", u":.dll", true}, {u"abc_64.dll", u"abc:", true}, {u"abc_64.dll", u":", false},
      {u"abc_64.dll", u"", false}, {u"", u"", false}, {u"abc", u"::", false}, {u"", u"a:", false},
      {u"ABC_64.dll", u"abc:.dll", false}, {u"abc_64.DLL", u"abc:.dll", false},
      {u"abc", u"abcd:", false}, {u"abc", u":xabc", false},  // longer than the name
      {u"abc", u"abc:abc", true}, {u"abc", u"ab:bc", true},  // the parts may overlap
      {u"a\0c.dll"sv, u"a\0:.dll"sv, true}, {u"a.dll", u"a\0:.dll"sv, false},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesFilePattern(Raw(c.name), Raw(c.pattern)), c.match)
        << Show(Raw(c.name)) << " ~ " << Show(Raw(c.pattern));
  }
}

TEST(FilePatterns, ListingsLastMatchWinsAndLongPathsAreLeftAlone) {
  const MString folder = u"C:\\windows\\system32\\Kestreli\\Glint"_ms;
  // Joined to this folder an 18-unit name makes 259 units (it fits), a 19-unit one 260.
  const MString deep = MString(std::u16string(240, u'k').c_str());
  MStringList listing;
  for (auto name : {u"GlintAX_33.ocx", u"gcs.cfg", u"GlintAX_34.ocx", u"xGlintAX_35.ocx"}) {
    listing.AddName(MString(name));
  }
  listing.AddName(u"GlintAX_367890.ocx"_ms);
  listing.AddName(u"GlintAX_3678901.ocx"_ms);
  // clang-format off
  const struct { const char16_t* pattern; const MString& folder; const char *last, *all; } cases[] = {
      {u"GlintAX:.ocx", folder, "GlintAX_3678901.ocx",
       "GlintAX_33.ocx|GlintAX_34.ocx|GlintAX_367890.ocx|GlintAX_3678901.ocx"},
      {u"gcs.cfg", folder, "gcs.cfg", "gcs.cfg"},
      {u"GlintAX:.dll", folder, nullptr, ""}, {u"glintax:", folder, nullptr, ""},
      {u"GlintAX_3:.ocx", deep, nullptr, "GlintAX_33.ocx|GlintAX_34.ocx|GlintAX_367890.ocx"},
      {u"GlintAX_367890.", deep, "GlintAX_367890.ocx", "GlintAX_367890.ocx"},
  };
  // clang-format on
  for (const auto& c : cases) {
    MString path = u"untouched"_ms;
    ASSERT_EQ(FindLastListingMatch(listing, Str(c.pattern), c.folder, &path), c.last != nullptr);
    EXPECT_TRUE(c.last ? Equals(path, c.folder + u"\\"_ms + FromNarrow(c.last))
                       : Equals(path, u"untouched"_ms));
    MStringList paths;
    EXPECT_EQ(CollectListingMatches(listing, Str(c.pattern), c.folder, paths), *c.all != 0);
    std::string all;
    for (const auto& node : paths) {
      ASSERT_TRUE(StartsWith(node.key, c.folder + u"\\"_ms)) << Show(node.key);
      EXPECT_LE(node.key.Length(), 259u);
      all += (all.empty() ? "" : "|") + Show(LastName(node.key));
    }
    EXPECT_EQ(all, c.all) << Show(Str(c.pattern));
  }
  MString path;
  EXPECT_TRUE(JoinPathWithin(u"C:\\a\\"_ms, u"\\b"_ms, &path) && Equals(path, u"C:\\a\\b"_ms));
}

}  // namespace

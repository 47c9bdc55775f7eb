// Removal by pattern: the "prefix:suffix" rule at its edges, the listing
// lookups (the last match wins) and the path-buffer limit that keeps an
// over-long joined path from being acted on.
#include <gtest/gtest.h>

#include <string>

#include "TestStrings.h"
#include "engine/FilePatterns.h"

namespace {

using namespace std::literals;

const MString kProductFolder = u"C:\\windows\\system32\\Kestreli\\Glint"_ms;

// A folder whose join with a name of `nameLength` units is `total` units long.
MString FolderFor(uint32_t total, uint32_t nameLength) {
  return MString(std::u16string(total - nameLength - 1, u'k').c_str());
}

MString Listed(const MStringList& list) {
  MString out = u""_ms;
  for (const auto& node : list) out += (out.IsEmpty() ? u""_ms : u"|"_ms) + node.key;
  return out;
}

TEST(FilePatterns, PrefixBeforeFirstColonSuffixAfterLast) {
  // clang-format off
  const struct { std::u16string_view name, pattern; bool match; const char *prefix, *suffix; } cases[] = {
      {u"abc_64.dll", u"abc:.dll", true, "abc", ".dll"},
      {u"xabc.dll", u"abc:.dll", false, "abc", ".dll"},
      {u"abc_64.dl", u"abc:.dll", false, "abc", ".dll"},
      {u"GlintAX.ocx", u"GlintAX", true, "GlintAX", ""},  // no colon: all prefix
      {u"xGlintAX.ocx", u"GlintAX", false, "GlintAX", ""},
      {u"abc_64.dll", u"abc:_32:.dll", true, "abc", ".dll"},  // the middle part is ignored
      {u"abc_64.dll", u"abc::.dll", true, "abc", ".dll"},
      {u"abc_64.dll", u"abc:.dll:", true, "abc", ""},
      {u"abc_64.dll", u":.dll", true, "", ".dll"},
      {u"abc_64.dll", u"abc:", true, "abc", ""},
      {u"abc_64.dll", u":", true, "", ""},  // empty parts match any name
      {u"abc_64.dll", u"", true, "", ""},
      {u"", u"", true, "", ""},
      {u"", u"a:", false, "a", ""},
      {u"ABC_64.dll", u"abc:.dll", false, "abc", ".dll"},  // case-sensitive both ends
      {u"abc_64.DLL", u"abc:.dll", false, "abc", ".dll"},
      {u"abc", u"abcd:", false, "abcd", ""},  // longer than the name
      {u"abc", u":xabc", false, "", "xabc"},
      {u"abc", u"abc:abc", true, "abc", "abc"},  // the parts may overlap
      {u"abc", u"ab:bc", true, "ab", "bc"},
      {u"a\0c.dll"sv, u"a\0:.dll"sv, true, "a\\u0000", ".dll"},  // a NUL is a unit like others
      {u"a.dll", u"a\0:.dll"sv, false, "a\\u0000", ".dll"},
  };
  // clang-format on
  for (const auto& c : cases) {
    const MString name = Raw(c.name), pattern = Raw(c.pattern);
    EXPECT_EQ(MatchesFilePattern(name, pattern), c.match) << Show(name) << " ~ " << Show(pattern);
    const FilePattern parts = SplitFilePattern(pattern);
    EXPECT_EQ(Show(parts.prefix), c.prefix) << Show(pattern);
    EXPECT_EQ(Show(parts.suffix), c.suffix) << Show(pattern);
  }
  EXPECT_TRUE(MatchesFilePattern(u"abc"_ms, MString()));
  EXPECT_FALSE(MatchesFilePattern(MString(), u"a"_ms));
}

TEST(FilePatterns, JoinedPathMustFitTheBuffer) {
  // clang-format off
  const struct { MString folder, name; const char* joined; } cases[] = {
      {u"C:\\a"_ms, u"b.dll"_ms, "C:\\a\\b.dll"},
      {u"C:\\a\\"_ms, u"b.dll"_ms, "C:\\a\\b.dll"},  // one separator only
      {u"C:\\a"_ms, u"\\b.dll"_ms, "C:\\a\\b.dll"},
      {u""_ms, u"b.dll"_ms, "b.dll"},
      {FolderFor(259, 5), u"b.dll"_ms, ""},  // 259 units and the NUL fit
      {FolderFor(260, 5), u"b.dll"_ms, nullptr},
      {FolderFor(300, 5), u"b.dll"_ms, nullptr},
  };
  // clang-format on
  for (const auto& c : cases) {
    MString path = u"untouched"_ms;
    ASSERT_EQ(JoinPathWithin(c.folder, c.name, &path), c.joined != nullptr) << c.folder.Length();
    if (c.joined == nullptr) {
      EXPECT_EQ(Show(path), "untouched");
    } else if (*c.joined == 0) {
      EXPECT_EQ(path.Length(), 259u);
      EXPECT_TRUE(EndsWith(path, u"k\\b.dll"_ms));
    } else {
      EXPECT_EQ(Show(path), c.joined);
    }
  }
}

TEST(FilePatterns, SystemListingLastMatchWins) {
  MStringList listing;
  for (auto name : {u"GlintAX_33.ocx", u"gcs.cfg", u"GlintAX_34.ocx", u"xGlintAX_35.ocx"}) {
    listing.AddName(MString(name));
  }
  const MString longName(std::u16string(250, u'n').c_str());
  // clang-format off
  const struct { const char16_t* pattern; const MString& folder; bool found; const char* path; } cases[] = {
      {u"GlintAX:.ocx", kProductFolder, true, "C:\\windows\\system32\\Kestreli\\Glint\\GlintAX_34.ocx"},
      {u"gcs.cfg", kProductFolder, true, "C:\\windows\\system32\\Kestreli\\Glint\\gcs.cfg"},
      {u"GlintAX:.dll", kProductFolder, false, "untouched"},
      {u"glintax:.ocx", kProductFolder, false, "untouched"},
      // The last match does not fit: nothing is acted on, not an earlier match.
      {u"GlintAX:.ocx", longName, false, "untouched"},
  };
  // clang-format on
  for (const auto& c : cases) {
    MString path = u"untouched"_ms;
    EXPECT_EQ(FindLastListingMatch(listing, Str(c.pattern), c.folder, &path), c.found)
        << Show(Str(c.pattern));
    EXPECT_EQ(Show(path), c.path) << Show(Str(c.pattern));
  }
  MStringList empty;
  MString path;
  EXPECT_FALSE(FindLastListingMatch(empty, u":"_ms, kProductFolder, &path));
}

TEST(FilePatterns, UserBinListingCollectsEveryMatchThatFits) {
  const MString bin = u"C:\\users\\kim\\AppData\\Roaming\\Kestrelink\\Glint Player\\bin"_ms;
  MStringList listing;
  const MString tooLong = u"GlintInstall_"_ms + MString(std::u16string(200, u'9').c_str());
  for (auto name : {u"GlintInstall_1", u"other", u"GlintInstall_2"}) listing.AddName(MString(name));
  listing.AddName(tooLong);
  // clang-format off
  const struct { const char16_t* pattern; bool any; const char* paths; } cases[] = {
      {u"GlintInstall_", true,
       "C:\\users\\kim\\AppData\\Roaming\\Kestrelink\\Glint Player\\bin\\GlintInstall_1|"
       "C:\\users\\kim\\AppData\\Roaming\\Kestrelink\\Glint Player\\bin\\GlintInstall_2"},
      {u"other:", true, "C:\\users\\kim\\AppData\\Roaming\\Kestrelink\\Glint Player\\bin\\other"},
      {u"Other", false, ""},
      {u"GlintInstall_:9", false, ""},  // matches only the entry that does not fit
  };
  // clang-format on
  for (const auto& c : cases) {
    MStringList paths;
    EXPECT_EQ(CollectListingMatches(listing, Str(c.pattern), bin, paths), c.any);
    EXPECT_EQ(Show(Listed(paths)), c.paths) << Show(Str(c.pattern));
  }
}

}  // namespace

// The engine's pure rules: versions, per-type keys, status details, string tables.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "engine/HostCallbacks.h"
#include "engine/ProductNames.h"
#include "engine/StatusDetail.h"
#include "engine/StringTables.h"
#include "engine/VersionCompare.h"

namespace {

TEST(VersionOrder, EachBoundaryOfThisBuildAndComponentsFromTheFront) {
  // clang-format off
  const std::pair<const char16_t*, InstalledVersionOrder> cases[] = {
      {u"34.0.0.384", kVersionSame}, {u"34.0.0.383", kVersionOlder}, {u"34.0.0.385", kVersionNewer},
      {u"34.0.1.0", kVersionNewer}, {u"34.1.0.0", kVersionNewer}, {u"34.0.0.0", kVersionOlder},
      {u"35.0.0.0", kVersionNewer}, {u"33.99.99.9999", kVersionOlder}, {u"34", kVersionOlder},
      {u"", kVersionOlder}, {u"34.0.0.384.1", kVersionSame}, {u"34.0.0.384beta", kVersionSame},
      {u"4294967330.0.0.384", kVersionSame} /* wraps to 34 in 32 bits */};
  // clang-format on
  for (const auto& [version, order] : cases)
    EXPECT_EQ(CompareWithOwnVersion(MString(version)), order) << ToUtf8(MString(version));
  for (const auto& [text, parts] :
       {std::pair{u"1.22.333.4444", "1 22 333 4444"}, {u"7..9", "7 0 9 0"}, {nullptr, "0 0 0 0"}}) {
    PlayerVersion v = ParsePlayerVersion(MString(text));
    EXPECT_EQ(std::to_string(v.major) + " " + std::to_string(v.minor) + " " +
                  std::to_string(v.build) + " " + std::to_string(v.revision),
              parts);
  }
}

TEST(PlayerKeys, TypesAndReleaseTypes) {
  const std::string key = "Software\\Kestrelink\\GlintPlayer",
                    release = "SOFTWARE\\Kestrelink\\GlintPlayer";
  EXPECT_EQ(ToUtf8(PlayerTypeKey(kPlayerActiveX)), key + "ActiveX");
  EXPECT_EQ(ToUtf8(PlayerTypeKey(kPlayerPlugin)), key + "Plugin");
  EXPECT_EQ(ToUtf8(PlayerTypeKey(kPlayerPepper)), key + "Pepper");
  EXPECT_EQ(ToUtf8(PlayerTypeKey(kPlayerActiveX | kPlayerPlugin)), key);
  EXPECT_TRUE(ReleaseTypeKey(0).IsNull() && ReleaseTypeKey(1024).IsNull());
  EXPECT_EQ(ToUtf8(ReleaseTypeKey(kPlayerActiveX)), release + "ActiveXReleaseType");
  // The last type of the mask, in ActiveX, plugin, Pepper order, wins.
  EXPECT_EQ(ToUtf8(ReleaseTypeKey(kPlayerActiveX | kPlayerPlugin)), release + "PluginReleaseType");
  EXPECT_EQ(ToUtf8(ReleaseTypeKey(kPlayerActiveX | kPlayerPepper | kPlayerPlugin)),
            release + "PepperReleaseType");
}

struct RecordingHost final : HostCallbacks {
  void ReportStatus(int32_t zero, int32_t level, uint32_t code, MStringArg detail) override {
    lines.push_back(std::to_string(zero) + "/" + std::to_string(level) + "/" +
                    std::to_string(code) + "/" + ToUtf8(MString::Adopt(detail)));
  }
  std::vector<std::string> lines;
};

TEST(StatusDetails, ErrorsRegistryFormsAndReportsToTheHost) {
  const MString path(u"C:\\a.ocx"), key(u"Software\\K");
  EXPECT_EQ(
      ToUtf8(HexError(0)) + " " + ToUtf8(HexError(0x80070005)) + " " + ToUtf8(DecimalError(32)),
      "0 80070005 32");
  EXPECT_EQ(ToUtf8(PathWithHexError(path, 5)) + "|" + ToUtf8(PathWithHexError(path, 0x20)),
            "C:\\a.ocx 5|C:\\a.ocx 20");
  EXPECT_EQ(ToUtf8(PathWithDecimalError(path, 0x20)), "C:\\a.ocx 32");
  // key, "/", value, " ", error; without the space; a key without a value name.
  EXPECT_EQ(ToUtf8(RegistryDetail(key, MString(u"Version"), 2)), "Software\\K/Version 2");
  EXPECT_EQ(ToUtf8(RegistryDetail(key, MString(u"Version"), 0x1A, false)), "Software\\K/Version1A");
  EXPECT_EQ(ToUtf8(RegistryDetail(key, MString(), 2)) + "|" +
                ToUtf8(RegistryDetail(key, MString(u""), 2)),
            "Software\\K 2|Software\\K 2");
  // Reports reach the host with level, code and detail; without a host nothing happens.
  RecordingHost host;
  ReportStatus(&host, kStatusError, 1037, MString(u"Software\\K/V 2"));
  ReportStatus(&host, kStatusProgress, 18);
  ReportStatus(nullptr, kStatusError, 1);
  EXPECT_EQ(host.lines, (std::vector<std::string>{"0/1/1037/Software\\K/V 2", "0/0/18/"}));
}

TEST(StringTables, LanguageChoosesItsTableOrItsPrimaryLanguagesOrEnglish) {
  size_t count = 0;
  const uint16_t* tables = StringTableLanguages(&count);
  ASSERT_EQ(count, 16u);
  for (size_t i = 0; i < count; ++i) EXPECT_EQ(StringTableLanguage(tables[i]), tables[i]);
  // clang-format off
  const std::pair<uint16_t, uint16_t> cases[] = {
      {0x0C0C /* fr-CA */, 0x040C}, {0x080A /* es-MX */, 0x0C0A}, {0x040A /* es, old sort */, 0x0C0A},
      {0x0C04 /* zh-HK */, 0x0404}, {0x1004 /* zh-SG */, 0x0804}, {0x7C04 /* zh-Hant */, 0x0404},
      {0x0004 /* zh-Hans */, 0x0804}, {0x041D /* sv-SE */, 0x001D}, {0x0809 /* en-GB */, 0x0409},
      {0x040B /* fi-FI */, 0x0409}, {0x0000, 0x0409}, {0xFFFF, 0x0409}, {0x0405, 0x0405}};
  // clang-format on
  for (const auto& [language, table] : cases)
    EXPECT_EQ(StringTableLanguage(language), table) << std::hex << language;
}

TEST(StringTables, OneStringOutOfABlockNeverReadsPastIt) {
  // Strings 32..47: 32 "ab", 33 empty, 34 "xyz", the rest empty.
  std::u16string block = {2, u'a', u'b', 0, 3, u'x', u'y', u'z'};
  block.append(13, u'\0');
  // clang-format off
  const std::tuple<size_t, uint32_t, const char*> cases[] = {
      {block.size(), 32, "ab"}, {block.size(), 33, ""}, {block.size(), 34, "xyz"},
      {block.size(), 47, ""}, {block.size(), 48, "ab"} /* index 0 of its own block */,
      {7, 34, "<null>"} /* the length unit is there, its text is cut */,
      {8, 34, "xyz"}, {4, 33, ""}, {3, 33, "<null>"}, {0, 32, "<null>"}};
  // clang-format on
  for (const auto& [units, id, expected] : cases) {
    MString s = StringFromTableBlock(block.data(), units, id);
    EXPECT_EQ(s.IsNull() ? "<null>" : ToUtf8(s), expected) << units << " " << id;
  }
  EXPECT_TRUE(StringFromTableBlock(nullptr, 16, 1).IsNull());
  const char16_t huge[] = {0xFFFF, u'a'};
  EXPECT_TRUE(StringFromTableBlock(huge, 2, 0).IsNull());
  EXPECT_EQ(StringTableBlockId(15), 1u);
  EXPECT_EQ(StringTableBlockId(16), 2u);
}

}  // namespace

// The engine's pure rules: version order, per-type keys and the detail
// strings of status reports.
#include <gtest/gtest.h>

#include "engine/HostCallbacks.h"
#include "engine/ProductNames.h"
#include "engine/StatusDetail.h"
#include "engine/VersionCompare.h"

namespace {

std::string U8(const MString& s) { return ToUtf8(s); }

TEST(VersionOrder, EachBoundaryOfThisBuild) {
  struct Case {
    const char16_t* version;
    InstalledVersionOrder expected;
  } cases[] = {
      {u"34.0.0.384", kVersionSame},    {u"34.0.0.383", kVersionOlder},
      {u"34.0.0.385", kVersionNewer},   {u"34.0.1.0", kVersionNewer},
      {u"34.1.0.0", kVersionNewer},     {u"34.0.0.0", kVersionOlder},
      {u"35.0.0.0", kVersionNewer},     {u"33.99.99.9999", kVersionOlder},
      {u"34", kVersionOlder},           {u"", kVersionOlder},
      {u"34.0.0.384.1", kVersionSame},  {u"34.0.0.384beta", kVersionSame},
      {u"4294967330.0.0.384", kVersionSame},  // wraps to 34 in 32 bits
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareWithOwnVersion(MString(c.version)), c.expected) << U8(MString(c.version));
  }
}

TEST(VersionOrder, ComponentsParseFromTheFront) {
  PlayerVersion v = ParsePlayerVersion(MString(u"1.22.333.4444"));
  EXPECT_EQ(v.major, 1u);
  EXPECT_EQ(v.minor, 22u);
  EXPECT_EQ(v.build, 333u);
  EXPECT_EQ(v.revision, 4444u);
  PlayerVersion partial = ParsePlayerVersion(MString(u"7..9"));
  EXPECT_EQ(partial.major, 7u);
  EXPECT_EQ(partial.minor, 0u);
  EXPECT_EQ(partial.build, 9u);
  EXPECT_EQ(partial.revision, 0u);
  PlayerVersion none = ParsePlayerVersion(MString());
  EXPECT_EQ(none.major + none.minor + none.build + none.revision, 0u);
}

TEST(PlayerKeys, TypesAndReleaseTypes) {
  EXPECT_EQ(U8(PlayerTypeKey(kPlayerActiveX)), "Software\\Kestrelink\\GlintPlayerActiveX");
  EXPECT_EQ(U8(PlayerTypeKey(kPlayerPlugin)), "Software\\Kestrelink\\GlintPlayerPlugin");
  EXPECT_EQ(U8(PlayerTypeKey(kPlayerPepper)), "Software\\Kestrelink\\GlintPlayerPepper");
  EXPECT_EQ(U8(PlayerTypeKey(kPlayerActiveX | kPlayerPlugin)), "Software\\Kestrelink\\GlintPlayer");
  EXPECT_EQ(U8(PlayerTypeKey(0)), "Software\\Kestrelink\\GlintPlayer");

  EXPECT_TRUE(ReleaseTypeKey(0).IsNull());
  EXPECT_TRUE(ReleaseTypeKey(1024).IsNull());
  EXPECT_EQ(U8(ReleaseTypeKey(kPlayerActiveX)),
            "SOFTWARE\\Kestrelink\\GlintPlayerActiveXReleaseType");
  // The last type of the mask, in ActiveX, plugin, Pepper order, wins.
  EXPECT_EQ(U8(ReleaseTypeKey(kPlayerActiveX | kPlayerPlugin)),
            "SOFTWARE\\Kestrelink\\GlintPlayerPluginReleaseType");
  EXPECT_EQ(U8(ReleaseTypeKey(kPlayerActiveX | kPlayerPepper | kPlayerPlugin)),
            "SOFTWARE\\Kestrelink\\GlintPlayerPepperReleaseType");
}

TEST(StatusDetails, ErrorsAndRegistryForms) {
  EXPECT_EQ(U8(HexError(0)), "0");
  EXPECT_EQ(U8(HexError(0x80070005)), "80070005");
  EXPECT_EQ(U8(DecimalError(32)), "32");
  EXPECT_EQ(U8(PathWithHexError(MString(u"C:\\a.ocx"), 5)), "C:\\a.ocx 5");
  EXPECT_EQ(U8(PathWithHexError(MString(u"C:\\a.ocx"), 0x20)), "C:\\a.ocx 20");
  EXPECT_EQ(U8(PathWithDecimalError(MString(u"C:\\a.ocx"), 0x20)), "C:\\a.ocx 32");
  // 1036 / 1037: key, "/", value, " ", error; 1035: no space.
  EXPECT_EQ(U8(RegistryDetail(MString(u"Software\\K"), MString(u"Version"), 2)),
            "Software\\K/Version 2");
  EXPECT_EQ(U8(RegistryDetail(MString(u"Software\\K"), MString(u"Version"), 0x1A, false)),
            "Software\\K/Version1A");
  // A key without a value name (deleting a key).
  EXPECT_EQ(U8(RegistryDetail(MString(u"Software\\K"), MString(), 2)), "Software\\K 2");
  EXPECT_EQ(U8(RegistryDetail(MString(u"Software\\K"), MString(u""), 2)), "Software\\K 2");
}

// Reports reach the host with their level, code and detail, and without a
// host nothing happens.
class RecordingHost final : public HostCallbacks {
 public:
  void ReportStatus(int32_t zero, int32_t level, uint32_t code, MStringArg detail) override {
    MString text = MString::Adopt(detail);
    lines.push_back(std::to_string(zero) + "/" + std::to_string(level) + "/" +
                    std::to_string(code) + "/" + U8(text));
  }
  std::vector<std::string> lines;
};

TEST(StatusDetails, ReportsReachTheHost) {
  RecordingHost host;
  ReportStatus(&host, kStatusError, 1037, MString(u"Software\\K/V 2"));
  ReportStatus(&host, kStatusProgress, 18);
  ReportStatus(nullptr, kStatusError, 1);
  ASSERT_EQ(host.lines.size(), 2u);
  EXPECT_EQ(host.lines[0], "0/1/1037/Software\\K/V 2");
  EXPECT_EQ(host.lines[1], "0/0/18/");
}

}  // namespace

// The engine's pure rules: version order, per-type keys and the detail
// strings of status reports.
#include <gtest/gtest.h>

#include "engine/HostCallbacks.h"
#include "engine/ProductNames.h"
#include "engine/StatusDetail.h"
#include "engine/VersionCompare.h"

namespace {

std::string U8(const MString& s) {
  return ToUtf8(s);
}

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
    EXPECT_EQ(CompareWithOwnVersion(MString(version)), order) << U8(MString(version));
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
  EXPECT_EQ(U8(PlayerTypeKey(kPlayerActiveX)), key + "ActiveX");
  EXPECT_EQ(U8(PlayerTypeKey(kPlayerPlugin)), key + "Plugin");
  EXPECT_EQ(U8(PlayerTypeKey(kPlayerPepper)), key + "Pepper");
  EXPECT_EQ(U8(PlayerTypeKey(kPlayerActiveX | kPlayerPlugin)), key);
  EXPECT_EQ(U8(PlayerTypeKey(0)), key);
  EXPECT_TRUE(ReleaseTypeKey(0).IsNull() && ReleaseTypeKey(1024).IsNull());
  EXPECT_EQ(U8(ReleaseTypeKey(kPlayerActiveX)), release + "ActiveXReleaseType");
  // The last type of the mask, in ActiveX, plugin, Pepper order, wins.
  EXPECT_EQ(U8(ReleaseTypeKey(kPlayerActiveX | kPlayerPlugin)), release + "PluginReleaseType");
  EXPECT_EQ(U8(ReleaseTypeKey(kPlayerActiveX | kPlayerPepper | kPlayerPlugin)),
            release + "PepperReleaseType");
}

struct RecordingHost final : HostCallbacks {
  void ReportStatus(int32_t zero, int32_t level, uint32_t code, MStringArg detail) override {
    lines.push_back(std::to_string(zero) + "/" + std::to_string(level) + "/" +
                    std::to_string(code) + "/" + U8(MString::Adopt(detail)));
  }
  std::vector<std::string> lines;
};

TEST(StatusDetails, ErrorsRegistryFormsAndReportsToTheHost) {
  const MString path(u"C:\\a.ocx"), key(u"Software\\K");
  EXPECT_EQ(U8(HexError(0)) + " " + U8(HexError(0x80070005)) + " " + U8(DecimalError(32)),
            "0 80070005 32");
  EXPECT_EQ(U8(PathWithHexError(path, 5)) + "|" + U8(PathWithHexError(path, 0x20)),
            "C:\\a.ocx 5|C:\\a.ocx 20");
  EXPECT_EQ(U8(PathWithDecimalError(path, 0x20)), "C:\\a.ocx 32");
  // key, "/", value, " ", error; without the space; a key without a value name.
  EXPECT_EQ(U8(RegistryDetail(key, MString(u"Version"), 2)), "Software\\K/Version 2");
  EXPECT_EQ(U8(RegistryDetail(key, MString(u"Version"), 0x1A, false)), "Software\\K/Version1A");
  EXPECT_EQ(U8(RegistryDetail(key, MString(), 2)) + "|" + U8(RegistryDetail(key, MString(u""), 2)),
            "Software\\K 2|Software\\K 2");
  RecordingHost
      host;  // reports reach the host with level, code and detail; without a host nothing happens
  ReportStatus(&host, kStatusError, 1037, MString(u"Software\\K/V 2"));
  ReportStatus(&host, kStatusProgress, 18);
  ReportStatus(nullptr, kStatusError, 1);
  EXPECT_EQ(host.lines, (std::vector<std::string>{"0/1/1037/Software\\K/V 2", "0/0/18/"}));
}

}  // namespace

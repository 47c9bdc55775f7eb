// The update check's query string and its language and Windows version tables.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <tuple>

#include "TestStrings.h"
#include "update/UpdateCheck.h"

namespace {

UpdateCheckInputs Typical() {  // the fields in declaration order
  return {u"34.0.0.384"_ms,    kPlayerTypeFull,  2,      7,     5, 0, u"33.0.0.1"_ms,
          u"GlintHost.EXE"_ms, kHostFlagRelease, 0x0809, false, 18};
}

TEST(UpdateCheckQuery, ParametersInOrderAndEachRule) {
  EXPECT_EQ(Show(UpdateCheckQuery(Typical())),
            "?version=34.0.0.384&installVector=102&previousVersion=33.0.0.1&pProc=glinthost.exe"
            "&lang=en_gb&cpuWordLength=32&playerType=full&os=win&osVer=18&isDebug=0&err=7&werr=5");
  using Change = std::function<void(UpdateCheckInputs&)>;
  // clang-format off
  const struct { Change change; const char *present, *absent; } cases[] = {
      {[](auto& in) { in.installVector = 0, in.hostInstallVector = 3; }, "&installVector=103&", nullptr},
      {[](auto& in) { in.installVector = 0xFFFFFFFF; }, "&installVector=99&", nullptr},
      {[](auto& in) { in.installVector = 21, in.hostFlags = 0; }, "&isDebug=0", nullptr},
      {[](auto& in) { in.installVector = 22, in.hostFlags = 0; }, "&isDebug=0", nullptr},
      {[](auto& in) { in.installVector = 121, in.hostFlags = 0; }, "&isDebug=0", nullptr},
      {[](auto& in) { in.installVector = 122, in.hostFlags = 0; }, "&isDebug=0", nullptr},
      {[](auto& in) { in.installVector = 20, in.hostFlags = ~kHostFlagRelease; }, "&isDebug=1", nullptr},
      {[](auto& in) { in.installVector = 0, in.hostInstallVector = 21, in.hostFlags = 0; }, "&isDebug=1", nullptr},
      {[](auto& in) { in.errorCode = 0; }, "&isDebug=0&werr=5", "&err="},
      {[](auto& in) { in.errorCode = in.windowsError = 0; }, "&isDebug=0", "err="},
      {[](auto& in) { in.processName = u"GL\u0130NT.EXE"_ms; }, "&pProc=gl\\u0130nt.exe&", nullptr},
      {[](auto& in) { in.wow64 = true; }, "&cpuWordLength=64&", nullptr},
      {[](auto& in) { in.previousVersion = u"a b&c=d"_ms; }, "&previousVersion=a b&c=d&pProc", nullptr},
      {[](auto& in) { in.playerType = 8; }, "&playerType=ax&", nullptr},
      {[](auto& in) { in.playerType = 16; }, "&playerType=pl&", nullptr},
      {[](auto& in) { in.playerType = 32768; }, "&playerType=pep&", nullptr},
      {[](auto& in) { in.playerType = 24; }, "&playerType=unk&", nullptr},
  };
  // clang-format on
  for (const auto& c : cases) {
    UpdateCheckInputs in = Typical();
    c.change(in);
    const std::string query = Show(UpdateCheckQuery(in));
    EXPECT_NE(query.find(c.present), std::string::npos) << query;
    if (c.absent != nullptr) EXPECT_EQ(query.find(c.absent), std::string::npos) << query;
  }
}

TEST(UpdateCheckTables, EveryLanguageRowAndSublanguageSplit) {
  auto id = [](int primary, int sub) { return static_cast<uint16_t>(sub << 10 | primary); };
  // Primary languages 0 to 40, sublanguage 1.
  std::istringstream bySub1(
      "xu ar bg xu zh-TW cs da de el en es fi fr he hu xu it ja ko nl nb pl pt xu ro ru hr sk xu "
      "sv th tr xu xu uk xu sl et lv lt xu");
  std::string code;
  for (int primary = 0; bySub1 >> code; ++primary) {
    EXPECT_EQ(Show(LanguageCode(id(primary, 1))), code) << primary;
  }
  const std::tuple<int, int, const char*> splits[] = {
      {4, 3, "zh-TW"},   {4, 5, "zh-TW"}, {4, 2, "zh-CN"},  {4, 0, "zh-CN"},  {4, 63, "zh-CN"},
      {9, 2, "en_gb"},   {9, 3, "en"},    {22, 2, "pt_pt"}, {22, 0, "pt_pt"}, {26, 2, "sr"},
      {26, 3, "sr"},     {26, 5, "sr"},   {26, 12, "sr"},   {26, 4, "hr"},    {26, 13, "hr"},
      {0x3FF, 63, "xu"}, {0x209, 0, "xu"}};
  for (const auto& [primary, sub, expected] : splits) {
    EXPECT_EQ(Show(LanguageCode(id(primary, sub))), expected) << primary << "/" << sub;
  }
}

// A system described by its version numbers, answering as VerifyVersionInfoW would.
struct Facts {
  uint32_t major, minor, servicePack, build;
  bool workstation;
  uint16_t suite = 0;
  bool amd64 = false;
};
struct System final : VersionFacts {
  Facts f;
  explicit System(const Facts& facts) : f(facts) {}
  bool Matches(const VersionCondition& c) const override {
    const bool version =
        c.orLater ? std::tie(f.major, f.minor, f.servicePack) >= std::tuple(c.major, c.minor, 0u) &&
                        f.build >= c.build
                  : f.major == c.major && f.minor == c.minor;
    const bool product =
        c.product == ProductKind::kAny || (c.product == ProductKind::kWorkstation) == f.workstation;
    return version && product && (f.suite & c.suiteBits) == c.suiteBits;
  }
  bool IsAmd64() const override { return f.amd64; }
};

TEST(UpdateCheckTables, WindowsVersionsFirstMatchWins) {
  // clang-format off
  const std::pair<Facts, uint32_t> cases[] = {
      {{10, 0, 0, 22000, true}, 20},  {{10, 0, 0, 22000, false}, 20}, {{10, 0, 0, 21999, true}, 18},
      {{10, 0, 0, 19041, false}, 19}, {{11, 0, 0, 100, true}, 18},    {{6, 3, 0, 9600, true}, 16},
      {{6, 3, 0, 9600, false}, 17},   {{6, 2, 0, 9200, true}, 14},    {{6, 2, 0, 9200, false}, 15},
      {{6, 1, 1, 7601, true}, 13},    {{6, 1, 1, 7601, false}, 11},   {{6, 0, 2, 6002, true}, 12},
      {{6, 0, 2, 6002, false}, 10},   {{5, 2, 0, 3790, true, 0x8000, true}, 9},
      {{5, 2, 0, 3790, true, 0, true}, 8}, {{5, 2, 0, 3790, true}, 0},
      {{5, 2, 0, 3790, false, 0x8000, true}, 6}, {{5, 1, 3, 2600, false}, 7},
      {{5, 0, 4, 2195, true}, 4},     {{6, 4, 0, 9841, true}, 0},
  };
  // clang-format on
  for (const auto& [f, code] : cases) {
    EXPECT_EQ(OsVersionCode(System(f)), code)
        << f.major << "." << f.minor << " " << f.build << " " << f.workstation;
  }
}

}  // namespace

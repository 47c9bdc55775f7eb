// The update check's query string and its tables: the order of the
// parameters, the vector arithmetic, the debug flag, the language and
// Windows version rows (first match wins).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>

#include "TestStrings.h"
#include "update/UpdateCheck.h"

namespace {

UpdateCheckInputs Typical() {
  UpdateCheckInputs in;
  in.ownVersion = u"34.0.0.384"_ms;
  in.playerType = kPlayerTypeFull;
  in.installVector = 2;
  in.errorCode = 7;
  in.windowsError = 5;
  in.previousVersion = u"33.0.0.1"_ms;
  in.processName = u"GlintHost.EXE"_ms;
  in.hostFlags = kHostFlagRelease;
  in.languageId = 0x0809;  // English, United Kingdom
  in.osVersionCode = 18;
  return in;
}

TEST(UpdateCheckQuery, ParametersInOrder) {
  EXPECT_EQ(Show(UpdateCheckQuery(Typical())),
            "?version=34.0.0.384&installVector=102&previousVersion=33.0.0.1&pProc=glinthost.exe"
            "&lang=en_gb&cpuWordLength=32&playerType=full&os=win&osVer=18&isDebug=0&err=7&werr=5");
}

TEST(UpdateCheckQuery, VectorDebugFlagErrorsAndProcessName) {
  const struct {
    const char* name;
    std::function<void(UpdateCheckInputs&)> change;
    const char* present;
    const char* absent;
  } cases[] = {
      {"host vector", [](auto& in) { in.installVector = 0, in.hostInstallVector = 3; },
       "&installVector=103&", nullptr},
      {"argument wraps", [](auto& in) { in.installVector = 0xFFFFFFFF; }, "&installVector=99&",
       nullptr},
      {"host vector wraps",
       [](auto& in) { in.installVector = 0, in.hostInstallVector = 0xFFFFFFFF; },
       "&installVector=99&", nullptr},
      {"21 exempt", [](auto& in) { in.installVector = 21, in.hostFlags = 0; }, "&isDebug=0",
       nullptr},
      {"22 exempt", [](auto& in) { in.installVector = 22, in.hostFlags = 0; }, "&isDebug=0",
       nullptr},
      {"121 exempt", [](auto& in) { in.installVector = 121, in.hostFlags = 0; }, "&isDebug=0",
       nullptr},
      {"122 exempt", [](auto& in) { in.installVector = 122, in.hostFlags = 0; }, "&isDebug=0",
       nullptr},
      {"20 not exempt", [](auto& in) { in.installVector = 20, in.hostFlags = ~kHostFlagRelease; },
       "&isDebug=1", nullptr},
      {"host vector 21 is no exemption",
       [](auto& in) { in.installVector = 0, in.hostInstallVector = 21, in.hostFlags = 0; },
       "&isDebug=1", nullptr},
      {"host vector 21, release flag",
       [](auto& in) { in.installVector = 0, in.hostInstallVector = 21; }, "&isDebug=0", nullptr},
      {"werr without err", [](auto& in) { in.errorCode = 0; }, "&isDebug=0&werr=5", "&err="},
      {"neither", [](auto& in) { in.errorCode = in.windowsError = 0; }, "&isDebug=0", "err="},
      {"A-Z lowered only", [](auto& in) { in.processName = u"GL\u0130NT.EXE"_ms; },
       "&pProc=gl\\u0130nt.exe&", nullptr},
      {"WOW64", [](auto& in) { in.wow64 = true; }, "&cpuWordLength=64&", nullptr},
      {"values unencoded", [](auto& in) { in.previousVersion = u"a b&c=d"_ms; },
       "&previousVersion=a b&c=d&pProc", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateCheckInputs in = Typical();
    c.change(in);
    const std::string query = Show(UpdateCheckQuery(in));
    EXPECT_NE(query.find(c.present), std::string::npos) << query;
    if (c.absent != nullptr) EXPECT_EQ(query.find(c.absent), std::string::npos) << query;
  }
}

TEST(UpdateCheckTables, PlayerTypes) {
  const std::pair<uint32_t, const char*> cases[] = {{524027, "full"}, {8, "ax"},  {16, "pl"},
                                                    {32768, "pep"},   {0, "unk"}, {24, "unk"}};
  for (const auto& [code, value] : cases) EXPECT_EQ(Show(PlayerTypeValue(code)), value) << code;
}

TEST(UpdateCheckTables, EveryLanguageRowAndSublanguageSplit) {
  auto id = [](int primary, int sub) { return static_cast<uint16_t>(sub << 10 | primary); };
  const std::pair<uint16_t, const char*> cases[] = {
      {id(1, 1), "ar"},     {id(2, 1), "bg"},    {id(5, 1), "cs"},      {id(6, 1), "da"},
      {id(7, 1), "de"},     {id(8, 1), "el"},    {id(10, 1), "es"},     {id(11, 1), "fi"},
      {id(12, 1), "fr"},    {id(13, 1), "he"},   {id(14, 1), "hu"},     {id(16, 1), "it"},
      {id(17, 1), "ja"},    {id(18, 1), "ko"},   {id(19, 1), "nl"},     {id(20, 1), "nb"},
      {id(21, 1), "pl"},    {id(24, 1), "ro"},   {id(25, 1), "ru"},     {id(27, 1), "sk"},
      {id(29, 1), "sv"},    {id(30, 1), "th"},   {id(31, 1), "tr"},     {id(34, 1), "uk"},
      {id(36, 1), "sl"},    {id(37, 1), "et"},   {id(38, 1), "lv"},     {id(39, 1), "lt"},
      {id(4, 1), "zh-TW"},  {id(4, 3), "zh-TW"}, {id(4, 5), "zh-TW"},   {id(4, 2), "zh-CN"},
      {id(4, 4), "zh-CN"},  {id(4, 0), "zh-CN"}, {id(4, 63), "zh-CN"},  {id(9, 2), "en_gb"},
      {id(9, 1), "en"},     {id(9, 3), "en"},    {id(22, 1), "pt"},     {id(22, 2), "pt_pt"},
      {id(22, 0), "pt_pt"}, {id(26, 2), "sr"},   {id(26, 3), "sr"},     {id(26, 5), "sr"},
      {id(26, 12), "sr"},   {id(26, 4), "hr"},   {id(26, 1), "hr"},     {id(26, 13), "hr"},
      {id(0, 1), "xu"},     {id(3, 1), "xu"},    {id(15, 1), "xu"},     {id(23, 1), "xu"},
      {id(28, 1), "xu"},    {id(40, 1), "xu"},   {id(0x3FF, 63), "xu"}, {id(0x209, 0), "xu"},
  };
  for (const auto& [languageId, code] : cases) {
    EXPECT_EQ(Show(LanguageCode(languageId)), code) << std::hex << languageId;
  }
}

// A system described by its version numbers, answering as VerifyVersionInfoW would.
struct System final : VersionFacts {
  uint32_t major, minor, servicePack, build;
  bool workstation;
  uint16_t suite = 0;
  bool amd64 = false;
  System(uint32_t ma, uint32_t mi, uint32_t sp, uint32_t b, bool ws, uint16_t su = 0,
         bool a = false)
      : major(ma), minor(mi), servicePack(sp), build(b), workstation(ws), suite(su), amd64(a) {}

  bool Matches(const VersionCondition& c) const override {
    const bool version =
        c.orLater ? std::tie(major, minor, servicePack) >= std::tuple(c.major, c.minor, 0u) &&
                        build >= c.build
                  : major == c.major && minor == c.minor;
    const bool product =
        c.product == ProductKind::kAny || (c.product == ProductKind::kWorkstation) == workstation;
    return version && product && (suite & c.suiteBits) == c.suiteBits;
  }
  bool IsAmd64() const override { return amd64; }
};

TEST(UpdateCheckTables, WindowsVersionsFirstMatchWins) {
  const std::pair<System, uint32_t> cases[] = {
      {{10, 0, 0, 22000, true}, 20},      {{10, 0, 0, 22000, false}, 20},
      {{10, 0, 0, 21999, true}, 18},      {{10, 0, 0, 19041, false}, 19},
      {{11, 0, 0, 100, true}, 18},        {{6, 3, 0, 9600, true}, 16},
      {{6, 3, 0, 9600, false}, 17},       {{6, 2, 0, 9200, true}, 14},
      {{6, 2, 0, 9200, false}, 15},       {{6, 1, 1, 7601, true}, 13},
      {{6, 1, 1, 7601, false}, 11},       {{6, 0, 2, 6002, true}, 12},
      {{6, 0, 2, 6002, false}, 10},       {{5, 2, 0, 3790, true, 0x8000, true}, 9},
      {{5, 2, 0, 3790, true, 0x8000}, 9}, {{5, 2, 0, 3790, true, 0, true}, 8},
      {{5, 2, 0, 3790, true}, 0},         {{5, 2, 0, 3790, false, 0x8000, true}, 6},
      {{5, 1, 3, 2600, false}, 7},        {{5, 0, 4, 2195, true}, 4},
      {{6, 4, 0, 9841, true}, 0},         {{4, 0, 6, 1381, true}, 0},
  };
  for (const auto& [system, code] : cases) {
    EXPECT_EQ(OsVersionCode(system), code)
        << system.major << "." << system.minor << " build " << system.build;
  }
}

}  // namespace

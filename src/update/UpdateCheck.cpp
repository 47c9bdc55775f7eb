#include "update/UpdateCheck.h"

namespace {

struct LanguageRow {
  uint16_t primary;
  const char16_t* code;
  const char16_t* other;     // for the sublanguages not in `sublanguages`, when not null
  uint64_t sublanguageBits;  // bit n: sublanguage n gives `code`
};

constexpr uint64_t Bits(std::initializer_list<int> sublanguages) {
  uint64_t bits = 0;
  for (int s : sublanguages) bits |= uint64_t{1} << s;
  return bits;
}

constexpr LanguageRow kLanguages[] = {
    {1, u"ar", nullptr, 0},
    {2, u"bg", nullptr, 0},
    {4, u"zh-TW", u"zh-CN", Bits({1, 3, 5})},
    {5, u"cs", nullptr, 0},
    {6, u"da", nullptr, 0},
    {7, u"de", nullptr, 0},
    {8, u"el", nullptr, 0},
    {9, u"en_gb", u"en", Bits({2})},
    {10, u"es", nullptr, 0},
    {11, u"fi", nullptr, 0},
    {12, u"fr", nullptr, 0},
    {13, u"he", nullptr, 0},
    {14, u"hu", nullptr, 0},
    {16, u"it", nullptr, 0},
    {17, u"ja", nullptr, 0},
    {18, u"ko", nullptr, 0},
    {19, u"nl", nullptr, 0},
    {20, u"nb", nullptr, 0},
    {21, u"pl", nullptr, 0},
    {22, u"pt", u"pt_pt", Bits({1})},
    {24, u"ro", nullptr, 0},
    {25, u"ru", nullptr, 0},
    {26, u"sr", u"hr", Bits({2, 3, 5, 6, 7, 8, 9, 10, 11, 12})},
    {27, u"sk", nullptr, 0},
    {29, u"sv", nullptr, 0},
    {30, u"th", nullptr, 0},
    {31, u"tr", nullptr, 0},
    {34, u"uk", nullptr, 0},
    {36, u"sl", nullptr, 0},
    {37, u"et", nullptr, 0},
    {38, u"lv", nullptr, 0},
    {39, u"lt", nullptr, 0},
};

struct OsRow {
  VersionCondition condition;
  bool amd64;  // the processor must be AMD64 as well
  uint32_t code;
};

using P = ProductKind;
// Tested in this order; the first row that holds gives the code.
constexpr OsRow kOsVersions[] = {
    {{10, 0, true, 22000, P::kAny, 0}, false, 20},
    {{10, 0, true, 0, P::kWorkstation, 0}, false, 18},
    {{10, 0, true, 0, P::kServer, 0}, false, 19},
    {{6, 3, false, 0, P::kWorkstation, 0}, false, 16},
    {{6, 3, false, 0, P::kServer, 0}, false, 17},
    {{6, 2, false, 0, P::kWorkstation, 0}, false, 14},
    {{6, 2, false, 0, P::kServer, 0}, false, 15},
    {{6, 1, false, 0, P::kWorkstation, 0}, false, 13},
    {{6, 1, false, 0, P::kServer, 0}, false, 11},
    {{6, 0, false, 0, P::kWorkstation, 0}, false, 12},
    {{6, 0, false, 0, P::kServer, 0}, false, 10},
    {{5, 2, false, 0, P::kWorkstation, 0x8000}, false, 9},
    {{5, 2, false, 0, P::kWorkstation, 0}, true, 8},
    {{5, 2, false, 0, P::kServer, 0}, false, 6},
    {{5, 1, false, 0, P::kAny, 0}, false, 7},
    {{5, 0, false, 0, P::kAny, 0}, false, 4},
};

bool IsDebugExempt(uint32_t installVector) {
  return installVector == 21 || installVector == 22 || installVector == 121 || installVector == 122;
}

MString Decimal(uint32_t value) {
  return FormatNumber(value, 10);
}

}  // namespace

MString LanguageCode(uint16_t languageId) {
  const uint16_t primary = languageId & 0x3FF;
  const uint16_t sublanguage = languageId >> 10;
  for (const LanguageRow& row : kLanguages) {
    if (row.primary != primary) continue;
    if (row.other == nullptr || (row.sublanguageBits >> sublanguage) & 1) return MString(row.code);
    return MString(row.other);
  }
  return MString(u"xu");
}

MString PlayerTypeValue(uint32_t playerType) {
  switch (playerType) {
    case kPlayerTypeFull:
      return MString(u"full");
    case 8:
      return MString(u"ax");
    case 16:
      return MString(u"pl");
    case 32768:
      return MString(u"pep");
    default:
      return MString(u"unk");
  }
}

uint32_t OsVersionCode(const VersionFacts& facts) {
  for (const OsRow& row : kOsVersions) {
    if (!facts.Matches(row.condition)) continue;
    if (row.amd64 && !facts.IsAmd64()) continue;
    return row.code;
  }
  return 0;
}

MString UpdateCheckQuery(const UpdateCheckInputs& in) {
  // Unsigned arithmetic: a vector near the top wraps round, as the server expects.
  const uint32_t vector = (in.installVector != 0 ? in.installVector : in.hostInstallVector) + 100u;
  const bool release = IsDebugExempt(in.installVector) || (in.hostFlags & kHostFlagRelease) != 0;
  MString query = u"?version="_ms + in.ownVersion;
  query += u"&installVector="_ms + Decimal(vector);
  query += u"&previousVersion="_ms + in.previousVersion;
  query += u"&pProc="_ms + ToLowerAscii(in.processName);
  query += u"&lang="_ms + LanguageCode(in.languageId);
  query += in.wow64 ? u"&cpuWordLength=64"_ms : u"&cpuWordLength=32"_ms;
  query += u"&playerType="_ms + PlayerTypeValue(in.playerType);
  query += u"&os=win&osVer="_ms + Decimal(in.osVersionCode);
  query += release ? u"&isDebug=0"_ms : u"&isDebug=1"_ms;
  if (in.errorCode != 0) query += u"&err="_ms + Decimal(in.errorCode);
  if (in.windowsError != 0) query += u"&werr="_ms + Decimal(in.windowsError);
  return query;
}

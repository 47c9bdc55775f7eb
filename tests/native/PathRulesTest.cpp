// The storage path policy's string rules, fed full paths with their
// upper-cased copies, and synthetic link graphs and file systems in place of
// the disk. Paths are narrow raw strings; every unit is ASCII.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "broker/PathRules.h"

namespace {

using namespace PathRules;
using S = std::string;
const char* const kNo = "<refused>";

Text W(const S& s) {
  return Text(s.begin(), s.end());
}
S N(const Text& t) {
  S out;
  for (char16_t unit : t) out += static_cast<char>(unit);
  return out;
}
S Canon(const S& full, bool upper) {
  S up = full;
  for (char& c : up) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  std::optional<Text> text = CanonicalText(W(full), W(up), upper);
  return text ? N(*text) : kNo;
}

// Each row: the answer in upper case and in the given case. A drive path or a
// UNC path must be judged the same with its "\\?\" or "\\?\UNC\" prefix.
TEST(CanonicalText, PrefixesColonsDotsAndEncodedDots) {
  // clang-format off
  const struct { const char *full, *upper, *given; } cases[] = {
    {R"(C:\Users\Ann\x.sol)", R"(C:\USERS\ANN\X.SOL)", R"(C:\Users\Ann\x.sol)"},
    {R"(\\?\C:\Users\Ann\x.sol)", R"(C:\USERS\ANN\X.SOL)", R"(C:\Users\Ann\x.sol)"},
    {R"(\\?\c:\Users)", R"(C:\USERS)", R"(c:\Users)"}, {R"(\\Srv)", R"(\\SRV)", R"(\\Srv)"},
    {R"(\\Server\Share\f.sol)", R"(\\SERVER\SHARE\F.SOL)", R"(\\Server\Share\f.sol)"},
    {R"(\\?\UNC\Server\Share\f.sol)", R"(\\SERVER\SHARE\F.SOL)", R"(\\Server\Share\f.sol)"},
    {R"(\\?\unc\server\Share)", R"(\\SERVER\SHARE)", R"(\\server\Share)"},  // prefix in any case
    {R"(\\?\UNC)", "UNC", "UNC"}, {R"(\\Srv\)", R"(\\SRV\)", R"(\\Srv\)"},  // "UNC" alone is a name
    {R"(\\?\\\?\C:\x)", kNo, kNo}, {R"(\\?\UNC\\?\C:\x)", kNo, kNo},  // a second prefix stays
    {R"(\??\C:\x)", kNo, kNo}, {R"(\\.\C:\x)", kNo, kNo}, {R"(C:\R\)", R"(C:\R\)", R"(C:\R\)"},
    {R"(\\?\GLOBALROOT\Device\X)", R"(GLOBALROOT\DEVICE\X)", R"(GLOBALROOT\Device\X)"},
    {R"(\\?\)", "", ""}, {R"(\\?\UNC\)", R"(\\)", R"(\\)"}, {"", "", ""},
    // Only a drive letter's colon: a second one names a stream.
    {"C:", "C:", "C:"}, {R"(c:\a)", R"(C:\A)", R"(c:\a)"}, {R"(z:\a)", R"(Z:\A)", R"(z:\a)"},
    {R"(C:\R\a.sol:Zone.Identifier)", kNo, kNo}, {R"(C:\R\a.sol::$DATA)", kNo, kNo},
    {R"(C:\R\dir:stream\a)", kNo, kNo}, {R"(\\?\C:\R\a:b)", kNo, kNo}, {R"(R\a:b)", kNo, kNo},
    {R"(\\Srv\Share\a:b)", kNo, kNo}, {R"(\\?\UNC\Srv\Share\a:b)", kNo, kNo}, {":", kNo, kNo},
    {R"(1:\a)", kNo, kNo}, {R"(@:\a)", kNo, kNo}, {R"([:\a)", kNo, kNo}, {R"(:\a)", kNo, kNo},
    {R"(CC:\a)", kNo, kNo}, {R"(\C:\a)", kNo, kNo}, {R"(\\Srv\Share\a|b)", kNo, kNo},
    // Names that begin or end with a dot or "%2E" refuse in upper case only.
    {R"(C:\R\.sol)", kNo, R"(C:\R\.sol)"}, {R"(C:\R\.\a)", kNo, R"(C:\R\.\a)"},
    {R"(C:\R\..\a)", kNo, R"(C:\R\..\a)"}, {R"(C:\R\..)", kNo, R"(C:\R\..)"},
    {R"(C:\R\dir.\a)", kNo, R"(C:\R\dir.\a)"}, {R"(C:\R.\a)", kNo, R"(C:\R.\a)"},
    {R"(\\.\pipe\x)", kNo, R"(\\.\pipe\x)"}, {R"(\\Srv\.Share)", kNo, R"(\\Srv\.Share)"},
    {R"(\\Srv\Share\..\x)", kNo, R"(\\Srv\Share\..\x)"}, {R"(C:\R\%2e\a)", kNo, R"(C:\R\%2e\a)"},
    {R"(C:\R\%2E%2E\a)", kNo, R"(C:\R\%2E%2E\a)"}, {R"(C:\R\%2esol)", kNo, R"(C:\R\%2esol)"},
    {R"(C:\R\dir%2e\a)", kNo, R"(C:\R\dir%2e\a)"}, {R"(C:\R\x%2E\y)", kNo, R"(C:\R\x%2E\y)"},
    {R"(C:\R\a.b\c.sol)", R"(C:\R\A.B\C.SOL)", R"(C:\R\a.b\c.sol)"},
    {R"(C:\R\a..b)", R"(C:\R\A..B)", R"(C:\R\a..b)"}, {R"(C:\R\a%2eb)", R"(C:\R\A%2EB)", R"(C:\R\a%2eb)"},
    {R"(C:\R\%2d\a)", R"(C:\R\%2D\A)", R"(C:\R\%2d\a)"}, {R"(C:\R\%2\a)", R"(C:\R\%2\A)", R"(C:\R\%2\a)"},
    {R"(C:\R\a.)", R"(C:\R\A.)", R"(C:\R\a.)"}, {R"(C:\R\a%2e)", R"(C:\R\A%2E)", R"(C:\R\a%2e)"},
  };
  // clang-format on
  for (const auto& c : cases) {
    S full = c.full;
    std::vector<S> forms = {full};
    if (full.size() > 1 && full[1] == ':') forms.push_back(R"(\\?\)" + full);
    if (full.size() > 2 && full.starts_with(R"(\\)") && full[2] != '?' && full[2] != '.') {
      forms.push_back(R"(\\?\UNC\)" + full.substr(2));
    }
    for (const S& form : forms) {
      EXPECT_EQ(Canon(form, true), c.upper) << form;
      EXPECT_EQ(Canon(form, false), c.given) << form;
    }
  }
  Text accented = u"\u00C9:\\A";  // a letter outside ASCII is no drive letter
  EXPECT_EQ(CanonicalText(accented, accented, true), std::nullopt);
  for (const auto& [full, upper] : {std::pair<Text, Text>{u"C:\\a", u"C:\\AB"},
                                    {u"C:\\ab", u"C:\\A"},
                                    {u"C:\\a", u""},
                                    {u"", u"C:\\A"},
                                    {u"\\\\?\\UNC\\s\\x", u"\\\\?\\UNC\\S\\"}}) {
    EXPECT_EQ(CanonicalText(full, upper, true), std::nullopt)
        << N(full);  // copies of other lengths
    EXPECT_EQ(CanonicalText(full, upper, false), std::nullopt) << N(full);
  }
}

TEST(CanonicalText, EveryForbiddenCharacterRefusesAndItsNeighboursPass) {
  for (char bad : S("*?\"|<>/")) {
    for (const S& path : {R"(C:\R\a)" + S(1, bad) + "b.sol", R"(C:\R\)" + S(1, bad), S(1, bad),
                          R"(\\?\C:\R\)" + S(1, bad) + R"(\x)"}) {
      EXPECT_EQ(Canon(path, true), kNo) << path;
      EXPECT_EQ(Canon(path, false), kNo) << path;
    }
  }
  for (char fine : S("+,;=[]{}'`~!@#$%^&()-_ ")) {
    EXPECT_NE(Canon(R"(C:\R\a)" + S(1, fine) + "b", true), kNo) << fine;
  }
}

TEST(LiesUnder, RootItselfChildrenAndLookAlikes) {
  // clang-format off
  const struct { const char *path, *root; bool under; } cases[] = {
    {R"(C:\ROOT)", R"(C:\ROOT)", true}, {R"(C:\ROOT\A)", R"(C:\ROOT)", true},
    {R"(C:\ROOT\A\B.SOL)", R"(C:\ROOT)", true}, {R"(C:\ROOT\)", R"(C:\ROOT)", true},
    {R"(C:\ROOT/A)", R"(C:\ROOT)", true}, {R"(C:\ROOT2)", R"(C:\ROOT)", false},
    {R"(C:\ROOT2\A)", R"(C:\ROOT)", false}, {R"(C:\ROOT.SOL)", R"(C:\ROOT)", false},
    {R"(C:\ROOT A\B)", R"(C:\ROOT)", false}, {R"(C:\ROO)", R"(C:\ROOT)", false},
    {R"(C:\)", R"(C:\ROOT)", false}, {"", R"(C:\ROOT)", false}, {R"(D:\ROOT\A)", R"(C:\ROOT)", false},
    {R"(C:\X\C:\ROOT\A)", R"(C:\ROOT)", false}, {R"(C:\root\A)", R"(C:\ROOT)", false},
    {R"(\\SRV\SHARE\A)", R"(\\SRV\SHARE)", true}, {R"(\\SRV\SHARED\A)", R"(\\SRV\SHARE)", false},
    {R"(C:\A)", "C:", true}, {"C:A", "C:", false}, {R"(C:\A)", R"(C:\)", false},
    // An empty root (never asked for) is the prefix of everything.
    {"", "", true}, {R"(C:\A)", "", false}, {R"(\\SRV\SHARE)", "", true},
  };
  // clang-format on
  for (const auto& c : cases)
    EXPECT_EQ(LiesUnder(W(c.path), W(c.root)), c.under) << c.path << " | " << c.root;
}

TEST(IsSettingsArea, SharedObjectsAndDeepSettingsFolders) {
  const S shared = R"(C:\R\#SHAREDOBJECTS)", settings = R"(C:\R\SITE\SUPPORT\GLINTPLAYER\SYS)";
  // clang-format off
  const struct { int base; const char* rest; bool area; } cases[] = {  // base: 0 shared, 1 settings, 2 none
    {0, "", true}, {0, R"(\ABC\X.SOL)", true}, {0, R"(\X.SOL)", true}, {0, R"(X\A.SOL)", false},
    {0, "X", false}, {2, R"(C:\R\#SHARED)", false}, {1, R"(\#A\SETTINGS.SOL)", true},
    {1, R"(\#AB\SETTINGS.SOL)", true}, {1, R"(\#A\B\C.SOL)", true}, {1, R"(\#\SETTINGS.SOL)", false},
    {1, R"(\#A)", false}, {1, R"(\#AB)", false}, {1, R"(\A\#B\C.SOL)", false}, {1, R"(\\#A\C.SOL)", false},
    {1, R"(#A\C.SOL)", false}, {1, R"(X\#A\C.SOL)", false}, {1, "", false}, {1, R"(\)", false},
    {1, R"(\#)", false}, {2, R"(C:\R\SITE\SUPPORT\GLINTPLAYER\#A\B.SOL)", false}, {2, R"(C:\R\SITE\A.SOL)", false},
  };
  // clang-format on
  for (const auto& c : cases) {
    S path = (c.base == 0 ? shared : c.base == 1 ? settings : "") + c.rest;
    EXPECT_EQ(IsSettingsArea(W(path), W(shared), W(settings)), c.area) << path;
  }
}

TEST(HasWritableExtension, TheTwentyFiveAndTheirNearMisses) {
  for (S ext : {".TXT", ".SOR", ".SOL", ".SSR", ".SSL",       ".SXX", ".XML", ".AHD", ".DAT",
                ".GMZ", ".HEU", ".TMP", ".S",   ".DIRECTORY", ".PNG", ".SSS", ".GS",  ".MGD",
                ".LKG", ".LIC", ".VCH", ".DLL", ".META",      ".ICO", ".JSON"}) {
    for (const S& path : {R"(C:\R\NAME)" + ext, ext, R"(C:\R\A.EXE)" + ext}) {
      EXPECT_TRUE(HasWritableExtension(W(path))) << path;
    }
    for (char& c : ext) c = static_cast<char>(c | 0x20);  // input arrives upper-cased
    EXPECT_FALSE(HasWritableExtension(W(R"(C:\R\NAME)" + ext))) << ext;
  }
  for (const char* miss : {R"(C:\R\A.EXE)",
                           R"(C:\R\A.DLLX)",
                           R"(C:\R\ASOL)",
                           R"(C:\R\SOL)",
                           R"(C:\R\A.SOL.EXE)",
                           R"(C:\R\A.TX)",
                           R"(C:\R\A.JSO)",
                           R"(C:\R\A.DIRECTOR)",
                           R"(C:\R\A.XM)",
                           R"(C:\R\A.SS)",
                           R"(C:\R\A.SOL\)",
                           R"(C:\R\A.SOL )",
                           R"(C:\R\A.SOL.)",
                           R"(C:\R\A.SOL:X)",
                           R"(C:\R\A.Sol)",
                           R"(C:\R\A)",
                           "",
                           "S",
                           R"(C:\R\A.COM)",
                           R"(C:\R\A.SCR)"}) {
    EXPECT_FALSE(HasWritableExtension(W(miss))) << miss;
  }
}

// A link graph as "FROM>TO" edges and "!AT" failures; other names resolve
// without a target. Answers the result and the number of resolutions.
S Follow(const S& edges, const S& start) {
  std::map<S, LinkStep> steps;
  std::istringstream in(edges);
  for (S edge; in >> edge;) {
    if (edge[0] == '!') steps[edge.substr(1)] = LinkStep{};
    size_t arrow = edge.find('>');
    if (arrow != S::npos) steps[edge.substr(0, arrow)] = LinkStep{true, W(edge.substr(arrow + 1))};
  }
  int resolutions = 0;
  std::optional<Text> result = FollowLinkChain(W(start), [&](const Text& t) {
    ++resolutions;
    auto found = steps.find(N(t));
    return found == steps.end() ? LinkStep{true, std::nullopt} : found->second;
  });
  return (result ? N(*result) : kNo) + " " + std::to_string(resolutions);
}

S Chain(int targets) {  // P>T1 T1>T2 ... with Tn resolving without a target
  S edges;
  for (int i = 1; i <= targets; ++i)
    edges += (i == 1 ? "P" : "T" + std::to_string(i - 1)) + ">T" + std::to_string(i) + " ";
  return edges;
}

TEST(FollowLinkChain, UpToSixteenTargetsLoopsAndFailures) {
  // A seventeenth target is never resolved: the path is judged as given.
  const struct {
    int targets;
    const char* result;
  } chains[] = {{0, "P 1"},     {1, "T1 2"},  {2, "T2 3"}, {15, "T15 16"},
                {16, "T16 17"}, {17, "P 17"}, {40, "P 17"}};
  for (const auto& c : chains) EXPECT_EQ(Follow(Chain(c.targets), "P"), c.result) << c.targets;
  // clang-format off
  const struct { const char *edges, *start, *result; } loops[] = {
    {"A>A", "A", "A 1"}, {"A>B B>A", "A", "A 3"}, {"A>B B>A", "B", "B 3"}, {"P>A A>B B>C C>B", "P", "P 4"},
    {"P>A A>B B>A", "P", "P 3"}, {"P>A A>B B>B", "P", "P 3"},
  };
  // clang-format on
  for (const auto& c : loops) EXPECT_EQ(Follow(c.edges, c.start), c.result) << c.edges;
  for (int failAt = 0; failAt <= 16; ++failAt) {  // a failed resolution anywhere refuses
    S name = failAt == 0 ? "P" : "T" + std::to_string(failAt);
    EXPECT_EQ(Follow(Chain(16) + "!" + name, "P"), S(kNo) + " " + std::to_string(failAt + 1))
        << name;
  }
}

TEST(ObjectPrefixAndServerRoot, Tables) {
  // clang-format off
  const struct { const char *target, *stripped; } strips[] = {
    {R"(\??\C:\X)", R"(C:\X)"}, {R"(\??\UNC\SRV\SHARE)", R"(UNC\SRV\SHARE)"}, {R"(\??\)", ""},
    {R"(\??\\??\C:\X)", R"(\??\C:\X)"}, {R"(\\?\C:\X)", R"(\\?\C:\X)"}, {R"(\??C:\X)", R"(\??C:\X)"},
    {R"(C:\X\??\Y)", R"(C:\X\??\Y)"}, {R"(\??)", R"(\??)"}, {"", ""}};
  const struct { const char* prefix; bool root; } roots[] = {
    {R"(\\SERVER)", true}, {R"(\\SERVER\)", true}, {R"(\\S)", true}, {R"(\\SERVER\SHARE)", false},
    {R"(\\SERVER\\)", false}, {R"(\\)", false}, {R"(\\\)", false}, {R"(\\\SERVER)", false}, {R"(\SERVER)", false},
    {"SERVER", false}, {R"(C:\)", false}, {"C:", false}, {"", false}, {R"(\\SERVER\SHARE\)", false}};
  // clang-format on
  for (const auto& c : strips) EXPECT_EQ(N(StripObjectPrefix(W(c.target))), c.stripped) << c.target;
  for (const auto& c : roots) EXPECT_EQ(IsUncServerRoot(W(c.prefix)), c.root) << c.prefix;
}

// A file system of prefixes from "NAME" (folder), "NAME=SUBSTITUTE" (link),
// "NAME~" (another reparse point) and "NAME!" (unreadable reparse data);
// nothing else exists. Answers the step, then the prefixes asked for.
S Resolve(const S& spec, const S& path) {
  std::map<S, PrefixInfo> fs;
  std::istringstream in(spec);
  for (S entry; in >> entry;) {
    size_t eq = entry.find('=');
    char last = entry.back();
    if (eq != S::npos) {
      fs[entry.substr(0, eq)] = PrefixInfo{true, true, true, W(entry.substr(eq + 1))};
    } else if (last == '~' || last == '!') {
      fs[entry.substr(0, entry.size() - 1)] = PrefixInfo{true, true, last == '~', std::nullopt};
    } else {
      fs[entry] = PrefixInfo{true, false, true, std::nullopt};
    }
  }
  S asked;
  LinkStep step = ResolveThroughPrefixes(W(path), [&](const Text& prefix) {
    asked += " " + N(prefix);
    auto found = fs.find(N(prefix));
    return found == fs.end() ? PrefixInfo{} : found->second;
  });
  EXPECT_TRUE(!step.missing || !step.ok) << path;
  S shown = !step.ok      ? (step.missing ? "<missing>" : "<failed>")
            : step.target ? "-> " + N(*step.target)
                          : "<no link>";
  return shown + " |" + asked;
}

TEST(ResolveThroughPrefixes, LinksReparsePointsAndMissingFolders) {
  const S tree = R"(C:\ C:\R C:\R\A C:\R\A\B )", f = R"(C:\R\A\B\F.SOL)";
  // clang-format off
  const struct { S spec; S path; const char* result; } cases[] = {
    // Deepest first, the drive asked for with its separator; a missing last name is a new file.
    {tree, R"(C:\R\A\B\NEW.SOL)", R"(<no link> | C:\R\A\B\NEW.SOL C:\R\A\B C:\R\A C:\R C:\)"},
    {tree + R"(C:\R\A\B\OLD.SOL)", R"(C:\R\A\B\OLD.SOL)", R"(<no link> | C:\R\A\B\OLD.SOL C:\R\A\B C:\R\A C:\R C:\)"},
    {tree, R"(C:\R\A\)", R"(<no link> | C:\R\A\ C:\R\A C:\R C:\)"},
    // A link gives its substitute and the rest; nothing above it is asked for.
    {tree + f + R"(=\??\D:\ELSE\G.SOL)", f, R"(-> \??\D:\ELSE\G.SOL | C:\R\A\B\F.SOL)"},
    {tree + R"(C:\R\A=\??\D:\ELSE)", f, R"(-> \??\D:\ELSE\B\F.SOL | C:\R\A\B\F.SOL C:\R\A\B C:\R\A)"},
    {tree + R"(C:\R\A\B=D:\ELSE)", f, R"(-> D:\ELSE\F.SOL | C:\R\A\B\F.SOL C:\R\A\B)"},
    {tree + R"(C:\R=D:\ELSE)", f, R"(-> D:\ELSE\A\B\F.SOL | C:\R\A\B\F.SOL C:\R\A\B C:\R\A C:\R)"},
    {tree + R"(C:\=E:)", R"(C:\R\A\F.SOL)", R"(-> E:\R\A\F.SOL | C:\R\A\F.SOL C:\R\A C:\R C:\)"},
    {tree + R"(C:\R=D:\OUTER C:\R\A=D:\INNER)", f, R"(-> D:\INNER\B\F.SOL | C:\R\A\B\F.SOL C:\R\A\B C:\R\A)"},
    // Other reparse points are walked past and hide no link above them.
    {tree + R"(C:\R\A~)", f, R"(<no link> | C:\R\A\B\F.SOL C:\R\A\B C:\R\A C:\R C:\)"},
    {tree + f + "~", f, R"(<no link> | C:\R\A\B\F.SOL C:\R\A\B C:\R\A C:\R C:\)"},
    {tree + f + R"(~ C:\R\A=D:\ELSE)", f, R"(-> D:\ELSE\B\F.SOL | C:\R\A\B\F.SOL C:\R\A\B C:\R\A)"},
    {tree + R"(C:\R\A\B~ C:\R\A=D:\ELSE)", f, R"(-> D:\ELSE\B\F.SOL | C:\R\A\B\F.SOL C:\R\A\B C:\R\A)"},
    {tree + R"(C:\R\A\B~ C:\=D:\ELSE)", f, R"(-> D:\ELSE\R\A\B\F.SOL | C:\R\A\B\F.SOL C:\R\A\B C:\R\A C:\R C:\)"},
    // Unreadable reparse data may be a link's: the step fails, even under a link.
    {tree + f + "!", f, R"(<failed> | C:\R\A\B\F.SOL)"},
    {tree + R"(C:\R\A\B!)", f, R"(<failed> | C:\R\A\B\F.SOL C:\R\A\B)"},
    {tree + R"(C:\R!)", f, R"(<failed> | C:\R\A\B\F.SOL C:\R\A\B C:\R\A C:\R)"},
    {tree + R"(C:\!)", f, R"(<failed> | C:\R\A\B\F.SOL C:\R\A\B C:\R\A C:\R C:\)"},
    {tree + R"(C:\R\A\B! C:\R=D:\ELSE)", f, R"(<failed> | C:\R\A\B\F.SOL C:\R\A\B)"},
    // A missing folder refuses, but for a UNC server, which has no attributes.
    {R"(C:\ C:\R)", R"(C:\R\NEW.SOL)", R"(<no link> | C:\R\NEW.SOL C:\R C:\)"},
    {R"(C:\ C:\R)", R"(C:\R\MISSING\NEW.SOL)", R"(<missing> | C:\R\MISSING\NEW.SOL C:\R\MISSING)"},
    {R"(C:\)", f, R"(<missing> | C:\R\A\B\F.SOL C:\R\A\B)"}, {"", R"(Q:\F.SOL)", R"(<missing> | Q:\F.SOL Q:\)"},
    {R"(\\SRV\SHARE \\SRV\SHARE\DIR)", R"(\\SRV\SHARE\DIR\F.SOL)",
     R"(<no link> | \\SRV\SHARE\DIR\F.SOL \\SRV\SHARE\DIR \\SRV\SHARE \\SRV)"},
    {R"(\\SRV\SHARE)", R"(\\SRV\SHARE\F.SOL)", R"(<no link> | \\SRV\SHARE\F.SOL \\SRV\SHARE \\SRV)"},
    {"", R"(\\SRV\SHARE\F.SOL)", R"(<missing> | \\SRV\SHARE\F.SOL \\SRV\SHARE)"},
    {R"(\\SRV\SHARE)", R"(\\SRV\SHARE\MISSING\F.SOL)", R"(<missing> | \\SRV\SHARE\MISSING\F.SOL \\SRV\SHARE\MISSING)"},
    {R"(C:\ C:\R=\\SRV\SHARE)", R"(C:\R\F.SOL)", R"(-> \\SRV\SHARE\F.SOL | C:\R\F.SOL C:\R)"},
  };
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(Resolve(c.spec, c.path), c.result) << c.spec;
}

TEST(ExpandPlayerPath, TheExactMarkerAtTheStartAndAResultBelow260Units) {
  const S local = R"(C:\Users\Ann\AppData\Local)";
  // clang-format off
  const struct { const char* path; S result; } cases[] = {
    {R"(<LOCAL_APPDATA>\Kestrelink\a.sol)", local + R"(\Kestrelink\a.sol)"}, {"<LOCAL_APPDATA>", local},
    {"<LOCAL_APPDATA>>", local + ">"}, {"<LOCAL_APPDATA><LOCAL_APPDATA>", local + "<LOCAL_APPDATA>"},
    {R"(<local_appdata>\a.sol)", R"(<local_appdata>\a.sol)"}, {R"(<Local_AppData>\a)", R"(<Local_AppData>\a)"},
    {R"( <LOCAL_APPDATA>\a.sol)", R"( <LOCAL_APPDATA>\a.sol)"}, {R"(C:\<LOCAL_APPDATA>\a)", R"(C:\<LOCAL_APPDATA>\a)"},
    {R"(<LOCAL_APPDATA\a.sol)", R"(<LOCAL_APPDATA\a.sol)"}, {R"(LOCAL_APPDATA>\a.sol)", R"(LOCAL_APPDATA>\a.sol)"},
    {"", ""}};
  // clang-format on
  for (const auto& c : cases)
    EXPECT_EQ(N(ExpandPlayerPath(W(c.path), W(local))), c.result) << c.path;
  for (size_t total : {5, 258, 259, 260, 261, 1000}) {
    S tail = "\\" + S(total - 5, 'x'), path = "<LOCAL_APPDATA>" + tail;
    EXPECT_EQ(N(ExpandPlayerPath(W(path), W(R"(C:\L)"))), total < 260 ? R"(C:\L)" + tail : path)
        << total;
  }
  EXPECT_EQ(N(ExpandPlayerPath(W(S(5000, 'y')), W(local))), S(5000, 'y'));
}

// `raw` as the player sends it, `full` as the system collapses it.
TEST(SplitSearchPattern, WildcardsOnlyInTheLastName) {
  // clang-format off
  const struct { const char *raw, *full, *folder = nullptr, *mask = nullptr; } cases[] = {  // no folder: refused
    {R"(C:\S\*)", R"(C:\S\*)", R"(C:\S)", "*"}, {R"(C:\S\*.sol)", R"(C:\S\*.sol)", R"(C:\S)", "*.sol"},
    {R"(C:\S\a.sol)", R"(C:\S\a.sol)", R"(C:\S)", "a.sol"}, {R"(C:\*)", R"(C:\*)", R"(C:\)", "*"},
    {R"(C:\S\sub\..\*)", R"(C:\S\*)", R"(C:\S)", "*"}, {R"(C:\S\x<)", R"(C:\S\x<)", R"(C:\S)", "x<"},
    {R"(C:\S\*\..\..\W\*)", R"(C:\W\*)"}, {R"(C:\S\?\..\..\W\*)", R"(C:\W\*)"}, {R"(C:\S\<\..\W\*)", R"(C:\W\*)"},
    {R"(C:\S\>\..\W\*)", R"(C:\W\*)"}, {R"(C:\S\"\..\W\*)", R"(C:\W\*)"}, {R"(C:\S\*\.)", R"(C:\S)"},
    {R"(C:\S\a*b\c)", R"(C:\S\a*b\c)"}, {R"(C:\S\*/..)", R"(C:\S)"}, {R"(C:\S\)", R"(C:\S\)"}, {"", ""},
    {"*", "*"}, {R"(C:\S\..)", R"(C:\S\..)"}, {R"(C:\S\.)", R"(C:\S\.)"}, {R"(C:\S\x)", R"(C:\*\x)"},
  };
  // clang-format on
  for (const auto& c : cases) {
    auto split = SplitSearchPattern(W(c.raw), W(c.full));
    EXPECT_EQ(split ? N(split->folder) + "|" + N(split->mask) : kNo,
              c.folder ? S(c.folder) + "|" + c.mask : kNo)
        << c.raw;
  }
}

}  // namespace

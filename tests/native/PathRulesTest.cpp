// The storage path policy's string rules, fed the way the Windows layer feeds
// them: full paths with their upper-cased copies, and synthetic link graphs
// and file systems in place of the disk. Paths are written as narrow raw
// strings; every unit is ASCII.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "broker/PathRules.h"

namespace {

using PathRules::LinkStep;
using PathRules::PrefixInfo;
using PathRules::Text;

Text W(const std::string& s) {
  return Text(s.begin(), s.end());
}

std::string N(const Text& t) {
  std::string out;
  for (char16_t unit : t) out += unit < 0x80 ? static_cast<char>(unit) : '?';
  return out;
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// Built member by member, so that later members keep their defaults.
LinkStep Step(bool ok, std::optional<Text> target) {
  LinkStep step;
  step.ok = ok;
  step.target = std::move(target);
  return step;
}

PrefixInfo Info(bool reparsePoint, bool readable, std::optional<Text> substitute) {
  PrefixInfo info;
  info.exists = true;
  info.reparsePoint = reparsePoint;
  info.readable = readable;
  info.substitute = std::move(substitute);
  return info;
}

std::optional<std::string> Canon(const std::string& full, bool upper) {
  std::optional<Text> text = PathRules::CanonicalText(W(full), W(Upper(full)), upper);
  if (!text) return std::nullopt;
  return N(*text);
}

std::string Show(const std::optional<std::string>& s) {
  return s ? "\"" + *s + "\"" : "<refused>";
}

// ---------------------------------------------------------------------------
// Canonical text

constexpr const char* kRefused = nullptr;

struct CanonCase {
  const char* full;
  const char* upper;  // the answer in upper case, or kRefused
  const char* given;  // the answer in the given case, or kRefused
};

void CheckCanon(const CanonCase& c) {
  auto expect = [](const char* s) { return s ? std::optional<std::string>(s) : std::nullopt; };
  EXPECT_EQ(Show(Canon(c.full, true)), Show(expect(c.upper))) << "upper: " << c.full;
  EXPECT_EQ(Show(Canon(c.full, false)), Show(expect(c.given))) << "given: " << c.full;
}

TEST(CanonicalText, DevicePrefixesAreJudgedLikeThePlainForms) {
  const CanonCase cases[] = {
      {R"(C:\Users\Ann\x.sol)", R"(C:\USERS\ANN\X.SOL)", R"(C:\Users\Ann\x.sol)"},
      {R"(\\?\C:\Users\Ann\x.sol)", R"(C:\USERS\ANN\X.SOL)", R"(C:\Users\Ann\x.sol)"},
      {R"(\\?\c:\Users)", R"(C:\USERS)", R"(c:\Users)"},
      {R"(\\Server\Share\f.sol)", R"(\\SERVER\SHARE\F.SOL)", R"(\\Server\Share\f.sol)"},
      {R"(\\?\UNC\Server\Share\f.sol)", R"(\\SERVER\SHARE\F.SOL)", R"(\\Server\Share\f.sol)"},
      // The prefix is recognised on the upper-cased copy, whatever its case.
      {R"(\\?\unc\server\Share)", R"(\\SERVER\SHARE)", R"(\\server\Share)"},
      // "UNC" without its separator is a name, not the UNC prefix.
      {R"(\\?\UNC)", "UNC", "UNC"},
      // Only one prefix goes; a second keeps its '?'.
      {R"(\\?\\\?\C:\x)", kRefused, kRefused},
      {R"(\\?\UNC\\?\C:\x)", kRefused, kRefused},
      // Object-manager and device namespaces are not folders of the policy.
      {R"(\??\C:\x)", kRefused, kRefused},
      {R"(\\.\C:\x)", kRefused, kRefused},
      {R"(\\?\GLOBALROOT\Device\HarddiskVolume1\x)", R"(GLOBALROOT\DEVICE\HARDDISKVOLUME1\X)",
       R"(GLOBALROOT\Device\HarddiskVolume1\x)"},
  };
  for (const CanonCase& c : cases) CheckCanon(c);
}

TEST(CanonicalText, PrefixedAndPlainFormsAgreeOnHostilePaths) {
  const char* drivePaths[] = {
      R"(C:\R\#SharedObjects\a.sol)",
      R"(C:\R\..\x)",
      R"(C:\R\.hidden)",
      R"(C:\R\name.\x)",
      R"(C:\R\%2e\x)",
      R"(C:\R\x%2E)",
      R"(C:\R\x.sol:stream)",
      R"(C:\R\*.sol)",
      R"(C:\R\a/b)",
      R"(C:)",
      R"(C:\R\a"b)",
      R"(C:\R\)",
  };
  for (const char* p : drivePaths) {
    for (bool upper : {true, false}) {
      EXPECT_EQ(Show(Canon(std::string(R"(\\?\)") + p, upper)), Show(Canon(p, upper)))
          << p << (upper ? " upper" : " given");
    }
  }
  const char* uncTails[] = {
      R"(Srv\Share\a.sol)",
      R"(Srv\Share\..\x)",
      R"(Srv\.Share\x)",
      R"(Srv\Share\x:y)",
      R"(Srv\Share\a|b)",
      R"(Srv)",
      R"(Srv\)",
  };
  for (const char* tail : uncTails) {
    for (bool upper : {true, false}) {
      EXPECT_EQ(Show(Canon(std::string(R"(\\?\UNC\)") + tail, upper)),
                Show(Canon(std::string(R"(\\)") + tail, upper)))
          << tail << (upper ? " upper" : " given");
    }
  }
}

TEST(CanonicalText, EveryForbiddenCharacterRefuses) {
  for (char bad : std::string("*?\"|<>/")) {
    for (const std::string& path :
         {std::string(R"(C:\R\a)") + bad + "b.sol", std::string(R"(C:\R\)") + bad,
          std::string(1, bad), std::string(R"(\\?\C:\R\)") + bad + R"(\x)"}) {
      EXPECT_EQ(Canon(path, true), std::nullopt) << path;
      EXPECT_EQ(Canon(path, false), std::nullopt) << path;
    }
  }
  // Their neighbours in the character set pass.
  for (char fine : std::string("+,;=[]{}'`~!@#$%^&()-_ ")) {
    std::string path = std::string(R"(C:\R\a)") + fine + "b";
    EXPECT_TRUE(Canon(path, true).has_value()) << path;
  }
}

TEST(CanonicalText, OnlyADriveLetterMayHaveAColon) {
  const CanonCase cases[] = {
      {"C:", "C:", "C:"},
      {R"(c:\a)", R"(C:\A)", R"(c:\a)"},
      {R"(z:\a)", R"(Z:\A)", R"(z:\a)"},
      // A second colon names an alternate data stream.
      {R"(C:\R\a.sol:Zone.Identifier)", kRefused, kRefused},
      {R"(C:\R\a.sol::$DATA)", kRefused, kRefused},
      {R"(C:\R\dir:stream\a)", kRefused, kRefused},
      {R"(\\?\C:\R\a:b)", kRefused, kRefused},
      // One colon, not after a drive letter.
      {R"(\\Srv\Share\a:b)", kRefused, kRefused},
      {R"(\\?\UNC\Srv\Share\a:b)", kRefused, kRefused},
      {R"(R\a:b)", kRefused, kRefused},
      {R"(1:\a)", kRefused, kRefused},
      {R"(@:\a)", kRefused, kRefused},
      {R"([:\a)", kRefused, kRefused},
      {R"(:\a)", kRefused, kRefused},
      {":", kRefused, kRefused},
      {R"(CC:\a)", kRefused, kRefused},
      {R"(\C:\a)", kRefused, kRefused},
  };
  for (const CanonCase& c : cases) CheckCanon(c);

  // A letter outside ASCII is no drive letter.
  Text accented = u"\u00C9:\\A";
  EXPECT_EQ(PathRules::CanonicalText(accented, accented, true), std::nullopt);
}

TEST(CanonicalText, DotsAndEncodedDotsNextToASeparatorRefuseInUpperCase) {
  const CanonCase cases[] = {
      {R"(C:\R\.sol)", kRefused, R"(C:\R\.sol)"},
      {R"(C:\R\.\a)", kRefused, R"(C:\R\.\a)"},
      {R"(C:\R\..\a)", kRefused, R"(C:\R\..\a)"},
      {R"(C:\R\..)", kRefused, R"(C:\R\..)"},
      {R"(C:\R\dir.\a)", kRefused, R"(C:\R\dir.\a)"},
      {R"(C:\R.\a)", kRefused, R"(C:\R.\a)"},
      {R"(\\.\pipe\x)", kRefused, R"(\\.\pipe\x)"},
      {R"(\\Srv\.Share)", kRefused, R"(\\Srv\.Share)"},
      // The encoded dot, in either case of the input: the upper-cased copy
      // holds "%2E".
      {R"(C:\R\%2e\a)", kRefused, R"(C:\R\%2e\a)"},
      {R"(C:\R\%2E%2E\a)", kRefused, R"(C:\R\%2E%2E\a)"},
      {R"(C:\R\%2esol)", kRefused, R"(C:\R\%2esol)"},
      {R"(C:\R\dir%2e\a)", kRefused, R"(C:\R\dir%2e\a)"},
      // Dots and encodings that touch no separator pass.
      {R"(C:\R\a.b\c.sol)", R"(C:\R\A.B\C.SOL)", R"(C:\R\a.b\c.sol)"},
      {R"(C:\R\a..b)", R"(C:\R\A..B)", R"(C:\R\a..b)"},
      {R"(C:\R\a%2eb)", R"(C:\R\A%2EB)", R"(C:\R\a%2eb)"},
      {R"(C:\R\%2d\a)", R"(C:\R\%2D\A)", R"(C:\R\%2d\a)"},
      {R"(C:\R\%2\a)", R"(C:\R\%2\A)", R"(C:\R\%2\a)"},
      // The last name's trailing dot or encoding touches no separator.
      {R"(C:\R\a.)", R"(C:\R\A.)", R"(C:\R\a.)"},
      {R"(C:\R\a%2e)", R"(C:\R\A%2E)", R"(C:\R\a%2e)"},
  };
  for (const CanonCase& c : cases) CheckCanon(c);
}

TEST(CanonicalText, CopiesOfDifferentLengthsAreRefused) {
  struct Case {
    Text full;
    Text upperFull;
  } cases[] = {
      {u"C:\\a", u"C:\\AB"},
      {u"C:\\ab", u"C:\\A"},
      {u"C:\\a", u""},
      {u"", u"C:\\A"},
      {u"\\\\?\\UNC\\s\\x", u"\\\\?\\UNC\\S\\"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathRules::CanonicalText(c.full, c.upperFull, true), std::nullopt) << N(c.full);
    EXPECT_EQ(PathRules::CanonicalText(c.full, c.upperFull, false), std::nullopt) << N(c.full);
  }
}

TEST(CanonicalText, EmptyTextPassesEveryCheck) {
  // The full-path expansion before it never yields an empty path; on its own
  // the text has nothing to refuse, and lies under no real root.
  EXPECT_EQ(PathRules::CanonicalText(u"", u"", true), Text());
  EXPECT_EQ(PathRules::CanonicalText(u"", u"", false), Text());
  // The bare prefixes leave empty text and a bare "\\".
  EXPECT_EQ(Canon(R"(\\?\)", true), "");
  EXPECT_EQ(Canon(R"(\\?\UNC\)", true), R"(\\)");
}

// ---------------------------------------------------------------------------
// Prefix test and settings area

TEST(LiesUnder, RootItselfChildrenAndLookAlikes) {
  struct Case {
    const char* path;
    const char* root;
    bool under;
  } cases[] = {
      {R"(C:\ROOT)", R"(C:\ROOT)", true},
      {R"(C:\ROOT\A)", R"(C:\ROOT)", true},
      {R"(C:\ROOT\A\B.SOL)", R"(C:\ROOT)", true},
      {R"(C:\ROOT\)", R"(C:\ROOT)", true},
      {R"(C:\ROOT/A)", R"(C:\ROOT)", true},
      {R"(C:\ROOT2)", R"(C:\ROOT)", false},
      {R"(C:\ROOT2\A)", R"(C:\ROOT)", false},
      {R"(C:\ROOT.SOL)", R"(C:\ROOT)", false},
      {R"(C:\ROOT A\B)", R"(C:\ROOT)", false},
      {R"(C:\ROO)", R"(C:\ROOT)", false},
      {R"(C:\)", R"(C:\ROOT)", false},
      {"", R"(C:\ROOT)", false},
      {R"(D:\ROOT\A)", R"(C:\ROOT)", false},
      {R"(C:\X\C:\ROOT\A)", R"(C:\ROOT)", false},
      // Upper-cased input is compared unit for unit.
      {R"(C:\root\A)", R"(C:\ROOT)", false},
      {R"(\\SRV\SHARE\A)", R"(\\SRV\SHARE)", true},
      {R"(\\SRV\SHARED\A)", R"(\\SRV\SHARE)", false},
      // Roots are kept without a trailing separator: the drive is "C:".
      {R"(C:\A)", "C:", true},
      {"C:A", "C:", false},
      {R"(C:\A)", R"(C:\)", false},
      // An empty root only ever stands for a folder that could not be worked
      // out, and callers refuse before asking; as a text it is the prefix of
      // everything, so it holds itself and whatever starts with a separator.
      {"", "", true},
      {R"(C:\A)", "", false},
      {R"(\\SRV\SHARE)", "", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PathRules::LiesUnder(W(c.path), W(c.root)), c.under) << c.path << " | " << c.root;
  }
}

TEST(IsSettingsArea, SharedObjectsAndDeepSettingsFolders) {
  const std::string shared = R"(C:\R\#SHAREDOBJECTS)";
  const std::string settings = R"(C:\R\SITE\SUPPORT\GLINTPLAYER\SYS)";
  struct Case {
    std::string path;
    bool settingsArea;
  } cases[] = {
      {shared, true},
      {shared + R"(\ABC\X.SOL)", true},
      {shared + R"(\X.SOL)", true},
      {shared + R"(X\A.SOL)", false},
      {shared + "X", false},
      {R"(C:\R\#SHARED)", false},
      // Below the settings prefix: the folder part after it must be longer
      // than two units and begin with "\#".
      {settings + R"(\#A\SETTINGS.SOL)", true},
      {settings + R"(\#AB\SETTINGS.SOL)", true},
      {settings + R"(\#A\B\C.SOL)", true},
      {settings + R"(\#\SETTINGS.SOL)", false},
      {settings + R"(\#A)", false},
      {settings + R"(\#AB)", false},
      {settings + R"(\A\#B\C.SOL)", false},
      {settings + R"(\\#A\C.SOL)", false},
      {settings + R"(#A\C.SOL)", false},
      {settings + R"(X\#A\C.SOL)", false},
      {settings, false},
      {settings + R"(\)", false},
      {settings + R"(\#)", false},
      {R"(C:\R\SITE\SUPPORT\GLINTPLAYER\#A\B.SOL)", false},
      {R"(C:\R\SITE\A.SOL)", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PathRules::IsSettingsArea(W(c.path), W(shared), W(settings)), c.settingsArea)
        << c.path;
  }
}

// ---------------------------------------------------------------------------
// Extensions

TEST(HasWritableExtension, TheTwentyFiveAndTheirNearMisses) {
  const char* extensions[] = {".TXT", ".SOR",  ".SOL", ".SSR", ".SSL", ".SXX", ".XML",
                              ".AHD", ".DAT",  ".GMZ", ".HEU", ".TMP", ".S",   ".DIRECTORY",
                              ".PNG", ".SSS",  ".GS",  ".MGD", ".LKG", ".LIC", ".VCH",
                              ".DLL", ".META", ".ICO", ".JSON"};
  static_assert(sizeof extensions / sizeof extensions[0] == 25);
  for (const char* extension : extensions) {
    EXPECT_TRUE(PathRules::HasWritableExtension(W(std::string(R"(C:\R\NAME)") + extension)))
        << extension;
    EXPECT_TRUE(PathRules::HasWritableExtension(W(extension))) << extension;
    EXPECT_TRUE(PathRules::HasWritableExtension(W(std::string(R"(C:\R\A.EXE)") + extension)))
        << extension;
    // Input is upper-cased before it comes here: lower case is another name.
    std::string lower = extension;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_FALSE(PathRules::HasWritableExtension(W(std::string(R"(C:\R\NAME)") + lower))) << lower;
  }
  const char* misses[] = {
      R"(C:\R\A.EXE)",
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
      R"(C:\R\A.SCR)",
  };
  for (const char* miss : misses) {
    EXPECT_FALSE(PathRules::HasWritableExtension(W(miss))) << miss;
  }
}

// ---------------------------------------------------------------------------
// Link chain

// A link graph: each name maps to its resolution; names not in it resolve
// without a target. Counts the resolutions it answers.
struct LinkGraph {
  std::map<std::string, LinkStep> steps;
  int resolutions = 0;

  void Link(const std::string& from, const std::string& to) { steps[from] = Step(true, W(to)); }
  void Fail(const std::string& at) { steps[at] = Step(false, std::nullopt); }

  std::optional<std::string> Follow(const std::string& path) {
    resolutions = 0;
    std::optional<Text> result = PathRules::FollowLinkChain(W(path), [this](const Text& t) {
      ++resolutions;
      auto found = steps.find(N(t));
      return found == steps.end() ? Step(true, std::nullopt) : found->second;
    });
    if (!result) return std::nullopt;
    return N(*result);
  }
};

// P -> T1 -> ... -> Tn, Tn without a link.
LinkGraph Chain(int targets) {
  LinkGraph graph;
  std::string from = "P";
  for (int i = 1; i <= targets; ++i) {
    std::string to = "T" + std::to_string(i);
    graph.Link(from, to);
    from = to;
  }
  return graph;
}

TEST(FollowLinkChain, ChainsUpToSixteenTargets) {
  struct Case {
    int targets;
    const char* result;
    int resolutions;
  } cases[] = {
      {0, "P", 1},
      {1, "T1", 2},
      {2, "T2", 3},
      {15, "T15", 16},
      {16, "T16", 17},
      // A seventeenth target ends the chain: the path is judged as given,
      // and the seventeenth is never resolved.
      {17, "P", 17},
      {40, "P", 17},
  };
  for (const Case& c : cases) {
    LinkGraph graph = Chain(c.targets);
    EXPECT_EQ(graph.Follow("P"), c.result) << c.targets;
    EXPECT_EQ(graph.resolutions, c.resolutions) << c.targets;
  }
}

TEST(FollowLinkChain, LoopsEndWithThePathAsGiven) {
  LinkGraph selfLoop;
  selfLoop.Link("A", "A");
  EXPECT_EQ(selfLoop.Follow("A"), "A");
  EXPECT_EQ(selfLoop.resolutions, 1);

  LinkGraph cycle;
  cycle.Link("A", "B");
  cycle.Link("B", "A");
  EXPECT_EQ(cycle.Follow("A"), "A");
  EXPECT_EQ(cycle.Follow("B"), "B");
  EXPECT_LE(cycle.resolutions, 3);

  // A loop further down the chain, not through the start.
  LinkGraph tail;
  tail.Link("P", "A");
  tail.Link("A", "B");
  tail.Link("B", "C");
  tail.Link("C", "B");
  EXPECT_EQ(tail.Follow("P"), "P");
  EXPECT_EQ(tail.resolutions, 4);

  // A target that merely repeats an earlier one after a detour.
  LinkGraph seen;
  seen.Link("P", "A");
  seen.Link("A", "B");
  seen.Link("B", "A");
  EXPECT_EQ(seen.Follow("P"), "P");

  // A link to a loop that ends in a self-loop.
  LinkGraph later;
  later.Link("P", "A");
  later.Link("A", "B");
  later.Link("B", "B");
  EXPECT_EQ(later.Follow("P"), "P");
}

TEST(FollowLinkChain, AFailedResolutionAnywhereRefuses) {
  for (int failAt = 0; failAt <= 16; ++failAt) {
    LinkGraph graph = Chain(16);
    std::string name = failAt == 0 ? "P" : "T" + std::to_string(failAt);
    graph.Fail(name);
    EXPECT_EQ(graph.Follow("P"), std::nullopt) << name;
    EXPECT_EQ(graph.resolutions, failAt + 1) << name;
  }
}

TEST(FollowLinkChain, EndlessFreshTargetsStopAfterSeventeenResolutions) {
  int resolutions = 0;
  std::optional<Text> result = PathRules::FollowLinkChain(u"P", [&](const Text&) {
    ++resolutions;
    return Step(true, W("N" + std::to_string(resolutions)));
  });
  EXPECT_EQ(result, Text(u"P"));
  EXPECT_EQ(resolutions, 17);
}

// ---------------------------------------------------------------------------
// Object prefix and UNC server roots

TEST(StripObjectPrefix, OnlyALeadingObjectPrefixGoes) {
  struct Case {
    const char* target;
    const char* stripped;
  } cases[] = {
      {R"(\??\C:\X)", R"(C:\X)"},
      {R"(\??\UNC\SRV\SHARE)", R"(UNC\SRV\SHARE)"},
      {R"(\??\)", ""},
      {R"(\??\\??\C:\X)", R"(\??\C:\X)"},
      {R"(\\?\C:\X)", R"(\\?\C:\X)"},
      {R"(\??C:\X)", R"(\??C:\X)"},
      {R"(C:\X\??\Y)", R"(C:\X\??\Y)"},
      {R"(\??)", R"(\??)"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(N(PathRules::StripObjectPrefix(W(c.target))), c.stripped) << c.target;
  }
}

TEST(IsUncServerRoot, OneNameAfterTwoSeparators) {
  struct Case {
    const char* prefix;
    bool root;
  } cases[] = {
      {R"(\\SERVER)", true},
      {R"(\\SERVER\)", true},
      {R"(\\S)", true},
      {R"(\\SERVER\SHARE)", false},
      {R"(\\SERVER\\)", false},
      {R"(\\)", false},
      {R"(\\\)", false},
      {R"(\\\SERVER)", false},
      {R"(\SERVER)", false},
      {"SERVER", false},
      {R"(C:\)", false},
      {"C:", false},
      {"", false},
      {R"(\\SERVER\SHARE\)", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PathRules::IsUncServerRoot(W(c.prefix)), c.root) << c.prefix;
  }
}

// ---------------------------------------------------------------------------
// Walk over folder prefixes

// A file system of prefixes: anything not listed does not exist. Records the
// prefixes asked for, in order.
struct PrefixFs {
  std::map<std::string, PrefixInfo> entries;
  std::vector<std::string> asked;

  void Folder(const std::string& name) { entries[name] = Info(false, true, std::nullopt); }
  void Link(const std::string& name, const std::string& substitute) {
    entries[name] = Info(true, true, W(substitute));
  }
  void OtherReparsePoint(const std::string& name) {
    entries[name] = Info(true, true, std::nullopt);
  }
  void Unreadable(const std::string& name) { entries[name] = Info(true, false, std::nullopt); }

  LinkStep Resolve(const std::string& path) {
    asked.clear();
    return PathRules::ResolveThroughPrefixes(W(path), [this](const Text& prefix) {
      asked.push_back(N(prefix));
      auto found = entries.find(N(prefix));
      return found == entries.end() ? PrefixInfo{} : found->second;
    });
  }
};

// C:\R\A\B, all plain folders.
PrefixFs Tree() {
  PrefixFs fs;
  for (const char* name : {R"(C:\)", R"(C:\R)", R"(C:\R\A)", R"(C:\R\A\B)"}) fs.Folder(name);
  return fs;
}

std::string ShowStep(const LinkStep& step) {
  if (!step.ok) return "<failed>";
  return step.target ? "-> " + N(*step.target) : "<no link>";
}

TEST(ResolveThroughPrefixes, AsksDeepestFirstAndTheDriveWithItsSeparator) {
  PrefixFs fs = Tree();
  EXPECT_EQ(ShowStep(fs.Resolve(R"(C:\R\A\B\NEW.SOL)")), "<no link>");
  EXPECT_EQ(fs.asked, (std::vector<std::string>{R"(C:\R\A\B\NEW.SOL)", R"(C:\R\A\B)", R"(C:\R\A)",
                                                R"(C:\R)", R"(C:\)"}));

  // An existing plain file is walked over the same way.
  fs.Folder(R"(C:\R\A\B\OLD.SOL)");
  EXPECT_EQ(ShowStep(fs.Resolve(R"(C:\R\A\B\OLD.SOL)")), "<no link>");
  EXPECT_EQ(fs.asked.size(), 5u);

  // A trailing separator leaves an empty last name.
  EXPECT_EQ(ShowStep(fs.Resolve(R"(C:\R\A\)")), "<no link>");
  EXPECT_EQ(fs.asked, (std::vector<std::string>{R"(C:\R\A\)", R"(C:\R\A)", R"(C:\R)", R"(C:\)"}));
}

TEST(ResolveThroughPrefixes, LinksGiveTheirSubstituteAndTheRest) {
  struct Case {
    const char* link;        // where the link is
    const char* substitute;  // what it points at
    const char* path;
    const char* result;
  } cases[] = {
      // The path itself.
      {R"(C:\R\A\B\F.SOL)", R"(\??\D:\ELSE\G.SOL)", R"(C:\R\A\B\F.SOL)", R"(-> \??\D:\ELSE\G.SOL)"},
      // A folder in the middle: the rest keeps its separator.
      {R"(C:\R\A)", R"(\??\D:\ELSE)", R"(C:\R\A\B\F.SOL)", R"(-> \??\D:\ELSE\B\F.SOL)"},
      {R"(C:\R\A\B)", R"(D:\ELSE)", R"(C:\R\A\B\F.SOL)", R"(-> D:\ELSE\F.SOL)"},
      {R"(C:\R)", R"(D:\ELSE)", R"(C:\R\A\B\F.SOL)", R"(-> D:\ELSE\A\B\F.SOL)"},
      // The drive itself, asked for as "C:\".
      {R"(C:\)", R"(E:)", R"(C:\R\A\F.SOL)", R"(-> E:\R\A\F.SOL)"},
  };
  for (const Case& c : cases) {
    PrefixFs fs = Tree();
    fs.Link(c.link, c.substitute);
    EXPECT_EQ(ShowStep(fs.Resolve(c.path)), c.result) << c.link;
    // Nothing above the first link is asked for.
    EXPECT_EQ(fs.asked.back(), c.link) << c.link;
  }

  // Of two links on the path, the deeper one answers.
  PrefixFs fs = Tree();
  fs.Link(R"(C:\R)", R"(D:\OUTER)");
  fs.Link(R"(C:\R\A)", R"(D:\INNER)");
  EXPECT_EQ(ShowStep(fs.Resolve(R"(C:\R\A\B\F.SOL)")), R"(-> D:\INNER\B\F.SOL)");
}

TEST(ResolveThroughPrefixes, ReparsePointsThatAreNotLinks) {
  // With no link on the path: true without a target.
  PrefixFs fs = Tree();
  fs.OtherReparsePoint(R"(C:\R\A)");
  EXPECT_EQ(ShowStep(fs.Resolve(R"(C:\R\A\B\F.SOL)")), "<no link>");
  fs.OtherReparsePoint(R"(C:\R\A\B\F.SOL)");
  EXPECT_EQ(ShowStep(fs.Resolve(R"(C:\R\A\B\F.SOL)")), "<no link>");

  // Such a reparse point (a placeholder of a synchronised folder, say) below
  // a link does not hide the link: reaching it through a junction must still
  // lead to where the junction points.
  struct Case {
    const char* other;
    const char* link;
    const char* result;
  } cases[] = {
      {R"(C:\R\A\B\F.SOL)", R"(C:\R\A)", R"(-> D:\ELSE\B\F.SOL)"},
      {R"(C:\R\A\B)", R"(C:\R\A)", R"(-> D:\ELSE\B\F.SOL)"},
      {R"(C:\R\A\B)", R"(C:\)", R"(-> D:\ELSE\R\A\B\F.SOL)"},
  };
  for (const Case& c : cases) {
    PrefixFs linked = Tree();
    linked.Folder(R"(C:\R\A\B\F.SOL)");
    linked.OtherReparsePoint(c.other);
    linked.Link(c.link, R"(D:\ELSE)");
    EXPECT_EQ(ShowStep(linked.Resolve(R"(C:\R\A\B\F.SOL)")), c.result) << c.other;
  }
}

TEST(ResolveThroughPrefixes, UnreadableReparseDataFails) {
  for (const char* where : {R"(C:\R\A\B\F.SOL)", R"(C:\R\A\B)", R"(C:\R)", R"(C:\)"}) {
    PrefixFs fs = Tree();
    fs.Unreadable(where);
    EXPECT_EQ(ShowStep(fs.Resolve(R"(C:\R\A\B\F.SOL)")), "<failed>") << where;
  }
  // Unreadable data cannot be told from a link, even with a link above it.
  PrefixFs fs = Tree();
  fs.Unreadable(R"(C:\R\A\B)");
  fs.Link(R"(C:\R)", R"(D:\ELSE)");
  EXPECT_EQ(ShowStep(fs.Resolve(R"(C:\R\A\B\F.SOL)")), "<failed>");
}

TEST(ResolveThroughPrefixes, MissingFolders) {
  struct Case {
    std::vector<const char*> existing;
    const char* path;
    const char* result;
  } cases[] = {
      // A missing final name is a file about to be created.
      {{R"(C:\)", R"(C:\R)"}, R"(C:\R\NEW.SOL)", "<no link>"},
      // A missing folder ends the walk with a refusal...
      {{R"(C:\)", R"(C:\R)"}, R"(C:\R\MISSING\NEW.SOL)", "<failed>"},
      {{R"(C:\)"}, R"(C:\R\A\B\F.SOL)", "<failed>"},
      {{}, R"(Q:\F.SOL)", "<failed>"},
      // ...except the server of a UNC path, which has no attributes.
      {{R"(\\SRV\SHARE)", R"(\\SRV\SHARE\DIR)"}, R"(\\SRV\SHARE\DIR\F.SOL)", "<no link>"},
      {{R"(\\SRV\SHARE)"}, R"(\\SRV\SHARE\F.SOL)", "<no link>"},
      {{}, R"(\\SRV\SHARE\F.SOL)", "<failed>"},
      {{R"(\\SRV\SHARE)"}, R"(\\SRV\SHARE\MISSING\F.SOL)", "<failed>"},
  };
  for (const Case& c : cases) {
    PrefixFs fs;
    for (const char* name : c.existing) fs.Folder(name);
    EXPECT_EQ(ShowStep(fs.Resolve(c.path)), c.result) << c.path;
  }

  // The walk stops at the server and never asks for "\" or "".
  PrefixFs unc;
  unc.Folder(R"(\\SRV\SHARE)");
  unc.Resolve(R"(\\SRV\SHARE\F.SOL)");
  EXPECT_EQ(unc.asked,
            (std::vector<std::string>{R"(\\SRV\SHARE\F.SOL)", R"(\\SRV\SHARE)", R"(\\SRV)"}));

  // A link to a share whose server is then reached.
  PrefixFs linked;
  linked.Folder(R"(C:\)");
  linked.Link(R"(C:\R)", R"(\\SRV\SHARE)");
  EXPECT_EQ(ShowStep(linked.Resolve(R"(C:\R\F.SOL)")), R"(-> \\SRV\SHARE\F.SOL)");
}

// ---------------------------------------------------------------------------
// "<LOCAL_APPDATA>"

TEST(ExpandPlayerPath, TheExactMarkerAtTheStart) {
  const std::string local = R"(C:\Users\Ann\AppData\Local)";
  struct Case {
    const char* path;
    std::string result;
  } cases[] = {
      {R"(<LOCAL_APPDATA>\Kestrelink\a.sol)", local + R"(\Kestrelink\a.sol)"},
      {"<LOCAL_APPDATA>", local},
      {"<LOCAL_APPDATA>>", local + ">"},
      {"<LOCAL_APPDATA><LOCAL_APPDATA>", local + "<LOCAL_APPDATA>"},
      {R"(<local_appdata>\a.sol)", R"(<local_appdata>\a.sol)"},
      {R"(<Local_AppData>\a.sol)", R"(<Local_AppData>\a.sol)"},
      {R"( <LOCAL_APPDATA>\a.sol)", R"( <LOCAL_APPDATA>\a.sol)"},
      {R"(C:\<LOCAL_APPDATA>\a.sol)", R"(C:\<LOCAL_APPDATA>\a.sol)"},
      {R"(<LOCAL_APPDATA\a.sol)", R"(<LOCAL_APPDATA\a.sol)"},
      {R"(LOCAL_APPDATA>\a.sol)", R"(LOCAL_APPDATA>\a.sol)"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(N(PathRules::ExpandPlayerPath(W(c.path), W(local))), c.result) << c.path;
  }
}

TEST(ExpandPlayerPath, TheResultMustFitTwoHundredSixtyUnits) {
  const std::string local = R"(C:\L)";
  const std::string marker = "<LOCAL_APPDATA>";
  for (size_t total :
       {size_t{5}, size_t{258}, size_t{259}, size_t{260}, size_t{261}, size_t{1000}}) {
    std::string tail = "\\" + std::string(total - local.size() - 1, 'x');
    std::string path = marker + tail;
    std::string result = N(PathRules::ExpandPlayerPath(W(path), W(local)));
    if (total < 260) {
      EXPECT_EQ(result, local + tail) << total;
    } else {
      EXPECT_EQ(result, path) << total;
    }
  }
  // A long path without the marker is never cut.
  std::string longPath(5000, 'y');
  EXPECT_EQ(N(PathRules::ExpandPlayerPath(W(longPath), W(local))), longPath);
}

}  // namespace

namespace {

// Searches: `raw` as the player sends it, `full` as the system collapses it.
TEST(SplitSearchPattern, WildcardsOnlyInTheLastName) {
  struct Case {
    const char* raw;
    const char* full;
    const char* folder;  // nullptr: refused
    const char* mask;
  } cases[] = {
      {R"(C:\S\*)", R"(C:\S\*)", R"(C:\S)", "*"},
      {R"(C:\S\*.sol)", R"(C:\S\*.sol)", R"(C:\S)", "*.sol"},
      {R"(C:\S\a.sol)", R"(C:\S\a.sol)", R"(C:\S)", "a.sol"},
      {R"(C:\*)", R"(C:\*)", R"(C:\)", "*"},
      {R"(C:\S\sub\..\*)", R"(C:\S\*)", R"(C:\S)", "*"},
      // Every wildcard the system knows, and '.'/'..' after any of them.
      {R"(C:\S\*\..\..\W\*)", R"(C:\W\*)", nullptr, nullptr},
      {R"(C:\S\?\..\..\W\*)", R"(C:\W\*)", nullptr, nullptr},
      {R"(C:\S\<\..\W\*)", R"(C:\W\*)", nullptr, nullptr},
      {R"(C:\S\>\..\W\*)", R"(C:\W\*)", nullptr, nullptr},
      {R"(C:\S\"\..\W\*)", R"(C:\W\*)", nullptr, nullptr},
      {R"(C:\S\*\.)", R"(C:\S)", nullptr, nullptr},
      {R"(C:\S\a*b\c)", R"(C:\S\a*b\c)", nullptr, nullptr},
      {R"(C:\S\*/..)", R"(C:\S)", nullptr, nullptr},
      {R"(C:\S\x<)", R"(C:\S\x<)", R"(C:\S)", "x<"},
      // Nothing to match, or a name that only moves up.
      {R"(C:\S\)", R"(C:\S\)", nullptr, nullptr},
      {"", "", nullptr, nullptr},
      {"*", "*", nullptr, nullptr},
      {R"(C:\S\..)", R"(C:\S\..)", nullptr, nullptr},
      // A wildcard the collapse left in a folder name is refused too.
      {R"(C:\S\x)", R"(C:\*\x)", nullptr, nullptr},
  };
  for (const auto& c : cases) {
    auto split = PathRules::SplitSearchPattern(W(c.raw), W(c.full));
    ASSERT_EQ(split.has_value(), c.folder != nullptr) << c.raw;
    if (!split) continue;
    EXPECT_EQ(N(split->folder), c.folder) << c.raw;
    EXPECT_EQ(N(split->mask), c.mask) << c.raw;
  }
}

}  // namespace

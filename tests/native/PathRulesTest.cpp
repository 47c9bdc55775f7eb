// The storage path policy's string rules, with synthetic link graphs and file systems in place
// of the disk. Paths are narrow raw strings; every unit is ASCII.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "broker/policy/PathRules.h"

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
S Upper(S s) {
  for (char& c : s) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  return s;
}
S Canon(const S& full, bool upper) {
  std::optional<Text> text = CanonicalText(W(full), W(Upper(full)), upper);
  return text ? N(*text) : kNo;
}

std::vector<S> Words(const S& text) {
  std::istringstream in(text);
  std::vector<S> words;
  for (S word; in >> word;) words.push_back(word);
  return words;
}

// Paths that are their own canonical text, refused in both cases, and refused in upper case
// only; a drive or UNC path is judged the same with its "\\?\" or "\\?\UNC\" prefix.
TEST(CanonicalText, PrefixesColonsDotsAndEncodedDots) {
  // clang-format off
  const S pass = R"(C:\Users\Ann\x.sol \\Server\Share\f.sol \\Srv \\Srv\ C:\R\ C: A:\a Z:\a a:\a
      z:\a C:\R\a.b\c.sol C:\R\a..b C:\R\a%2eb C:\R\%2d\a C:\R\%2\a C:\R\a. C:\R\a%2e
      C:\R\#Shared\a.sol)";
  // A second prefix; other namespaces; a second colon (a stream); one not after an ASCII letter.
  const S refused = R"(\\?\\\?\C:\x \\?\UNC\\?\C:\x \??\C:\x \\.\C:\x C:\R\a.sol:Zone.Identifier
      C:\R\a.sol::$DATA C:\R\dir:stream\a C:\R\a:b \\Srv\Share\a:b R\a:b : 1:\a @:\a [:\a `:\a
      {:\a :\a CC:\a \C:\a \\Srv\Share\a|b C:\R\*.sol)";
  // Names that begin or end with a dot or an encoded dot.
  const S upperRefused = R"(C:\R\.sol C:\R\.\a C:\R\..\a C:\R\.. C:\R\dir.\a C:\R.\a \\.\pipe\x
      \\Srv\.Share \\Srv\Share\..\x C:\R\%2e\a C:\R\%2E%2E\a C:\R\%2esol C:\R\dir%2e\a
      C:\R\x%2E\y)";
  // clang-format on
  auto check = [](const S& full, const S& upper, const S& given) {
    std::vector<S> forms = {full};
    if (full.size() > 1 && full[1] == ':') forms.push_back(R"(\\?\)" + full);
    if (full.starts_with(R"(\\)") && full[2] != '.' && full[2] != '?')
      forms.push_back(R"(\\?\UNC\)" + full.substr(2));
    for (const S& form : forms)
      EXPECT_EQ(Canon(form, true) + "|" + Canon(form, false), upper + "|" + given) << form;
  };
  for (const S& path : Words(pass)) check(path, Upper(path), path);
  for (const S& path : Words(refused)) check(path, kNo, kNo);
  for (const S& path : Words(upperRefused)) check(path, kNo, path);
  // clang-format off
  const struct { const char *full, *upper, *given; } prefixed[] = {
      {R"(\\?\c:\Users)", R"(C:\USERS)", R"(c:\Users)"}, {R"(\\?\UNC)", "UNC", "UNC"} /* a name */,
      {R"(\\?\unc\server\Share)", R"(\\SERVER\SHARE)", R"(\\server\Share)"} /* any case */,
      {R"(\\?\GLOBALROOT\Dev\X)", R"(GLOBALROOT\DEV\X)", R"(GLOBALROOT\Dev\X)"},
      {R"(\\?\)", "", ""}, {R"(\\?\UNC\)", R"(\\)", R"(\\)"}, {"", "", ""}};
  // clang-format on
  for (const auto& c : prefixed) check(c.full, c.upper, c.given);
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
    for (const S& path :
         {R"(C:\R\a)" + S(1, bad) + "b", S(1, bad), R"(\\?\C:\R\)" + S(1, bad) + R"(\x)"}) {
      EXPECT_EQ(Canon(path, true) + Canon(path, false), S(kNo) + kNo) << path;
    }
  }
  for (char fine : S("+,;=[]{}'`~!@#$%^&()-_ "))
    EXPECT_NE(Canon(R"(C:\R\a)" + S(1, fine), true), kNo);
}

// "PATH>ROOT" pairs. Roots come without a trailing separator ("C:" for the
// drive); an empty root (never asked for) is the prefix of everything.
TEST(LiesUnder, RootItselfChildrenAndLookAlikes) {
  const S under = R"(C:\ROOT>C:\ROOT C:\ROOT\A>C:\ROOT C:\ROOT\A\B.SOL>C:\ROOT C:\ROOT\>C:\ROOT
      C:\ROOT/A>C:\ROOT \\SRV\SHARE\A>\\SRV\SHARE C:\A>C: > \\SRV\SHARE>)";
  const S notUnder = R"(C:\ROOT2>C:\ROOT C:\ROOT2\A>C:\ROOT C:\ROOT.SOL>C:\ROOT C:\ROO>C:\ROOT
      C:\>C:\ROOT >C:\ROOT D:\ROOT\A>C:\ROOT C:\X\C:\ROOT\A>C:\ROOT C:\root\A>C:\ROOT C:A>C:
      \\SRV\SHARED\A>\\SRV\SHARE C:\A>C:\ C:\A>)";
  for (const auto& [list, expected] : {std::pair{under, true}, {notUnder, false}}) {
    for (const S& pair : Words(list)) {
      size_t gt = pair.find('>');
      EXPECT_EQ(LiesUnder(W(pair.substr(0, gt)), W(pair.substr(gt + 1))), expected) << pair;
    }
  }
}

// '$' stands for the shared-objects prefix, '%' for the settings prefix: the
// folder part after it must be longer than two units and begin with "\#".
TEST(IsSettingsArea, SharedObjectsAndDeepSettingsFolders) {
  const S shared = R"(C:\R\#SHAREDOBJECTS)", settings = R"(C:\R\SITE\SUPPORT\GLINTPLAYER\SYS)";
  const S area = R"($ $\ABC\X.SOL $\X.SOL %\#A\SETTINGS.SOL %\#AB\SETTINGS.SOL %\#A\B\C.SOL)";
  const S notArea = R"($X\A.SOL $X C:\R\#SHARED %\#\SETTINGS.SOL %\#A %\#AB %\A\#B\C.SOL %\\#A\C.SOL
      %#A\C.SOL %X\#A\C.SOL % %\ %\# C:\R\SITE\SUPPORT\GLINTPLAYER\#A\B.SOL C:\R\SITE\A.SOL)";
  for (const auto& [list, expected] : {std::pair{area, true}, {notArea, false}}) {
    for (S path : Words(list)) {
      if (path[0] == '$' || path[0] == '%')
        path = (path[0] == '$' ? shared : settings) + path.substr(1);
      EXPECT_EQ(IsSettingsArea(W(path), W(shared), W(settings)), expected) << path;
    }
  }
}

TEST(HasWritableExtension, EndsOfTheListAndNearMisses) {
  for (S ext : Words(".TXT .SOL .S .DIRECTORY .JSON")) {
    for (const S& path : {R"(C:\R\NAME)" + ext, ext, R"(C:\R\A.EXE)" + ext}) {
      EXPECT_TRUE(HasWritableExtension(W(path))) << path;
    }
    for (char& c : ext) c = static_cast<char>(c | 0x20);  // input arrives upper-cased
    EXPECT_FALSE(HasWritableExtension(W(R"(C:\R\NAME)" + ext))) << ext;
  }
  for (const S& miss : Words(R"(C:\R\A.EXE C:\R\A.DLLX C:\R\ASOL C:\R\SOL C:\R\A.SOL.EXE C:\R\A.TX
      C:\R\A.JSO C:\R\A.DIRECTOR C:\R\A.XM C:\R\A.SS C:\R\A.SOL\ C:\R\A.SOL. C:\R\A.SOL:X C:\R\A.Sol
      C:\R\A S C:\R\A.COM C:\R\A.SCR)")) {
    EXPECT_FALSE(HasWritableExtension(W(miss))) << miss;
  }
  EXPECT_FALSE(HasWritableExtension(W(R"(C:\R\A.SOL )")));
  EXPECT_FALSE(HasWritableExtension(W("")));
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
  const std::pair<int, const char*> chains[] = {{0, "P 1"},     {1, "T1 2"},    {2, "T2 3"},
                                                {15, "T15 16"}, {16, "T16 17"}, {17, "P 17"},
                                                {40, "P 17"}};
  for (const auto& [targets, result] : chains) EXPECT_EQ(Follow(Chain(targets), "P"), result);
  // Loops end with the path as given.
  const std::tuple<const char*, const char*, const char*> loops[] = {
      {"A>A", "A", "A 1"},         {"A>B B>A", "A", "A 3"},
      {"A>B B>A", "B", "B 3"},     {"P>A A>B B>C C>B", "P", "P 4"},
      {"P>A A>B B>A", "P", "P 3"}, {"P>A A>B B>B", "P", "P 3"}};
  for (const auto& [edges, start, result] : loops) EXPECT_EQ(Follow(edges, start), result) << edges;
  for (int failAt = 0; failAt <= 16; ++failAt) {  // a failed resolution anywhere refuses
    S name = failAt == 0 ? "P" : "T" + std::to_string(failAt);
    EXPECT_EQ(Follow(Chain(16) + "!" + name, "P"), S(kNo) + " " + std::to_string(failAt + 1));
  }
}

TEST(ObjectPrefixAndServerRoot, Tables) {
  // "TARGET>STRIPPED" pairs.
  for (const S& pair :
       Words(R"(\??\C:\X>C:\X \??\UNC\SRV\SHARE>UNC\SRV\SHARE \??\> \??\\??\C:\X>\??\C:\X
      \\?\C:\X>\\?\C:\X \??C:\X>\??C:\X C:\X\??\Y>C:\X\??\Y \??>\?? >)")) {
    size_t gt = pair.find('>');
    EXPECT_EQ(N(StripObjectPrefix(W(pair.substr(0, gt)))), pair.substr(gt + 1)) << pair;
  }
  for (const S& root : Words(R"(\\SERVER \\SERVER\ \\S)"))
    EXPECT_TRUE(IsUncServerRoot(W(root))) << root;
  for (const S& other : Words(R"(\\SERVER\SHARE \\SERVER\\ \\ \\\ \\\SERVER \SERVER SERVER C:\ C:
      \\SERVER\SHARE\)")) {
    EXPECT_FALSE(IsUncServerRoot(W(other))) << other;
  }
  EXPECT_FALSE(IsUncServerRoot(u""));
}

// A file system of prefixes from "NAME" (folder), "NAME=SUBSTITUTE" (link), "NAME~" (another
// reparse point) and "NAME!" (unreadable reparse data); nothing else exists. Answers the step
// and the number of prefixes asked for, or, for `listed`, the prefixes themselves.
S Resolve(const S& spec, const S& path, bool listed) {
  std::map<S, PrefixInfo> fs;
  for (const S& entry : Words(spec)) {
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
  int count = 0;
  LinkStep step = ResolveThroughPrefixes(W(path), [&](const Text& prefix) {
    asked += " " + N(prefix), ++count;
    auto found = fs.find(N(prefix));
    return found == fs.end() ? PrefixInfo{} : found->second;
  });
  S shown = !step.ok      ? (step.missing ? "<missing>" : "<failed>")
            : step.target ? N(*step.target)
                          : "-";
  EXPECT_TRUE(!step.missing || !step.ok) << path;
  return shown + (listed ? " |" + asked : " #" + std::to_string(count));
}

TEST(ResolveThroughPrefixes, LinksReparsePointsAndMissingFolders) {
  const S tree = R"(C:\ C:\R C:\R\A C:\R\A\B )", f = R"(C:\R\A\B\F.SOL)", srv = R"(\\SRV\SHARE)";
  // Deepest first, the drive asked for with its separator, the walk stops at a UNC server.
  EXPECT_EQ(Resolve(tree, R"(C:\R\A\B\NEW.SOL)", true),
            R"(- | C:\R\A\B\NEW.SOL C:\R\A\B C:\R\A C:\R C:\)");
  EXPECT_EQ(Resolve(tree, R"(C:\R\A\)", true), R"(- | C:\R\A\ C:\R\A C:\R C:\)");
  EXPECT_EQ(Resolve(srv, srv + R"(\F.SOL)", true), R"(- | \\SRV\SHARE\F.SOL \\SRV\SHARE \\SRV)");
  // clang-format off
  const struct { S spec; S path; const char* result; } cases[] = {
      {tree + f, f, "- #5"},  // an existing plain file is walked over the same way
    // A link gives its substitute and the rest, and nothing above it is asked for.
      {tree + f + R"(=\??\D:\E\G.SOL)", f, R"(\??\D:\E\G.SOL #1)"},
      {tree + R"(C:\R\A=\??\D:\E)", f, R"(\??\D:\E\B\F.SOL #3)"},
      {tree + R"(C:\R\A\B=D:\E)", f, R"(D:\E\F.SOL #2)"},
      {tree + R"(C:\R=D:\E)", f, R"(D:\E\A\B\F.SOL #4)"},
      {tree + R"(C:\=E:)", R"(C:\R\A\F.SOL)", R"(E:\R\A\F.SOL #4)"},
      {tree + R"(C:\R=D:\OUT C:\R\A=D:\IN)", f, R"(D:\IN\B\F.SOL #3)"},
    // Other reparse points are walked past and hide no link above them.
      {tree + R"(C:\R\A~)", f, "- #5"}, {tree + f + "~", f, "- #5"},
      {tree + f + R"(~ C:\R\A=D:\E)", f, R"(D:\E\B\F.SOL #3)"},
      {tree + R"(C:\R\A\B~ C:\R\A=D:\E)", f, R"(D:\E\B\F.SOL #3)"},
      {tree + R"(C:\R\A\B~ C:\=D:\E)", f, R"(D:\E\R\A\B\F.SOL #5)"},
    // Unreadable reparse data may be a link's: the step fails, even under a link.
      {tree + f + "!", f, "<failed> #1"}, {tree + R"(C:\R\A\B!)", f, "<failed> #2"},
      {tree + R"(C:\R!)", f, "<failed> #4"}, {tree + R"(C:\!)", f, "<failed> #5"},
      {tree + R"(C:\R\A\B! C:\R=D:\E)", f, "<failed> #2"},
    // A missing folder refuses, but for a UNC server, which has no attributes.
      {R"(C:\ C:\R)", R"(C:\R\NEW.SOL)", "- #3"},
      {R"(C:\ C:\R)", R"(C:\R\MISSING\NEW.SOL)", "<missing> #2"}, {R"(C:\)", f, "<missing> #2"},
      {"", R"(Q:\F.SOL)", "<missing> #2"},
      {srv + " " + srv + R"(\DIR)", srv + R"(\DIR\F.SOL)", "- #4"},
      {"", srv + R"(\F.SOL)", "<missing> #2"}, {srv, srv + R"(\MISSING\F.SOL)", "<missing> #2"},
      {R"(C:\ C:\R=\\SRV\SHARE)", R"(C:\R\F.SOL)", R"(\\SRV\SHARE\F.SOL #2)"}};
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(Resolve(c.spec, c.path, false), c.result) << c.spec;
}

TEST(ExpandPlayerPath, TheExactMarkerAtTheStartAndAResultBelow260Units) {
  const S local = R"(C:\Users\Ann\AppData\Local)", m = "<LOCAL_APPDATA>";
  for (const auto& [path, result] : {std::pair{m + R"(\K\a.sol)", local + R"(\K\a.sol)"},
                                     {m, local},
                                     {m + ">", local + ">"},
                                     {m + m, local + m}}) {
    EXPECT_EQ(N(ExpandPlayerPath(W(path), W(local))), result);
  }
  std::vector<S> untouched = Words(R"(<local_appdata>\a.sol <Local_AppData>\a C:\<LOCAL_APPDATA>\a
      <LOCAL_APPDATA\a.sol LOCAL_APPDATA>\a.sol)");
  untouched.insert(untouched.end(), {" " + m, "", S(5000, 'y')});
  for (const S& unchanged : untouched) {
    EXPECT_EQ(N(ExpandPlayerPath(W(unchanged), W(local))), unchanged);
  }
  for (size_t total : {5, 258, 259, 260, 261, 1000}) {
    S tail = "\\" + S(total - 5, 'x'), path = m + tail;
    EXPECT_EQ(N(ExpandPlayerPath(W(path), W(R"(C:\L)"))), total < 260 ? R"(C:\L)" + tail : path);
  }
}

// `raw` as the player sends it, `full` as the system collapses it.
TEST(SplitSearchPattern, WildcardsOnlyInTheLastName) {
  // clang-format off
  const struct { const char *raw, *full, *split = kNo; } cases[] = {  // folder|mask
      {R"(C:\S\*)", R"(C:\S\*)", R"(C:\S|*)"}, {R"(C:\S\*.sol)", R"(C:\S\*.sol)", R"(C:\S|*.sol)"},
      {R"(C:\S\a.sol)", R"(C:\S\a.sol)", R"(C:\S|a.sol)"}, {R"(C:\*)", R"(C:\*)", R"(C:\|*)"},
      {R"(C:\S\sub\..\*)", R"(C:\S\*)", R"(C:\S|*)"}, {R"(C:\S\x<)", R"(C:\S\x<)", R"(C:\S|x<)"},
    // Every wildcard, then "." or ".." after it; nothing to match; a name that moves up.
      {R"(C:\S\*\..\..\W\*)", R"(C:\W\*)"}, {R"(C:\S\?\..\..\W\*)", R"(C:\W\*)"},
      {R"(C:\S\<\..\W\*)", R"(C:\W\*)"}, {R"(C:\S\>\..\W\*)", R"(C:\W\*)"},
      {R"(C:\S\"\..\W\*)", R"(C:\W\*)"}, {R"(C:\S\*\.)", R"(C:\S)"},
      {R"(C:\S\a*b\c)", R"(C:\S\a*b\c)"}, {R"(C:\S\*/..)", R"(C:\S)"}, {R"(C:\S\)", R"(C:\S\)"},
      {"", ""}, {"*", "*"}, {R"(C:\S\..)", R"(C:\S\..)"}, {R"(C:\S\.)", R"(C:\S\.)"},
      {R"(C:\S\x)", R"(C:\*\x)"}};
  // clang-format on
  for (const auto& c : cases) {
    auto split = SplitSearchPattern(W(c.raw), W(c.full));
    EXPECT_EQ(split ? N(split->folder) + "|" + N(split->mask) : kNo, c.split) << c.raw;
  }
}

}  // namespace

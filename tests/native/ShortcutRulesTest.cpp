// The shortcut methods' rules; the icon cache is a fake folder.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "broker/services/ShortcutRules.h"

namespace {

using namespace ShortcutRules;
using namespace std::string_literals;

const Text kRoaming = u"C:\\Users\\Ann\\AppData\\Roaming";
const Text kCache = kRoaming + u"\\Arvex\\Glint Player\\Icon Cache";

std::span<const uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}
std::string Show(const std::optional<Text>& t) {
  return t ? std::string(t->begin(), t->end()) : "<refused>";
}

TEST(IconCache, UniqueNamesWithinThePathBuffer) {
  const size_t tail = kCache.size() - kRoaming.size();
  EXPECT_EQ(IconCacheFolder(kRoaming + u"\\"), kCache);
  EXPECT_TRUE(IconCacheFolder(Text(259 - tail, u'r')));
  EXPECT_FALSE(IconCacheFolder(Text(260 - tail, u'r')));
  EXPECT_FALSE(IconCacheFolder(u""));

  std::set<Text> files;
  auto exists = [&](const Text& p) { return files.count(p) > 0; };
  for (const char* expected : {"\\Game.ico", "\\Game (2).ico", "\\Game (3).ico"}) {
    auto path = UniquePath(kCache, u"Game", u".ico", false, exists);
    ASSERT_EQ(Show(path), Show(kCache) + expected);
    files.insert(*path);  // the player writes the icon
  }
  EXPECT_EQ(Show(UniquePath(kCache, u"Game", u".ico", true, exists)), Show(kCache) + "\\Game.ico");
  EXPECT_EQ(Show(UniquePath(u"C:\\D\\", u"a", u".lnk", false, exists)), "C:\\D\\a.lnk");
  EXPECT_FALSE(UniquePath(u"", u"a", u".lnk", false, exists));
  // "C:\" + name + ".ico": 259 units fit, 260 do not, nor a suffix past 259.
  const Text n252(252, u'n'), n248(248, u'n');
  EXPECT_EQ(Show(UniquePath(u"C:", n252, u".ico", false, exists)).size(), 259u);
  EXPECT_FALSE(UniquePath(u"C:", n252 + u'n', u".ico", false, exists));
  files.insert(u"C:\\" + n252 + u".ico");
  files.insert(u"C:\\" + n248 + u".ico");
  EXPECT_FALSE(UniquePath(u"C:", n252, u".ico", false, exists));
  EXPECT_EQ(Show(UniquePath(u"C:", n248, u".ico", false, exists)),
            Show(u"C:\\" + n248 + u" (2).ico"));
  const Text n249(249, u'n');  // its first numbered name would take exactly 260 units
  files.insert(u"C:\\" + n249 + u".ico");
  EXPECT_FALSE(UniquePath(u"C:", n249, u".ico", false, exists));
  uint32_t asked = 0;  // every name taken: the search ends
  EXPECT_FALSE(UniquePath(kCache, u"x", u".ico", false, [&](const Text&) { return ++asked > 0; }));
  EXPECT_EQ(asked, kLastUniqueNumber);
}

TEST(IconCache, OnlyThisNamesIconsDirectlyInTheLocalCache) {
  const Text fill(259 - kCache.size() - 9, u' ');  // a 259-unit path
  // clang-format off
  const std::pair<Text, bool> cases[] = {{kCache + u"\\Game.ico", true},
      {kCache + u"\\Game (2).ico", true}, {kCache + u"\\Game2 ().ico", true},
      {kCache + u"\\Game" + fill + u".ico", true}, {kCache + u"\\Game " + fill + u".ico", false},
      {kCache + u"\\Other.ico", false}, {kCache + u"\\game.ico", false},
      {kCache + u"\\Game.ICO", false}, {kCache + u"\\Game.ico.lnk", false},
      {kCache + u"\\Game.ico:x", false}, {kCache + u"\\Game (2)x.ico", false},
      {kCache + u"\\Game", false}, {kCache + u"\\sub\\Game.ico", false},
      {kCache + u"2\\Game.ico", false}, {kRoaming + u"\\Arvex\\Game.ico", false},
      {kRoaming + u"\\Arvex\\Glint Player\\icon cache\\Game.ico", false},
      {u"\\\\host\\share\\Game.ico", false}, {kCache + u"\\Game.ico" + Text(1, u'\0'), false}};
  // clang-format on
  for (const auto& [path, ok] : cases)
    EXPECT_EQ(IsCacheIconPath(path, kCache, u"Game"), ok) << Show(path);
  const Text unc = u"\\\\srv\\home\\Arvex\\Glint Player\\Icon Cache";
  EXPECT_FALSE(IsCacheIconPath(unc + u"\\Game.ico", unc, u"Game"));
  // A space is the first unit above the control units.
  EXPECT_TRUE(IsCacheIconPath(kCache + u"\\a b.ico", kCache, u"a b"));
  for (const Text name : {u"..\\..\\x", u"a/b", u"a:b", u"", u"a\x01"}) {
    EXPECT_FALSE(IsCacheIconPath(kCache + u"\\" + name + u".ico", kCache, name)) << Show(name);
  }
}

TEST(ShortcutNames, InternetAndDesktopRules) {
  const Text cjk15(15, u'\u65e5');
  // clang-format off
  const struct { Text name; bool internet, desktop; } cases[] = {
      {u"MyGame", true, true}, {u"My_Game", true, true}, {u"My Game", true, false},
      {cjk15, true, true}, {u"\u0080", true, true}, {Text(29, u'a'), true, true},
      {Text(30, u'a'), false, true}, {u"game.exe", false, false}, {u"a-b", true, false},
      {u"", false, false}, {u"a\x1f", false, false}, {Text(u"a\0b", 3), false, false},
      {u"a\x7f", true, false}, {u"a!#$'()+,;=@[]^`{}~", true, false}};
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(IsInternetShortcutName(c.name, c.name), c.internet) << Show(c.name);
    EXPECT_EQ(IsDesktopShortcutName(c.name), c.desktop) << Show(c.name);
  }
  for (char16_t bad : std::u16string(u"\"%&*./:<>?\\|\x01")) {
    EXPECT_FALSE(IsInternetShortcutName(Text(u"a") + bad, Text(u"a") + bad)) << char(bad);
  }
  EXPECT_FALSE(IsInternetShortcutName(u"Game", u"game"));  // the shell changed it
  EXPECT_FALSE(IsInternetShortcutName(u"Game", u""));      // the shell failed
}

TEST(ShortcutUrls, ControlUnitsSchemesAndTheRedirectPrefix) {
  for (const Text& url : {Text(u"http://a/\r"), Text(u"http://a/\nIconFile=x"),
                          Text(u"http://a/\0b", 11), Text(u"\x01http://a/"), Text(u"a\x7f")}) {
    EXPECT_TRUE(HasControlCharacters(url)) << Show(url);
  }
  EXPECT_FALSE(HasControlCharacters(u"http://a/ \"<>%\u0080\u3000"));
  // clang-format off
  for (const auto& [url, ok] : {std::pair<Text, bool>{u"HTTPS://a/", true}, {u"hTtP:x", true},
       {u"ftp://a/", false}, {u"file:///C:/x.exe", false}, {u" http:", false}, {u"httpx:", false}}) {
    EXPECT_EQ(IsHttpUrl(url), ok) << Show(url);
  }
  // clang-format on
  const Text path = u"/cn/glintservice/shortcut/shortcutredirect/?url=";
  EXPECT_EQ(RedirectPrefix(), u"https://www.glint.example" + path);
  EXPECT_TRUE(HasRedirectPrefix(RedirectPrefix() + u"https%3A%2F%2Fa"));
  const Text cn = u"/cn/glintservice/shortcut/", cased = u"shortcutredirect/?url=";
  for (const Text& url :
       {u"http://www.glint.example" + path, u"HTTPS://www.glint.example" + path,
        u"https://WWW.glint.example" + path, u"https://glint.example" + path,
        u"https://www.glint.example.evil" + path, u"https://www.glint.example@evil" + path,
        u"https://www.glint.example/CN/glintservice/shortcut/" + cased,
        u"https://www.glint.example" + cn + u"shortcutredirect/?URL=", u" " + RedirectPrefix()}) {
    EXPECT_FALSE(HasRedirectPrefix(url)) << Show(url);
  }
}

TEST(Authorisation, SnippetLimitsAndSearchesThatStopAtZero) {
  EXPECT_EQ(AuthorisationSnippet("http://a/", "Game"),
            "<shortcut href=\"http://a/\">Game</shortcut>");
  std::string cjk14;  // code page 932: two bytes a character
  for (int i = 0; i < 14; ++i) cjk14 += "\x93\xfa";
  const std::string u191 = "http://a/" + std::string(182, 'u');
  // clang-format off
  const struct { std::string url, name; bool ok; } snippets[] = {{"http://a/", cjk14, true},
      {"http://a/", cjk14 + "\x93\xfa", false}, {"http://a/", std::string(30, 'n'), false},
      {u191, "n", true}, {u191 + "u", "n", false}, {"", "n", false}, {"http://a/", "", false},
      {"http://a/\0"s, "n", false}, {"http://a/", "n\0"s, false}};
  // clang-format on
  for (const auto& c : snippets) EXPECT_EQ(AuthorisationSnippet(c.url, c.name).has_value(), c.ok);

  // clang-format off
  const std::pair<std::string, bool> blobs[] = {{"abc", true}, {"xxabcxx", true}, {"aabc", true},
      {"abc\0"s, true}, {"xxab", false}, {"", false}, {"ABC", false}, {"a\0bc"s, false},
      {"x\0xabc"s, false}};
  // clang-format on
  for (const auto& [blob, found] : blobs)
    EXPECT_EQ(ContainsText(Bytes(blob), "abc"), found) << blob;
  EXPECT_FALSE(ContainsText(Bytes("abc"), ""));

  const uint8_t digest[] = {0x00, 0x1f, 0xa0, 0xff};
  EXPECT_EQ(DigestText(digest), "001FA0FF");
  // clang-format off
  const std::pair<std::string, bool> contents[] = {{"001FA0FF", true}, {"d: 001FA0FF\n", true},
      {"001fa0ff", false}, {"001FA0F", false}, {"x\0" "001FA0FF"s, false}, {"", false}};
  // clang-format on
  for (const auto& [content, ok] : contents)
    EXPECT_EQ(ContentHoldsDigest(Bytes(content), digest), ok);
  const std::string strings = "meta\n<shortcut href=\"http://a/\">Game</shortcut>\n";
  EXPECT_TRUE(StringsHoldSnippet(Bytes(strings), "http://a/", "Game"));
  EXPECT_FALSE(StringsHoldSnippet(Bytes(strings), "http://a/", "Gam"));
  EXPECT_FALSE(StringsHoldSnippet(Bytes("\0"s + strings), "http://a/", "Game"));
}

TEST(DesktopShortcutRate, SignedDifferenceAndRefusedCallsMoveTheStamp) {
  uint32_t stamp = 0;  // prime, +1 s, +2.5 s, +3.3 s, +2.999 s, +3.001 s
  std::string seen;
  for (uint32_t now : {100000u, 101000u, 103500u, 106800u, 109799u, 112800u}) {
    RateLimitDecision d = CheckRateLimit(now, stamp);
    EXPECT_EQ(d.stamp, now);
    stamp = d.stamp;
    seen += d.allowed ? '+' : '-';
  }
  EXPECT_EQ(seen, "+--+-+");
  // clang-format off
  const struct { uint32_t now, stamp; bool allowed; } cases[] = {{3000, 0, false},
      {3001, 0, true}, {0x400, 0xFFFFF000, true}, {0x100, 0xFFFFFF00, false},
      {0, 0xFFFFF447, true}, {0x7FFFFFFF, 0, true}, {0x80000000, 0, false}, {5000, 9000, false}};
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(CheckRateLimit(c.now, c.stamp).allowed, c.allowed) << c.now;
}

TEST(ShortcutLocations, OrderExtensionsAndPin) {
  auto plan = [](uint32_t flags, ShortcutKind kind) {
    std::string out;
    for (const LocationStep& s : PlanLocations(flags, kind)) {
      out += std::to_string(static_cast<uint32_t>(s.location)) + char(s.extension[1]);
      out += s.pin ? "+pin " : " ";
    }
    return out;
  };
  EXPECT_EQ(plan(7, ShortcutKind::Internet), "1l 2l 4l ");
  EXPECT_EQ(plan(15, ShortcutKind::Desktop), "1u 2l 4l+pin ");
  EXPECT_EQ(plan(9, ShortcutKind::Internet), "1l ");
  for (uint32_t nothing : {0u, 8u, 0xFFFFFFF0u})
    EXPECT_EQ(plan(nothing, ShortcutKind::Desktop), "");
}

TEST(ShortcutRequests, EachRefusalOnAnOtherwiseGoodRequest) {
  const InternetShortcutText net{
      u"Game", u"Game", u"http://a/b c", u"http://a/b%20c", kCache + u"\\Game (2).ico", kCache, 1};
  const DesktopShortcutText desk{u"My_Game", RedirectPrefix() + u"x", u"", kCache, 8};
  // clang-format off
  auto netWith = [&](auto edit) { auto r = net; edit(r); return AdmitsInternetShortcut(r); };
  auto deskWith = [&](auto edit) { auto r = desk; edit(r); return AdmitsDesktopShortcut(r); };
  // clang-format on
  EXPECT_TRUE(AdmitsInternetShortcut(net) && AdmitsDesktopShortcut(desk));
  EXPECT_FALSE(netWith([](auto& r) { r.flags = 0; }));
  EXPECT_FALSE(netWith([](auto& r) { r.url += u"\r\n"; }));
  EXPECT_FALSE(netWith([](auto& r) { r.canonicalUrl = u"http:" + Text(255, u'a'); }));
  EXPECT_FALSE(netWith([](auto& r) { r.canonicalUrl = u"http://a/" + Text(251, u'a'); }));
  EXPECT_FALSE(netWith([](auto& r) { r.canonicalUrl = u"file://a/b"; }));
  EXPECT_FALSE(netWith([](auto& r) { r.iconPath = kCache + u"\\Other.ico"; }));
  EXPECT_FALSE(deskWith([](auto& r) { r.url = u"https://evil.example/?url=x"; }));
  EXPECT_FALSE(deskWith([](auto& r) { r.url += u"\nIconFile=\\\\host\\share\\x.ico"; }));
  EXPECT_FALSE(deskWith([](auto& r) { r.iconPath = u"\\\\host\\share\\My_Game.ico"; }));
}

}  // namespace

// Add-in names, download addresses and package headers.
#include <gtest/gtest.h>

#include <string>

#include "broker/addins/AddInRules.h"

namespace {

using namespace AddInRules;

TEST(AddInNames, LettersAndDigitsUpTo31AndTheMutexName) {
  // clang-format off
  const std::pair<std::u16string, bool> cases[] = {{u"a", true}, {u"AZaz09", true},
      {std::u16string(31, u'x'), true}, {std::u16string(32, u'x'), false}, {u"", false},
      {u"glint-addin", false}, {u"..", false}, {u"a b", false}, {u"a\\b", false},
      {u"\u00e9t\u00e9", false}, {std::u16string(u"ab\0c", 4), false}, {u"a@", false},
      {u"a[", false}, {u"a`", false}, {u"a{", false}, {u"a/", false}, {u"a:", false},
      {u"\u0141", false}};
  // clang-format on
  for (const auto& [name, valid] : cases) EXPECT_EQ(IsValidName(name), valid) << name.size();
  EXPECT_EQ(RunningMutexName(u"GlintAddIn@Z["), "KestrelinkMutexGammaglintaddin@z[");
  EXPECT_EQ(RunningMutexName(u"a1"), "KestrelinkMutexGammaa1");
}

TEST(AddInAddresses, OnlyTheMakersHosts) {
  const std::string label32 = "abcdefghijabcdefghijabcdefghijab";
  // clang-format off
  const struct { std::string url, parsed; } cases[] = {  // secure, host and path, or "-"
      {"http://cdn.glint.example/a/b.pkg", "0 cdn.glint.example /a/b.pkg"},
      {"https://cdn.glint.example/x", "1 cdn.glint.example /x"},
      {"http://a-1.glint.example/", "0 a-1.glint.example /"},
      {"http://z.glint.example/", "0 z.glint.example /"},
      {"http://09.glint.example/", "0 09.glint.example /"},
      {"http://" + label32 + ".glint.example/x", "0 " + label32 + ".glint.example /x"},
      {"http://" + label32 + "c.glint.example/x", "-"}, {"http://CDN.glint.example/x", "-"},
      {"http://cDn.glint.example/x", "-"}, {"http://.glint.example/x", "-"},
      {"http://glint.example/x", "-"}, {"http://a.b.glint.example/x", "-"},
      {"http://cdn.glint.example", "-"}, {"http://cdn.glint.example.evil/x", "-"},
      {"http://cdn.glint.exampl/x", "-"}, {"http://cdn.glint.example:8080/x", "-"},
      {"http://user@cdn.glint.example/x", "-"}, {"ftp://cdn.glint.example/x", "-"},
      {"HTTP://cdn.glint.example/x", "-"}, {"https://", "-"}, {"http:/", "-"}, {"", "-"},
      {"http://a", "-"}};
  // clang-format on
  for (const auto& c : cases) {
    auto a = ParseDownloadAddress(c.url);
    EXPECT_EQ(a ? std::to_string(a->secure) + " " + a->host + " " + a->path : "-", c.parsed)
        << c.url;
  }
}

TEST(AddInPackages, HeaderAndTheTenfoldRule) {
  auto header = [](uint32_t unpacked, size_t total) {
    std::string bytes = "Troy";
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(unpacked >> (8 * i));
    bytes.resize(total, 'z');
    auto h = ReadPackageHeader(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return h ? std::to_string(h->unpackedSize) + "@" + std::to_string(h->payloadOffset) : "-";
  };
  EXPECT_EQ(header(100, 10), "-");  // ten bytes announcing 100
  EXPECT_EQ(header(99, 10), "99@8");
  EXPECT_EQ(header(0x01020304, 0x01020304 / 10 + 1), "16909060@8");
  EXPECT_EQ(header(0xFFFFFFFF, 100), "-");
  EXPECT_EQ(header(0, 8), "0@8");
  EXPECT_EQ(header(0, 4), "-");
  EXPECT_FALSE(ReadPackageHeader(reinterpret_cast<const uint8_t*>("Tray\0\0\0\0\0\0\0\0"), 12));
  EXPECT_FALSE(ReadPackageHeader(nullptr, 0));
}

}  // namespace

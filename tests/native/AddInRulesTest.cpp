// Add-in names, download addresses and package headers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "broker/AddInRules.h"

namespace {

using namespace AddInRules;

TEST(AddInNames, LettersAndDigitsUpTo31) {
  struct Case {
    std::u16string name;
    bool valid;
  } cases[] = {
      {u"a", true},
      {u"GlintAddIn2", true},
      {std::u16string(31, u'x'), true},
      {std::u16string(32, u'x'), false},
      {u"", false},
      {u"glint-addin", false},
      {u"glint.addin", false},
      {u"..", false},
      {u"a b", false},
      {u"a\\b", false},
      {u"\u00e9t\u00e9", false},
      {std::u16string(u"ab\0c", 4), false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidName(c.name), c.valid);
}

TEST(AddInAddresses, OnlyTheMakersHosts) {
  struct Case {
    const char* url;
    bool accepted;
    bool secure;
    const char* host;
    const char* path;
  } cases[] = {
      {"http://cdn.glint.example/a/b.pkg", true, false, "cdn.glint.example", "/a/b.pkg"},
      {"https://cdn.glint.example/x", true, true, "cdn.glint.example", "/x"},
      {"http://a-1.glint.example/", true, false, "a-1.glint.example", "/"},
      {"http://abcdefghijabcdefghijabcdefghijab.glint.example/x", true, false,
       "abcdefghijabcdefghijabcdefghijab.glint.example", "/x"},  // a label of 32
      {"http://abcdefghijabcdefghijabcdefghijabc.glint.example/x", false, false, "", ""},  // 33
      {"http://CDN.glint.example/x", false, false, "", ""},
      {"http://cDn.glint.example/x", false, false, "", ""},
      {"http://.glint.example/x", false, false, "", ""},
      {"http://glint.example/x", false, false, "", ""},
      {"http://a.b.glint.example/x", false, false, "", ""},
      {"http://cdn.glint.example", false, false, "", ""},
      {"http://cdn.glint.example.evil/x", false, false, "", ""},
      {"http://cdn.glint.exampl/x", false, false, "", ""},
      {"http://cdn.glint.example:8080/x", false, false, "", ""},
      {"http://user@cdn.glint.example/x", false, false, "", ""},
      {"ftp://cdn.glint.example/x", false, false, "", ""},
      {"HTTP://cdn.glint.example/x", false, false, "", ""},
      {"https://", false, false, "", ""},
      {"http:/", false, false, "", ""},
      {"", false, false, "", ""},
  };
  for (const Case& c : cases) {
    auto parsed = ParseDownloadAddress(c.url);
    ASSERT_EQ(parsed.has_value(), c.accepted) << c.url;
    if (!parsed) continue;
    EXPECT_EQ(parsed->secure, c.secure) << c.url;
    EXPECT_EQ(parsed->host, c.host) << c.url;
    EXPECT_EQ(parsed->path, c.path) << c.url;
  }
}

TEST(AddInPackages, HeaderAndTheTenfoldRule) {
  auto content = [](uint32_t unpacked, size_t total) {
    std::string bytes = "Troy";
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((unpacked >> (8 * i)) & 0xFF);
    bytes.resize(total, 'z');
    return bytes;
  };
  auto header = [](const std::string& bytes) {
    return ReadPackageHeader(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  };
  EXPECT_FALSE(header(content(100, 10)));  // ten bytes announcing 100
  ASSERT_TRUE(header(content(99, 10)));
  EXPECT_EQ(header(content(99, 10))->unpackedSize, 99u);
  EXPECT_EQ(header(content(99, 10))->payloadOffset, 8u);
  EXPECT_FALSE(header(content(0xFFFFFFFF, 100)));
  EXPECT_TRUE(header(content(0, 8)));
  EXPECT_FALSE(header("Troy"));
  EXPECT_FALSE(header("Tray" + std::string(12, '\0')));
  EXPECT_FALSE(ReadPackageHeader(nullptr, 0));
}

TEST(AddInMutex, NameIsLowered) {
  EXPECT_EQ(RunningMutexName(u"GlintAddIn"), "KestrelinkMutexGammaglintaddin");
  EXPECT_EQ(RunningMutexName(u"a1"), "KestrelinkMutexGammaa1");
}

}  // namespace

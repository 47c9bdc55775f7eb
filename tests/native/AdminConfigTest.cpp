// The administrator configuration file and the yes/no reading of a value.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "broker/policy/AdminConfig.h"

namespace {

using namespace std::string_literals;
using Values = std::map<std::string, std::string>;

AdminConfig Parse(const std::string& bytes) {
  return ParseAdminConfig(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(ParseAdminConfig, SignaturesLinesKeysAndValues) {
  const int plain = AdminConfig::kPlain, utf8 = AdminConfig::kUtf8, utf16 = AdminConfig::kUtf16;
  // clang-format off
  const struct { std::string bytes; int encoding; Values values; } cases[] = {
    // Fewer than four bytes: unreadable. A UTF-16 file, either byte order, is left alone.
      {"", AdminConfig::kUnreadable, {}}, {"a=b", AdminConfig::kUnreadable, {}},
      {"\xEF\xBB\xBF", AdminConfig::kUnreadable, {}}, {"\xFF\xFE", AdminConfig::kUnreadable, {}},
      {"a=bc", plain, {{"a", "bc"}}}, {"\xEF\xBB\xBF" "a=b", utf8, {{"a", "b"}}},
      {"\xEF\xBB\xBFk", utf8, {}}, {"\xEF\xBBk=v", plain, {{"\xEF\xBBk", "v"}}},
      {"\xEF\xBF\xBFk=v", plain, {{"\xEF\xBF\xBFk", "v"}}},
      {"\xEF\xBB\xBF\xEF\xBB\xBFk=v", utf8, {{"\xEF\xBB\xBFk", "v"}}},
      {"\xFF\xFE" "k\0=\0v\0"s, utf16, {}}, {"\xFE\xFF" "a=b", utf16, {}},
      {"\xFFk=v", plain, {{"\xFFk", "v"}}}, {"\xFEk=v", plain, {{"\xFEk", "v"}}},
      {"\xFF\xFF=v", plain, {{"\xFF\xFF", "v"}}}, {"\xFE\xFE=v", plain, {{"\xFE\xFE", "v"}}},
      {"\xEE\xBB\xBF=v", plain, {{"\xEE\xBB\xBF", "v"}}},
    // LF, CR LF and a lone CR end lines; the last line needs no end; a CR is no part of a value.
      {"a=1\nb=2\r\nc=3\rd=4", plain, {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}},
      {"a=1\n\rb=2\r\r\nc=3\n\n", plain, {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
      {"\r\n\r\n\n\ra=1", plain, {{"a", "1"}}}, {"a=1\r", plain, {{"a", "1"}}},
      {"a=1\rb", plain, {{"a", "1"}}},
    // The first '=' splits; bytes up to 32 are trimmed from both ends, NUL included.
      {"url = http://host/?q=1&r=2", plain, {{"url", "http://host/?q=1&r=2"}}},
      {"a==b", plain, {{"a", "=b"}}}, {"a = = ", plain, {{"a", "="}}},
      {" \t key \t = \t value \x01\x1F\n", plain, {{"key", "value"}}},
      {"\0k\0=\0v\0"s, plain, {{"k", "v"}}}, {"a b = c d", plain, {{"a b", "c d"}}},
      {"k\0k=v\0v"s, plain, {{"k\0k"s, "v\0v"s}}}, {"\x7Fk=v\xA0", plain, {{"\x7Fk", "v\xA0"}}},
      {"!=!\n", plain, {{"!", "!"}}}, {"\x21=\x20\x21", plain, {{"!", "!"}}},
    // Lines without '=' or with an empty key or value are ignored; repeats replace; keys keep case.
      {"just text\nk=v", plain, {{"k", "v"}}}, {"=v\nk=\n  =  \nk2=   \n\t=\t", plain, {}},
      {"====", plain, {}}, {"k=1\nk=2", plain, {{"k", "2"}}}, {"k=1\nk=\nk", plain, {{"k", "1"}}},
      {" k=1\nk =2", plain, {{"k", "2"}}}, {"Key=1\nkey=2", plain, {{"Key", "1"}, {"key", "2"}}}};
  // clang-format on
  for (const auto& c : cases) {
    AdminConfig config = Parse(c.bytes);
    EXPECT_EQ(config.encoding, c.encoding) << testing::PrintToString(c.bytes);
    EXPECT_EQ(config.values, c.values) << testing::PrintToString(c.bytes);
  }
  EXPECT_EQ(ParseAdminConfig(nullptr, 100).encoding, AdminConfig::kUnreadable);
  std::string longValue(300000, 'v'), longKey(70000, 'k'), many;  // lines of any length and number
  AdminConfig config = Parse("a=1\n" + longKey + "=" + longValue + "\r\nb=2\nc=" + longValue);
  EXPECT_EQ(config.values,
            (Values{{"a", "1"}, {longKey, longValue}, {"b", "2"}, {"c", longValue}}));
  for (int i = 0; i < 20000; ++i)
    many += "key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  AdminConfig big = Parse(many);
  EXPECT_EQ(big.values.size(), 20000u);
  EXPECT_EQ(big.values["key19999"], "19999");
}

TEST(GetAdminBool, WordsLeadingIntegersAndMissingKeys) {
  // clang-format off
  for (const char* on : {"true", "tRuE", "t", "T", "yEs", "y", "Y", "1", "-1", "+1", "007", "10",
                         "9", "1abc", "99999999999999999999999999999"}) {
    EXPECT_TRUE(GetAdminBool(AdminConfig{{{"E", on}}}, "E")) << on;
  }
  for (const char* off : {"0", "-0", "+0", "0x1", "abc", "false", "n", "f", "truex", "ye", "tru",
                          "--1", "+-1", "-", "0.5", "- 1", "", "/", ":"}) {
    EXPECT_FALSE(GetAdminBool(AdminConfig{{{"E", off}}}, "E")) << off;
  }
  // clang-format on
  AdminConfig config = Parse("EnableLocalAppData = yes\nOther=1\n");
  EXPECT_TRUE(GetAdminBool(config, "EnableLocalAppData"));
  for (const char* key : {"enablelocalappdata", "EnableLocalAppData ", "Missing", ""}) {
    EXPECT_FALSE(GetAdminBool(config, key)) << key;
  }
  EXPECT_FALSE(GetAdminBool(AdminConfig{}, "EnableLocalAppData"));
}

}  // namespace

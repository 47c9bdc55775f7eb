// The administrator configuration file: signatures, line ends, the split at
// the first '=', trimming, and the yes/no reading of a value.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "broker/AdminConfig.h"

namespace {

using Values = std::map<std::string, std::string>;

AdminConfig Parse(const std::string& bytes) {
  return ParseAdminConfig(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// Bytes as a readable line for failure messages.
std::string Show(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  return out;
}

TEST(ParseAdminConfig, SignaturesAndShortFiles) {
  using std::string_literals::operator""s;
  struct Case {
    std::string bytes;
    int encoding;
    Values values;
  } cases[] = {
      // Fewer than four bytes: unreadable, even when a line would fit.
      {"", AdminConfig::kUnreadable, {}},
      {"a=b", AdminConfig::kUnreadable, {}},
      {"\xEF\xBB\xBF", AdminConfig::kUnreadable, {}},
      {"\xFF\xFE", AdminConfig::kUnreadable, {}},
      {"a=bc", AdminConfig::kPlain, {{"a", "bc"}}},
      {"\xEF\xBB\xBF"
       "a=b",
       AdminConfig::kUtf8,
       {{"a", "b"}}},
      {"\xEF\xBB\xBFk", AdminConfig::kUtf8, {}},
      // The signature goes; bytes that merely start like it stay in the key.
      {"\xEF\xBB\xBF"
       "EnableLocalAppData=1",
       AdminConfig::kUtf8,
       {{"EnableLocalAppData", "1"}}},
      {"\xEF\xBBk=v", AdminConfig::kPlain, {{"\xEF\xBBk", "v"}}},
      {"\xEF\xBB\xBF\xEF\xBB\xBFk=v", AdminConfig::kUtf8, {{"\xEF\xBB\xBFk", "v"}}},
      // A UTF-16 file, either byte order, is recognised and left alone.
      {"\xFF\xFE"
       "k\0=\0v\0"s,
       AdminConfig::kUtf16,
       {}},
      {"\xFE\xFF\0k\0=\0v"s, AdminConfig::kUtf16, {}},
      {"\xFF\xFE"
       "EnableLocalAppData=1\n",
       AdminConfig::kUtf16,
       {}},
      {"\xFE\xFF"
       "a=b",
       AdminConfig::kUtf16,
       {}},
      // Half a signature is plain text.
      {"\xFFk=v", AdminConfig::kPlain, {{"\xFFk", "v"}}},
      {"\xFEk=v", AdminConfig::kPlain, {{"\xFEk", "v"}}},
      {"\xFF\xFF=v", AdminConfig::kPlain, {{"\xFF\xFF", "v"}}},
  };
  for (const Case& c : cases) {
    AdminConfig config = Parse(c.bytes);
    EXPECT_EQ(config.encoding, c.encoding) << Show(c.bytes);
    EXPECT_EQ(config.values, c.values) << Show(c.bytes);
  }

  AdminConfig none = ParseAdminConfig(nullptr, 100);
  EXPECT_EQ(none.encoding, AdminConfig::kUnreadable);
  EXPECT_TRUE(none.values.empty());
}

TEST(ParseAdminConfig, LinesKeysAndValues) {
  using std::string_literals::operator""s;
  struct Case {
    std::string bytes;
    Values values;
  } cases[] = {
      // LF, CR LF and a lone CR end lines; the last line needs no end.
      {"a=1\nb=2\r\nc=3\rd=4", {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}},
      {"a=1\n\rb=2\r\r\nc=3\n\n", {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
      {"\r\n\r\n\n\ra=1", {{"a", "1"}}},
      // A CR is no part of a value.
      {"a=1\r", {{"a", "1"}}},
      // The first '=' splits.
      {"url = http://host/?q=1&r=2", {{"url", "http://host/?q=1&r=2"}}},
      {"a==b", {{"a", "=b"}}},
      {"a = = ", {{"a", "="}}},
      // Bytes up to 32 are trimmed from both ends, NUL included; inner ones
      // and bytes above 32 stay.
      {" \t key \t = \t value \x01\x1F\n", {{"key", "value"}}},
      {"\0k\0=\0v\0"s, {{"k", "v"}}},
      {"a b = c d", {{"a b", "c d"}}},
      {"k\0k=v\0v"s, {{"k\0k"s, "v\0v"s}}},
      {"\x7Fk=v\xA0", {{"\x7Fk", "v\xA0"}}},
      {"!=!\n", {{"!", "!"}}},
      // Lines without '=', or with an empty key or value, are ignored.
      {"just text\nk=v", {{"k", "v"}}},
      {"=v\nk=\n  =  \nk2=   \n\t=\t", {}},
      {"====", {}},
      // A repeated key replaces; an ignored repeat does not.
      {"k=1\nk=2", {{"k", "2"}}},
      {"k=1\nk=\nk", {{"k", "1"}}},
      {" k=1\nk =2", {{"k", "2"}}},
      // Keys are case-sensitive.
      {"Key=1\nkey=2", {{"Key", "1"}, {"key", "2"}}},
  };
  for (const Case& c : cases) {
    AdminConfig config = Parse(c.bytes);
    EXPECT_EQ(config.encoding, AdminConfig::kPlain) << Show(c.bytes);
    EXPECT_EQ(config.values, c.values) << Show(c.bytes);
  }
}

TEST(ParseAdminConfig, LinesOfAnyLength) {
  std::string longValue(300000, 'v');
  std::string longKey(70000, 'k');
  std::string text = "a=1\n" + longKey + "=" + longValue + "\r\nb=2\n" + "c=" + longValue;
  AdminConfig config = Parse(text);
  ASSERT_EQ(config.values.size(), 4u);
  EXPECT_EQ(config.values[longKey], longValue);
  EXPECT_EQ(config.values["c"], longValue);
  EXPECT_EQ(config.values["b"], "2");

  // Many short lines.
  std::string many;
  for (int i = 0; i < 20000; ++i)
    many += "key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  AdminConfig big = Parse(many);
  ASSERT_EQ(big.values.size(), 20000u);
  EXPECT_EQ(big.values["key19999"], "19999");
}

TEST(GetAdminBool, WordsAndLeadingIntegers) {
  struct Case {
    const char* value;
    bool on;
  } cases[] = {
      {"true", true},
      {"TRUE", true},
      {"True", true},
      {"tRuE", true},
      {"t", true},
      {"T", true},
      {"yes", true},
      {"YES", true},
      {"yEs", true},
      {"y", true},
      {"Y", true},
      {"1", true},
      {"-1", true},
      {"+1", true},
      {"007", true},
      {"10", true},
      {"1abc", true},
      {"2 words", true},
      {"00000000000000000000000000001", true},
      {"99999999999999999999999999999", true},
      {"4294967296", true},
      {"0", false},
      {"00", false},
      {"-0", false},
      {"+0", false},
      {"0x1", false},
      {"000abc", false},
      {"abc", false},
      {"false", false},
      {"no", false},
      {"n", false},
      {"f", false},
      {"on", false},
      {"truex", false},
      {"true1", false},
      {"yess", false},
      {"ye", false},
      {"tru", false},
      {"--1", false},
      {"+-1", false},
      {"-", false},
      {"+", false},
      {".5", false},
      {"0.5", false},
      {"x1", false},
      {"- 1", false},
      {"", false},
  };
  for (const Case& c : cases) {
    AdminConfig config;
    config.values["EnableLocalAppData"] = c.value;
    EXPECT_EQ(GetAdminBool(config, "EnableLocalAppData"), c.on) << c.value;
  }
}

TEST(GetAdminBool, TheKeyMustBeThere) {
  AdminConfig config = Parse("EnableLocalAppData = yes\nOther=1\n");
  EXPECT_TRUE(GetAdminBool(config, "EnableLocalAppData"));
  EXPECT_FALSE(GetAdminBool(config, "enablelocalappdata"));
  EXPECT_FALSE(GetAdminBool(config, "EnableLocalAppData "));
  EXPECT_FALSE(GetAdminBool(config, "Missing"));
  EXPECT_FALSE(GetAdminBool(config, ""));
  EXPECT_FALSE(GetAdminBool(AdminConfig{}, "EnableLocalAppData"));

  // A UTF-16 file leaves the setting off; so does one too short to read.
  EXPECT_FALSE(GetAdminBool(Parse("\xFF\xFE"
                                  "EnableLocalAppData=1"),
                            "EnableLocalAppData"));
  EXPECT_FALSE(GetAdminBool(Parse("E=1"), "E"));
  EXPECT_TRUE(GetAdminBool(Parse("E=1\n"), "E"));
}

}  // namespace

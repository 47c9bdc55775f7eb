// The reader of add-in manifest text: which lines count, the bounded digest
// field, and the growing list of names.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "broker/SignedDataManifest.h"

namespace {

using namespace std::literals;

struct Read {
  bool ok;
  std::vector<std::string> references;
  std::string digest;
};

Read ReadText(std::string_view text) {
  AddInManifest manifest;
  Read read;
  read.ok = ReadAddInManifest(text.data(), text.size(), manifest);
  for (std::string_view name : manifest.references) read.references.emplace_back(name);
  EXPECT_EQ(read.references.size(), manifest.references.Count());
  read.digest = manifest.digest;
  return read;
}

constexpr std::string_view kDigest = "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=";

TEST(AddInManifestText, WhichLinesCount) {
  const struct {
    const char* what;
    std::string_view text;
    std::vector<std::string> references;
    std::string digest;
  } cases[] = {
      {"a typical manifest",
       "<?xml version=\"1.0\"?>\r\n<Manifest>\r\n<Reference URI=\"Tool.exe\" />\r\n"
       "<Reference URI=\"data\\a.dat\" />\r\n<DigestValue>abc=</DigestValue>\r\n</Manifest>\r\n",
       {"Tool.exe", "data\\a.dat"},
       "abc="},
      {"LF without CR", "<Reference URI=\"a\" />\n<DigestValue>abc=</DigestValue>\n", {}, ""},
      {"digest line without CR only",
       "<Reference URI=\"a\" />\r\n<DigestValue>x</DigestValue>\n",
       {"a"},
       ""},
      {"CR without LF", "<Reference URI=\"a\" />\r<DigestValue>x</DigestValue>\r", {}, ""},
      {"last line without a line end",
       "<Reference URI=\"a\" />\r\n<DigestValue>x</DigestValue>",
       {"a"},
       ""},
      {"last line ends in CR only", "<DigestValue>x</DigestValue>\r", {}, ""},
      {"indented", " <Reference URI=\"a\" />\r\n\t<DigestValue>x</DigestValue>\r\n", {}, ""},
      {"something after the closing part",
       "<Reference URI=\"a\" /> \r\n<DigestValue>x</DigestValue>x\r\n",
       {},
       ""},
      {"CR twice before LF", "<DigestValue>x</DigestValue>\r\r\n", {}, ""},
      {"empty values", "<Reference URI=\"\" />\r\n<DigestValue></DigestValue>\r\n", {}, ""},
      {"opening and closing part overlap", "<Reference URI=\" />\r\n", {}, ""},
      {"one-character values",
       "<Reference URI=\"a\" />\r\n<DigestValue>=</DigestValue>\r\n",
       {"a"},
       "="},
      {"quotes and closing parts inside a name",
       "<Reference URI=\"a\" />b\" />\r\n",
       {"a\" />b"},
       ""},
      {"a name with a CR inside", "<Reference URI=\"a\rb\" />\r\n", {"a\rb"}, ""},
      {"case matters", "<reference URI=\"a\" />\r\n<digestvalue>x</digestvalue>\r\n", {}, ""},
      {"the last digest counts",
       "<DigestValue>first</DigestValue>\r\n<DigestValue>second</DigestValue>\r\n"
       "<DigestValue></DigestValue>\r\n",
       {},
       "second"},
      {"references keep their order and repeats",
       "<Reference URI=\"b\" />\r\n<Reference URI=\"a\" />\r\n<Reference URI=\"b\" />\r\n",
       {"b", "a", "b"},
       ""},
      {"the text ends at a NUL",
       "<Reference URI=\"a\" />\r\n\0<Reference URI=\"b\" />\r\n"sv,
       {"a"},
       ""},
      {"a NUL inside a line", "<Reference URI=\"a\0\" />\r\n"sv, {}, ""},
      {"empty text", "", {}, ""},
      {"blank lines only", "\r\n\r\n\n\r", {}, ""},
  };
  for (const auto& c : cases) {
    Read read = ReadText(c.text);
    EXPECT_TRUE(read.ok) << c.what;
    EXPECT_EQ(read.references, c.references) << c.what;
    EXPECT_EQ(read.digest, c.digest) << c.what;
  }
}

TEST(AddInManifestText, TheDigestFieldNeverOverflows) {
  auto line = [](size_t length) {
    return "<DigestValue>" + std::string(length, 'Q') + "</DigestValue>\r\n";
  };
  Read longest = ReadText(line(71));
  EXPECT_TRUE(longest.ok);
  EXPECT_EQ(longest.digest, std::string(71, 'Q'));

  for (size_t length : {72, 73, 4096}) {
    EXPECT_FALSE(ReadText(line(length)).ok) << length << " characters";
    // Also after a good digest line, and when a good one follows.
    EXPECT_FALSE(
        ReadText("<DigestValue>" + std::string(kDigest) + "</DigestValue>\r\n" + line(length)).ok);
    EXPECT_FALSE(
        ReadText(line(length) + "<DigestValue>" + std::string(kDigest) + "</DigestValue>\r\n").ok);
  }
  // A long line that is not a digest line is no concern of the field.
  Read other = ReadText("<DigestValue>" + std::string(100, 'Q') + "</DigestValue> \r\n");
  EXPECT_TRUE(other.ok);
  EXPECT_EQ(other.digest, "");
}

TEST(AddInManifestText, NamesArePackedAndTheBufferDoubles) {
  ManifestReferences list;
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.begin(), list.end());
  EXPECT_STREQ(list.Data(), "");

  ASSERT_TRUE(list.Append("a"));
  ASSERT_TRUE(list.Append("bc"));
  EXPECT_EQ(list.Capacity(), ManifestReferences::kInitialCapacity);
  EXPECT_EQ(std::string_view(list.Data(), 6), "a\0bc\0\0"sv);

  // Names and NULs take 5 bytes; the end mark must fit behind them too.
  ASSERT_TRUE(list.Append(std::string(1015, 'x')));  // 1021 used
  ASSERT_TRUE(list.Append("y"));                     // 1023 used, end mark in the last byte
  EXPECT_EQ(list.Capacity(), 1024u);
  ASSERT_TRUE(list.Append("z"));
  EXPECT_EQ(list.Capacity(), 2048u);
  // A single name larger than twice the buffer doubles until it fits.
  ASSERT_TRUE(list.Append(std::string(5000, 'w')));
  EXPECT_EQ(list.Capacity(), 8192u);
  EXPECT_FALSE(list.Append("")) << "an empty name would read as the end mark";

  std::vector<size_t> lengths;
  for (std::string_view name : list) lengths.push_back(name.size());
  EXPECT_EQ(lengths, (std::vector<size_t>{1, 2, 1015, 1, 1, 5000}));
  EXPECT_EQ(list.Count(), 6u);
}

TEST(AddInManifestText, ManyReferencesAllKept) {
  std::string text;
  std::vector<std::string> expected;
  for (int i = 0; i < 3000; ++i) {
    expected.push_back("folder\\file-" + std::to_string(i) + ".bin");
    text += "<Reference URI=\"" + expected.back() + "\" />\r\n";
  }
  text += "<DigestValue>" + std::string(kDigest) + "</DigestValue>\r\n";
  Read read = ReadText(text);
  EXPECT_TRUE(read.ok);
  EXPECT_EQ(read.references, expected);
  EXPECT_EQ(read.digest, kDigest);
}

}  // namespace

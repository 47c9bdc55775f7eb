// The reader of add-in manifest text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "broker/signeddata/SignedDataManifest.h"

namespace {

using namespace std::literals;

// "ok" or "refused", then the references and the digest.
std::string Read(std::string_view text) {
  AddInManifest manifest;
  std::string out = ReadAddInManifest(text.data(), text.size(), manifest) ? "ok" : "refused";
  size_t count = 0;
  for (std::string_view name : manifest.references) out += " [" + std::string(name) + "]", ++count;
  EXPECT_EQ(count, manifest.references.Count());
  return out + " " + manifest.digest;
}
std::string Digest(const std::string& text) {
  return "<DigestValue>" + text + "</DigestValue>\r\n";
}

TEST(AddInManifestText, WhichLinesCount) {
  // clang-format off
  const std::pair<std::string_view, const char*> cases[] = {
      {"<?xml version=\"1.0\"?>\r\n<Manifest>\r\n<Reference URI=\"Tool.exe\" />\r\n"
     "<Reference URI=\"data\\a.dat\" />\r\n"
     "<DigestValue>abc=</DigestValue>\r\n</Manifest>\r\n", "ok [Tool.exe] [data\\a.dat] abc="},
    // Only lines ended by CR LF, with nothing before the opening or after the closing part.
      {"<Reference URI=\"a\" />\n<DigestValue>abc=</DigestValue>\n", "ok "},
      {"<Reference URI=\"a\" />\r\n<DigestValue>x</DigestValue>\n", "ok [a] "},
      {"<Reference URI=\"a\" />\r<DigestValue>x</DigestValue>\r", "ok "},
      {"<Reference URI=\"a\" />\r\n<DigestValue>x</DigestValue>", "ok [a] "},
      {"<DigestValue>x</DigestValue>\r", "ok "},
      {" <Reference URI=\"a\" />\r\n\t<DigestValue>x</DigestValue>\r\n", "ok "},
      {"<Reference URI=\"a\" /> \r\n<DigestValue>x</DigestValue>x\r\n", "ok "},
      {"<DigestValue>x</DigestValue>\r\r\n", "ok "},
    // Values of at least one character; the parts may not overlap; names keep quotes and CRs.
      {"<Reference URI=\"\" />\r\n<DigestValue></DigestValue>\r\n", "ok "},
      {"<Reference URI=\" />\r\n", "ok "},
      {"<Reference URI=\"a\" />\r\n<DigestValue>=</DigestValue>\r\n", "ok [a] ="},
      {"<Reference URI=\"a\" />b\" />\r\n", "ok [a\" />b] "},
      {"<Reference URI=\"a\rb\" />\r\n", "ok [a\rb] "},
      {"<reference URI=\"a\" />\r\n<digestvalue>x</digestvalue>\r\n", "ok "},
    // The last digest counts; references keep order and repeats; the text ends at a NUL.
      {"<DigestValue>first</DigestValue>\r\n<DigestValue>second</DigestValue>\r\n"
     "<DigestValue></DigestValue>\r\n", "ok second"},
      {"<Reference URI=\"b\" />\r\n<Reference URI=\"a\" />\r\n<Reference URI=\"b\" />\r\n",
     "ok [b] [a] [b] "},
      {"<Reference URI=\"a\" />\r\n\0<Reference URI=\"b\" />\r\n"sv, "ok [a] "},
      {"<Reference URI=\"a\0\" />\r\n"sv, "ok "}, {"", "ok "}, {"\r\n\r\n\n\r", "ok "}};
  // clang-format on
  for (const auto& [text, expected] : cases) EXPECT_EQ(Read(text), expected) << text;
  // The digest field holds 71 characters; a longer digest line refuses the whole manifest.
  const std::string good = Digest("ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=");
  EXPECT_EQ(Read(Digest(std::string(71, 'Q'))), "ok " + std::string(71, 'Q'));
  for (size_t length : {72, 73, 4096}) {
    for (const std::string& text :
         {Digest(std::string(length, 'Q')), good + Digest(std::string(length, 'Q')),
          Digest(std::string(length, 'Q')) + good}) {
      EXPECT_EQ(Read(text).substr(0, 8), "refused ") << length;
    }
  }
  EXPECT_EQ(Read("<DigestValue>" + std::string(100, 'Q') + "</DigestValue> \r\n"),
            "ok ");  // no digest line
  std::string text, expected = "ok";
  for (int i = 0; i < 3000; ++i) {
    std::string name = "folder\\file-" + std::to_string(i) + ".bin";
    text += "<Reference URI=\"" + name + "\" />\r\n";
    expected += " [" + name + "]";
  }
  EXPECT_EQ(Read(text + good), expected + " ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=");
}

TEST(AddInManifestText, NamesArePackedAndTheBufferDoubles) {
  ManifestReferences list;
  EXPECT_TRUE(list.Count() == 0u && list.begin() == list.end() && *list.Data() == 0);
  ASSERT_TRUE(list.Append("a") && list.Append("bc"));
  EXPECT_EQ(list.Capacity(), ManifestReferences::kInitialCapacity);
  EXPECT_EQ(std::string_view(list.Data(), 6), "a\0bc\0\0"sv);
  ASSERT_TRUE(list.Append(std::string(1015, 'x')));  // 1021 used
  ASSERT_TRUE(list.Append("y"));                     // 1023 used, the end mark in the last byte
  EXPECT_EQ(list.Capacity(), 1024u);
  ASSERT_TRUE(list.Append("z"));
  EXPECT_EQ(list.Capacity(), 2048u);
  ASSERT_TRUE(list.Append(std::string(5000, 'w')));  // doubles until it fits
  EXPECT_EQ(list.Capacity(), 8192u);
  EXPECT_FALSE(list.Append("")) << "an empty name would read as the end mark";
  std::vector<size_t> lengths;
  for (auto it = list.begin(); it != list.end(); it++) lengths.push_back((*it).size());
  EXPECT_EQ(lengths, (std::vector<size_t>{1, 2, 1015, 1, 1, 5000}));
  EXPECT_EQ(list.Count(), 6u);
}

}  // namespace

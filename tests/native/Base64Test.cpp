#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Sha256TestSupport.h"
#include "broker/Base64.h"
#include "broker/Sha256.h"

namespace {

// The text, checked to fill exactly the documented room: the count, the NUL
// behind it and nothing written past that.
std::string Encode(const std::vector<uint8_t>& bytes) {
  const size_t room = Base64EncodedLength(bytes.size()) + 1;
  std::vector<char> text(room + 8, '#');
  size_t count = Base64Encode(bytes.data(), bytes.size(), text.data());
  EXPECT_EQ(count, room - 1);
  EXPECT_EQ(text[count], '\0');
  for (size_t i = room; i < text.size(); ++i) EXPECT_EQ(text[i], '#') << "written past the room";
  return std::string(text.data(), count);
}

std::vector<uint8_t> Bytes(const char* text) {
  return std::vector<uint8_t>(text, text + std::strlen(text));
}

TEST(Base64, Rfc4648Vectors) {
  const struct {
    const char* bytes;
    const char* text;
  } cases[] = {{"", ""},
               {"f", "Zg=="},
               {"fo", "Zm8="},
               {"foo", "Zm9v"},
               {"foob", "Zm9vYg=="},
               {"fooba", "Zm9vYmE="},
               {"foobar", "Zm9vYmFy"}};
  for (const auto& c : cases) EXPECT_EQ(Encode(Bytes(c.bytes)), c.text) << '"' << c.bytes << '"';
}

// Every byte value, and the characters at both ends of the alphabet.
TEST(Base64, EveryByteValueAndTheEdgesOfTheAlphabet) {
  EXPECT_EQ(Encode({0x00, 0x00, 0x00}), "AAAA");
  EXPECT_EQ(Encode({0xFF, 0xFF, 0xFF}), "////");
  EXPECT_EQ(Encode({0xFB, 0xEF, 0xBE}), "++++");
  EXPECT_EQ(Encode({0xFF}), "/w==");
  EXPECT_EQ(Encode({0xFF, 0xFF}), "//8=");
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  std::string text = Encode(all);
  EXPECT_EQ(text.substr(0, 8), "AAECAwQF");
  EXPECT_EQ(text.substr(text.size() - 8), "/P3+/w==");
}

// Lengths 0 to 100 and a few large ones against the system's base64.
TEST(Base64, AgreesWithTheBase64Tool) {
  std::vector<size_t> sizes;
  for (size_t size = 0; size <= 100; ++size) sizes.push_back(size);
  for (size_t size : {3000, 65535, 65536, 65537}) sizes.push_back(size);
  ScratchFolder folder;
  for (size_t size : sizes) {
    std::vector<uint8_t> bytes = PseudoRandomBytes(size, 1000 + size);
    std::string name = "bytes-" + std::to_string(size);
    folder.Write(name, bytes);
    std::string expected = RunCommand("base64 -w 0 '" + folder.Path() + "/" + name + "'");
    EXPECT_EQ(Encode(bytes), expected) << size << " bytes";
  }
}

TEST(Base64, DigestTextIs44Characters) {
  Sha256Digest digest = Sha256("abc", 3);
  std::vector<uint8_t> bytes(digest.begin(), digest.end());
  EXPECT_EQ(Encode(bytes), "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=");
}

}  // namespace

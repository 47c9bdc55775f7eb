// SHA-256 with each compression (the SHA extensions' one is skipped, saying so, where the
// processor lacks them) against published vectors and sha256sum; Base64 against vectors.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "broker/signeddata/Base64.h"
#include "broker/signeddata/Sha256.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <typename Range>
std::string Hex(const Range& bytes) {
  std::string out;
  for (uint8_t b : bytes) out += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  return out;
}
// The same bytes for the same seed (xorshift64*).
Bytes PseudoRandomBytes(size_t size, uint64_t seed) {
  Bytes out(size);
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (auto& b : out) {
    x ^= x >> 12, x ^= x << 25, x ^= x >> 27;
    b = static_cast<uint8_t>((x * 0x2545F4914F6CDD1Dull) >> 56);
  }
  return out;
}

struct Compression {
  const char* name;
  Sha256Compress compress;
};
class Sha256Test : public ::testing::TestWithParam<Compression> {
 protected:
  void SetUp() override {
    if (GetParam().compress == Sha256CompressShaExtensions && !Sha256CpuHasShaExtensions()) {
      GTEST_SKIP() << "this processor lacks the SHA extensions; only the portable compression ran";
    }
  }
  // `data` fed in pieces of the given sizes, cycling through them.
  std::string Digest(const Bytes& data, std::vector<size_t> pieces = {}) const {
    Sha256State state;
    Sha256Init(state);
    if (pieces.empty()) pieces.push_back(data.size() + 1);
    for (size_t i = 0, at = 0, take; at < data.size(); ++i, at += take) {
      take = std::min(pieces[i % pieces.size()], data.size() - at);
      Sha256Update(state, data.data() + at, take, GetParam().compress);
    }
    return Hex(Sha256Final(state, GetParam().compress));
  }
};

// FIPS 180-4 examples and one million times 'a', whole and in pieces.
TEST_P(Sha256Test, PublishedVectors) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmn"
       "opqrs"
       "mnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
  for (const auto& [text, digest] : cases) {
    Bytes message(text.begin(), text.end());
    EXPECT_EQ(Digest(message), digest) << text.size();
    EXPECT_EQ(Digest(message, {1, 63, 64, 65, 4096 + 7}), digest) << text.size();
  }
}

// Two updates split at every point; the compression alone from other chaining values.
TEST_P(Sha256Test, EverySplitAndArbitraryStatesAgree) {
  Bytes message = PseudoRandomBytes(200, 7);
  const std::string whole = Digest(message);
  for (size_t split = 0; split <= message.size(); ++split) {
    Sha256State state;
    Sha256Init(state);
    Sha256Update(state, message.data(), split, GetParam().compress);
    Sha256Update(state, message.data() + split, message.size() - split, GetParam().compress);
    ASSERT_EQ(Hex(Sha256Final(state, GetParam().compress)), whole) << "split at " << split;
  }
  for (size_t blocks = 1; blocks <= 9; ++blocks) {
    Bytes data = PseudoRandomBytes(blocks * kSha256BlockSize, blocks),
          seed = PseudoRandomBytes(32, 100 + blocks);
    uint32_t expected[8], actual[8];
    std::memcpy(expected, seed.data(), sizeof expected);
    std::memcpy(actual, seed.data(), sizeof actual);
    Sha256CompressPortable(expected, data.data(), blocks);
    GetParam().compress(actual, data.data(), blocks);
    EXPECT_EQ(0, std::memcmp(expected, actual, sizeof expected)) << blocks << " blocks";
  }
  uint32_t untouched[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  GetParam().compress(untouched, nullptr, 0);
  EXPECT_EQ(untouched[7], 8u) << "no blocks, no change";
}

// Every size around the padding boundaries and up to 1 MiB + 63 bytes, whole and in uneven pieces.
TEST_P(Sha256Test, GeneratedFilesAgreeWithSha256sum) {
#ifdef _WIN32
  GTEST_SKIP() << "sha256sum is the Linux build's reference";
#else
  std::vector<size_t> sizes = {1000,  4095,          4096,    4097,          65535,         65536,
                               65537, (1 << 20) - 1, 1 << 20, (1 << 20) + 1, (1 << 20) + 63};
  for (size_t size = 0; size <= 130; ++size) sizes.push_back(size);
  std::map<std::string, Bytes> files;
  for (size_t size : sizes)
    files["size-" + std::to_string(size)] = PseudoRandomBytes(size, size + 1);
  // Written into a fresh folder that sha256sum reads and that goes afterwards.
  std::string folder = (std::filesystem::temp_directory_path() / "glint-signed.XXXXXX").string();
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  std::string command = "cd '" + folder + "' && sha256sum", output;
  for (const auto& [name, bytes] : files) {
    std::ofstream(folder + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    command += " " + name;
  }
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t got; pipe != nullptr && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, got);
  EXPECT_TRUE(pipe != nullptr && pclose(pipe) == 0) << command;
  std::filesystem::remove_all(folder);
  std::istringstream lines(output);
  std::map<std::string, std::string> sums;
  for (std::string digest, name; lines >> digest >> name;) sums[name] = digest;
  ASSERT_EQ(sums.size(), files.size()) << "sha256sum did not answer for every file";
  for (const auto& [name, bytes] : files) {
    EXPECT_EQ(Digest(bytes), sums[name]) << name;
    EXPECT_EQ(Digest(bytes, {1, 63, 64, 65, 4096 + 7}), sums[name]) << name << " in pieces";
  }
#endif
}

INSTANTIATE_TEST_SUITE_P(Compressions, Sha256Test,
                         ::testing::Values(Compression{"Portable", Sha256CompressPortable},
                                           Compression{"ShaExtensions",
                                                       Sha256CompressShaExtensions}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Sha256Choice, TheExtensionsAreUsedWhenPresent) {
#ifdef _WIN32
  const bool present = Sha256CpuHasShaExtensions();  // the Linux build checks the detection
#else
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string flags, word;
  while (std::getline(cpuinfo, flags) && flags.rfind("flags", 0) != 0) {
  }
  std::map<std::string, bool> has;
  for (std::istringstream in(flags); in >> word;) has[word] = true;
  bool present = has["sha_ni"] && has["ssse3"] && has["sse4_1"];
#endif
  std::printf("SHA extensions on this processor: %s\n", present ? "yes" : "no");
  EXPECT_EQ(Sha256CpuHasShaExtensions(), present);
  EXPECT_EQ(Sha256DefaultCompress(),
            present ? Sha256CompressShaExtensions : Sha256CompressPortable);
  // The 64-bit bit count closes the last block, its high word first (a length past 512 MiB).
  Sha256State state, expected;
  Sha256Init(state);
  Sha256Init(expected);
  state.length = 0x123456789AB;
  uint8_t block[kSha256BlockSize] = {0x80};
  for (int i = 0; i < 8; ++i)
    block[56 + i] = static_cast<uint8_t>((state.length * 8) >> (56 - 8 * i));
  Sha256CompressPortable(expected.h, block, 1);
  Sha256Digest digest = Sha256Final(state, Sha256CompressPortable);
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(
        digest[4 * i] << 24 | digest[4 * i + 1] << 16 | digest[4 * i + 2] << 8 | digest[4 * i + 3],
        expected.h[i]);
}

// The text fills exactly its documented room: the count, the NUL and nothing past it.
std::string Encode(const Bytes& bytes) {
  const size_t room = Base64EncodedLength(bytes.size()) + 1;
  std::vector<char> text(room + 8, '#');
  size_t count = Base64Encode(bytes.data(), bytes.size(), text.data());
  EXPECT_EQ(count, room - 1);
  EXPECT_EQ(std::string(text.data() + count, text.size() - count), '\0' + std::string(8, '#'));
  return std::string(text.data(), count);
}

TEST(Base64, VectorsAndEdgesOfTheAlphabet) {
  // clang-format off
  const std::pair<std::string, const char*> cases[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="},
      {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
      {std::string(3, '\0'), "AAAA"}, {"\xFF\xFF\xFF", "////"},
      {"\xFB\xEF\xBE", "++++"}, {"\xFF", "/w=="}, {"\xFF\xFF", "//8="}};
  // clang-format on
  for (const auto& [bytes, text] : cases)
    EXPECT_EQ(Encode(Bytes(bytes.begin(), bytes.end())), text) << bytes;
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  std::string text = Encode(all);
  EXPECT_EQ(text.substr(0, 8) + text.substr(text.size() - 8), "AAECAwQF/P3+/w==");
  Sha256Digest digest = Sha256("abc", 3);  // a digest's text is 44 characters
  EXPECT_EQ(Encode(Bytes(digest.begin(), digest.end())),
            "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=");
}

}  // namespace

// SHA-256 with each compression: the portable one always, the one with the
// SHA extensions where the processor has them (skipped, saying so, where it
// does not).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Sha256TestSupport.h"
#include "broker/Sha256.h"

namespace {

struct Compression {
  const char* name;
  Sha256Compress compress;
  bool needsShaExtensions;
};

void PrintTo(const Compression& compression, std::ostream* out) {
  *out << compression.name;
}

const Compression kCompressions[] = {
    {"Portable", Sha256CompressPortable, false},
    {"ShaExtensions", Sha256CompressShaExtensions, true},
};

class Sha256Test : public ::testing::TestWithParam<Compression> {
 protected:
  void SetUp() override {
    if (GetParam().needsShaExtensions && !Sha256CpuHasShaExtensions()) {
      GTEST_SKIP() << "this processor lacks the SHA extensions; only the portable compression ran";
    }
  }

  Sha256Compress Compress() const { return GetParam().compress; }

  // Hashes `data` fed in pieces of the given sizes, cycling through them.
  std::string Digest(const std::vector<uint8_t>& data, std::vector<size_t> pieces = {}) const {
    Sha256State state;
    Sha256Init(state);
    if (pieces.empty()) pieces.push_back(data.size() + 1);
    size_t at = 0;
    for (size_t i = 0; at < data.size(); ++i) {
      size_t take = std::min(pieces[i % pieces.size()], data.size() - at);
      Sha256Update(state, data.data() + at, take, Compress());
      at += take;
    }
    return Hex(Sha256Final(state, Compress()));
  }
};

// FIPS 180-4 examples and NIST byte-oriented short and long messages.
TEST_P(Sha256Test, PublishedVectors) {
  const struct {
    const char* message;  // hex
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"616263", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"6162636462636465636465666465666765666768666768696768696a68696a6b696a6b6c6a6b6c6d6b6c6d6e"
       "6c6d6e6f6d6e6f706e6f7071",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"61626364656667686263646566676869636465666768696a6465666768696a6b65666768696a6b6c66676869"
       "6a6b6c6d6768696a6b6c6d6e68696a6b6c6d6e6f696a6b6c6d6e6f706a6b6c6d6e6f70716b6c6d6e6f707172"
       "6c6d6e6f707172736d6e6f70717273746e6f707172737475",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {"d3", "28969cdfa74a12c82f3bad960b0b000aca2ac329deea5c2328ebc6f2ba9802c1"},
      {"11af", "5ca7133fa735326081558ac312c620eeca9970d1e70a4b95533d956f072d1f98"},
      {"b4190e", "dff2e73091f6c05e528896c4c831b9448653dc2ff043528f6769437bc7b975c2"},
      {"74ba2521", "b16aa56be3880d18cd41e68384cf1ec8c17680c45a02b1575dc1518923ae8b0e"},
      {"c299209682", "f0887fe961c9cd3beab957e8222494abb969b1ce4c6557976df8b0f6d20e9166"},
      {"e1dc724d5621", "eca0a060b489636225b4fa64d267dabbe44273067ac679f20820bddc6b6a90ac"},
      {"06e076f5a442d5", "3fd877e27450e6bbd5d74bb82f9870c64c66e109418baa8e6bbcff355e287926"},
      {"5738c929c4f4ccb6", "963bb88f27f512777aab6c8b1a02c70ec0ad651d428f870036e1917120fb48bf"},
      {"3334c58075d3f4139e", "078da3d77ed43bd3037a433fd0341855023793f9afd08b4b08ea1e5597ceef20"},
      {"09fc1accc230a205e4a208e64a8f204291f581a12756392da4b8c0cf5ef02b95",
       "4f44c1c7fbebb6f9601829f3897bfd650c56fa07844be76489076356ac1886a4"},
      {"5a86b737eaea8ee976a0a24da63e7ed7eefad18a101c1211e2b3650c5187c2a8a650547208251f6d4237e661c7"
       "bf4c77f335390394c37fa1a9f9be836ac28509",
       "42e61e174fbb3897d6dd6cef3dd2802fe67b331953b06114a65c772859dfc1aa"},
      {"451101250ec6f26652249d59dc974b7361d571a8101cdfd36aba3b5854d3ae086b5fdd4597721b66e3c0dc5d8c"
       "606d9657d0e323283a5217d1f53f2f284f57b85c8a61ac8924711f895c5ed90ef17745ed2d728abd22a5f7a134"
       "79a462d71b56c19a74a40b655c58edfe0a188ad2cf46cbf30524f65d423c837dd1ff2bf462ac4198007345bb44"
       "dbb7b1c861298cdf61982a833afc728fae1eda2f87aa2c9480858bec",
       "3c593aa539fdcdae516cdf2f15000f6634185c88f505b39775fb9ab137a10aa2"},
      {"6b918fb1a5ad1f9c5e5dbdf10a93a9c8f6bca89f37e79c9fe12a57227941b173ac79d8d440cde8c64c4ebc84a4"
       "c803d198a296f3de060900cc427f58ca6ec373084f95dd6c7c427ecfbf781f68be572a88dbcbb188581ab200bf"
       "b99a3a816407e7dd6dd21003554d4f7a99c93ebfce5c302ff0e11f26f83fe669acefb0c1bbb8b1e909bd14aa48"
       "ba3445c88b0e1190eef765ad898ab8ca2fe507015f1578f10dce3c11a55fb9434ee6e9ad6cc0fdc4684447a9b3"
       "b156b908646360f24fec2d8fa69e2c93db78708fcd2eef743dcb9353819b8d667c48ed54cd436fb1476598c4a1"
       "d7028e6f2ff50751db36ab6bc32435152a00abd3d58d9a8770d9a3e52d5a3628ae3c9e0325",
       "46500b6ae1ab40bde097ef168b0f3199049b55545a1588792d39d594f493dca7"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> message = FromHex(c.message);
    EXPECT_EQ(Digest(message), c.digest) << "message " << c.message;
    EXPECT_EQ(Digest(message, {1}), c.digest) << "byte by byte, message " << c.message;
  }
}

TEST_P(Sha256Test, OneMillionTimesA) {
  std::vector<uint8_t> message(1000000, 'a');
  const char* expected = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
  EXPECT_EQ(Digest(message), expected);
  EXPECT_EQ(Digest(message, {1, 63, 64, 65, 4096 + 7}), expected);
}

// Two updates split at every point of a message of a little over three
// blocks: each way of filling the partial block gives the same digest.
TEST_P(Sha256Test, EverySplitOfAStreamAgrees) {
  std::vector<uint8_t> message = PseudoRandomBytes(200, 7);
  const std::string whole = Digest(message);
  for (size_t split = 0; split <= message.size(); ++split) {
    Sha256State state;
    Sha256Init(state);
    Sha256Update(state, message.data(), split, Compress());
    Sha256Update(state, message.data() + split, message.size() - split, Compress());
    ASSERT_EQ(Hex(Sha256Final(state, Compress())), whole) << "split at " << split;
  }
}

// The compression on its own, from chaining values other than the initial
// ones and over several blocks at once, against the portable compression.
TEST_P(Sha256Test, CompressionFromArbitraryStateMatchesPortable) {
  for (size_t blocks = 1; blocks <= 9; ++blocks) {
    std::vector<uint8_t> data = PseudoRandomBytes(blocks * kSha256BlockSize, blocks);
    std::vector<uint8_t> seed = PseudoRandomBytes(32, 100 + blocks);
    uint32_t expected[8];
    uint32_t actual[8];
    std::memcpy(expected, seed.data(), sizeof expected);
    std::memcpy(actual, seed.data(), sizeof actual);
    Sha256CompressPortable(expected, data.data(), blocks);
    Compress()(actual, data.data(), blocks);
    EXPECT_EQ(0, std::memcmp(expected, actual, sizeof expected)) << blocks << " blocks";
  }
  uint32_t untouched[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Compress()(untouched, nullptr, 0);
  EXPECT_EQ(untouched[7], 8u) << "no blocks, no change";
}

// Files of every size around the padding boundaries and up to 1 MiB + 63
// bytes, against the system's sha256sum; each hashed whole and in uneven
// pieces.
TEST_P(Sha256Test, GeneratedFilesAgreeWithSha256sum) {
  std::vector<size_t> sizes;
  for (size_t size = 0; size <= 130; ++size) sizes.push_back(size);
  for (size_t size : {1000, 4095, 4096, 4097, 65535, 65536, 65537}) sizes.push_back(size);
  for (size_t size : {0, 1, 63}) sizes.push_back((1u << 20) + size);
  sizes.push_back((1u << 20) - 1);

  ScratchFolder folder;
  std::map<std::string, std::vector<uint8_t>> files;
  std::string command = "cd '" + folder.Path() + "' && sha256sum";
  for (size_t size : sizes) {
    std::string name = "size-" + std::to_string(size);
    files[name] = PseudoRandomBytes(size, size + 1);
    folder.Write(name, files[name]);
    command += " " + name;
  }
  std::map<std::string, std::string> sums = Sha256sumLines(RunCommand(command));
  ASSERT_EQ(sums.size(), files.size()) << "sha256sum did not answer for every file";
  for (const auto& [name, bytes] : files) {
    EXPECT_EQ(Digest(bytes), sums[name]) << name;
    EXPECT_EQ(Digest(bytes, {1, 63, 64, 65, 4096 + 7}), sums[name]) << name << " in pieces";
  }
}

INSTANTIATE_TEST_SUITE_P(Compressions, Sha256Test, ::testing::ValuesIn(kCompressions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Sha256Choice, TheExtensionsAreUsedWhenPresent) {
  Sha256Compress expected =
      Sha256CpuHasShaExtensions() ? Sha256CompressShaExtensions : Sha256CompressPortable;
  EXPECT_EQ(Sha256DefaultCompress(), expected);
  std::printf("SHA extensions on this processor: %s\n", Sha256CpuHasShaExtensions() ? "yes" : "no");
  EXPECT_EQ(Hex(Sha256("abc", 3)),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace

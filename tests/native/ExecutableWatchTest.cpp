// The watch that keeps the player from writing an executable image, against a simulated file
// that carries out the writes the watch lets through.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "broker/policy/ExecutableWatch.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) {
  return Bytes(s.begin(), s.end());
}
Bytes Slice(const Bytes& b, size_t from, size_t to) {
  return Bytes(b.begin() + from, b.begin() + to);
}
const Bytes kSig = {'P', 'E', 0, 0};

// "MZ", filler, the header offset h at 60..63 and "PE\0\0" at h.
Bytes Image(uint32_t h = 64) {
  Bytes image(std::max<size_t>(64, h + 4), 0xCC);
  image[0] = 'M', image[1] = 'Z';
  for (int i = 0; i < 4; ++i) image[60 + i] = static_cast<uint8_t>(h >> (8 * i));
  std::copy(kSig.begin(), kSig.end(), image.begin() + h);
  return image;
}

bool IsImage(const Bytes& f) {  // told apart from the watch
  if (f.size() < 64 || f[0] != 'M' || f[1] != 'Z') return false;
  uint64_t h = f[60] | f[61] << 8 | f[62] << 16 | uint64_t{f[63]} << 24;
  return h + 4 <= f.size() && std::equal(kSig.begin(), kSig.end(), f.begin() + h);
}

ExecutableWatch::Reader ReaderOf(const Bytes& file) {
  return [&file](uint64_t offset, uint8_t* out, size_t count) -> size_t {
    if (offset >= file.size()) return 0;
    size_t n = std::min<size_t>(count, file.size() - offset);
    std::memcpy(out, file.data() + offset, n);
    return n;
  };
}

// Asks the watch and carries the write out unless refused; checks that the
// watch reads only a few header bytes the file has and the write does not cover.
struct SimFile {
  Bytes bytes;
  bool failing = false;

  bool Write(uint64_t at, const Bytes& data) {
    int reads = 0;
    ExecutableWatch::Reader reader = [&](uint64_t offset, uint8_t* out, size_t count) -> size_t {
      ++reads;
      EXPECT_LT(offset, bytes.size()) << "read past the end";
      EXPECT_FALSE(offset >= at && offset - at < data.size()) << "read a written byte";
      return failing ? 0 : ReaderOf(bytes)(offset, out, count);
    };
    bool refused =
        ExecutableWatch::WouldMakeImage(at, data.data(), data.size(), bytes.size(), reader);
    EXPECT_LE(reads, 10);
    if (!refused && !data.empty()) {  // a gap before a write reads as zeros
      if (bytes.size() < at + data.size()) bytes.resize(at + data.size(), 0);
      std::copy(data.begin(), data.end(), bytes.begin() + at);
    }
    return refused;
  }
};

TEST(ExecutableWatch, WholeImagesAndEachWatchedByte) {
  for (uint32_t h : {2u, 56u, 64u, 65u, 200u, 4096u}) {
    for (const Bytes& before : {Bytes{}, Bytes(10000, 0), B("ab")}) {
      SimFile file{before};
      EXPECT_TRUE(file.Write(0, Image(h))) << h;
      EXPECT_EQ(file.bytes, before);
    }
  }
  for (size_t i = 0; i < 68; ++i) {
    Bytes changed = Image();
    changed[i] ^= 0x01;
    EXPECT_EQ(SimFile{}.Write(0, changed), i > 1 && i < 60) << "byte " << i;
  }
  for (size_t length : {2u, 60u, 63u, 64u, 66u, 67u})
    EXPECT_FALSE(SimFile{}.Write(0, Slice(Image(), 0, length)));
}

// The image cut at `cuts` and written piece by piece in `order` (empty: in
// order): every write but the last is let through, and the file is never an image.
TEST(ExecutableWatch, ImagesWrittenInPieces) {
  const Bytes image = Image();
  std::vector<size_t> ten = {7, 14, 21, 28, 35, 42, 49, 56, 63}, every, backwards;
  for (size_t i = 1; i < 68; ++i) every.push_back(i);
  for (size_t i = 68; i-- > 0;) backwards.push_back(i);
  // clang-format off
  const struct { std::vector<size_t> cuts, order; } cases[] = {
      {{34}, {}}, {{67}, {}}, {{1}, {}}, {{2, 62}, {}}, {{60, 64}, {}}, {ten, {}}, {every, {}},
      {{2}, {1, 0}}, {{60, 64}, {0, 2, 1}}, {{60, 64}, {2, 0, 1}},
      {{60, 64}, {2, 1, 0}}, {{1, 2}, {2, 1, 0}}, {every, backwards}};
  // clang-format on
  for (const auto& c : cases) {
    SimFile file;
    for (size_t k = 0; k <= c.cuts.size(); ++k) {
      const size_t p = c.order.empty() ? k : c.order[k], from = p == 0 ? 0 : c.cuts[p - 1];
      const size_t to = p == c.cuts.size() ? image.size() : c.cuts[p];
      ASSERT_EQ(file.Write(from, Slice(image, from, to)), k == c.cuts.size())
          << c.cuts.size() << " cuts, write " << k;
      ASSERT_FALSE(IsImage(file.bytes));
    }
  }
}

TEST(ExecutableWatch, WritesIntoExistingFiles) {
  Bytes almost = Image(), at200, allButM = Image(), upToPE = Slice(Image(), 0, 66),
        header1000 = Slice(Image(1000), 0, 64);
  std::copy_n("XXXX", 4,
              almost.begin() + 64);  // an image but for its signature, with more behind it
  almost.resize(168, 0x33);
  at200 = almost;
  at200[60] = 200;
  allButM[0] = 'X';
  // clang-format off
  struct W { uint64_t at; Bytes data; bool refused; };
  const struct { const char* label; Bytes file; std::vector<W> writes; } cases[] = {
      {"signature at the offset", almost, {{64, kSig, true}}},
      {"one byte late", almost, {{65, kSig, false}}},
      {"half the signature", almost, {{64, B("PE"), false}}},
      {"over the offset", almost, {{63, kSig, false}}},
      {"offset and signature", almost, {{60, {64, 0, 0, 0, 'P', 'E', 0, 0}, true}}},
      {"MZ again", almost, {{0, B("MZ"), false}}},
      {"signature at the end", almost, {{168, kSig, false}}},
      {"to a new offset", at200, {{200, kSig, true}}},
      {"short of it", at200, {{168, B("xx"), false}}}, {"the M", allButM, {{0, B("M"), true}}},
      {"another first byte", allButM, {{0, B("N"), false}}}, {"MZ", allButM, {{0, B("MZ"), true}}},
      {"elsewhere", allButM, {{10, B("M"), false}}},
      // An existing image: a write that leaves it one is refused, one that breaks it is not.
      {"image", Image(), {{0, B("X"), false}}}, {"image", Image(), {{66, B("\x01"), false}}},
      {"image", Image(), {{68, B("appended"), true}}},
      {"just past the gap", upToPE, {{68, B("x"), true}}},
      {"ends before H + 3", upToPE, {{66, {0}, false}}}, {"gap, then 0", upToPE, {{67, {0}, true}}},
      {"gap, then 1", upToPE, {{67, {1}, false}}},
      {"rest of the signature", upToPE, {{66, {0, 0}, true}}},
      {"gap where E belongs", Slice(Image(), 0, 65), {{66, {0, 0}, false}}},
      {"gap where the offset belongs", Slice(Image(), 0, 60), {{64, kSig, false}}},
      {"gap where M belongs", {}, {{1, Slice(Image(), 1, 68), false}}},
      {"zeros from a later gap", Slice(Image(), 0, 64),
       {{64, B("PE"), false}, {1 << 20, B("x"), true}, {66, {0}, false}, {67, {0}, true}}},
      {"offset past the end", header1000,
       {{64, kSig, false}, {1000, B("PE"), false}, {1002, {0}, false}, {1003, {0}, true},
        {1003, {7}, false}}},
      {"at the offset", header1000, {{1000, kSig, true}}},
      {"around it", header1000, {{999, kSig, false}, {1001, kSig, false}}},
      {"empty writes", {}, {{0, {}, false}}}, {"", upToPE, {{1000, {}, false}}},
      {"", Image(), {{0, {}, false}}}};
  // clang-format on
  for (const auto& c : cases) {
    SimFile file{c.file};
    for (const W& w : c.writes)
      EXPECT_EQ(file.Write(w.at, w.data), w.refused) << c.label << " at " << w.at;
    if (c.writes.back().data.empty())
      EXPECT_EQ(file.bytes, c.file) << "an empty write fills no gap";
  }
}

TEST(ExecutableWatch, OffsetsNearFourGibibytesAndTheEndOfTheRange) {
  // Asked directly (the simulated file cannot grow to 4 GiB): H + 1 .. H + 3 must not wrap.
  for (uint32_t h : {0xFFFFFFFCu, 0xFFFFFFFDu, 0xFFFFFFFEu, 0xFFFFFFFFu, 0x80000000u}) {
    Bytes header = Slice(Image(64), 0, 64);
    for (int i = 0; i < 4; ++i) header[60 + i] = static_cast<uint8_t>(h >> (8 * i));
    ExecutableWatch::Reader read = ReaderOf(header);
    EXPECT_TRUE(ExecutableWatch::WouldMakeImage(h, kSig.data(), 4, 64, read)) << h;
    EXPECT_FALSE(ExecutableWatch::WouldMakeImage(h, kSig.data(), 3, 64, read)) << h;
    EXPECT_FALSE(ExecutableWatch::WouldMakeImage(h + uint64_t{1}, kSig.data() + 1, 3, 64, read))
        << h;
    EXPECT_FALSE(ExecutableWatch::WouldMakeImage(h + 0x100000000u, kSig.data(), 4, 64, read)) << h;
  }
  Bytes almost = Image(), image = Image();
  almost[64] = 'X';
  for (uint64_t at : {~uint64_t{0} - 3, ~uint64_t{0} - 1, ~uint64_t{0}, uint64_t{1} << 63}) {
    EXPECT_FALSE(ExecutableWatch::WouldMakeImage(at, kSig.data(), 4, 68, ReaderOf(almost))) << at;
    EXPECT_TRUE(ExecutableWatch::WouldMakeImage(at, kSig.data(), 4, 68, ReaderOf(image))) << at;
  }
}

TEST(ExecutableWatch, UnreadableBytesAreUnknown) {
  // What the write itself holds needs no reading; a byte that cannot be read
  // (no reader, a failing one, one that answers too much) lets the write through.
  for (const Bytes& before : {Bytes(10000, 0), Bytes{}})
    EXPECT_TRUE((SimFile{before, true}.Write(0, Image())));
  EXPECT_FALSE((SimFile{Slice(Image(), 0, 64), true}.Write(64, kSig)));
  Bytes header = Slice(Image(), 0, 64);
  EXPECT_FALSE(ExecutableWatch::WouldMakeImage(64, kSig.data(), 4, 64, nullptr));
  EXPECT_TRUE(ExecutableWatch::WouldMakeImage(64, kSig.data(), 4, 64, ReaderOf(header)));
  ExecutableWatch::Reader boastful = [&](uint64_t offset, uint8_t* out, size_t) -> size_t {
    *out = header[offset];
    return 2;
  };
  EXPECT_FALSE(ExecutableWatch::WouldMakeImage(64, kSig.data(), 4, 64, boastful));
  EXPECT_FALSE(ExecutableWatch::WouldMakeImage(0, nullptr, 0, 0, nullptr));
}

}  // namespace

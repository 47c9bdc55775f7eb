// The watch that keeps the player from writing an executable image: each
// write is judged against a simulated file that carries out the writes the
// watch let through, so sequences of writes can be driven the way the broker
// sees them (in order, out of order, after seeks, past the end of the file).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "broker/ExecutableWatch.h"

namespace {

using namespace std::string_literals;
using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes Le32(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

const Bytes kSignature = {'P', 'E', 0, 0};

// "MZ", filler, the header offset h at 60..63 and "PE\0\0" at h.
Bytes Image(uint32_t h = 64) {
  Bytes image(std::max<size_t>(64, h + 4), 0xCC);
  image[0] = 'M';
  image[1] = 'Z';
  Bytes offset = Le32(h);
  std::copy(offset.begin(), offset.end(), image.begin() + 60);
  std::copy(kSignature.begin(), kSignature.end(), image.begin() + h);
  return image;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
  return Bytes(bytes.begin() + from, bytes.begin() + to);
}

// Told apart from the watch: is this file an executable image?
bool IsImage(const Bytes& file) {
  if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') return false;
  uint64_t h = file[60] | file[61] << 8 | file[62] << 16 | static_cast<uint64_t>(file[63]) << 24;
  return h + 4 <= file.size() && std::equal(kSignature.begin(), kSignature.end(), file.begin() + h);
}

enum Outcome { kWritten, kRefused };

const char* Show(Outcome o) {
  return o == kWritten ? "written" : "refused";
}

// A file the watch reads through its Reader. Checks that the watch only asks
// for bytes the file has and the write does not cover, one at a time.
class SimFile {
 public:
  explicit SimFile(Bytes initial = {}) : bytes_(std::move(initial)) {}

  // Asks the watch, then carries the write out unless it was refused.
  Outcome Write(uint64_t position, const Bytes& data) {
    reads_ = 0;
    ExecutableWatch::Reader reader = [&](uint64_t offset, uint8_t* out, size_t count) -> size_t {
      ++reads_;
      EXPECT_LT(offset, bytes_.size()) << "read past the end";
      EXPECT_FALSE(offset >= position && offset - position < data.size()) << "read a written byte";
      if (failing_ || offset >= bytes_.size()) return 0;
      size_t n = static_cast<size_t>(std::min<uint64_t>(count, bytes_.size() - offset));
      std::memcpy(out, bytes_.data() + offset, n);
      return n;
    };
    bool refused =
        ExecutableWatch::WouldMakeImage(position, data.data(), data.size(), bytes_.size(), reader);
    EXPECT_LE(reads_, 10) << "the watch reads only the header bytes";
    if (refused) return kRefused;
    Apply(position, data);
    return kWritten;
  }

  // What the file system does with a write: a gap before it reads as zeros.
  void Apply(uint64_t position, const Bytes& data) {
    if (data.empty()) return;
    if (bytes_.size() < position + data.size()) bytes_.resize(position + data.size(), 0);
    std::copy(data.begin(), data.end(), bytes_.begin() + position);
  }

  void FailReads() { failing_ = true; }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  bool failing_ = false;
  int reads_ = 0;
};

// A file of `size` bytes that can be read.
ExecutableWatch::Reader ReaderOf(const Bytes& file) {
  return [&file](uint64_t offset, uint8_t* out, size_t count) -> size_t {
    if (offset >= file.size()) return 0;
    size_t n = static_cast<size_t>(std::min<uint64_t>(count, file.size() - offset));
    std::memcpy(out, file.data() + offset, n);
    return n;
  };
}

TEST(ExecutableWatch, ImagesWrittenAtOnce) {
  for (uint32_t h : {2u, 56u, 64u, 65u, 200u, 4096u}) {
    SimFile empty;
    EXPECT_EQ(Show(empty.Write(0, Image(h))), Show(kRefused)) << h;
    EXPECT_TRUE(empty.bytes().empty());

    // Over an existing file, longer or shorter.
    SimFile longer(Bytes(10000, 0));
    EXPECT_EQ(Show(longer.Write(0, Image(h))), Show(kRefused)) << h;
    SimFile shorter(B("ab"));
    EXPECT_EQ(Show(shorter.Write(0, Image(h))), Show(kRefused)) << h;
  }
  // With more after the header.
  Bytes longImage = Image();
  longImage.resize(5000, 0x90);
  SimFile file;
  EXPECT_EQ(Show(file.Write(0, longImage)), Show(kRefused));
}

TEST(ExecutableWatch, EachWatchedByteMatters) {
  const Bytes image = Image();
  for (size_t i = 0; i < image.size(); ++i) {
    Bytes changed = image;
    changed[i] ^= 0x01;
    bool watched = i <= 1 || i >= 60;
    SimFile file;
    EXPECT_EQ(Show(file.Write(0, changed)), Show(watched ? kWritten : kRefused)) << "byte " << i;
  }
  const std::string others[] = {"mz", "ZM", "Mz", "NE", "\0Z"s};
  for (const std::string& start : others) {
    Bytes changed = Image();
    std::copy(start.begin(), start.end(), changed.begin());
    SimFile file;
    EXPECT_EQ(Show(file.Write(0, changed)), Show(kWritten)) << start;
  }
  for (const Bytes& signature :
       {B("pe\0\0"s), B("PE\0\1"s), B("PE\1\0"s), B("NE\0\0"s), B("EP\0\0"s)}) {
    Bytes changed = Image();
    std::copy(signature.begin(), signature.end(), changed.begin() + 64);
    SimFile file;
    EXPECT_EQ(Show(file.Write(0, changed)), Show(kWritten));
  }
  // Too short to hold the header offset, or its signature.
  for (size_t length : {2u, 60u, 63u, 64u, 66u, 67u}) {
    SimFile file;
    EXPECT_EQ(Show(file.Write(0, Slice(Image(), 0, length))), Show(kWritten)) << length;
  }
}

// Writes the pieces in the given order; every write but the last must be let
// through, and the last refused.
void ExpectLastPieceRefused(const Bytes& image, const std::vector<size_t>& cuts,
                            const std::vector<size_t>& order, const std::string& label) {
  SimFile file;
  for (size_t k = 0; k < order.size(); ++k) {
    size_t piece = order[k];
    size_t from = piece == 0 ? 0 : cuts[piece - 1];
    size_t to = piece == cuts.size() ? image.size() : cuts[piece];
    Outcome expected = k + 1 == order.size() ? kRefused : kWritten;
    ASSERT_EQ(Show(file.Write(from, Slice(image, from, to))), Show(expected))
        << label << ": piece " << piece << " [" << from << ", " << to << ") as write " << k;
    ASSERT_FALSE(IsImage(file.bytes())) << label;
  }
}

std::vector<size_t> InOrder(size_t pieces) {
  std::vector<size_t> order(pieces);
  for (size_t i = 0; i < pieces; ++i) order[i] = i;
  return order;
}

TEST(ExecutableWatch, ImagesWrittenInPiecesInOrder) {
  const Bytes image = Image();
  struct Case {
    const char* label;
    std::vector<size_t> cuts;
  } cases[] = {
      {"2 pieces", {34}},
      {"2 pieces, the last one byte", {67}},
      {"2 pieces, the first one byte", {1}},
      {"3 pieces", {2, 62}},
      {"3 pieces around the offset", {60, 64}},
      {"10 pieces", {7, 14, 21, 28, 35, 42, 49, 56, 63}},
      {"68 pieces", {}},
  };
  for (Case& c : cases) {
    if (c.cuts.empty()) {
      for (size_t i = 1; i < image.size(); ++i) c.cuts.push_back(i);
    }
    ExpectLastPieceRefused(image, c.cuts, InOrder(c.cuts.size() + 1), c.label);
  }
}

TEST(ExecutableWatch, ImagesWrittenInPiecesOutOfOrder) {
  const Bytes image = Image();
  const std::vector<size_t> tenCuts = {7, 14, 21, 28, 35, 42, 49, 56, 63};
  std::vector<size_t> reversed = InOrder(10);
  std::reverse(reversed.begin(), reversed.end());
  ExpectLastPieceRefused(image, tenCuts, reversed, "10 pieces reversed");
  // "MZ" last; the header offset last; the signature first.
  ExpectLastPieceRefused(image, {2}, {1, 0}, "MZ last");
  ExpectLastPieceRefused(image, {60, 64}, {0, 2, 1}, "offset last");
  ExpectLastPieceRefused(image, {60, 64}, {2, 0, 1}, "signature first, offset last");
  ExpectLastPieceRefused(image, {60, 64}, {2, 1, 0}, "signature first, MZ last");
  ExpectLastPieceRefused(image, {1, 2}, {2, 1, 0}, "M last, alone");

  // One byte at a time, from the end back to the start.
  std::vector<size_t> everyByte;
  for (size_t i = 1; i < image.size(); ++i) everyByte.push_back(i);
  std::vector<size_t> backwards = InOrder(image.size());
  std::reverse(backwards.begin(), backwards.end());
  ExpectLastPieceRefused(image, everyByte, backwards, "byte by byte backwards");

  // Shuffled orders of ten pieces. Whatever the order, the write that
  // completes the image is refused, and the file never is one.
  std::mt19937 random(20240611);
  for (int round = 0; round < 300; ++round) {
    std::vector<size_t> order = InOrder(10);
    std::shuffle(order.begin(), order.end(), random);
    SimFile file;
    bool refused = false;
    for (size_t piece : order) {
      size_t from = piece == 0 ? 0 : tenCuts[piece - 1];
      size_t to = piece == 9 ? image.size() : tenCuts[piece];
      SimFile probe = file;
      probe.Apply(from, Slice(image, from, to));
      Outcome expected = IsImage(probe.bytes()) ? kRefused : kWritten;
      ASSERT_EQ(Show(file.Write(from, Slice(image, from, to))), Show(expected))
          << "round " << round << ", piece " << piece;
      ASSERT_FALSE(IsImage(file.bytes()));
      if (expected == kRefused) {
        refused = true;
        break;
      }
    }
    EXPECT_TRUE(refused) << "round " << round;
  }
}

TEST(ExecutableWatch, WritesAfterASeekIntoAnExistingFile) {
  // An image but for its signature, with more data behind it.
  Bytes almost = Image();
  std::copy_n("XXXX", 4, almost.begin() + 64);
  almost.resize(168, 0x33);
  Bytes offsetAt200 = almost;
  std::copy_n(Le32(200).begin(), 4, offsetAt200.begin() + 60);
  Bytes allButM = Image();
  allButM[0] = 'X';

  struct Case {
    const char* label;
    const Bytes& file;
    uint64_t position;
    Bytes data;
    Outcome outcome;
  } cases[] = {
      {"the signature at the offset", almost, 64, kSignature, kRefused},
      {"the signature one byte late", almost, 65, kSignature, kWritten},
      {"half the signature", almost, 64, B("PE"), kWritten},
      {"the signature over the offset's last byte", almost, 63, kSignature, kWritten},
      {"offset and signature together", almost, 60, {64, 0, 0, 0, 'P', 'E', 0, 0}, kRefused},
      {"MZ again", almost, 0, B("MZ"), kWritten},
      {"the signature at the end", almost, 168, kSignature, kWritten},
      {"a new offset, to the signature's place", offsetAt200, 200, kSignature, kRefused},
      {"a write short of the new offset", offsetAt200, 168, B("xx"), kWritten},
      {"the M of an otherwise whole image", allButM, 0, B("M"), kRefused},
      {"another first byte", allButM, 0, B("N"), kWritten},
      {"MZ over an otherwise whole image", allButM, 0, B("MZ"), kRefused},
      {"elsewhere in an otherwise whole image", allButM, 10, B("M"), kWritten},
  };
  for (const Case& c : cases) {
    SimFile file(c.file);
    EXPECT_EQ(Show(file.Write(c.position, c.data)), Show(c.outcome)) << c.label;
  }

  // A file that already is an image (made without the broker): any write
  // that leaves it one is refused; one that breaks it is let through.
  struct OnImage {
    uint64_t position;
    Bytes data;
    Outcome outcome;
  } onImage[] = {
      {0, B("X"), kWritten},         {1, B("X"), kWritten},      {62, B("\x01"), kWritten},
      {66, B("\x01"), kWritten},     {0, B("M"), kRefused},      {10, B("anything"), kRefused},
      {68, B("appended"), kRefused}, {5000, B("far"), kRefused},
  };
  for (const OnImage& c : onImage) {
    SimFile file(Image());
    EXPECT_EQ(Show(file.Write(c.position, c.data)), Show(c.outcome)) << c.position;
  }
}

TEST(ExecutableWatch, GapsBeforeAWriteReadAsZeros) {
  const Bytes upToPE = Slice(Image(), 0, 66);  // "PE" at 64 and the file ends
  struct Case {
    const char* label;
    Bytes file;
    uint64_t position;
    Bytes data;
    Outcome outcome;
  } cases[] = {
      {"a byte far past the end", upToPE, 100, B("x"), kRefused},
      {"a byte just past the gap", upToPE, 68, B("x"), kRefused},
      {"one zero, the file ends before H + 3", upToPE, 66, {0}, kWritten},
      {"a gap of one zero, then a zero", upToPE, 67, {0}, kRefused},
      {"a gap of one zero, then a one", upToPE, 67, {1}, kWritten},
      {"the rest of the signature", upToPE, 66, {0, 0}, kRefused},
      {"a gap where 'E' belongs", Slice(Image(), 0, 65), 66, {0, 0}, kWritten},
      {"a gap where the offset belongs", Slice(Image(), 0, 60), 64, kSignature, kWritten},
      {"a gap where M belongs", {}, 1, Slice(Image(), 1, 68), kWritten},
  };
  for (const Case& c : cases) {
    SimFile file(c.file);
    EXPECT_EQ(Show(file.Write(c.position, c.data)), Show(c.outcome)) << c.label;
  }

  // Byte by byte, the zeros come from the gap left by a later write.
  SimFile file(Slice(Image(), 0, 64));
  EXPECT_EQ(Show(file.Write(64, B("PE"))), Show(kWritten));
  EXPECT_EQ(Show(file.Write(1 << 20, B("x"))), Show(kRefused));
  EXPECT_EQ(Show(file.Write(66, {0})), Show(kWritten));
  EXPECT_EQ(Show(file.Write(67, {0})), Show(kRefused));
}

TEST(ExecutableWatch, HeaderOffsetPastTheEnd) {
  Bytes header = Slice(Image(1000), 0, 64);
  SimFile file(header);
  EXPECT_EQ(Show(file.Write(64, kSignature)), Show(kWritten));
  EXPECT_EQ(Show(file.Write(1000, B("PE"))), Show(kWritten));
  EXPECT_EQ(Show(file.Write(1002, {0})), Show(kWritten));
  EXPECT_EQ(Show(file.Write(1003, {0})), Show(kRefused));
  EXPECT_EQ(Show(file.Write(1003, {7})), Show(kWritten));

  SimFile direct(header);
  EXPECT_EQ(Show(direct.Write(1000, kSignature)), Show(kRefused));
  SimFile beyond(header);
  EXPECT_EQ(Show(beyond.Write(999, kSignature)), Show(kWritten));
  EXPECT_EQ(Show(beyond.Write(1001, kSignature)), Show(kWritten));
}

TEST(ExecutableWatch, HeaderOffsetsNearFourGibibytes) {
  // The file is 64 bytes; the signature is written far past its end, so the
  // watch must not wrap H + 1 .. H + 3 at 32 bits. Asked directly: the
  // simulated file cannot grow to 4 GiB.
  for (uint32_t h : {0xFFFFFFFCu, 0xFFFFFFFDu, 0xFFFFFFFEu, 0xFFFFFFFFu, 0x80000000u}) {
    Bytes header = Slice(Image(64), 0, 64);
    std::copy_n(Le32(h).begin(), 4, header.begin() + 60);
    ExecutableWatch::Reader read = ReaderOf(header);
    EXPECT_TRUE(ExecutableWatch::WouldMakeImage(h, kSignature.data(), 4, 64, read)) << h;
    EXPECT_FALSE(ExecutableWatch::WouldMakeImage(h, kSignature.data(), 3, 64, read)) << h;
    EXPECT_FALSE(
        ExecutableWatch::WouldMakeImage(h + uint64_t{1}, kSignature.data() + 1, 3, 64, read))
        << h;
    EXPECT_FALSE(
        ExecutableWatch::WouldMakeImage(uint64_t{h} + 0x100000000u, kSignature.data(), 4, 64, read))
        << h;
  }
  // Positions at the far end of the 64-bit range.
  const uint64_t top = std::numeric_limits<uint64_t>::max();
  Bytes almost = Image();
  almost[64] = 'X';
  Bytes image = Image();
  for (uint64_t position : {top - 3, top - 1, top, uint64_t{1} << 63}) {
    EXPECT_FALSE(ExecutableWatch::WouldMakeImage(position, kSignature.data(), 4, almost.size(),
                                                 ReaderOf(almost)))
        << position;
    EXPECT_TRUE(ExecutableWatch::WouldMakeImage(position, kSignature.data(), 4, image.size(),
                                                ReaderOf(image)))
        << position;
  }
}

TEST(ExecutableWatch, EmptyWritesChangeNothing) {
  SimFile empty;
  EXPECT_EQ(Show(empty.Write(0, {})), Show(kWritten));
  // Past the end: an empty write fills no gap.
  SimFile upToPE(Slice(Image(), 0, 66));
  EXPECT_EQ(Show(upToPE.Write(1000, {})), Show(kWritten));
  EXPECT_EQ(upToPE.bytes().size(), 66u);
  // Even a file that already is an image is not touched by one.
  SimFile image(Image());
  EXPECT_EQ(Show(image.Write(0, {})), Show(kWritten));
  EXPECT_FALSE(ExecutableWatch::WouldMakeImage(0, nullptr, 0, 0, nullptr));
}

TEST(ExecutableWatch, UnreadableFileBytes) {
  // What the write itself holds needs no reading.
  SimFile failing(Bytes(10000, 0));
  failing.FailReads();
  EXPECT_EQ(Show(failing.Write(0, Image())), Show(kRefused));
  SimFile failingEmpty;
  failingEmpty.FailReads();
  EXPECT_EQ(Show(failingEmpty.Write(0, Image())), Show(kRefused));

  // A byte of the file that cannot be read counts as unknown, like one past
  // the end: the write is let through.
  SimFile pieces(Slice(Image(), 0, 64));
  pieces.FailReads();
  EXPECT_EQ(Show(pieces.Write(64, kSignature)), Show(kWritten));

  Bytes header = Slice(Image(), 0, 64);
  EXPECT_FALSE(ExecutableWatch::WouldMakeImage(64, kSignature.data(), 4, 64, nullptr));
  EXPECT_TRUE(ExecutableWatch::WouldMakeImage(64, kSignature.data(), 4, 64, ReaderOf(header)));
  // A reader that answers more than it was asked for is not believed.
  ExecutableWatch::Reader boastful = [&](uint64_t offset, uint8_t* out, size_t) -> size_t {
    *out = header[offset];
    return 2;
  };
  EXPECT_FALSE(ExecutableWatch::WouldMakeImage(64, kSignature.data(), 4, 64, boastful));
}

}  // namespace

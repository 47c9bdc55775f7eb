// The printing methods' rules: handle numbers, the bitmap size rule, blob lengths and counts.
#include <gtest/gtest.h>

#include <vector>

#include "broker/services/PrintRules.h"

namespace {

using namespace PrintRules;

// A 40-byte header as the player sends it, little-endian.
std::vector<uint8_t> HeaderBytes(uint32_t size, int32_t width, int32_t height, uint16_t bits,
                                 uint32_t clrUsed = 0, uint16_t planes = 1,
                                 uint32_t compression = 0) {
  std::vector<uint8_t> b;
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(size, 4), put(static_cast<uint32_t>(width), 4), put(static_cast<uint32_t>(height), 4);
  put(planes, 2), put(bits, 2), put(compression, 4);
  for (int i = 0; i < 3; ++i) put(0, 4);  // size image, resolutions
  put(clrUsed, 4), put(0, 4);
  return b;
}

TEST(HandleNumbers, SignExtendInLowBitsOut) {
  // clang-format off
  const std::pair<uint32_t, uint64_t> cases[] = {
      {0, 0}, {1, 1}, {0x7FFFFFFF, 0x7FFFFFFF}, {0x80000000, 0xFFFFFFFF80000000},
      {0x80001234, 0xFFFFFFFF80001234}, {0xFFFFFFFF, 0xFFFFFFFFFFFFFFFF}};
  // clang-format on
  for (const auto& [number, handle] : cases) {
    SCOPED_TRACE(number);
    EXPECT_EQ(HandleFromNumber(number), handle);
    EXPECT_EQ(NumberFromHandle(handle), number);
  }
  // A handle with upper bits that are not a sign extension keeps its low half.
  EXPECT_EQ(NumberFromHandle(0x0000000180001234), 0x80001234u);
}

TEST(Bitmaps, HeaderReadLittleEndian) {
  uint8_t blob[44] = {40, 0, 0, 0, 100, 0, 0, 0, 0xCE, 0xFF, 0xFF, 0xFF, 1, 0, 32, 0};
  blob[32] = 0x02, blob[33] = 0x01;  // biClrUsed
  const auto h = ReadBitmapHeader(blob);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->width, 100);
  EXPECT_EQ(h->height, -50);
  EXPECT_EQ(h->bitCount, 32);
  EXPECT_EQ(h->clrUsed, 0x102u);
  EXPECT_FALSE(ReadBitmapHeader(std::span(blob, 39)));
}

TEST(Bitmaps, SizeRuleCoversWhatIsRead) {
  using V = BitmapVerdict;
  // clang-format off
  const struct { const char* name; std::vector<uint8_t> header; uint64_t headerBytes, pixelBytes;
                 V expected; } cases[] = {
      {"32 bpp 100 x -50", HeaderBytes(40, 100, -50, 32), 44, 20000, V::Fits},
      {"32 bpp one byte short", HeaderBytes(40, 100, -50, 32), 44, 19999, V::PixelsShort},
      {"24 bpp rows padded to 12", HeaderBytes(40, 3, 2, 24), 44, 24, V::Fits},
      {"24 bpp unpadded rows", HeaderBytes(40, 3, 2, 24), 44, 23, V::PixelsShort},
      {"1 bpp width 33 two words", HeaderBytes(40, 33, 1, 1), 48, 8, V::Fits},
      {"1 bpp one word", HeaderBytes(40, 33, 1, 1), 48, 7, V::PixelsShort},
      {"1 bpp opaque: one entry", HeaderBytes(40, 8, 1, 1), 44, 4, V::TooFewColours},
      {"1 bpp opaque, clrUsed 1", HeaderBytes(40, 8, 1, 1, 1), 44, 4, V::Fits},
      {"8 bpp needs 256", HeaderBytes(40, 4, 1, 8), 48, 4, V::TooFewColours},
      {"8 bpp clrUsed 2", HeaderBytes(40, 4, 1, 8, 2), 48, 4, V::Fits},
      {"16 bpp clrUsed 3", HeaderBytes(40, 2, 1, 16, 3), 48, 4, V::TooFewColours},
      {"biSize 124", HeaderBytes(124, 100, -50, 32), 44, 1 << 20, V::NotInfoHeader},
      {"two planes", HeaderBytes(40, 1, 1, 32, 0, 2), 44, 4, V::NotOnePlane},
      {"bit fields", HeaderBytes(40, 1, 1, 32, 0, 1, 3), 44, 4, V::Compressed},
      {"width 0", HeaderBytes(40, 0, 1, 32), 44, 4, V::BadWidth},
      {"width -1", HeaderBytes(40, -1, 1, 32), 44, 4, V::BadWidth},
      {"height 0", HeaderBytes(40, 1, 0, 32), 44, 4, V::BadHeight},
      {"height INT32_MIN", HeaderBytes(40, 1, INT32_MIN, 32), 44, UINT64_MAX, V::BadHeight},
      {"height INT32_MAX", HeaderBytes(40, 1, INT32_MAX, 32), 44, 4ull * INT32_MAX, V::Fits},
      {"2 bpp", HeaderBytes(40, 1, 1, 2), 48, 4, V::BadBitCount},
      {"64 bpp", HeaderBytes(40, 1, 1, 64), 44, 8, V::BadBitCount},
      // 2^27 × 32 bits is 2^32: wrapped to 0, any pixel blob would pass.
      {"width x bpp >= 2^32", HeaderBytes(40, 1 << 27, 1, 32), 44, (1u << 29) - 1, V::PixelsShort},
      {"width x bpp exact", HeaderBytes(40, 1 << 27, 1, 32), 44, 1u << 29, V::Fits},
      {"largest image", HeaderBytes(40, INT32_MAX, INT32_MIN + 1, 32), 44, 0xFFFFFFFC00000003,
       V::PixelsShort},
      {"header blob 39", HeaderBytes(40, 1, 1, 32), 39, 4, V::HeaderShort},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto header = ReadBitmapHeader(c.header);
    ASSERT_TRUE(header);
    EXPECT_EQ(CheckBitmap(*header, c.headerBytes, c.pixelBytes), c.expected);
  }
  EXPECT_EQ(PixelBytesNeeded(*ReadBitmapHeader(HeaderBytes(40, INT32_MAX, -INT32_MAX, 32))),
            0xFFFFFFFC00000004);
}

TEST(Lengths, FixedBlobsExactly) {
  for (auto blob :
       {FixedBlob::Rectangle, FixedBlob::OpaqueBitmapHeader, FixedBlob::TransparentBitmapHeader,
        FixedBlob::FontDescription, FixedBlob::WorldTransform}) {
    const uint64_t n = static_cast<uint32_t>(blob);
    SCOPED_TRACE(n);
    EXPECT_EQ(CheckFixedBlob(blob, n - 1), Verdict::BadBlob);
    EXPECT_EQ(CheckFixedBlob(blob, n), Verdict::Accept);
    EXPECT_EQ(CheckFixedBlob(blob, n + 1), Verdict::BadBlob);
  }
}

TEST(Lengths, TextOutputCountsFirstThenBlobs) {
  using V = Verdict;
  // clang-format off
  const struct { const char* name; TextOutCall call; uint64_t rect, string, advances; V verdict;
                 bool rectangle = false, passAdvances = false; } cases[] = {
      {"W 3 in 8 bytes", {3, 0, true}, 16, 8, 12, V::Accept, true, true},
      {"W 3 in 6 bytes", {3, 0, true}, 16, 6, 12, V::BadBlob},
      {"W 3 in 10 bytes", {3, 0, true}, 16, 10, 12, V::BadBlob},
      {"A 3 in 4 bytes", {3, 0, false}, 16, 4, 12, V::Accept, true, true},
      {"A 3 in 8 bytes", {3, 0, false}, 16, 8, 12, V::BadBlob},
      {"W 8192", {8192, 0, true}, 16, 16386, 32768, V::Accept, true, true},
      {"W 8193, blobs right", {8193, 0, true}, 16, 16388, 32772, V::BadArgument},
      {"A 8193, no blobs", {8193, 0, false}, 0, 0, 0, V::BadArgument},
      {"count 2^32 - 1", {0xFFFFFFFF, 0, true}, 16, 0, 0, V::BadArgument},
      {"advances count x 4 short", {3, 0, true}, 16, 8, 11, V::BadBlob},
      {"ETO_PDY count x 4", {3, kAdvancePairs, true}, 16, 8, 12, V::BadBlob},
      {"ETO_PDY count x 8", {3, kAdvancePairs, true}, 16, 8, 24, V::Accept, true, true},
      {"no advances", {3, kAdvancePairs, true, false, true}, 16, 8, 0, V::Accept, true, false},
      {"rectangle not passed", {3, 0, false, true}, 16, 4, 12, V::Accept, false, true},
      {"rectangle not passed, 0 bytes", {3, 0, false, true}, 0, 4, 12, V::BadBlob},
      {"rectangle 17", {3, 0, false}, 17, 4, 12, V::BadBlob},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TextOutPlan plan = CheckTextOut(c.call, c.rect, c.string, c.advances);
    EXPECT_EQ(plan.verdict, c.verdict);
    EXPECT_EQ(plan.passRectangle, c.rectangle);
    EXPECT_EQ(plan.passAdvances, c.passAdvances);
  }
  EXPECT_EQ(CheckTextExtent(3, true, 8), Verdict::Accept);
  EXPECT_EQ(CheckTextExtent(3, true, 6), Verdict::BadBlob);
  EXPECT_EQ(CheckTextExtent(3, false, 4), Verdict::Accept);
  EXPECT_EQ(CheckTextExtent(8193, false, 8194), Verdict::BadArgument);
}

TEST(Lengths, CurvePointAndDialogCounts) {
  // clang-format off
  const std::tuple<uint32_t, uint64_t, Verdict> bezier[] = {
      {3, 24, Verdict::Accept}, {3, 23, Verdict::BadBlob}, {3, 25, Verdict::BadBlob},
      {0, 0, Verdict::Accept}, {0, 7, Verdict::Accept},
      {0x20000000, 0, Verdict::BadBlob},  // × 8 wraps to 0 in 32 bits
      {0x20000000, 1ull << 32, Verdict::Accept}};
  // clang-format on
  for (const auto& [count, bytes, verdict] : bezier)
    EXPECT_EQ(CheckBezier(count, bytes), verdict) << count;
  for (uint32_t count : {0u, 1u, 2u, 0xFFFFFFFFu})
    EXPECT_EQ(CheckPointCount(count), count < 2 ? Verdict::Accept : Verdict::BadArgument) << count;
  for (uint32_t flag : {0x1000, 0x2000, 0x4000, 0x8000, 0x10000, 0x20000})
    EXPECT_EQ(CheckDialogFlags(0x500 | flag), Verdict::BadArgument) << flag;
  EXPECT_EQ(CheckDialogFlags(0x500 | 0x800 | 0x40000), Verdict::Accept);
}

TEST(FontDescription, FaceNameEndsAtUnit31) {
  const std::vector<uint8_t> blob(92, 0x41);
  const auto font = FontDescriptionFrom(blob);
  ASSERT_TRUE(font);
  EXPECT_TRUE(std::equal(blob.begin(), blob.begin() + 90, font->begin()));
  EXPECT_EQ((*font)[90], 0);
  EXPECT_EQ((*font)[91], 0);
  EXPECT_FALSE(FontDescriptionFrom(std::span(blob.data(), 91)));
  EXPECT_FALSE(FontDescriptionFrom(std::vector<uint8_t>(93)));
}

}  // namespace

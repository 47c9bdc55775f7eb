#include "broker/services/PrintRules.h"

#include <algorithm>

namespace PrintRules {
namespace {

uint16_t U16At(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
uint32_t U32At(std::span<const uint8_t> b, size_t at) {
  return uint32_t{U16At(b, at)} | uint32_t{U16At(b, at + 2)} << 16;
}
int32_t I32At(std::span<const uint8_t> b, size_t at) {
  return static_cast<int32_t>(U32At(b, at));
}

bool KnownBitCount(uint16_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Bytes of a string of `count` units and its terminator.
uint64_t StringBytes(uint32_t count, bool wide) {
  return (uint64_t{count} + 1) * (wide ? 2 : 1);
}

}  // namespace

std::optional<BitmapHeader> ReadBitmapHeader(std::span<const uint8_t> blob) {
  if (blob.size() < kInfoHeaderBytes) return std::nullopt;
  BitmapHeader h;
  h.size = U32At(blob, 0);
  h.width = I32At(blob, 4);
  h.height = I32At(blob, 8);
  h.planes = U16At(blob, 12);
  h.bitCount = U16At(blob, 14);
  h.compression = U32At(blob, 16);
  h.sizeImage = U32At(blob, 20);
  h.xPelsPerMeter = I32At(blob, 24);
  h.yPelsPerMeter = I32At(blob, 28);
  h.clrUsed = U32At(blob, 32);
  h.clrImportant = U32At(blob, 36);
  return h;
}

uint64_t ColourEntriesNeeded(const BitmapHeader& header) {
  if (header.clrUsed != 0) return header.clrUsed;
  if (header.bitCount <= 8) return uint64_t{1} << header.bitCount;
  return 0;
}

uint64_t PixelBytesNeeded(const BitmapHeader& header) {
  // Widths and bit counts as the shape rules admit them; anything else is
  // taken as its unsigned value so the sum below cannot go negative.
  const uint64_t width = static_cast<uint32_t>(header.width);
  const uint64_t rows = header.height < 0 ? 0 - static_cast<uint64_t>(int64_t{header.height})
                                          : static_cast<uint64_t>(header.height);
  const uint64_t stride = (width * header.bitCount + 31) / 32 * 4;
  // width < 2^31 and 32 bits a pixel give a stride of at most 4 × (2^31 − 1),
  // times fewer than 2^31 rows: below 2^64. Saturate for the rest.
  uint64_t bytes = 0;
  if (__builtin_mul_overflow(stride, rows, &bytes)) return UINT64_MAX;
  return bytes;
}

BitmapVerdict CheckBitmap(const BitmapHeader& header, uint64_t headerBytes, uint64_t pixelBytes) {
  if (headerBytes < kInfoHeaderBytes) return BitmapVerdict::HeaderShort;
  if (header.size != kInfoHeaderBytes) return BitmapVerdict::NotInfoHeader;
  if (header.planes != 1) return BitmapVerdict::NotOnePlane;
  if (header.compression != kUncompressed) return BitmapVerdict::Compressed;
  if (header.width <= 0) return BitmapVerdict::BadWidth;
  if (header.height == 0 || header.height == INT32_MIN) return BitmapVerdict::BadHeight;
  if (!KnownBitCount(header.bitCount)) return BitmapVerdict::BadBitCount;
  const uint64_t colourEntries = (headerBytes - kInfoHeaderBytes) / kColourEntryBytes;
  if (ColourEntriesNeeded(header) > colourEntries) return BitmapVerdict::TooFewColours;
  if (pixelBytes < PixelBytesNeeded(header)) return BitmapVerdict::PixelsShort;
  return BitmapVerdict::Fits;
}

TextOutPlan CheckTextOut(const TextOutCall& call, uint64_t rectBytes, uint64_t stringBytes,
                         uint64_t advanceBytes) {
  TextOutPlan plan;
  if (call.count > kMaxTextCount) {
    plan.verdict = Verdict::BadArgument;
    return plan;
  }
  if (CheckFixedBlob(FixedBlob::Rectangle, rectBytes) != Verdict::Accept) return plan;
  if (stringBytes != StringBytes(call.count, call.wide)) return plan;
  if (!call.advancesNull) {
    const uint64_t perUnit = (call.options & kAdvancePairs) != 0 ? 8 : 4;
    if (advanceBytes < uint64_t{call.count} * perUnit) return plan;
  }
  plan.verdict = Verdict::Accept;
  plan.passRectangle = !call.rectNull;
  plan.passAdvances = !call.advancesNull;
  return plan;
}

Verdict CheckTextExtent(uint32_t count, bool wide, uint64_t stringBytes) {
  if (count > kMaxTextCount) return Verdict::BadArgument;
  return stringBytes == StringBytes(count, wide) ? Verdict::Accept : Verdict::BadBlob;
}

Verdict CheckBezier(uint32_t count, uint64_t pointBytes) {
  if (count == 0) return Verdict::Accept;
  return pointBytes == uint64_t{count} * 8 ? Verdict::Accept : Verdict::BadBlob;
}

std::optional<std::array<uint8_t, kFontDescriptionBytes>> FontDescriptionFrom(
    std::span<const uint8_t> blob) {
  if (blob.size() != kFontDescriptionBytes) return std::nullopt;
  std::array<uint8_t, kFontDescriptionBytes> font{};
  std::copy(blob.begin(), blob.end(), font.begin());
  const size_t lastUnit = kFaceNameOffset + (kFaceNameUnits - 1) * 2;
  font[lastUnit] = 0;
  font[lastUnit + 1] = 0;
  return font;
}

}  // namespace PrintRules

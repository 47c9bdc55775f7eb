// The bitmap fills' size rule against a separate account of what the
// stretch-blit reads for a header: the header of its declared size, its
// colour table and every pixel row padded to 32 bits, counted in 128 bits.
// An admitted header never reads past the blobs; a header of the admitted
// form that fits is never refused.
//
// Input: 40 header bytes (missing ones are 0), one byte choosing the header
// blob's length (36 to 51 bytes), one byte choosing how the pixel blob's
// length is given, then 8 bytes of that length: as is, or as a small offset
// from the image's own size, so the boundary is reached often.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "broker/services/PrintRules.h"

namespace {

using namespace PrintRules;
using u128 = unsigned __int128;

struct Reads {
  bool known = false;  // a header form whose reads this account covers
  u128 headerBytes = 0;
  u128 pixelBytes = 0;
};

Reads WhatIsRead(const BitmapHeader& h) {
  Reads r;
  const bool bitsKnown = h.bitCount == 1 || h.bitCount == 4 || h.bitCount == 8 ||
                         h.bitCount == 16 || h.bitCount == 24 || h.bitCount == 32;
  r.known = h.size == 40 && h.planes == 1 && h.compression == 0 && bitsKnown && h.width > 0 &&
            h.height != 0;
  if (!r.known) return r;
  u128 entries = h.clrUsed;
  if (entries == 0 && h.bitCount <= 8) entries = u128{1} << h.bitCount;
  r.headerBytes = h.size + entries * 4;
  const u128 rows = h.height < 0 ? u128(-int64_t{h.height}) : u128(h.height);
  const u128 rowBits = u128(h.width) * h.bitCount;
  const u128 rowBytes = ((rowBits + 7) / 8 + 3) / 4 * 4;
  r.pixelBytes = rows * rowBytes;
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t at = 0;
  auto byte = [&]() -> uint8_t { return at < size ? data[at++] : 0; };

  std::vector<uint8_t> headerBlob(40);
  for (auto& b : headerBlob) b = byte();
  headerBlob.resize(36 + byte() % 16);  // colour entries, if any, are 0
  const uint8_t lengthMode = byte();
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value |= uint64_t{byte()} << (8 * i);

  const auto header = ReadBitmapHeader(headerBlob);
  Check(header.has_value() == (headerBlob.size() >= 40));
  const BitmapHeader h = header.value_or(BitmapHeader{});
  const Reads reads = WhatIsRead(h);

  uint64_t pixelBytes = value;
  if ((lengthMode & 1) == 0 && reads.known && reads.pixelBytes <= UINT64_MAX) {
    const int8_t offset = static_cast<int8_t>(value);
    const u128 wanted =
        offset < 0 ? reads.pixelBytes - u128(-offset) : reads.pixelBytes + u128(offset);
    const bool outside = (offset < 0 && reads.pixelBytes < u128(-offset)) || wanted > UINT64_MAX;
    pixelBytes = outside ? 0 : uint64_t(wanted);
  }

  const BitmapVerdict verdict = CheckBitmap(h, headerBlob.size(), pixelBytes);
  if (verdict == BitmapVerdict::Fits) {
    Check(header.has_value() && reads.known);
    Check(reads.headerBytes <= headerBlob.size());
    Check(reads.pixelBytes <= pixelBytes);
    Check(PixelBytesNeeded(h) == reads.pixelBytes);
  } else if (header && reads.known && h.height != INT32_MIN) {
    // Refused although every read would stay inside the blobs: only for a
    // reason the account agrees with.
    const bool headerFits = reads.headerBytes <= headerBlob.size();
    const bool pixelsFit = reads.pixelBytes <= pixelBytes;
    Check(!headerFits || !pixelsFit);
    Check(verdict == (headerFits ? BitmapVerdict::PixelsShort : BitmapVerdict::TooFewColours));
  }
  return 0;
}

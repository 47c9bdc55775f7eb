#include "ui/TargaImage.h"

#include <cstring>

namespace {

uint32_t Word(const uint8_t* bytes) {
  return bytes[0] | (bytes[1] << 8);
}

// One stored pixel as blue, green, red, alpha.
void PutPixel(const uint8_t* in, uint32_t bytesPerPixel, uint8_t* out) {
  std::memcpy(out, in, 3);
  out[3] = bytesPerPixel == 4 ? in[3] : 255;
}

}  // namespace

TargaStatus ReadTargaHeader(const uint8_t* data, size_t size, TargaHeader* header) {
  if (data == nullptr || size < kTargaHeaderBytes) return TargaStatus::TooShort;
  if (data[0] != 0) return TargaStatus::HasIdField;
  if (data[1] != 0 || Word(data + 5) != 0) return TargaStatus::HasColourMap;
  const uint32_t bits = data[16];
  if (bits != 24 && bits != 32) return TargaStatus::UnsupportedDepth;

  TargaHeader read;
  read.width = Word(data + 12);
  read.height = Word(data + 14);
  read.bytesPerPixel = bits / 8;
  read.runLength = (data[2] & 0x08) != 0;
  const uint64_t pixels = uint64_t{read.width} * read.height;
  if (pixels == 0) return TargaStatus::Empty;
  if (pixels * 4 > kTargaMaxPixelBytes) return TargaStatus::TooLarge;

  const uint64_t available = size - kTargaHeaderBytes;
  const uint64_t needed = read.runLength ? (pixels + 127) / 128 * (1 + read.bytesPerPixel)
                                         : pixels * read.bytesPerPixel;
  if (available < needed) return TargaStatus::PixelsTooShort;
  *header = read;
  return TargaStatus::Ok;
}

TargaStatus DecodeTargaPixels(const uint8_t* data, size_t size, const TargaHeader& header,
                              uint8_t* pixels) {
  const uint32_t bpp = header.bytesPerPixel;
  const uint64_t total = uint64_t{header.width} * header.height;
  const uint8_t* in = data + kTargaHeaderBytes;
  const uint8_t* const end = data + size;
  uint8_t* out = pixels;

  if (!header.runLength) {
    if (static_cast<uint64_t>(end - in) < total * bpp) return TargaStatus::PixelsTooShort;
    for (uint64_t i = 0; i < total; ++i, in += bpp, out += 4) PutPixel(in, bpp, out);
    return TargaStatus::Ok;
  }

  uint64_t done = 0;
  while (done < total) {
    if (in == end) return TargaStatus::PixelsTooShort;
    const uint8_t packet = *in++;
    uint64_t count = (packet & 0x7F) + 1u;
    if (count > total - done) count = total - done;  // a packet past the last pixel is cut
    if (packet & 0x80) {
      if (static_cast<size_t>(end - in) < bpp) return TargaStatus::PixelsTooShort;
      for (uint64_t i = 0; i < count; ++i, out += 4) PutPixel(in, bpp, out);
      in += bpp;
    } else {
      for (uint64_t i = 0; i < count; ++i, in += bpp, out += 4) {
        if (static_cast<size_t>(end - in) < bpp) return TargaStatus::PixelsTooShort;
        PutPixel(in, bpp, out);
      }
    }
    done += count;
  }
  return TargaStatus::Ok;
}

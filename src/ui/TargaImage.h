// Skin images without the system: the header and pixels of the 32-bit and
// 24-bit Targa files the setup window's skins are stored as, raw or
// run-length coded. The bytes come from a resource module, which a hostile
// installer package can replace, so every read is bounded by the data size
// and no pixel is written past width x height.
//
// What the Win32 layer does with it (LoadSkinImage):
//   1. ReadTargaHeader on the resource bytes; any status but Ok leaves the
//      image slot unset.
//   2. CreateDIBSection of header.width x header.height, 32 bits, BI_RGB,
//      with a positive height (rows bottom-up), and DecodeTargaPixels into
//      its bits. Ok means every pixel was written.
// Pixels land in file order, 4 bytes each (blue, green, red, alpha). A file
// with the default lower-left origin stores its bottom row first, which is
// exactly a bottom-up DIB's memory order, so nothing is flipped here; the
// descriptor byte is not consulted. Alpha is taken as stored: the skins are
// made premultiplied, as AlphaBlend with AC_SRC_ALPHA wants them.
#pragma once

#include <cstddef>
#include <cstdint>

enum class TargaStatus {
  Ok,
  TooShort,          // fewer bytes than the 18-byte header
  HasIdField,        // an image-ID field (byte 0 not 0)
  HasColourMap,      // a colour map type or a colour map length
  UnsupportedDepth,  // bits per pixel other than 24 or 32
  Empty,             // no pixels: no DIB section can hold them
  TooLarge,          // width x height x 4 bytes beyond what a DIB section can be
  PixelsTooShort,    // the data ends before width x height pixels are decoded
};

struct TargaHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bytesPerPixel = 0;  // 3 or 4
  bool runLength = false;      // bit 3 of the image type
};

inline constexpr size_t kTargaHeaderBytes = 18;
// The largest pixel buffer accepted, in bytes: a DIB section's size must fit
// a signed 32-bit value.
inline constexpr uint64_t kTargaMaxPixelBytes = 0x7FFFFFFF;

// Reads and checks the header. Besides the header's own refusals, a file
// whose data cannot hold the pixels even at the best packing (raw: all of
// them; run-length: 128 pixels per packet) is refused here, before anything
// is allocated for them.
TargaStatus ReadTargaHeader(const uint8_t* data, size_t size, TargaHeader* header);

// Decodes the pixels of a header ReadTargaHeader accepted into `pixels`
// (width x height x 4 bytes). A 24-bit pixel gets alpha 255. A run-length
// packet that would pass the last pixel is cut there; data left after the
// last pixel is ignored. PixelsTooShort when the data ends first (the
// pixels then hold what was decoded, the rest untouched).
TargaStatus DecodeTargaPixels(const uint8_t* data, size_t size, const TargaHeader& header,
                              uint8_t* pixels);

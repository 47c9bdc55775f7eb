// Skin image bytes as a replaced resource module could hold them: the
// header check and, when it passes, the pixel decoding, twice over buffers
// filled differently, so that a pixel left unwritten after success shows.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ui/TargaImage.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TargaHeader header;
  if (ReadTargaHeader(data, size, &header) != TargaStatus::Ok) return 0;
  Check(header.width > 0 && header.height > 0);
  Check(header.bytesPerPixel == 3 || header.bytesPerPixel == 4);
  const size_t bytes = size_t{header.width} * header.height * 4;
  // The header check bounds the pixels by the data: 128 per packet at best.
  Check(bytes / 4 <= (size - kTargaHeaderBytes) * 128);

  std::vector<uint8_t> first(bytes, 0x00), second(bytes, 0xFF);
  const TargaStatus a = DecodeTargaPixels(data, size, header, first.data());
  const TargaStatus b = DecodeTargaPixels(data, size, header, second.data());
  Check(a == b && (a == TargaStatus::Ok || a == TargaStatus::PixelsTooShort));
  if (a == TargaStatus::Ok) {
    Check(first == second);
    if (header.bytesPerPixel == 3) {
      for (size_t i = 3; i < bytes; i += 4) Check(first[i] == 255);
    }
  }
  return 0;
}

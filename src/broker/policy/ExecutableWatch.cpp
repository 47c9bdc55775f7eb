#include "broker/policy/ExecutableWatch.h"

#include <optional>

namespace {

// The file's contents after the write, byte by byte, as far as they can be
// known.
class AfterWrite {
 public:
  AfterWrite(uint64_t position, const uint8_t* data, size_t length, uint64_t fileSize,
             const ExecutableWatch::Reader& read)
      : position_(position), data_(data), length_(length), fileSize_(fileSize), read_(read) {}

  std::optional<uint8_t> At(uint64_t offset) const {
    if (offset >= position_ && offset - position_ < length_) return data_[offset - position_];
    if (offset >= fileSize_ && offset < position_) return 0;  // the gap before the write
    if (offset < fileSize_) {
      uint8_t byte = 0;
      if (read_ && read_(offset, &byte, 1) == 1) return byte;
    }
    return std::nullopt;  // beyond the end, or unreadable
  }

 private:
  uint64_t position_;
  const uint8_t* data_;
  size_t length_;
  uint64_t fileSize_;
  const ExecutableWatch::Reader& read_;
};

bool Is(const AfterWrite& file, uint64_t offset, uint8_t expected) {
  std::optional<uint8_t> byte = file.At(offset);
  return byte && *byte == expected;
}

}  // namespace

bool ExecutableWatch::WouldMakeImage(uint64_t position, const uint8_t* data, size_t length,
                                     uint64_t fileSize, const Reader& read) {
  if (length == 0) return false;  // an empty write changes nothing
  AfterWrite file(position, data, length, fileSize, read);
  if (!Is(file, 0, 'M') || !Is(file, 1, 'Z')) return false;
  uint32_t header = 0;
  for (int i = 3; i >= 0; --i) {
    std::optional<uint8_t> byte = file.At(60 + i);
    if (!byte) return false;
    header = (header << 8) | *byte;
  }
  uint64_t h = header;
  return Is(file, h, 'P') && Is(file, h + 1, 'E') && Is(file, h + 2, 0) && Is(file, h + 3, 0);
}

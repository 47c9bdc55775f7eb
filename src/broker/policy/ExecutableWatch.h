// Keeps the player from producing a Windows executable image through the
// broker. Before each write the watch works out what the file's header would
// hold afterwards: "MZ" at 0, the header offset H at 60..63, and "PE\0\0" at
// H. Bytes come from the write itself, from the zeros that fill a gap when a
// write starts past the end of the file, or from the file as it is now. A
// write that would complete such a header is refused, whether the image is
// written at once, in pieces, out of order or after seeks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

class ExecutableWatch {
 public:
  // Reads up to `count` bytes of the file as it is now, at `offset`; answers
  // how many it read.
  using Reader = std::function<size_t(uint64_t offset, uint8_t* out, size_t count)>;

  // True when writing `length` bytes at `position` into a file of `fileSize`
  // bytes would leave an executable image header.
  static bool WouldMakeImage(uint64_t position, const uint8_t* data, size_t length,
                             uint64_t fileSize, const Reader& read);
};

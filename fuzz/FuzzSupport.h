// What the fuzz targets share: a check that survives release builds (a
// failed one names its line and stops the fuzzer on the input that broke
// it), and the input read as UTF-16 text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "foundation/MString.h"

#define Check(ok) CheckAt(ok, __LINE__)
inline void CheckAt(bool ok, int line) {
  if (ok) return;
  std::fprintf(stderr, "check failed at line %d\n", line);
  __builtin_trap();
}

// The bytes as little-endian UTF-16 units; an odd last byte is dropped.
inline MString Units(const uint8_t* data, size_t size) {
  auto count = static_cast<uint32_t>(size / 2);
  char16_t* out = nullptr;
  MString text = MString::WithLength(count, &out);
  for (uint32_t i = 0; i < count; ++i) {
    out[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return text;
}

// Base64 (RFC 4648 section 4): the standard alphabet with '=' padding and
// no line breaks. OS-free.
#pragma once

#include <cstddef>
#include <cstdint>

// Characters Base64Encode writes for `length` bytes (without the NUL).
constexpr size_t Base64EncodedLength(size_t length) {
  return (length + 2) / 3 * 4;
}

// Writes the text of `length` bytes and a NUL to `text`, which holds
// Base64EncodedLength(length) + 1 characters; returns the number of
// characters (0 for no bytes).
size_t Base64Encode(const uint8_t* bytes, size_t length, char* text);

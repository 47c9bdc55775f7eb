#include "broker/signeddata/Base64.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

size_t Base64Encode(const uint8_t* bytes, size_t length, char* text) {
  char* out = text;
  size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    *out++ = kAlphabet[group >> 18];
    *out++ = kAlphabet[(group >> 12) & 0x3F];
    *out++ = kAlphabet[(group >> 6) & 0x3F];
    *out++ = kAlphabet[group & 0x3F];
  }
  if (size_t rest = length - i; rest > 0) {
    uint32_t group = uint32_t{bytes[i]} << 16;
    if (rest == 2) group |= uint32_t{bytes[i + 1]} << 8;
    *out++ = kAlphabet[group >> 18];
    *out++ = kAlphabet[(group >> 12) & 0x3F];
    *out++ = rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
    *out++ = '=';
  }
  *out = '\0';
  return static_cast<size_t>(out - text);
}

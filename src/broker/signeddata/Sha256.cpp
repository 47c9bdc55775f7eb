// SHA-256 (FIPS 180-4): the portable compression, the streaming form and the
// choice of compression. The SHA-extension compression is in its own file,
// compiled for those instructions only.
#include "broker/signeddata/Sha256.h"
#include "broker/signeddata/Sha256Constants.h"

#include <cstring>

namespace {

constexpr uint32_t kInitialHash[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline uint32_t Rotr(uint32_t x, int n) {
  return (x >> n) | (x << (32 - n));
}

inline uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline void StoreBigEndian(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// One round with the working variables named in rotated order, so that eight
// calls in a row need no moves between the variables.
inline void Round(uint32_t a, uint32_t b, uint32_t c, uint32_t& d, uint32_t e, uint32_t f,
                  uint32_t g, uint32_t& h, uint32_t kw) {
  uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kw;
  uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
  d += t1;
  h = t1 + t2;
}

}  // namespace

void Sha256CompressPortable(uint32_t h[8], const uint8_t* blocks, size_t count) {
  uint32_t w[64];
  for (; count > 0; --count, blocks += kSha256BlockSize) {
    for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian(blocks + 4 * i);
    for (int i = 16; i < 64; ++i) {
      uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; i += 8) {
      Round(a, b, c, d, e, f, g, hh, kSha256RoundConstants[i] + w[i]);
      Round(hh, a, b, c, d, e, f, g, kSha256RoundConstants[i + 1] + w[i + 1]);
      Round(g, hh, a, b, c, d, e, f, kSha256RoundConstants[i + 2] + w[i + 2]);
      Round(f, g, hh, a, b, c, d, e, kSha256RoundConstants[i + 3] + w[i + 3]);
      Round(e, f, g, hh, a, b, c, d, kSha256RoundConstants[i + 4] + w[i + 4]);
      Round(d, e, f, g, hh, a, b, c, kSha256RoundConstants[i + 5] + w[i + 5]);
      Round(c, d, e, f, g, hh, a, b, kSha256RoundConstants[i + 6] + w[i + 6]);
      Round(b, c, d, e, f, g, hh, a, kSha256RoundConstants[i + 7] + w[i + 7]);
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    h[5] += f;
    h[6] += g;
    h[7] += hh;
  }
}

Sha256Compress Sha256DefaultCompress() {
  static const Sha256Compress chosen =
      Sha256CpuHasShaExtensions() ? Sha256CompressShaExtensions : Sha256CompressPortable;
  return chosen;
}

void Sha256Init(Sha256State& state) {
  std::memcpy(state.h, kInitialHash, sizeof kInitialHash);
  state.length = 0;
  state.fill = 0;
}

void Sha256Update(Sha256State& state, const void* data, size_t length) {
  Sha256Update(state, data, length, Sha256DefaultCompress());
}

void Sha256Update(Sha256State& state, const void* data, size_t length, Sha256Compress compress) {
  if (length == 0) return;
  auto* p = static_cast<const uint8_t*>(data);
  state.length += length;
  if (state.fill > 0) {
    size_t take = kSha256BlockSize - state.fill;
    if (take > length) take = length;
    std::memcpy(state.block + state.fill, p, take);
    state.fill += static_cast<uint32_t>(take);
    p += take;
    length -= take;
    if (state.fill < kSha256BlockSize) return;
    compress(state.h, state.block, 1);
    state.fill = 0;
  }
  size_t whole = length / kSha256BlockSize;
  if (whole > 0) {
    compress(state.h, p, whole);
    p += whole * kSha256BlockSize;
    length -= whole * kSha256BlockSize;
  }
  if (length > 0) {
    std::memcpy(state.block, p, length);
    state.fill = static_cast<uint32_t>(length);
  }
}

Sha256Digest Sha256Final(Sha256State& state) {
  return Sha256Final(state, Sha256DefaultCompress());
}

Sha256Digest Sha256Final(Sha256State& state, Sha256Compress compress) {
  // 0x80, zeros, then the length in bits: one more block, or two when the
  // length does not fit behind the data.
  uint8_t tail[2 * kSha256BlockSize] = {};
  std::memcpy(tail, state.block, state.fill);
  tail[state.fill] = 0x80;
  size_t size = state.fill + 1 + 8 <= kSha256BlockSize ? kSha256BlockSize : 2 * kSha256BlockSize;
  uint64_t bits = state.length * 8;
  StoreBigEndian(tail + size - 8, static_cast<uint32_t>(bits >> 32));
  StoreBigEndian(tail + size - 4, static_cast<uint32_t>(bits));
  compress(state.h, tail, size / kSha256BlockSize);

  Sha256Digest digest;
  for (int i = 0; i < 8; ++i) StoreBigEndian(digest.data() + 4 * i, state.h[i]);
  return digest;
}

Sha256Digest Sha256(const void* data, size_t length) {
  Sha256State state;
  Sha256Init(state);
  Sha256Update(state, data, length);
  return Sha256Final(state);
}

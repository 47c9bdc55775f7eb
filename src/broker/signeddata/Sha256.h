// SHA-256 (FIPS 180-4), streaming and in one call. OS-free.
//
// The block compression has two forms: a portable one and one that uses the
// x86 SHA extensions. Sha256Update picks the fast one once, at first use,
// when the processor has the extensions; the forms taking a Sha256Compress
// run a chosen one, so both can be tested and measured on any machine that
// has them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr size_t kSha256DigestSize = 32;
inline constexpr size_t kSha256BlockSize = 64;
using Sha256Digest = std::array<uint8_t, kSha256DigestSize>;

struct Sha256State {
  uint32_t h[8];                    // chaining values
  uint64_t length;                  // message bytes so far
  uint8_t block[kSha256BlockSize];  // a partial block waiting for more input
  uint32_t fill;                    // bytes held in `block`
};

// Runs `count` 64-byte blocks through the compression into `h`.
using Sha256Compress = void (*)(uint32_t h[8], const uint8_t* blocks, size_t count);

void Sha256CompressPortable(uint32_t h[8], const uint8_t* blocks, size_t count);
// Only valid where Sha256CpuHasShaExtensions() is true.
void Sha256CompressShaExtensions(uint32_t h[8], const uint8_t* blocks, size_t count);
// CPUID: SHA extensions (leaf 7 EBX bit 29) with the SSSE3 and SSE4.1 they
// are used with. Always false on processors other than x86.
bool Sha256CpuHasShaExtensions();
// The compression Sha256Update uses: the SHA extensions when present.
Sha256Compress Sha256DefaultCompress();

void Sha256Init(Sha256State& state);
void Sha256Update(Sha256State& state, const void* data, size_t length);
void Sha256Update(Sha256State& state, const void* data, size_t length, Sha256Compress compress);
// Pads, finishes and returns the digest; the state must be initialised again
// before further use.
Sha256Digest Sha256Final(Sha256State& state);
Sha256Digest Sha256Final(Sha256State& state, Sha256Compress compress);

Sha256Digest Sha256(const void* data, size_t length);

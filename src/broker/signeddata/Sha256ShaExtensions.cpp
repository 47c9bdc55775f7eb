// The SHA-256 compression with the x86 SHA extensions. Only these functions
// are compiled for the extensions (target attribute), so the rest of the
// program runs on any x86-64; callers check Sha256CpuHasShaExtensions first.
//
// The instructions keep the working variables as two vectors, ABEF and CDGH
// (A in the highest lane); each sha256rnds2 does two rounds with W+K from the
// two low lanes of its third operand.
#include "broker/signeddata/Sha256.h"
#include "broker/signeddata/Sha256Constants.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

#define GLINT_SHA_TARGET __attribute__((target("sha,ssse3,sse4.1")))
#define GLINT_SHA_INLINE GLINT_SHA_TARGET __attribute__((always_inline)) inline

namespace {

// Four message words of a block in big-endian order.
GLINT_SHA_INLINE __m128i LoadWords(const uint8_t* p) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), byteSwap);
}

// W[t..t+3] from w16 = W[t-16..], w12 = W[t-12..], w8 = W[t-8..], w4 = W[t-4..].
GLINT_SHA_INLINE __m128i NextWords(__m128i w16, __m128i w12, __m128i w8, __m128i w4) {
  __m128i sum = _mm_add_epi32(_mm_sha256msg1_epu32(w16, w12), _mm_alignr_epi8(w4, w8, 4));
  return _mm_sha256msg2_epu32(sum, w4);
}

// Rounds 4q .. 4q+3.
GLINT_SHA_INLINE void FourRounds(__m128i& abef, __m128i& cdgh, __m128i words, int q) {
  __m128i wk = _mm_add_epi32(
      words, _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * q)));
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
  abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
}

}  // namespace

GLINT_SHA_TARGET void Sha256CompressShaExtensions(uint32_t h[8], const uint8_t* blocks,
                                                  size_t count) {
  // h[0..3] = DCBA and h[4..7] = HGFE (lowest lane first) into ABEF and CDGH.
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4));
  __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (; count > 0; --count, blocks += kSha256BlockSize) {
    const __m128i abefStart = abef;
    const __m128i cdghStart = cdgh;
    __m128i w0 = LoadWords(blocks);
    __m128i w1 = LoadWords(blocks + 16);
    __m128i w2 = LoadWords(blocks + 32);
    __m128i w3 = LoadWords(blocks + 48);
    FourRounds(abef, cdgh, w0, 0);
    FourRounds(abef, cdgh, w1, 1);
    FourRounds(abef, cdgh, w2, 2);
    FourRounds(abef, cdgh, w3, 3);
    for (int q = 4; q < 16; q += 4) {
      w0 = NextWords(w0, w1, w2, w3);
      FourRounds(abef, cdgh, w0, q);
      w1 = NextWords(w1, w2, w3, w0);
      FourRounds(abef, cdgh, w1, q + 1);
      w2 = NextWords(w2, w3, w0, w1);
      FourRounds(abef, cdgh, w2, q + 2);
      w3 = NextWords(w3, w0, w1, w2);
      FourRounds(abef, cdgh, w3, q + 3);
    }
    abef = _mm_add_epi32(abef, abefStart);
    cdgh = _mm_add_epi32(cdgh, cdghStart);
  }

  __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), _mm_alignr_epi8(dchg, feba, 8));
}

bool Sha256CpuHasShaExtensions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool ssse3 = (ecx & (1u << 9)) != 0;
  const bool sse41 = (ecx & (1u << 19)) != 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool sha = (ebx & (1u << 29)) != 0;
  return sha && ssse3 && sse41;
}

#else

void Sha256CompressShaExtensions(uint32_t h[8], const uint8_t* blocks, size_t count) {
  Sha256CompressPortable(h, blocks, count);
}

bool Sha256CpuHasShaExtensions() {
  return false;
}

#endif

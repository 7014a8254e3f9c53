// Two ways to the same CRC-32: eight tables consumed eight bytes at a time,
// which any x64 processor runs at about a byte per cycle, and carry-less
// multiplication folding 64 bytes per step (Intel's "Fast CRC Computation for
// Generic Polynomials Using PCLMULQDQ"), several times faster, used when the
// processor has PCLMULQDQ and SSE4.1. yEnc attachments are checked as they
// are cut out of an article, so the checksum sits on the hot path.
#include "quillnet/engine/crc32.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define QN_CRC_CLMUL 1
#endif

namespace quillnet::engine {
namespace {

using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables make_tables() {
    Tables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (size_t s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    return t;
}

constexpr Tables kTables = make_tables();

// Works on the inverted register, as the folding code does.
uint32_t slice8(const unsigned char* p, size_t n, uint32_t c) noexcept {
    while (n >= 8) {
        uint32_t lo;
        uint32_t hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        lo ^= c;
        c = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
            kTables[4][lo >> 24] ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
            kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n--) c = kTables[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return c;
}

#ifdef QN_CRC_CLMUL
// One 128-bit fold of acc onto the next 16 bytes.
__attribute__((target("pclmul,sse4.1"))) inline __m128i fold16(__m128i acc, __m128i next, __m128i k) noexcept {
    const __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(acc, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(hi, next), lo);
}

// Folds n bytes (n >= 64, a multiple of 16) into the inverted register c.
__attribute__((target("pclmul,sse4.1"))) uint32_t fold_clmul(const unsigned char* p, size_t n,
                                                               uint32_t c) noexcept {
    // Bit-reflected folding constants x^(4*128+32), x^(4*128-32), x^(128+32),
    // x^(128-32), x^64 mod P, and the Barrett pair (P, floor(x^64 / P)).
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5k0 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);

    __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(c)));
    p += 64;
    n -= 64;

    while (n >= 64) {
        const __m128i x5 = _mm_clmulepi64_si128(x1, k1k2, 0x00);
        const __m128i x6 = _mm_clmulepi64_si128(x2, k1k2, 0x00);
        const __m128i x7 = _mm_clmulepi64_si128(x3, k1k2, 0x00);
        const __m128i x8 = _mm_clmulepi64_si128(x4, k1k2, 0x00);
        x1 = _mm_clmulepi64_si128(x1, k1k2, 0x11);
        x2 = _mm_clmulepi64_si128(x2, k1k2, 0x11);
        x3 = _mm_clmulepi64_si128(x3, k1k2, 0x11);
        x4 = _mm_clmulepi64_si128(x4, k1k2, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
        x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)));
        x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)));
        p += 64;
        n -= 64;
    }

    x1 = fold16(x1, x2, k3k4);
    x1 = fold16(x1, x3, k3k4);
    x1 = fold16(x1, x4, k3k4);
    while (n >= 16) {
        x1 = fold16(x1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), k3k4);
        p += 16;
        n -= 16;
    }

    // 128 bits to 64, then Barrett reduction to 32.
    const __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, mask32), k5k0, 0x00), _mm_srli_si128(x, 4));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
    x = _mm_xor_si128(x, t);
    return static_cast<uint32_t>(_mm_extract_epi32(x, 1));
}

bool has_clmul() noexcept {
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    }();
    return yes;
}
#endif

}  // namespace

uint32_t crc32_portable(const void* bytes, size_t count, uint32_t crc) noexcept {
    return ~slice8(static_cast<const unsigned char*>(bytes), count, ~crc);
}

uint32_t crc32(const void* bytes, size_t count, uint32_t crc) noexcept {
    const auto* p = static_cast<const unsigned char*>(bytes);
    uint32_t c = ~crc;
#ifdef QN_CRC_CLMUL
    if (count >= 64 && has_clmul()) {
        const size_t bulk = count & ~size_t{15};
        c = fold_clmul(p, bulk, c);
        p += bulk;
        count -= bulk;
    }
#endif
    return ~slice8(p, count, c);
}

}  // namespace quillnet::engine

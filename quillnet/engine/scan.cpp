#include "quillnet/engine/scan.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillnet::engine {

const char* find_byte(const char* p, const char* end, char c) noexcept {
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(c);
    while (end - p >= 64) {
        const __m128i a = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), wanted);
        const __m128i b = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), wanted);
        const __m128i d = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)), wanted);
        const __m128i e = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), wanted);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(d, e))) != 0) break;
        p += 64;
    }
    while (end - p >= 16) {
        const unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), wanted)));
        if (mask != 0) return p + __builtin_ctz(mask);
        p += 16;
    }
#endif
    while (p < end && *p != c) ++p;
    return p;
}

size_t find_text(std::string_view s, std::string_view needle, size_t from) noexcept {
    constexpr size_t npos = std::string_view::npos;
    const size_t m = needle.size();
    if (m == 0) return from <= s.size() ? from : npos;
    if (m == 1) return find_byte(s, needle[0], from);
    if (from >= s.size() || s.size() - from < m) return npos;
    const char* const base = s.data();
    const char* const first = needle.data();
    const size_t last = m - 1;
    size_t i = from;
    const size_t stop = s.size() - m;  // the last possible start
#if defined(__SSE2__)
    const __m128i head = _mm_set1_epi8(first[0]);
    const __m128i tail = _mm_set1_epi8(first[last]);
    while (i + 16 <= stop + 1) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i + last));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, head), _mm_cmpeq_epi8(b, tail))));
        while (mask != 0) {
            const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
            if (std::memcmp(base + at + 1, first + 1, m - 2) == 0) return at;
            mask &= mask - 1;
        }
        i += 16;
    }
#endif
    for (; i <= stop; ++i)
        if (base[i] == first[0] && base[i + last] == first[last] && std::memcmp(base + i + 1, first + 1, m - 2) == 0)
            return i;
    return npos;
}

}  // namespace quillnet::engine

// Lookup tables shared by the two 6-bit encodings, base64 and uuencode.
// Table k places the sextet of the k-th character of a four-character group
// where it lands in the group's three bytes read as a little-endian word, so
// a group decodes with four loads and three ORs; a character outside the
// alphabet sets kBadGroup, a bit above any valid group, so one compare after
// the ORs catches it.
#pragma once

#include <array>
#include <cstdint>

namespace quillnet::engine {

constexpr uint32_t kBadGroup = 0x01000000;
constexpr uint8_t kNoSextet = 0xFF;

using SextetMap = std::array<uint8_t, 256>;  // character -> sextet, or kNoSextet
using PlaceTable = std::array<uint32_t, 256>;

constexpr PlaceTable make_place_table(const SextetMap& sextets, int k) {
    PlaceTable t{};
    for (int c = 0; c < 256; ++c) {
        const uint32_t s = sextets[c];
        if (s == kNoSextet) {
            t[c] = kBadGroup;
            continue;
        }
        switch (k) {
        case 0: t[c] = s << 2; break;
        case 1: t[c] = (s >> 4) | ((s & 0x0F) << 12); break;
        case 2: t[c] = ((s >> 2) << 8) | ((s & 0x03) << 22); break;
        default: t[c] = s << 16; break;
        }
    }
    return t;
}

#if defined(__x86_64__)
// Both decoders take sixteen characters per step with SSSE3 shuffles when the
// processor has them.
inline bool has_ssse3() noexcept {
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return yes;
}
#endif

}  // namespace quillnet::engine

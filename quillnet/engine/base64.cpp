// Base64 decoding (RFC 2045 section 6.8), table driven. The inner loop takes
// four characters per step through four tables whose entries are already
// shifted into place, so one OR gives the three bytes and one compare catches
// any character that is not in the alphabet; only then does the careful
// per-character path run (line ends, blanks, stray characters, the pad).
#include "quillnet/engine/base64.h"

#include "quillnet/engine/sextet_tables.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace quillnet::engine {
namespace {

constexpr uint8_t kNotInAlphabet = kNoSextet;
constexpr uint32_t kBad = kBadGroup;

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<uint8_t, 256> make_sextets() {
    std::array<uint8_t, 256> t{};
    for (auto& v : t) v = kNotInAlphabet;
    for (uint8_t i = 0; i < 64; ++i) t[static_cast<uint8_t>(kAlphabet[i])] = i;
    return t;
}
constexpr std::array<uint8_t, 256> kSextet = make_sextets();

constexpr PlaceTable kPlace0 = make_place_table(kSextet, 0);
constexpr PlaceTable kPlace1 = make_place_table(kSextet, 1);
constexpr PlaceTable kPlace2 = make_place_table(kSextet, 2);
constexpr PlaceTable kPlace3 = make_place_table(kSextet, 3);

inline uint32_t group(const unsigned char* p) noexcept {
    return kPlace0[p[0]] | kPlace1[p[1]] | kPlace2[p[2]] | kPlace3[p[3]];
}

#if defined(__x86_64__)
// Sixteen characters to twelve bytes per step with byte shuffles (the
// method of Muła and Lemire, "Faster Base64 Encoding and Decoding using AVX2
// Instructions", in its SSSE3 form): nibble tables find characters outside
// the alphabet, a third table gives each character's offset to its sextet,
// and two multiply-adds and a shuffle pack the sextets. Stops before the
// first sixteen that hold a character outside the alphabet (a line end, a
// pad), which the table loop then takes. Writes sixteen bytes per twelve.
__attribute__((target("ssse3"))) void decode16(const unsigned char*& p, const unsigned char* end,
                                               char*& o) noexcept {
    const __m128i lut_lo = _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                                         0x1B, 0x1B, 0x1B, 0x1A);
    const __m128i lut_hi = _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                                         0x10, 0x10, 0x10, 0x10);
    const __m128i lut_roll = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i slash = _mm_set1_epi8('/');
    const __m128i pack = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    while (end - p >= 16) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hi_nibbles = _mm_and_si128(_mm_srli_epi32(in, 4), nibble);
        const __m128i lo_nibbles = _mm_and_si128(in, nibble);
        const __m128i hi = _mm_shuffle_epi8(lut_hi, hi_nibbles);
        const __m128i lo = _mm_shuffle_epi8(lut_lo, lo_nibbles);
        if (_mm_movemask_epi8(_mm_cmpgt_epi8(_mm_and_si128(lo, hi), _mm_setzero_si128())) != 0) return;
        const __m128i roll = _mm_shuffle_epi8(lut_roll, _mm_add_epi8(_mm_cmpeq_epi8(in, slash), hi_nibbles));
        const __m128i sextets = _mm_add_epi8(in, roll);
        const __m128i pairs = _mm_maddubs_epi16(sextets, _mm_set1_epi32(0x01400140));
        const __m128i words = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_shuffle_epi8(words, pack));
        p += 16;
        o += 12;
    }
}

#endif

}  // namespace

void Base64Decoder::feed(std::string_view in, ByteBuffer& out) {
    if (padded_ || bad_ || in.empty()) return;
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const auto* const end = p + in.size();
    // Three bytes per four characters, four spare because whole vectors are
    // stored, and three for a quantum left from the last piece.
    char* const start = out.tail(in.size() / 4 * 3 + 16);
    char* o = start;
#if defined(__x86_64__)
    const bool ssse3 = has_ssse3();
#endif

    while (p < end) {
        if (pending_ == 0) {
#if defined(__x86_64__)
            if (ssse3) decode16(p, end, o);
#endif
            // Eight characters per round while they are all in the alphabet.
            while (end - p >= 8) {
                const uint32_t a = group(p);
                const uint32_t b = group(p + 4);
                if ((a | b) >= kBad) break;
                std::memcpy(o, &a, 4);
                std::memcpy(o + 3, &b, 4);
                o += 6;
                p += 8;
            }
            if (end - p >= 4) {
                const uint32_t a = group(p);
                if (a < kBad) {
                    std::memcpy(o, &a, 4);
                    o += 3;
                    p += 4;
                    continue;
                }
            }
            if (p == end) break;
        }
        const unsigned char c = *p++;
        const uint8_t s = kSextet[c];
        if (s != kNotInAlphabet) {
            acc_ = (acc_ << 6) | s;
            if (++pending_ == 4) {
                o[0] = static_cast<char>(acc_ >> 16);
                o[1] = static_cast<char>(acc_ >> 8);
                o[2] = static_cast<char>(acc_);
                o += 3;
                pending_ = 0;
                acc_ = 0;
            }
            continue;
        }
        if (c != '=') continue;  // line break, blank or stray character
        if (pending_ == 0) continue;
        if (pending_ == 1) {
            bad_ = true;
            break;
        }
        // "xx=" or "xxx=": the pad closes the data.
        if (pending_ == 2) {
            *o++ = static_cast<char>(acc_ >> 4);
        } else {
            *o++ = static_cast<char>(acc_ >> 10);
            *o++ = static_cast<char>(acc_ >> 2);
        }
        pending_ = 0;
        acc_ = 0;
        padded_ = true;
        break;
    }
    out.commit(static_cast<size_t>(o - start));
}

Verdict Base64Decoder::finish(ByteBuffer& out) {
    if (bad_) return Verdict::bad_data;
    if (padded_ || pending_ == 0) return Verdict::finished;
    if (pending_ == 2) {
        out.push_back(static_cast<char>(acc_ >> 4));
    } else if (pending_ == 3) {
        out.push_back(static_cast<char>(acc_ >> 10));
        out.push_back(static_cast<char>(acc_ >> 2));
    }
    pending_ = 0;
    acc_ = 0;
    return Verdict::incomplete;
}

Verdict decode_base64(std::string_view in, ByteBuffer& out) {
    Base64Decoder d;
    d.feed(in, out);
    return d.finish(out);
}

std::string encode_base64(std::string_view in) {
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(in[i])); };
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const uint32_t v = (byte(i) << 16) | (byte(i + 1) << 8) | byte(i + 2);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < in.size()) {
        const bool two = i + 1 < in.size();
        const uint32_t v = (byte(i) << 16) | (two ? byte(i + 1) << 8 : 0);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += two ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace quillnet::engine

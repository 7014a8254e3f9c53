// Base64 decoding (RFC 2045 section 6.8), table driven. The inner loop takes
// four characters per step through four tables whose entries are already
// shifted into place, so one OR gives the three bytes and one compare catches
// any character that is not in the alphabet; only then does the careful
// per-character path run (line ends, blanks, stray characters, the pad).
#include "quillnet/engine/base64.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace quillnet::engine {
namespace {

constexpr uint8_t kNotInAlphabet = 0xFF;
constexpr uint32_t kBad = 0x01000000;  // above every valid 24-bit group

constexpr std::array<uint8_t, 256> make_sextets() {
    std::array<uint8_t, 256> t{};
    for (auto& v : t) v = kNotInAlphabet;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (uint8_t i = 0; i < 64; ++i) t[static_cast<uint8_t>(alphabet[i])] = i;
    return t;
}
constexpr std::array<uint8_t, 256> kSextet = make_sextets();

// Table k places the sextet of the k-th character of a quantum where it lands
// in the three output bytes, read as a little-endian 32-bit word.
constexpr std::array<uint32_t, 256> make_place(int k) {
    std::array<uint32_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        const uint32_t s = kSextet[c];
        if (s == kNotInAlphabet) {
            t[c] = kBad;
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
constexpr std::array<uint32_t, 256> kPlace0 = make_place(0);
constexpr std::array<uint32_t, 256> kPlace1 = make_place(1);
constexpr std::array<uint32_t, 256> kPlace2 = make_place(2);
constexpr std::array<uint32_t, 256> kPlace3 = make_place(3);

inline uint32_t group(const unsigned char* p) noexcept {
    return kPlace0[p[0]] | kPlace1[p[1]] | kPlace2[p[2]] | kPlace3[p[3]];
}

}  // namespace

void Base64Decoder::feed(std::string_view in, ByteBuffer& out) {
    if (padded_ || bad_ || in.empty()) return;
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const auto* const end = p + in.size();
    // Three bytes per four characters, one spare because whole words are
    // stored, and three for a quantum left from the last piece.
    char* const start = out.tail(in.size() / 4 * 3 + 8);
    char* o = start;

    while (p < end) {
        if (pending_ == 0) {
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

}  // namespace quillnet::engine

// uudecode: line by line. Lines are decoded straight from the input; only a
// line split across two pieces of input is gathered in a buffer first.
#include "quillnet/engine/uudecode.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "frame/ascii.h"
#include "quillnet/engine/scan.h"
#include "quillnet/engine/sextet_tables.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace quillnet::engine {
namespace {

using frame::ascii::starts_with_nocase;

// Longest line worth keeping: a begin line with a long name. Data lines are
// at most 87 characters.
constexpr size_t kMaxLine = 65536;

bool is_begin_line(std::string_view s) noexcept {
    return starts_with_nocase(s, "begin ") && s.size() > 6 && s[6] >= '0' && s[6] <= '7';
}

bool is_blank_line(std::string_view s) noexcept {
    for (char c : s)
        if (c != ' ' && c != '\t') return false;
    return true;
}

inline unsigned sextet(char c) noexcept { return (static_cast<unsigned char>(c) - 32u) & 63u; }

inline bool in_range(char c) noexcept { return static_cast<unsigned char>(c - 0x20) <= 0x40; }

// Characters " " to "`" carry a sextet ("`" as zero); anything else is
// not uuencoded data.
constexpr SextetMap make_uu_sextets() {
    SextetMap t{};
    for (int c = 0; c < 256; ++c)
        t[c] = (c < 0x20 || c > 0x60) ? kNoSextet : static_cast<uint8_t>((c - 32) & 63);
    return t;
}
constexpr SextetMap kUuSextet = make_uu_sextets();
constexpr uint32_t kBad = kBadGroup;
constexpr PlaceTable kPlace0 = make_place_table(kUuSextet, 0);
constexpr PlaceTable kPlace1 = make_place_table(kUuSextet, 1);
constexpr PlaceTable kPlace2 = make_place_table(kUuSextet, 2);
constexpr PlaceTable kPlace3 = make_place_table(kUuSextet, 3);

#if defined(__x86_64__)
// Four groups (sixteen characters, twelve bytes) per step, as the base64
// decoder does it: the sextet of a character is (c - 32) & 63, checked to
// lie in " " to "`", and packed with two multiply-adds and a shuffle.
// Returns false when a character is out of range. Writes sixteen bytes per
// twelve.
__attribute__((target("ssse3"))) bool decode_groups16(const unsigned char*& p, size_t& groups,
                                                      char*& o) noexcept {
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i top = _mm_set1_epi8(0x40);
    const __m128i six = _mm_set1_epi8(63);
    const __m128i pack = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    while (groups >= 4) {
        const __m128i in = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), space);
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(in, top), top)) != 0xFFFF) return false;
        const __m128i pairs = _mm_maddubs_epi16(_mm_and_si128(in, six), _mm_set1_epi32(0x01400140));
        const __m128i words = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_shuffle_epi8(words, pack));
        p += 16;
        o += 12;
        groups -= 4;
    }
    return true;
}

#endif

}  // namespace

void UuDecoder::line(std::string_view s, ByteBuffer& out) {
    if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
    switch (state_) {
    case State::begin_line: {
        if (!starts_with_nocase(s, "begin ")) {
            state_ = State::bad;
            return;
        }
        size_t i = 6;
        int mode = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '7' && i < 12) mode = mode * 8 + (s[i++] - '0');
        if (i == 6 || (i < s.size() && s[i] != ' ')) {
            state_ = State::bad;
            return;
        }
        mode_ = mode;
        filename_.assign(i < s.size() ? s.substr(i + 1) : std::string_view());
        state_ = State::data;
        return;
    }
    case State::data: {
        if (s.empty()) {
            state_ = State::after_data;  // a length blank that was stripped
            return;
        }
        if (starts_with_nocase(s, "end")) {
            // The end line, unless it is a full data line that starts "END".
            bool valid = true;
            for (char c : s) valid &= in_range(c);
            if (!(valid && s.size() >= 49)) {
                state_ = State::done;
                return;
            }
        }
        const size_t count = sextet(s[0]);
        const size_t groups = (count + 2) / 3;
        const std::string_view chars = s.substr(1);
        if (!in_range(s[0]) || chars.size() > groups * 4 + 2 || is_begin_line(s)) {
            state_ = State::bad;
            return;
        }
        if (count == 0) {
            state_ = State::after_data;
            return;
        }
        // Whole groups through the vector step and the tables; spare bytes
        // for whole-vector stores.
        char* o = out.tail(groups * 3 + 4);
        const size_t whole = std::min(chars.size() / 4, groups);
        const auto* p = reinterpret_cast<const unsigned char*>(chars.data());
        uint32_t seen = 0;
        size_t vector_groups = whole;
#if defined(__x86_64__)
        if (has_ssse3() && !decode_groups16(p, vector_groups, o)) seen = kBad;
#endif
        for (size_t g = 0; g < vector_groups; ++g, p += 4, o += 3) {
            const uint32_t v = kPlace0[p[0]] | kPlace1[p[1]] | kPlace2[p[2]] | kPlace3[p[3]];
            seen |= v;
            std::memcpy(o, &v, 4);
        }
        // Characters past the whole groups: the start of a group whose
        // trailing blanks were stripped (the missing characters, and any
        // groups missing entirely, are zeros), or checksum characters, which
        // are checked and ignored.
        const size_t left = chars.size() - whole * 4;
        unsigned char rest[4] = {' ', ' ', ' ', ' '};
        std::memcpy(rest, p, std::min<size_t>(left, 4));
        for (size_t k = 0; k < left; ++k) seen |= kPlace0[p[k]];
        if (whole < groups) {
            const uint32_t v = kPlace0[rest[0]] | kPlace1[rest[1]] | kPlace2[rest[2]] | kPlace3[rest[3]];
            std::memcpy(o, &v, 4);
            o += 3;
            std::memset(o, 0, (groups - whole - 1) * 3);
        }
        if (seen & kBad) {
            state_ = State::bad;
            return;
        }
        out.commit(count);
        return;
    }
    case State::after_data:
        if (starts_with_nocase(s, "end")) {
            state_ = State::done;
        } else if (!is_blank_line(s)) {
            // Text where the end line belongs: bad as a block, but the data
            // before it was whole, which a caller that knows the end line
            // is missing may take.
            state_ = State::bad;
            data_closed_ = true;
        }
        return;
    case State::done:
    case State::bad:
        return;
    }
}

void UuDecoder::feed(std::string_view in, ByteBuffer& out) {
    // Room for the usual three bytes per four characters at once, so the
    // buffer does not grow line by line.
    out.tail(in.size() / 4 * 3 + 64);
    size_t i = 0;
    while (i < in.size() && state_ != State::done && state_ != State::bad) {
        const char* nl = find_byte(in.data() + i, in.data() + in.size(), '\n');
        if (nl == in.data() + in.size()) {
            // The rest of a line that goes on in the next piece.
            const size_t rest = in.size() - i;
            if (partial_.size() + rest > kMaxLine) overlong_ = true;
            else partial_.append(in.data() + i, rest);
            consumed_ += rest;
            return;
        }
        const size_t stop = static_cast<size_t>(nl - in.data());
        consumed_ += stop + 1 - i;
        if (overlong_ || partial_.size() + (stop - i) > kMaxLine) {
            state_ = State::bad;  // no begin or data line is that long
        } else if (partial_.empty()) {
            line(in.substr(i, stop - i), out);
        } else {
            partial_.append(in.data() + i, stop - i);
            line(partial_, out);
        }
        partial_.clear();
        overlong_ = false;
        i = stop + 1;
    }
}

Verdict UuDecoder::finish(ByteBuffer& out) {
    if (overlong_) state_ = State::bad;
    if (!partial_.empty() && state_ != State::done && state_ != State::bad) line(partial_, out);
    partial_.clear();
    overlong_ = false;
    switch (state_) {
    case State::done: return Verdict::finished;
    case State::data:
    case State::after_data: return Verdict::incomplete;
    case State::begin_line:
    case State::bad: return Verdict::bad_data;
    }
    return Verdict::bad_data;
}

Verdict decode_uuencode(std::string_view in, ByteBuffer& out, std::string* filename) {
    UuDecoder d;
    d.feed(in, out);
    const Verdict v = d.finish(out);
    if (filename) *filename = d.filename();
    return v;
}

}  // namespace quillnet::engine

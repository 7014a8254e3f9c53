// yEnc decoding. The data loop works sixteen bytes at a time while none of
// them is a line end or an escape, which is the bulk of any yEnc body, and
// drops to one byte at a time around the few that are.
#include "quillnet/engine/yenc.h"

#include <cstring>

#include "frame/parse.h"
#include "quillnet/engine/crc32.h"
#include "quillnet/engine/scan.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillnet::engine {
namespace {

constexpr size_t kMaxLine = 65536;  // keyword lines; a name cannot be longer

bool parse_hex32(std::string_view s, uint32_t& value) noexcept {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    while (s.size() > 8 && s[0] == '0') s.remove_prefix(1);
    if (s.empty() || s.size() > 8) return false;
    uint32_t v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    value = v;
    return true;
}

// The keys of a keyword line; "name=" takes the rest of the line.
struct Keys {
    std::string_view size, part, total, line, begin, end, pcrc32, crc32, name;
    bool has_name = false;
};

Keys read_keys(std::string_view s) {
    Keys k;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        if (i >= s.size()) break;
        if (s.compare(i, 5, "name=") == 0) {
            std::string_view name = s.substr(i + 5);
            while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
            k.name = name;
            k.has_name = true;
            break;
        }
        size_t j = i;
        while (j < s.size() && s[j] != ' ' && s[j] != '\t') ++j;
        const std::string_view token = s.substr(i, j - i);
        const size_t eq = token.find('=');
        if (eq != std::string_view::npos) {
            const std::string_view key = token.substr(0, eq);
            const std::string_view value = token.substr(eq + 1);
            if (key == "size") k.size = value;
            else if (key == "part") k.part = value;
            else if (key == "total") k.total = value;
            else if (key == "line") k.line = value;
            else if (key == "begin") k.begin = value;
            else if (key == "end") k.end = value;
            else if (key == "pcrc32") k.pcrc32 = value;
            else if (key == "crc32") k.crc32 = value;
        }
        i = j;
    }
    return k;
}

}  // namespace

void YencDecoder::header_line(std::string_view line) {
    if (!line.starts_with("=ybegin ")) {
        state_ = State::bad;
        return;
    }
    const Keys k = read_keys(line.substr(8));
    int64_t part = -1;
    if (!frame::parse_decimal(k.size, size_) || (!k.part.empty() && !frame::parse_decimal(k.part, part))) {
        state_ = State::bad;
        return;
    }
    part_ = k.part.empty() ? -1 : static_cast<int>(part);
    name_.assign(k.name);
    state_ = State::data;
}

void YencDecoder::keyword_line(std::string_view line) {
    if (line.starts_with("=ypart") && (line.size() == 6 || line[6] == ' ')) {
        const Keys k = read_keys(line.substr(6));
        if (part_line_ || decoded_ != 0 || !frame::parse_decimal(k.begin, part_begin_) ||
            !frame::parse_decimal(k.end, part_end_) || part_begin_ < 1 || part_end_ + 1 < part_begin_ ||
            part_end_ > size_) {
            state_ = State::bad;
            return;
        }
        part_line_ = true;
        state_ = State::data;
        return;
    }
    if (!(line.starts_with("=yend") && (line.size() == 5 || line[5] == ' '))) {
        state_ = State::bad;  // a second "=ybegin", or a keyword we do not know
        return;
    }
    const Keys k = read_keys(line.substr(5));
    int64_t value = 0;
    state_ = State::done;
    if (!k.part.empty() && part_ >= 0 && (!frame::parse_decimal(k.part, value) || value != part_)) {
        verdict_ = Verdict::bad_data;
        return;
    }
    const int64_t decoded = static_cast<int64_t>(decoded_);
    int64_t expected = multipart() ? (part_line_ ? part_end_ - part_begin_ + 1 : -1) : size_;
    if (!k.size.empty()) {
        if (!frame::parse_decimal(k.size, value)) {
            verdict_ = Verdict::bad_data;
            return;
        }
        if (value != decoded) expected = value;
    }
    if (expected >= 0 && expected != decoded) {
        verdict_ = Verdict::bad_size;
        return;
    }
    // A whole file is checked against crc32; a part, or a single-part trailer
    // that carries only pcrc32, against pcrc32.
    std::string_view check = multipart() ? k.pcrc32 : (k.crc32.empty() ? k.pcrc32 : k.crc32);
    if (!check.empty()) {
        uint32_t want = 0;
        if (!parse_hex32(check, want)) {
            verdict_ = Verdict::bad_data;
            return;
        }
        if (want != crc_) {
            verdict_ = Verdict::crc_error;
            return;
        }
    }
    verdict_ = Verdict::finished;
}

void YencDecoder::feed(std::string_view in, ByteBuffer& out) {
    const char* p = in.data();
    const char* const end = p + in.size();
    // Output never outgrows the input; sixteen spare bytes for whole-vector
    // stores.
    char* const start = out.tail(in.size() + 16);
    char* o = start;
    char* counted = start;
    auto account = [&] {
        const size_t n = static_cast<size_t>(o - counted);
        crc_ = crc32(counted, n, crc_);
        decoded_ += n;
        counted = o;
    };

    while (p < end && state_ != State::done && state_ != State::bad) {
        switch (state_) {
        case State::header:
        case State::keyword: {
            const char* found = find_byte(p, end, '\n');
            const char* nl = found == end ? nullptr : found;
            const char* stop = found;
            if (line_.size() + static_cast<size_t>(stop - p) > kMaxLine) {
                state_ = State::bad;
                break;
            }
            line_.append(p, stop);
            consumed_ += static_cast<size_t>(stop - p) + (nl ? 1 : 0);
            p = nl ? nl + 1 : end;
            if (!nl) break;
            std::string_view l = line_;
            if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
            if (state_ == State::header) {
                header_line(l);
            } else {
                account();
                keyword_line(l);
            }
            line_.clear();
            line_start_ = true;
            escape_ = false;
            break;
        }
        case State::line_start_eq:
            if (*p == 'y') {
                line_.assign("=y");
                state_ = State::keyword;
                ++p;
                ++consumed_;
            } else {
                state_ = State::data;  // an escape at the start of a line
                escape_ = true;
            }
            break;
        case State::data: {
            const char* q = p;
            while (q < end) {
#if defined(__SSE2__)
                if (!escape_ && !line_start_) {
                    const __m128i eq = _mm_set1_epi8('=');
                    const __m128i lf = _mm_set1_epi8('\n');
                    const __m128i cr = _mm_set1_epi8('\r');
                    const __m128i k42 = _mm_set1_epi8(42);
                    while (end - q >= 16) {
                        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
                        const __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, eq), _mm_cmpeq_epi8(v, lf)),
                                                             _mm_cmpeq_epi8(v, cr));
                        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special));
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_sub_epi8(v, k42));
                        if (mask == 0) {
                            o += 16;
                            q += 16;
                            continue;
                        }
                        const unsigned k = static_cast<unsigned>(__builtin_ctz(mask));
                        o += k;
                        q += k;
                        // The common special characters are taken here too,
                        // with the same effect as the byte loop below; the
                        // rare cases are left to it.
                        if (*q == '=') {
                            if (end - q < 2 || q[1] == '\n' || q[1] == '\r') break;
                            *o++ = static_cast<char>(q[1] - 64 - 42);
                            q += 2;
                        } else if (*q == '\r') {
                            ++q;
                        } else {
                            ++q;
                            line_start_ = true;
                            while (q < end && *q == '\r') ++q;
                            if (q == end || *q == '=') break;
                            line_start_ = false;
                        }
                    }
                    if (q == end) break;
                }
#endif
                const char c = *q;
                if (c == '\n') {
                    line_start_ = true;
                    escape_ = false;  // "=" at the end of a line escapes nothing
                    ++q;
                    continue;
                }
                if (c == '\r') {
                    ++q;
                    continue;
                }
                if (escape_) {
                    *o++ = static_cast<char>(c - 64 - 42);
                    escape_ = false;
                    ++q;
                    continue;
                }
                if (line_start_) {
                    line_start_ = false;
                    if (c == '=') {
                        ++q;
                        state_ = State::line_start_eq;
                        break;
                    }
                }
                if (c == '=') {
                    escape_ = true;
                    ++q;
                    continue;
                }
                *o++ = static_cast<char>(c - 42);
                ++q;
            }
            consumed_ += static_cast<size_t>(q - p);
            p = q;
            break;
        }
        case State::done:
        case State::bad:
            break;
        }
    }
    account();
    out.commit(static_cast<size_t>(o - start));
}

Verdict YencDecoder::finish(ByteBuffer& out) {
    if ((state_ == State::header || state_ == State::keyword) && !line_.empty()) {
        std::string_view l = line_;
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        if (state_ == State::header) header_line(l);
        else keyword_line(l);
        line_.clear();
    }
    switch (state_) {
    case State::done: return verdict_;
    case State::header:
    case State::bad: return Verdict::bad_data;
    default: return Verdict::incomplete;
    }
}

Verdict decode_yenc(std::string_view in, ByteBuffer& out, std::string* filename) {
    YencDecoder d;
    d.feed(in, out);
    const Verdict v = d.finish(out);
    if (filename) *filename = d.filename();
    return v;
}

}  // namespace quillnet::engine

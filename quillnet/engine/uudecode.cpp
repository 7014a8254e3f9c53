// uudecode: line by line. Lines are decoded straight from the input; only a
// line split across two pieces of input is gathered in a buffer first.
#include "quillnet/engine/uudecode.h"

#include <algorithm>
#include <cstring>

namespace quillnet::engine {
namespace {

// Longest line worth keeping: a begin line with a long name. Data lines are
// at most 87 characters.
constexpr size_t kMaxLine = 65536;

char lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool starts_with_nocase(std::string_view s, std::string_view prefix) noexcept {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (lower(s[i]) != prefix[i]) return false;
    return true;
}

bool is_begin_line(std::string_view s) noexcept {
    return starts_with_nocase(s, "begin ") && s.size() > 6 && s[6] >= '0' && s[6] <= '7';
}

bool is_blank_line(std::string_view s) noexcept {
    for (char c : s)
        if (c != ' ' && c != '\t') return false;
    return true;
}

inline unsigned sextet(char c) noexcept { return (static_cast<unsigned char>(c) - 32u) & 63u; }

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
        const size_t count = sextet(s[0]);
        const size_t groups = (count + 2) / 3;
        const std::string_view chars = s.substr(1);
        bool valid = chars.size() <= groups * 4 + 2;
        for (char c : s) valid &= static_cast<unsigned char>(c - 0x20) <= 0x40;
        if (starts_with_nocase(s, "end") && !(valid && s.size() >= 49)) {
            state_ = State::done;
            return;
        }
        if (!valid || is_begin_line(s)) {
            state_ = State::bad;
            return;
        }
        if (count == 0) {
            state_ = State::after_data;
            return;
        }
        char* o = out.tail(groups * 3);
        const size_t whole = std::min(chars.size() / 4, groups);
        const char* p = chars.data();
        for (size_t g = 0; g < whole; ++g, p += 4, o += 3) {
            const unsigned v = sextet(p[0]) << 18 | sextet(p[1]) << 12 | sextet(p[2]) << 6 | sextet(p[3]);
            o[0] = static_cast<char>(v >> 16);
            o[1] = static_cast<char>(v >> 8);
            o[2] = static_cast<char>(v);
        }
        if (whole < groups) {
            // Stripped trailing blanks: the missing characters are zeros.
            char tail[4] = {' ', ' ', ' ', ' '};
            std::memcpy(tail, p, chars.size() - whole * 4 < 4 ? chars.size() - whole * 4 : 4);
            for (size_t g = whole; g < groups; ++g, o += 3) {
                const unsigned v =
                    sextet(tail[0]) << 18 | sextet(tail[1]) << 12 | sextet(tail[2]) << 6 | sextet(tail[3]);
                o[0] = static_cast<char>(v >> 16);
                o[1] = static_cast<char>(v >> 8);
                o[2] = static_cast<char>(v);
                std::memset(tail, ' ', 4);
            }
        }
        out.commit(count);
        return;
    }
    case State::after_data:
        if (starts_with_nocase(s, "end")) state_ = State::done;
        else if (!is_blank_line(s)) state_ = State::bad;
        return;
    case State::done:
    case State::bad:
        return;
    }
}

void UuDecoder::feed(std::string_view in, ByteBuffer& out) {
    size_t i = 0;
    while (i < in.size() && state_ != State::done && state_ != State::bad) {
        const void* nl = std::memchr(in.data() + i, '\n', in.size() - i);
        if (!nl) {
            // The rest of a line that goes on in the next piece.
            const size_t rest = in.size() - i;
            if (partial_.size() + rest > kMaxLine) overlong_ = true;
            else partial_.append(in.data() + i, rest);
            consumed_ += rest;
            return;
        }
        const size_t stop = static_cast<size_t>(static_cast<const char*>(nl) - in.data());
        consumed_ += stop + 1 - i;
        if (partial_.empty() && !overlong_) {
            line(in.substr(i, stop - i), out);
        } else {
            if (partial_.size() + (stop - i) > kMaxLine) overlong_ = true;
            if (overlong_) {
                state_ = State::bad;  // no begin or data line is that long
            } else {
                partial_.append(in.data() + i, stop - i);
                line(partial_, out);
            }
            partial_.clear();
            overlong_ = false;
        }
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

// Quoted-printable decoding and encoding (RFC 2045 section 6.7).
#include "quillnet/engine/quoted_printable.h"
#include "quillnet/engine/scan.h"
#include "frame/ascii.h"

namespace quillnet::engine {
namespace {

using frame::ascii::hex_value;
using frame::ascii::kHexDigits;

bool is_blank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

void QuotedPrintableDecoder::feed(std::string_view in, ByteBuffer& out) {
    // Every input character gives at most one output character, except for
    // what an earlier piece left pending (blanks, "=" and one hex digit).
    char* const start = out.tail(in.size() + blanks_.size() + 4);
    char* o = start;
    auto flush_blanks = [&] {
        for (char b : blanks_) *o++ = b;
        blanks_.clear();
    };
    size_t i = 0;
    while (i < in.size()) {
        const char c = in[i];
        switch (state_) {
        case State::text:
            if (c == '=') {
                flush_blanks();  // blanks before an "=" are inside the line
                state_ = State::eq;
            } else if (c == '\n') {
                // A hard line break: blanks before it were padding.
                if (!blanks_.empty() && blanks_.back() == '\r') *o++ = '\r';
                blanks_.clear();
                *o++ = '\n';
            } else if (is_blank(c)) {
                blanks_.push_back(c);
            } else {
                flush_blanks();
                *o++ = c;
                // The common run of plain characters, without the switch.
                while (i + 1 < in.size()) {
                    const char n = in[i + 1];
                    if (n == '=' || n == '\n' || is_blank(n)) break;
                    *o++ = n;
                    ++i;
                }
            }
            ++i;
            break;
        case State::eq:
            if (hex_value(c) >= 0) {
                hex_ = c;
                state_ = State::eq_hex;
            } else if (c == '\n') {
                state_ = State::text;  // soft line break
            } else if (is_blank(c)) {
                blanks_.push_back(c);
                state_ = State::eq_blank;
            } else {
                *o++ = '=';
                state_ = State::text;
                continue;  // the character is read again as text
            }
            ++i;
            break;
        case State::eq_hex:
            if (hex_value(c) >= 0) {
                *o++ = static_cast<char>(hex_value(hex_) * 16 + hex_value(c));
                state_ = State::text;
                ++i;
            } else {
                *o++ = '=';
                *o++ = hex_;
                state_ = State::text;
            }
            break;
        case State::eq_blank:
            if (c == '\n') {
                blanks_.clear();  // soft line break with padding after the "="
                state_ = State::text;
                ++i;
            } else if (is_blank(c)) {
                blanks_.push_back(c);
                ++i;
            } else {
                // Not a soft break after all: the "=" stands, the blanks are
                // pending as in any line.
                *o++ = '=';
                state_ = State::text;
            }
            break;
        }
    }
    out.commit(static_cast<size_t>(o - start));
}

Verdict QuotedPrintableDecoder::finish(ByteBuffer& out) {
    Verdict v = Verdict::finished;
    switch (state_) {
    case State::text:
    case State::eq:        // "=" at the very end: a soft break before nothing
    case State::eq_blank:
        break;
    case State::eq_hex:
        out.push_back('=');
        out.push_back(hex_);
        v = Verdict::incomplete;
        break;
    }
    blanks_.clear();  // trailing blanks of the last line
    state_ = State::text;
    return v;
}

Verdict decode_quoted_printable(std::string_view in, ByteBuffer& out) {
    QuotedPrintableDecoder d;
    d.feed(in, out);
    return d.finish(out);
}

std::string encode_quoted_printable(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    bool first_line = true;
    for_each_line(text, [&](std::string_view line) {
        if (!first_line) out += "\r\n";
        first_line = false;
        size_t width = 0;
        for (size_t i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            const bool last = i + 1 == line.size();
            const bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
            const size_t need = literal ? 1 : 3;
            // A soft break keeps every line at 76 characters or fewer; the
            // "=" it adds needs a column of its own.
            if (width + need > (last ? 76 : 75)) {
                out += "=\r\n";
                width = 0;
            }
            if (literal) {
                out += static_cast<char>(c);
            } else {
                out += '=';
                out += kHexDigits[c >> 4];
                out += kHexDigits[c & 15];
            }
            width += need;
        }
    });
    if (!text.empty() && (text.back() == '\n' || text.back() == '\r')) out += "\r\n";
    return out;
}

}  // namespace quillnet::engine

// Searching text sixteen bytes at a time. The C runtime's memchr and the
// standard library's find are fast on some platforms and a byte loop on
// others; decoding a 20 MB article walks its text several times, so the
// decoders and the attachment extraction use these instead.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillnet::engine {

// The first `c` in [p, end), or end.
const char* find_byte(const char* p, const char* end, char c) noexcept;

// Position of the first `c` in `s` at or after `from`, or npos.
inline size_t find_byte(std::string_view s, char c, size_t from = 0) noexcept {
    if (from >= s.size()) return std::string_view::npos;
    const char* hit = find_byte(s.data() + from, s.data() + s.size(), c);
    return hit == s.data() + s.size() ? std::string_view::npos : static_cast<size_t>(hit - s.data());
}

// Position of the first occurrence of `needle` in `s` at or after `from`, or
// npos. Candidates are the places where both the first and the last byte of
// the needle match, tested sixteen at a time, so text that rarely holds that
// pair of bytes (a line end followed by "end" in uuencoded data, a
// delimiter in base64) is passed over at memory speed.
size_t find_text(std::string_view s, std::string_view needle, size_t from = 0) noexcept;

// Calls on_line with each line of `text` without its line end; CR LF, a lone
// LF and a lone CR each end a line, and a last line without one counts too.
// Page texts come with any of the three.
template <class F>
void for_each_line(std::string_view text, F&& on_line) {
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        on_line(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) on_line(text.substr(start));
}

}  // namespace quillnet::engine

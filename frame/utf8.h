// UTF-8 validity by the strict rules of RFC 3629: no overlong forms, no
// surrogate halves, nothing above U+10FFFF. Text that passes may be taken as
// UTF-8 as it is; text that fails is some other charset (or damaged) and is
// read another way. Plain C++, shared by the DLLs and the native builds.
#pragma once

#include <cstddef>
#include <string_view>

namespace frame {

constexpr bool valid_utf8(std::string_view s) noexcept {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t n = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
        if (c >= 0xC2 && c <= 0xDF) n = 1;
        else if (c == 0xE0) n = 2, lo = 0xA0;
        else if (c == 0xED) n = 2, hi = 0x9F;
        else if (c >= 0xE1 && c <= 0xEF) n = 2;
        else if (c == 0xF0) n = 3, lo = 0x90;
        else if (c == 0xF4) n = 3, hi = 0x8F;
        else if (c >= 0xF1 && c <= 0xF3) n = 3;
        else return false;
        if (s.size() - i <= n) return false;  // cut off at the end
        const auto second = static_cast<unsigned char>(s[i + 1]);
        if (second < lo || second > hi) return false;
        for (size_t k = 2; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}

// Whether the text has a byte above 0x7F.
constexpr bool has_high_byte(std::string_view s) noexcept {
    for (const char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

}  // namespace frame

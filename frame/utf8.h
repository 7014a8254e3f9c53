// UTF-8 validity by the strict rules of RFC 3629: no overlong forms, no
// surrogate halves, nothing above U+10FFFF. Text that passes may be taken as
// UTF-8 as it is; text that fails is some other charset (or damaged) and is
// read another way. Plain C++, shared by the DLLs and the native builds.
#pragma once

#include <cstddef>
#include <string_view>

namespace frame {

// The lead bytes of RFC 3629's table: how many bytes follow, and the range
// the first of them must lie in (the rest lie in 0x80-0xBF).
struct Utf8Lead {
    unsigned char first, last;
    size_t follow;
    unsigned char low, high;
};
inline constexpr Utf8Lead kUtf8Leads[] = {
    {0xC2, 0xDF, 1, 0x80, 0xBF}, {0xE0, 0xE0, 2, 0xA0, 0xBF}, {0xE1, 0xEC, 2, 0x80, 0xBF}, {0xED, 0xED, 2, 0x80, 0x9F},
    {0xEE, 0xEF, 2, 0x80, 0xBF}, {0xF0, 0xF0, 3, 0x90, 0xBF}, {0xF1, 0xF3, 3, 0x80, 0xBF}, {0xF4, 0xF4, 3, 0x80, 0x8F},
};

constexpr bool valid_utf8(std::string_view s) noexcept {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        const Utf8Lead* lead = nullptr;
        for (const Utf8Lead& l : kUtf8Leads)
            if (c >= l.first && c <= l.last) lead = &l;
        if (!lead || s.size() - i <= lead->follow) return false;  // not a lead byte, or cut off at the end
        const auto second = static_cast<unsigned char>(s[i + 1]);
        if (second < lead->low || second > lead->high) return false;
        for (size_t k = 2; k <= lead->follow; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += lead->follow + 1;
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

// Small parsers for texts that come from peers, pages and files, written
// once: whole decimal fields and percent escapes.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

#include "frame/ascii.h"

namespace frame {

// A whole field of decimal digits (no sign, blank or anything else) of at
// most `max_digits` digits, which keeps the value inside T; false for
// anything else, and `out` is then left alone.
template <class T>
constexpr bool parse_decimal(std::string_view s, T& out,
                             size_t max_digits = static_cast<size_t>(std::numeric_limits<T>::digits10)) noexcept {
    if (s.empty() || s.size() > max_digits) return false;
    T v = 0;
    for (const char c : s) {
        if (!ascii::is_digit(c)) return false;
        v = static_cast<T>(v * 10 + (c - '0'));
    }
    out = v;
    return true;
}

enum class Escapes {
    strict,   // a "%" that does not start a whole escape makes the text unreadable
    lenient,  // such a "%" stays as it is, as browsers and mail readers do
};

// `s` with its %XX escapes decoded; with `plus_is_space` (form fields) a
// "+" is a blank. False only for a strict text with a broken escape.
inline bool percent_decode(std::string_view s, std::string& out, Escapes mode, bool plus_is_space = false) {
    out.clear();
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '%') {
            const int hi = i + 2 < s.size() ? ascii::hex_value(s[i + 1]) : -1;
            const int lo = i + 2 < s.size() ? ascii::hex_value(s[i + 2]) : -1;
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
            if (mode == Escapes::strict) return false;
        }
        out.push_back(plus_is_space && c == '+' ? ' ' : c);
    }
    return true;
}

}  // namespace frame

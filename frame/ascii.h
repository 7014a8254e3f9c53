// ASCII rules for protocol text: header names, keywords, schemes, hex digits.
// Protocol keywords are ASCII whatever the code page, so none of these look at
// the locale; bytes above 0x7F are never letters here and compare as they are.
// Plain C++ with no Windows calls, shared by both DLLs and the native builds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace frame::ascii {

constexpr char lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr wchar_t lower(wchar_t c) noexcept {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}
constexpr char upper(char c) noexcept { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
constexpr bool is_alpha(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// Blank and tab: what separates words on a protocol line.
constexpr bool is_blank(char c) noexcept { return c == ' ' || c == '\t'; }
// Blank, tab and the line-end characters: what surrounds a header value.
constexpr bool is_space(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value of one hex digit of either case, or -1.
constexpr int hex_value(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
// Upper-case hex digits, the form RFC 2045 and RFC 3986 ask writers for.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr bool equals_nocase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

constexpr bool starts_with_nocase(std::string_view s, std::string_view prefix) noexcept {
    return s.size() >= prefix.size() && equals_nocase(s.substr(0, prefix.size()), prefix);
}

constexpr bool ends_with_nocase(std::string_view s, std::string_view suffix) noexcept {
    return s.size() >= suffix.size() && equals_nocase(s.substr(s.size() - suffix.size()), suffix);
}

// Without the blanks and tabs at either end.
constexpr std::string_view trim(std::string_view s) noexcept {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

// Without blanks, tabs, CR and LF at either end.
constexpr std::string_view trim_space(std::string_view s) noexcept {
    while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
    return s;
}

inline std::string lowered(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = lower(c);
    return r;
}

}  // namespace frame::ascii

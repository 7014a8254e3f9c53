// MIME charset names and Windows code pages, both ways, and text from a
// named charset to the ANSI code page the components work in (names in RFC
// 2047 encoded words and RFC 2231 parameters come in any charset the sender
// chose; what we send is labelled with the name of our own code page).
#pragma once

#include <string>
#include <string_view>

namespace quillnet::engine {

// The code page for a MIME charset name (any case), 0 when we do not know it.
unsigned code_page_of(std::string_view charset) noexcept;

// The preferred MIME name (RFC 2978, as IANA lists it) of a code page:
// "windows-1252" for 1252, "Shift_JIS" for 932, "EUC-JP" for 20932 and
// 51932. A code page we have no name for is called "windows-" and its number.
std::string charset_of_code_page(unsigned code_page);

// Whether `c` begins a two-byte character in the code page (0: ANSI).
bool is_lead_byte(unsigned code_page, char c) noexcept;

// The bytes read in `charset` and written in the ANSI code page; characters
// the ANSI code page lacks become its default character. Bytes of an unknown
// charset, or that the charset cannot read, are kept as they are.
std::string charset_to_ansi(std::string_view charset, std::string_view bytes);

// The bytes read in `charset` and appended to `out` as UTF-8, for objects
// whose texts cross the boundary as UTF-8. Bytes the charset cannot read
// become U+FFFD. False, with nothing appended, for a charset we do not know
// (or one the platform has no table for).
bool charset_to_utf8(std::string_view charset, std::string_view bytes, std::string& out);
// ANSI code page bytes appended to `out` as UTF-8.
void ansi_to_utf8(std::string_view bytes, std::string& out);

}  // namespace quillnet::engine

// MIME charset names to Windows code pages, and text from a named charset
// to the ANSI code page the components work in (names in RFC 2047 encoded
// words and RFC 2231 parameters come in any charset the sender chose).
#pragma once

#include <string>
#include <string_view>

namespace quillnet::engine {

// The code page for a MIME charset name (any case), 0 when we do not know it.
unsigned code_page_of(std::string_view charset) noexcept;

// The bytes read in `charset` and written in the ANSI code page; characters
// the ANSI code page lacks become its default character. Bytes of an unknown
// charset, or that the charset cannot read, are kept as they are.
std::string charset_to_ansi(std::string_view charset, std::string_view bytes);

}  // namespace quillnet::engine

// Texts as UTF-8 for objects whose page asked for them that way: header
// values with their encoded words decoded from any charset we know, and
// bytes of an undeclared charset read as UTF-8 where they are valid UTF-8
// and as the ANSI code page where not. Mail and news software of today
// writes raw UTF-8; older software writes its own code page without saying
// so, and valid UTF-8 almost never arises by chance from such bytes.
#pragma once

#include <string>
#include <string_view>

namespace quillnet::engine {

// Bytes of no declared charset appended to `out` as UTF-8.
void undeclared_to_utf8(std::string_view bytes, std::string& out);

// Bytes in `charset` appended to `out` as UTF-8. A charset that is empty,
// US-ASCII or unknown is taken as undeclared, since such text carries 8-bit
// bytes only when its sender mislabelled it.
void declared_to_utf8(std::string_view charset, std::string_view bytes, std::string& out);

// A header value as UTF-8: encoded words decoded in any charset our table
// knows; words of a charset we do not know are kept as they are written;
// the rest of the value as undeclared bytes.
std::string header_to_utf8(std::string_view value);

// A fetched document as UTF-8, in the charset found first of: the charset
// of its Content-Type value, its byte order mark (UTF-8, UTF-16 of either
// order; the mark itself is dropped), a <meta charset> or <meta http-equiv
// content="...; charset=..."> in its first 1024 bytes, as browsers look for
// it. With none of them, or one we do not know, the bytes are undeclared.
std::string document_to_utf8(std::string_view bytes, std::string_view contentType);

}  // namespace quillnet::engine

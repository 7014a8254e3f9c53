// Native stand-ins for the code-page calls of quillnet/engine/
// charset_ansi.cpp: a single-byte ANSI code page, as on the servers the
// components run on, and every charset read as if it were that code page.
// The parsers around them see the same kinds of results (bytes in, bytes
// out), and the fuzz targets can hold decoded names to "never longer than
// the input". The double-byte walk of frame::safe_name is fuzzed directly
// with a table of its own (fuzz_safe_name).
#include "quillnet/engine/charset.h"

namespace quillnet::engine {

bool is_lead_byte(unsigned, char) noexcept { return false; }

std::string charset_to_ansi(std::string_view, std::string_view bytes) { return std::string(bytes); }

// Every known charset and the ANSI code page read as Latin-1, so UTF-8
// output is at most twice the input, as a real single-byte code page gives.
void ansi_to_utf8(std::string_view bytes, std::string& out) {
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
}

bool charset_to_utf8(std::string_view charset, std::string_view bytes, std::string& out) {
    if (code_page_of(charset) == 0) return false;
    ansi_to_utf8(bytes, out);
    return true;
}

}  // namespace quillnet::engine

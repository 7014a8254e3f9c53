// The steps of charset handling that need the platform's code page tables;
// kept apart so that the parsers above them build without Windows.
#include <windows.h>

#include <climits>
#include <string>

#include "quillnet/engine/charset.h"

namespace quillnet::engine {

bool is_lead_byte(unsigned code_page, char c) noexcept {
    return ::IsDBCSLeadByteEx(code_page, static_cast<BYTE>(c)) != 0;
}

std::string charset_to_ansi(std::string_view charset, std::string_view bytes) {
    const unsigned cp = code_page_of(charset);
    if (cp == 0 || bytes.empty() || bytes.size() > INT_MAX / 2 || cp == ::GetACP()) return std::string(bytes);
    const int n = static_cast<int>(bytes.size());
    const int wide_count = ::MultiByteToWideChar(cp, 0, bytes.data(), n, nullptr, 0);
    if (wide_count <= 0) return std::string(bytes);
    std::wstring wide(static_cast<size_t>(wide_count), L'\0');
    ::MultiByteToWideChar(cp, 0, bytes.data(), n, wide.data(), wide_count);
    const int ansi_count = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_count, nullptr, 0, nullptr, nullptr);
    if (ansi_count <= 0) return std::string(bytes);
    std::string ansi(static_cast<size_t>(ansi_count), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_count, ansi.data(), ansi_count, nullptr, nullptr);
    return ansi;
}

namespace {

// Bytes in a code page appended as UTF-8; false when the platform cannot
// read that code page.
bool code_page_to_utf8(unsigned cp, std::string_view bytes, std::string& out) {
    if (bytes.empty()) return true;
    if (bytes.size() > INT_MAX / 4) return false;
    const int n = static_cast<int>(bytes.size());
    const int wide_count = ::MultiByteToWideChar(cp, 0, bytes.data(), n, nullptr, 0);
    if (wide_count <= 0) return false;
    std::wstring wide(static_cast<size_t>(wide_count), L'\0');
    ::MultiByteToWideChar(cp, 0, bytes.data(), n, wide.data(), wide_count);
    const int utf8_count = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_count, nullptr, 0, nullptr, nullptr);
    if (utf8_count <= 0) return false;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(utf8_count));
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_count, out.data() + at, utf8_count, nullptr, nullptr);
    return true;
}

}  // namespace

bool charset_to_utf8(std::string_view charset, std::string_view bytes, std::string& out) {
    const unsigned cp = code_page_of(charset);
    return cp != 0 && code_page_to_utf8(cp, bytes, out);
}

void ansi_to_utf8(std::string_view bytes, std::string& out) {
    // The ANSI table is always there; only a text past the size limit fails,
    // and its bytes are better kept than lost.
    if (!code_page_to_utf8(CP_ACP, bytes, out)) out.append(bytes);
}

}  // namespace quillnet::engine

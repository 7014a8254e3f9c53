#include "frame/text.h"

#include <new>

namespace frame {
namespace {

std::string narrow(UINT code_page, const wchar_t* text) {
    if (!text) return {};
    const int wide_len = static_cast<int>(wcslen(text));
    if (wide_len == 0) return {};
    const int need = ::WideCharToMultiByte(code_page, 0, text, wide_len, nullptr, 0, nullptr, nullptr);
    if (need <= 0) return {};
    std::string out(static_cast<size_t>(need), '\0');
    ::WideCharToMultiByte(code_page, 0, text, wide_len, out.data(), need, nullptr, nullptr);
    return out;
}

std::wstring widen(UINT code_page, std::string_view text) {
    if (text.empty()) return {};
    // MultiByteToWideChar takes an int count; large bodies are converted in
    // slices so a page of more than 2 GB cannot overflow the count.
    std::wstring out;
    size_t pos = 0;
    constexpr size_t slice = 1u << 28;
    while (pos < text.size()) {
        size_t n = std::min(slice, text.size() - pos);
        // Never split a UTF-8 sequence between two slices.
        if (code_page == CP_UTF8 && pos + n < text.size()) {
            while (n > 0 && (static_cast<unsigned char>(text[pos + n]) & 0xC0) == 0x80) --n;
        }
        const int need = ::MultiByteToWideChar(code_page, 0, text.data() + pos, static_cast<int>(n), nullptr, 0);
        if (need <= 0) break;
        const size_t old = out.size();
        out.resize(old + static_cast<size_t>(need));
        ::MultiByteToWideChar(code_page, 0, text.data() + pos, static_cast<int>(n), out.data() + old, need);
        pos += n;
    }
    return out;
}

}  // namespace

std::string to_ansi(const wchar_t* text) { return narrow(CP_ACP, text); }
std::string to_utf8(const wchar_t* text) { return narrow(CP_UTF8, text); }
std::wstring ansi_to_wide(std::string_view text) { return widen(CP_ACP, text); }
std::wstring utf8_to_wide(std::string_view text) { return widen(CP_UTF8, text); }

BSTR make_bstr_wide(std::wstring_view wide) {
    if (wide.size() > 0x7FFFFFF0u) throw std::bad_alloc();
    BSTR s = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (!s) throw std::bad_alloc();
    return s;
}

BSTR make_bstr(std::string_view ansi) { return make_bstr_wide(ansi_to_wide(ansi)); }
BSTR make_bstr_utf8(std::string_view utf8) { return make_bstr_wide(utf8_to_wide(utf8)); }

bool looks_like_utf8(std::string_view bytes) {
    bool high = false;
    for (size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        high = true;
        size_t n = 0;
        if (c >= 0xC2 && c <= 0xDF) n = 1;
        else if (c >= 0xE0 && c <= 0xEF) n = 2;
        else if (c >= 0xF0 && c <= 0xF4) n = 3;
        else return false;
        if (i + n >= bytes.size()) return false;  // sequence cut off at the end
        for (size_t k = 1; k <= n; ++k) {
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
        }
        i += n + 1;
    }
    return high;
}

}  // namespace frame

#include "frame/text.h"

#include <algorithm>
#include <new>

#include "frame/utf8.h"

namespace frame {
namespace {

// The system ANSI code page is fixed for the life of the process. For the
// single-byte code pages (all the Western, Central European, Cyrillic, Greek,
// Turkish, Hebrew, Arabic, Baltic, Vietnamese and Thai ones) a 256-entry
// table converts bytes to wide characters without a call per byte, and
// ASCII converts back as itself; pages sending megabytes through a method
// spend their time there otherwise.
struct AnsiTable {
    bool single_byte = false;
    wchar_t to_wide[256] = {};

    AnsiTable() {
        CPINFO info{};
        if (!::GetCPInfo(CP_ACP, &info) || info.MaxCharSize != 1) return;
        char bytes[256];
        for (int i = 0; i < 256; ++i) bytes[i] = static_cast<char>(i);
        if (::MultiByteToWideChar(CP_ACP, 0, bytes, 256, to_wide, 256) != 256) return;
        for (int i = 0; i < 0x80; ++i)
            if (to_wide[i] != static_cast<wchar_t>(i)) return;
        single_byte = true;
    }
};

const AnsiTable& ansi_table() {
    static const AnsiTable table;
    return table;
}

void narrow_into(UINT code_page, std::wstring_view wide, std::string& out) {
    out.clear();
    const wchar_t* text = wide.data();
    const size_t wide_len = wide.size();
    if (wide_len == 0) return;
    if (code_page == CP_ACP && ansi_table().single_byte) {
        // ASCII is copied; runs of other characters go through the platform
        // converter so unmappable characters get its best-fit or default.
        out.resize(wide_len);
        size_t n = 0;
        for (size_t i = 0; i < wide_len;) {
            if (text[i] < 0x80) {
                out[n++] = static_cast<char>(text[i++]);
                continue;
            }
            size_t j = i;
            while (j < wide_len && text[j] >= 0x80) ++j;
            const int run = static_cast<int>(j - i);
            const int need = ::WideCharToMultiByte(CP_ACP, 0, text + i, run, nullptr, 0, nullptr, nullptr);
            if (need > 0) {
                if (n + static_cast<size_t>(need) > out.size()) out.resize(n + static_cast<size_t>(need) + (wide_len - j));
                ::WideCharToMultiByte(CP_ACP, 0, text + i, run, out.data() + n, need, nullptr, nullptr);
                n += static_cast<size_t>(need);
            }
            i = j;
        }
        out.resize(n);
        return;
    }
    if (wide_len > 0x7FFFFFFF) throw std::bad_alloc();
    const int len = static_cast<int>(wide_len);
    const int need = ::WideCharToMultiByte(code_page, 0, text, len, nullptr, 0, nullptr, nullptr);
    if (need <= 0) return;
    out.resize(static_cast<size_t>(need));
    ::WideCharToMultiByte(code_page, 0, text, len, out.data(), need, nullptr, nullptr);
}

std::wstring_view up_to_nul(const wchar_t* text) { return text ? std::wstring_view(text) : std::wstring_view(); }

std::string narrow(UINT code_page, std::wstring_view text) {
    std::string out;
    narrow_into(code_page, text, out);
    return out;
}

// Number of wide characters `text` converts to, and the conversion itself
// into a buffer of that size. Large texts are converted in slices because
// the platform converter counts in int; a slice never ends inside a UTF-8
// sequence or after a lead byte of a double-byte code page.
size_t slice_end(UINT code_page, std::string_view text, size_t pos) {
    constexpr size_t slice = 1u << 28;
    size_t n = std::min(slice, text.size() - pos);
    if (pos + n < text.size()) {
        if (code_page == CP_UTF8) {
            while (n > 0 && (static_cast<unsigned char>(text[pos + n]) & 0xC0) == 0x80) --n;
        } else {
            size_t k = n;  // back up past a lead byte so its pair stays together
            while (k > 0 && ::IsDBCSLeadByteEx(code_page, static_cast<BYTE>(text[pos + k - 1]))) --k;
            if ((n - k) % 2 == 1) --n;
        }
    }
    return n;
}

size_t wide_length(UINT code_page, std::string_view text) {
    if (code_page == CP_ACP && ansi_table().single_byte) return text.size();
    size_t total = 0;
    for (size_t pos = 0; pos < text.size();) {
        const size_t n = slice_end(code_page, text, pos);
        if (n == 0) break;
        const int need = ::MultiByteToWideChar(code_page, 0, text.data() + pos, static_cast<int>(n), nullptr, 0);
        if (need <= 0) break;
        total += static_cast<size_t>(need);
        pos += n;
    }
    return total;
}

void widen_into(UINT code_page, std::string_view text, wchar_t* out, size_t capacity) {
    if (code_page == CP_ACP && ansi_table().single_byte) {
        const wchar_t* table = ansi_table().to_wide;
        const auto* in = reinterpret_cast<const unsigned char*>(text.data());
        for (size_t i = 0; i < text.size(); ++i) out[i] = table[in[i]];
        return;
    }
    size_t done = 0;
    for (size_t pos = 0; pos < text.size() && done < capacity;) {
        const size_t n = slice_end(code_page, text, pos);
        if (n == 0) break;
        const int got = ::MultiByteToWideChar(code_page, 0, text.data() + pos, static_cast<int>(n), out + done,
                                              static_cast<int>(std::min<size_t>(capacity - done, 0x7FFFFFFF)));
        if (got <= 0) break;
        done += static_cast<size_t>(got);
        pos += n;
    }
}

std::wstring widen(UINT code_page, std::string_view text) {
    std::wstring out(wide_length(code_page, text), L'\0');
    widen_into(code_page, text, out.data(), out.size());
    return out;
}

BSTR bstr_from(UINT code_page, std::string_view text) {
    const size_t n = wide_length(code_page, text);
    if (n > 0x7FFFFFF0u) throw std::bad_alloc();
    BSTR s = ::SysAllocStringLen(nullptr, static_cast<UINT>(n));
    if (!s) throw std::bad_alloc();
    widen_into(code_page, text, s, n);
    s[n] = L'\0';
    return s;
}

}  // namespace

std::string to_ansi(const wchar_t* text) { return narrow(CP_ACP, up_to_nul(text)); }
void to_ansi(const wchar_t* text, std::string& out) { narrow_into(CP_ACP, up_to_nul(text), out); }
std::string to_utf8(const wchar_t* text) { return narrow(CP_UTF8, up_to_nul(text)); }
std::string to_utf8(std::wstring_view text) { return narrow(CP_UTF8, text); }
std::wstring ansi_to_wide(std::string_view text) { return widen(CP_ACP, text); }
std::wstring utf8_to_wide(std::string_view text) { return widen(CP_UTF8, text); }

BSTR make_bstr_wide(std::wstring_view wide) {
    if (wide.size() > 0x7FFFFFF0u) throw std::bad_alloc();
    BSTR s = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (!s) throw std::bad_alloc();
    return s;
}

BSTR make_bstr(std::string_view ansi) { return bstr_from(CP_ACP, ansi); }
BSTR make_bstr_utf8(std::string_view utf8) { return bstr_from(CP_UTF8, utf8); }

bool looks_like_utf8(std::string_view bytes) { return has_high_byte(bytes) && valid_utf8(bytes); }

HRESULT BoundaryCodePage::put(long value) noexcept {
    if (value != 0 && value != CP_UTF8 && value != static_cast<long>(::GetACP())) return E_INVALIDARG;
    value_ = value;
    return S_OK;
}

}  // namespace frame

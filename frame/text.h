// Text at the component boundary: pages hand us wide strings (BSTR), the
// components work on single-byte text of the system ANSI code page, and every
// text handed back is a fresh BSTR that the caller frees.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace frame {

// Converts a caller's wide text to the ANSI code page, up to its first NUL
// (a null BSTR is the empty text). Characters the code page lacks become the
// code page's default character, as the platform converter does.
std::string to_ansi(const wchar_t* text);
// The same into a caller's buffer, so a caller converting large texts over
// and over can keep one buffer instead of touching fresh memory each time.
void to_ansi(const wchar_t* text, std::string& out);

// Converts a caller's wide text to UTF-8, up to its first NUL.
std::string to_utf8(const wchar_t* text);
// The same for text of a known length (a BSTR with its SysStringLen): every
// character counts, zeros included.
std::string to_utf8(std::wstring_view text);

// Wide text from ANSI or UTF-8 bytes; every byte counts, zero bytes included.
std::wstring ansi_to_wide(std::string_view text);
std::wstring utf8_to_wide(std::string_view text);

// A new BSTR holding the ANSI bytes converted, zero bytes included.
// Throws std::bad_alloc when the string cannot be allocated.
BSTR make_bstr(std::string_view ansi);
BSTR make_bstr_utf8(std::string_view utf8);
BSTR make_bstr_wide(std::wstring_view wide);

// True when the bytes form valid UTF-8 with at least one byte above 0x7F.
bool looks_like_utf8(std::string_view bytes);

// The code page one object's texts cross the boundary in, as its page sets
// it (like Response.CodePage): 0, the system ANSI code page, by default, or
// 65001, UTF-8. The ANSI code page's own number is taken as 0.
class BoundaryCodePage {
  public:
    HRESULT get(long* value) const noexcept {
        if (!value) return E_POINTER;
        *value = value_;
        return S_OK;
    }
    // E_INVALIDARG for any other code page: the page learns at once that
    // its texts would not come out as it expects.
    HRESULT put(long value) noexcept;
    bool utf8() const noexcept { return value_ == CP_UTF8; }
    // A caller's text in this code page.
    std::string in(const wchar_t* text) const { return utf8() ? to_utf8(text) : to_ansi(text); }
    // Text in this code page as a new BSTR.
    BSTR out(std::string_view text) const { return utf8() ? make_bstr_utf8(text) : make_bstr(text); }

  private:
    long value_ = 0;
};

}  // namespace frame

#include "kestle/page_text.h"

#include <algorithm>
#include <cstring>

namespace kestle {
namespace {

constexpr std::string_view kTag[] = {
    "",
    "<IMG SRC='/images/smile1.gif'>",  // :)
    "<IMG SRC='/images/smile2.gif'>",  // :(
    "<IMG SRC='/images/smile3.gif'>",  // ;)
    "<IMG SRC='/images/smile4.gif'>",  // :D
    "<IMG SRC='/images/smile5.gif'>",  // :-/
    "<IMG SRC='/images/smile6.gif'>",  // :x
    "<IMG SRC='/images/smile7.gif'>",  // :))
    "<IMG SRC='/images/smile8.gif'>",  // :((
};

// The token at p (p[0] is ':' or ';'), as its tag number and length; a
// three-byte token always wins over the two-byte token it starts with.
struct Match {
    int tag = 0;
    size_t length = 0;
};

template <class Char>
inline Match match(const Char* p, const Char* end) {
    const size_t left = static_cast<size_t>(end - p);
    if (left < 2) return {};
    const Char c1 = p[1];
    const Char c2 = left >= 3 ? p[2] : Char{};
    const bool three = left >= 3;
    if (p[0] == ';') return c1 == ')' ? Match{3, 2} : Match{};
    switch (c1) {
        case ')': return three && c2 == ')' ? Match{7, 3} : Match{1, 2};
        case '(': return three && c2 == '(' ? Match{8, 3} : Match{2, 2};
        case '-': return three && c2 == '/' ? Match{5, 3} : Match{};
        case 'D': return Match{4, 2};
        case 'x': return Match{6, 2};
        default: return {};
    }
}

// Calls on_token(position, match) for every token, left to right; a byte
// that is part of a token is never looked at again.
template <class Char, class OnToken>
void for_each_token(std::basic_string_view<Char> text, OnToken&& on_token) {
    const Char* const end = text.data() + text.size();
    for (const Char* p = text.data(); p < end;) {
        if (*p != ':' && *p != ';') {
            ++p;
            continue;
        }
        const Match m = match(p, end);
        if (m.tag == 0) {
            ++p;
            continue;
        }
        on_token(p, m);
        p += m.length;
    }
}

}  // namespace

std::string smilies(std::string_view text) {
    std::string out;
    smilies(text, out);
    return out;
}

void smilies(std::string_view text, std::string& out) {
    // Two passes: the first sizes the result exactly, so a megabyte message
    // costs one allocation and no regrowth copies.
    size_t out_size = text.size();
    for_each_token(text, [&](const char*, const Match& m) { out_size += kTag[m.tag].size() - m.length; });
    out.resize(out_size);
    char* w = out.data();
    const char* copied = text.data();  // bytes before this are already in `out`
    for_each_token(text, [&](const char* p, const Match& m) {
        std::memcpy(w, copied, static_cast<size_t>(p - copied));
        w += p - copied;
        std::memcpy(w, kTag[m.tag].data(), kTag[m.tag].size());
        w += kTag[m.tag].size();
        copied = p + m.length;
    });
    std::memcpy(w, copied, static_cast<size_t>(text.data() + text.size() - copied));
}

WideTagging size_wide_smilies(std::wstring_view text) {
    // One pass: the end and the tokens together. A token never takes in a
    // NUL, so a token cannot reach past the end either.
    WideTagging t;
    size_t added = 0;
    const wchar_t* const begin = text.data();
    const wchar_t* end = begin + text.size();
    for (const wchar_t* p = begin; p < end;) {
        const wchar_t c = *p;
        if (c == L':' || c == L';') {
            if (const Match m = match(p, end); m.tag) {
                added += kTag[m.tag].size() - m.length;
                p += m.length;
                continue;
            }
        } else if (c == L'\0') {
            end = p;
        }
        ++p;
    }
    t.text_length = static_cast<size_t>(end - begin);
    t.result_length = t.text_length + added;
    return t;
}

void wide_smilies(std::wstring_view text, wchar_t* out) {
    const wchar_t* copied = text.data();  // characters before this are already in `out`
    for_each_token(text, [&](const wchar_t* p, const Match& m) {
        out = std::copy(copied, p, out);
        out = std::copy(kTag[m.tag].begin(), kTag[m.tag].end(), out);
        copied = p + m.length;
    });
    std::copy(copied, text.data() + text.size(), out);
}

std::string convert_file_size(int32_t size) {
    if (size < 1024) return std::to_string(size) + " Bytes";
    const int32_t k = size / 1024;
    if (k < 1024) return std::to_string(k) + " KB";
    const int32_t m = k / 1024;
    if (m < 1024) return std::to_string(m) + " MB";
    return std::to_string(m / 1024) + " GB";
}

}  // namespace kestle

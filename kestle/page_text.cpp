#include "kestle/page_text.h"

#include <cstring>

namespace kestle {
namespace {

struct Token {
    std::string_view text;
    std::string_view tag;
};

// Tried in this order: the three-byte tokens first, so ":))" is never read as
// ":)" followed by ")".
constexpr Token kThree[] = {
    {":))", "<IMG SRC='/images/smile7.gif'>"},
    {":((", "<IMG SRC='/images/smile8.gif'>"},
    {":-/", "<IMG SRC='/images/smile5.gif'>"},
};
constexpr Token kTwo[] = {
    {":)", "<IMG SRC='/images/smile1.gif'>"},
    {":(", "<IMG SRC='/images/smile2.gif'>"},
    {":D", "<IMG SRC='/images/smile4.gif'>"},
    {":x", "<IMG SRC='/images/smile6.gif'>"},
    {";)", "<IMG SRC='/images/smile3.gif'>"},
};

const Token* match(std::string_view rest) {
    if (rest.size() >= 3)
        for (const Token& t : kThree)
            if (rest.substr(0, 3) == t.text) return &t;
    if (rest.size() >= 2)
        for (const Token& t : kTwo)
            if (rest.substr(0, 2) == t.text) return &t;
    return nullptr;
}

}  // namespace

std::string smilies(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    size_t copied = 0;  // text before this position is already in `out`
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        // Skip quickly to the next byte that can start a token.
        const char* p = text.data() + i;
        const char* end = text.data() + n;
        while (p < end && *p != ':' && *p != ';') ++p;
        i = static_cast<size_t>(p - text.data());
        if (i >= n) break;
        if (const Token* t = match(text.substr(i))) {
            out.append(text.data() + copied, i - copied);
            out.append(t->tag);
            i += t->text.size();
            copied = i;
        } else {
            ++i;
        }
    }
    out.append(text.data() + copied, n - copied);
    return out;
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

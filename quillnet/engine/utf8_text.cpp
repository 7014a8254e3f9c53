#include "quillnet/engine/utf8_text.h"

#include "frame/ascii.h"
#include "frame/utf8.h"
#include "quillnet/engine/charset.h"
#include "quillnet/engine/mime_part.h"

namespace quillnet::engine {
namespace {

using frame::ascii::equals_nocase;
using frame::ascii::lower;

// UTF-16 of either byte order appended as UTF-8; a lone surrogate and an odd
// last byte become U+FFFD.
void utf16_to_utf8(std::string_view bytes, bool big_endian, std::string& out) {
    auto unit = [&](size_t i) {
        const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        return big_endian ? static_cast<unsigned>(a << 8 | b) : static_cast<unsigned>(b << 8 | a);
    };
    auto put = [&](unsigned c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    };
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        const unsigned u = unit(i);
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
            const unsigned low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                put(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        put(u >= 0xD800 && u < 0xE000 ? 0xFFFD : u);
    }
    if (i < bytes.size()) put(0xFFFD);
}

// The charset a <meta> tag in the first 1024 bytes names, or empty.
std::string meta_charset(std::string_view text) {
    text = text.substr(0, 1024);
    std::string low(text);
    for (char& c : low) c = lower(c);
    for (size_t at = low.find("<meta"); at != std::string::npos; at = low.find("<meta", at + 5)) {
        const size_t end = low.find('>', at);
        const std::string_view tag = std::string_view(low).substr(at, end == std::string::npos ? end : end - at);
        const size_t cs = tag.find("charset");
        if (cs == std::string_view::npos) continue;
        size_t i = cs + 7;
        while (i < tag.size() && frame::ascii::is_space(tag[i])) ++i;
        if (i >= tag.size() || tag[i] != '=') continue;
        ++i;
        while (i < tag.size() && (frame::ascii::is_space(tag[i]) || tag[i] == '"' || tag[i] == '\'')) ++i;
        size_t j = i;
        while (j < tag.size() && (frame::ascii::is_alpha(tag[j]) || frame::ascii::is_digit(tag[j]) || tag[j] == '-' ||
                                  tag[j] == '_' || tag[j] == '.' || tag[j] == ':'))
            ++j;
        if (j > i) return std::string(text.substr(at + i, j - i));
    }
    return {};
}

// Appends the bytes read in `charset`; false when we cannot read it.
bool read_in(std::string_view charset, std::string_view bytes, std::string& out) {
    if (equals_nocase(charset, "UTF-16") || equals_nocase(charset, "UTF-16LE")) {
        utf16_to_utf8(bytes, false, out);
        return true;
    }
    if (equals_nocase(charset, "UTF-16BE")) {
        utf16_to_utf8(bytes, true, out);
        return true;
    }
    if (code_page_of(charset) == 20127) return false;  // "ASCII" pages are rarely so
    return charset_to_utf8(charset, bytes, out);
}

}  // namespace

void undeclared_to_utf8(std::string_view bytes, std::string& out) {
    if (frame::valid_utf8(bytes))
        out.append(bytes);
    else
        ansi_to_utf8(bytes, out);
}

void declared_to_utf8(std::string_view charset, std::string_view bytes, std::string& out) {
    if (!frame::has_high_byte(bytes)) {
        out.append(bytes);
        return;
    }
    if (charset.empty() || code_page_of(charset) == 20127 || !charset_to_utf8(charset, bytes, out))
        undeclared_to_utf8(bytes, out);
}

std::string header_to_utf8(std::string_view value) {
    const bool has_word = value.find("=?") != std::string_view::npos;
    if (!has_word && !frame::has_high_byte(value)) return std::string(value);
    // One verdict for the raw bytes of the whole value: a sender writes a
    // header in one charset.
    const bool raw_utf8 = frame::valid_utf8(value);
    if (!has_word) {
        std::string out;
        if (raw_utf8)
            out.assign(value);
        else
            ansi_to_utf8(value, out);
        return out;
    }
    return decode_encoded_words(
        value,
        [](std::string_view charset, std::string_view bytes, std::string& out) {
            return charset_to_utf8(charset, bytes, out);
        },
        [raw_utf8](std::string_view text, std::string& out) {
            if (raw_utf8 || !frame::has_high_byte(text))
                out.append(text);
            else
                ansi_to_utf8(text, out);
        });
}

std::string document_to_utf8(std::string_view bytes, std::string_view contentType) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    const std::string declared = header_parameter(contentType, "charset");
    if (!declared.empty() && read_in(declared, bytes, out)) return out;
    out.clear();
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        charset_to_utf8("UTF-8", bytes.substr(3), out);
        return out;
    }
    if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") {
        utf16_to_utf8(bytes.substr(2), bytes[0] == '\xFE', out);
        return out;
    }
    const std::string meta = meta_charset(bytes);
    // A page that reached us as bytes names no UTF-16 in itself truthfully.
    if (!meta.empty() && !frame::ascii::starts_with_nocase(meta, "utf-16") && read_in(meta, bytes, out)) return out;
    out.clear();
    undeclared_to_utf8(bytes, out);
    return out;
}

}  // namespace quillnet::engine

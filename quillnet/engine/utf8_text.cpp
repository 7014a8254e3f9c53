#include "quillnet/engine/utf8_text.h"

#include "frame/utf8.h"
#include "quillnet/engine/charset.h"
#include "quillnet/engine/mime_part.h"

namespace quillnet::engine {

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

}  // namespace quillnet::engine

// Texts for pages in UTF-8: a header value, an article body under the
// Content-Type of the input's first line, and a fetched document under the
// same type. Whatever the bytes (overlong or cut UTF-8, encoded words with
// bad base64 or QP, unknown charsets, UTF-16 marks), the result is valid
// UTF-8 of bounded size, and text with no word and no 8-bit byte comes back
// as it was.
#include <string>

#include "check.h"
#include "frame/utf8.h"
#include "quillnet/engine/utf8_text.h"
#include "quillnet/news/article_text.h"

using namespace quillnet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input = fuzz::text_of(data, size);
    // A byte turns into at most one replacement mark or one character of
    // three bytes; UTF-16 is two bytes a character.
    const size_t most = 3 * size + 3;
    const std::string header = engine::header_to_utf8(input);
    FUZZ_CHECK(frame::valid_utf8(header) && header.size() <= most);
    if (input.find("=?") == std::string_view::npos && !frame::has_high_byte(input)) FUZZ_CHECK(header == input);

    const size_t nl = input.find('\n');
    const std::string_view type = input.substr(0, nl);
    const std::string_view body = nl == std::string_view::npos ? std::string_view() : input.substr(nl + 1);
    const std::string text = article_text_to_utf8(body, type);
    FUZZ_CHECK(frame::valid_utf8(text) && text.size() <= most);
    const std::string page = engine::document_to_utf8(body, type);
    FUZZ_CHECK(frame::valid_utf8(page) && page.size() <= most);
    return 0;
}

// Header parameters (RFC 2231 continuations and charsets, plain and quoted
// values) and RFC 2047 encoded words: whatever the header says, the value
// is made of its own bytes, decoded, so it is never longer than the header;
// text without an encoded word comes back as it was.
#include <string>

#include "check.h"
#include "quillnet/engine/mime_part.h"

using namespace quillnet::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view value = fuzz::text_of(data, size);
    for (const char* name : {"filename", "name", "boundary", "charset"})
        FUZZ_CHECK(header_parameter(value, name).size() <= size);
    const std::string words = decode_encoded_words(value);
    FUZZ_CHECK(words.size() <= size);
    if (value.find("=?") == std::string_view::npos) FUZZ_CHECK(words == value);
    return 0;
}

// Base64 decoder: the same bytes and verdict whether the input comes whole,
// in pieces or a byte at a time, and as decode_base64 gives; never more than
// three bytes per four characters of input.
#include <tuple>

#include "decoder_check.h"
#include "quillnet/engine/base64.h"

using namespace quillnet::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text_of(data, size);
    const auto [bytes, verdict] = fuzz::same_however_cut<Base64Decoder>(
        in, [](auto&, const ByteBuffer& out, Verdict v) { return std::tuple{std::string(out.view()), v}; });
    FUZZ_CHECK(bytes.size() <= in.size() / 4 * 3 + 3);
    ByteBuffer out;
    FUZZ_CHECK(decode_base64(in, out) == verdict && out.view() == bytes);
    return 0;
}

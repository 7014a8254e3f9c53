// Quoted-printable decoder: the same bytes and verdict whether the input
// comes whole, in pieces or a byte at a time, and as decode_quoted_printable
// gives; decoding never lengthens text.
#include <tuple>

#include "decoder_check.h"
#include "quillnet/engine/quoted_printable.h"

using namespace quillnet::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text_of(data, size);
    const auto [bytes, verdict] = fuzz::same_however_cut<QuotedPrintableDecoder>(
        in, [](auto&, const ByteBuffer& out, Verdict v) { return std::tuple{std::string(out.view()), v}; });
    FUZZ_CHECK(bytes.size() <= in.size());
    ByteBuffer out;
    FUZZ_CHECK(decode_quoted_printable(in, out) == verdict && out.view() == bytes);
    return 0;
}

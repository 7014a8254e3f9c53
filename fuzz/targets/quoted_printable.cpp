// Quoted-printable decoder: the same bytes and verdict whether the input
// comes whole, in pieces or a byte at a time; decoding never lengthens text.
#include "check.h"
#include "quillnet/engine/quoted_printable.h"

using namespace quillnet::engine;

namespace {

struct Result {
    ByteBuffer out;
    Verdict verdict;
};

template <class Split>
Result piecewise(std::string_view in, Split split) {
    Result r;
    QuotedPrintableDecoder decoder;
    split(in, [&](std::string_view piece) { decoder.feed(piece, r.out); });
    r.verdict = decoder.finish(r.out);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text_of(data, size);
    ByteBuffer whole;
    const Verdict verdict = decode_quoted_printable(in, whole);
    FUZZ_CHECK(whole.size() <= in.size());

    const Result pieces = piecewise(in, [](std::string_view s, auto f) { fuzz::in_pieces(s, f); });
    FUZZ_CHECK(pieces.verdict == verdict);
    FUZZ_CHECK(pieces.out.view() == whole.view());
    if (size <= fuzz::kBytewiseLimit) {
        const Result bytes = piecewise(in, [](std::string_view s, auto f) { fuzz::bytewise(s, f); });
        FUZZ_CHECK(bytes.verdict == verdict);
        FUZZ_CHECK(bytes.out.view() == whole.view());
    }
    return 0;
}

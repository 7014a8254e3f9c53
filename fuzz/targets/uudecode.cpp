// uuencode decoder: the same bytes, verdict, begin-line fields and consumed
// count whether the input comes whole, in pieces or a byte at a time; never
// more bytes than the data lines announce (at most 63 a line: stripped
// trailing blanks count as written); consumed never past the input.
#include <algorithm>
#include <string>

#include "check.h"
#include "quillnet/engine/uudecode.h"

using namespace quillnet::engine;

namespace {

struct Result {
    ByteBuffer out;
    Verdict verdict;
    std::string filename;
    int mode;
    size_t consumed;
    bool closed_by_text;
};

template <class Split>
Result piecewise(std::string_view in, Split split) {
    Result r;
    UuDecoder decoder;
    split(in, [&](std::string_view piece) { decoder.feed(piece, r.out); });
    r.verdict = decoder.finish(r.out);
    r.filename = decoder.filename();
    r.mode = decoder.mode();
    r.consumed = decoder.consumed();
    r.closed_by_text = decoder.data_closed_by_text();
    return r;
}

void same(const Result& a, const Result& b) {
    FUZZ_CHECK(a.verdict == b.verdict);
    FUZZ_CHECK(a.out.view() == b.out.view());
    FUZZ_CHECK(a.filename == b.filename);
    FUZZ_CHECK(a.mode == b.mode);
    FUZZ_CHECK(a.consumed == b.consumed);
    FUZZ_CHECK(a.closed_by_text == b.closed_by_text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text_of(data, size);
    const Result whole = piecewise(in, [](std::string_view s, auto f) { f(s); });
    const size_t lines = static_cast<size_t>(std::count(in.begin(), in.end(), '\n')) + 1;
    FUZZ_CHECK(whole.out.size() <= 63 * lines);
    FUZZ_CHECK(whole.consumed <= in.size());
    FUZZ_CHECK(whole.filename.size() <= in.size());

    ByteBuffer out;
    std::string filename;
    FUZZ_CHECK(decode_uuencode(in, out, &filename) == whole.verdict);
    FUZZ_CHECK(out.view() == whole.out.view() && filename == whole.filename);

    same(whole, piecewise(in, [](std::string_view s, auto f) { fuzz::in_pieces(s, f); }));
    if (size <= fuzz::kBytewiseLimit) same(whole, piecewise(in, [](std::string_view s, auto f) { fuzz::bytewise(s, f); }));
    return 0;
}

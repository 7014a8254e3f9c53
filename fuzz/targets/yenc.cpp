// yEnc decoder: the same bytes, verdict, header fields, checksum and
// consumed count whether the input comes whole, in pieces or a byte at a
// time; the running checksum is that of the bytes written; decoding never
// lengthens the data; "finished" means the announced size was met.
#include <string>

#include "check.h"
#include "quillnet/engine/crc32.h"
#include "quillnet/engine/yenc.h"

using namespace quillnet::engine;

namespace {

struct Result {
    ByteBuffer out;
    Verdict verdict;
    std::string filename;
    bool multipart;
    int64_t file_size, part_begin, part_end;
    uint32_t crc;
    size_t consumed;
};

template <class Split>
Result piecewise(std::string_view in, Split split) {
    Result r;
    YencDecoder decoder;
    split(in, [&](std::string_view piece) { decoder.feed(piece, r.out); });
    r.verdict = decoder.finish(r.out);
    r.filename = decoder.filename();
    r.multipart = decoder.multipart();
    r.file_size = decoder.file_size();
    r.part_begin = decoder.part_begin();
    r.part_end = decoder.part_end();
    r.crc = decoder.crc();
    r.consumed = decoder.consumed();
    return r;
}

void same(const Result& a, const Result& b) {
    FUZZ_CHECK(a.verdict == b.verdict);
    FUZZ_CHECK(a.out.view() == b.out.view());
    FUZZ_CHECK(a.filename == b.filename);
    FUZZ_CHECK(a.multipart == b.multipart);
    FUZZ_CHECK(a.file_size == b.file_size && a.part_begin == b.part_begin && a.part_end == b.part_end);
    FUZZ_CHECK(a.crc == b.crc);
    FUZZ_CHECK(a.consumed == b.consumed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text_of(data, size);
    const Result whole = piecewise(in, [](std::string_view s, auto f) { f(s); });
    FUZZ_CHECK(whole.out.size() <= in.size());
    FUZZ_CHECK(whole.consumed <= in.size());
    FUZZ_CHECK(whole.crc == crc32(whole.out.data(), whole.out.size()));
    if (whole.verdict == Verdict::finished && !whole.multipart)
        FUZZ_CHECK(static_cast<int64_t>(whole.out.size()) == whole.file_size);

    ByteBuffer out;
    std::string filename;
    FUZZ_CHECK(decode_yenc(in, out, &filename) == whole.verdict);
    FUZZ_CHECK(out.view() == whole.out.view() && filename == whole.filename);

    same(whole, piecewise(in, [](std::string_view s, auto f) { fuzz::in_pieces(s, f); }));
    if (size <= fuzz::kBytewiseLimit) same(whole, piecewise(in, [](std::string_view s, auto f) { fuzz::bytewise(s, f); }));
    return 0;
}

// yEnc decoder: the same bytes, verdict, header fields, checksum and
// consumed count whether the input comes whole, in pieces or a byte at a
// time; the running checksum is that of the bytes written; decoding never
// lengthens the data; "finished" on a single part means its announced size
// was met.
#include <tuple>

#include "decoder_check.h"
#include "quillnet/engine/crc32.h"
#include "quillnet/engine/yenc.h"

using namespace quillnet::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text_of(data, size);
    const auto [bytes, verdict, filename, multipart, file_size, part_begin, part_end, crc, consumed] =
        fuzz::same_however_cut<YencDecoder>(in, [](const YencDecoder& d, const ByteBuffer& out, Verdict v) {
            return std::tuple{std::string(out.view()), v, d.filename(), d.multipart(), d.file_size(),
                              d.part_begin(), d.part_end(), d.crc(), d.consumed()};
        });
    FUZZ_CHECK(bytes.size() <= in.size() && consumed <= in.size());
    FUZZ_CHECK(crc == crc32(bytes.data(), bytes.size()));
    if (verdict == Verdict::finished && !multipart) FUZZ_CHECK(static_cast<int64_t>(bytes.size()) == file_size);
    ByteBuffer out;
    std::string name;
    FUZZ_CHECK(decode_yenc(in, out, &name) == verdict && out.view() == bytes && name == filename);
    return 0;
}

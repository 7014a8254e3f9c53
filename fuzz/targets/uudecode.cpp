// uuencode decoder: the same bytes, verdict, begin-line fields and consumed
// count whether the input comes whole, in pieces or a byte at a time; never
// more bytes than the data lines announce (at most 63 a line: stripped
// trailing blanks count as written); consumed never past the input.
#include <algorithm>
#include <tuple>

#include "decoder_check.h"
#include "quillnet/engine/uudecode.h"

using namespace quillnet::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text_of(data, size);
    const auto [bytes, verdict, filename, mode, consumed, closed_by_text] =
        fuzz::same_however_cut<UuDecoder>(in, [](const UuDecoder& d, const ByteBuffer& out, Verdict v) {
            return std::tuple{std::string(out.view()), v, d.filename(), d.mode(), d.consumed(), d.data_closed_by_text()};
        });
    const size_t lines = static_cast<size_t>(std::count(in.begin(), in.end(), '\n')) + 1;
    FUZZ_CHECK(bytes.size() <= 63 * lines);
    FUZZ_CHECK(consumed <= in.size() && filename.size() <= in.size());
    ByteBuffer out;
    std::string name;
    FUZZ_CHECK(decode_uuencode(in, out, &name) == verdict && out.view() == bytes && name == filename);
    return 0;
}

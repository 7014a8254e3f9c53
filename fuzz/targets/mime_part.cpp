// MIME part reader: every part's body lies inside the text read; a part
// decodes to the same bytes and verdict whole or in pieces; names and
// header values come out of the text, so never longer than it.
#include <string>

#include "check.h"
#include "quillnet/engine/mime_part.h"

using namespace quillnet::engine;

namespace {

constexpr size_t kPartsChecked = 16;  // enough to reach every kind of part, cheap enough to stay fast

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = fuzz::text_of(data, size);
    MimeMessage message;
    const Verdict verdict = message.parse(text);
    FUZZ_CHECK((verdict == Verdict::bad_data) == (message.part_count() == 0));

    for (size_t i = 0; i < message.part_count() && i < kPartsChecked; ++i) {
        const std::string_view body = message.body(i);
        FUZZ_CHECK(body.empty() || (body.data() >= text.data() && body.data() + body.size() <= text.data() + text.size()));
        FUZZ_CHECK(message.part_filename(i).size() <= size);
        FUZZ_CHECK(message.part_name(i).size() <= size);
        FUZZ_CHECK(message.header(i, "Content-Type").size() <= size);

        ByteBuffer whole;
        const Verdict v = message.decode_part(i, whole);
        ByteBuffer pieces;
        ContentDecoder decoder = message.part_decoder(i);
        fuzz::in_pieces(body, [&](std::string_view piece) { decoder.feed(piece, pieces); });
        Verdict pv = decoder.finish(pieces);
        if (pv == Verdict::finished && !message.part_closed(i)) pv = Verdict::incomplete;
        FUZZ_CHECK(pv == v);
        FUZZ_CHECK(pieces.view() == whole.view());
    }
    // Past the last part: a clear answer, not a read past the table.
    ByteBuffer none;
    FUZZ_CHECK(message.decode_part(message.part_count(), none) == Verdict::bad_data);
    FUZZ_CHECK(message.part_filename(message.part_count()).empty());
    return 0;
}

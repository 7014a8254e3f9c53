// The one check every streaming decoder gets: the same result however its
// input is cut (whole, in pieces, byte by byte when small).
#pragma once

#include <string>
#include <string_view>

#include "check.h"
#include "quillnet/engine/decoding.h"

namespace fuzz {

enum class Cut { whole, pieces, bytes };

// What `record(decoder, out, verdict)` makes of a fresh Decoder given `in`
// cut as `how` says and then finished.
template <class Decoder, class Record>
auto decoded(std::string_view in, Cut how, Record record) {
    Decoder decoder;
    quillnet::engine::ByteBuffer out;
    auto feed = [&](std::string_view piece) { decoder.feed(piece, out); };
    if (how == Cut::whole) feed(in);
    else if (how == Cut::pieces) in_pieces(in, feed);
    else bytewise(in, feed);
    const quillnet::engine::Verdict verdict = decoder.finish(out);
    return record(decoder, out, verdict);
}

// The record of the whole input, checked to be that of every other cut.
template <class Decoder, class Record>
auto same_however_cut(std::string_view in, Record record) {
    const auto whole = decoded<Decoder>(in, Cut::whole, record);
    FUZZ_CHECK(decoded<Decoder>(in, Cut::pieces, record) == whole);
    if (in.size() <= kBytewiseLimit) FUZZ_CHECK(decoded<Decoder>(in, Cut::bytes, record) == whole);
    return whole;
}

}  // namespace fuzz

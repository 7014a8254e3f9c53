// Quoted-printable content-transfer-encoding (RFC 2045 section 6.7).
//
// Decoding: "=XX" gives the byte XX (small hex letters are taken too); "=" at
// the end of a line, blanks after it allowed, is a soft line break and
// vanishes; blanks at the end of a line were possibly added in transit and are
// dropped. Line ends stay as they came ("\n" or "\r\n"). An "=" not followed
// by two hex digits or a line end is kept as it stands, as RFC 2045 recommends
// for a robust decoder.
#pragma once

#include <string>
#include <string_view>

#include "quillnet/engine/decoding.h"

namespace quillnet::engine {

class QuotedPrintableDecoder {
  public:
    void feed(std::string_view in, ByteBuffer& out);
    // finished, or incomplete when the input stopped inside an "=XX" escape
    // (the characters seen are kept as they stand).
    Verdict finish(ByteBuffer& out);

  private:
    enum class State { text, eq, eq_hex, eq_blank };
    State state_ = State::text;
    char hex_ = 0;         // first digit of an escape
    std::string blanks_;   // blanks not yet known to be trailing
};

Verdict decode_quoted_printable(std::string_view in, ByteBuffer& out);

// A text body as quoted-printable: every line end (CR LF, lone LF, lone CR)
// goes out as CR LF, soft breaks keep lines at 76 characters or fewer, and
// "=", bytes outside 33-126 and a blank or tab that ends a line are escaped
// with upper-case hex digits.
std::string encode_quoted_printable(std::string_view text);

}  // namespace quillnet::engine

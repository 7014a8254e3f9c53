// Base64 content-transfer-encoding (RFC 2045 section 6.8): the decoder, and
// the encoder for what we write ourselves.
//
// As RFC 2045 asks of a decoder, characters outside the base64 alphabet (line
// breaks, blanks, stray punctuation added in transit) are ignored. The first
// "=" pad ends the data; whatever follows it is ignored. A stray "=" where no
// quantum has begun is ignored as well.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "quillnet/engine/decoding.h"

namespace quillnet::engine {

class Base64Decoder {
  public:
    // Decodes the next piece of input, appending the bytes to `out`.
    void feed(std::string_view in, ByteBuffer& out);
    // Ends the input. Verdicts: finished when the data ended on a whole
    // quantum or with its pad; incomplete when one to three characters of a
    // last quantum are left over without a pad (the whole bytes among them are
    // written); bad_data when a pad came after a single character of a
    // quantum, which no encoder writes.
    Verdict finish(ByteBuffer& out);

  private:
    uint32_t acc_ = 0;  // sextets of the quantum begun, low bits last
    int pending_ = 0;   // how many sextets acc_ holds
    bool padded_ = false;
    bool bad_ = false;
};

// The whole input at once.
Verdict decode_base64(std::string_view in, ByteBuffer& out);

// `in` as one line of base64 with its "=" pads (RFC 4648 section 4): what
// SMTP AUTH and RFC 2047 "B" words carry, neither of which may be broken
// into lines.
std::string encode_base64(std::string_view in);

}  // namespace quillnet::engine

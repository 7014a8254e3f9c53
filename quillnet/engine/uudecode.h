// uuencode decoder, after the conventions of the Unix uuencode(1C)/uudecode
// programs that RFC 1341 refers to for mail: a "begin <mode> <name>" line,
// data lines of one length character and groups of four characters for three
// bytes, each character standing for (c - 32) & 63 so that "`" and the blank
// both mean 0, a line of length 0, and an "end" line.
//
// Lines whose trailing blanks were stripped in transit are decoded as if the
// blanks were still there. The input must start with the begin line; "begin"
// may be in any case. The end line is a line that begins with "end" in any
// case, unless the line is a full data line that happens to start "END".
// A data line with characters outside " " to "`", or longer than its length
// character allows (one checksum character or two tolerated), makes the input
// bad data: decoding stops there, so that plain text never turns into
// attachment bytes. So does a second begin line, which means the block before
// it was cut short.
#pragma once

#include <string>
#include <string_view>

#include "quillnet/engine/decoding.h"

namespace quillnet::engine {

class UuDecoder {
  public:
    void feed(std::string_view in, ByteBuffer& out);
    // finished after the end line; incomplete when the input ended before it
    // (what was decoded stays in `out`); bad_data without a begin line or on a
    // malformed data line.
    Verdict finish(ByteBuffer& out);

    // From the begin line: the file name as written there (may be empty) and
    // the octal mode (-1 before the begin line).
    const std::string& filename() const noexcept { return filename_; }
    int mode() const noexcept { return mode_; }
    // Input bytes taken up to and including the end line and its line end;
    // all input taken while no end line was seen.
    size_t consumed() const noexcept { return consumed_; }

    // bad_data came from a line of text after the zero-length line that
    // closes the data, where the end line belongs: everything decoded so far
    // was whole. A block whose end line was lost in transit ends that way.
    bool data_closed_by_text() const noexcept { return data_closed_; }

  private:
    enum class State { begin_line, data, after_data, done, bad };
    void line(std::string_view text, ByteBuffer& out);

    State state_ = State::begin_line;
    std::string partial_;  // a line split across pieces of input
    bool overlong_ = false;  // partial_ outgrew any line we could use
    std::string filename_;
    int mode_ = -1;
    size_t consumed_ = 0;
    bool data_closed_ = false;
};

Verdict decode_uuencode(std::string_view in, ByteBuffer& out, std::string* filename = nullptr);

}  // namespace quillnet::engine

// yEnc decoder (yEnc 1.3, with the multi-part keys of 1.2/1.3): a
// "=ybegin" line with line=, size=, part=, total= and name= (the name runs to
// the end of the line), an optional "=ypart begin= end=" line, data in which
// every byte is stored plus 42 modulo 256 and "=" escapes the next character
// (stored plus 64 more), and an "=yend size= part= pcrc32= crc32=" line.
//
// Line ends inside the data are not data. A line that begins with "=y" is a
// keyword line, never an escape. The verdict checks the sizes and the CRC-32
// the trailer carries: crc32 of a whole file (pcrc32 when a single-part
// trailer gives only that), pcrc32 of a part.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "quillnet/engine/decoding.h"

namespace quillnet::engine {

class YencDecoder {
  public:
    void feed(std::string_view in, ByteBuffer& out);
    // finished when the "=yend" line came and every size and checksum it
    // names agrees; bad_size or crc_error when one does not; incomplete when
    // the input ended before "=yend"; bad_data when it does not start with
    // "=ybegin ", lacks a readable size, or holds a second "=ybegin" or a
    // keyword line out of place.
    Verdict finish(ByteBuffer& out);

    const std::string& filename() const noexcept { return name_; }
    // Part of a multi-part post: an "=ypart" line, or part= on "=ybegin".
    bool multipart() const noexcept { return part_line_ || part_ >= 0; }
    int64_t file_size() const noexcept { return size_; }
    int64_t part_begin() const noexcept { return part_begin_; }
    int64_t part_end() const noexcept { return part_end_; }
    // CRC-32 of the bytes decoded so far.
    uint32_t crc() const noexcept { return crc_; }
    // Input bytes taken up to and including the "=yend" line and its line
    // end; all input taken while no "=yend" was seen.
    size_t consumed() const noexcept { return consumed_; }

  private:
    enum class State { header, data, line_start_eq, keyword, done, bad };
    void header_line(std::string_view line);
    void keyword_line(std::string_view line);

    State state_ = State::header;
    bool line_start_ = true;
    bool escape_ = false;
    std::string line_;  // header or keyword line being gathered
    std::string name_;
    int64_t size_ = -1;
    int part_ = -1;
    bool part_line_ = false;
    int64_t part_begin_ = -1;
    int64_t part_end_ = -1;
    uint64_t decoded_ = 0;
    uint32_t crc_ = 0;
    Verdict verdict_ = Verdict::incomplete;
    size_t consumed_ = 0;
};

Verdict decode_yenc(std::string_view in, ByteBuffer& out, std::string* filename = nullptr);

}  // namespace quillnet::engine

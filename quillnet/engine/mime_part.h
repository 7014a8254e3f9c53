// MIME part decoder: the parts of a MIME entity or of a stretch of a
// multipart body, their headers, their decoded content and their file names.
//
// Implements RFC 2045 (header fields, Content-Transfer-Encoding: base64,
// quoted-printable, 7bit, 8bit, binary; x-uuencode as the common extension),
// RFC 2046 section 5.1 (delimiter lines; the line end before a delimiter
// belongs to the delimiter), RFC 2047 (encoded words in file names, as mail
// programs write them inside quoted parameters) and RFC 2231 (parameter
// values with charset and language, and continuations). Names come back in
// the ANSI code page.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "quillnet/engine/base64.h"
#include "quillnet/engine/decoding.h"
#include "quillnet/engine/quoted_printable.h"
#include "quillnet/engine/uudecode.h"

namespace quillnet::engine {

// The decoder a Content-Transfer-Encoding names, streaming like the others:
// base64, quoted-printable, 7bit/8bit/binary (bytes as they are) and
// x-uuencode (leading blank lines before its begin line are skipped). An
// encoding we do not know gives bad_data.
class ContentDecoder {
  public:
    explicit ContentDecoder(std::string_view transfer_encoding);
    void feed(std::string_view in, ByteBuffer& out);
    Verdict finish(ByteBuffer& out);

  private:
    enum class Kind { identity, base64, quoted_printable, uuencode, unknown };
    Kind kind_;
    bool leading_ = true;
    Base64Decoder base64_;
    QuotedPrintableDecoder quoted_printable_;
    UuDecoder uuencode_;
};

class MimeMessage {
  public:
    // Reads `text`, which must outlive the object. Text that begins with "--"
    // is a stretch of a multipart body: its first line is the delimiter, and
    // every following line that begins with the delimiter ends a part (one
    // followed by "--" ends the body). Other text is a single entity: header
    // lines, an empty line, the body.
    // finished when every part was closed by a delimiter line (or the text is
    // a single entity); incomplete when the last part runs to the end of the
    // text without one; bad_data when there is no part at all.
    Verdict parse(std::string_view text);

    size_t part_count() const noexcept { return parts_.size(); }
    // Decodes the body of a part by its Content-Transfer-Encoding. bad_data
    // for an encoding we do not know, else the verdict of its decoder (and
    // incomplete when the part itself was not closed by a delimiter line).
    Verdict decode_part(size_t index, ByteBuffer& out) const;
    // The filename parameter of Content-Disposition; empty when none.
    std::string part_filename(size_t index) const;
    // The name parameter of Content-Type; empty when none.
    std::string part_name(size_t index) const;

    // For decoding a part piece by piece: the decoder of its encoding, its
    // body, and whether a delimiter line closed it (decode_part gives
    // incomplete for a part that was not closed).
    ContentDecoder part_decoder(size_t index) const;
    bool part_closed(size_t index) const noexcept { return index < parts_.size() && parts_[index].closed; }

    // A header field of a part, unfolded; empty when the part lacks it.
    std::string header(size_t index, std::string_view field) const;
    std::string_view body(size_t index) const;

  private:
    struct Field {
        std::string_view name;
        std::string value;
    };
    struct Part {
        std::vector<Field> fields;
        std::string_view body;
        bool closed = true;
    };
    static Part read_part(std::string_view text, bool closed);

    std::vector<Part> parts_;
};

// A parameter of a structured header value such as
// `attachment; filename="a.gif"`, by name (any case), in the ANSI code page:
// the RFC 2231 extended or continued form when there is one, else the plain
// form with any RFC 2047 encoded words decoded. Empty when absent.
std::string header_parameter(std::string_view value, std::string_view name);

// Text with RFC 2047 encoded words decoded to the ANSI code page; blanks
// between two adjacent encoded words vanish. Malformed words stay as written.
std::string decode_encoded_words(std::string_view text);

// The same with the caller's readers: `word` appends the decoded bytes of
// adjacent encoded words of one charset, or returns false to have them kept
// as written; `plain` appends the text outside words (and words kept).
using WordReader = std::function<bool(std::string_view charset, std::string_view bytes, std::string& out)>;
using PlainReader = std::function<void(std::string_view text, std::string& out)>;
std::string decode_encoded_words(std::string_view text, const WordReader& word, const PlainReader& plain);

// `text` (in `charset`, whose code page is `code_page`) as RFC 2047 "B"
// encoded words of at most 75 characters, joined by CRLF and a blank so that
// no header line grows past 76 characters; `first_used` is what the header's
// name already takes of the first line. Multi-byte characters of the code
// page are never split between two words.
std::string encode_words(std::string_view text, std::string_view charset, unsigned code_page, size_t first_used);

// UTF-8 text as RFC 2047 encoded words in UTF-8, "Q" or "B", whichever is
// shorter for the whole text, each word at most 75 characters, folded as
// above; a character is never split between two words.
std::string encode_words_utf8(std::string_view text, size_t first_used);

}  // namespace quillnet::engine

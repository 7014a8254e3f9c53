// The article POST sends, made from the page's texts:
//   RFC 5536  Netnews article format: From, Newsgroups, Subject, Date,
//             Message-ID, References; lines of at most 998 bytes, header
//             lines folded at 78 where they can be
//   RFC 5537  References trimmed from the middle, keeping the first and the
//             last three message-ids, to stay under 998 bytes
//   RFC 2045  MIME-Version, Content-Type with the charset, 7bit or 8bit
//   RFC 2047  encoded words for a subject or display name beyond ASCII
// What cannot go out as the page gave it is refused with its own number
// before anything is sent; nothing is cut, replaced or guessed. Plain C++.
// Dot-stuffing belongs to the line layer (LineEngine::send_block).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillnet::engine {

struct NewPost {
    std::string_view from;
    std::string_view newsgroups;  // "a.b,c.d"; blanks around the commas are dropped
    std::string_view subject;
    std::string_view body;        // any of CR LF, LF or CR ends a line
    std::string_view references;  // message-ids separated by blanks; may be empty
};

// What the article takes from the moment and the machine.
struct PostStamp {
    std::string date;        // RFC 5322 date-time
    std::string messageId;   // with its angle brackets
    std::string charset;     // MIME name of the code page the texts are in
    unsigned codePage = 0;   // that code page; 0 is the ANSI code page, 65001 UTF-8
};

// 0 with the article in `out` (header, empty line, body, CRLF line ends),
// or a NewsError (kNewsHeaderLineBreak to kNewsBodyZeroByte) with the
// reason in `why`; `out` is then left as it was.
int build_post(const NewPost& post, const PostStamp& stamp, std::string& out, std::string& why);

// The message-ids of a References text, in order; false when a word of it
// is not one ("<" and ">" around printable ASCII holding an "@").
bool split_references(std::string_view text, std::vector<std::string_view>& ids);

// The References field value ("<a> <b> ..."): all ids when "References: "
// and they fit in `limit` bytes, else the first and as many of the last ids
// as fit, at least the last three, dropping from the middle.
std::string trim_references(const std::vector<std::string_view>& ids, size_t limit = 998);

// The mailbox of a From text: what stands between "<" and ">", or the whole
// text without blanks around it.
std::string_view from_mailbox(std::string_view from);

}  // namespace quillnet::engine

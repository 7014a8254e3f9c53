// The line layer shared by the news and mail clients (RFC 3977 section 3.1,
// RFC 5321 sections 2.3.8, 4.2 and 4.5.2): CRLF lines, replies with
// continuation lines, dot-terminated blocks with dot-stuffing undone on the
// way in and applied on the way out, a cap on line length, and bytes that
// arrive split across reads kept until their line is complete.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quillnet/engine/tls.h"
#include "quillnet/engine/transport.h"

namespace quillnet::engine {

struct Reply {
    int code = 0;                    // the three-digit status
    std::string text;                // text of the last line, after "ddd "; or the start of a bad line
    std::vector<std::string> lines;  // text of every line, continuation lines included
};

// One line of a status reply: "ddd text" or "ddd" ends it, "ddd-text" is a
// continuation line (RFC 5321 4.2); anything else is not a status line.
// `text` is what follows the fourth character.
enum class StatusLine { bad, last, continued };
StatusLine parse_status_line(std::string_view line, int& code, std::string_view& text) noexcept;

// Text as CR LF lines, as a block goes on the wire: bare CR and LF become CR
// LF and a last line without an end gets one. With `dot_stuff` a line
// starting with "." gets a second one (a dot-terminated block); without it
// (a sized chunk, RFC 3030) the lines go as they are.
void append_wire_lines(std::string& out, std::string_view text, bool dot_stuff);

class LineEngine {
  public:
    LineEngine() = default;
    explicit LineEngine(std::unique_ptr<Transport> transport) { attach(std::move(transport)); }

    void attach(std::unique_ptr<Transport> transport);
    // Drops the connection and any unread bytes.
    void close() noexcept;
    // Gives the connection up to be used again elsewhere, only when nothing
    // the peer sent is still unread (bytes in hand belong to this
    // conversation, not the next); otherwise nothing, and the connection
    // stays.
    std::unique_ptr<Transport> release_idle() noexcept;
    bool connected() const noexcept { return transport_ != nullptr; }
    // Bytes that arrived and no read has consumed yet: after the last reply
    // a pipelined batch awaits, a peer out of step has said more.
    std::string_view unread() const noexcept { return {buffer_.get() + start_, end_ - start_}; }

    // One line without its line end (CR LF, or a bare LF from a sloppy peer).
    IoResult read_line(std::string& line);
    // A status reply: "ddd text", or "ddd-text" lines followed by "ddd text".
    // A line that does not start with three digits gives IoStatus::bad_reply.
    IoResult read_reply(Reply& reply);
    // A status reply of one line, for protocols without continuation lines
    // (NNTP, RFC 3977 3.2): a "ddd-text" line gives IoStatus::bad_reply too.
    IoResult read_status(Reply& reply);
    // Lines up to the one holding only ".", each with a leading doubled dot
    // undone, handed to `on_line` without their line ends.
    IoResult read_block(const std::function<void(std::string_view)>& on_line);

    IoResult send_line(std::string_view line);
    IoResult send_raw(std::string_view bytes);
    // Sends text as a dot-terminated block: bare CR and LF become CR LF, a
    // line starting with "." gets a second one, and ".\r\n" ends it.
    IoResult send_block(std::string_view text);

    // From here on the stream runs through TLS (tls.h): right after the
    // connect for implicit TLS, or once the server agreed to STARTTLS. Bytes
    // that arrived behind that agreement were sent in clear but would be
    // read as if they came through TLS (the injection RFC 3207 section 6
    // warns of), so a stream holding any is refused as a broken handshake.
    // On failure the connection is closed.
    TlsResult start_tls(const std::string& host);

  private:
    IoResult fill();
    IoResult broken(IoResult r);

    std::unique_ptr<Transport> transport_;
    std::unique_ptr<char[]> buffer_;  // received bytes: [start_, end_) not yet consumed
    size_t capacity_ = 0;
    size_t end_ = 0;
    size_t start_ = 0;
    size_t scanned_ = 0;  // bytes after start_ already searched for LF
};

}  // namespace quillnet::engine

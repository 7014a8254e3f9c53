#include "quillnet/engine/line_engine.h"

#include <winsock2.h>

#include <algorithm>
#include <cstring>

#include "frame/ascii.h"

namespace quillnet::engine {
namespace {
using frame::ascii::is_digit;
constexpr size_t kReadChunk = 64 * 1024;
// What is kept of a line that is no status line, for the error report.
constexpr size_t kBadLineShown = 200;
}  // namespace

void LineEngine::attach(std::unique_ptr<Transport> transport) {
    close();
    transport_ = std::move(transport);
}

void LineEngine::close() noexcept {
    transport_.reset();
    start_ = end_ = scanned_ = 0;
}

std::unique_ptr<Transport> LineEngine::release_idle() noexcept {
    if (start_ != end_) return nullptr;
    start_ = end_ = scanned_ = 0;
    return std::move(transport_);
}

// After a failed read or write the stream's position is unknown: nothing
// more can be said or understood on it, so it is dropped.
IoResult LineEngine::broken(IoResult r) {
    close();
    return r;
}

// Reads into the buffer's free tail. The buffer is never zero-filled: a read
// that brings a network segment costs that segment, not a clearing of the
// whole read chunk. It grows only when its free tail is under half a chunk,
// so a conversation of short replies lives in one chunk-sized buffer.
IoResult LineEngine::fill() {
    if (!transport_) return IoResult{IoStatus::closed, WSAENOTCONN};
    if (start_ == end_) start_ = end_ = 0;
    if (capacity_ - end_ < kReadChunk / 2) {
        // Moving the unread rest down is worth it when it is shorter than
        // what that frees.
        if (start_ >= kReadChunk / 2 && start_ * 2 > end_) {
            std::memmove(buffer_.get(), buffer_.get() + start_, end_ - start_);
            end_ -= start_;
            start_ = 0;
        }
        if (capacity_ - end_ < kReadChunk / 2) {
            const size_t capacity = std::max(capacity_ * 2, end_ + kReadChunk);
            std::unique_ptr<char[]> grown(new char[capacity]);
            if (end_ > start_) std::memcpy(grown.get() + start_, buffer_.get() + start_, end_ - start_);
            buffer_ = std::move(grown);
            capacity_ = capacity;
        }
    }
    size_t got = 0;
    const IoResult r = transport_->receive(buffer_.get() + end_, std::min(kReadChunk, capacity_ - end_), got);
    end_ += got;
    return r.ok() ? r : broken(r);
}

IoResult LineEngine::read_line(std::string& line) {
    for (;;) {
        const char* base = buffer_.get() + start_;
        const size_t avail = end_ - start_;
        if (scanned_ < avail) {
            const void* lf = std::memchr(base + scanned_, '\n', avail - scanned_);
            if (lf) {
                size_t len = static_cast<size_t>(static_cast<const char*>(lf) - base);
                const size_t consumed = len + 1;
                if (len > 0 && base[len - 1] == '\r') --len;
                if (len > kMaxLineLength) return broken(IoResult{IoStatus::too_long, WSAEMSGSIZE});
                line.assign(base, len);
                start_ += consumed;
                scanned_ = 0;
                return IoResult::success();
            }
            scanned_ = avail;
        }
        if (avail > kMaxLineLength + 2) return broken(IoResult{IoStatus::too_long, WSAEMSGSIZE});
        const IoResult r = fill();
        if (!r.ok()) return r;
    }
}

StatusLine parse_status_line(std::string_view line, int& code, std::string_view& text) noexcept {
    if (line.size() < 3 || !is_digit(line[0]) || !is_digit(line[1]) || !is_digit(line[2])) return StatusLine::bad;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-') return StatusLine::bad;
    code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    text = line.size() > 4 ? line.substr(4) : std::string_view();
    return line.size() > 3 && line[3] == '-' ? StatusLine::continued : StatusLine::last;
}

IoResult LineEngine::read_reply(Reply& reply) {
    reply = Reply{};
    std::string line;
    for (;;) {
        const IoResult r = read_line(line);
        if (!r.ok()) return r;
        int code = 0;
        std::string_view text;
        const StatusLine kind = parse_status_line(line, code, text);
        if (kind == StatusLine::bad) {
            reply.text = line.substr(0, kBadLineShown);
            return IoResult{IoStatus::bad_reply, 0};
        }
        reply.lines.emplace_back(text);
        if (kind == StatusLine::continued) continue;
        reply.code = code;
        reply.text.assign(text);
        return IoResult::success();
    }
}

IoResult LineEngine::read_status(Reply& reply) {
    reply = Reply{};
    std::string line;
    const IoResult r = read_line(line);
    if (!r.ok()) return r;
    int code = 0;
    std::string_view text;
    if (parse_status_line(line, code, text) != StatusLine::last) {
        reply.text = line.substr(0, kBadLineShown);
        return IoResult{IoStatus::bad_reply, 0};
    }
    reply.code = code;
    reply.text.assign(text);
    reply.lines.emplace_back(text);
    return IoResult::success();
}

IoResult LineEngine::read_block(const std::function<void(std::string_view)>& on_line) {
    std::string line;
    for (;;) {
        const IoResult r = read_line(line);
        if (!r.ok()) return r;
        if (!line.empty() && line[0] == '.') {
            if (line.size() == 1) return IoResult::success();
            on_line(std::string_view(line).substr(1));
        } else {
            on_line(line);
        }
    }
}

IoResult LineEngine::send_raw(std::string_view bytes) {
    if (!transport_) return IoResult{IoStatus::closed, WSAENOTCONN};
    const IoResult r = transport_->send(bytes.data(), bytes.size());
    return r.ok() ? r : broken(r);
}

IoResult LineEngine::send_line(std::string_view line) {
    std::string out;
    out.reserve(line.size() + 2);
    out.append(line);
    out.append("\r\n");
    return send_raw(out);
}

void append_wire_lines(std::string& out, std::string_view text, bool dot_stuff) {
    out.reserve(out.size() + text.size() + text.size() / 32 + 8);
    bool line_start = true;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out.append("\r\n");
            line_start = true;
            continue;
        }
        if (dot_stuff && line_start && c == '.') out.push_back('.');
        out.push_back(c);
        line_start = false;
    }
    if (!line_start) out.append("\r\n");
}

IoResult LineEngine::send_block(std::string_view text) {
    std::string out;
    append_wire_lines(out, text, true);
    out.append(".\r\n");
    return send_raw(out);
}

TlsResult LineEngine::start_tls(const std::string& host) {
    TlsResult r;
    if (!transport_) {
        r.io = IoResult{IoStatus::closed, WSAENOTCONN};
        return r;
    }
    if (start_ != end_) {
        close();
        r.io = IoResult{IoStatus::failed, WSAECONNABORTED};
        r.failure = TlsFailure::handshake;
        return r;
    }
    std::unique_ptr<Transport> plain = std::move(transport_);
    close();
    std::unique_ptr<Transport> secure;
    r = engine::start_tls(std::move(plain), host, secure);
    if (r.ok()) transport_ = std::move(secure);
    return r;
}

}  // namespace quillnet::engine

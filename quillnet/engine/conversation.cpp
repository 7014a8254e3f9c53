// The conversation layer under the news and mail clients: see conversation.h.
#include "quillnet/engine/conversation.h"

#include <utility>

namespace quillnet::engine {

int Conversation::fail(int code, std::string_view text) {
    if (report_) report_(code, text);
    return code;
}

int Conversation::open(const ServerAddress& server, const Timeouts& timeouts) {
    close();
    std::unique_ptr<Transport> transport;
    const IoResult io = connect_tcp(server.host, server.port, timeouts, transport);
    if (!io.ok()) {
        const std::string where = server.host + ":" + std::to_string(server.port);
        return fail(io.error ? io.error : rules_.connect_failed,
                    (io.status == IoStatus::timeout ? "Timed out connecting to " : "Cannot connect to ") + where);
    }
    line_.attach(std::move(transport));
    return server.secure ? begin_tls(server) : 0;
}

void Conversation::attach(std::unique_ptr<Transport> transport, bool tlsActive) {
    close();
    line_.attach(std::move(transport));
    tlsActive_ = tlsActive;
}

std::unique_ptr<Transport> Conversation::release_idle() noexcept {
    std::unique_ptr<Transport> idle = line_.release_idle();
    if (idle) close();
    return idle;
}

void Conversation::close() noexcept {
    line_.close();
    tlsActive_ = starttlsOffered_ = false;
    said_ = Said::nothing;
    saying_.clear();
    block_ = {};
}

void Conversation::quit_and_close() {
    if (!connected()) return;
    // A server that hangs up instead of answering QUIT has done what was
    // asked; any answer will do.
    if (line_.send_line("QUIT").ok()) {
        Reply reply;
        read(reply);
    }
    close();
}

int Conversation::begin_tls(const ServerAddress& server) {
    const TlsResult r = line_.start_tls(server.host);
    if (r.ok()) {
        tlsActive_ = true;
        starttlsOffered_ = false;
        return 0;
    }
    close();
    const bool broke = r.failure == TlsFailure::none;  // the stream failed, not TLS
    const int code = broke ? (r.io.error ? r.io.error : rules_.io_failed) : rules_.tls.pick(r.failure);
    if (!report_) return code;
    const std::string where = " (" + server.host + ":" + std::to_string(server.port) + ")";
    return fail(code, broke ? std::string(rules_.describe_io(r.io)) + " during the TLS handshake" + where
                            : describe_tls_failure(r.failure) + where);
}

int Conversation::credentials_policy(const ServerAddress& server) {
    if (tlsActive_ || server.starttls == StartTls::never) return 0;
    close();
    return fail(rules_.credentials_in_clear, rules_.credentials_in_clear_text);
}

void Conversation::say(std::string line) {
    said_ = Said::line;
    saying_ = std::move(line);
}

void Conversation::say_raw(std::string bytes) {
    said_ = Said::raw;
    saying_ = std::move(bytes);
}

void Conversation::say_block(std::string_view text) {
    said_ = Said::block;
    block_ = text;
}

IoResult Conversation::flush() {
    const Said said = std::exchange(said_, Said::nothing);
    switch (said) {
        case Said::line: return line_.send_line(saying_);
        case Said::raw: return line_.send_raw(saying_);
        case Said::block: return line_.send_block(std::exchange(block_, {}));
        default: return IoResult::success();
    }
}

}  // namespace quillnet::engine

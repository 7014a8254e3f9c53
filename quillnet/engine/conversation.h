// One conversation with a server that answers commands with status lines:
// the layer under the news and mail clients (news_client.h, smtp_client.h),
// as every such protocol shares it.
//   - the connection: connect, implicit TLS, close, QUIT
//   - the drive loop: send what the state asks, read the reply, hand it to
//     the state's handler, which names the next state or ends the exchange
//   - STARTTLS (RFC 3207, RFC 4642): when to ask for it, what a refusal
//     means, the upgrade and the capabilities asked again after it
//   - credentials only over TLS, unless the server text opts out of it
// A protocol is a table of states on it; the error numbers and texts stay
// the protocol's own (ConversationRules).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "quillnet/engine/limits.h"
#include "quillnet/engine/line_engine.h"
#include "quillnet/engine/server_address.h"

namespace quillnet::engine {

// What a handler hands back: the state whose reply comes next, or the end
// of the exchange with its result.
template <class State>
struct Turn {
    Turn(State state) : next(state) {}  // implicit: a handler names the next state
    static Turn finish(int result) {
        Turn t{State{}};
        t.done = true;
        t.result = result;
        return t;
    }
    State next;
    bool done = false;
    int result = 0;
};

// A protocol's own numbers and texts for what the conversation decides.
struct ConversationRules {
    bool multiline_replies;  // "ddd-text" continuation lines (SMTP), or one status line (NNTP)
    int connect_failed;      // a connect that failed without a system error number
    int io_failed;           // a TLS handshake that broke without one
    TlsErrorNumbers tls;
    int tls_not_offered;  // STARTTLS required by the server text, not offered
    std::string_view tls_not_offered_text;
    int credentials_in_clear;  // credentials, no TLS, and the server text does not allow clear
    std::string_view credentials_in_clear_text;
    // A failed read or write in words, for the texts reported; the
    // protocol names its server in it.
    const char* (*describe_io)(const IoResult&);
};

class Conversation {
  public:
    // Hears every failure the conversation itself decides, with its text.
    using Report = std::function<void(int code, std::string_view text)>;
    explicit Conversation(const ConversationRules& rules, Report report = {})
        : rules_(rules), report_(std::move(report)) {}

    LineEngine& line() noexcept { return line_; }
    bool connected() const noexcept { return line_.connected(); }
    bool tls_active() const noexcept { return tlsActive_; }

    // Connects to the server, and begins TLS at once for a secure scheme;
    // 0 or the error reported (the connection is then closed).
    int open(const ServerAddress& server, const Timeouts& timeouts);
    // A connection that is between commands, as a pool kept it.
    void attach(std::unique_ptr<Transport> transport, bool tlsActive);
    // Gives the connection up for a pool (LineEngine::release_idle).
    std::unique_ptr<Transport> release_idle() noexcept;
    void close() noexcept;
    // Says QUIT, waits for the answer or the end of the connection, and
    // closes; the answer does not matter.
    void quit_and_close();

    // The server listed STARTTLS among what it offers.
    void offer_starttls() noexcept { starttlsOffered_ = true; }

    // Puts TLS under the connection; 0 or the error reported (the
    // connection is then closed). What the server offered is forgotten.
    int begin_tls(const ServerAddress& server);

    // Once the server said what it offers: STARTTLS (said, and its answer
    // awaited at `startTls`) when it is offered and wanted, the end (closed,
    // reported) when the server text requires it and it is not offered,
    // otherwise `p.past_tls()`.
    template <class P, class State>
    Turn<State> tls_policy(P& p, const ServerAddress& server, State startTls);

    // The server's answer to STARTTLS, `ready` when it agreed. Then TLS
    // goes under the connection and `p.after_upgrade()` forgets what the
    // server offered and asks again (it may change with TLS, RFC 3207 4.2,
    // RFC 4642 2.2.2). A refusal is fine for a client without secrets,
    // which goes on in clear (`p.past_tls()`); otherwise the protocol ends
    // with `p.refused(reply)`.
    template <class P, class State = typename P::State>
    Turn<State> answer_starttls(P& p, const ServerAddress& server, const Reply& reply, bool ready);

    // Before a word of the credentials goes out: 0 when they may, or the
    // error reported (the connection is then closed).
    int credentials_policy(const ServerAddress& server);

    // What the next send carries: a command line, bytes as they are, or a
    // dot-terminated block (which must outlive the send).
    void say(std::string line);
    void say_raw(std::string bytes);
    void say_block(std::string_view text);

    // The drive loop, from `state` on until a handler ends it. For each
    // state: `p.ask(state)` may say its command, what was said goes out,
    // the reply is read and handed to `p.on_reply(state, reply)`. A failed
    // send goes to `p.on_send_failed(state, io)`, a failed read to
    // `p.on_read_failed(state, io, reply)`.
    template <class P, class State>
    int drive(P& p, State state);

  private:
    enum class Said { nothing, line, raw, block };
    IoResult flush();
    IoResult read(Reply& reply) { return rules_.multiline_replies ? line_.read_reply(reply) : line_.read_status(reply); }
    int fail(int code, std::string_view text);
    int fail(int code, const std::string& text) { return fail(code, std::string_view(text)); }

    const ConversationRules rules_;
    Report report_;
    LineEngine line_;
    bool tlsActive_ = false;
    bool starttlsOffered_ = false;
    Said said_ = Said::nothing;
    std::string saying_;
    std::string_view block_;
};

template <class P, class State>
Turn<State> Conversation::tls_policy(P& p, const ServerAddress& server, State startTls) {
    if (!tlsActive_ && server.starttls != StartTls::never) {
        if (starttlsOffered_) {
            say("STARTTLS");
            return startTls;
        }
        if (server.starttls == StartTls::required) {
            close();
            return Turn<State>::finish(fail(rules_.tls_not_offered, rules_.tls_not_offered_text));
        }
    }
    return p.past_tls();
}

template <class P, class State>
Turn<State> Conversation::answer_starttls(P& p, const ServerAddress& server, const Reply& reply, bool ready) {
    if (ready) {
        if (const int e = begin_tls(server)) return Turn<State>::finish(e);
        return p.after_upgrade();
    }
    if (server.starttls == StartTls::required || server.has_credentials) return p.refused(reply);
    starttlsOffered_ = false;
    return p.past_tls();
}

template <class P, class State>
int Conversation::drive(P& p, State state) {
    for (;;) {
        p.ask(state);
        Turn<State> turn{state};
        if (const IoResult sent = flush(); !sent.ok()) {
            turn = p.on_send_failed(state, sent);
        } else {
            Reply reply;
            const IoResult got = read(reply);
            turn = got.ok() ? p.on_reply(state, reply) : p.on_read_failed(state, got, reply);
        }
        if (turn.done) return turn.result;
        state = turn.next;
    }
}

}  // namespace quillnet::engine

#include "quillnet/engine/smtp_client.h"

#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "frame/ascii.h"
#include "quillnet/engine/base64.h"
#include "quillnet/engine/charset.h"
#include "quillnet/engine/conversation.h"
#include "quillnet/engine/mail_message.h"

namespace quillnet::engine {
namespace {

using frame::ascii::equals_nocase;
using frame::ascii::starts_with_nocase;
using frame::ascii::trim;
using frame::ascii::hex_value;

constexpr ServerScheme kMailSchemes[] = {
    {"smtp", 25, false},
    {"smtps", 465, true},
    {"smtp+starttls", 25, false, StartTls::required},
    {"smtp+plain", 25, false, StartTls::never},
};
constexpr TlsErrorNumbers kMailTlsErrors{kMailTlsFailed, kMailCertExpired, kMailCertUntrusted, kMailCertWrongHost,
                                         kMailCertRefused};
constexpr ServerSyntax kMailSyntax{kMailSchemes, 25};
// The mail sender reports numbers only: no texts.
constexpr ConversationRules kMailRules{
    true, kMailBadReply, kMailBadReply, kMailTlsErrors, kMailTlsNotOffered, {}, kMailCredentialsInClear, {}, nullptr};

// ---------------------------------------------------------------------------
// The client: one handler per reply, chosen by what the client awaits.

class SmtpClient final : public MailEngine {
  public:
    explicit SmtpClient(const Timeouts& timeouts) : timeouts_(timeouts) {}

    int SetMailServer(std::string_view text) override {
        ServerAddress parsed;
        const int e = parse_mail_server(text, parsed);
        if (e != 0) return e;
        // A session with another server (or other credentials) is over.
        if (conv_.connected() && !(parsed == server_)) quit();
        server_ = std::move(parsed);
        has_server_ = true;
        return 0;
    }
    int SetMailField1(std::string_view v) override { return set(from_, v); }
    int SetMailField2(std::string_view v) override { return set(to_, v); }
    int SetMailField3(std::string_view v) override { return set(subject_, v); }
    int SetMailField4(std::string_view v) override { return set(body_, v); }
    int SetMailField5(std::string_view v) override { return set(cc_, v); }
    int SetTextCodePage(unsigned codePage) override {
        utf8_ = codePage == kCodePageUtf8;
        return 0;
    }
    int SetNetworkEnabled(int enabled) override {
        enabled_ = enabled != 0;
        if (!enabled_) conv_.close();
        return 0;
    }
    int SetAction(int action) override {
        switch (action) {
            case kMailConnect:
                if (!enabled_) return kMailNetworkDisabled;
                if (conv_.connected()) quit();
                return connect();
            case kMailDisconnect:
                quit();
                return 0;
            case kMailSend:
                return send();
            default:
                return kMailUnknownAction;
        }
    }

  private:
    enum class Await {
        greeting,
        ehlo,
        helo,
        starttls,
        auth,
        login_user,
        login_password,
        mail,
        rcpt,
        data,
        message,
        chunk,
        last_chunk,
        rset,
    };
    using State = Await;
    using Step = Turn<Await>;
    using Handler = Step (SmtpClient::*)(const Reply&);
    static const Handler kHandlers[];
    friend class quillnet::engine::Conversation;

    static Step finish(int result) { return Step::finish(result); }

    static int set(std::string& field, std::string_view value) {
        field.assign(value);
        return 0;
    }

    // A failed read or write has already dropped the connection.
    static int io_error(const IoResult& r) { return r.error != 0 ? r.error : kMailBadReply; }

    // Handlers say the command whose reply they await; the conversation
    // layer sends it.
    Step send_command(std::string line, Await next) {
        conv_.say(std::move(line));
        return next;
    }

    // What the conversation layer calls (conversation.h).
    void ask(Await awaited) { failed_at_ = awaited; }
    Step on_send_failed(Await, const IoResult& r) {
        last_io_ = r.status;
        return finish(io_error(r));
    }
    // Once a step was refused, that refusal is the result, whatever becomes
    // of the RSET after it.
    Step on_read_failed(Await awaited, const IoResult& r, const Reply&) {
        last_io_ = r.status;
        conv_.close();
        return finish(awaited == Await::rset ? pending_ : io_error(r));
    }
    Step on_reply(Await awaited, const Reply& reply) {
        // 421: the server is closing the channel, whatever was asked.
        if (reply.code == 421) {
            last_code_ = 421;
            conv_.close();
            return finish(awaited == Await::rset ? pending_ : 421);
        }
        return (this->*kHandlers[static_cast<int>(awaited)])(reply);
    }
    Step past_tls() { return authenticate(); }
    // The server forgets what EHLO said; so do we (RFC 3207 4.2).
    Step after_upgrade() { return ehlo(); }
    Step refused(const Reply& reply) { return unexpected(reply); }

    // A refusal is a 4xx or 5xx reply. Three digits beyond 599 are no SMTP
    // reply at all: reported as one, the page would take the number for a
    // refusal it could look up.
    static bool refusal_code(int code) { return code >= 400 && code <= 599; }

    // A reply that fits no step of the exchange leaves the session in an
    // unknown state: it is dropped.
    Step unexpected(const Reply& reply) {
        conv_.close();
        return finish(refusal_code(reply.code) ? reply.code : kMailBadReply);
    }

    Step on_greeting(const Reply& reply) {
        if (reply.code != 220) return unexpected(reply);
        return ehlo();
    }

    Step ehlo() { return send_command("EHLO " + local_domain(), Await::ehlo); }

    Step on_ehlo(const Reply& reply) {
        if (reply.code == 250) {
            read_extensions(reply);
            return conv_.tls_policy(*this, server_, Await::starttls);
        }
        // A server that does not know EHLO answers 500, 502 or 504 (or 550):
        // the session goes on with HELO and without extensions.
        if (refusal_code(reply.code) && reply.code >= 500) return send_command("HELO " + local_domain(), Await::helo);
        return unexpected(reply);
    }

    Step on_helo(const Reply& reply) {
        if (reply.code != 250) return unexpected(reply);
        read_extensions(Reply{});  // none, whatever an earlier EHLO said
        return conv_.tls_policy(*this, server_, Await::starttls);
    }

    // 220 lets TLS begin; a refusal is 454.
    Step on_starttls(const Reply& reply) { return conv_.answer_starttls(*this, server_, reply, reply.code == 220); }

    void read_extensions(const Reply& reply) {
        auth_plain_ = auth_login_ = false;
        offers_ = {};
        pipelining_ = chunking_ = false;
        for (size_t i = 1; i < reply.lines.size(); ++i) {
            std::string_view line = trim(reply.lines[i]);
            if (read_mail_offer(line, offers_)) continue;
            if (equals_nocase(line, "PIPELINING")) pipelining_ = true;
            if (equals_nocase(line, "CHUNKING")) chunking_ = true;
            if (equals_nocase(line, "STARTTLS")) conv_.offer_starttls();
            if (starts_with_nocase(line, "AUTH ") || starts_with_nocase(line, "AUTH=")) {
                std::string upper(line.substr(5));
                for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
                upper = " " + upper + " ";
                if (upper.find(" PLAIN ") != std::string::npos) auth_plain_ = true;
                if (upper.find(" LOGIN ") != std::string::npos) auth_login_ = true;
            }
        }
    }

    // Credentials are used only when the server text carries them and the
    // server offers a mechanism we speak; PLAIN is preferred (one exchange).
    Step authenticate() {
        if (!server_.has_credentials) return finish(0);
        if (const int e = conv_.credentials_policy(server_)) return finish(e);
        if (auth_plain_) {
            std::string token;
            token += '\0';
            token += server_.user;
            token += '\0';
            token += server_.password;
            return send_command("AUTH PLAIN " + encode_base64(token), Await::auth);
        }
        if (auth_login_) return send_command("AUTH LOGIN", Await::login_user);
        return finish(0);
    }

    Step on_auth(const Reply& reply) {
        if (reply.code == 235) return finish(0);
        return unexpected(reply);
    }

    Step on_login_user(const Reply& reply) {
        if (reply.code != 334) return unexpected(reply);
        return send_command(encode_base64(server_.user), Await::login_password);
    }

    Step on_login_password(const Reply& reply) {
        if (reply.code != 334) return unexpected(reply);
        return send_command(encode_base64(server_.password), Await::auth);
    }

    // A refused transaction step leaves the session usable: RSET clears the
    // half-made transaction and the refusal is the result.
    Step reset_with(int code) {
        pending_ = code;
        return send_command("RSET", Await::rset);
    }

    // What a reply says of the transaction command it answers: every
    // command has its one good code, 4xx and 5xx refuse, and anything else
    // (a 354 to RCPT, a 250 to DATA) is a server out of step.
    enum class Verdict { accepted, refused, out_of_step };
    static Verdict judge(Await command, int code) {
        bool good = code == 250;
        if (command == Await::rcpt) good = code == 250 || code == 251;
        if (command == Await::data) good = code == 354;
        if (good) return Verdict::accepted;
        return refusal_code(code) ? Verdict::refused : Verdict::out_of_step;
    }

    Step on_mail(const Reply& reply) {
        switch (judge(Await::mail, reply.code)) {
            case Verdict::accepted: return next_recipient();
            case Verdict::refused: return reset_with(reply.code);
            default: return unexpected(reply);
        }
    }

    Step next_recipient() {
        if (next_rcpt_ < recipients_.size()) {
            const std::string& box = recipients_[next_rcpt_++].mailbox;
            return send_command("RCPT TO:<" + box + ">", Await::rcpt);
        }
        if (chunking_) return send_chunk(true, Await::last_chunk);
        return send_command("DATA", Await::data);
    }

    Step on_rcpt(const Reply& reply) {
        switch (judge(Await::rcpt, reply.code)) {
            case Verdict::accepted: return next_recipient();
            case Verdict::refused: return reset_with(reply.code);
            default: return unexpected(reply);
        }
    }

    Step on_data(const Reply& reply) {
        switch (judge(Await::data, reply.code)) {
            case Verdict::accepted:
                conv_.say_block(message_);
                return Await::message;
            case Verdict::refused: return reset_with(reply.code);
            default: return unexpected(reply);
        }
    }

    // BDAT (RFC 3030): the message as one chunk of its exact size, lines
    // as they are. `last` commits it; a chunk that is not the last waits
    // for "BDAT 0 LAST".
    static std::string chunk_command(size_t size, bool last) {
        return "BDAT " + std::to_string(size) + (last ? " LAST\r\n" : "\r\n");
    }
    Step send_chunk(bool last, Await next) {
        conv_.say_raw(chunk_command(message_.size(), last) + message_);
        return next;
    }

    // A refused chunk ends the transaction in the server's eyes only as
    // far as the chunks go: RSET makes sure the envelope goes with it.
    Step on_chunk(const Reply& reply) {
        switch (judge(Await::chunk, reply.code)) {
            case Verdict::accepted: return send_command("BDAT 0 LAST", Await::last_chunk);
            case Verdict::refused: return reset_with(reply.code);
            default: return unexpected(reply);
        }
    }

    Step on_last_chunk(const Reply& reply) {
        switch (judge(Await::last_chunk, reply.code)) {
            case Verdict::accepted: return finish(0);
            case Verdict::refused: return reset_with(reply.code);
            default: return unexpected(reply);
        }
    }

    int run(const Step& step) { return step.done ? step.result : conv_.drive(*this, step.next); }

    // PIPELINING (RFC 2920): MAIL, every RCPT and then DATA or the whole
    // message as a BDAT chunk go in one write, and the replies are read
    // back in the same order, each judged against its own command. Every
    // reply is read before anything is decided, so the session stays in
    // step after a refusal. With CHUNKING and one recipient the mail is one
    // round trip. With more, one refused recipient must not let the message
    // reach the others, so the chunk is not the last: "BDAT 0 LAST" commits
    // it once every recipient is in.
    int pipelined(const std::string& mail) {
        std::string batch = mail + "\r\n";
        std::vector<Await> sent{Await::mail};
        for (const MailAddress& r : recipients_) {
            batch += "RCPT TO:<" + r.mailbox + ">\r\n";
            sent.push_back(Await::rcpt);
        }
        if (chunking_) {
            const bool last = recipients_.size() == 1;
            batch += chunk_command(message_.size(), last);
            batch += message_;
            sent.push_back(last ? Await::last_chunk : Await::chunk);
        } else {
            batch += "DATA\r\n";
            sent.push_back(Await::data);
        }
        next_rcpt_ = recipients_.size();
        failed_at_ = Await::mail;
        const IoResult w = conv_.line().send_raw(batch);
        if (!w.ok()) {
            last_io_ = w.status;
            return io_error(w);
        }
        int refusal = 0;
        Reply reply;
        for (const Await command : sent) {
            failed_at_ = command;
            const IoResult r = conv_.line().read_reply(reply);
            if (!r.ok()) return on_read_failed(command, r, reply).result;
            if (reply.code == 421) return on_reply(command, reply).result;
            const Verdict v = judge(command, reply.code);
            if (v == Verdict::out_of_step) return unexpected(reply).result;
            if (v == Verdict::refused && refusal == 0) refusal = reply.code;
        }
        // Each command has had its reply: anything more is out of step, but
        // for the 421 a server may send at any time as it closes, which the
        // next command will find (and the mail it follows still went).
        if (!conv_.line().unread().empty() && !conv_.line().unread().starts_with("421")) {
            conv_.close();
            return kMailBadReply;
        }
        if (refusal == 0) return run((this->*kHandlers[static_cast<int>(sent.back())])(reply));
        // DATA taken while a recipient was refused: no SMTP command takes
        // it back, and a message ended now would go to the others. Ending
        // the session leaves it unfinished, which the server discards.
        if (sent.back() == Await::data && reply.code == 354) {
            conv_.close();
            return refusal;
        }
        return run(reset_with(refusal));
    }

    Step on_message(const Reply& reply) {
        if (reply.code == 250) return finish(0);
        if (refusal_code(reply.code)) return finish(reply.code);
        return unexpected(reply);
    }

    Step on_rset(const Reply&) { return finish(pending_); }

    int connect() {
        conv_.close();
        if (!has_server_) return kMailNoServer;
        if (const int e = conv_.open(server_, timeouts_)) return e;
        const int e = conv_.drive(*this, Await::greeting);
        if (e != 0) conv_.close();
        return e;
    }

    void quit() { conv_.quit_and_close(); }

    int prepare() {
        std::vector<MailAddress> from;
        if (split_addresses(from_, from) != 0 || from.size() > 1) return kMailBadAddress;
        if (from.empty()) return kMailNoSender;
        std::vector<MailAddress> to, cc;
        if (split_addresses(to_, to) != 0 || split_addresses(cc_, cc) != 0) return kMailBadAddress;
        if (to.empty() && cc.empty()) return kMailNoRecipient;
        parts_.from = std::move(from.front());
        parts_.to = std::move(to);
        parts_.cc = std::move(cc);
        recipients_ = parts_.to;
        recipients_.insert(recipients_.end(), parts_.cc.begin(), parts_.cc.end());
        return 0;
    }

    int transaction() {
        parts_.subject = subject_;
        parts_.body = body_;
        parts_.utf8 = utf8_;
        parts_.charset = utf8_ ? "UTF-8" : charset_of_code_page(ansi_code_page());
        parts_.eight_bit_ok = offers_.eight_bit_mime;
        parts_.date = message_date_now();
        parts_.message_id = new_message_id(parts_.from.mailbox);
        ComposedMessage composed = compose_message(parts_);
        if (chunking_) {
            // A chunk is sent as it is: its size counts the CR LF lines.
            message_.clear();
            append_wire_lines(message_, composed.text, false);
        } else {
            message_ = std::move(composed.text);
        }
        next_rcpt_ = 0;
        last_io_ = IoStatus::ok;
        last_code_ = 0;
        std::string parameters;
        if (const int e = mail_from_parameters(parts_, composed, offers_, parameters)) return e;
        const std::string mail = "MAIL FROM:<" + parts_.from.mailbox + ">" + parameters;
        if (pipelining_) return pipelined(mail);
        return run(send_command(mail, Await::mail));
    }

    // A server that dropped the session while it sat idle shows it at the
    // first command of the next transaction: by closing the socket or by 421.
    bool dropped_while_idle() const {
        return failed_at_ == Await::mail && (last_code_ == 421 || last_io_ == IoStatus::closed);
    }

    int send() {
        if (const int e = prepare()) return e;
        if (!enabled_) return kMailNetworkDisabled;
        if (!conv_.connected()) {
            if (const int e = connect()) return e;
            return transaction();
        }
        const int result = transaction();
        if (result != 0 && dropped_while_idle()) {
            conv_.close();
            if (const int e = connect()) return e;
            return transaction();
        }
        return result;
    }

    Timeouts timeouts_;
    Conversation conv_{kMailRules};
    ServerAddress server_;
    bool has_server_ = false;
    bool enabled_ = true;
    std::string from_, to_, subject_, body_, cc_;

    bool auth_plain_ = false, auth_login_ = false;
    MailOffers offers_;
    bool utf8_ = false;
    bool pipelining_ = false, chunking_ = false;
    MessageParts parts_;
    std::vector<MailAddress> recipients_;
    size_t next_rcpt_ = 0;
    std::string message_;
    int pending_ = 0;
    Await failed_at_ = Await::greeting;
    IoStatus last_io_ = IoStatus::ok;
    int last_code_ = 0;
};

const SmtpClient::Handler SmtpClient::kHandlers[] = {
    &SmtpClient::on_greeting,   &SmtpClient::on_ehlo, &SmtpClient::on_helo,    &SmtpClient::on_starttls,
    &SmtpClient::on_auth,
    &SmtpClient::on_login_user, &SmtpClient::on_login_password,                &SmtpClient::on_mail,
    &SmtpClient::on_rcpt,       &SmtpClient::on_data, &SmtpClient::on_message, &SmtpClient::on_chunk,
    &SmtpClient::on_last_chunk, &SmtpClient::on_rset,
};

}  // namespace

int parse_mail_server(std::string_view text, ServerAddress& out) {
    ServerAddress parsed;
    if (!parse_server_address(text, kMailSyntax, parsed)) return kMailBadServer;
    // A path means nothing to a mail server; "smtp://host/" is still taken.
    if (parsed.path.size() > 1) return kMailBadServer;
    out = std::move(parsed);
    return 0;
}

std::unique_ptr<MailEngine> make_smtp_client(const Timeouts& timeouts) {
    return std::make_unique<SmtpClient>(timeouts);
}

}  // namespace quillnet::engine

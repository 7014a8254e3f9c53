#include "quillnet/engine/smtp_client.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "quillnet/engine/line_engine.h"
#include "frame/ascii.h"

namespace quillnet::engine {
namespace {

using frame::ascii::starts_with_nocase;
using frame::ascii::trim;
using frame::ascii::hex_value;

constexpr size_t kMaxHeaderLine = 78;  // RFC 5322's "should" for header lines
constexpr size_t kMaxBodyLine = 998;   // RFC 5322's "must": longer lines go quoted-printable
constexpr size_t kMaxEncodedWord = 75;

bool is_ascii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool has_line_break(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

std::string base64(std::string_view in) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8) |
                           static_cast<unsigned char>(in[i + 2]);
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += digits[(v >> 6) & 63];
        out += digits[v & 63];
    }
    if (i < in.size()) {
        unsigned v = static_cast<unsigned char>(in[i]) << 16;
        if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += i + 1 < in.size() ? digits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// Credentials in a server address may carry %-escapes for ':', '@' and '/'.
bool percent_decode(std::string_view in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size()) return false;
        const int hi = hex_value(in[i + 1]), lo = hex_value(in[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

bool valid_host(std::string_view host) {
    if (host.empty() || host.size() > 255) return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
               c == '_';
    });
}

bool valid_ipv6(std::string_view host) {
    if (host.empty()) return false;
    return std::all_of(host.begin(), host.end(), [](char c) { return hex_value(c) >= 0 || c == ':' || c == '.'; });
}

bool parse_port(std::string_view text, unsigned short& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    port = static_cast<unsigned short>(value);
    return true;
}

bool valid_mailbox(std::string_view box) {
    return std::none_of(box.begin(), box.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7F || c == '<' || c == '>';
    });
}

// A display name with a bracket of its own would make a second address.
bool has_unquoted_bracket(std::string_view display) {
    bool quoted = false;
    for (char c : display) {
        if (c == '"') quoted = !quoted;
        else if (!quoted && (c == '<' || c == '>')) return true;
    }
    return false;
}

// "Name <box>" or "box" for a header, the name as encoded words when it
// holds characters beyond ASCII.
std::string header_address(const MailAddress& a, std::string_view charset) {
    if (a.display.empty()) return a.mailbox;
    std::string name = a.display;
    if (!is_ascii(name)) {
        std::string_view bare = name;
        if (bare.size() >= 2 && bare.front() == '"' && bare.back() == '"') bare = bare.substr(1, bare.size() - 2);
        name = encode_words(bare, charset, CP_ACP, 0);
    }
    return name + " <" + a.mailbox + ">";
}

// "Name: a, b, c" folded after a comma whenever the line would grow past
// 78 characters.
void append_address_header(std::string& out, std::string_view name, const std::vector<MailAddress>& list,
                           std::string_view charset) {
    out.append(name).append(": ");
    size_t line = name.size() + 2;
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string item = header_address(list[i], charset);
        if (i > 0) {
            out += ',';
            ++line;
            if (line + 1 + item.size() > kMaxHeaderLine) {
                out += "\r\n";
                line = 0;
            }
            out += ' ';
            ++line;
        }
        out += item;
        const size_t fold = item.rfind('\n');
        line = fold == std::string::npos ? line + item.size() : item.size() - fold - 1;
    }
    out += "\r\n";
}

// Splits text into lines at CR LF, lone LF and lone CR.
template <class F>
void for_each_line(std::string_view text, F&& on_line) {
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        on_line(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) on_line(text.substr(start));
}

std::string header_text(std::string_view text) {
    // A line break in a header text would start a header of the page's
    // choosing; it becomes a blank.
    std::string out(text);
    std::replace_if(out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return out;
}

std::string utc_date() {
    SYSTEMTIME t;
    ::GetSystemTime(&t);
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02u %s %04u %02u:%02u:%02u +0000", days[t.wDayOfWeek % 7], t.wDay,
                  months[(t.wMonth + 11) % 12], t.wYear, t.wHour, t.wMinute, t.wSecond);
    return text;
}

std::string local_domain() {
    char name[256];
    DWORD size = sizeof name;
    if (::GetComputerNameExA(ComputerNameDnsFullyQualified, name, &size) && size > 0 &&
        valid_host(std::string_view(name, size)))
        return std::string(name, size);
    return "localhost";
}

std::string new_message_id(std::string_view sender) {
    static std::atomic<unsigned> counter{0};
    const size_t at = sender.rfind('@');
    std::string domain = at == std::string_view::npos ? std::string() : std::string(sender.substr(at + 1));
    if (!valid_host(domain)) domain = local_domain();
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    char text[96];
    std::snprintf(text, sizeof text, "<%08lx%08lx.%lx.%x", static_cast<unsigned long>(now.dwHighDateTime),
                  static_cast<unsigned long>(now.dwLowDateTime), static_cast<unsigned long>(::GetCurrentProcessId()),
                  counter.fetch_add(1) + 1);
    return text + ("@" + domain + ">");
}

// ---------------------------------------------------------------------------
// The client: one handler per reply, chosen by what the client awaits.

class SmtpClient final : public MailEngine {
  public:
    explicit SmtpClient(const Timeouts& timeouts) : timeouts_(timeouts) {}

    int SetMailServer(std::string_view text) override {
        MailServer parsed;
        const int e = parse_mail_server(text, parsed);
        if (e != 0) return e;
        // A session with another server (or other credentials) is over.
        if (line_.connected() && !(parsed == server_)) quit();
        server_ = std::move(parsed);
        has_server_ = true;
        return 0;
    }
    int SetMailField1(std::string_view v) override { return set(from_, v); }
    int SetMailField2(std::string_view v) override { return set(to_, v); }
    int SetMailField3(std::string_view v) override { return set(subject_, v); }
    int SetMailField4(std::string_view v) override { return set(body_, v); }
    int SetMailField5(std::string_view v) override { return set(cc_, v); }
    int SetNetworkEnabled(int enabled) override {
        enabled_ = enabled != 0;
        if (!enabled_) line_.close();
        return 0;
    }
    int SetAction(int action) override {
        switch (action) {
            case kMailConnect:
                if (!enabled_) return kMailNetworkDisabled;
                if (line_.connected()) quit();
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
    enum class Await { greeting, ehlo, helo, auth, login_user, login_password, mail, rcpt, data, message, rset, quit };
    struct Step {
        bool done;
        int result;
        Await next;
    };
    using Handler = Step (SmtpClient::*)(const Reply&);
    static const Handler kHandlers[];

    static Step finish(int result) { return {true, result, Await::quit}; }
    static Step await(Await next) { return {false, 0, next}; }

    static int set(std::string& field, std::string_view value) {
        field.assign(value);
        return 0;
    }

    // A failed read or write has already dropped the connection.
    static int io_error(const IoResult& r) { return r.error != 0 ? r.error : kMailBadReply; }

    Step send_command(std::string_view line, Await next) {
        const IoResult r = line_.send_line(line);
        if (!r.ok()) {
            failed_at_ = next;
            last_io_ = r.status;
            return finish(io_error(r));
        }
        return await(next);
    }

    // Reads replies and hands each to the handler of what was awaited, until
    // a handler ends the exchange.
    int converse(Await first) {
        Await awaited = first;
        for (;;) {
            failed_at_ = awaited;
            Reply reply;
            const IoResult r = line_.read_reply(reply);
            // Once a step was refused, that refusal is the result, whatever
            // becomes of the RSET after it.
            if (!r.ok()) {
                last_io_ = r.status;
                line_.close();
                return awaited == Await::rset ? pending_ : io_error(r);
            }
            // 421: the server is closing the channel, whatever was asked.
            if (reply.code == 421 && awaited != Await::quit) {
                last_code_ = 421;
                line_.close();
                return awaited == Await::rset ? pending_ : 421;
            }
            const Step step = (this->*kHandlers[static_cast<int>(awaited)])(reply);
            if (step.done) return step.result;
            awaited = step.next;
        }
    }

    // A reply that fits no step of the exchange leaves the session in an
    // unknown state: it is dropped.
    Step unexpected(const Reply& reply) {
        line_.close();
        return finish(reply.code >= 400 ? reply.code : kMailBadReply);
    }

    Step on_greeting(const Reply& reply) {
        if (reply.code != 220) return unexpected(reply);
        return send_command("EHLO " + local_domain(), Await::ehlo);
    }

    Step on_ehlo(const Reply& reply) {
        if (reply.code == 250) {
            read_extensions(reply);
            return authenticate();
        }
        // A server that does not know EHLO answers 500, 502 or 504 (or 550):
        // the session goes on with HELO and without extensions.
        if (reply.code >= 500) return send_command("HELO " + local_domain(), Await::helo);
        return unexpected(reply);
    }

    Step on_helo(const Reply& reply) {
        if (reply.code != 250) return unexpected(reply);
        return authenticate();
    }

    void read_extensions(const Reply& reply) {
        auth_plain_ = auth_login_ = eight_bit_mime_ = false;
        for (size_t i = 1; i < reply.lines.size(); ++i) {
            std::string_view line = trim(reply.lines[i]);
            if (starts_with_nocase(line, "8BITMIME")) eight_bit_mime_ = true;
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
        if (auth_plain_) {
            std::string token;
            token += '\0';
            token += server_.user;
            token += '\0';
            token += server_.password;
            return send_command("AUTH PLAIN " + base64(token), Await::auth);
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
        return send_command(base64(server_.user), Await::login_password);
    }

    Step on_login_password(const Reply& reply) {
        if (reply.code != 334) return unexpected(reply);
        return send_command(base64(server_.password), Await::auth);
    }

    // A refused transaction step leaves the session usable: RSET clears the
    // half-made transaction and the refusal is the result.
    Step reset_with(int code) {
        pending_ = code;
        return send_command("RSET", Await::rset);
    }

    Step on_mail(const Reply& reply) {
        if (reply.code == 250) return next_recipient();
        if (reply.code >= 400) return reset_with(reply.code);
        return unexpected(reply);
    }

    Step next_recipient() {
        if (next_rcpt_ < recipients_.size()) {
            const std::string& box = recipients_[next_rcpt_++].mailbox;
            return send_command("RCPT TO:<" + box + ">", Await::rcpt);
        }
        return send_command("DATA", Await::data);
    }

    Step on_rcpt(const Reply& reply) {
        if (reply.code == 250 || reply.code == 251) return next_recipient();
        if (reply.code >= 400) return reset_with(reply.code);
        return unexpected(reply);
    }

    Step on_data(const Reply& reply) {
        if (reply.code == 354) {
            const IoResult r = line_.send_block(message_);
            if (!r.ok()) {
                last_io_ = r.status;
                return finish(io_error(r));
            }
            return await(Await::message);
        }
        if (reply.code >= 400) return reset_with(reply.code);
        return unexpected(reply);
    }

    Step on_message(const Reply& reply) {
        if (reply.code == 250) return finish(0);
        if (reply.code >= 400) return finish(reply.code);
        return unexpected(reply);
    }

    Step on_rset(const Reply&) { return finish(pending_); }

    Step on_quit(const Reply&) {
        line_.close();
        return finish(0);
    }

    int connect() {
        line_.close();
        if (!has_server_) return kMailNoServer;
        std::unique_ptr<Transport> transport;
        const IoResult r = connect_tcp(server_.host, server_.port, timeouts_, transport);
        if (!r.ok()) return io_error(r);
        line_.attach(std::move(transport));
        const int e = converse(Await::greeting);
        if (e != 0) line_.close();
        return e;
    }

    void quit() {
        if (!line_.connected()) return;
        if (line_.send_line("QUIT").ok()) converse(Await::quit);
        line_.close();
    }

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
        parts_.charset = charset_of_code_page(::GetACP());
        parts_.eight_bit_ok = eight_bit_mime_;
        parts_.date = utc_date();
        parts_.message_id = new_message_id(parts_.from.mailbox);
        ComposedMessage composed = compose_message(parts_);
        message_ = std::move(composed.text);
        next_rcpt_ = 0;
        last_io_ = IoStatus::ok;
        last_code_ = 0;
        std::string mail = "MAIL FROM:<" + parts_.from.mailbox + ">";
        if (composed.eight_bit && eight_bit_mime_) mail += " BODY=8BITMIME";
        const Step first = send_command(mail, Await::mail);
        if (first.done) return first.result;
        return converse(Await::mail);
    }

    // A server that dropped the session while it sat idle shows it at the
    // first command of the next transaction: by closing the socket or by 421.
    bool dropped_while_idle() const {
        return failed_at_ == Await::mail && (last_code_ == 421 || last_io_ == IoStatus::closed);
    }

    int send() {
        if (const int e = prepare()) return e;
        if (!enabled_) return kMailNetworkDisabled;
        if (!line_.connected()) {
            if (const int e = connect()) return e;
            return transaction();
        }
        const int result = transaction();
        if (result != 0 && dropped_while_idle()) {
            line_.close();
            if (const int e = connect()) return e;
            return transaction();
        }
        return result;
    }

    Timeouts timeouts_;
    LineEngine line_;
    MailServer server_;
    bool has_server_ = false;
    bool enabled_ = true;
    std::string from_, to_, subject_, body_, cc_;

    bool auth_plain_ = false, auth_login_ = false, eight_bit_mime_ = false;
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
    &SmtpClient::on_greeting,   &SmtpClient::on_ehlo, &SmtpClient::on_helo,    &SmtpClient::on_auth,
    &SmtpClient::on_login_user, &SmtpClient::on_login_password,                &SmtpClient::on_mail,
    &SmtpClient::on_rcpt,       &SmtpClient::on_data, &SmtpClient::on_message, &SmtpClient::on_rset,
    &SmtpClient::on_quit,
};

}  // namespace

int parse_mail_server(std::string_view text, MailServer& out) {
    text = trim(text);
    MailServer server;
    if (starts_with_nocase(text, "smtp://")) {
        text.remove_prefix(7);
        if (!text.empty() && text.back() == '/') text.remove_suffix(1);
        if (text.find('/') != std::string_view::npos) return kMailBadServer;
        const size_t at = text.rfind('@');
        if (at != std::string_view::npos) {
            const std::string_view userinfo = text.substr(0, at);
            const size_t colon = userinfo.find(':');
            if (!percent_decode(userinfo.substr(0, colon), server.user)) return kMailBadServer;
            if (colon != std::string_view::npos && !percent_decode(userinfo.substr(colon + 1), server.password))
                return kMailBadServer;
            if (server.user.empty()) return kMailBadServer;
            server.has_credentials = true;
            text.remove_prefix(at + 1);
        }
    } else if (text.find("://") != std::string_view::npos || text.find('@') != std::string_view::npos) {
        return kMailBadServer;
    }
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos) return kMailBadServer;
        server.host.assign(text.substr(1, close - 1));
        if (!valid_ipv6(server.host)) return kMailBadServer;
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return kMailBadServer;
            port = rest.substr(1);
            if (port.empty()) return kMailBadServer;
        }
    } else {
        const size_t colon = text.find(':');
        if (colon != std::string_view::npos) {
            port = text.substr(colon + 1);
            if (port.empty()) return kMailBadServer;
        }
        server.host.assign(text.substr(0, colon));
        if (!valid_host(server.host)) return kMailBadServer;
    }
    if (!port.empty() && !parse_port(port, server.port)) return kMailBadServer;
    out = std::move(server);
    return 0;
}

int split_addresses(std::string_view list, std::vector<MailAddress>& out) {
    out.clear();
    std::vector<std::string_view> items;
    bool quoted = false, angle = false;
    size_t start = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        const char c = list[i];
        if (c == '"' && !angle) quoted = !quoted;
        else if (c == '<' && !quoted) angle = true;
        else if (c == '>' && !quoted) angle = false;
        else if ((c == ',' || c == ';') && !quoted && !angle) {
            items.push_back(list.substr(start, i - start));
            start = i + 1;
        }
    }
    items.push_back(list.substr(start));
    for (std::string_view item : items) {
        item = trim(item);
        if (item.empty()) continue;
        if (has_line_break(item)) return kMailBadAddress;
        MailAddress a;
        const size_t open = item.rfind('<');
        if (open != std::string_view::npos) {
            const size_t close = item.find('>', open);
            if (close == std::string_view::npos || !trim(item.substr(close + 1)).empty()) return kMailBadAddress;
            a.display.assign(trim(item.substr(0, open)));
            if (has_unquoted_bracket(a.display)) return kMailBadAddress;
            a.mailbox.assign(trim(item.substr(open + 1, close - open - 1)));
        } else {
            a.mailbox.assign(item);
        }
        if (a.mailbox.empty() || !valid_mailbox(a.mailbox)) return kMailBadAddress;
        out.push_back(std::move(a));
    }
    return 0;
}

std::string quoted_printable(std::string_view body) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(body.size() + body.size() / 8);
    bool first_line = true;
    for_each_line(body, [&](std::string_view line) {
        if (!first_line) out += "\r\n";
        first_line = false;
        size_t width = 0;
        for (size_t i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            const bool last = i + 1 == line.size();
            const bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
            const size_t need = literal ? 1 : 3;
            // A soft break keeps every line at 76 characters or fewer; the
            // "=" it adds needs a column of its own.
            if (width + need > (last ? 76 : 75)) {
                out += "=\r\n";
                width = 0;
            }
            if (literal) {
                out += static_cast<char>(c);
            } else {
                out += '=';
                out += hex[c >> 4];
                out += hex[c & 15];
            }
            width += need;
        }
    });
    if (!body.empty() && (body.back() == '\n' || body.back() == '\r')) out += "\r\n";
    return out;
}

std::string encode_words(std::string_view text, std::string_view charset, unsigned code_page, size_t first_used) {
    const std::string head = "=?" + std::string(charset) + "?B?";
    // Bytes one word can carry when it may be `width` characters long.
    auto capacity = [&](size_t width) {
        const size_t room = width > head.size() + 2 + 4 ? width - head.size() - 2 : 4;
        return std::max<size_t>(1, room / 4 * 3);
    };
    // A header line holding encoded words is at most 76 characters: the
    // first word shares its line with the header name, later ones follow a
    // folding blank.
    const size_t first_width = first_used + 1 < 76 ? std::min(kMaxEncodedWord, 76 - first_used) : 4;
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t n = std::min(capacity(out.empty() ? first_width : kMaxEncodedWord), text.size() - pos);
        // Walk the characters so a double-byte character stays whole.
        if (n < text.size() - pos) {
            size_t take = 0;
            while (take < n) {
                const size_t len =
                    ::IsDBCSLeadByteEx(code_page, static_cast<BYTE>(text[pos + take])) && pos + take + 1 < text.size()
                        ? 2
                        : 1;
                if (take + len > n) break;
                take += len;
            }
            n = take > 0 ? take : n;
        }
        if (!out.empty()) out += "\r\n ";
        out += head + base64(text.substr(pos, n)) + "?=";
        pos += n;
    }
    return out;
}

std::string charset_of_code_page(unsigned code_page) {
    switch (code_page) {
        case 874: return "windows-874";
        case 932: return "Shift_JIS";
        case 936: return "GB2312";
        case 949: return "EUC-KR";
        case 950: return "Big5";
        case 20866: return "KOI8-R";
        case 21866: return "KOI8-U";
        case 28591: return "ISO-8859-1";
        case 28592: return "ISO-8859-2";
        case 28595: return "ISO-8859-5";
        case 28597: return "ISO-8859-7";
        case 28605: return "ISO-8859-15";
        case 51932: return "EUC-JP";
        case 65001: return "UTF-8";
        default: break;
    }
    if (code_page >= 1250 && code_page <= 1258) return "windows-" + std::to_string(code_page);
    return "windows-" + std::to_string(code_page);
}

ComposedMessage compose_message(const MessageParts& parts) {
    bool long_lines = false;
    for_each_line(parts.body, [&](std::string_view line) { long_lines = long_lines || line.size() > kMaxBodyLine; });
    const bool ascii = is_ascii(parts.body);
    // 8bit only where it is safe: no overlong line, and bytes above 127 only
    // for a server that announced 8BITMIME.
    const bool quoted = long_lines || (!ascii && !parts.eight_bit_ok);

    ComposedMessage m;
    std::string& out = m.text;
    out.reserve(parts.body.size() + parts.body.size() / 16 + 1024);
    out += "Date: " + parts.date + "\r\n";
    append_address_header(out, "From", {parts.from}, parts.charset);
    if (!parts.to.empty()) append_address_header(out, "To", parts.to, parts.charset);
    if (!parts.cc.empty()) append_address_header(out, "Cc", parts.cc, parts.charset);
    const std::string subject = header_text(parts.subject);
    if (!is_ascii(subject) || subject.size() > kMaxBodyLine - 10 || subject.find("=?") != std::string::npos)
        out += "Subject: " + encode_words(subject, parts.charset, CP_ACP, 9) + "\r\n";
    else
        out += "Subject: " + subject + "\r\n";
    out += "Message-ID: " + parts.message_id + "\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=\"" + parts.charset + "\"\r\n";
    out += std::string("Content-Transfer-Encoding: ") + (quoted ? "quoted-printable" : "8bit") + "\r\n";
    out += "\r\n";
    if (quoted) {
        out += quoted_printable(parts.body);
    } else {
        bool first = true;
        for_each_line(parts.body, [&](std::string_view line) {
            if (!first) out += "\r\n";
            first = false;
            out.append(line);
        });
        if (!parts.body.empty() && (parts.body.back() == '\n' || parts.body.back() == '\r')) out += "\r\n";
    }
    m.eight_bit = !quoted && !ascii;
    return m;
}

std::unique_ptr<MailEngine> make_smtp_client(const Timeouts& timeouts) {
    return std::make_unique<SmtpClient>(timeouts);
}

}  // namespace quillnet::engine

// Message composition: see mail_message.h.
#include "quillnet/engine/mail_message.h"

#include <algorithm>
#include <cstdio>

#include "frame/ascii.h"
#include "quillnet/engine/mime_part.h"
#include "quillnet/engine/quoted_printable.h"
#include "quillnet/engine/scan.h"
#include "quillnet/engine/server_address.h"

namespace quillnet::engine {
namespace {

using frame::ascii::trim;

constexpr size_t kMaxHeaderLine = 78;  // RFC 5322's "should" for header lines
constexpr size_t kMaxBodyLine = 998;   // RFC 5322's "must": longer lines go quoted-printable

bool is_ascii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool has_line_break(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

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
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && (c == '<' || c == '>'))
            return true;
    }
    return false;
}

// "Name <box>" or "box" for a header, the name as encoded words when it
// holds characters beyond ASCII.
std::string header_address(const MailAddress& a, const MessageParts& parts) {
    // A bare mailbox with a separator or quote of its own would read back as
    // more (or other) addresses: it goes in angle brackets.
    if (a.display.empty())
        return a.mailbox.find_first_of(",;\"") == std::string::npos ? a.mailbox : "<" + a.mailbox + ">";
    std::string name = a.display;
    if (!is_ascii(name)) {
        std::string_view bare = name;
        if (bare.size() >= 2 && bare.front() == '"' && bare.back() == '"') bare = bare.substr(1, bare.size() - 2);
        // 0: the ANSI code page
        name = parts.utf8 ? encode_words_utf8(bare, 0) : encode_words(bare, parts.charset, 0, 0);
    }
    return name + " <" + a.mailbox + ">";
}

// "Name: a, b, c" folded after a comma whenever the line would grow past
// 78 characters.
void append_address_header(std::string& out, std::string_view name, const std::vector<MailAddress>& list,
                           const MessageParts& parts) {
    out.append(name).append(": ");
    size_t line = name.size() + 2;
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string item = header_address(list[i], parts);
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

std::string header_text(std::string_view text) {
    // A line break in a header text would start a header of the page's
    // choosing; it becomes a blank.
    std::string out(text);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return out;
}

}  // namespace

std::string format_message_date(const UtcTime& t) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02u %s %04u %02u:%02u:%02u +0000", days[t.week_day % 7], t.day,
                  months[(t.month + 11) % 12], t.year, t.hour, t.minute, t.second);
    return text;
}

std::string format_message_id(std::string_view sender, std::string_view host, std::string_view unique) {
    const size_t at = sender.rfind('@');
    std::string_view domain = at == std::string_view::npos ? std::string_view() : sender.substr(at + 1);
    if (!valid_host_name(domain)) domain = host;
    std::string id;
    id.reserve(unique.size() + domain.size() + 3);
    return id.append("<").append(unique).append("@").append(domain).append(">");
}

std::string message_date_now() { return format_message_date(utc_now()); }

std::string new_message_id(std::string_view sender) {
    return format_message_id(sender, local_domain(), unique_token());
}

int split_addresses(std::string_view list, std::vector<MailAddress>& out) {
    out.clear();
    std::vector<std::string_view> items;
    bool quoted = false, angle = false;
    size_t start = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        const char c = list[i];
        if (c == '"' && !angle)
            quoted = !quoted;
        else if (c == '<' && !quoted)
            angle = true;
        else if (c == '>' && !quoted)
            angle = false;
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
    append_address_header(out, "From", {parts.from}, parts);
    if (!parts.to.empty()) append_address_header(out, "To", parts.to, parts);
    if (!parts.cc.empty()) append_address_header(out, "Cc", parts.cc, parts);
    const std::string subject = header_text(parts.subject);
    if (!is_ascii(subject) || subject.size() > kMaxBodyLine - 10 || subject.find("=?") != std::string::npos)
        out += "Subject: " + (parts.utf8 ? encode_words_utf8(subject, 9) : encode_words(subject, parts.charset, 0, 9)) +
               "\r\n";
    else
        out += "Subject: " + subject + "\r\n";
    out += "Message-ID: " + parts.message_id + "\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=\"" + parts.charset + "\"\r\n";
    out += std::string("Content-Transfer-Encoding: ") + (quoted ? "quoted-printable" : "8bit") + "\r\n";
    out += "\r\n";
    if (quoted) {
        out += encode_quoted_printable(parts.body);
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

bool read_mail_offer(std::string_view line, MailOffers& offers) {
    line = trim(line);
    if (frame::ascii::starts_with_nocase(line, "8BITMIME")) return offers.eight_bit_mime = true;
    if (frame::ascii::equals_nocase(line, "SMTPUTF8")) return offers.smtp_utf8 = true;
    return false;
}

int mail_from_parameters(const MessageParts& parts, const ComposedMessage& composed, const MailOffers& offers,
                         std::string& out) {
    out.clear();
    if (composed.eight_bit && offers.eight_bit_mime) out += " BODY=8BITMIME";
    if (!parts.utf8) return 0;
    bool ascii = is_ascii(parts.from.mailbox);
    for (const std::vector<MailAddress>* list : {&parts.to, &parts.cc})
        for (const MailAddress& a : *list) ascii = ascii && is_ascii(a.mailbox);
    if (ascii) return 0;
    if (!offers.smtp_utf8) return kMailAddressNeedsSmtpUtf8;
    out += " SMTPUTF8";
    return 0;
}

}  // namespace quillnet::engine

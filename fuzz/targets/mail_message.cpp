// Message composition from the page's texts, read back: the input holds
// the sender, To, Cc, subject and body (split at NUL bytes) and a byte of
// flags (UTF-8 texts, 8BITMIME offered). What compose_message writes has CR
// LF line ends only, no line past 998 bytes, a header block whose addresses
// split back to the mailboxes that went in and whose subject decodes back
// to the subject (line breaks as blanks), and a body that decodes back to
// the body with every line end as CR LF.
#include <string>
#include <vector>

#include "check.h"
#include "quillnet/engine/decoding.h"
#include "quillnet/engine/mail_message.h"
#include "quillnet/engine/mime_part.h"
#include "quillnet/engine/quoted_printable.h"
#include "quillnet/engine/scan.h"

using namespace quillnet::engine;

namespace {

std::vector<std::string_view> fields_of(std::string_view text, size_t count) {
    std::vector<std::string_view> out;
    while (out.size() + 1 < count) {
        const size_t nul = text.find('\0');
        if (nul == std::string_view::npos) break;
        out.push_back(text.substr(0, nul));
        text.remove_prefix(nul + 1);
    }
    out.push_back(text);
    out.resize(count);
    return out;
}

// The value of the header `name`, unfolded; false when there is none.
bool header_value(std::string_view head, std::string_view name, std::string& out) {
    out.clear();
    bool in = false, found = false;
    for_each_line(head, [&](std::string_view line) {
        if (in && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            out.append(line);
            return;
        }
        in = line.size() > name.size() && line.substr(0, name.size()) == name && line[name.size()] == ':';
        if (in) {
            found = true;
            out.assign(line.substr(name.size() + 2));
        }
    });
    return found;
}

std::vector<std::string> mailboxes(const std::vector<MailAddress>& list) {
    std::vector<std::string> out;
    for (const MailAddress& a : list) out.push_back(a.mailbox);
    return out;
}

void check_addresses(std::string_view head, std::string_view name, const std::vector<MailAddress>& went_in) {
    std::string value;
    if (!header_value(head, name, value)) {
        FUZZ_CHECK(went_in.empty());
        return;
    }
    std::vector<MailAddress> back;
    FUZZ_CHECK(split_addresses(value, back) == 0);
    FUZZ_CHECK(mailboxes(back) == mailboxes(went_in));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::vector<std::string_view> f = fields_of(fuzz::text_of(data + 1, size - 1), 5);
    MessageParts parts;
    std::vector<MailAddress> from;
    if (split_addresses(f[0], from) != 0 || from.size() != 1) return 0;
    if (split_addresses(f[1], parts.to) != 0 || split_addresses(f[2], parts.cc) != 0) return 0;
    parts.from = from.front();
    parts.subject.assign(f[3]);
    parts.body.assign(f[4]);
    parts.utf8 = data[0] & 1;
    parts.eight_bit_ok = data[0] & 2;
    parts.charset = parts.utf8 ? "UTF-8" : "windows-1252";
    parts.date = format_message_date(utc_now());
    parts.message_id = format_message_id(parts.from.mailbox, local_domain(), unique_token());
    const ComposedMessage m = compose_message(parts);

    const std::string& text = m.text;
    size_t line = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            FUZZ_CHECK(i + 1 < text.size() && text[i + 1] == '\n');
            FUZZ_CHECK(line <= 998);
            line = 0;
            ++i;
        } else {
            FUZZ_CHECK(text[i] != '\n');
            ++line;
        }
    }
    FUZZ_CHECK(line <= 998);
    const size_t end = text.find("\r\n\r\n");
    FUZZ_CHECK(end != std::string::npos);
    const std::string_view head = std::string_view(text).substr(0, end + 2);
    const std::string_view body = std::string_view(text).substr(end + 4);

    check_addresses(head, "From", {parts.from});
    check_addresses(head, "To", parts.to);
    check_addresses(head, "Cc", parts.cc);

    std::string subject;
    FUZZ_CHECK(header_value(head, "Subject", subject));
    const std::string decoded = decode_encoded_words(
        subject,
        [](std::string_view, std::string_view bytes, std::string& out) {
            out.append(bytes);
            return true;
        },
        [](std::string_view plain, std::string& out) { out.append(plain); });
    std::string expected_subject = parts.subject;
    for (char& c : expected_subject)
        if (c == '\r' || c == '\n') c = ' ';
    FUZZ_CHECK(decoded == expected_subject);

    // Each line end of the page's text (CR LF, lone CR, lone LF) as CR LF.
    std::string expected_body;
    for (size_t i = 0; i < parts.body.size(); ++i) {
        const char c = parts.body[i];
        if (c != '\r' && c != '\n') {
            expected_body += c;
            continue;
        }
        expected_body += "\r\n";
        if (c == '\r' && i + 1 < parts.body.size() && parts.body[i + 1] == '\n') ++i;
    }
    std::string encoding;
    FUZZ_CHECK(header_value(head, "Content-Transfer-Encoding", encoding));
    if (encoding == "quoted-printable") {
        ByteBuffer out;
        FUZZ_CHECK(decode_quoted_printable(body, out) == Verdict::finished);
        FUZZ_CHECK(out.view() == expected_body);
        FUZZ_CHECK(!m.eight_bit);
    } else {
        FUZZ_CHECK(encoding == "8bit");
        FUZZ_CHECK(body == expected_body);
    }
    return 0;
}

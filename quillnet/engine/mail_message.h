// The mail message as it goes after DATA, made from the page's texts:
//   RFC 5322  Internet Message Format (Date, From, To, Cc, Subject,
//             Message-ID; CRLF lines of at most 998 bytes, header lines
//             folded at 78)
//   RFC 2045  MIME: MIME-Version, Content-Type with the charset, 8bit or
//             quoted-printable Content-Transfer-Encoding
//   RFC 2047  encoded words for a subject or display name beyond ASCII
// Dot-stuffing is the line layer's (LineEngine::send_block), since it belongs
// to how DATA is carried, not to the message.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "quillnet/engine/machine.h"
#include "quillnet/engine/smtp_client.h"

namespace quillnet::engine {

// One address of an address list: "Name <box@host>" or "box@host".
struct MailAddress {
    std::string display;  // as given, quotes included; may be empty
    std::string mailbox;  // what goes between < and > in MAIL and RCPT
};
// Splits at "," and ";" outside quotes and angle brackets; empty items are
// skipped. kMailBadAddress for an item that cannot be sent as it is.
int split_addresses(std::string_view list, std::vector<MailAddress>& out);

// What a message is made of: header block, empty line, body, CRLF line ends,
// not yet dot-stuffed.
struct MessageParts {
    MailAddress from;
    std::vector<MailAddress> to;
    std::vector<MailAddress> cc;
    std::string subject;
    std::string body;
    std::string charset;        // MIME name of the code page the texts are in
    bool utf8 = false;          // the texts are UTF-8 (charset "UTF-8")
    bool eight_bit_ok = false;  // the server takes 8bit bodies (8BITMIME)
    std::string date;           // RFC 5322 date-time
    std::string message_id;     // with its angle brackets
};
struct ComposedMessage {
    std::string text;
    bool eight_bit = false;  // the body went out as 8bit with bytes above 127
};
ComposedMessage compose_message(const MessageParts& parts);

// What a server's EHLO offered that decides how a message may travel.
struct MailOffers {
    bool eight_bit_mime = false;  // RFC 6152
    bool smtp_utf8 = false;       // RFC 6531
};
// Reads one EHLO line into `offers`; true when it was one of them.
bool read_mail_offer(std::string_view line, MailOffers& offers);
// The parameters MAIL FROM carries for a composed message (" BODY=8BITMIME",
// " SMTPUTF8"), or kMailAddressNeedsSmtpUtf8: texts in UTF-8 with an address
// beyond ASCII, for a server that takes only ASCII addresses. Addresses in
// the ANSI code page go out as they always did.
int mail_from_parameters(const MessageParts& parts, const ComposedMessage& composed, const MailOffers& offers,
                         std::string& out);

// `t` as an RFC 5322 date-time.
std::string format_message_date(const UtcTime& t);
// A Message-ID with its angle brackets: `unique` in the sender's domain, or
// in `host` when the sender has none we can use.
std::string format_message_id(std::string_view sender, std::string_view host, std::string_view unique);
// The same for this machine and the present moment (machine.h).
std::string message_date_now();
std::string new_message_id(std::string_view sender);

}  // namespace quillnet::engine

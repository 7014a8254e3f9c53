// Our mail client: hands one message at a time to an SMTP server.
//   RFC 5321  Simple Mail Transfer Protocol (greeting, EHLO with a fall back
//             to HELO, MAIL, RCPT, DATA, RSET, QUIT; 421 closes the session)
//   RFC 5322  Internet Message Format (Date, From, To, Cc, Subject,
//             Message-ID; CRLF lines of at most 998 bytes)
//   RFC 2045  MIME: MIME-Version, Content-Type with the charset, 8bit or
//             quoted-printable Content-Transfer-Encoding
//   RFC 2047  encoded words for a subject or display name beyond ASCII
//   RFC 6152  8BITMIME (BODY=8BITMIME when an 8bit body goes out)
//   RFC 4954  SMTP AUTH, with RFC 4616 PLAIN and the LOGIN mechanism
// Every operation is synchronous and bounded by the connect and read limits
// of limits.h: a server that stalls ends the action with an error.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quillnet/engine/limits.h"

namespace quillnet::engine {

// Error numbers of our own. Everything else reported is an SMTP reply code
// (400-599) or a Winsock error code (10000 and up).
enum MailError : int {
    kMailBadServer = 2001,       // empty or unparseable server text
    kMailNoServer = 2002,        // connect or send before a server was set
    kMailNoSender = 2003,         // send without field 1
    kMailNoRecipient = 2004,     // send without any To or Cc address
    kMailBadAddress = 2005,      // an address that cannot be sent as it is
    kMailBadReply = 2006,        // a reply that is not "ddd text", or one that does not fit
    kMailNetworkDisabled = 2007, // connect or send while the network is switched off
    kMailUnknownAction = 2008,   // an action number this client does not perform
};

// The actions of SetAction.
enum MailAction : int {
    kMailConnect = 1,
    kMailDisconnect = 2,
    kMailSend = 3,
};

// The operations the mail sender drives. SmtpClient speaks them to a
// server; tests put a scripted engine in its place.
class MailEngine {
  public:
    virtual ~MailEngine() = default;
    // "host", "host:port" or "smtp://[user[:password]@]host[:port]".
    virtual int SetMailServer(std::string_view server) = 0;
    virtual int SetMailField1(std::string_view from) = 0;     // the sender
    virtual int SetMailField2(std::string_view to) = 0;       // addresses split by "," or ";"
    virtual int SetMailField3(std::string_view subject) = 0;
    virtual int SetMailField4(std::string_view body) = 0;
    virtual int SetMailField5(std::string_view cc) = 0;       // addresses split by "," or ";"
    virtual int SetNetworkEnabled(int enabled) = 0;
    virtual int SetAction(int action) = 0;
};

// What SetMailServer understood.
struct MailServer {
    std::string host;
    unsigned short port = 25;
    bool has_credentials = false;
    std::string user;
    std::string password;
    bool operator==(const MailServer&) const = default;
};
int parse_mail_server(std::string_view text, MailServer& out);

// One address of an address list: "Name <box@host>" or "box@host".
struct MailAddress {
    std::string display;  // as given, quotes included; may be empty
    std::string mailbox;  // what goes between < and > in MAIL and RCPT
};
// Splits at "," and ";" outside quotes and angle brackets; empty items are
// skipped. kMailBadAddress for an item that cannot be sent as it is.
int split_addresses(std::string_view list, std::vector<MailAddress>& out);

// The message as it goes after DATA: header block, empty line, body, CRLF
// line ends, not yet dot-stuffed.
struct MessageParts {
    MailAddress from;
    std::vector<MailAddress> to;
    std::vector<MailAddress> cc;
    std::string subject;
    std::string body;
    std::string charset;     // MIME name of the code page the texts are in
    bool eight_bit_ok = false;  // the server takes 8bit bodies (8BITMIME)
    std::string date;        // RFC 5322 date-time
    std::string message_id;  // with its angle brackets
};
struct ComposedMessage {
    std::string text;
    bool eight_bit = false;  // the body went out as 8bit with bytes above 127
};
ComposedMessage compose_message(const MessageParts& parts);

// RFC 2047 "B" encoded words of at most 75 characters, joined by CRLF and a
// blank so that no header line grows past 76 characters; `first_used` is
// what the header's name already takes of the first line. Multi-byte
// characters of the code page are never split between two words.
std::string encode_words(std::string_view text, std::string_view charset, unsigned code_page, size_t first_used);
std::string quoted_printable(std::string_view body);
// MIME charset name of a Windows code page ("windows-1252" for 1252).
std::string charset_of_code_page(unsigned code_page);

std::unique_ptr<MailEngine> make_smtp_client(const Timeouts& timeouts = {});

}  // namespace quillnet::engine

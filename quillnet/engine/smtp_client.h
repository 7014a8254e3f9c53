// Our mail client: hands one message at a time to an SMTP server.
//   RFC 5321  Simple Mail Transfer Protocol (greeting, EHLO with a fall back
//             to HELO, MAIL, RCPT, DATA, RSET, QUIT; 421 closes the session)
//   RFC 6152  8BITMIME (BODY=8BITMIME when an 8bit body goes out)
//   RFC 2920  PIPELINING: MAIL, every RCPT and DATA (or the BDAT chunk) in
//             one write, the replies matched to them in order
//   RFC 3030  CHUNKING: the message as one sized BDAT chunk, not dot-stuffed
//   RFC 4954  SMTP AUTH, with RFC 4616 PLAIN and the LOGIN mechanism
//   RFC 3207  STARTTLS (and EHLO asked again after it); smtps:// speaks TLS
//             from the first byte (RFC 8314, port 465)
// Credentials go out only over TLS, unless the server text opts out of it.
// The message itself is made by mail_message.h; this is the conversation.
// A message goes to all its recipients or to none: one refused recipient
// fails the send with the refusal's code, and the transaction is reset (or,
// where the server already took DATA, the session is dropped) before a byte
// of the message is committed.
// Every operation is synchronous and bounded by the connect and read limits
// of limits.h: a server that stalls ends the action with an error.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "quillnet/engine/limits.h"
#include "quillnet/engine/server_address.h"

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
    kMailTlsFailed = 2009,       // the TLS handshake failed, or the server spoke no TLS
    kMailCertExpired = 2010,     // the server's certificate is out of its dates
    kMailCertUntrusted = 2011,   // self-signed, or not from a root the machine trusts
    kMailCertWrongHost = 2012,   // the certificate is for other host names
    kMailCertRefused = 2013,     // the certificate chain was refused for another reason
    kMailTlsNotOffered = 2014,   // smtp+starttls://, and EHLO does not list STARTTLS
    kMailCredentialsInClear = 2015, // credentials, no TLS, and no smtp+plain:// to allow it
    kMailAddressNeedsSmtpUtf8 = 2020, // texts in UTF-8, an address beyond ASCII, and no SMTPUTF8 offered
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
    // A server text as parse_mail_server reads it.
    virtual int SetMailServer(std::string_view server) = 0;
    virtual int SetMailField1(std::string_view from) = 0;     // the sender
    virtual int SetMailField2(std::string_view to) = 0;       // addresses split by "," or ";"
    virtual int SetMailField3(std::string_view subject) = 0;
    virtual int SetMailField4(std::string_view body) = 0;
    virtual int SetMailField5(std::string_view cc) = 0;       // addresses split by "," or ";"
    virtual int SetNetworkEnabled(int enabled) = 0;
    virtual int SetAction(int action) = 0;
    // The code page the fields are in: 0, the ANSI code page, or 65001.
    virtual int SetTextCodePage(unsigned codePage) {
        (void)codePage;
        return 0;
    }
};

// A server text of server_address.h with the mail schemes: smtp:// (port 25,
// also for a text without a scheme: STARTTLS when EHLO lists it),
// smtp+starttls:// (STARTTLS or nothing), smtp+plain:// (never TLS;
// credentials in clear) and smtps:// (port 465, TLS from the start). A path
// other than "/" is refused. 0 or kMailBadServer; `out` is written only on 0.
int parse_mail_server(std::string_view text, ServerAddress& out);

std::unique_ptr<MailEngine> make_smtp_client(const Timeouts& timeouts = {});

}  // namespace quillnet::engine

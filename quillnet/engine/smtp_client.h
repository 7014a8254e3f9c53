// Our mail client: hands one message at a time to an SMTP server.
//   RFC 5321  Simple Mail Transfer Protocol (greeting, EHLO with a fall back
//             to HELO, MAIL, RCPT, DATA, RSET, QUIT; 421 closes the session)
//   RFC 6152  8BITMIME (BODY=8BITMIME when an 8bit body goes out)
//   RFC 4954  SMTP AUTH, with RFC 4616 PLAIN and the LOGIN mechanism
// The message itself is made by mail_message.h; this is the conversation.
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
};

// A server text of server_address.h with the mail schemes: smtp:// (port 25,
// also for a text without a scheme; a path other than "/" is refused) and
// smtps:// (port 465, TLS from the start, which is refused until mail over
// TLS is spoken). 0 or kMailBadServer; `out` is written only on 0.
int parse_mail_server(std::string_view text, ServerAddress& out);

std::unique_ptr<MailEngine> make_smtp_client(const Timeouts& timeouts = {});

}  // namespace quillnet::engine

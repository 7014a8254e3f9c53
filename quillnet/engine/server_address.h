// Server texts, the one grammar every protocol client reads:
//   host                  host:port
//   [v6addr]              [v6addr]:port          v6addr (bare, no port)
//   scheme://[user[:password]@]host[:port][/path]
// Host names are letters, digits, "-", "." and "_"; IPv6 addresses follow
// RFC 4291 2.2 (with an IPv4 tail allowed). User and password are
// percent-decoded (RFC 3986 2.1), so they may hold "@", ":" or "/"; decoded
// they must not hold CR, LF or NUL, which would end a command line early.
// Blanks and tabs around the text are ignored. Each client names the schemes
// it speaks, with their ports and whether they begin with TLS (implicit TLS,
// as nntps and smtps do), whether a plain start goes over to TLS (STARTTLS),
// and the port and STARTTLS rule of a text without a scheme.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace quillnet::engine {

// What a connection that begins in plain text does about STARTTLS.
enum class StartTls {
    when_offered,  // upgrade when the server offers it; credentials only after it
    required,      // upgrade or give up: the server must offer it
    never,         // stay plain, credentials in clear: the page author asked so
};

struct ServerScheme {
    std::string_view name;  // lower case; matched in any case
    unsigned short port;
    bool secure;  // the connection begins with TLS
    StartTls starttls = StartTls::when_offered;
};

struct ServerSyntax {
    std::span<const ServerScheme> schemes;
    unsigned short default_port;  // for a text without a scheme
};

struct ServerAddress {
    std::string scheme;  // as named in the syntax; empty when the text had none
    std::string host;    // IPv6 addresses without their brackets
    unsigned short port = 0;
    bool secure = false;
    StartTls starttls = StartTls::when_offered;  // for a text without a scheme too
    bool has_credentials = false;  // a user was given (the password may be empty)
    std::string user;
    std::string password;
    std::string path;  // from the "/" after host[:port] on; empty when none
    bool operator==(const ServerAddress&) const = default;
};

// False for a text outside the grammar or with a scheme the syntax does not
// name; `out` is written only on success.
bool parse_server_address(std::string_view text, const ServerSyntax& syntax, ServerAddress& out);

// A host name as the grammar takes it (not an IPv6 address).
bool valid_host_name(std::string_view host) noexcept;

}  // namespace quillnet::engine

// HTTP/1.x requests as the page host reads them, and the text rules pages
// see through Request and Server: query and form pairs, cookies, the
// encodings of Server.HTMLEncode and Server.URLEncode. Plain C++.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host {

using Pairs = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method;
    std::string target;  // as sent, e.g. /site/group.asp?g=test.pics
    std::string path;    // decoded path part
    std::string query;   // raw query part, without "?"
    std::string version; // "HTTP/1.1" or "HTTP/1.0"
    Pairs headers;       // names as sent
    std::string body;

    // The value of a header by case-insensitive name, or nothing.
    std::optional<std::string_view> header(std::string_view name) const;
};

// The largest request head and body the host accepts.
inline constexpr size_t kMaxHeadBytes = 64 * 1024;
inline constexpr size_t kMaxBodyBytes = 256u * 1024 * 1024;

// Parses the head (request line and headers, up to the blank line).
// Gives the reason when the head is not a request the host can serve.
std::optional<std::string> parse_head(std::string_view head, HttpRequest& out);

// The body length the head announces: 0 without Content-Length, nothing
// when the value is not a number or the body is chunked.
std::optional<size_t> announced_length(const HttpRequest& request);

// Whether the client keeps the connection for another request: HTTP/1.1
// unless it says "Connection: close", HTTP/1.0 only when it asks for
// keep-alive.
bool wants_keep_alive(const HttpRequest& request);

// %XX decoded; with plus_is_space also "+" as a blank (query and form rule).
// A "%" not followed by two hex digits stays as it is.
std::string url_decode(std::string_view text, bool plus_is_space);

// "a=1&b=2" into decoded pairs, in order; a name without "=" has an empty value.
Pairs parse_pairs(std::string_view text);
// "a=1; b=2" (the Cookie header) into pairs, values %-decoded.
Pairs parse_cookies(std::string_view text);
// Every value of a case-insensitive name joined with ", ", as IIS gives a
// name that appears more than once; nothing when the name is absent.
std::optional<std::string> lookup(const Pairs& pairs, std::string_view name);

// Server.HTMLEncode: & < > " as entities; the rest unchanged (UTF-8 in, UTF-8 out).
std::string html_encode(std::string_view utf8);
// Server.URLEncode: letters and digits kept, blank as "+", every other byte %XX.
std::string url_encode(std::string_view bytes);

}  // namespace host

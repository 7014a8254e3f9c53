#include "quillnet/engine/server_address.h"

#include <algorithm>

#include "frame/ascii.h"
#include "frame/parse.h"

namespace quillnet::engine {
namespace {

using frame::ascii::equals_nocase;
using frame::ascii::hex_value;
using frame::ascii::is_alpha;
using frame::ascii::is_digit;
using frame::ascii::trim;

// Bytes that would end or split a command line if they reached one.
bool has_line_break(std::string_view s) noexcept { return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos; }

// Strict: a "%" must start a whole escape, so a mistyped password is refused
// instead of being sent as something else.
bool decode_credential(std::string_view s, std::string& out) {
    return frame::percent_decode(s, out, frame::Escapes::strict) && !has_line_break(out);
}

bool parse_port(std::string_view s, unsigned short& port) noexcept {
    unsigned v = 0;
    if (!frame::parse_decimal(s, v, 5) || v < 1 || v > 65535) return false;
    port = static_cast<unsigned short>(v);
    return true;
}

bool valid_ipv4(std::string_view s) noexcept {
    for (int part = 0; part < 4; ++part) {
        const size_t dot = s.find('.');
        const std::string_view n = s.substr(0, dot);
        unsigned v = 0;
        if (!frame::parse_decimal(n, v, 3) || v > 255) return false;
        if (part == 3) return dot == s.npos;
        if (dot == s.npos) return false;
        s.remove_prefix(dot + 1);
    }
    return false;
}

// Eight groups of one to four hex digits, or fewer with one "::" standing
// for the missing ones; the last two groups may be written as IPv4.
bool valid_ipv6(std::string_view s) noexcept {
    if (s.size() < 2 || s.size() > 45) return false;
    size_t groups = 0;
    bool compressed = false;
    size_t i = 0;
    if (s.substr(0, 2) == "::") {
        compressed = true;
        i = 2;
        if (i == s.size()) return true;
    } else if (s[0] == ':') {
        return false;
    }
    for (;;) {
        const size_t end = s.find(':', i);
        const std::string_view g = s.substr(i, end == s.npos ? s.npos : end - i);
        if (end == s.npos && g.find('.') != g.npos) {
            if (!valid_ipv4(g)) return false;
            groups += 2;
            break;
        }
        if (g.empty() || g.size() > 4 || !std::all_of(g.begin(), g.end(), [](char c) { return hex_value(c) >= 0; }))
            return false;
        ++groups;
        if (end == s.npos) break;
        if (end + 1 < s.size() && s[end + 1] == ':') {
            if (compressed) return false;
            compressed = true;
            i = end + 2;
            if (i == s.size()) break;
        } else {
            i = end + 1;
            if (i == s.size()) return false;
        }
    }
    return compressed ? groups <= 7 : groups == 8;
}

bool parse_host_port(std::string_view s, ServerAddress& a) {
    if (!s.empty() && s.front() == '[') {
        const size_t close = s.find(']');
        if (close == s.npos || !valid_ipv6(s.substr(1, close - 1))) return false;
        a.host.assign(s.substr(1, close - 1));
        const std::string_view rest = s.substr(close + 1);
        return rest.empty() || (rest.front() == ':' && parse_port(rest.substr(1), a.port));
    }
    const size_t colon = s.find(':');
    if (colon != s.npos && s.find(':', colon + 1) != s.npos) {
        // Two colons or more: an IPv6 address without brackets, so no port.
        if (!valid_ipv6(s)) return false;
        a.host.assign(s);
        return true;
    }
    const std::string_view host = s.substr(0, colon);
    if (!valid_host_name(host)) return false;
    a.host.assign(host);
    return colon == s.npos || parse_port(s.substr(colon + 1), a.port);
}

// "user[:password]": the first colon separates them, as RFC 3986 3.2.1 says.
bool parse_user_info(std::string_view info, ServerAddress& a) {
    const size_t colon = info.find(':');
    if (!decode_credential(info.substr(0, colon), a.user) || a.user.empty()) return false;
    if (colon != info.npos && !decode_credential(info.substr(colon + 1), a.password)) return false;
    a.has_credentials = true;
    return true;
}

}  // namespace

bool valid_host_name(std::string_view host) noexcept {
    if (host.empty() || host.size() > 255) return false;
    return std::all_of(host.begin(), host.end(),
                       [](char c) { return is_alpha(c) || is_digit(c) || c == '-' || c == '.' || c == '_'; });
}

bool parse_server_address(std::string_view text, const ServerSyntax& syntax, ServerAddress& out) {
    std::string_view s = trim(text);
    if (s.empty() || has_line_break(s)) return false;
    ServerAddress a;
    a.port = syntax.default_port;
    const size_t scheme_end = s.find("://");
    if (scheme_end != s.npos) {
        const std::string_view name = s.substr(0, scheme_end);
        const auto scheme = std::find_if(syntax.schemes.begin(), syntax.schemes.end(),
                                         [&](const ServerScheme& k) { return equals_nocase(name, k.name); });
        if (scheme == syntax.schemes.end()) return false;
        a.scheme.assign(scheme->name);
        a.port = scheme->port;
        a.secure = scheme->secure;
        a.starttls = scheme->starttls;
        s.remove_prefix(scheme_end + 3);
        const size_t slash = s.find('/');
        if (slash != s.npos) {
            a.path.assign(s.substr(slash));
            s = s.substr(0, slash);
        }
        // The last "@" ends the user part: a raw "@" in a password is taken.
        const size_t at = s.rfind('@');
        if (at != s.npos) {
            if (!parse_user_info(s.substr(0, at), a)) return false;
            s.remove_prefix(at + 1);
        }
    }
    if (!parse_host_port(s, a)) return false;
    out = std::move(a);
    return true;
}

}  // namespace quillnet::engine

// Server texts: a text read as a server names a host of the grammar (or an
// IPv6 address), a port above 0, credentials without CR, LF or NUL, and
// nothing longer than the text; written back in the grammar's own form, it
// reads as the same server.
#include <cctype>
#include <string>

#include "check.h"
#include "quillnet/engine/server_address.h"

using namespace quillnet::engine;

namespace {

constexpr ServerScheme kSchemes[] = {{"nntp", 119, false}, {"nntps", 563, true}, {"smtp", 25, false}};
constexpr ServerSyntax kSyntax{kSchemes, 119};

bool clean(const std::string& s) { return s.find_first_of(std::string("\r\n\0", 3)) == std::string::npos; }

std::string percent_encoded(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back("0123456789ABCDEF"[c >> 4]);
            out.push_back("0123456789ABCDEF"[c & 15]);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = fuzz::text_of(data, size);
    ServerAddress a;
    if (!parse_server_address(text, kSyntax, a)) return 0;
    FUZZ_CHECK(!a.host.empty() && a.host.size() <= size);
    FUZZ_CHECK(a.host.find(':') != std::string::npos || valid_host_name(a.host));
    FUZZ_CHECK(a.port > 0);
    FUZZ_CHECK(clean(a.user) && clean(a.password));
    FUZZ_CHECK(a.has_credentials || (a.user.empty() && a.password.empty()));

    std::string again = (a.scheme.empty() && !a.has_credentials && a.path.empty()) ? "" : (a.scheme.empty() ? "nntp" : a.scheme) + "://";
    if (a.has_credentials) again += percent_encoded(a.user) + ":" + percent_encoded(a.password) + "@";
    again += a.host.find(':') != std::string::npos ? "[" + a.host + "]" : a.host;
    again += ":" + std::to_string(a.port) + a.path;
    ServerAddress b;
    FUZZ_CHECK(parse_server_address(again, kSyntax, b));
    FUZZ_CHECK(b.host == a.host && b.port == a.port && b.user == a.user && b.password == a.password &&
               b.path == a.path && b.has_credentials == a.has_credentials);
    return 0;
}

#include "host/http_request.h"

#include <cstdint>

#include "frame/ascii.h"
#include "frame/parse.h"

namespace host {

using frame::ascii::equals_nocase;
using frame::ascii::is_digit;
using frame::ascii::kHexDigits;
using frame::ascii::trim;

std::optional<std::string_view> HttpRequest::header(std::string_view name) const {
    for (const auto& [n, v] : headers)
        if (equals_nocase(n, name)) return std::string_view(v);
    return std::nullopt;
}

std::optional<std::string> parse_head(std::string_view head, HttpRequest& out) {
    if (head.size() > kMaxHeadBytes) return std::string("request head too large");
    size_t eol = head.find('\n');
    std::string_view line = head.substr(0, eol);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t sp1 = line.find(' ');
    const size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos) return std::string("malformed request line");
    out.method = std::string(line.substr(0, sp1));
    out.target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
    out.version = std::string(line.substr(sp2 + 1));
    if (out.version != "HTTP/1.1" && out.version != "HTTP/1.0") return std::string("not HTTP/1.x");
    if (out.target.empty() || out.target.front() != '/') return std::string("request target is not a path");
    const size_t q = out.target.find('?');
    out.path = url_decode(std::string_view(out.target).substr(0, q), false);
    out.query = q == std::string::npos ? std::string() : out.target.substr(q + 1);
    if (out.path.find('\0') != std::string::npos) return std::string("NUL in the path");
    while (eol != std::string_view::npos) {
        const size_t start = eol + 1;
        eol = head.find('\n', start);
        line = head.substr(start, eol == std::string_view::npos ? std::string_view::npos : eol - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return std::string("malformed header line");
        out.headers.emplace_back(std::string(line.substr(0, colon)), std::string(trim(line.substr(colon + 1))));
    }
    return std::nullopt;
}

std::optional<size_t> announced_length(const HttpRequest& request) {
    if (auto te = request.header("Transfer-Encoding"); te && !equals_nocase(*te, "identity")) return std::nullopt;
    const auto value = request.header("Content-Length");
    if (!value) return size_t{0};
    uint64_t n = 0;
    if (!frame::parse_decimal(*value, n, 15) || n > SIZE_MAX) return std::nullopt;
    return static_cast<size_t>(n);
}

bool wants_keep_alive(const HttpRequest& request) {
    // The header is a list of options; "close" or "keep-alive" anywhere in it counts.
    bool close = false, keep = false;
    if (auto value = request.header("Connection")) {
        std::string_view rest = *value;
        while (!rest.empty()) {
            const size_t comma = rest.find(',');
            const std::string_view option = trim(rest.substr(0, comma));
            close = close || equals_nocase(option, "close");
            keep = keep || equals_nocase(option, "keep-alive");
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
    }
    if (close) return false;
    return request.version == "HTTP/1.1" || keep;
}

std::string url_decode(std::string_view text, bool plus_is_space) {
    std::string out;
    frame::percent_decode(text, out, frame::Escapes::lenient, plus_is_space);
    return out;
}

namespace {

Pairs split_pairs(std::string_view text, char separator, bool plus_is_space) {
    Pairs out;
    size_t i = 0;
    while (i <= text.size()) {
        size_t end = text.find(separator, i);
        if (end == std::string_view::npos) end = text.size();
        std::string_view item = text.substr(i, end - i);
        if (separator == ';') item = trim(item);
        if (!item.empty()) {
            const size_t eq = item.find('=');
            out.emplace_back(url_decode(item.substr(0, eq), plus_is_space),
                             eq == std::string_view::npos ? std::string()
                                                          : url_decode(item.substr(eq + 1), plus_is_space));
        }
        i = end + 1;
    }
    return out;
}

}  // namespace

Pairs parse_pairs(std::string_view text) { return split_pairs(text, '&', true); }
Pairs parse_cookies(std::string_view text) { return split_pairs(text, ';', false); }

std::optional<std::string> lookup(const Pairs& pairs, std::string_view name) {
    std::optional<std::string> found;
    for (const auto& [n, v] : pairs) {
        if (!equals_nocase(n, name)) continue;
        if (found) *found += ", " + v;
        else found = v;
    }
    return found;
}

std::string html_encode(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + utf8.size() / 8);
    for (char c : utf8) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

std::string url_encode(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (frame::ascii::is_alpha(c) || is_digit(c)) {
            out.push_back(c);
        } else if (c == ' ') {
            out.push_back('+');
        } else {
            out.push_back('%');
            out.push_back(kHexDigits[u >> 4]);
            out.push_back(kHexDigits[u & 15]);
        }
    }
    return out;
}

}  // namespace host

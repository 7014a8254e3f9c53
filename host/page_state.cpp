#include "host/page_state.h"

#include "frame/ascii.h"

namespace host {

using frame::ascii::equals_nocase;
using frame::ascii::starts_with_nocase;

const Pairs& PageState::query_pairs() {
    if (!query) query = parse_pairs(request.query);
    return *query;
}

const Pairs& PageState::form_pairs() {
    if (!form) {
        const auto type = request.header("Content-Type");
        form = type && starts_with_nocase(*type, "application/x-www-form-urlencoded") ? parse_pairs(request.body)
                                                                                      : Pairs{};
    }
    return *form;
}

const Pairs& PageState::cookie_pairs() {
    if (!cookies) cookies = parse_cookies(request.header("Cookie").value_or(""));
    return *cookies;
}

std::optional<std::string> PageState::server_variable(std::string_view name) const {
    auto header = [&](std::string_view h) { return std::string(request.header(h).value_or("")); };
    if (equals_nocase(name, "REQUEST_METHOD")) return request.method;
    if (equals_nocase(name, "QUERY_STRING")) return request.query;
    if (equals_nocase(name, "SCRIPT_NAME") || equals_nocase(name, "URL") || equals_nocase(name, "PATH_INFO"))
        return page;
    if (equals_nocase(name, "PATH_TRANSLATED")) return map_path(page);
    if (equals_nocase(name, "APPL_PHYSICAL_PATH")) return web_root + "\\";
    if (equals_nocase(name, "APPL_MD_PATH")) return std::string("/");
    if (equals_nocase(name, "CONTENT_TYPE")) return header("Content-Type");
    if (equals_nocase(name, "CONTENT_LENGTH")) return std::to_string(request.body.size());
    if (equals_nocase(name, "SERVER_NAME")) {
        std::string host = header("Host");
        const size_t colon = host.rfind(':');
        if (colon != std::string::npos && host.find(']', colon) == std::string::npos) host.resize(colon);
        return host.empty() ? std::string("127.0.0.1") : host;
    }
    if (equals_nocase(name, "SERVER_PORT")) return server_port;
    if (equals_nocase(name, "SERVER_PROTOCOL")) return std::string("HTTP/1.1");
    if (equals_nocase(name, "SERVER_SOFTWARE")) return std::string("Quillnet page host");
    if (equals_nocase(name, "REMOTE_ADDR") || equals_nocase(name, "REMOTE_HOST")) return remote_addr;
    if (equals_nocase(name, "HTTPS")) return std::string("off");
    if (starts_with_nocase(name, "HTTP_") && name.size() > 5) {
        std::string h(name.substr(5));
        for (char& c : h)
            if (c == '_') c = '-';
        return header(h);
    }
    return std::nullopt;
}

std::string PageState::map_path(std::string_view path) const {
    std::string v = resolve_virtual(page, path);
    if (v.empty()) return {};
    while (v.size() > 1 && v.back() == '/') v.pop_back();
    std::string out = web_root;
    if (v != "/") out += v;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

int PageState::status_code() const {
    int code = 0;
    for (char c : status) {
        if (!frame::ascii::is_digit(c)) break;
        code = code * 10 + (c - '0');
        if (code > 999) return 500;
    }
    return code >= 100 ? code : 500;
}

std::string PageState::content_type_header() const {
    std::string type = content_type;
    const bool textual = starts_with_nocase(type, "text/");
    if (type.find("charset") == std::string::npos && (textual || !charset.empty()))
        type += "; charset=" + (charset.empty() ? std::string("utf-8") : charset);
    return type;
}

bool safe_header_text(std::string_view text) {
    for (char c : text)
        if (c == '\r' || c == '\n' || c == '\0') return false;
    return true;
}

}  // namespace host

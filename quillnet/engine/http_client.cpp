// The web client over WinHTTP (RFC 9110 semantics, RFC 9112 messages,
// RFC 7617 Basic authentication; other schemes as WinHTTP negotiates them).
//
// Redirects are followed here rather than by WinHTTP so that the limit of
// ten hops and the refusal to fall back from https to http behave the same
// on every WinHTTP, Wine's included.
#include "quillnet/engine/http_client.h"

#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

#include "frame/handles.h"
#include "frame/text.h"
#include "frame/ascii.h"

namespace quillnet::engine {
namespace {

using frame::ascii::equals_nocase;
using frame::ascii::trim;

namespace traits {
struct hinternet {
    using type = HINTERNET;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::WinHttpCloseHandle(h); }
};
}  // namespace traits
// Session, connection and request handles all close the same way.
using unique_hinternet = frame::unique_any<traits::hinternet>;

constexpr wchar_t kUserAgent[] = L"Quillnet/1.0";
constexpr size_t kReadBuffer = 256 * 1024;
constexpr size_t kMaxChunk = 65535;  // a Transfer event carries a 16-bit length

int last_error() {
    const DWORD e = ::GetLastError();
    // Wine's WinHTTP lets the socket's own timeout code through where
    // Windows reports its WinHTTP one; a page sees the same number on both.
    if (e == WSAETIMEDOUT) return ERROR_WINHTTP_TIMEOUT;
    return e ? static_cast<int>(e) : ERROR_WINHTTP_INTERNAL_ERROR;
}

struct Url {
    bool secure = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring path;  // path and query, never empty
};

// Spaces and control characters would be sent as they are and split the
// request line, so such an address is refused rather than guessed at.
bool has_bad_characters(std::wstring_view text) {
    return std::any_of(text.begin(), text.end(), [](wchar_t c) { return c <= 0x20 || c == 0x7F; });
}

int parse_url(const std::wstring& text, Url& out) {
    if (text.empty() || has_bad_characters(text)) return ERROR_WINHTTP_INVALID_URL;
    const size_t colon = text.find(L"://");
    if (colon == std::wstring::npos) return ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(text.c_str(), static_cast<DWORD>(text.size()), 0, &parts)) {
        const int e = last_error();
        return e == ERROR_WINHTTP_UNRECOGNIZED_SCHEME ? e : ERROR_WINHTTP_INVALID_URL;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
    if (!parts.lpszHostName || parts.dwHostNameLength == 0) return ERROR_WINHTTP_INVALID_URL;
    Url url;
    url.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    url.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    url.port = parts.nPort;
    if (parts.lpszUrlPath) url.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) url.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    // The fragment belongs to the reader of the page, never to the server.
    if (const size_t hash = url.path.find(L'#'); hash != std::wstring::npos) url.path.erase(hash);
    if (url.path.empty() || url.path[0] != L'/') url.path.insert(0, L"/");
    out = std::move(url);
    return 0;
}

std::wstring origin_of(const Url& u) {
    std::wstring s = u.secure ? L"https://" : L"http://";
    s += u.host;
    s += L":" + std::to_wstring(u.port);
    return s;
}

// A Location value may be absolute, scheme-relative, host-relative or
// relative to the folder of the current path.
std::wstring resolve_location(const Url& base, const std::wstring& location) {
    if (location.find(L"://") != std::wstring::npos) return location;
    if (location.rfind(L"//", 0) == 0) return std::wstring(base.secure ? L"https:" : L"http:") + location;
    if (!location.empty() && location[0] == L'/') return origin_of(base) + location;
    std::wstring folder = base.path.substr(0, base.path.find(L'?'));
    folder.erase(folder.rfind(L'/') + 1);
    return origin_of(base) + folder + location;
}

std::optional<std::wstring> query_text(HINTERNET request, DWORD what) {
    DWORD size = 0;
    ::WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                          WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::nullopt;
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (!::WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                               WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    value.resize(size / sizeof(wchar_t));
    return value;
}

std::string narrow_ascii(const std::wstring& w) {
    std::string s;
    s.reserve(w.size());
    for (wchar_t c : w) s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return s;
}

bool is_redirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

DWORD pick_scheme(DWORD supported) {
    for (DWORD s : {WINHTTP_AUTH_SCHEME_NEGOTIATE, WINHTTP_AUTH_SCHEME_NTLM, WINHTTP_AUTH_SCHEME_DIGEST,
                    WINHTTP_AUTH_SCHEME_BASIC}) {
        if (supported & s) return s;
    }
    return 0;
}

class HttpClient final : public WebClient {
  public:
    HttpClient(WebEvents& owner, const WebTimeouts& timeouts) : owner_(owner), timeouts_(timeouts) {}

    int SetURL(std::string_view url) override {
        url_.reset();
        Url parsed;
        const int e = parse_url(frame::ansi_to_wide(url), parsed);
        if (e == 0) url_ = std::move(parsed);
        return e;
    }
    int SetUser(std::string_view user) override {
        user_ = frame::ansi_to_wide(user);
        return 0;
    }
    int SetPassword(std::string_view password) override {
        password_ = frame::ansi_to_wide(password);
        return 0;
    }
    int SetProxyServer(std::string_view server) override {
        std::wstring name = frame::ansi_to_wide(server);
        if (name.rfind(L"http://", 0) == 0) name.erase(0, 7);
        while (!name.empty() && name.back() == L'/') name.pop_back();
        if (has_bad_characters(name) || name.find_first_of(L"/?#@") != std::wstring::npos)
            return ERROR_WINHTTP_INVALID_URL;
        proxy_server_ = std::move(name);
        return 0;
    }
    int SetProxyPort(int port) override {
        // Port 0 is accepted only while no proxy is named: SetProxy("", 0)
        // is how a page turns the proxy off.
        if (port == 0 && proxy_server_.empty()) return 0;
        if (port < 1 || port > 65535) return kWebErrorBadPort;
        proxy_port_ = static_cast<INTERNET_PORT>(port);
        return 0;
    }
    int SetNetworkEnabled(int enabled) override {
        enabled_ = enabled != 0;
        if (!enabled_) session_.reset();
        return 0;
    }
    int SetAction(int action) override {
        if (action != kWebActionGet) return kWebErrorBadAction;
        return get();
    }
    std::string ContentType() const override { return content_type_; }
    int SetTimeLimit(int seconds) override {
        if (seconds < 0 || seconds > kMaxTimeLimit) return kWebErrorBadLimit;
        time_limit_ = std::chrono::seconds(seconds);
        return 0;
    }
    int SetRedirectLimit(int count) override {
        if (count < 0 || count > kMaxRedirects) return kWebErrorBadLimit;
        redirect_limit_ = count;
        return 0;
    }

  private:
    std::wstring proxy_text() const {
        if (proxy_server_.empty()) return {};
        return proxy_server_ + L":" + std::to_wstring(proxy_port_);
    }

    // Some WinHTTPs (Wine's) honour a proxy only when the session is opened
    // with it, so a changed proxy means a new session.
    int open_session() {
        const std::wstring proxy = proxy_text();
        if (session_ && proxy == session_proxy_) return 0;
        session_.reset();
        if (proxy.empty()) {
            session_.reset(::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0));
        } else {
            session_.reset(
                ::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, 0));
        }
        if (!session_) return last_error();
        if (!::WinHttpSetTimeouts(session_.get(), timeouts_.resolve_ms, timeouts_.connect_ms, timeouts_.send_ms,
                                  timeouts_.receive_ms)) {
            const int e = last_error();
            session_.reset();
            return e;
        }
        session_proxy_ = proxy;
        return 0;
    }

    // Sends the request and reads the status; on 401 with a user given,
    // answers the server's strongest offered scheme once and asks again.
    int exchange(HINTERNET request, DWORD& status) {
        bool answered = false;
        for (;;) {
            if (!::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
                return last_error();
            if (!::WinHttpReceiveResponse(request, nullptr)) return last_error();
            DWORD size = sizeof status;
            if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                       WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
                return last_error();
            if (status != 401 || user_.empty() || answered) return 0;
            DWORD supported = 0, first = 0, target = 0;
            if (!::WinHttpQueryAuthSchemes(request, &supported, &first, &target)) return 0;
            const DWORD scheme = pick_scheme(supported);
            if (scheme == 0) return 0;
            if (!::WinHttpSetCredentials(request, target, scheme, user_.c_str(), password_.c_str(), nullptr))
                return last_error();
            answered = true;
        }
    }

    int read_body(HINTERNET request) {
        std::optional<uint64_t> expected;
        if (auto length = query_text(request, WINHTTP_QUERY_CONTENT_LENGTH)) {
            try {
                expected = std::stoull(*length);
            } catch (...) {
            }
        }
        if (expected) owner_.BodyLength(*expected);
        std::vector<char> buffer(kReadBuffer);
        int64_t offset = 0;
        for (;;) {
            DWORD got = 0;
            if (!::WinHttpReadData(request, buffer.data(), static_cast<DWORD>(buffer.size()), &got))
                return last_error();
            if (got == 0) break;
            // A server that trickles its page keeps every single wait short.
            if (past_deadline()) return ERROR_WINHTTP_TIMEOUT;
            for (DWORD pos = 0; pos < got;) {
                const auto piece = static_cast<uint16_t>(std::min<size_t>(kMaxChunk, got - pos));
                owner_.Transfer(kTransferBody, offset, buffer.data() + pos, piece);
                pos += piece;
                offset += piece;
            }
        }
        // A connection that ends before the announced length is a failed
        // fetch, not a short page.
        if (expected && static_cast<uint64_t>(offset) != *expected) return ERROR_WINHTTP_CONNECTION_ERROR;
        return 0;
    }

    int get() {
        if (!enabled_) return kWebErrorNetworkDisabled;
        if (!url_) return ERROR_WINHTTP_INVALID_URL;
        if (const int e = open_session()) return e;
        deadline_ = time_limit_.count() ? std::optional(std::chrono::steady_clock::now() + time_limit_) : std::nullopt;
        Url current = *url_;
        for (int hop = 0;; ++hop) {
            if (past_deadline()) return ERROR_WINHTTP_TIMEOUT;
            unique_hinternet connection(::WinHttpConnect(session_.get(), current.host.c_str(), current.port, 0));
            if (!connection) return last_error();
            unique_hinternet request(::WinHttpOpenRequest(connection.get(), L"GET", current.path.c_str(), nullptr,
                                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                          current.secure ? WINHTTP_FLAG_SECURE : 0));
            if (!request) return last_error();
            DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
            ::WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects, sizeof no_redirects);
            // The wait for the response headers has a limit of its own, which
            // some WinHTTPs (Wine's) leave unbounded: a silent server would
            // hang the page.
            // Headers are bounded (64 KB, as WinHTTP's own default), so a
            // server sending an endless header line gets an error.
            DWORD header_limit = 64 * 1024;
            ::WinHttpSetOption(request.get(), WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &header_limit,
                               sizeof header_limit);
            // A page's time limit cuts every wait of this request to it.
            const WebTimeouts t = limited_timeouts();
            ::WinHttpSetTimeouts(request.get(), t.resolve_ms, t.connect_ms, t.send_ms, t.receive_ms);
            DWORD header_wait = static_cast<DWORD>(t.receive_ms);
            ::WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &header_wait,
                               sizeof header_wait);
            DWORD status = 0;
            if (const int e = exchange(request.get(), status)) return e;

            if (is_redirect(status)) {
                auto location = query_text(request.get(), WINHTTP_QUERY_LOCATION);
                if (location) {
                    if (hop >= redirect_limit_) return ERROR_WINHTTP_REDIRECT_FAILED;
                    Url next;
                    if (parse_url(resolve_location(current, *location), next) != 0)
                        return ERROR_WINHTTP_REDIRECT_FAILED;
                    if (current.secure && !next.secure) return ERROR_WINHTTP_REDIRECT_FAILED;
                    current = std::move(next);
                    continue;
                }
            }
            if (status >= 400) return static_cast<int>(status);
            auto type = query_text(request.get(), WINHTTP_QUERY_CONTENT_TYPE);
            content_type_ = type ? narrow_ascii(*type) : std::string();
            return read_body(request.get());
        }
    }

    WebTimeouts limited_timeouts() const {
        WebTimeouts t = timeouts_;
        if (time_limit_.count() == 0) return t;
        const int ms = static_cast<int>(std::chrono::milliseconds(time_limit_).count());
        for (int* wait : {&t.resolve_ms, &t.connect_ms, &t.send_ms, &t.receive_ms}) *wait = std::min(*wait, ms);
        return t;
    }
    bool past_deadline() const { return deadline_ && std::chrono::steady_clock::now() > *deadline_; }

    WebEvents& owner_;
    WebTimeouts timeouts_;
    std::chrono::seconds time_limit_{0};
    int redirect_limit_ = kMaxRedirects;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    bool enabled_ = true;
    std::optional<Url> url_;
    std::wstring user_, password_;
    std::wstring proxy_server_;
    INTERNET_PORT proxy_port_ = 80;  // what WinHTTP assumes for a proxy named without a port
    unique_hinternet session_;
    std::wstring session_proxy_;
    std::string content_type_;
};

}  // namespace

std::unique_ptr<WebClient> make_http_client(WebEvents& owner, const WebTimeouts& timeouts) {
    return std::make_unique<HttpClient>(owner, timeouts);
}

bool content_type_is_utf8(std::string_view content_type) {
    size_t pos = content_type.find(';');
    while (pos != std::string_view::npos) {
        content_type.remove_prefix(pos + 1);
        pos = content_type.find(';');
        std::string_view param = trim(content_type.substr(0, pos));
        const size_t eq = param.find('=');
        if (eq == std::string_view::npos || !equals_nocase(trim(param.substr(0, eq)), "charset")) continue;
        std::string_view value = trim(param.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        return equals_nocase(value, "utf-8") || equals_nocase(value, "utf8");
    }
    return false;
}

}  // namespace quillnet::engine

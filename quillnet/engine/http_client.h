// The web client: fetches one document with GET over WinHTTP (RFC 9110,
// RFC 9112; RFC 7617 Basic and whatever scheme WinHTTP negotiates for
// authentication) and hands the body to its owner in chunks.
//
// Like the other protocol clients it is driven through setters and numbered
// actions, so the objects that use it can be tested against a scripted
// client that records every call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quillnet::engine {

// What the web client tells its owner while an action runs, on the caller's
// thread, before the action returns.
class WebEvents {
  public:
    virtual ~WebEvents() = default;
    // kind 1: a piece of the document body, at most 65,535 bytes; `offset` is
    // the number of body bytes delivered before this piece. Returns 0.
    virtual int Transfer(uint16_t kind, int64_t offset, const char* bytes, uint16_t length) = 0;
    // The body's announced length, before its first piece, when the server
    // gave one; lets an owner that keeps the body make room once.
    virtual void BodyLength(uint64_t bytes) {}
};

constexpr uint16_t kTransferBody = 1;

// Error numbers of our own (the rest are WinHTTP, Winsock or HTTP numbers).
constexpr int kWebErrorNetworkDisabled = 10050;  // WSAENETDOWN: SetNetworkEnabled(0) is in force
constexpr int kWebErrorBadAction = 87;           // ERROR_INVALID_PARAMETER: no such action
constexpr int kWebErrorBadPort = 87;             // ERROR_INVALID_PARAMETER: port outside 1..65535
constexpr int kWebErrorBadLimit = 87;            // ERROR_INVALID_PARAMETER: a time or redirect limit out of range

class WebClient {
  public:
    virtual ~WebClient() = default;
    // Each returns 0 on success, else an error number.
    virtual int SetURL(std::string_view url) = 0;
    virtual int SetUser(std::string_view user) = 0;
    virtual int SetPassword(std::string_view password) = 0;
    virtual int SetProxyServer(std::string_view server) = 0;
    virtual int SetProxyPort(int port) = 0;
    virtual int SetNetworkEnabled(int enabled) = 0;
    // Action 1: GET the current URL. A status of 400 or more is returned as
    // the error number; a WinHTTP failure as its error code.
    virtual int SetAction(int action) = 0;
    // The Content-Type of the last response that delivered a body.
    virtual std::string ContentType() const = 0;
    // Seconds a whole fetch may take, redirects included; every wait is cut
    // to it too. 0 keeps the defaults (WebTimeouts); 1 to kMaxTimeLimit.
    virtual int SetTimeLimit(int seconds) { return seconds == 0 ? 0 : kWebErrorBadLimit; }
    // How many redirects a fetch follows, 0 to kMaxRedirects (the default);
    // one past the limit ends the fetch with ERROR_WINHTTP_REDIRECT_FAILED.
    virtual int SetRedirectLimit(int count) { return count == 10 ? 0 : kWebErrorBadLimit; }
};

constexpr int kWebActionGet = 1;

// Limits of one GET. The defaults are the product's; tests pass shorter ones.
struct WebTimeouts {
    int resolve_ms = 30000;
    int connect_ms = 30000;
    int send_ms = 60000;
    int receive_ms = 60000;
};
constexpr int kMaxRedirects = 10;
constexpr int kMaxTimeLimit = 600;

std::unique_ptr<WebClient> make_http_client(WebEvents& owner, const WebTimeouts& timeouts = {});

// True when a Content-Type value names UTF-8 as its charset parameter.
bool content_type_is_utf8(std::string_view content_type);

}  // namespace quillnet::engine

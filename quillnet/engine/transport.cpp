#include "quillnet/engine/transport.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>

#include "frame/handles.h"

namespace quillnet::engine {
namespace {

// Winsock counts its users; every transport holds one use while it lives.
class WinsockUse {
  public:
    WinsockUse() noexcept {
        WSADATA data;
        ready_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockUse() {
        if (ready_) ::WSACleanup();
    }
    WinsockUse(const WinsockUse&) = delete;
    WinsockUse& operator=(const WinsockUse&) = delete;
    bool ready() const noexcept { return ready_; }

  private:
    bool ready_ = false;
};

IoResult fail(IoStatus status, int error) { return IoResult{status, error}; }

IoResult socket_failure(int err) {
    if (err == WSAETIMEDOUT) return fail(IoStatus::timeout, err);
    return fail(err == WSAECONNRESET || err == WSAECONNABORTED ? IoStatus::closed : IoStatus::failed, err);
}

// Waits until the socket is readable (or writable) or the time runs out.
IoResult wait_for(SOCKET s, bool write, uint32_t timeout_ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set errors;
    FD_ZERO(&errors);
    FD_SET(s, &errors);
    timeval tv{static_cast<long>(timeout_ms / 1000), static_cast<long>((timeout_ms % 1000) * 1000)};
    const int n = ::select(0, write ? nullptr : &set, write ? &set : nullptr, &errors, &tv);
    if (n == 0) return fail(IoStatus::timeout, WSAETIMEDOUT);
    if (n == SOCKET_ERROR) return fail(IoStatus::failed, ::WSAGetLastError());
    if (FD_ISSET(s, &errors)) {
        int err = 0;
        int len = sizeof err;
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
        return fail(IoStatus::failed, err ? err : WSAECONNREFUSED);
    }
    return IoResult::success();
}

class SocketTransport final : public Transport {
  public:
    SocketTransport(std::unique_ptr<WinsockUse> use, frame::unique_socket socket, Timeouts timeouts)
        : use_(std::move(use)), socket_(std::move(socket)), timeouts_(timeouts) {}

    // The socket blocks with SO_SNDTIMEO and SO_RCVTIMEO set to the read
    // limit (see connect_tcp): one call per send or receive instead of a
    // select() before each, which under Wine is a round trip to its server
    // and doubled the time of a command-and-reply protocol. Should the
    // socket still be non-blocking, select() does the waiting.
    IoResult send(const char* data, size_t size) override {
        while (size > 0) {
            const int chunk = static_cast<int>(size > (1u << 30) ? (1u << 30) : size);
            const int n = ::send(socket_.get(), data, chunk, 0);
            if (n == SOCKET_ERROR) {
                const int err = ::WSAGetLastError();
                if (err == WSAEWOULDBLOCK) {
                    const IoResult ready = wait_for(socket_.get(), true, timeouts_.read_ms);
                    if (!ready.ok()) return ready;
                    continue;
                }
                return socket_failure(err);
            }
            data += n;
            size -= static_cast<size_t>(n);
        }
        return IoResult::success();
    }

    IoResult receive(char* buffer, size_t capacity, size_t& got) override {
        got = 0;
        for (;;) {
            const int cap = static_cast<int>(capacity > (1u << 30) ? (1u << 30) : capacity);
            const int n = ::recv(socket_.get(), buffer, cap, 0);
            if (n > 0) {
                got = static_cast<size_t>(n);
                return IoResult::success();
            }
            if (n == 0) return fail(IoStatus::closed, WSAECONNRESET);
            const int err = ::WSAGetLastError();
            if (err == WSAEWOULDBLOCK) {
                const IoResult ready = wait_for(socket_.get(), false, timeouts_.read_ms);
                if (!ready.ok()) return ready;
                continue;
            }
            return socket_failure(err);
        }
    }

  private:
    std::unique_ptr<WinsockUse> use_;  // declared first: outlives the socket
    frame::unique_socket socket_;
    Timeouts timeouts_;
};

struct AddrInfoDeleter {
    void operator()(addrinfo* a) const noexcept { ::freeaddrinfo(a); }
};

}  // namespace

IoResult connect_tcp(const std::string& host, unsigned short port, const Timeouts& timeouts,
                     std::unique_ptr<Transport>& out) {
    out.reset();
    auto use = std::make_unique<WinsockUse>();
    if (!use->ready()) return fail(IoStatus::failed, ::WSAGetLastError());
    if (host.empty()) return fail(IoStatus::failed, WSAHOST_NOT_FOUND);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* raw = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &raw); rc != 0)
        return fail(IoStatus::failed, rc);
    std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeouts.connect_ms);
    IoResult last = fail(IoStatus::failed, WSAHOST_NOT_FOUND);
    for (addrinfo* a = list.get(); a; a = a->ai_next) {
        frame::unique_socket s(::socket(a->ai_family, a->ai_socktype, a->ai_protocol));
        if (!s) {
            last = fail(IoStatus::failed, ::WSAGetLastError());
            continue;
        }
        // Non-blocking while connecting, so the connect waits in select()
        // with a limit; reads and writes then have limits of their own.
        u_long nonblocking = 1;
        ::ioctlsocket(s.get(), FIONBIO, &nonblocking);
        BOOL nodelay = TRUE;
        ::setsockopt(s.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&nodelay), sizeof nodelay);
        if (::connect(s.get(), a->ai_addr, static_cast<int>(a->ai_addrlen)) == SOCKET_ERROR) {
            const int err = ::WSAGetLastError();
            if (err != WSAEWOULDBLOCK) {
                last = fail(IoStatus::failed, err);
                continue;
            }
            const auto now = std::chrono::steady_clock::now();
            const auto left = deadline > now ? std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)
                                             : std::chrono::milliseconds(0);
            last = wait_for(s.get(), true, static_cast<uint32_t>(left.count()));
            if (!last.ok()) {
                if (last.status == IoStatus::timeout) break;
                continue;
            }
            int so_error = 0;
            int len = sizeof so_error;
            ::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &len);
            if (so_error != 0) {
                last = fail(IoStatus::failed, so_error);
                continue;
            }
        }
        u_long blocking = 0;
        ::ioctlsocket(s.get(), FIONBIO, &blocking);
        const DWORD limit = timeouts.read_ms;
        ::setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
        ::setsockopt(s.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
        out = std::make_unique<SocketTransport>(std::move(use), std::move(s), timeouts);
        return IoResult::success();
    }
    return last;
}

}  // namespace quillnet::engine

// Byte streams the protocol clients talk over: a plain TCP connection over
// Winsock, and the TLS stream of tls.h, which runs over one of those.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "quillnet/engine/limits.h"

namespace quillnet::engine {

enum class IoStatus { ok, closed, timeout, too_long, bad_reply, failed };

// `error` is a Winsock error code (WSAETIMEDOUT for a timeout,
// WSAECONNRESET for a connection the peer closed, WSAEMSGSIZE for an
// overlong line) so callers can report one number whatever went wrong.
struct IoResult {
    IoStatus status = IoStatus::ok;
    int error = 0;
    bool ok() const noexcept { return status == IoStatus::ok; }
    static IoResult success() { return {}; }
};

class Transport {
  public:
    virtual ~Transport() = default;
    // Sends every byte or fails.
    virtual IoResult send(const char* data, size_t size) = 0;
    // Waits up to the read timeout for at least one byte; `got` is 0 only on
    // failure.
    virtual IoResult receive(char* buffer, size_t capacity, size_t& got) = 0;
};

// Connects to host:port over TCP (IPv4 or IPv6), trying each address the
// name resolves to within the connect timeout.
IoResult connect_tcp(const std::string& host, unsigned short port, const Timeouts& timeouts,
                     std::unique_ptr<Transport>& out);

}  // namespace quillnet::engine

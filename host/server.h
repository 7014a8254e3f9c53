// The page host's connections, served as IIS serves them: one thread waits
// for new connections and for the next request on kept-alive ones, a
// bounded queue hands every connection with a request waiting to a pool of
// apartment threads, and a full queue is answered 503 at once rather than
// left to wait. A connection waiting for its next request holds no pool
// thread, so slow or idle clients never take pages' threads away.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "frame/handles.h"

namespace host {

struct Connection {
    frame::unique_socket socket;
    std::string peer;     // the client's address
    std::string pending;  // bytes read past the last request: the start of the next
};

struct PoolSettings {
    int threads = 8;
    size_t queue = 64;  // connections with a request waiting for a thread
    unsigned keep_alive_seconds = 15;
};

// Serves one request of a connection on a pool thread (an STA, numbered
// from 1); true when the connection stays open for another request.
using ServeOne = std::function<bool(Connection&, int thread)>;

// Serves the listener for good.
[[noreturn]] void run_pool(SOCKET listener, const PoolSettings& settings, const ServeOne& serve);

// One whole line on the host's log (standard output), flushed at once, so
// a host that dies leaves every line it wrote before.
void log_line(const std::string& text);

}  // namespace host

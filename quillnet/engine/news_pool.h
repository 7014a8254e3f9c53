// Idle news connections kept for the next session with the same server
// text, as database drivers pool theirs: a page's news object connects once,
// and the next page's takes the connection over instead of paying the TCP
// connect, the server's start-up, the capability exchange and the TLS
// handshake again. The pool is bounded, a connection is never shared (taking
// it removes it), the taker checks it before use, and one that stayed idle
// past its limit is closed.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "quillnet/engine/transport.h"

namespace quillnet::engine {

// What a connection learned of its server, kept with it.
struct NewsConnectionFacts {
    bool overKnown = false;
    bool useXover = false;
    bool modeReaderNeeded = false;
    bool authenticated = false;
    bool tlsActive = false;
};

struct IdleNewsConnection {
    std::unique_ptr<Transport> transport;
    NewsConnectionFacts facts;
};

class NewsConnectionPool {
  public:
    using Clock = std::chrono::steady_clock;

    explicit NewsConnectionPool(size_t capacity) : capacity_(capacity) {}
    NewsConnectionPool(const NewsConnectionPool&) = delete;
    NewsConnectionPool& operator=(const NewsConnectionPool&) = delete;

    // Keeps the connection under `key` (the server text, credentials and
    // all, so a connection only ever serves the login it was made with)
    // until `now + idle`. When the pool is full the oldest goes. True when
    // the pool was empty and nothing watches it: the caller then starts
    // whatever closes idle connections (reap) and stops when it says so.
    bool park(const std::string& key, IdleNewsConnection connection, Clock::duration idle,
              Clock::time_point now = Clock::now());
    // The connection parked last under `key` that is still within its time.
    std::optional<IdleNewsConnection> take(const std::string& key, Clock::time_point now = Clock::now());
    // Closes the connections past their time; false once the pool is empty,
    // and from then on the next park asks for a watcher again.
    bool reap(Clock::time_point now = Clock::now());
    size_t idle_count() const;
    void clear();

  private:
    struct Entry {
        std::string key;
        IdleNewsConnection connection;
        Clock::time_point expires;
    };
    // Moves the expired entries into `closing`, to be closed after the
    // lock is released (a TLS close may write).
    void take_expired(Clock::time_point now, std::vector<Entry>& closing);

    mutable std::mutex mutex_;
    std::vector<Entry> entries_;  // oldest first
    size_t capacity_;
    bool watched_ = false;
};

// The process's pool of news connections.
NewsConnectionPool& news_connection_pool();

// What closes idle connections on time: the component installs a starter,
// called when park() asks for a watcher (a thread that reaps until the
// pool is empty). Without one, a connection past its time is closed by the
// next park or take, and never handed out.
void set_news_pool_watcher(void (*start)());
void start_news_pool_watcher();

}  // namespace quillnet::engine

// Winsock's select takes as many sockets as its set holds: room for the
// kept-alive connections the host allows, decided before winsock2.h.
#define FD_SETSIZE 1024
#include "host/server.h"

#include <ws2tcpip.h>
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace host {
namespace {

// Refused connections still being read, and idle connections, that the
// waiting thread watches at most (with the listener and the wake-up socket,
// within one select set); a new connection beyond them is told the host is
// busy.
constexpr size_t kMaxDraining = 256;
constexpr size_t kMaxWatched = FD_SETSIZE - 2 - kMaxDraining;
// A refused client gets this long to take the answer before its
// connection is dropped.
constexpr ULONGLONG kDrainMillis = 2000;

constexpr char kBusyAnswer[] =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 71\r\n"
    "Retry-After: 1\r\nConnection: close\r\n\r\n"
    "The server is busy: every page thread is taken. Try again in a moment.\n";
static_assert(sizeof "The server is busy: every page thread is taken. Try again in a moment.\n" - 1 == 71);

using Owned = std::unique_ptr<Connection>;

// Connections with a request waiting, for the pool threads.
class ReadyQueue {
  public:
    explicit ReadyQueue(size_t capacity) : capacity_(capacity) {}
    // False (the connection still the caller's) when the queue is full.
    bool try_push(Owned& c) {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            if (items_.size() >= capacity_) return false;
            items_.push_back(std::move(c));
        }
        ready_.notify_one();
        return true;
    }
    Owned pop() {
        std::unique_lock<std::mutex> hold(lock_);
        ready_.wait(hold, [&] { return !items_.empty(); });
        Owned c = std::move(items_.front());
        items_.pop_front();
        return c;
    }
    bool empty() {
        const std::lock_guard<std::mutex> hold(lock_);
        return items_.empty();
    }

  private:
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<Owned> items_;
    size_t capacity_;
};

// Kept-alive connections the pool threads give back, and the loopback
// datagram that wakes the waiting thread to take them.
class ReturnedConnections {
  public:
    ReturnedConnections() {
        wake_.reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address_;
        if (!wake_ || ::bind(wake_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::getsockname(wake_.get(), reinterpret_cast<sockaddr*>(&address_), &size) != 0)
            wake_.reset();
        u_long nonblocking = 1;
        if (wake_) ::ioctlsocket(wake_.get(), FIONBIO, &nonblocking);
        sender_.reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    }
    SOCKET wake_socket() const { return wake_.get(); }
    bool ok() const { return wake_ && sender_; }

    void give_back(Owned c) {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            items_.push_back(std::move(c));
        }
        const char one = 1;
        ::sendto(sender_.get(), &one, 1, 0, reinterpret_cast<const sockaddr*>(&address_), sizeof address_);
    }
    std::vector<Owned> take() {
        char scrap[256];
        while (::recv(wake_.get(), scrap, sizeof scrap, 0) > 0) {
        }
        const std::lock_guard<std::mutex> hold(lock_);
        return std::exchange(items_, {});
    }

  private:
    frame::unique_socket wake_, sender_;
    sockaddr_in address_{};
    std::mutex lock_;
    std::vector<Owned> items_;
};

struct Pool {
    const PoolSettings& settings;
    const ServeOne& serve;
    ReadyQueue queue;
    ReturnedConnections returned;
};

struct WorkerStart {
    Pool* pool;
    int number;
};

// How long a pool thread waits for the next request on the connection it
// has just answered before handing it back.
constexpr long kLingerMicros = 50 * 1000;

bool next_request_soon(const Connection& c) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(c.socket.get(), &readable);
    timeval linger{0, kLingerMicros};
    return ::select(0, &readable, nullptr, nullptr, &linger) == 1;
}

DWORD WINAPI worker(void* parameter) {
    const WorkerStart start = *static_cast<WorkerStart*>(parameter);
    delete static_cast<WorkerStart*>(parameter);
    // Each thread its own apartment, as IIS runs pages: the components'
    // objects and the script engines a page makes stay on this thread.
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    for (;;) {
        Owned c = start.pool->queue.pop();
        bool keep = false;
        try {
            // A pipelined request already read is served at once, and so is
            // one that comes soon after the last answer while no other
            // connection waits: a client asking page after page keeps its
            // thread, without a hand-over to the waiting thread and back
            // for each request.
            do keep = start.pool->serve(*c, start.number);
            while (keep && (!c->pending.empty() || (start.pool->queue.empty() && next_request_soon(*c))));
        } catch (...) {
            keep = false;
        }
        if (keep) start.pool->returned.give_back(std::move(c));
    }
}

// A refused connection: the answer is sent, then whatever the client still
// sends is read and dropped until it closes, so the answer is not lost to
// a reset from closing on unread bytes.
struct Draining {
    Owned c;
    ULONGLONG until;
};

void refuse(Owned c, std::vector<Draining>& draining) {
    ::send(c->socket.get(), kBusyAnswer, sizeof kBusyAnswer - 1, 0);
    ::shutdown(c->socket.get(), SD_SEND);
    if (draining.size() < kMaxDraining) draining.push_back({std::move(c), ::GetTickCount64() + kDrainMillis});
}

std::string peer_text(const sockaddr_in& peer) {
    char address[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    return address;
}

}  // namespace

void log_line(const std::string& text) {
    static std::mutex lock;
    const std::lock_guard<std::mutex> hold(lock);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void run_pool(SOCKET listener, const PoolSettings& settings, const ServeOne& serve) {
    Pool pool{settings, serve, ReadyQueue(settings.queue), {}};
    if (!pool.returned.ok()) {
        std::fprintf(stderr, "cannot make the loopback wake-up socket (%d)\n", ::WSAGetLastError());
        std::exit(1);
    }
    for (int i = 1; i <= settings.threads; ++i) {
        HANDLE thread = ::CreateThread(nullptr, 0, worker, new WorkerStart{&pool, i}, 0, nullptr);
        if (!thread) {
            std::fprintf(stderr, "cannot start page thread %d (%lu)\n", i, ::GetLastError());
            std::exit(1);
        }
        ::CloseHandle(thread);
    }

    struct Idle {
        Owned c;
        ULONGLONG since;
    };
    std::vector<Idle> idle;
    std::vector<Draining> draining;
    auto dispatch = [&](Owned c) {
        if (!pool.queue.try_push(c)) refuse(std::move(c), draining);
    };
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener, &readable);
        FD_SET(pool.returned.wake_socket(), &readable);
        for (const Idle& i : idle) FD_SET(i.c->socket.get(), &readable);
        for (const Draining& d : draining) FD_SET(d.c->socket.get(), &readable);
        timeval tick{1, 0};
        if (::select(0, &readable, nullptr, nullptr, &tick) == SOCKET_ERROR) {
            ::Sleep(10);
            continue;
        }
        const ULONGLONG now = ::GetTickCount64();

        // Idle connections with a new request go to the queue; those quiet
        // for too long are closed, as a server's keep-alive timeout does.
        for (size_t k = 0; k < idle.size();) {
            const bool ready = FD_ISSET(idle[k].c->socket.get(), &readable);
            if (ready || now - idle[k].since > settings.keep_alive_seconds * 1000ull) {
                Owned c = std::move(idle[k].c);
                idle[k] = std::move(idle.back());
                idle.pop_back();
                // A client that closed its kept-alive connection makes it
                // readable too; queued, it would take a place a real request
                // then finds full (503), so only one with bytes goes on.
                char probe = 0;
                if (ready && (!c->pending.empty() || ::recv(c->socket.get(), &probe, 1, MSG_PEEK) > 0))
                    dispatch(std::move(c));
                continue;
            }
            ++k;
        }
        for (size_t k = 0; k < draining.size();) {
            char scrap[4096];
            const bool gone = now > draining[k].until ||
                              (FD_ISSET(draining[k].c->socket.get(), &readable) &&
                               ::recv(draining[k].c->socket.get(), scrap, sizeof scrap, 0) <= 0);
            if (gone) {
                draining[k] = std::move(draining.back());
                draining.pop_back();
                continue;
            }
            ++k;
        }
        if (FD_ISSET(pool.returned.wake_socket(), &readable)) {
            for (Owned& c : pool.returned.take()) {
                if (idle.size() < kMaxWatched) idle.push_back({std::move(c), now});
            }
        }
        if (FD_ISSET(listener, &readable)) {
            sockaddr_in peer{};
            int peer_size = sizeof peer;
            frame::unique_socket s(::accept(listener, reinterpret_cast<sockaddr*>(&peer), &peer_size));
            if (s) {
                // A client that stops sending inside a request cannot hold a thread for long.
                DWORD timeout = 30000;
                ::setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
                ::setsockopt(s.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
                BOOL nodelay = TRUE;
                ::setsockopt(s.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&nodelay), sizeof nodelay);
                auto c = std::make_unique<Connection>();
                c->socket = std::move(s);
                c->peer = peer_text(peer);
                // Watched until its request comes: a client that connects
                // and sends nothing holds no pool thread.
                if (idle.size() >= kMaxWatched) refuse(std::move(c), draining);
                else idle.push_back({std::move(c), now});
            }
        }
    }
}

}  // namespace host

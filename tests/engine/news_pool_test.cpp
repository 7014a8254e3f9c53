// Pooled news connections: the pool's own rules (one taker, the newest of a
// key first, idle limits, a bound), and the news client handing its
// connection on to the next client of the same server text, checked before
// use, against a small server in the test that counts its connections.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame/handles.h"
#include "quillnet/engine/news_client.h"
#include "quillnet/engine/news_pool.h"

using namespace quillnet::engine;
using namespace std::chrono_literals;

namespace {

struct CountedTransport : Transport {
    explicit CountedTransport(int id, std::vector<int>& closed) : id(id), closed(closed) {}
    ~CountedTransport() override { closed.push_back(id); }
    IoResult send(const char*, size_t) override { return {}; }
    IoResult receive(char*, size_t, size_t& got) override {
        got = 0;
        return {IoStatus::closed};
    }
    int id;
    std::vector<int>& closed;
};

IdleNewsConnection idle(int id, std::vector<int>& closed) {
    IdleNewsConnection c;
    c.transport = std::make_unique<CountedTransport>(id, closed);
    c.facts.overKnown = id % 2 == 1;
    return c;
}

int id_of(const std::optional<IdleNewsConnection>& c) {
    return c ? static_cast<CountedTransport*>(c->transport.get())->id : 0;
}

TEST(NewsConnectionPool, HandsEachConnectionToOneTakerWithinItsTimeAndBound) {
    std::vector<int> closed;
    NewsConnectionPool pool(3);
    const auto t0 = NewsConnectionPool::Clock::time_point{};
    EXPECT_TRUE(pool.park("a", idle(1, closed), 10s, t0));  // the first asks for a watcher
    EXPECT_FALSE(pool.park("a", idle(2, closed), 10s, t0 + 1s));
    EXPECT_FALSE(pool.park("b", idle(3, closed), 10s, t0 + 1s));
    // The newest of a key first, with what it knew of its server; never twice.
    auto taken = pool.take("a", t0 + 2s);
    EXPECT_EQ(2, id_of(taken));
    EXPECT_FALSE(taken->facts.overKnown);
    const auto older = pool.take("a", t0 + 2s);
    EXPECT_EQ(1, id_of(older));
    EXPECT_FALSE(pool.take("a", t0 + 2s));
    EXPECT_FALSE(pool.take("c", t0 + 2s));
    // Past its time a connection is closed, not handed out.
    EXPECT_FALSE(pool.take("b", t0 + 11s));
    EXPECT_EQ(0u, pool.idle_count());
    EXPECT_EQ(std::vector<int>({3}), closed);
    // Full: the oldest goes.
    closed.clear();
    for (int id = 4; id <= 7; ++id) pool.park("k", idle(id, closed), 10s, t0 + std::chrono::seconds(id));
    EXPECT_EQ(std::vector<int>({4}), closed);
    EXPECT_EQ(3u, pool.idle_count());
    // The watcher runs until the pool is empty, and the next park asks again.
    EXPECT_TRUE(pool.reap(t0 + 16s));
    EXPECT_FALSE(pool.reap(t0 + 30s));
    EXPECT_EQ(std::vector<int>({4, 5, 6, 7}), closed);
    EXPECT_TRUE(pool.park("k", idle(8, closed), 10s, t0 + 31s));
    pool.clear();
}

// A reader's server: greeting, capabilities, GROUP, DATE and QUIT, on every
// connection it accepts; it can hang up on the connection it holds.
class CountingServer {
  public:
    CountingServer() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        listener_.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_.get(), 8);
        int len = sizeof a;
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~CountingServer() {
        stopping_ = true;
        listener_.reset();
        thread_.join();
        ::WSACleanup();
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    int connections() const { return connections_; }
    std::vector<std::string> commands() {
        std::lock_guard<std::mutex> lock(mutex_);
        return commands_;
    }
    void hang_up() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (current_ != INVALID_SOCKET) ::shutdown(current_, SD_BOTH);
    }

  private:
    void say(SOCKET s, const std::string& text) { ::send(s, text.data(), static_cast<int>(text.size()), 0); }
    void serve() {
        std::vector<std::thread> sessions;
        for (;;) {
            const SOCKET c = ::accept(listener_.get(), nullptr, nullptr);
            if (c == INVALID_SOCKET || stopping_) {
                if (c != INVALID_SOCKET) ::closesocket(c);
                break;
            }
            ++connections_;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                current_ = c;
                open_.push_back(c);
            }
            sessions.emplace_back([this, c] { converse(c); });
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (SOCKET c : open_) ::shutdown(c, SD_BOTH);
        }
        for (auto& t : sessions) t.join();
    }
    void converse(SOCKET c) {
        frame::unique_socket owned(c);
        say(c, "200 counting server ready\r\n");
        std::string pending;
        char buffer[512];
        for (int n; (n = ::recv(c, buffer, sizeof buffer, 0)) > 0;) {
            pending.append(buffer, static_cast<size_t>(n));
            for (size_t end; (end = pending.find("\r\n")) != std::string::npos; pending.erase(0, end + 2)) {
                const std::string line = pending.substr(0, end);
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    commands_.push_back(line);
                }
                if (line == "CAPABILITIES") say(c, "101 list\r\nVERSION 2\r\nREADER\r\nOVER\r\n.\r\n");
                else if (line.rfind("GROUP ", 0) == 0) say(c, "211 3 1 3 " + line.substr(6) + "\r\n");
                else if (line == "DATE") say(c, "111 20261209030000\r\n");
                else if (line == "QUIT") say(c, "205 bye\r\n");
                else say(c, "500 what?\r\n");
            }
        }
        std::lock_guard<std::mutex> lock(mutex_);
        open_.erase(std::remove(open_.begin(), open_.end(), c), open_.end());
        if (current_ == c) current_ = INVALID_SOCKET;
    }

    frame::unique_socket listener_;
    unsigned short port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::mutex mutex_;
    SOCKET current_ = INVALID_SOCKET;  // the connection accepted last
    std::vector<SOCKET> open_;
    std::vector<std::string> commands_;
};

// One page's use of a news object: connect, select a group, be done.
int page(const std::string& server, int reuse_seconds, const char* group = "demo.talk") {
    NewsEvents events;
    NewsClient client(events);
    client.SetConnectionReuse(reuse_seconds);
    if (const int rc = client.SetNewsServer(server)) return rc;
    if (const int rc = client.SetAction(kNewsConnect)) return rc;
    const int rc = client.SelectGroup(group);
    client.SetAction(kNewsDisconnect);
    return rc;
}

TEST(NewsConnectionReuse, TheNextClientOfTheSameServerTextTakesTheCheckedConnection) {
    news_connection_pool().clear();
    CountingServer server;
    // Off by default: every client connects and says QUIT.
    EXPECT_EQ(0, page(server.address(), 0));
    EXPECT_EQ(0, page(server.address(), 0));
    EXPECT_EQ(2, server.connections());
    EXPECT_EQ("QUIT", server.commands().back());

    EXPECT_EQ(0, page(server.address(), 30));
    EXPECT_EQ(1u, news_connection_pool().idle_count());
    EXPECT_EQ(0, page(server.address(), 30, "demo.pictures"));
    EXPECT_EQ(3, server.connections());  // the parked one served the second page
    const auto said = server.commands();
    ASSERT_GE(said.size(), 3u);
    EXPECT_EQ("GROUP demo.talk", said[said.size() - 3]);
    EXPECT_EQ("DATE", said[said.size() - 2]);  // checked before its first command
    EXPECT_EQ("GROUP demo.pictures", said.back());

    // Another server text is another login: its own connection.
    EXPECT_EQ(0, page("nntp://" + server.address(), 30));
    EXPECT_EQ(4, server.connections());

    // A parked connection the server dropped fails its check: a new one
    // serves, and the page sees nothing of it.
    news_connection_pool().clear();
    EXPECT_EQ(0, page(server.address(), 30));
    server.hang_up();
    EXPECT_EQ(0, page(server.address(), 30));
    EXPECT_EQ(6, server.connections());
    news_connection_pool().clear();
}

}  // namespace

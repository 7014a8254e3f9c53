// The line layer against a real loopback socket fed by a scripted peer:
// lines split across reads, bare LF, dot-stuffing both ways, continuation
// replies, the line cap, timeouts, refused and dropped connections.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "frame/handles.h"
#include "quillnet/engine/line_engine.h"

using namespace quillnet::engine;

namespace {

struct WsaScope {
    WsaScope() {
        WSADATA d;
        ::WSAStartup(MAKEWORD(2, 2), &d);
    }
    ~WsaScope() { ::WSACleanup(); }
};

// One-connection peer: accepts, then plays its steps in order.
class ScriptedPeer {
  public:
    struct Step {
        enum Kind { send, pause_ms, close, read_all } kind;
        std::string data;
        int ms = 0;
    };
    explicit ScriptedPeer(std::vector<Step> steps) : steps_(std::move(steps)) {
        listener_.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_.get(), 1);
        int len = sizeof a;
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptedPeer() {
        if (thread_.joinable()) thread_.join();
    }
    unsigned short port() const { return port_; }
    const std::string& received() {
        if (thread_.joinable()) thread_.join();
        return received_;
    }

  private:
    void run() {
        frame::unique_socket c(::accept(listener_.get(), nullptr, nullptr));
        for (const Step& s : steps_) {
            switch (s.kind) {
                case Step::send:
                    ::send(c.get(), s.data.data(), static_cast<int>(s.data.size()), 0);
                    break;
                case Step::pause_ms:
                    std::this_thread::sleep_for(std::chrono::milliseconds(s.ms));
                    break;
                case Step::close:
                    c.reset();
                    return;
                case Step::read_all: {
                    char buf[4096];
                    int n;
                    while ((n = ::recv(c.get(), buf, sizeof buf, 0)) > 0) received_.append(buf, n);
                    break;
                }
            }
        }
    }
    frame::unique_socket listener_;
    unsigned short port_ = 0;
    std::vector<Step> steps_;
    std::thread thread_;
    std::string received_;
};

using S = ScriptedPeer::Step;

Timeouts quick() {
    Timeouts t;
    t.connect_ms = 2000;
    t.read_ms = 500;
    return t;
}

LineEngine connect_to(unsigned short port, Timeouts t = quick()) {
    std::unique_ptr<Transport> transport;
    const IoResult r = connect_tcp("127.0.0.1", port, t, transport);
    EXPECT_TRUE(r.ok()) << r.error;
    return LineEngine(std::move(transport));
}

class LineEngineTest : public ::testing::Test {
    WsaScope wsa;
};

TEST_F(LineEngineTest, LinesSplitAcrossReadsAndBareLineFeeds) {
    std::vector<S> steps;
    const std::string wire = "200 hello there\r\nsecond\nthird\r\n\r\n";
    for (char c : wire) {  // one byte per segment: every partial read path
        steps.push_back({S::send, std::string(1, c)});
        steps.push_back({S::pause_ms, "", 1});
    }
    steps.push_back({S::close});
    ScriptedPeer peer(steps);
    LineEngine e = connect_to(peer.port());
    std::string line;
    ASSERT_TRUE(e.read_line(line).ok());
    EXPECT_EQ("200 hello there", line);
    ASSERT_TRUE(e.read_line(line).ok());
    EXPECT_EQ("second", line);
    ASSERT_TRUE(e.read_line(line).ok());
    EXPECT_EQ("third", line);
    ASSERT_TRUE(e.read_line(line).ok());
    EXPECT_EQ("", line);
    const IoResult end = e.read_line(line);
    EXPECT_EQ(IoStatus::closed, end.status);
    EXPECT_EQ(WSAECONNRESET, end.error);
    EXPECT_FALSE(e.connected());
}

TEST_F(LineEngineTest, BlocksUndoDotStuffingAndKeepZeroBytes) {
    ScriptedPeer peer({{S::send, "..leading dot\r\nplain\r\n.\r\n"},
                       {S::send, std::string("a\0b\r\n...\r\n.\r\nafter\r\n", 20)},
                       {S::close}});
    LineEngine e = connect_to(peer.port());
    std::vector<std::string> got;
    ASSERT_TRUE(e.read_block([&](std::string_view l) { got.emplace_back(l); }).ok());
    EXPECT_EQ((std::vector<std::string>{".leading dot", "plain"}), got);
    got.clear();
    ASSERT_TRUE(e.read_block([&](std::string_view l) { got.emplace_back(l); }).ok());
    EXPECT_EQ((std::vector<std::string>{std::string("a\0b", 3), ".."}), got);
    std::string line;
    ASSERT_TRUE(e.read_line(line).ok());
    EXPECT_EQ("after", line);
}

TEST_F(LineEngineTest, BlockCutOffByTheServerIsAnError) {
    ScriptedPeer peer({{S::send, "one\r\ntwo\r\n"}, {S::close}});
    LineEngine e = connect_to(peer.port());
    int lines = 0;
    const IoResult r = e.read_block([&](std::string_view) { ++lines; });
    EXPECT_EQ(IoStatus::closed, r.status);
    EXPECT_EQ(2, lines);
}

TEST_F(LineEngineTest, RepliesWithContinuationLines) {
    ScriptedPeer peer({{S::send, "250-mail.example\r\n250-PIPELINING\r\n250 AUTH PLAIN LOGIN\r\n"},
                       {S::send, "220\r\nnot a reply\r\n"},
                       {S::close}});
    LineEngine e = connect_to(peer.port());
    Reply r;
    ASSERT_TRUE(e.read_reply(r).ok());
    EXPECT_EQ(250, r.code);
    EXPECT_EQ("AUTH PLAIN LOGIN", r.text);
    EXPECT_EQ((std::vector<std::string>{"mail.example", "PIPELINING", "AUTH PLAIN LOGIN"}), r.lines);
    ASSERT_TRUE(e.read_reply(r).ok());
    EXPECT_EQ(220, r.code);
    EXPECT_EQ("", r.text);
    EXPECT_EQ(IoStatus::bad_reply, e.read_reply(r).status);
}

TEST(StatusLine, LastContinuedAndNotAStatus) {
    int code = 0;
    std::string_view text;
    EXPECT_EQ(StatusLine::last, parse_status_line("211 3 1 3 misc.test", code, text));
    EXPECT_EQ(211, code);
    EXPECT_EQ("3 1 3 misc.test", text);
    EXPECT_EQ(StatusLine::last, parse_status_line("200", code, text));
    EXPECT_EQ("", text);
    EXPECT_EQ(StatusLine::continued, parse_status_line("250-SIZE", code, text));
    EXPECT_EQ("SIZE", text);
    for (const char* bad : {"", "25", "2x0 ok", "250x", " 250 ok"})
        EXPECT_EQ(StatusLine::bad, parse_status_line(bad, code, text)) << bad;
}

// NNTP has no continuation lines: what would be one is no answer there.
TEST_F(LineEngineTest, SingleLineStatusRefusesAContinuation) {
    ScriptedPeer peer({{S::send, "200 ready\r\n200-more\r\n"}, {S::close}});
    LineEngine e = connect_to(peer.port());
    Reply r;
    ASSERT_TRUE(e.read_status(r).ok());
    EXPECT_EQ(200, r.code);
    EXPECT_EQ("ready", r.text);
    EXPECT_EQ(IoStatus::bad_reply, e.read_status(r).status);
    EXPECT_EQ("200-more", r.text);
}

TEST_F(LineEngineTest, EndlessLineIsCappedNotBuffered) {
    std::vector<S> steps;
    const std::string chunk(256 * 1024, 'x');
    for (int i = 0; i < 6; ++i) steps.push_back({S::send, chunk});
    steps.push_back({S::close});
    ScriptedPeer peer(steps);
    LineEngine e = connect_to(peer.port());
    std::string line;
    const IoResult r = e.read_line(line);
    EXPECT_EQ(IoStatus::too_long, r.status);
    EXPECT_EQ(WSAEMSGSIZE, r.error);
    EXPECT_FALSE(e.connected());
}

TEST_F(LineEngineTest, StalledPeerTimesOut) {
    ScriptedPeer peer({{S::send, "partial line"}, {S::pause_ms, "", 1500}, {S::close}});
    LineEngine e = connect_to(peer.port());
    std::string line;
    const IoResult r = e.read_line(line);
    EXPECT_EQ(IoStatus::timeout, r.status);
    EXPECT_EQ(WSAETIMEDOUT, r.error);
}

TEST_F(LineEngineTest, SendBlockNormalisesLineEndsAndStuffsDots) {
    ScriptedPeer peer(std::vector<S>{{S::read_all}});
    {
        LineEngine e = connect_to(peer.port());
        ASSERT_TRUE(e.send_line("DATA").ok());
        ASSERT_TRUE(e.send_block(".top\nmid\r\rlast\r\n.\r\n..x").ok());
        ASSERT_TRUE(e.send_block("").ok());
    }  // closing the engine ends the peer's read
    EXPECT_EQ("DATA\r\n..top\r\nmid\r\n\r\nlast\r\n..\r\n...x\r\n.\r\n.\r\n", peer.received());
}

TEST_F(LineEngineTest, RefusedAndUnresolvableConnectionsFail) {
    // A port nobody listens on: bind one, then close it.
    unsigned short port = 0;
    {
        frame::unique_socket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        int len = sizeof a;
        ::getsockname(s.get(), reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    std::unique_ptr<Transport> t;
    IoResult r = connect_tcp("127.0.0.1", port, quick(), t);
    EXPECT_FALSE(r.ok());
    EXPECT_NE(0, r.error);
    EXPECT_EQ(nullptr, t);
    r = connect_tcp("", 119, quick(), t);
    EXPECT_FALSE(r.ok());
    r = connect_tcp("no-such-host.invalid", 119, quick(), t);
    EXPECT_FALSE(r.ok());
    EXPECT_NE(0, r.error);
    LineEngine none;
    std::string line;
    EXPECT_EQ(IoStatus::closed, none.read_line(line).status);
    EXPECT_EQ(IoStatus::closed, none.send_line("x").status);
}

}  // namespace

// The WinHTTP web client against nginx and tinyproxy on 127.0.0.1 (started
// by the mailweb_web fixture), and against a socket that never answers.
#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "frame/handles.h"
#include "mailweb_env.h"
#include "quillnet/engine/http_client.h"
#include "test_ports.h"

using namespace quillnet::engine;
using namespace mailweb_test;

namespace {

struct Recorder final : WebEvents {
    std::string body;
    std::vector<uint16_t> lengths;
    bool offsets_in_order = true;
    bool other_kinds = false;
    int Transfer(uint16_t kind, int64_t offset, const char* bytes, uint16_t length) override {
        if (kind != kTransferBody) other_kinds = true;
        if (offset != static_cast<int64_t>(body.size())) offsets_in_order = false;
        body.append(bytes, length);
        lengths.push_back(length);
        return 0;
    }
};

std::string url(const std::string& path, const char* host = "127.0.0.1") {
    return "http://" + std::string(host) + ":" + std::to_string(kNginxPort) + path;
}

class HttpClientTest : public ::testing::Test {
  protected:
    Recorder events;
    std::unique_ptr<WebClient> client = make_http_client(events);
    int get(const std::string& address) {
        events.body.clear();
        if (const int e = client->SetURL(address)) return e;
        return client->SetAction(kWebActionGet);
    }
};

TEST_F(HttpClientTest, FetchesAPageWithItsContentType) {
    ASSERT_EQ(0, get(url("/hello.txt")));
    EXPECT_EQ("Hello from nginx\n", events.body);
    EXPECT_EQ("text/plain", client->ContentType());
    ASSERT_EQ(0, get(url("/utf8/page.html")));
    EXPECT_TRUE(content_type_is_utf8(client->ContentType())) << client->ContentType();
    EXPECT_NE(std::string::npos, events.body.find("\xe2\x82\xac"));
    ASSERT_EQ(0, get(url("/zeros.bin")));
    EXPECT_EQ(std::string("A\0B\0\0C", 6), events.body);
    EXPECT_FALSE(events.other_kinds);
}

TEST_F(HttpClientTest, DeliversFiftyMegabytesInChunksOfAtMost65535Bytes) {
    events.body.reserve(52428800);
    ASSERT_EQ(0, get(url("/big.bin")));
    ASSERT_EQ(52428800u, events.body.size());
    EXPECT_TRUE(events.offsets_in_order);
    for (uint16_t n : events.lengths) ASSERT_LE(n, 65535u);
    const std::string line = "The quick brown fox jumps over the lazy dog 0123456789 abcdefghijklmnopqrstu\n";
    for (size_t at : {size_t{0}, line.size() * 1000, line.size() * 600000}) EXPECT_EQ(line, events.body.substr(at, line.size()));
    EXPECT_EQ(line.substr(0, 52428800 % line.size()), events.body.substr(52428800 - 52428800 % line.size()));
}

TEST_F(HttpClientTest, StatusOf400OrMoreIsTheErrorNumberAndDeliversNothing) {
    EXPECT_EQ(404, get(url("/missing.html")));
    EXPECT_EQ(401, get(url("/private/secret.txt")));
    EXPECT_TRUE(events.body.empty());
}

TEST_F(HttpClientTest, AnswersBasicAuthenticationWithTheGivenUser) {
    client->SetUser("reader");
    client->SetPassword("wrong");
    EXPECT_EQ(401, get(url("/private/secret.txt")));
    client->SetPassword("s3cret word");
    ASSERT_EQ(0, get(url("/private/secret.txt")));
    EXPECT_EQ("top secret\n", events.body);
    // The credentials are offered again after a redirect.
    ASSERT_EQ(0, get(url("/private-moved")));
    EXPECT_EQ("top secret\n", events.body);
}

TEST_F(HttpClientTest, FollowsUpToTenRedirects) {
    ASSERT_EQ(0, get(url("/moved")));
    EXPECT_EQ("Hello from nginx\n", events.body);
    ASSERT_EQ(0, get(url("/r3")));  // 302, 307, 301
    EXPECT_EQ("Hello from nginx\n", events.body);
    ASSERT_EQ(0, get(url("/moved-relative")));
    EXPECT_TRUE(content_type_is_utf8(client->ContentType()));
    ASSERT_EQ(0, get(url("/moved-absolute")));
    EXPECT_TRUE(content_type_is_utf8(client->ContentType()));
    EXPECT_EQ(ERROR_WINHTTP_REDIRECT_FAILED, get(url("/loop")));
    EXPECT_TRUE(events.body.empty());
}

TEST_F(HttpClientTest, RefusesAddressesItCannotSendAsTheyAre) {
    EXPECT_EQ(ERROR_WINHTTP_UNRECOGNIZED_SCHEME, client->SetURL("ftp://127.0.0.1/file"));
    EXPECT_EQ(ERROR_WINHTTP_UNRECOGNIZED_SCHEME, client->SetURL("www.example.com/index.html"));
    EXPECT_EQ(ERROR_WINHTTP_INVALID_URL, client->SetURL("http://127.0.0.1/a b.html"));
    EXPECT_EQ(ERROR_WINHTTP_INVALID_URL, client->SetURL("http://127.0.0.1/a\r\nX: y"));
    EXPECT_EQ(ERROR_WINHTTP_INVALID_URL, client->SetURL(""));
    EXPECT_NE(0, client->SetURL("http://"));
    // A refused address leaves no address behind to fetch.
    EXPECT_EQ(ERROR_WINHTTP_INVALID_URL, client->SetAction(kWebActionGet));
    EXPECT_EQ(kWebErrorBadAction, client->SetAction(2));
}

TEST_F(HttpClientTest, ReportsRefusedConnectionsAndDisabledNetwork) {
    EXPECT_EQ(ERROR_WINHTTP_CANNOT_CONNECT, get("http://127.0.0.1:" QK_PORT_MAILWEB_CLOSED_S "/"));
    client->SetNetworkEnabled(0);
    EXPECT_EQ(kWebErrorNetworkDisabled, get(url("/hello.txt")));
    client->SetNetworkEnabled(1);
    EXPECT_EQ(0, get(url("/hello.txt")));
}

TEST_F(HttpClientTest, NamedProxyCarriesLaterRequestsUntilItIsCleared) {
    const std::string log_path = fixture_path("web/tinyproxy.log");
    const std::string marker = "/hello.txt?proxied=" + std::to_string(::GetTickCount64());
    ASSERT_EQ(0, client->SetProxyServer("127.0.0.1"));
    ASSERT_EQ(0, client->SetProxyPort(kProxyPort));
    // A target named differently from the proxy, so the request line carries
    // the absolute address a forward proxy needs.
    ASSERT_EQ(0, get(url(marker, "localhost")));
    EXPECT_EQ("Hello from nginx\n", events.body);
    EXPECT_NE(std::string::npos, read_file(log_path).find("GET " + url(marker, "localhost") + " HTTP/1."))
        << read_file(log_path);

    ASSERT_EQ(0, client->SetProxyServer(""));
    ASSERT_EQ(0, client->SetProxyPort(0));
    const std::string direct = marker + "-direct";
    ASSERT_EQ(0, get(url(direct, "localhost")));
    EXPECT_EQ(std::string::npos, read_file(log_path).find(direct));

    ASSERT_EQ(0, client->SetProxyServer("127.0.0.1"));
    EXPECT_EQ(kWebErrorBadPort, client->SetProxyPort(0));
    EXPECT_EQ(kWebErrorBadPort, client->SetProxyPort(70000));
    ASSERT_EQ(0, client->SetProxyPort(QK_PORT_MAILWEB_CLOSED));  // nobody listens there
    EXPECT_EQ(ERROR_WINHTTP_CANNOT_CONNECT, get(url("/hello.txt", "localhost")));
    EXPECT_EQ(ERROR_WINHTTP_INVALID_URL, client->SetProxyServer("a proxy"));
}

// A peer that takes the connection and never answers: the fetch ends with
// WinHTTP's timeout within the receive limit instead of hanging.
TEST(HttpClientStallTest, SilentServerEndsInATimeout) {
    WSADATA data;
    ASSERT_EQ(0, ::WSAStartup(MAKEWORD(2, 2), &data));
    {
        frame::unique_socket listener(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(0, ::bind(listener.get(), reinterpret_cast<sockaddr*>(&a), sizeof a));
        ASSERT_EQ(0, ::listen(listener.get(), 4));
        int len = sizeof a;
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&a), &len);
        Recorder events;
        WebTimeouts quick;
        quick.receive_ms = 1500;
        auto client = make_http_client(events, quick);
        ASSERT_EQ(0, client->SetURL("http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/"));
        const ULONGLONG start = ::GetTickCount64();
        EXPECT_EQ(ERROR_WINHTTP_TIMEOUT, client->SetAction(kWebActionGet));
        EXPECT_LT(::GetTickCount64() - start, 20000u);
    }
    ::WSACleanup();
}

// A page's time limit bounds the whole fetch: a server that never answers
// and one that trickles its page a byte at a time both end in WinHTTP's
// timeout although the client keeps its long default waits.
TEST(HttpClientStallTest, TheTimeLimitEndsSilentAndTricklingServers) {
    WSADATA data;
    ASSERT_EQ(0, ::WSAStartup(MAKEWORD(2, 2), &data));
    for (const bool trickle : {false, true}) {
        SCOPED_TRACE(trickle ? "trickling" : "silent");
        frame::unique_socket listener(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(0, ::bind(listener.get(), reinterpret_cast<sockaddr*>(&a), sizeof a));
        ASSERT_EQ(0, ::listen(listener.get(), 4));
        int len = sizeof a;
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&a), &len);
        std::atomic<bool> done{false};
        std::thread peer([&] {
            frame::unique_socket c(::accept(listener.get(), nullptr, nullptr));
            char request[4096];
            ::recv(c.get(), request, sizeof request, 0);
            const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
            if (trickle) ::send(c.get(), head.data(), static_cast<int>(head.size()), 0);
            for (int i = 0; i < 300 && !done; ++i) {
                if (trickle && ::send(c.get(), "x", 1, 0) <= 0) return;
                ::Sleep(100);
            }
        });
        Recorder events;
        auto client = make_http_client(events);
        EXPECT_EQ(kWebErrorBadLimit, client->SetTimeLimit(kMaxTimeLimit + 1));
        ASSERT_EQ(0, client->SetTimeLimit(1));
        ASSERT_EQ(0, client->SetURL("http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/"));
        EXPECT_EQ(ERROR_WINHTTP_TIMEOUT, client->SetAction(kWebActionGet));
        done = true;
        peer.join();
    }
    ::WSACleanup();
}

}  // namespace

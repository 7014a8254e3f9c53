// The TLS layer on its own, against the HTTPS servers of tls-fixture.sh (one
// per certificate of test-ca.sh) and the fault cases of tests/data/faults/tls;
// and MyHttp fetching from them as a page would.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <windows.h>

#include <wincrypt.h>

#include <chrono>
#include <string>

#include "frame/text.h"
#include "quillnet.h"
#include "quillnet/engine/tls.h"
#include "support/com_test.h"
#include "test_ports.h"

using namespace quillnet::engine;

namespace {

TlsResult open_tls(const std::string& host, unsigned short port, std::unique_ptr<Transport>& out,
                   Timeouts timeouts = {}) {
    std::unique_ptr<Transport> plain;
    const IoResult io = connect_tcp(host, port, timeouts, plain);
    if (!io.ok()) return TlsResult{io};
    return start_tls(std::move(plain), host, out);
}

// Everything the server sends until it closes the connection.
std::string read_all(Transport& t) {
    std::string all;
    char buffer[4096];
    for (;;) {
        size_t got = 0;
        if (!t.receive(buffer, sizeof buffer, got).ok()) return all;
        all.append(buffer, got);
    }
}

TEST(TlsCertificates, ChainOutcomesFallIntoOneClassEach) {
    EXPECT_EQ(TlsFailure::none, classify_certificate(0, 0));
    // Wine: an unknown root passes the policy check; only the chain says so.
    EXPECT_EQ(TlsFailure::untrusted, classify_certificate(CERT_TRUST_IS_PARTIAL_CHAIN, 0));
    EXPECT_EQ(TlsFailure::untrusted, classify_certificate(CERT_TRUST_IS_UNTRUSTED_ROOT, CERT_E_UNTRUSTEDROOT));
    // Whatever else is wrong, a chain to no trusted root is untrusted first.
    EXPECT_EQ(TlsFailure::untrusted,
              classify_certificate(CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_NOT_TIME_VALID, CERT_E_EXPIRED));
    EXPECT_EQ(TlsFailure::expired, classify_certificate(CERT_TRUST_IS_NOT_TIME_VALID, CERT_E_EXPIRED));
    EXPECT_EQ(TlsFailure::expired, classify_certificate(0, static_cast<uint32_t>(CERT_E_EXPIRED)));
    EXPECT_EQ(TlsFailure::wrong_host, classify_certificate(0, static_cast<uint32_t>(CERT_E_CN_NO_MATCH)));
    EXPECT_EQ(TlsFailure::bad_certificate, classify_certificate(0, static_cast<uint32_t>(CERT_E_WRONG_USAGE)));
    EXPECT_EQ(TlsFailure::bad_certificate, classify_certificate(CERT_TRUST_IS_NOT_VALID_FOR_USAGE, 0));
}

TEST(TlsStream, TrustedServerAnswersThroughTheEncryptedStream) {
    std::unique_ptr<Transport> tls;
    const TlsResult r = open_tls("localhost", QK_PORT_HTTPS_GOOD, tls);
    ASSERT_TRUE(r.ok()) << static_cast<int>(r.failure) << " " << std::hex << r.detail << " " << r.io.error;
    const std::string request = "GET / HTTP/1.0\r\nHost: localhost\r\n\r\n";
    ASSERT_TRUE(tls->send(request.data(), request.size()).ok());
    const std::string answer = read_all(*tls);
    EXPECT_EQ(0u, answer.find("HTTP/1.0 200")) << answer;
    EXPECT_NE(std::string::npos, answer.find("\r\n\r\nsecure page " QK_PORT_HTTPS_GOOD_S "\n")) << answer;
}

TEST(TlsStream, EachBadCertificateIsRefusedWithItsClass) {
    struct Case {
        const char* host;
        unsigned short port;
        TlsFailure expected;
    } cases[] = {
        {"localhost", QK_PORT_HTTPS_EXPIRED, TlsFailure::expired},
        {"localhost", QK_PORT_HTTPS_WRONG_HOST, TlsFailure::wrong_host},
        {"localhost", QK_PORT_HTTPS_SELF_SIGNED, TlsFailure::untrusted},  // self-signed
        {"localhost", QK_PORT_HTTPS_UNKNOWN_ROOT, TlsFailure::untrusted},  // a root the store does not hold
        // The good certificate names localhost only, not the address.
        {"127.0.0.1", QK_PORT_HTTPS_GOOD, TlsFailure::wrong_host},
    };
    for (const Case& c : cases) {
        std::unique_ptr<Transport> tls;
        const TlsResult r = open_tls(c.host, c.port, tls);
        EXPECT_EQ(c.expected, r.failure) << c.host << ":" << c.port << " detail " << std::hex << r.detail;
        EXPECT_FALSE(r.ok());
        EXPECT_FALSE(tls);
    }
}

// A server that answers in plain text is refused at its first byte, long
// before the read limit; one that never answers ends at the read limit.
TEST(TlsStream, BrokenAndStalledHandshakesEndInTime) {
    const struct {
        unsigned short port;
        TlsFailure failure;
        IoStatus status;
        uint32_t read_ms;
    } cases[] = {{QK_PORT_FAULT_TLS_GARBAGE, TlsFailure::handshake, IoStatus::failed, 5000},
                 {QK_PORT_FAULT_TLS_STALL, TlsFailure::none, IoStatus::timeout, 1500}};
    for (const auto& c : cases) {
        Timeouts shorter;
        shorter.read_ms = c.read_ms;
        std::unique_ptr<Transport> tls;
        const auto start = std::chrono::steady_clock::now();
        const TlsResult r = open_tls("localhost", c.port, tls, shorter);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(c.read_ms + 2500)) << c.port;
        EXPECT_EQ(c.failure, r.failure) << c.port;
        EXPECT_EQ(c.status, r.io.status) << c.port;
        EXPECT_FALSE(tls);
    }
}

// MyHttp reaches https through WinHTTP, which checks the chain against the
// same Root store. Wine reports every certificate fault as 12157
// (ERROR_WINHTTP_SECURE_CHANNEL_ERROR); Windows gives 12175
// (ERROR_WINHTTP_SECURE_FAILURE) for most.
class MyHttpsTest : public ::testing::Test {
  protected:
    qk_test::ComScope com;
    qk_test::ComponentDll quillnet{L"Quillnet.dll"};
    frame::com_ptr<IMyHttp> http = quillnet.create<IMyHttp>(CLSID_MyHttp);
    std::wstring get(const std::wstring& address) {
        frame::unique_bstr a(::SysAllocString(address.c_str()));
        BSTR text = nullptr;
        EXPECT_EQ(S_OK, http->GetURL(a.get(), nullptr, nullptr, &text));
        frame::unique_bstr owned(text);
        return text ? std::wstring(text, ::SysStringLen(text)) : L"<null>";
    }
};

TEST_F(MyHttpsTest, FetchesFromATrustedServerAndRefusesEveryBadCertificate) {
    ASSERT_TRUE(http);
    EXPECT_EQ(L"secure page " QK_PORT_HTTPS_GOOD_S "\n", get(L"https://localhost:" QK_PORT_HTTPS_GOOD_S "/"));
    for (const wchar_t* address :
         {L"https://localhost:" QK_PORT_HTTPS_EXPIRED_S "/", L"https://localhost:" QK_PORT_HTTPS_WRONG_HOST_S "/",
          L"https://localhost:" QK_PORT_HTTPS_SELF_SIGNED_S "/",
          L"https://localhost:" QK_PORT_HTTPS_UNKNOWN_ROOT_S "/"}) {
        // A fresh object each time, so no earlier page text comes back.
        http = quillnet.create<IMyHttp>(CLSID_MyHttp);
        const std::wstring text = get(address);
        EXPECT_TRUE(text == L"Error: SetAction(HTTP_GET) failed.12157" ||
                    text == L"Error: SetAction(HTTP_GET) failed.12175")
            << frame::to_utf8(address) << " gave " << frame::to_utf8(text.c_str());
    }
}

}  // namespace

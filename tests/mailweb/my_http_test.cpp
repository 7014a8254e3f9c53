// MyHttp as a page's script engine sees it, through the interface table and
// through IDispatch, fetching from nginx and tinyproxy on 127.0.0.1.
#include <gtest/gtest.h>

#include <string>

#include "frame/text.h"
#include "mailweb_env.h"
#include "quillnet.h"
#include "support/com_test.h"
#include "test_ports.h"

using frame::com_ptr;
using namespace qk_test;
using namespace mailweb_test;

namespace {

std::wstring url(const std::string& path, const char* host = "127.0.0.1") {
    const std::string s = "http://" + std::string(host) + ":" + std::to_string(kNginxPort) + path;
    return std::wstring(s.begin(), s.end());
}

class MyHttpTest : public ::testing::Test {
  protected:
    ComScope com;
    ComponentDll quillnet{L"Quillnet.dll"};
    com_ptr<IMyHttp> http = quillnet.create<IMyHttp>(CLSID_MyHttp);
    com_ptr<IDispatch> dispatch() {
        com_ptr<IDispatch> d;
        http->QueryInterface(IID_IDispatch, d.put_void());
        return d;
    }
    // GetURL through the interface table; null arguments stay null.
    std::wstring get_url(const std::wstring& address, const wchar_t* user = nullptr, const wchar_t* password = nullptr) {
        frame::unique_bstr a(::SysAllocStringLen(address.data(), static_cast<UINT>(address.size())));
        frame::unique_bstr u(user ? ::SysAllocString(user) : nullptr);
        frame::unique_bstr p(password ? ::SysAllocString(password) : nullptr);
        BSTR text = nullptr;
        EXPECT_EQ(S_OK, http->GetURL(a.get(), u.get(), p.get(), &text));
        frame::unique_bstr owned(text);
        return text ? std::wstring(text, ::SysStringLen(text)) : L"<null>";
    }
};

TEST_F(MyHttpTest, PageTextKeepsEveryByteInTheRightCharacterSet) {
    ASSERT_TRUE(http);
    EXPECT_EQ(L"Hello from nginx\n", get_url(url("/hello.txt")));
    const std::wstring utf8 = get_url(url("/utf8/page.html"));
    EXPECT_NE(std::wstring::npos, utf8.find(L"Gr\u00fc\u00dfe, \u03ba\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1 \u20ac \u4f60\u597d"))
        << frame::to_utf8(utf8.c_str());
    // No charset given: the bytes are the ANSI code page's.
    EXPECT_EQ(frame::ansi_to_wide("caf\xe9 cr\xe8me\n"), get_url(url("/ansi.txt")));
    EXPECT_EQ(std::wstring(L"A\0B\0\0C", 6), get_url(url("/zeros.bin")));
}

TEST_F(MyHttpTest, CodePage65001DecodesEachPageByTheCharsetItDeclares) {
    const std::wstring koi8 = get_url(url("/intl/koi8.html"));
    ASSERT_EQ(S_OK, put(dispatch().get(), L"CodePage", 65001L));
    const struct {
        const char* path;
        const wchar_t* text;
    } pages[] = {
        {"/utf8/page.html", L"Gr\u00fc\u00dfe, \u03ba\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1 \u20ac \u4f60\u597d"},
        // The Content-Type header wins over the page's own meta tag...
        {"/utf8/latin1-meta.html", L"Gr\u00fc\u00dfe"},
        // ...and without a charset there, the byte order mark or the meta tag.
        {"/intl/latin1-meta.html", L"Voil\u00e0, \u00e7a marche."},
        {"/intl/koi8.html", L"<body>\u041f\u0440\u0438\u0432\u0435\u0442</body>"},
        {"/intl/bom.txt", L"caf\u00e9 \u2615\n"},
        {"/intl/utf16.txt", L"caf\u00e9 \u2615 \U0001F600\n"},
        // Nothing declared: UTF-8 where it is valid.
        {"/intl/raw-utf8.txt", L"caf\u00e9 \u2615\n"},
    };
    for (const auto& p : pages) {
        const std::wstring text = get_url(url(p.path));
        EXPECT_NE(std::wstring::npos, text.find(p.text)) << p.path << ": " << frame::to_utf8(text.c_str());
    }
    EXPECT_EQ(L"caf\u00e9 \u2615\n", get_url(url("/intl/bom.txt")));  // the mark itself is dropped
    // Nothing declared and not UTF-8: the ANSI code page's reading, as by default.
    EXPECT_EQ(frame::ansi_to_wide("caf\xe9 cr\xe8me\n"), get_url(url("/ansi.txt")));
    EXPECT_EQ(std::wstring(L"A\0B\0\0C", 6), get_url(url("/zeros.bin")));
    // Back to 0: exactly the old text of a page the ANSI code page misreads.
    ASSERT_EQ(S_OK, http->put_CodePage(0));
    EXPECT_EQ(koi8, get_url(url("/intl/koi8.html")));
    EXPECT_NE(std::wstring::npos, koi8.find(frame::ansi_to_wide("\xf0\xd2\xc9\xd7\xc5\xd4")));
}

TEST_F(MyHttpTest, ErrorTextsAsAPageSeesThem) {
    auto d = dispatch();
    CallResult r = call(d.get(), L"GetURL", {Arg(url("/nothing-here").c_str()), Arg(L""), Arg(L"")});
    ASSERT_EQ(S_OK, r.hr);
    EXPECT_EQ(L"Error: SetAction(HTTP_GET) failed.404", text_of(r.value.get()));
    r = call(d.get(), L"GetURL", {Arg(L"www.example.com/x"), Arg(L""), Arg(L"")});
    EXPECT_EQ(L"Error: SetURL(www.example.com/x) failed. 12006", text_of(r.value.get()));
    r = call(d.get(), L"GetURL", {Arg(nullptr), Arg(nullptr), Arg(nullptr)});
    EXPECT_EQ(L"Error: SetURL() failed. 12005", text_of(r.value.get()));
    r = call(d.get(), L"GetRealTime", {Arg(L"http://127.0.0.1:" QK_PORT_MAILWEB_CLOSED_S "/")});
    EXPECT_EQ(L"Error: SetAction(HTTP_GET) failed.12029", text_of(r.value.get()));
    EXPECT_EQ(E_POINTER, http->GetRealTime(nullptr, nullptr));
}

// Redirects: followed up to the page's limit, one more is refused; limits
// out of range are the caller's error and change nothing.
TEST_F(MyHttpTest, RedirectAndTimeLimitsAsThePageSetsThem) {
    long n = -1;
    ASSERT_EQ(S_OK, http->get_Redirects(&n));
    EXPECT_EQ(10, n);
    ASSERT_EQ(S_OK, http->get_TimeLimit(&n));
    EXPECT_EQ(0, n);
    EXPECT_EQ(L"Hello from nginx\n", get_url(url("/r3")));
    ASSERT_EQ(S_OK, http->put_Redirects(2));
    EXPECT_EQ(L"Error: SetAction(HTTP_GET) failed.12156", get_url(url("/r3")));
    EXPECT_EQ(L"Hello from nginx\n", get_url(url("/r2")));
    ASSERT_EQ(S_OK, http->put_Redirects(0));
    EXPECT_EQ(L"Error: SetAction(HTTP_GET) failed.12156", get_url(url("/moved")));
    EXPECT_EQ(L"Hello from nginx\n", get_url(url("/hello.txt")));
    EXPECT_EQ(E_INVALIDARG, http->put_Redirects(11));
    EXPECT_EQ(E_INVALIDARG, http->put_TimeLimit(-1));
    EXPECT_EQ(E_INVALIDARG, http->put_TimeLimit(601));
    ASSERT_EQ(S_OK, http->put_TimeLimit(5));
    ASSERT_EQ(S_OK, http->get_TimeLimit(&n));
    EXPECT_EQ(5, n);
    ASSERT_EQ(S_OK, http->get_Redirects(&n));
    EXPECT_EQ(0, n);
    EXPECT_EQ(L"Hello from nginx\n", get_url(url("/hello.txt")));
    // By name, as a page sets them.
    EXPECT_EQ(S_OK, put(dispatch().get(), L"Redirects", Arg(3)));
    EXPECT_EQ(L"Hello from nginx\n", get_url(url("/r3")));
}

TEST_F(MyHttpTest, EachFetchReturnsOnlyItsOwnPage) {
    EXPECT_EQ(L"Hello from nginx\n", get_url(url("/hello.txt")));
    EXPECT_EQ(L"Error: SetAction(HTTP_GET) failed.404", get_url(url("/gone")));
    EXPECT_EQ(L"top secret\n", get_url(url("/private/secret.txt"), L"reader", L"s3cret word"));
}

TEST_F(MyHttpTest, GetRealTimeKeepsTheUserOfAnEarlierFetch) {
    auto d = dispatch();
    EXPECT_EQ(L"Error: SetAction(HTTP_GET) failed.401",
              text_of(call(d.get(), L"GetRealTime", {Arg(url("/private/secret.txt").c_str())}).value.get()));
    EXPECT_EQ(L"top secret\n", get_url(url("/private/secret.txt"), L"reader", L"s3cret word"));
    EXPECT_EQ(L"top secret\n",
              text_of(call(d.get(), L"GetRealTime", {Arg(url("/private/secret.txt").c_str())}).value.get()));
    // An empty user with a password changes nothing either.
    EXPECT_EQ(L"top secret\n", get_url(url("/private/secret.txt"), L"", L"other"));
}

TEST_F(MyHttpTest, SetProxySendsLaterFetchesThroughTheProxy) {
    auto d = dispatch();
    CallResult r = call(d.get(), L"SetProxy", {Arg(L"127.0.0.1"), Arg(kProxyPort)});
    ASSERT_EQ(S_OK, r.hr);
    EXPECT_EQ(0, V_I4(r.value.get()));
    const std::string marker = "/hello.txt?com-proxied=" + std::to_string(::GetTickCount64());
    EXPECT_EQ(L"Hello from nginx\n", get_url(url(marker, "localhost")));
    EXPECT_NE(std::string::npos, read_file(fixture_path("web/tinyproxy.log")).find(marker));
    int result = 7;
    frame::unique_bstr bad(::SysAllocString(L"not a host"));
    EXPECT_EQ(S_OK, http->SetProxy(bad.get(), 8080, &result));
    EXPECT_EQ(12005, result);
    EXPECT_EQ(E_POINTER, http->SetProxy(bad.get(), 8080, nullptr));
    EXPECT_EQ(S_OK, http->SetProxy(nullptr, 0, &result));
    EXPECT_EQ(0, result);
    d.reset();
    EXPECT_EQ(1u, ref_count(http.get()));
}

}  // namespace

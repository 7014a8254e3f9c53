// MyHttp as a page's script engine sees it, through the interface table and
// through IDispatch, fetching from nginx and tinyproxy on 127.0.0.1.
#include <gtest/gtest.h>

#include <string>

#include "frame/text.h"
#include "mailweb_env.h"
#include "quillnet.h"
#include "support/com_test.h"

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

TEST_F(MyHttpTest, ErrorTextsAsAPageSeesThem) {
    auto d = dispatch();
    CallResult r = call(d.get(), L"GetURL", {Arg(url("/nothing-here").c_str()), Arg(L""), Arg(L"")});
    ASSERT_EQ(S_OK, r.hr);
    EXPECT_EQ(L"Error: SetAction(HTTP_GET) failed.404", text_of(r.value.get()));
    r = call(d.get(), L"GetURL", {Arg(L"www.example.com/x"), Arg(L""), Arg(L"")});
    EXPECT_EQ(L"Error: SetURL(www.example.com/x) failed. 12006", text_of(r.value.get()));
    r = call(d.get(), L"GetURL", {Arg(nullptr), Arg(nullptr), Arg(nullptr)});
    EXPECT_EQ(L"Error: SetURL() failed. 12005", text_of(r.value.get()));
    r = call(d.get(), L"GetRealTime", {Arg(L"http://127.0.0.1:12599/")});
    EXPECT_EQ(L"Error: SetAction(HTTP_GET) failed.12029", text_of(r.value.get()));
    EXPECT_EQ(E_POINTER, http->GetRealTime(nullptr, nullptr));
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

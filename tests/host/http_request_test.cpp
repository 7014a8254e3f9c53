// Requests as the host reads them, and the text rules of Request and Server.
#include <gtest/gtest.h>

#include "host/http_request.h"
#include "host/page_state.h"

namespace {

using namespace host;

TEST(HttpRequest, HeadGivesMethodPathQueryAndHeaders) {
    HttpRequest r;
    EXPECT_FALSE(parse_head("GET /site/a%20b.asp?g=x&n=1 HTTP/1.1\r\nHost: 127.0.0.1:1\r\nX-Thing:  v \r\n\r\n", r));
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, "/site/a b.asp");
    EXPECT_EQ(r.query, "g=x&n=1");
    EXPECT_EQ(r.header("x-thing").value_or("?"), "v");
    EXPECT_FALSE(r.header("Cookie"));

    for (const char* bad : {"GET\r\n\r\n", "GET / FTP/1.0\r\n\r\n", "GET http://x/ HTTP/1.1\r\n\r\n",
                            "GET / HTTP/1.1\r\nno colon\r\n\r\n", "GET /a%00.asp HTTP/1.1\r\n\r\n"}) {
        HttpRequest other;
        EXPECT_TRUE(parse_head(bad, other)) << bad;
    }
}

TEST(HttpRequest, ConnectionStaysOpenAsTheVersionAndHeaderSay) {
    auto keeps = [](const char* head) {
        HttpRequest r;
        EXPECT_FALSE(parse_head(head, r)) << head;
        return wants_keep_alive(r);
    };
    EXPECT_TRUE(keeps("GET / HTTP/1.1\r\n\r\n"));
    EXPECT_FALSE(keeps("GET / HTTP/1.1\r\nConnection: Close\r\n\r\n"));
    EXPECT_FALSE(keeps("GET / HTTP/1.1\r\nConnection: TE, close\r\n\r\n"));
    EXPECT_FALSE(keeps("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_TRUE(keeps("GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n"));
    HttpRequest other;
    EXPECT_TRUE(parse_head("GET / HTTP/1.10\r\n\r\n", other));
}

TEST(HttpRequest, BodyLengthIsBelievedOnlyWhenItIsANumber) {
    auto length = [](const char* head) {
        HttpRequest r;
        parse_head(head, r);
        return announced_length(r);
    };
    EXPECT_EQ(length("POST / HTTP/1.1\r\n\r\n").value_or(99), size_t{0});
    EXPECT_EQ(length("POST / HTTP/1.1\r\nContent-Length: 1234\r\n\r\n").value_or(99), size_t{1234});
    EXPECT_FALSE(length("POST / HTTP/1.1\r\nContent-Length: 12x\r\n\r\n"));
    EXPECT_FALSE(length("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n"));
    EXPECT_FALSE(length("POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n"));
    EXPECT_FALSE(length("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"));
}

TEST(HttpRequest, PairsDecodeAndRepeatedNamesJoin) {
    const Pairs q = parse_pairs("g=a%2Eb&x=1+2&flag&X=3&bad=%zz%4");
    EXPECT_EQ(lookup(q, "g").value_or("?"), "a.b");
    EXPECT_EQ(lookup(q, "x").value_or("?"), "1 2, 3");
    EXPECT_EQ(lookup(q, "flag").value_or("?"), "");
    EXPECT_EQ(lookup(q, "bad").value_or("?"), "%zz%4");
    EXPECT_FALSE(lookup(q, "missing"));
    const Pairs c = parse_cookies("a=1; b=x%20y;c");
    EXPECT_EQ(lookup(c, "B").value_or("?"), "x y");
    EXPECT_EQ(lookup(c, "c").value_or("?"), "");
    EXPECT_EQ(url_decode("a+b%2B", false), "a+b+");
}

TEST(HttpRequest, ServerEncodings) {
    EXPECT_EQ(html_encode("<a href=\"x\">&amp;</a> caf\xc3\xa9"),
              "&lt;a href=&quot;x&quot;&gt;&amp;amp;&lt;/a&gt; caf\xc3\xa9");
    EXPECT_EQ(url_encode("a b/c.d-\xc3\xa9"), "a+b%2Fc%2Ed%2D%C3%A9");
}

TEST(PageState, MappedPathsStayInTheWebRoot) {
    PageState s;
    s.web_root = "C:\\site";
    s.page = "/news/article.asp";
    EXPECT_EQ(s.map_path("/uploads"), "C:\\site\\uploads");
    EXPECT_EQ(s.map_path("/uploads/"), "C:\\site\\uploads");
    EXPECT_EQ(s.map_path("x.png"), "C:\\site\\news\\x.png");
    EXPECT_EQ(s.map_path("/"), "C:\\site");
    EXPECT_EQ(s.map_path("../../boot.ini"), "");
}

TEST(PageState, ServerVariablesAndResponseHeaders) {
    PageState s;
    parse_head("POST /p.asp?a=1 HTTP/1.1\r\nHost: example:8080\r\nUser-Agent: t\r\n\r\n", s.request);
    s.page = "/p.asp";
    EXPECT_EQ(s.server_variable("request_method").value_or("?"), "POST");
    EXPECT_EQ(s.server_variable("QUERY_STRING").value_or("?"), "a=1");
    EXPECT_EQ(s.server_variable("HTTP_USER_AGENT").value_or("?"), "t");
    EXPECT_EQ(s.server_variable("SERVER_NAME").value_or("?"), "example");
    EXPECT_FALSE(s.server_variable("NO_SUCH_VARIABLE"));
    EXPECT_EQ(s.content_type_header(), "text/html; charset=utf-8");
    s.content_type = "image/jpeg";
    EXPECT_EQ(s.content_type_header(), "image/jpeg");
    s.status = "302 Object moved";
    EXPECT_EQ(s.status_code(), 302);
    s.status = "junk";
    EXPECT_EQ(s.status_code(), 500);
    EXPECT_FALSE(safe_header_text("a\r\nSet-Cookie: x"));
    EXPECT_TRUE(safe_header_text("text/html"));
}

}  // namespace

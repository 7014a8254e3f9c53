// The web fetcher's choice of client calls, page text and error texts,
// against a scripted client that records every call it gets.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "quillnet/mailweb/web_fetcher.h"

using namespace quillnet;
using mailweb::WebFetcher;

namespace {

struct Script {
    std::vector<std::string> calls;
    std::map<std::string, int> results;  // by method name; 0 when absent
    std::vector<std::pair<uint16_t, std::string>> chunks;  // delivered by each GET
    std::string content_type;
};

class ScriptedClient final : public engine::WebClient {
  public:
    ScriptedClient(engine::WebEvents& owner, std::shared_ptr<Script> s) : owner_(owner), s_(std::move(s)) {}
    int SetURL(std::string_view v) override { return note("SetURL", std::string(v)); }
    int SetUser(std::string_view v) override { return note("SetUser", std::string(v)); }
    int SetPassword(std::string_view v) override { return note("SetPassword", std::string(v)); }
    int SetProxyServer(std::string_view v) override { return note("SetProxyServer", std::string(v)); }
    int SetProxyPort(int v) override { return note("SetProxyPort", std::to_string(v)); }
    int SetNetworkEnabled(int v) override { return note("SetNetworkEnabled", std::to_string(v)); }
    int SetAction(int v) override {
        int64_t offset = 0;
        for (const auto& [kind, bytes] : s_->chunks) {
            owner_.Transfer(kind, offset, bytes.data(), static_cast<uint16_t>(bytes.size()));
            offset += static_cast<int64_t>(bytes.size());
        }
        return note("SetAction", std::to_string(v));
    }
    std::string ContentType() const override { return s_->content_type; }

  private:
    int note(const std::string& name, const std::string& arg) {
        s_->calls.push_back(name + "(" + arg + ")");
        auto it = s_->results.find(name);
        return it == s_->results.end() ? 0 : it->second;
    }
    engine::WebEvents& owner_;
    std::shared_ptr<Script> s_;
};

class WebFetcherTest : public ::testing::Test {
  protected:
    std::shared_ptr<Script> script = std::make_shared<Script>();
    std::unique_ptr<WebFetcher> fetcher = std::make_unique<WebFetcher>(
        [this](engine::WebEvents& owner) { return std::make_unique<ScriptedClient>(owner, script); });
    std::vector<std::string> calls_after_start() {
        return {script->calls.begin() + 1, script->calls.end()};
    }
};

using Calls = std::vector<std::string>;

TEST_F(WebFetcherTest, EnablesTheClientAtStartAndDisablesItAtTheEnd) {
    EXPECT_EQ(Calls{"SetNetworkEnabled(1)"}, script->calls);
    fetcher.reset();
    EXPECT_EQ((Calls{"SetNetworkEnabled(1)", "SetNetworkEnabled(0)"}), script->calls);
}

TEST_F(WebFetcherTest, UserAndPasswordReachTheClientOnlyWithAUser) {
    script->chunks = {{1, "page"}};
    EXPECT_EQ("page", fetcher->get_url("http://h/", "", "secret").text);
    EXPECT_EQ((Calls{"SetURL(http://h/)", "SetAction(1)"}), calls_after_start());

    script->calls.clear();
    EXPECT_EQ("page", fetcher->get_url("http://h/", "joe", "").text);
    EXPECT_EQ((Calls{"SetURL(http://h/)", "SetUser(joe)", "SetPassword()", "SetAction(1)"}), script->calls);
}

TEST_F(WebFetcherTest, FailedSettersStopTheFetchWithTheirTexts) {
    script->results["SetUser"] = 7;
    EXPECT_EQ("Error: SetUser() or SetPassword() failed. 7", fetcher->get_url("http://h/", "joe", "pw").text);
    EXPECT_EQ((Calls{"SetURL(http://h/)", "SetUser(joe)"}), calls_after_start());

    script->calls.clear();
    script->results = {{"SetPassword", -3}};
    EXPECT_EQ("Error: SetUser() or SetPassword() failed. -3", fetcher->get_url("http://h/", "joe", "pw").text);
    EXPECT_EQ((Calls{"SetURL(http://h/)", "SetUser(joe)", "SetPassword(pw)"}), script->calls);

    script->calls.clear();
    script->results = {{"SetURL", 12006}};
    EXPECT_EQ("Error: SetURL(no scheme) failed. 12006", fetcher->get_url("no scheme", "joe", "pw").text);
    EXPECT_EQ("Error: SetURL() failed. 12006", fetcher->get_url("", "", "").text);
    EXPECT_EQ((Calls{"SetURL(no scheme)", "SetURL()"}), script->calls);
}

TEST_F(WebFetcherTest, FailedGetGivesItsNumberRightAfterTheFullStop) {
    script->results["SetAction"] = 5;
    EXPECT_EQ("Error: SetAction(HTTP_GET) failed.5", fetcher->get_url("http://h/", "", "").text);
    script->results["SetAction"] = -5;
    EXPECT_EQ("Error: SetAction(HTTP_GET) failed.-5", fetcher->get_url("http://h/", "", "").text);
    script->results["SetAction"] = 404;
    EXPECT_EQ("Error: SetAction(HTTP_GET) failed.404", fetcher->get_url("http://h/", "", "").text);
}

TEST_F(WebFetcherTest, KeepsBodyChunksWholeAndNothingElse) {
    const std::string zeros("a\0b\0\0", 5);
    script->chunks = {{1, "one "}, {2, "not body"}, {1, ""}, {1, zeros}, {0, "nor this"}};
    const auto page = fetcher->get_url("http://h/", "", "");
    EXPECT_EQ("one " + zeros, page.text);
    EXPECT_EQ(9u, page.text.size());
}

TEST_F(WebFetcherTest, EveryFetchStartsFromAnEmptyPage) {
    script->chunks = {{1, "first"}};
    EXPECT_EQ("first", fetcher->get_url("http://h/1", "", "").text);
    script->chunks = {{1, "second"}};
    EXPECT_EQ("second", fetcher->get_url("http://h/2", "", "").text);
    // Text that arrived before a failure never comes back with a later page.
    script->chunks = {{1, "half a page"}};
    script->results["SetAction"] = 12002;
    EXPECT_EQ("Error: SetAction(HTTP_GET) failed.12002", fetcher->get_url("http://h/3", "", "").text);
    script->results.clear();
    script->chunks = {{1, "third"}};
    EXPECT_EQ("third", fetcher->get_url("http://h/4", "", "").text);
}

TEST_F(WebFetcherTest, AnnouncedLengthIsBelievedOnlyWithinReason) {
    // A server announcing a petabyte must not make the fetcher try to
    // reserve it (which would fail the call with out-of-memory).
    EXPECT_NO_THROW(fetcher->BodyLength(1ull << 50));
    fetcher->BodyLength(1000);
    script->chunks = {{1, "short"}};
    EXPECT_EQ("short", fetcher->get_url("http://h/", "", "").text);
}

TEST_F(WebFetcherTest, PageIsUtf8OnlyWhenTheResponseSaysSo) {
    script->chunks = {{1, "x"}};
    script->content_type = "text/html; charset=UTF-8";
    EXPECT_TRUE(fetcher->get_url("http://h/", "", "").utf8);
    script->content_type = "text/html; charset=iso-8859-1";
    EXPECT_FALSE(fetcher->get_url("http://h/", "", "").utf8);
    // Error texts carry the address in the ANSI code page.
    script->results["SetAction"] = 404;
    script->content_type = "text/html; charset=utf-8";
    EXPECT_FALSE(fetcher->get_url("http://h/", "", "").utf8);
}

TEST_F(WebFetcherTest, ProxyPortIsSetOnlyAfterTheServerWasTaken) {
    EXPECT_EQ(0, fetcher->set_proxy("proxy", 8080));
    EXPECT_EQ((Calls{"SetProxyServer(proxy)", "SetProxyPort(8080)"}), calls_after_start());
    script->calls.clear();
    script->results = {{"SetProxyServer", 12005}};
    EXPECT_EQ(12005, fetcher->set_proxy("bad proxy", 8080));
    EXPECT_EQ(Calls{"SetProxyServer(bad proxy)"}, script->calls);
    script->calls.clear();
    script->results = {{"SetProxyPort", 87}};
    EXPECT_EQ(87, fetcher->set_proxy("proxy", -1));
    EXPECT_EQ((Calls{"SetProxyServer(proxy)", "SetProxyPort(-1)"}), script->calls);
}

TEST(ContentTypeTest, FindsTheCharsetParameterWhateverItsSpelling) {
    EXPECT_TRUE(engine::content_type_is_utf8("text/html; charset=utf-8"));
    EXPECT_TRUE(engine::content_type_is_utf8("text/plain;CHARSET=\"UTF-8\""));
    EXPECT_TRUE(engine::content_type_is_utf8("text/plain; format=flowed; charset = utf8"));
    EXPECT_FALSE(engine::content_type_is_utf8("text/html"));
    EXPECT_FALSE(engine::content_type_is_utf8("text/html; charset=windows-1252"));
    EXPECT_FALSE(engine::content_type_is_utf8("text/utf-8"));
    EXPECT_FALSE(engine::content_type_is_utf8("text/html; xcharset=utf-8"));
    EXPECT_FALSE(engine::content_type_is_utf8(""));
}

}  // namespace

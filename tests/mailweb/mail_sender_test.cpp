// The mail sender's choice of client calls and its connected flag, against
// a scripted client that records every call it gets.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "quillnet/mailweb/mail_sender.h"

using namespace quillnet;
using mailweb::MailSender;

namespace {

struct Script {
    std::vector<std::string> calls;
    std::map<std::string, int> results;  // by call as recorded; 0 when absent
};

class ScriptedClient final : public engine::MailEngine {
  public:
    explicit ScriptedClient(std::shared_ptr<Script> s) : s_(std::move(s)) {}
    int SetMailServer(std::string_view v) override { return note("SetMailServer(" + std::string(v) + ")"); }
    int SetMailField1(std::string_view v) override { return note("SetMailField1(" + std::string(v) + ")"); }
    int SetMailField2(std::string_view v) override { return note("SetMailField2(" + std::string(v) + ")"); }
    int SetMailField3(std::string_view v) override { return note("SetMailField3(" + std::string(v) + ")"); }
    int SetMailField4(std::string_view v) override { return note("SetMailField4(" + std::string(v) + ")"); }
    int SetMailField5(std::string_view v) override { return note("SetMailField5(" + std::string(v) + ")"); }
    int SetNetworkEnabled(int v) override { return note("SetNetworkEnabled(" + std::to_string(v) + ")"); }
    int SetAction(int v) override { return note("SetAction(" + std::to_string(v) + ")"); }

  private:
    int note(const std::string& call) {
        s_->calls.push_back(call);
        auto it = s_->results.find(call);
        return it == s_->results.end() ? 0 : it->second;
    }
    std::shared_ptr<Script> s_;
};

using Calls = std::vector<std::string>;

class MailSenderTest : public ::testing::Test {
  protected:
    std::shared_ptr<Script> script = std::make_shared<Script>();
    std::unique_ptr<MailSender> sender = std::make_unique<MailSender>(std::make_unique<ScriptedClient>(script));
    Calls calls_at_end() {
        script->calls.clear();
        sender.reset();
        return script->calls;
    }
};

TEST_F(MailSenderTest, ConnectedSenderSaysGoodbyeAtTheEnd) {
    EXPECT_TRUE(script->calls.empty());  // construction alone calls nothing
    EXPECT_EQ(0, sender->set_server("mail.example.test"));
    EXPECT_EQ((Calls{"SetNetworkEnabled(1)", "SetMailServer(mail.example.test)", "SetAction(1)"}), script->calls);
    EXPECT_TRUE(sender->connected());
    EXPECT_EQ((Calls{"SetAction(2)", "SetNetworkEnabled(0)"}), calls_at_end());
}

TEST_F(MailSenderTest, FailedConnectIsNotReportedButLeavesTheEndQuiet) {
    script->results["SetAction(1)"] = 10061;
    EXPECT_EQ(0, sender->set_server("unreachable.test"));
    EXPECT_FALSE(sender->connected());
    EXPECT_EQ(Calls{}, calls_at_end());
}

TEST_F(MailSenderTest, RefusedServerIsReportedAndNotConnectedTo) {
    script->results["SetMailServer(bad server)"] = 2001;
    EXPECT_EQ(2001, sender->set_server("bad server"));
    EXPECT_EQ((Calls{"SetNetworkEnabled(1)", "SetMailServer(bad server)"}), script->calls);
    EXPECT_FALSE(sender->connected());
    EXPECT_EQ(Calls{}, calls_at_end());
}

TEST_F(MailSenderTest, OnlyTheLatestConnectDecidesTheFlag) {
    EXPECT_EQ(0, sender->set_server("a.test"));
    script->results["SetAction(1)"] = 421;
    EXPECT_EQ(0, sender->set_server("b.test"));
    EXPECT_FALSE(sender->connected());
    // No disconnect before the second connect either.
    EXPECT_EQ((Calls{"SetNetworkEnabled(1)", "SetMailServer(a.test)", "SetAction(1)", "SetNetworkEnabled(1)",
                     "SetMailServer(b.test)", "SetAction(1)"}),
              script->calls);
    EXPECT_EQ(Calls{}, calls_at_end());
}

TEST_F(MailSenderTest, EmptyFieldsMakeNoSetterCall) {
    EXPECT_EQ(0, sender->send_mail({"from@x.test", "to@x.test", "first subject", "body", "cc@x.test"}));
    EXPECT_EQ((Calls{"SetMailField1(from@x.test)", "SetMailField2(to@x.test)", "SetMailField3(first subject)",
                     "SetMailField4(body)", "SetMailField5(cc@x.test)", "SetAction(3)"}),
              script->calls);
    script->calls.clear();
    // The second message keeps the first one's subject: no SetMailField3.
    EXPECT_EQ(0, sender->send_mail({"from@x.test", "to@x.test", "", "second body", ""}));
    EXPECT_EQ((Calls{"SetMailField1(from@x.test)", "SetMailField2(to@x.test)", "SetMailField4(second body)",
                     "SetAction(3)"}),
              script->calls);
    script->calls.clear();
    EXPECT_EQ(0, sender->send_mail({"", "", "", "", ""}));
    EXPECT_EQ(Calls{"SetAction(3)"}, script->calls);
}

TEST_F(MailSenderTest, SendGoesAheadWithoutServerAndReturnsTheSendNumber) {
    script->results["SetAction(3)"] = 2002;
    EXPECT_EQ(2002, sender->send_mail({"from@x.test", "to@x.test", "s", "b", ""}));
    EXPECT_EQ("SetAction(3)", script->calls.back());
    script->results["SetMailField2(to@x.test)"] = 99;  // setter failures are not reported
    script->results["SetAction(3)"] = 550;
    EXPECT_EQ(550, sender->send_mail({"", "to@x.test", "", "", ""}));
    EXPECT_FALSE(sender->connected());
    EXPECT_EQ(Calls{}, calls_at_end());
}

}  // namespace

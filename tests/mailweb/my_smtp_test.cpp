// MySmtp as a page's script engine sees it, through the interface table and
// through IDispatch, sending to aiosmtpd and to the fault server.
#include <gtest/gtest.h>

#include <algorithm>
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

class MySmtpTest : public ::testing::Test {
  protected:
    ComScope com;
    ComponentDll quillnet{L"Quillnet.dll"};
    com_ptr<IMySmtp> smtp = quillnet.create<IMySmtp>(CLSID_MySmtp);
    com_ptr<IDispatch> dispatch() {
        com_ptr<IDispatch> d;
        smtp->QueryInterface(IID_IDispatch, d.put_void());
        return d;
    }
    int set_server(const wchar_t* server) {
        frame::unique_bstr s(server ? ::SysAllocString(server) : nullptr);
        int result = -12345;
        EXPECT_EQ(S_OK, smtp->SetServer(s.get(), &result));
        return result;
    }
    int send(const std::wstring& to, const wchar_t* subject = L"s") {
        auto d = dispatch();
        CallResult r = call(d.get(), L"SendMail",
                            {Arg(L"sender@example.test"), Arg(to.c_str()), Arg(subject), Arg(L"body\n"), Arg(L"")});
        EXPECT_EQ(S_OK, r.hr);
        return V_I4(r.value.get());
    }
};

TEST_F(MySmtpTest, SendsWhatThePageGaveThroughBothBindings) {
    ASSERT_TRUE(smtp);
    EXPECT_EQ(0, set_server(L"127.0.0.1:" QK_PORT_SMTP_SINK_S));
    const std::string box = "com-" + std::to_string(::GetTickCount64()) + "@example.test";
    const std::wstring subject = L"Gr\u00fc\u00dfe vom Caf\u00e9";
    EXPECT_EQ(0, send(std::wstring(box.begin(), box.end()), subject.c_str()));
    const std::string summary = read_file(fixture_path("spool/" + box + ".txt"));
    EXPECT_NE(std::string::npos, summary.find("Subject: " + frame::to_utf8(subject.c_str()) + "\n")) << summary;
    EXPECT_NE(std::string::npos, summary.find("From: sender@example.test\n")) << summary;
    // The same through the interface table, with null texts as empty ones:
    // the fields of the first message are still in force.
    int result = -1;
    const std::string second = "com2-" + std::to_string(::GetTickCount64()) + "@example.test";
    frame::unique_bstr to(::SysAllocString(std::wstring(second.begin(), second.end()).c_str()));
    EXPECT_EQ(S_OK, smtp->SendMail(nullptr, to.get(), nullptr, nullptr, nullptr, &result));
    EXPECT_EQ(0, result);
    EXPECT_NE(std::string::npos, read_file(fixture_path("spool/" + second + ".txt")).find("Subject: " + frame::to_utf8(subject.c_str())));
    EXPECT_EQ(E_POINTER, smtp->SendMail(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(1u, ref_count(smtp.get()));
}

TEST_F(MySmtpTest, ErrorNumbersAsAPageSeesThem) {
    EXPECT_EQ(2002, send(L"to@example.test"));  // no server yet: the send is still tried
    EXPECT_EQ(2001, set_server(L""));
    EXPECT_EQ(2001, set_server(nullptr));
    EXPECT_EQ(2001, set_server(L"ftp://mail.example.test"));
    // Accepted but unreachable: SetServer says 0, the send tells.
    EXPECT_EQ(0, set_server(L"127.0.0.1:" QK_PORT_MAILWEB_CLOSED_S));
    EXPECT_EQ(10061, send(L"to@example.test"));
    EXPECT_EQ(E_POINTER, smtp->SetServer(nullptr, nullptr));
}

TEST_F(MySmtpTest, ConnectedObjectSaysQuitWhenReleased) {
    const auto quits = [] {
        const std::string log = fault_log("quit_on_release");
        size_t n = 0;
        for (size_t at = log.find("C: QUIT"); at != std::string::npos; at = log.find("C: QUIT", at + 1)) ++n;
        return n;
    };
    const size_t before = quits();
    EXPECT_EQ(0, set_server(L"127.0.0.1:" QK_PORT_FAULT_SMTP_QUIT_ON_RELEASE_S));
    smtp.reset();
    EXPECT_EQ(before + 1, quits());
}

TEST_F(MySmtpTest, CodePage65001SendsUtf8ThatAMailReaderDecodes) {
    auto d = dispatch();
    ASSERT_EQ(S_OK, put(d.get(), L"CodePage", 65001L));
    CallResult cp = get(d.get(), L"CodePage");
    ASSERT_EQ(S_OK, cp.hr);
    EXPECT_EQ(65001, V_I4(cp.value.get()));
    EXPECT_EQ(0, set_server(L"127.0.0.1:" QK_PORT_SMTP_SINK_S));
    const std::string box = unique_box("utf8");
    const std::wstring to = L"J\u00fcrgen M\u00fcller <" + std::wstring(box.begin(), box.end()) + L">";
    // Letters no ANSI code page holds all of: Greek, Cyrillic, a cup.
    const std::wstring subject =
        L"Gr\u00fc\u00dfe \u2014 \u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac "
        L"\u0440\u0443\u0441\u0441\u043a\u0438\u0439 \u2615";
    const std::wstring body = L"Sch\u00f6ne Gr\u00fc\u00dfe \u2615\n\u041f\u0440\u0438\u0432\u0435\u0442\n";
    CallResult r =
        call(d.get(), L"SendMail",
             {Arg(L"Zo\u00eb <zoe@example.test>"), Arg(to.c_str()), Arg(subject.c_str()), Arg(body.c_str()), Arg(L"")});
    ASSERT_EQ(S_OK, r.hr);
    ASSERT_EQ(0, V_I4(r.value.get()));
    auto got = received(box);
    EXPECT_EQ(frame::to_utf8(subject.c_str()), got["Subject"]);
    EXPECT_EQ(frame::to_utf8(L"Zo\u00eb <zoe@example.test>"), got["From"]);
    EXPECT_EQ(frame::to_utf8(to.c_str()), got["To"]);
    EXPECT_EQ("utf-8", got["charset"]);
    EXPECT_EQ("0", got["defects"]);
    EXPECT_EQ(frame::to_utf8(body.c_str()), got["body"]);
    EXPECT_EQ("BODY=8BITMIME", got["mail_options"]);
    // An address beyond ASCII travels with SMTPUTF8, which aiosmtpd offers...
    const std::string international = "j\xC3\xBCrgen-" + box;
    const std::wstring wide = frame::utf8_to_wide(international);
    r = call(d.get(), L"SendMail", {Arg(L""), Arg(wide.c_str()), Arg(L""), Arg(L""), Arg(L"")});
    EXPECT_EQ(0, V_I4(r.value.get()));
    got = received("j_rgen-" + box);
    EXPECT_EQ(international, got["rcpt_tos"]);
    EXPECT_EQ("BODY=8BITMIME SMTPUTF8", got["mail_options"]);
    // ...and is refused before MAIL by a server that does not.
    EXPECT_EQ(0, set_server(L"127.0.0.1:" QK_PORT_FAULT_SMTP_NO_SMTPUTF8_S));
    r = call(d.get(), L"SendMail", {Arg(L""), Arg(wide.c_str()), Arg(L""), Arg(L""), Arg(L"")});
    EXPECT_EQ(2020, V_I4(r.value.get()));
    EXPECT_TRUE(FAILED(put(d.get(), L"CodePage", 437L)));
    EXPECT_EQ(E_INVALIDARG, smtp->put_CodePage(437));
}

}  // namespace

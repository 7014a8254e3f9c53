// The SMTP client against a real Postfix (postfix-fixture.sh) over STARTTLS,
// on three ports that differ only in the extensions they offer: PIPELINING
// and CHUNKING, neither, CHUNKING alone. What Postfix delivered is read back
// from its Maildir, one copy per recipient with "Delivered-To:" on top.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "mailweb_env.h"
#include "quillnet/engine/smtp_client.h"
#include "test_ports.h"

using namespace quillnet::engine;

namespace {

std::string maildir() {
    const char* dir = std::getenv("QK_POSTFIX_DIR");
    std::string path = std::string("Z:") + (dir ? dir : "/nonexistent") + "/mail/all/new";
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// Every delivered copy by its recipient; files already read are not read
// again, as the Maildir only grows during a run.
class Deliveries {
  public:
    // The copies for `box`, once `count` of them are there (or 20 s passed).
    std::vector<std::string> wait_for(const std::string& box, size_t count) {
        for (int i = 0; i < 200 && copies(box).size() < count; ++i) ::Sleep(100);
        return copies(box);
    }

  private:
    std::vector<std::string> copies(const std::string& box) {
        WIN32_FIND_DATAA found;
        HANDLE h = ::FindFirstFileA((maildir() + "\\*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
                if (!seen_.emplace(found.cFileName, true).second) continue;
                const std::string text = mailweb_test::read_file(maildir() + "\\" + found.cFileName);
                const size_t at = text.find("Delivered-To: ");
                const size_t end = text.find('\n', at);
                if (at != std::string::npos && end != std::string::npos)
                    by_box_[text.substr(at + 14, end - at - 14)].push_back(text);
            } while (::FindNextFileA(h, &found));
            ::FindClose(h);
        }
        return by_box_[box];
    }
    std::map<std::string, bool> seen_;
    std::map<std::string, std::vector<std::string>> by_box_;
};
Deliveries deliveries;

std::string box(int port, const std::string& what, int n = 0) {
    return what + "-" + std::to_string(port) + "-" + std::to_string(n) + "@mail.test";
}

std::string body_of(const std::string& copy) {
    const size_t at = copy.find("\n\n");
    return at == std::string::npos ? std::string() : copy.substr(at + 2);
}

class PostfixMail : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        ASSERT_EQ(0, mail->SetMailServer("smtp+starttls://localhost:" + std::to_string(GetParam())));
        ASSERT_EQ(0, mail->SetAction(kMailConnect));
        mail->SetMailField1("Quill Sender <sender@example.test>");
        mail->SetMailField3("Postfix case");
        mail->SetMailField4("A line.\r\n");
    }
    void TearDown() override { EXPECT_EQ(0, mail->SetAction(kMailDisconnect)); }
    std::unique_ptr<MailEngine> mail = make_smtp_client();
};

TEST_P(PostfixMail, OneTenAndAHundredRecipientsGetOneCopyEach) {
    const int port = GetParam();
    for (const int n : {1, 10, 100}) {
        std::string to;
        for (int i = 0; i < n; ++i) to += (i ? ", " : "") + box(port, "many" + std::to_string(n), i);
        mail->SetMailField2(to);
        ASSERT_EQ(0, mail->SetAction(kMailSend)) << n;
    }
    for (const int n : {1, 10, 100}) {
        for (int i = 0; i < n; ++i) {
            const auto copies = deliveries.wait_for(box(port, "many" + std::to_string(n), i), 1);
            ASSERT_EQ(1u, copies.size()) << n << " recipients, #" << i;
            EXPECT_EQ("A line.\n", body_of(copies[0]));
            EXPECT_NE(std::string::npos, copies[0].find(" with ESMTPS id ")) << copies[0];
        }
    }
}

TEST_P(PostfixMail, EightBitAndSevenBitBodiesArriveIntact) {
    const int port = GetParam();
    const std::string lines = ".leading dot\r\n.\r\n..two\r\nlast";
    mail->SetMailField2(box(port, "eight"));
    mail->SetMailField4("caf\xe9 " + lines);
    ASSERT_EQ(0, mail->SetAction(kMailSend));
    mail->SetMailField2(box(port, "seven"));
    mail->SetMailField4("plain " + lines);
    ASSERT_EQ(0, mail->SetAction(kMailSend));
    auto eight = deliveries.wait_for(box(port, "eight"), 1);
    ASSERT_EQ(1u, eight.size());
    EXPECT_NE(std::string::npos, eight[0].find("Content-Transfer-Encoding: 8bit\n"));
    EXPECT_EQ("caf\xe9 .leading dot\n.\n..two\nlast\n", body_of(eight[0]));
    auto seven = deliveries.wait_for(box(port, "seven"), 1);
    ASSERT_EQ(1u, seven.size());
    EXPECT_EQ("plain .leading dot\n.\n..two\nlast\n", body_of(seven[0]));
    // Lines that start with a dot are where DATA and BDAT differ.
    mail->SetMailField4(lines);
    ASSERT_EQ(0, mail->SetAction(kMailSend));
    seven = deliveries.wait_for(box(port, "seven"), 2);
    ASSERT_EQ(2u, seven.size());
    EXPECT_EQ(".leading dot\n.\n..two\nlast\n", body_of(seven[1]));
}

// One refused recipient between two good ones: the send reports Postfix's
// 550 and the message reaches nobody; the session carries the next one.
TEST_P(PostfixMail, RefusedRecipientInTheMiddleStopsTheWholeMessage) {
    const int port = GetParam();
    const std::string a = box(port, "before"), b = box(port, "after");
    mail->SetMailField2(a + ", refused@mail.test, " + b);
    EXPECT_EQ(550, mail->SetAction(kMailSend));
    mail->SetMailField2(a);
    mail->SetMailField3("second");
    ASSERT_EQ(0, mail->SetAction(kMailSend));
    const auto copies = deliveries.wait_for(a, 1);
    ASSERT_EQ(1u, copies.size());
    EXPECT_NE(std::string::npos, copies[0].find("Subject: second\n"));
    EXPECT_TRUE(deliveries.wait_for(b, 0).empty());
}

INSTANTIATE_TEST_SUITE_P(Extensions, PostfixMail,
                         ::testing::Values(QK_PORT_POSTFIX, QK_PORT_POSTFIX_NEITHER, QK_PORT_POSTFIX_CHUNKING),
                         [](const auto& info) {
                             return std::string(info.param == QK_PORT_POSTFIX           ? "PipeliningAndChunking"
                                                : info.param == QK_PORT_POSTFIX_NEITHER ? "Neither"
                                                                                        : "ChunkingOnly");
                         });

}  // namespace

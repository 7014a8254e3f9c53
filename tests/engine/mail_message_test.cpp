// The mail message as it goes after DATA: address lists, the header block,
// and the transfer encoding chosen for the body.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "golden.h"
#include "quillnet/engine/mail_message.h"
#include "quillnet/engine/utf8_text.h"

using namespace quillnet::engine;
using qk_golden::crlf_lines;

namespace {

TEST(AddressLists, SplitAtCommasAndSemicolonsOutsideQuotesAndBrackets) {
    std::vector<MailAddress> list;
    ASSERT_EQ(0, split_addresses(" a@x.test, b@y.test;c@z.test ;, ", list));
    ASSERT_EQ(3u, list.size());
    EXPECT_EQ("c@z.test", list[2].mailbox);
    ASSERT_EQ(0, split_addresses("\"Doe, John\" <john@x.test>; Ann <ann;x@y.test>", list));
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ("\"Doe, John\"", list[0].display);
    EXPECT_EQ("john@x.test", list[0].mailbox);
    EXPECT_EQ("ann;x@y.test", list[1].mailbox);
    ASSERT_EQ(0, split_addresses("", list));
    EXPECT_TRUE(list.empty());
}

TEST(AddressLists, RefuseAddressesThatWouldChangeTheConversation) {
    std::vector<MailAddress> list;
    for (const char* bad : {"a@x.test\r\nRCPT TO:<evil@x.test>", "a@x.test>\r\nDATA", "Name <a@x.test", "a b@x.test",
                            "Name <a@x.test> trailing", "<>", "Name <a<b@x.test>"}) {
        EXPECT_EQ(kMailBadAddress, split_addresses(bad, list)) << bad;
    }
}

MessageParts sample() {
    MessageParts p;
    split_addresses("Sender <sender@example.test>", p.to);
    p.from = p.to.front();
    split_addresses("one@example.test, Two <two@example.test>", p.to);
    p.subject = "Hello";
    p.body = "line 1\nline 2\r\n.\r\n";
    p.charset = "windows-1252";
    p.date = "Tue, 01 Dec 2026 10:00:00 +0000";
    p.message_id = "<id@example.test>";
    return p;
}

TEST(ComposedMessage, CarriesACompleteHeaderBlock) {
    const ComposedMessage m = compose_message(sample());
    EXPECT_EQ(
        "Date: Tue, 01 Dec 2026 10:00:00 +0000\r\n"
        "From: Sender <sender@example.test>\r\n"
        "To: one@example.test, Two <two@example.test>\r\n"
        "Subject: Hello\r\n"
        "Message-ID: <id@example.test>\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: text/plain; charset=\"windows-1252\"\r\n"
        "Content-Transfer-Encoding: 8bit\r\n"
        "\r\n"
        "line 1\r\nline 2\r\n.\r\n",
        m.text);
    EXPECT_FALSE(m.eight_bit);
}

TEST(ComposedMessage, ChoosesTheTransferEncodingTheServerCanCarry) {
    MessageParts p = sample();
    p.body = "caf\xe9\n";
    EXPECT_NE(std::string::npos, compose_message(p).text.find("quoted-printable\r\n\r\ncaf=E9\r\n"));
    p.eight_bit_ok = true;
    ComposedMessage m = compose_message(p);
    EXPECT_NE(std::string::npos, m.text.find("8bit\r\n\r\ncaf\xe9\r\n"));
    EXPECT_TRUE(m.eight_bit);
    p.body = std::string(1200, 'a');  // longer than a line may be
    EXPECT_NE(std::string::npos, compose_message(p).text.find("Content-Transfer-Encoding: quoted-printable"));
}

TEST(ComposedMessage, KeepsPageTextOutOfTheHeaderStructure) {
    MessageParts p = sample();
    p.subject = "Hi\r\nBcc: victim@example.test";
    split_addresses("Caf\xe9 Owner <cafe@example.test>", p.cc);
    for (int i = 0; i < 8; ++i) p.to.push_back({"", "recipient" + std::to_string(i) + "@example.test"});
    const ComposedMessage m = compose_message(p);
    EXPECT_NE(std::string::npos, m.text.find("Subject: Hi  Bcc: victim@example.test\r\n"));
    EXPECT_NE(std::string::npos, m.text.find("Cc: =?windows-1252?B?"));
    const std::string head = m.text.substr(0, m.text.find("\r\n\r\n"));
    for (const std::string& line : crlf_lines(head)) {
        EXPECT_LE(line.size(), 78u) << line;
        EXPECT_NE(0u, line.rfind("Bcc:", 0)) << line;
    }
}

}  // namespace

namespace {

// A header as a reader unfolds and decodes it.
std::string read_back(const std::string& folded) {
    std::string unfolded;
    for (const std::string& line : crlf_lines(folded)) unfolded += line;
    return header_to_utf8(unfolded);
}

TEST(ComposedMessage, TextsInUtf8GoOutAsUtf8WithTheShorterEncodedWords) {
    MessageParts p = sample();
    p.utf8 = true;
    p.charset = "UTF-8";
    split_addresses("Zo\xC3\xAB Kr\xC3\xBCger <zoe@example.test>", p.to);
    const std::string latin =
        "Gr\xC3\xBC\xC3\x9F"
        "e aus K\xC3\xB6ln \xE2\x80\x94 caf\xC3\xA9 \xE2\x98\x95";
    std::string cyrillic;
    for (int i = 0; i < 40; ++i) cyrillic += "\xD1\x80\xD1\x83";  // 80 two-byte letters
    const std::string mostly_ascii = "Caf\xC3\xA9 cr\xC3\xA8me for everybody at the Monday meeting, as always";
    // Mostly ASCII letters take Q; dense non-ASCII text, B.
    const std::pair<std::string, const char*> cases[] = {{latin, "=?UTF-8?B?"},
                                                         {cyrillic, "=?UTF-8?B?"},
                                                         {mostly_ascii, "=?UTF-8?Q?"},
                                                         {latin + latin + latin, "=?UTF-8?B?"}};
    for (const auto& [subject, encoding] : cases) {
        p.subject = subject;
        const ComposedMessage m = compose_message(p);
        const size_t start = m.text.find("Subject: ") + 9;
        const size_t end = m.text.find("\r\nMessage-ID");
        const std::string words = m.text.substr(start, end - start);
        EXPECT_EQ(subject, read_back(words));
        EXPECT_EQ(0u, words.find(encoding)) << words;
        for (const std::string& line : crlf_lines("Subject: " + words)) EXPECT_LE(line.size(), 76u) << line;
        EXPECT_NE(std::string::npos, m.text.find("Content-Type: text/plain; charset=\"UTF-8\"\r\n"));
    }
    const ComposedMessage m = compose_message(p);
    const size_t to = m.text.find("To: ");
    EXPECT_EQ("Zo\xC3\xAB Kr\xC3\xBCger <zoe@example.test>",
              read_back(m.text.substr(to + 4, m.text.find("\r\nSubject") - to - 4)));

    // The body: 8bit where the server takes it, else quoted-printable.
    p.body =
        "Sch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F"
        "e\n";
    p.eight_bit_ok = true;
    EXPECT_NE(std::string::npos, compose_message(p).text.find("8bit\r\n\r\nSch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F"
                                                              "e\r\n"));
    p.eight_bit_ok = false;
    EXPECT_NE(std::string::npos,
              compose_message(p).text.find("quoted-printable\r\n\r\nSch=C3=B6ne Gr=C3=BC=C3=9Fe\r\n"));
}

TEST(ComposedMessage, MailFromParametersAndAddressesBeyondAscii) {
    MessageParts p = sample();
    ComposedMessage eight{"", true}, seven{"", false};
    MailOffers offers;
    for (const char* line : {"SIZE 1000", "8BITMIME", "SMTPUTF8"}) read_mail_offer(line, offers);
    ASSERT_TRUE(offers.eight_bit_mime && offers.smtp_utf8);
    std::string params;
    EXPECT_EQ(0, mail_from_parameters(p, eight, offers, params));
    EXPECT_EQ(" BODY=8BITMIME", params);
    split_addresses("j\xC3\xBCrgen@example.test", p.cc);
    // In the ANSI code page the address goes out as it always did.
    EXPECT_EQ(0, mail_from_parameters(p, seven, {}, params));
    EXPECT_EQ("", params);
    p.utf8 = true;
    EXPECT_EQ(0, mail_from_parameters(p, eight, offers, params));
    EXPECT_EQ(" BODY=8BITMIME SMTPUTF8", params);
    EXPECT_EQ(kMailAddressNeedsSmtpUtf8, mail_from_parameters(p, seven, MailOffers{true, false}, params));
}

}  // namespace

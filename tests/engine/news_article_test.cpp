// The article POST sends: its header block, the refusals made before a byte
// goes out, References trimmed from the middle, folded header lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quillnet/engine/mime_part.h"
#include "quillnet/engine/news_article.h"
#include "quillnet/engine/news_client.h"
#include "quillnet/engine/utf8_text.h"

using namespace quillnet::engine;

namespace {

const PostStamp kStamp{"Mon, 01 Jan 2024 12:00:00 +0000", "<id.1@example.invalid>", "windows-1252", 1252};

// The value of a header of the article, unfolded; "" when it is missing.
std::string header(const std::string& article, const std::string& name) {
    const size_t end = article.find("\r\n\r\n");
    size_t at = article.rfind("\r\n" + name + ": ", end);
    if (article.compare(0, name.size() + 2, name + ": ") == 0) at = 0;
    else if (at == std::string::npos) return "";
    else at += 2;
    std::string value;
    size_t pos = at + name.size() + 2;
    for (;;) {
        const size_t eol = article.find("\r\n", pos);
        value.append(article, pos, eol - pos);
        if (article[eol + 2] != ' ' && article[eol + 2] != '\t') return value;
        pos = eol + 2;
    }
}

TEST(NewsArticle, HeaderBlockAndBodyWithCrlfLineEnds) {
    std::string out, why;
    ASSERT_EQ(0, build_post({"Ann <ann@example.invalid>", " test.a , test.b ", "Hello", "one\r\ntwo\nthree\rfour", ""},
                            kStamp, out, why));
    EXPECT_EQ(
        "From: Ann <ann@example.invalid>\r\n"
        "Newsgroups: test.a,test.b\r\n"
        "Subject: Hello\r\n"
        "Date: Mon, 01 Jan 2024 12:00:00 +0000\r\n"
        "Message-ID: <id.1@example.invalid>\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: text/plain; charset=\"windows-1252\"\r\n"
        "Content-Transfer-Encoding: 7bit\r\n"
        "\r\n"
        "one\r\ntwo\r\nthree\r\nfour\r\n",
        out);
    ASSERT_EQ(0, build_post({"a@example.invalid", "test.a", "Caf\xe9 \xe0 la carte", "d\xe9j\xe0\n", "<p@x>"}, kStamp,
                            out, why));
    EXPECT_EQ("<p@x>", header(out, "References"));
    EXPECT_EQ("8bit", header(out, "Content-Transfer-Encoding"));
    const std::string subject = header(out, "Subject");
    EXPECT_EQ(0u, subject.find("=?windows-1252?B?"));
    EXPECT_EQ("Caf\xe9 \xe0 la carte", decode_encoded_words(subject));
    // Texts in UTF-8 (CodePage 65001) go as UTF-8 and say so.
    const PostStamp utf8{kStamp.date, kStamp.messageId, "UTF-8", 65001};
    ASSERT_EQ(0, build_post({"\"Zo\xc3\xab\" <zoe@x.test>", "test.a", "Gr\xc3\xbc\xc3\x9f" "e \xe2\x98\x95", "d\xc3\xa9j\xc3\xa0\n", ""},
                            utf8, out, why));
    EXPECT_EQ("text/plain; charset=\"UTF-8\"", header(out, "Content-Type"));
    EXPECT_EQ(0u, header(out, "Subject").find("=?UTF-8?"));
    EXPECT_EQ("Gr\xc3\xbc\xc3\x9f" "e \xe2\x98\x95", header_to_utf8(header(out, "Subject")));
    EXPECT_EQ("Zo\xc3\xab <zoe@x.test>", header_to_utf8(header(out, "From")));
    EXPECT_NE(std::string::npos, out.find("\r\n\r\nd\xc3\xa9j\xc3\xa0\r\n"));
}

TEST(NewsArticle, RefusalsComeBeforeAnythingIsBuilt) {
    // The texts the views below point into live as long as the cases.
    const std::string longLine(999, 'x');
    const std::string longLater = "ok\n" + longLine + "\r\nok";
    const std::string longId = "<a@x> <" + std::string(300, 'z') + "@x>";
    struct Case {
        NewPost post;
        int expected;
    } cases[] = {
        {{"a@x.test\r\nApproved: yes", "test.a", "s", "b", ""}, kNewsHeaderLineBreak},
        {{"a@x.test", "test.a\nControl: cancel <x@y>", "s", "b", ""}, kNewsHeaderLineBreak},
        {{"a@x.test", "test.a", "s\r", "b", ""}, kNewsHeaderLineBreak},
        {{"a@x.test", "test.a", "s", "b", "<a@x>\n<b@x>"}, kNewsHeaderLineBreak},
        {{"a@x.test", "test.a", std::string_view("s\0t", 3), "b", ""}, kNewsHeaderLineBreak},
        {{"  ", "test.a", "s", "b", ""}, kNewsEmptyFrom},
        {{"a@x.test", "test.a", " \t", "b", ""}, kNewsEmptySubject},
        {{"a@x.test", "test.a", "s", longLine, ""}, kNewsBodyLineTooLong},
        {{"a@x.test", "test.a", "s", longLater, ""}, kNewsBodyLineTooLong},
        {{"a@x.test", "test.a", "s", std::string_view("cut\0here", 8), ""}, kNewsBodyZeroByte},
        {{"a@x.test", "test.a", "s", "b", "no-brackets@x"}, kNewsBadReferences},
        {{"a@x.test", "test.a", "s", "b", "<no-at-sign>"}, kNewsBadReferences},
        {{"a@x.test", "test.a", "s", "b", longId}, kNewsBadReferences},
    };
    for (const Case& c : cases) {
        std::string out = "untouched", why;
        EXPECT_EQ(c.expected, build_post(c.post, kStamp, out, why)) << c.post.from << c.post.subject;
        EXPECT_EQ("untouched", out);
        EXPECT_FALSE(why.empty());
    }
    for (const char* groups : {"", " ", "test.a,", ",test.a", "test.a,,test.b", "test a", "test..a", ".test", "test.",
                               "test/a", "test.a;test.b", "test.\xe9"}) {
        std::string out, why;
        EXPECT_EQ(kNewsBadNewsgroups, build_post({"a@x.test", groups, "s", "b", ""}, kStamp, out, why)) << groups;
    }
    std::string out, why;
    EXPECT_EQ(0, build_post({"a@x.test", "alt.a+b_c-d.9", "s", std::string(998, 'x'), ""}, kStamp, out, why)) << why;
    // Nothing to fold at: no line of the header may pass 998 bytes either.
    EXPECT_EQ(kNewsHeaderTooLong, build_post({std::string(1000, 'a') + "@x.test", "test.a", "s", "b", ""}, kStamp, out, why));
    std::string groups = "test.a";
    while (groups.size() < 1000) groups += ",test.a";
    EXPECT_EQ(kNewsHeaderTooLong, build_post({"a@x.test", groups, "s", "b", ""}, kStamp, out, why));
}

TEST(NewsArticle, AnAsciiFromGoesAsItIsEvenWithAnEncodedWordMarker) {
    std::string out, why;
    ASSERT_EQ(0, build_post({"Ann =?x? <ann@x=?y.test>", "test.a", "s", "b", ""}, kStamp, out, why));
    EXPECT_EQ("Ann =?x? <ann@x=?y.test>", header(out, "From"));
    ASSERT_EQ(0, build_post({"\"Zo\xeb\" <zoe@x.test>", "test.a", "s", "b", ""}, kStamp, out, why));
    const std::string from = header(out, "From");
    EXPECT_EQ(0u, from.find("=?windows-1252?B?"));
    EXPECT_EQ("Zo\xeb <zoe@x.test>", decode_encoded_words(from));
}

TEST(NewsArticle, LongReferencesKeepTheFirstAndTheLastIdsUnder998Bytes) {
    std::vector<std::string> made;
    std::string refs;
    for (int i = 0; i < 60; ++i) {
        made.push_back("<reply-" + std::to_string(i) + ".abcdefghijklmnop@news.example.invalid>");
        refs += made.back() + " ";
    }
    std::string out, why;
    ASSERT_EQ(0, build_post({"a@x.test", "test.a", "Re: deep", "b", refs}, kStamp, out, why));
    const std::string kept = header(out, "References");
    EXPECT_LE(kept.size() + 12, 998u);
    std::vector<std::string_view> ids;
    ASSERT_TRUE(split_references(kept, ids));
    ASSERT_GE(ids.size(), 4u);
    EXPECT_EQ(made[0], ids[0]);
    // The rest is the end of the chain, in order, with nothing skipped there.
    for (size_t i = 1; i < ids.size(); ++i) EXPECT_EQ(made[made.size() - ids.size() + i], ids[i]);
    // Folded between ids: no line of the header block is over 78 characters.
    const std::string head = out.substr(0, out.find("\r\n\r\n"));
    for (size_t pos = 0, eol; pos < head.size(); pos = eol + 2) {
        eol = head.find("\r\n", pos);
        if (eol == std::string::npos) eol = head.size();
        EXPECT_LE(eol - pos, 78u) << head.substr(pos, eol - pos);
    }
    // A chain that fits stays whole.
    std::vector<std::string_view> few{"<a@x>", "<b@x>", "<c@x>", "<d@x>", "<e@x>"};
    EXPECT_EQ("<a@x> <b@x> <c@x> <d@x> <e@x>", trim_references(few));
    EXPECT_EQ("<a@x> <c@x> <d@x> <e@x>", trim_references(few, 12 + 23));
}

TEST(NewsArticle, MailboxOfAFromText) {
    EXPECT_EQ("ann@x.test", from_mailbox("\"Ann, B\" <ann@x.test>"));
    EXPECT_EQ("ann@x.test", from_mailbox("  ann@x.test "));
}

}  // namespace

// The article record's buffer rules: first allocation from the overview,
// growth that keeps appends linear, copies, and reset.
#include <gtest/gtest.h>

#include <string>

#include "quillnet/news/article_record.h"

using quillnet::ArticleRecord;

TEST(ArticleRecord, NewAndResetRecordsAreEmpty) {
    ArticleRecord r;
    EXPECT_EQ(-1, r.size);
    EXPECT_EQ(0, r.number);
    EXPECT_EQ(nullptr, r.text());
    EXPECT_EQ(0, r.length());
    EXPECT_EQ("", r.attachments);
    r.SetOverview(5, "s", "f", "d", 10, 2);
    r.AppendLine("x");
    r.AddAttachment("\\a");
    r.newsgroups = "g";
    r.Reset();
    EXPECT_EQ(-1, r.size);
    EXPECT_EQ(0, r.number);
    EXPECT_EQ(0, r.lines);
    EXPECT_EQ(0, r.capacity());
    EXPECT_EQ(nullptr, r.text());
    EXPECT_EQ(0, r.attachmentCount);
    EXPECT_EQ("", r.newsgroups);
    EXPECT_EQ("", r.subject);
}

TEST(ArticleRecord, FirstAllocationComesFromTheOverview) {
    ArticleRecord by_size;
    by_size.size = 1000;
    by_size.AppendLine("a");
    EXPECT_EQ(1081, by_size.capacity());
    ArticleRecord by_lines;
    by_lines.lines = 20;
    by_lines.AppendLine("a");
    EXPECT_EQ(1620, by_lines.capacity());
    ArticleRecord neither;
    neither.AppendLine("");
    EXPECT_EQ("\n", std::string(neither.body()));
    EXPECT_GE(neither.capacity(), 2);
}

TEST(ArticleRecord, GrowthKeepsEveryLineAndItsNewline) {
    ArticleRecord r;
    r.size = 10;
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        const std::string line = "line " + std::to_string(i);
        r.AppendLine(line);
        expected += line + "\n";
    }
    EXPECT_EQ(expected, std::string(r.body()));
    EXPECT_EQ(static_cast<int32_t>(expected.size()), r.length());
    EXPECT_EQ('\0', r.text()[r.length()]);
    // A first step past the overview size grows by at least 65,536 bytes.
    ArticleRecord s;
    s.size = 10;
    s.AppendLine(std::string(100, 'a'));
    EXPECT_EQ(91 + 65536, s.capacity());
}

TEST(ArticleRecord, OneLineLongerThanAGrowthStepFits) {
    ArticleRecord r;
    const std::string big(200000, 'z');
    r.AppendLine("a");
    r.AppendLine(big);
    EXPECT_EQ("a\n" + big + "\n", std::string(r.body()));
    EXPECT_GT(r.capacity(), r.length());
}

TEST(ArticleRecord, ZeroBytesInALineAreKept) {
    ArticleRecord r;
    r.AppendLine(std::string("a\0b", 3));
    EXPECT_EQ(4, r.length());
    EXPECT_EQ(std::string("a\0b\n", 4), std::string(r.body()));
}

TEST(ArticleRecord, AttachmentsAndCopies) {
    ArticleRecord r;
    r.AddAttachment("\\news\\a.gif");
    r.AddAttachment("\\news\\b.zip");
    EXPECT_EQ(2, r.attachmentCount);
    EXPECT_EQ("\\news\\a.gif\n\\news\\b.zip\n", r.attachments);
    r.SetOverview(7, "subj", "from", "date", 123, 4);
    r.replyTo = "r";
    r.AppendLine("body");
    ArticleRecord copy;
    copy.AppendLine("old text");
    copy = r;
    EXPECT_EQ(7, copy.number);
    EXPECT_EQ("subj", copy.subject);
    EXPECT_EQ("r", copy.replyTo);
    EXPECT_EQ(123, copy.size);
    EXPECT_EQ(4, copy.lines);
    EXPECT_EQ("body\n", std::string(copy.body()));
    EXPECT_NE(r.text(), copy.text());
    EXPECT_EQ(r.attachments, copy.attachments);
    ArticleRecord empty;
    copy = empty;  // a record without text copies to one without text
    EXPECT_EQ(nullptr, copy.text());
    EXPECT_EQ(0, copy.length());
}

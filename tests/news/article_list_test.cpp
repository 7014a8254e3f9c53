// The article list: plain logic, then the same object through its COM
// interface both by vtable and by name.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "quillnet.h"
#include "quillnet/news/article_list.h"
#include "support/com_test.h"

using quillnet::ArticleEntryList;
using quillnet::short_size_text;
using namespace qk_test;

TEST(ArticleList, NewListAnswersRangeErrors) {
    ArticleEntryList list;
    EXPECT_EQ(0, list.size());
    EXPECT_EQ(-1, list.lowest_id());
    EXPECT_EQ(-1, list.highest_id());
    for (int pos : {-1, 0, 1, 1000000}) {
        EXPECT_EQ(-1, list.id_at(pos));
        EXPECT_EQ(-1, list.size_at(pos));
        EXPECT_EQ("N/A", list.subject_at(pos));
        EXPECT_EQ("N/A", list.size_text_at(pos));
    }
}

TEST(ArticleList, LowestAndHighestFollowAddsNotSorts) {
    ArticleEntryList list;
    list.add(50, 1, "a");
    list.add(20, 2, "b");
    list.add(70, 3, "c");
    EXPECT_EQ(20, list.lowest_id());
    EXPECT_EQ(70, list.highest_id());
    list.sort(1);
    EXPECT_EQ(20, list.lowest_id());
    EXPECT_EQ(70, list.highest_id());
    EXPECT_EQ(3, list.size());
    EXPECT_EQ(-1, list.id_at(3));
}

TEST(ArticleList, MinusOneMeansNoneSoTheNextAddReplacesIt) {
    ArticleEntryList list;
    list.add(10, 0, "");
    list.add(-1, 0, "");
    list.add(30, 0, "");
    EXPECT_EQ(30, list.lowest_id());
    EXPECT_EQ(30, list.highest_id());
}

TEST(ArticleList, SortsByIdSizeAndSubjectBytes) {
    ArticleEntryList list;
    list.add(3, 300, "beta");
    list.add(1, 900, "Beta");
    list.add(2, 100, "alpha");
    list.add(2, 100, "\xE9t\xE9");  // bytes above 0x7F sort after ASCII
    list.sort(0);
    EXPECT_EQ(1, list.id_at(0));
    EXPECT_EQ(2, list.id_at(1));
    EXPECT_EQ(3, list.id_at(3));
    list.sort(1);
    EXPECT_EQ(100, list.size_at(0));
    EXPECT_EQ(900, list.size_at(3));
    list.sort(2);
    EXPECT_EQ("Beta", list.subject_at(0));  // capitals first
    EXPECT_EQ("alpha", list.subject_at(1));
    EXPECT_EQ("beta", list.subject_at(2));
    EXPECT_EQ("\xE9t\xE9", list.subject_at(3));
    // Unknown keys leave the order as it is.
    list.sort(7);
    list.sort(-1);
    EXPECT_EQ("Beta", list.subject_at(0));
    EXPECT_EQ("\xE9t\xE9", list.subject_at(3));
}

TEST(ArticleList, ShortSizeTextBorders) {
    EXPECT_EQ("0b", short_size_text(0));
    EXPECT_EQ("1023b", short_size_text(1023));
    EXPECT_EQ("-1b", short_size_text(-1));
    EXPECT_EQ("-2147483648b", short_size_text(INT32_MIN));
    EXPECT_EQ("1k", short_size_text(1024));
    EXPECT_EQ("1k", short_size_text(1536));
    EXPECT_EQ("1023k", short_size_text(1048575));
    EXPECT_EQ("1m", short_size_text(1048576));
    EXPECT_EQ("4m", short_size_text(5000000));
    EXPECT_EQ("2047m", short_size_text(INT32_MAX));
}

class ArticlesManagerCom : public ::testing::Test {
  protected:
    ComScope com;
    ComponentDll dll{L"Quillnet.dll"};
};

TEST_F(ArticlesManagerCom, VtableAndDispatchAgree) {
    auto list = dll.create<IArticlesManager>(CLSID_ArticleManager);
    ASSERT_TRUE(list);
    frame::com_ptr<IDispatch> d;
    list->QueryInterface(IID_IDispatch, d.put_void());

    BSTR zed = ::SysAllocString(L"Zed");
    EXPECT_EQ(S_OK, list->Add(50, 1536, zed));
    ::SysFreeString(zed);
    EXPECT_EQ(S_OK, list->Add(20, 1048576, nullptr));  // a null subject is the empty text
    EXPECT_EQ(S_OK, call(d.get(), L"Add", {Arg(70), Arg(10), Arg(L"alpha")}).hr);

    long n = 0;
    EXPECT_EQ(S_OK, list->get_Size(&n));
    EXPECT_EQ(3, n);
    CallResult size = get(d.get(), L"Size");
    EXPECT_EQ(3, V_I4(size.value.get()));

    int sorted = -9;
    EXPECT_EQ(S_OK, list->Sort(2, &sorted));
    EXPECT_EQ(0, sorted);
    BSTR s = nullptr;
    EXPECT_EQ(S_OK, list->get_ArticleSubject(0, &s));
    EXPECT_EQ(L"", text_of(s));  // the empty subject sorts first
    ::SysFreeString(s);
    EXPECT_EQ(L"Zed", text_of(get(d.get(), L"ArticleSubject", {Arg(1)}).value.get()));
    EXPECT_EQ(L"N/A", text_of(get(d.get(), L"ArticleSubject", {Arg(3)}).value.get()));
    EXPECT_EQ(L"1m", text_of(get(d.get(), L"ArticleSizeStr", {Arg(0)}).value.get()));
    EXPECT_EQ(L"1k", text_of(get(d.get(), L"ArticleSizeStr", {Arg(1)}).value.get()));
    EXPECT_EQ(L"N/A", text_of(get(d.get(), L"ArticleSizeStr", {Arg(-1)}).value.get()));

    long v = 0;
    EXPECT_EQ(S_OK, list->get_ArticleID(2, &v));
    EXPECT_EQ(70, v);
    EXPECT_EQ(-1, V_I4(get(d.get(), L"ArticleID", {Arg(3)}).value.get()));
    EXPECT_EQ(S_OK, list->get_ArticleSize(1, &v));
    EXPECT_EQ(1536, v);
    EXPECT_EQ(-1, V_I4(get(d.get(), L"ArticleSize", {Arg(-1)}).value.get()));
    EXPECT_EQ(S_OK, list->get_FirstArticle(&v));
    EXPECT_EQ(20, v);
    EXPECT_EQ(70, V_I4(get(d.get(), L"LastArticle").value.get()));
    EXPECT_EQ(0, V_I4(call(d.get(), L"Sort", {Arg(99)}).value.get()));

    // Null out pointers are refused, not written through.
    EXPECT_EQ(E_POINTER, list->get_Size(nullptr));
    EXPECT_EQ(E_POINTER, list->get_ArticleSubject(0, nullptr));
    EXPECT_EQ(E_POINTER, list->Sort(0, nullptr));
}

namespace {

// Ids in list order, with their depths.
std::vector<std::pair<int32_t, int32_t>> placed(const ArticleEntryList& list) {
    std::vector<std::pair<int32_t, int32_t>> out;
    for (int i = 0; i < list.size(); ++i) out.emplace_back(list.id_at(i), list.depth_at(i));
    return out;
}

}  // namespace

TEST(ArticleThreads, RepliesFollowTheirParentsSiblingsByDate) {
    ArticleEntryList list;
    // Added newest first, as a backward listing brings them.
    list.add_article(6, 0, "Re: b", "<6@x>", "<9@x> <2@x>", "Tue, 02 Jan 2024 09:00:00 +0000");  // parent gone
    list.add_article(5, 0, "Re: a", "<5@x>", "<1@x> <3@x>", "Mon, 01 Jan 2024 12:00:00 +0000");
    list.add_article(4, 0, "Re: a", "<4@x>", "<1@x>", "Mon, 01 Jan 2024 06:00:00 -0500");  // 11:00 UTC
    list.add_article(3, 0, "Re: a", "<3@x>", " <1@x> ", "1 Jan 2024 10:30 GMT");
    list.add_article(2, 0, "b", "<2@x>", "", "Mon, 01 Jan 2024 09:00:00 +0000");
    list.add_article(1, 0, "a", "<1@x>", "", "Mon, 01 Jan 2024 08:00:00 +0000");
    list.add(7, 0, "no identity");
    list.sort(3);
    using P = std::pair<int32_t, int32_t>;
    // The reply whose last reference (<2@x>) is in the list follows it, even
    // though its first reference is not; undated entries come last.
    EXPECT_EQ((std::vector<P>{{1, 0}, {3, 1}, {5, 2}, {4, 1}, {2, 0}, {6, 1}, {7, 0}}), placed(list));
    EXPECT_EQ(-1, list.depth_at(7));
    list.sort(0);
    EXPECT_EQ((std::vector<P>{{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}}), placed(list));
    EXPECT_EQ(1, list.lowest_id());
    EXPECT_EQ(7, list.highest_id());
}

TEST(ArticleThreads, AParentOutsideTheListStartsAThread) {
    ArticleEntryList list;
    list.add_article(2, 0, "Re: gone", "<2@x>", "<0@x> <1@x>", "Mon, 01 Jan 2024 10:00:00 +0000");
    list.add_article(3, 0, "Re: Re: gone", "<3@x>", "<0@x> <1@x> <2@x>", "Mon, 01 Jan 2024 11:00:00 +0000");
    list.add_article(4, 0, "top", "<4@x>", "", "Mon, 01 Jan 2024 09:00:00 +0000");
    list.sort(3);
    using P = std::pair<int32_t, int32_t>;
    EXPECT_EQ((std::vector<P>{{4, 0}, {2, 0}, {3, 1}}), placed(list));
}

TEST(ArticleThreads, LoopsEndAndEveryEntryIsKeptOnce) {
    ArticleEntryList list;
    list.add_article(1, 0, "a", "<a@x>", "<b@x>", "Mon, 01 Jan 2024 08:00:00 +0000");
    list.add_article(2, 0, "b", "<b@x>", "<c@x>", "Mon, 01 Jan 2024 09:00:00 +0000");
    list.add_article(3, 0, "c", "<c@x>", "<a@x>", "Mon, 01 Jan 2024 10:00:00 +0000");
    list.add_article(4, 0, "on the loop", "<d@x>", "<b@x>", "Mon, 01 Jan 2024 07:00:00 +0000");
    list.add_article(5, 0, "itself", "<e@x>", "<e@x>", "");
    list.add_article(6, 0, "same id", "<a@x>", "", "Mon, 01 Jan 2024 06:00:00 +0000");
    list.sort(3);
    using P = std::pair<int32_t, int32_t>;
    // The oldest article hanging on the loop is 4: above it the loop is met
    // at b, which starts a thread in its date's place: b, then its replies
    // by date (4 at 07:00, a at 08:00), then a's reply c. The second <a@x>
    // is a thread of its own; <e@x> answers nothing but itself.
    EXPECT_EQ((std::vector<P>{{6, 0}, {2, 0}, {4, 1}, {1, 1}, {3, 2}, {5, 0}}), placed(list));
}

TEST(ArticleThreads, AChainTwentyThousandDeepNeedsNoDeepStack) {
    ArticleEntryList list;
    constexpr int kDepth = 20000;
    auto id = [](int i) { return std::string(1, '<').append(std::to_string(i)).append("@x>"); };
    for (int i = kDepth - 1; i >= 0; --i)
        list.add_article(i + 1, 0, "deep", id(i), i ? id(i - 1) : std::string(), "Mon, 01 Jan 2024 08:00:00 +0000");
    list.sort(3);
    ASSERT_EQ(kDepth, list.size());
    for (int i = 0; i < kDepth; i += 997) {
        EXPECT_EQ(i + 1, list.id_at(i));
        EXPECT_EQ(i, list.depth_at(i));
    }
    EXPECT_EQ(kDepth - 1, list.depth_at(kDepth - 1));
}

TEST(ArticleThreads, DatesOfTheArticleFormat) {
    int64_t t = 0;
    ASSERT_TRUE(quillnet::parse_article_date("Thu, 01 Jan 1970 00:00:00 +0000", t));
    EXPECT_EQ(0, t);
    ASSERT_TRUE(quillnet::parse_article_date("Mon, 1 Jan 2024 12:00 +0130", t));
    EXPECT_EQ(1704110400 - 5400, t);
    ASSERT_TRUE(quillnet::parse_article_date("29 Feb 24 23:59:60 EST", t));  // two-digit year, old zone
    EXPECT_EQ(1709269200, t);
    for (const char* bad : {"", "yesterday", "Mon 01 Jan 2024 12:00:00", "01 Foo 2024 12:00", "32 Jan 2024 12:00",
                            "01 Jan 2024 25:00", "01 Jan 2024 12:00 +01"})
        EXPECT_FALSE(quillnet::parse_article_date(bad, t)) << bad;
}

// The news session against a scripted engine that plays a group of known
// article numbers and records every call: the overview windows asked for,
// the ring listing, the getters, the error text, group selection with its
// store folders (on the real file system), the group list file, the
// registry settings, and choosing, fetching and storing articles.
#include <windows.h>
#include <direct.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "quillnet/news/news_session.h"

using namespace quillnet;
using engine::NewsEvents;

namespace {

using Log = std::vector<std::string>;

// Plays one group: the numbers in `articles` exist; "-" or "N-M" ranges give
// their overview lines in ascending order.
class ScriptedEngine final : public engine::NewsEngine {
  public:
    ScriptedEngine(NewsEvents& events, std::shared_ptr<Log> log) : events_(events), log_(std::move(log)) {}
    ~ScriptedEngine() override { log_->push_back("deleted"); }

    int SetNewsServer(std::string_view s) override {
        log_->push_back("SetNewsServer " + std::string(s));
        return serverResult;
    }
    int SelectGroup(std::string_view g) override {
        log_->push_back("SelectGroup " + std::string(g));
        return selectResult;
    }
    int SetCurrentArticle(std::string_view n) override {
        log_->push_back("SetCurrentArticle " + std::string(n));
        current_ = n;
        return currentResult;
    }
    int SetOverviewRange(std::string_view r) override {
        log_->push_back("SetOverviewRange " + std::string(r));
        range_ = r;
        return 0;
    }
    int32_t GroupFirstArticle() override { return first; }
    int32_t GroupLastArticle() override { return last; }
    int32_t GroupArticleCount() override {
        log_->push_back("GroupArticleCount");
        return count;
    }
    int SetNetworkEnabled(int e) override {
        log_->push_back("SetNetworkEnabled " + std::to_string(e));
        return 0;
    }
    int SetPostArticle(std::string_view article) override {
        log_->push_back("SetPostArticle");
        posted = article;
        return 0;
    }
    int SetAction(int a) override {
        log_->push_back("SetAction " + std::to_string(a));
        if (a == 9) return postResult;
        if (onAction) {
            const int r = onAction(a, events_);
            if (r != -12345) return r;
        }
        if (a == 1) return connectResult;
        if (a == 3) {
            for (const auto& g : groups) events_.GroupList(g.first, 1, g.second, g.second);
            return listResult;
        }
        if (a == 7) {
            const auto it = heads.find(current_);
            if (it == heads.end()) return 423;
            for (const auto& h : it->second) events_.Header(h.first, h.second);
            return 0;
        }
        if (a == 8) {
            const auto it = bodies.find(current_);
            if (it == bodies.end()) return 423;
            int64_t bytes = 0;
            for (const auto& line : it->second) events_.Transfer(bytes += line.size() + 2, line, true);
            return bodyResult;
        }
        if (a == 5) {
            ++overviewCalls;
            if (overviewCalls == failOverviewCall) return 423;
            long long lo = 0, hi = 0;
            if (range_ == "-") {
                lo = 0;
                hi = 1LL << 40;
            } else if (sscanf(range_.c_str(), "%lld-%lld", &lo, &hi) != 2) {
                return 501;
            }
            for (auto it = articles.lower_bound(static_cast<int32_t>(lo)); it != articles.end() && *it <= hi; ++it)
                emit(*it);
            return 0;
        }
        return 0;
    }
    void emit(int32_t n) {
        const std::string s = "subject " + std::to_string(n);
        const std::string f = "from " + std::to_string(n);
        const std::string d = "date " + std::to_string(n);
        engine::OverviewLine line;
        line.number = n;
        line.subject = s;
        line.from = f;
        line.date = d;
        line.size = n * 10;
        line.lines = n % 50;
        const std::string id = "<" + std::to_string(n) + "@x>";
        const std::string refs = n > 1 ? "<" + std::to_string(n - 1) + "@x>" : "";
        line.messageId = id;
        line.references = refs;
        events_.GroupOverview(line);
    }
    void fill(int32_t from, int32_t to, int32_t step = 1) {
        for (int32_t n = from; n <= to; n += step) articles.insert(n);
        first = *articles.begin();
        last = *articles.rbegin();
        count = last - first + 1;
    }

    int serverResult = 0, connectResult = 0, selectResult = 0, listResult = 0, currentResult = 0, bodyResult = 0,
        postResult = 0;
    std::string posted;  // the last article given to SetPostArticle
    // Articles by the text SetCurrentArticle was given: their headers (HEAD)
    // and body lines (BODY); any other article is answered 423.
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> heads;
    std::map<std::string, std::vector<std::string>> bodies;
    int32_t first = 0, last = 0, count = 0;
    std::set<int32_t> articles;
    std::vector<std::pair<std::string, int>> groups;
    int overviewCalls = 0;
    int failOverviewCall = 0;
    std::function<int(int, NewsEvents&)> onAction;

  private:
    NewsEvents& events_;
    std::shared_ptr<Log> log_;
    std::string range_;
    std::string current_;
};

std::string exe_folder() {
    char path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\'));
}

bool folder_exists(const std::string& p) {
    const DWORD a = ::GetFileAttributesA(p.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string read_binary(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_binary(const std::string& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Names of everything directly inside a folder.
std::set<std::string> entries(const std::string& folder) {
    std::set<std::string> names;
    WIN32_FIND_DATAA d;
    HANDLE h = ::FindFirstFileA((folder + "\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string n = d.cFileName;
        if (n != "." && n != "..") names.insert(n);
    } while (::FindNextFileA(h, &d));
    ::FindClose(h);
    return names;
}

void remove_tree(const std::string& p) {
    for (const std::string& n : entries(p)) {
        const std::string c = p + "\\" + n;
        if (folder_exists(c))
            remove_tree(c);
        else
            ::DeleteFileA(c.c_str());
    }
    ::RemoveDirectoryA(p.c_str());
}

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = exe_folder() + "\\news_session_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        remove_tree(root_);
        ::CreateDirectoryA(root_.c_str(), nullptr);
        ::CreateDirectoryA((root_ + "\\store").c_str(), nullptr);
        ::CreateDirectoryA((root_ + "\\store\\news").c_str(), nullptr);
        values_.wwwRoot = root_ + "\\store";
        values_.dataRoot = "\\news";
        make();
    }
    void TearDown() override {
        session_.reset();
        ::SetCurrentDirectoryA(exe_folder().c_str());
        remove_tree(root_);
    }
    void make() {
        session_.reset();
        log_ = std::make_shared<Log>();
        session_ = std::make_unique<NewsSession>(
            [this](NewsEvents& ev) {
                auto e = std::make_unique<ScriptedEngine>(ev, log_);
                engine_ = e.get();
                return e;
            },
            [this] { return values_; });
    }
    void connect_and_select(const char* group = "comp.test") {
        ASSERT_EQ(0, session_->SetServer("news.example"));
        ASSERT_EQ(0, session_->SetGroup(group));
    }
    std::vector<std::string> ranges() const {
        std::vector<std::string> r;
        for (const auto& l : *log_)
            if (l.rfind("SetOverviewRange ", 0) == 0) r.push_back(l.substr(17));
        return r;
    }
    std::string store() const { return root_ + "\\store\\news"; }

    std::string root_;
    StorageValues values_;
    std::shared_ptr<Log> log_;
    ScriptedEngine* engine_ = nullptr;
    std::unique_ptr<NewsSession> session_;
};

TEST_F(SessionTest, ForwardFromMinusOneAsksForTheLastHundredAndOneAndKeepsTheFirstHundred) {
    engine_->fill(1, 5000);
    connect_and_select();
    const auto outcome = session_->GetListing(-1, 1);
    EXPECT_EQ(0, outcome.status);
    EXPECT_EQ(0, outcome.result);
    EXPECT_EQ((std::vector<std::string>{"4900-5100"}), ranges());
    EXPECT_EQ(100, session_->GetListLength());
    EXPECT_EQ("4900", session_->GetArticleID(0));
    EXPECT_EQ("4999", session_->GetArticleID(99));
    EXPECT_EQ("subject 4900", session_->GetSubject(0));
    EXPECT_EQ("from 4901", session_->GetFrom(1));
    EXPECT_EQ("date 4902", session_->GetDate(2));
    EXPECT_EQ(49000, session_->GetSize(0));
    EXPECT_EQ(0, session_->keepNewest());
}

TEST_F(SessionTest, BackwardWindowsStepDownTwoHundredAtATimeWhileTheyAddEntries) {
    engine_->fill(10, 5000, 10);  // sparse: every tenth number
    connect_and_select();
    session_->GetListing(3000, 0);
    EXPECT_EQ((std::vector<std::string>{"2800-3000", "2600-2800", "2400-2600", "2200-2400", "2000-2200"}),
              ranges());
    // 2800-3000 brings 21 lines, each further window 20 new ones (its top
    // number was the previous window's bottom): the 101st line stored, 2190,
    // wraps round to entry 0.
    EXPECT_EQ(100, session_->GetListLength());
    EXPECT_EQ(100, session_->listingCount());
    EXPECT_EQ("2190", session_->GetArticleID(0));
    EXPECT_EQ("2810", session_->GetArticleID(1));
    EXPECT_EQ("2180", session_->GetArticleID(99));
}

TEST_F(SessionTest, BackwardFromThreeThousandStartsWithTwentyEightHundredToThreeThousand) {
    engine_->fill(1, 5000);
    connect_and_select();
    session_->GetListing(3000, 0);
    EXPECT_EQ((std::vector<std::string>{"2800-3000"}), ranges());
    // 201 lines into a ring of 100: the 101st (2900) went to entry 0 and the
    // 201st (3000) came round to entry 0 again.
    EXPECT_EQ(100, session_->GetListLength());
    EXPECT_EQ("3000", session_->GetArticleID(0));
    EXPECT_EQ("2901", session_->GetArticleID(1));
    EXPECT_EQ("2999", session_->GetArticleID(99));
    EXPECT_EQ(1, session_->keepNewest());
}

TEST_F(SessionTest, SmallGroupsAreAskedForAsAWholeInForwardMode) {
    engine_->fill(7, 106);  // 100 articles
    connect_and_select();
    session_->GetListing(50, 0);
    EXPECT_EQ((std::vector<std::string>{"-"}), ranges());
    EXPECT_EQ(0, session_->keepNewest());
    EXPECT_EQ(100, session_->GetListLength());
    EXPECT_EQ("7", session_->GetArticleID(0));
    EXPECT_EQ("106", session_->GetArticleID(99));
}

TEST_F(SessionTest, StartIsClampedToTheGroup) {
    engine_->fill(1000, 5000);
    connect_and_select();
    session_->GetListing(5, 1);
    session_->GetListing(9000, 1);
    session_->GetListing(-1, 0);
    session_->GetListing(-7, 1);
    EXPECT_EQ((std::vector<std::string>{"1000-1200", "4900-5100", "4700-4900", "1000-1200"}), ranges());
}

TEST_F(SessionTest, AForwardWindowThatAddsNothingEndsTheListing) {
    engine_->fill(1, 10);
    for (int n = 500; n <= 900; ++n) engine_->articles.insert(n);
    engine_->last = 900;
    engine_->count = 900;
    connect_and_select();
    const auto outcome = session_->GetListing(1, 1);
    EXPECT_EQ(0, outcome.result);
    EXPECT_EQ((std::vector<std::string>{"1-201", "201-401"}), ranges());
    EXPECT_EQ(10, session_->GetListLength());
}

TEST_F(SessionTest, AFailedWindowEndsTheListingWithItsResult) {
    engine_->fill(1, 5000, 10);
    connect_and_select();
    int calls = 0;
    engine_->onAction = [&calls](int a, NewsEvents& ev) {
        if (a == 5 && ++calls == 2) {
            ev.Error(10054, "dropped");
            return 10054;
        }
        return -12345;
    };
    const auto outcome = session_->GetListing(1, 1);
    EXPECT_EQ(10054, outcome.result);
    EXPECT_EQ(2u, ranges().size());
    EXPECT_EQ(21, session_->GetListLength());
    EXPECT_EQ("10054dropped", session_->GetLastError());
}

TEST_F(SessionTest, SharedBoundaryArticleIsListedOnce) {
    engine_->fill(1, 5000, 100);  // 1, 101, 201, ...
    engine_->articles.insert(201);
    connect_and_select();
    session_->GetListing(1, 1);
    std::set<std::string> seen;
    for (int i = 0; i < session_->GetListLength(); ++i)
        EXPECT_TRUE(seen.insert(session_->GetArticleID(i)).second) << session_->GetArticleID(i);
    EXPECT_EQ(50, session_->GetListLength());
    EXPECT_EQ("4901", session_->GetArticleID(49));
}

TEST_F(SessionTest, BackwardWindowsStopAtArticleOne) {
    engine_->fill(1, 400, 3);
    connect_and_select();
    session_->GetListing(250, 0);
    EXPECT_EQ((std::vector<std::string>{"50-250", "1-50"}), ranges());
    EXPECT_EQ(84, session_->GetListLength());
}

TEST_F(SessionTest, ListingWithoutGroupFailsAndKeepsThePreviousListing) {
    engine_->fill(1, 30);
    connect_and_select();
    session_->GetListing(-1, 1);
    ASSERT_EQ(30, session_->GetListLength());
    engine_->selectResult = 411;
    EXPECT_EQ(411, session_->SetGroup("no.such"));
    EXPECT_EQ("", session_->GetGroup());
    const auto outcome = session_->GetListing(-1, 1);
    EXPECT_EQ(-1, outcome.status);
    EXPECT_EQ(30, session_->GetListLength());
    EXPECT_EQ("subject 1", session_->GetSubject(0));
}

TEST_F(SessionTest, GettersRejectIndexesOutsideTheListing) {
    engine_->fill(1, 3);
    connect_and_select();
    EXPECT_EQ(0, session_->GetListLength());
    EXPECT_EQ("Error: Bad Index Number (0)", session_->GetSubject(0));
    session_->GetListing(-1, 1);
    EXPECT_EQ(3, session_->GetListLength());
    for (int bad : {-1, 3, 99, 100, -2147483647 - 1}) {
        const std::string text = "Error: Bad Index Number (" + std::to_string(bad) + ")";
        EXPECT_EQ(text, session_->GetSubject(bad));
        EXPECT_EQ(text, session_->GetFrom(bad));
        EXPECT_EQ(text, session_->GetDate(bad));
        EXPECT_EQ(text, session_->GetArticleID(bad));
        EXPECT_EQ(0, session_->GetSize(bad));
    }
    EXPECT_EQ("3", session_->GetArticleID(2));
    EXPECT_EQ(30, session_->GetSize(2));
}

TEST_F(SessionTest, MoreInfoChecksTheIndexBeforeTheItem) {
    engine_->fill(1, 1);
    connect_and_select();
    ArticleRecord& current = session_->currentArticle();
    current.Reset();
    current.number = 77;
    current.subject = "cur subject";
    current.from = "cur from";
    current.date = "cur date";
    current.newsgroups = "comp.test";
    current.replyTo = "reply@x";
    current.lines = 12;
    current.size = 3456;
    current.AddAttachment("\\news\\a.gif");
    // No listing yet: only the current article.
    EXPECT_EQ("cur subject", session_->GetMoreInfo(-1, 5));
    EXPECT_EQ("Error: Bad Index Number (0)", session_->GetMoreInfo(0, 5));
    session_->GetListing(-1, 1);
    const std::vector<std::string> currentItems = {"\\news\\a.gif\n", "cur date", "cur from", "comp.test",
                                                   "reply@x",        "cur subject", "77", "3456", "1", "12"};
    const std::vector<std::string> entryItems = {"", "date 1", "from 1", "", "", "subject 1", "1", "10", "0", "1"};
    for (int item = 0; item <= 9; ++item) {
        EXPECT_EQ(currentItems[item], session_->GetMoreInfo(-1, item)) << item;
        EXPECT_EQ(entryItems[item], session_->GetMoreInfo(0, item)) << item;
    }
    EXPECT_EQ("Error: Bad Item Requested (10)", session_->GetMoreInfo(0, 10));
    EXPECT_EQ("Error: Bad Item Requested (-1)", session_->GetMoreInfo(-1, -1));
    EXPECT_EQ("Error: Bad Index Number (5)", session_->GetMoreInfo(5, 10));
    EXPECT_EQ("Error: Bad Index Number (-2)", session_->GetMoreInfo(-2, 5));
    EXPECT_EQ("Error: Bad Index Number (1)", session_->GetMoreInfo(1, 0));
    EXPECT_EQ("Error: Bad Index Number (-1)", session_->GetSubject(-1));
}

TEST_F(SessionTest, LastErrorIsTheCodeFollowedByTheText) {
    EXPECT_EQ("0", session_->GetLastError());
    engine_->onAction = [](int a, NewsEvents& ev) {
        ev.Error(10, "Ten");
        return 10;
    };
    EXPECT_EQ(0, session_->SetServer("x"));  // the connect result is not returned
    EXPECT_EQ(0, session_->connected());
    EXPECT_EQ("10Ten", session_->GetLastError());
    engine_->onAction = [](int a, NewsEvents& ev) {
        ev.Error(70000, "wide");  // kept as a 16-bit code
        return 1;
    };
    session_->SetServer("x");
    EXPECT_EQ("4464wide", session_->GetLastError());
}

TEST_F(SessionTest, GroupSelectionPreconditions) {
    EXPECT_EQ(-1, session_->SetGroup("comp.test"));
    EXPECT_EQ(-1, session_->GetFirstArticle());
    EXPECT_EQ(-1, session_->GetLastArticle());
    EXPECT_EQ(-1, session_->GetArticleCount());
    engine_->count = 12;
    EXPECT_EQ(12, session_->GetTotalArticles());  // asked without a group
    engine_->serverResult = 1001;
    EXPECT_EQ(1001, session_->SetServer(""));
    EXPECT_EQ(0, session_->connected());
    engine_->serverResult = 0;
    engine_->connectResult = 10061;
    EXPECT_EQ(0, session_->SetServer("news.example"));
    EXPECT_EQ(-1, session_->SetGroup("comp.test"));
    engine_->connectResult = 0;
    EXPECT_EQ(0, session_->SetServer("news.example"));
    EXPECT_EQ((Log{"SetNetworkEnabled 1", "SetNewsServer ", "SetNetworkEnabled 1", "SetNewsServer news.example",
                   "SetAction 1", "SetNetworkEnabled 1", "SetNewsServer news.example", "SetAction 1"}),
              Log(log_->begin() + 1, log_->end()));  // after the count asked above
    log_->clear();
    EXPECT_EQ(0, session_->SetGroup(""));  // equals the (empty) selected group
    EXPECT_EQ("", session_->GetGroup());
    EXPECT_TRUE(log_->empty());
    engine_->fill(5, 9);
    EXPECT_EQ(0, session_->SetGroup("comp.test"));
    EXPECT_EQ(0, session_->SetGroup("comp.test"));
    EXPECT_EQ((Log{"SelectGroup comp.test"}), *log_);
    EXPECT_EQ(5, session_->GetFirstArticle());
    EXPECT_EQ(9, session_->GetLastArticle());
    EXPECT_EQ(5, session_->GetArticleCount());
    EXPECT_EQ("comp.test", session_->GetGroup());
}

TEST_F(SessionTest, DestructionDisconnectsThenDeletesTheEngine) {
    connect_and_select();
    session_->GetListing(-1, 1);
    log_->clear();
    session_.reset();
    EXPECT_EQ((Log{"SetAction 2", "SetNetworkEnabled 1", "deleted"}), *log_);
    make();
    session_.reset();
    EXPECT_EQ((Log{"deleted"}), *log_);  // never connected: no disconnect
}

TEST(StoragePaths, AreDerivedFromTheSettings) {
    EXPECT_EQ("news\\", DeriveDataFolder("\\news"));
    EXPECT_EQ("news\\", DeriveDataFolder("news\\"));
    EXPECT_EQ("news\\", DeriveDataFolder("news"));
    EXPECT_EQ("\\news\\", DeriveDataFolder("\\\\news"));  // only one backslash goes
    EXPECT_EQ("\\", DeriveDataFolder(""));
    EXPECT_EQ("D:\\site\\", DeriveStorageRoot("D:\\site"));
    EXPECT_EQ("D:\\site\\", DeriveStorageRoot("D:\\site\\"));
    EXPECT_EQ("\\", DeriveStorageRoot(""));
    ChangeToRootDrive("c:\\web");
    EXPECT_EQ(3, _getdrive());
    ChangeToRootDrive("Z:\\site");
    EXPECT_EQ(26, _getdrive());
    ChangeToRootDrive("1:\\odd");  // not a letter: nothing changes
    EXPECT_EQ(26, _getdrive());
}

TEST(StoragePaths, FolderNamesThatCannotHoldAGroupPart) {
    for (const char* good : {"comp", "alt", "x", "binaries", "a-b_c", "caf\xe9", "con1", "comx"})
        EXPECT_TRUE(IsCreatableFolderName(good)) << good;
    for (const char* bad : {"", ".", "..", "a\\b", "a/b", "c:", "a*", "a?", "a|b", "a<b", "a>b", "a\"b", "tab\t",
                            "trail ", "CON", "nul", "Aux", "prn", "COM1", "lpt9", "conin$"})
        EXPECT_FALSE(IsCreatableFolderName(bad)) << bad;
    EXPECT_FALSE(IsCreatableFolderName(std::string(256, 'a')));
    EXPECT_TRUE(IsUsableStorageRoot("C:\\web\\"));
    EXPECT_TRUE(IsUsableStorageRoot("\\\\server\\share\\"));
    EXPECT_FALSE(IsUsableStorageRoot("\\"));
    EXPECT_FALSE(IsUsableStorageRoot("web\\"));
    EXPECT_FALSE(IsUsableStorageRoot("\\\\?\\C:\\"));
}

TEST_F(SessionTest, GroupFoldersAreCreatedBelowTheStore) {
    connect_and_select("alt.binaries.x");
    EXPECT_TRUE(folder_exists(store() + "\\alt\\binaries\\x"));
    EXPECT_EQ(root_ + "\\store\\", session_->storageRoot());
    EXPECT_EQ("news\\alt\\binaries\\x\\", session_->dataFolder());
    EXPECT_EQ("news\\alt\\binaries\\x\\", session_->groupDataFolder());
    EXPECT_EQ(root_ + "\\store\\", session_->groupStorageRoot());
    char cwd[MAX_PATH];
    ASSERT_NE(nullptr, _getcwd(cwd, MAX_PATH));
    EXPECT_STREQ((store() + "\\alt\\binaries\\x").c_str(), cwd);
    // A second group of the same hierarchy reuses what exists.
    EXPECT_EQ(0, session_->SetGroup("alt.binaries.y"));
    EXPECT_TRUE(folder_exists(store() + "\\alt\\binaries\\y"));
    EXPECT_EQ("news\\alt\\binaries\\y\\", session_->dataFolder());
}

TEST_F(SessionTest, TheDocumentedExampleOnDriveC) {
    // WWWRoot C:\web, DataRoot \news, group comp.lang.c.
    const bool existed = folder_exists("C:\\web");
    ::CreateDirectoryA("C:\\web", nullptr);
    ::CreateDirectoryA("C:\\web\\news", nullptr);
    values_ = {"C:\\web", "\\news"};
    make();
    ::SetCurrentDirectoryA(root_.c_str());  // on Z:
    connect_and_select("comp.lang.c");
    EXPECT_EQ("C:\\web\\", session_->storageRoot());
    EXPECT_EQ("news\\comp\\lang\\c\\", session_->dataFolder());
    EXPECT_EQ(3, _getdrive());
    char cwd[MAX_PATH];
    ASSERT_NE(nullptr, _getcwd(cwd, MAX_PATH));
    EXPECT_STREQ("C:\\web\\news\\comp\\lang\\c", cwd);
    session_.reset();
    ::SetCurrentDirectoryA(root_.c_str());
    if (!existed) remove_tree("C:\\web");
}

TEST_F(SessionTest, AnEmptyPartCannotBeCreated) {
    connect_and_select("comp.test");
    EXPECT_EQ(-2, session_->SetGroup("a..b"));
    EXPECT_EQ("a..b", session_->GetGroup());
    EXPECT_EQ("", session_->groupDataFolder());  // no store folder for its articles
    EXPECT_EQ(-2, session_->SetGroup("trailing."));
    EXPECT_EQ(-2, session_->SetGroup(".leading"));
}

TEST_F(SessionTest, GroupNamesCannotLeaveTheStore) {
    ASSERT_EQ(0, session_->SetServer("news.example"));
    const std::set<std::string> outside = entries(root_);
    for (const char* name : {"..\\escape", "a.b\\..\\..\\..\\escape", "x/../../escape", "c:\\escape", "Z:.escape",
                             "a.\\\\server\\share", "..", "...", "con.escape", "a.nul", "x.y\x01z", "sp .x"}) {
        EXPECT_EQ(-2, session_->SetGroup(name)) << name;
        EXPECT_EQ("", session_->groupDataFolder()) << name;
        EXPECT_EQ(std::string::npos, session_->dataFolder().find("..")) << name;
        EXPECT_EQ(std::string::npos, session_->dataFolder().find(':')) << name;
    }
    EXPECT_EQ(outside, entries(root_));
    EXPECT_TRUE(entries(root_ + "\\store").count("news"));
    EXPECT_EQ(1u, entries(root_ + "\\store").size());
    const std::set<std::string> inside = entries(store());
    for (const std::string& n : inside) EXPECT_TRUE(IsCreatableFolderName(n)) << n;
}

TEST_F(SessionTest, AMissingWebRootCreatesNothing) {
    values_.wwwRoot.clear();
    make();
    ::SetCurrentDirectoryA(root_.c_str());
    ASSERT_EQ(0, session_->SetServer("news.example"));
    EXPECT_EQ(-2, session_->SetGroup("comp.test"));
    EXPECT_EQ("comp.test", session_->GetGroup());
    EXPECT_EQ(-2, session_->GetAllGroups());
    EXPECT_EQ((std::set<std::string>{"store"}), entries(root_));
    EXPECT_FALSE(folder_exists("\\news\\comp"));  // not at the top of the current drive either
}

TEST_F(SessionTest, MissingStoreFolderGivesMinusTwo) {
    values_.dataRoot = "not-there";
    make();
    ASSERT_EQ(0, session_->SetServer("news.example"));
    EXPECT_EQ(-2, session_->SetGroup("comp.test"));
    EXPECT_FALSE(folder_exists(root_ + "\\store\\not-there"));
}

TEST_F(SessionTest, GroupListIsWrittenToTheDataFolderInTextMode) {
    engine_->groups = {{"comp.test", 12}, {"alt.x", 0}, {"misc", 2000000}};
    connect_and_select("alt.binaries.x");
    EXPECT_EQ(0, session_->GetAllGroups());
    const std::string file = store() + "\\NewsList.txt";
    EXPECT_EQ("12 comp.test\r\n0 alt.x\r\n2000000 misc\r\n", read_binary(file));
    EXPECT_FALSE(::GetFileAttributesA((store() + "\\alt\\binaries\\x\\NewsList.txt").c_str()) !=
                 INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ("news\\", session_->dataFolder());
    // The selected group's articles stay where they were.
    EXPECT_EQ("news\\alt\\binaries\\x\\", session_->groupDataFolder());
    // A second call replaces the file rather than adding to it.
    engine_->groups = {{"only", 1}};
    EXPECT_EQ(0, session_->GetAllGroups());
    EXPECT_EQ("1 only\r\n", read_binary(file));
    // A server with no group, or one that fails: an empty file, the result.
    engine_->groups.clear();
    engine_->listResult = 480;
    EXPECT_EQ(480, session_->GetAllGroups());
    EXPECT_EQ("", read_binary(file));
}

TEST_F(SessionTest, AnInterruptedGroupListLeavesTheLastWholeOne) {
    engine_->groups = {{"comp.test", 12}};
    ASSERT_EQ(0, session_->GetAllGroups());
    engine_->onAction = [](int a, NewsEvents& ev) -> int {
        ev.GroupList("half", 1, 1, 1);
        throw std::bad_alloc();
    };
    EXPECT_THROW(session_->GetAllGroups(), std::bad_alloc);
    EXPECT_EQ("12 comp.test\r\n", read_binary(store() + "\\NewsList.txt"));
    EXPECT_EQ((std::set<std::string>{"NewsList.txt"}), entries(store()));
}

TEST_F(SessionTest, GroupListFileThatCannotBeCreated) {
    ::CreateDirectoryA((store() + "\\NewsList.txt").c_str(), nullptr);  // a folder in the way
    EXPECT_EQ(-2, session_->GetAllGroups());
    EXPECT_EQ((Log{}), *log_);  // the engine was not asked
}

TEST_F(SessionTest, AGroupListCallInsideAnotherIsRefused) {
    int inner = 0;
    engine_->onAction = [&](int a, NewsEvents& ev) {
        if (a == 3) {
            inner = session_->GetAllGroups();
            ev.GroupList("x", 1, 1, 1);
            return 0;
        }
        return -12345;
    };
    EXPECT_EQ(0, session_->GetAllGroups());
    EXPECT_EQ(-1, inner);
    EXPECT_EQ("1 x\r\n", read_binary(store() + "\\NewsList.txt"));
}

TEST_F(SessionTest, TwoThreadsPrepareTheirOwnGroupsInTheirOwnStores) {
    const std::string other = root_ + "\\other";
    ::CreateDirectoryA(other.c_str(), nullptr);
    ::CreateDirectoryA((other + "\\news").c_str(), nullptr);
    auto run = [](std::string www, const char* prefix, int* failures) {
        auto log = std::make_shared<Log>();
        StorageValues v{www, "news"};
        NewsSession s([&](NewsEvents& ev) { return std::make_unique<ScriptedEngine>(ev, log); }, [v] { return v; });
        s.SetServer("x");
        for (int i = 0; i < 40; ++i) {
            const std::string g = std::string(prefix) + ".g" + std::to_string(i % 8) + ".leaf";
            if (s.SetGroup(g) != 0) ++*failures;
        }
    };
    int fa = 0, fb = 0;
    std::thread a(run, values_.wwwRoot, "left", &fa);
    std::thread b(run, other, "right", &fb);
    a.join();
    b.join();
    EXPECT_EQ(0, fa);
    EXPECT_EQ(0, fb);
    EXPECT_EQ((std::set<std::string>{"left"}), entries(store()));
    EXPECT_EQ((std::set<std::string>{"right"}), entries(other + "\\news"));
    EXPECT_EQ(8u, entries(store() + "\\left").size());
}

// Choosing and reading articles.

// A uuencoded attachment "hello.txt" holding "hello, attachment\n".
const std::vector<std::string> kUuBody = {"see the file", "begin 644 hello.txt", "2:&5L;&\\L(&%T=&%C:&UE;G0*", "`",
                                          "end", "thanks"};

TEST_F(SessionTest, SetArticleByNumberCopiesItsListingEntryOrStartsAfresh) {
    connect_and_select();
    log_->clear();
    EXPECT_EQ(423, session_->SetArticle(5, 0));  // no listing: a fresh record, and the engine has no such article
    EXPECT_EQ((Log{"SetCurrentArticle 5", "SetAction 7"}), *log_);
    EXPECT_EQ(5, session_->currentArticle().number);

    engine_->fill(1, 50);
    ASSERT_EQ(0, session_->GetListing(-1, 1).status);
    engine_->heads["7"] = {{"Subject", "subject from the header"}, {"Newsgroups", "comp.test"}};
    log_->clear();
    EXPECT_EQ(0, session_->SetArticle(7, 0));
    EXPECT_EQ((Log{"SetCurrentArticle 7", "SetAction 7"}), *log_);
    const ArticleRecord& a = session_->currentArticle();
    EXPECT_EQ(7, a.number);
    EXPECT_EQ("from 7", a.from);  // the overview's, which the header fetch did not replace
    EXPECT_EQ("date 7", a.date);
    EXPECT_EQ(70, a.size);
    EXPECT_EQ(7, a.lines);
    EXPECT_EQ("subject from the header", a.subject);
    EXPECT_EQ("comp.test", a.newsgroups);
    EXPECT_EQ("subject from the header", session_->GetMoreInfo(-1, 5));

    // Not in the listing: everything the previous article held is gone.
    log_->clear();
    EXPECT_EQ(423, session_->SetArticle(777, 0));
    EXPECT_EQ((Log{"SetCurrentArticle 777", "SetAction 7"}), *log_);
    EXPECT_EQ(777, a.number);
    EXPECT_EQ("", a.subject);
    EXPECT_EQ("", a.newsgroups);
    EXPECT_EQ(-1, a.size);
    EXPECT_EQ(0, a.lines);
}

TEST_F(SessionTest, SetArticleByIndexTakesTheValueAsAListingIndex) {
    EXPECT_EQ(-1, session_->SetArticle(3, 1));  // no group
    engine_->fill(1, 50);
    connect_and_select();
    log_->clear();
    EXPECT_EQ(-1, session_->SetArticle(3, 1));  // no listing to take an entry from
    EXPECT_EQ((Log{}), *log_);
    ASSERT_EQ(0, session_->GetListing(-1, 1).status);
    ASSERT_EQ(50, session_->listingCount());
    const ArticleRecord& a = session_->currentArticle();

    log_->clear();
    session_->SetArticle(3, 1);
    EXPECT_EQ((Log{"SetCurrentArticle 4", "SetAction 7"}), *log_);
    EXPECT_EQ(4, a.number);
    EXPECT_EQ("subject 4", a.subject);
    EXPECT_EQ(40, a.size);

    // Past the filled entries the listing holds records as after Reset.
    log_->clear();
    session_->SetArticle(60, 1);
    EXPECT_EQ((Log{"SetCurrentArticle 0", "SetAction 7"}), *log_);
    EXPECT_EQ(0, a.number);
    EXPECT_EQ(-1, a.size);
    EXPECT_EQ("", a.subject);

    // An index the listing cannot hold chooses nothing and changes nothing.
    session_->SetArticle(9, 1);
    log_->clear();
    EXPECT_EQ(-1, session_->SetArticle(100, 1));
    EXPECT_EQ(-1, session_->SetArticle(2147483647, 1));
    EXPECT_EQ((Log{}), *log_);
    EXPECT_EQ(10, a.number);
    EXPECT_EQ("subject 10", a.subject);

    // A negative index names no entry: a fresh record numbered by the value.
    log_->clear();
    session_->SetArticle(-5, 1);
    EXPECT_EQ((Log{"SetCurrentArticle -5", "SetAction 7"}), *log_);
    EXPECT_EQ(-5, a.number);
    EXPECT_EQ("", a.subject);
}

TEST_F(SessionTest, SetArticleReturnsTheEnginesResults) {
    connect_and_select();
    engine_->currentResult = 1004;
    log_->clear();
    EXPECT_EQ(1004, session_->SetArticle(8, 0));
    EXPECT_EQ((Log{"SetCurrentArticle 8"}), *log_);  // no header fetch after a refusal
    engine_->currentResult = 0;
    engine_->heads["8"] = {};
    EXPECT_EQ(0, session_->SetArticle(8, 0));
    EXPECT_EQ(423, session_->SetArticle(9, 0));
}

TEST_F(SessionTest, HeadersFillTheCurrentArticleByExactName) {
    connect_and_select();
    engine_->heads["9"] = {{"Path", "a!b"},          {"Newsgroups", "comp.test,comp.other"},
                           {"Reply-To", "r@x"},      {"Subject", "the subject"},
                           {"From", "F <f@x>"},      {"Date", "Mon, 01 Jan 2024"},
                           {"Lines", " 42 lines"},   {"subject", "lower case is another header"},
                           {"FROM", "so is this"},   {"Subject ", "and a name with a blank"},
                           {"X-Date", "ignored"}};
    ASSERT_EQ(0, session_->SetArticle(9, 0));
    const ArticleRecord& a = session_->currentArticle();
    EXPECT_EQ("comp.test,comp.other", a.newsgroups);
    EXPECT_EQ("r@x", a.replyTo);
    EXPECT_EQ("the subject", a.subject);
    EXPECT_EQ("F <f@x>", a.from);
    EXPECT_EQ("Mon, 01 Jan 2024", a.date);
    EXPECT_EQ(42, a.lines);
    EXPECT_EQ("comp.test,comp.other", session_->GetMoreInfo(-1, 3));
    EXPECT_EQ("r@x", session_->GetMoreInfo(-1, 4));
    EXPECT_EQ("42", session_->GetMoreInfo(-1, 9));

    const std::pair<const char*, int> lines[] = {{"-7", -7},
                                                 {"+8", 8},
                                                 {"\t 12", 12},
                                                 {"x1", 0},
                                                 {"", 0},
                                                 {"- 3", 0},
                                                 {"99999999999", 2147483647},
                                                 {"-99999999999", -2147483647 - 1}};
    for (const auto& [text, number] : lines) {
        engine_->heads["9"] = {{"Lines", text}};
        session_->SetArticle(9, 0);
        EXPECT_EQ(number, a.lines) << text;
    }
}

TEST_F(SessionTest, GetTextWithoutAGroupIsNoText) {
    EXPECT_FALSE(session_->GetText().has_value());
    engine_->selectResult = 411;
    ASSERT_EQ(0, session_->SetServer("news.example"));
    EXPECT_EQ(411, session_->SetGroup("no.such.group"));
    log_->clear();
    EXPECT_FALSE(session_->GetText().has_value());
    EXPECT_EQ((Log{}), *log_);
}

TEST_F(SessionTest, GetTextFetchesAndStoresThenReadsTheStoredCopy) {
    const std::string nul("nul\0byte", 8);
    engine_->bodies["12"] = {"first", "", ".dotted", nul, "ctrl-z \x1a inside", "last"};
    connect_and_select("comp.test");
    ASSERT_EQ(423, session_->SetArticle(12, 0));
    log_->clear();
    const std::string expected = "first\n\n.dotted\n" + nul + "\nctrl-z \x1a inside\nlast\n";
    std::optional<std::string_view> text = session_->GetText();
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(expected, std::string(*text));
    EXPECT_EQ((Log{"SetAction 8"}), *log_);
    EXPECT_EQ(expected, read_binary(store() + "\\comp\\test\\12"));

    // The second reading comes from the copy, with no engine call, and is
    // added to what the article already holds.
    log_->clear();
    text = session_->GetText();
    EXPECT_EQ(expected + expected, std::string(*text));
    EXPECT_EQ((Log{}), *log_);

    // A new choice of the same article starts from the copy alone.
    engine_->heads["12"] = {};
    ASSERT_EQ(0, session_->SetArticle(12, 0));
    log_->clear();
    EXPECT_EQ(expected, std::string(*session_->GetText()));
    EXPECT_EQ((Log{}), *log_);
}

TEST_F(SessionTest, StoredMarkerLinesRebuildTheAttachmentList) {
    connect_and_select("comp.test");
    write_binary(store() + "\\comp\\test\\21",
                 "plain\r\n"
                 "--Attachment--: \\news\\comp\\test\\x.gif\r\n"
                 "--Attachment--:\\news\\comp\\test\\no-blank.gif\n"
                 "--Attachment-- : y\n"
                 "--attachment--: \\news\\comp\\test\\lower.gif\n"
                 " --Attachment--: \\indented\n"
                 "--Attachment--: \\news\\comp\\test\\two words.txt\n"
                 "last line without an end");
    ASSERT_EQ(423, session_->SetArticle(21, 0));
    log_->clear();
    const std::optional<std::string_view> text = session_->GetText();
    EXPECT_EQ((Log{}), *log_);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(
        "plain\n"
        "--Attachment--: \\news\\comp\\test\\x.gif\n"
        "--Attachment--:\\news\\comp\\test\\no-blank.gif\n"
        "--Attachment-- : y\n"
        "--attachment--: \\news\\comp\\test\\lower.gif\n"
        " --Attachment--: \\indented\n"
        "--Attachment--: \\news\\comp\\test\\two words.txt\n"
        "last line without an end\n",
        std::string(*text));
    const ArticleRecord& a = session_->currentArticle();
    EXPECT_EQ(2, a.attachmentCount);
    EXPECT_EQ("\\news\\comp\\test\\x.gif\n\\news\\comp\\test\\two words.txt\n", a.attachments);
    EXPECT_EQ("2", session_->GetMoreInfo(-1, 8));
}

TEST_F(SessionTest, AttachmentsAreCutOutStoredAndReadBackTwice) {
    engine_->bodies["30"] = kUuBody;
    connect_and_select("alt.binaries.x");
    session_->SetArticle(30, 0);
    const std::string stored = "see the file\n--Attachment--: \\news\\alt\\binaries\\x\\hello.txt\nthanks\n";
    EXPECT_EQ(stored, std::string(*session_->GetText()));
    EXPECT_EQ("hello, attachment\n", read_binary(store() + "\\alt\\binaries\\x\\hello.txt"));
    EXPECT_EQ(stored, read_binary(store() + "\\alt\\binaries\\x\\30"));
    const ArticleRecord& a = session_->currentArticle();
    EXPECT_EQ(1, a.attachmentCount);
    EXPECT_EQ("\\news\\alt\\binaries\\x\\hello.txt\n", a.attachments);
    // Read again without choosing the article again: text and list grow.
    EXPECT_EQ(stored + stored, std::string(*session_->GetText()));
    EXPECT_EQ(2, a.attachmentCount);
    EXPECT_EQ("\\news\\alt\\binaries\\x\\hello.txt\n\\news\\alt\\binaries\\x\\hello.txt\n", a.attachments);
}

TEST_F(SessionTest, ArticlesStayInTheirGroupsFolderAfterTheGroupListIsRead) {
    engine_->bodies["7"] = kUuBody;
    connect_and_select("comp.a");
    // Another group's article 7, and one in the bare data folder, where the
    // store would point once the group list has read the roots again.
    ::CreateDirectoryA((store() + "\\comp\\b").c_str(), nullptr);
    write_binary(store() + "\\comp\\b\\7", "article 7 of comp.b\n");
    write_binary(store() + "\\7", "not an article of either group\n");
    ASSERT_EQ(0, session_->GetAllGroups());
    ASSERT_EQ("news\\", session_->dataFolder());

    session_->SetArticle(7, 0);
    log_->clear();
    const std::string stored = "see the file\n--Attachment--: \\news\\comp\\a\\hello.txt\nthanks\n";
    EXPECT_EQ(stored, std::string(*session_->GetText()));
    EXPECT_EQ((Log{"SetAction 8"}), *log_);  // no other copy was taken for it
    EXPECT_EQ(stored, read_binary(store() + "\\comp\\a\\7"));
    EXPECT_EQ("hello, attachment\n", read_binary(store() + "\\comp\\a\\hello.txt"));
    EXPECT_EQ("<missing>", read_binary(store() + "\\hello.txt"));
    EXPECT_EQ("not an article of either group\n", read_binary(store() + "\\7"));
    EXPECT_EQ("article 7 of comp.b\n", read_binary(store() + "\\comp\\b\\7"));

    // Read again after another group list: still comp.a's copy.
    ASSERT_EQ(0, session_->GetAllGroups());
    session_->SetArticle(7, 0);
    log_->clear();
    EXPECT_EQ(stored, std::string(*session_->GetText()));
    EXPECT_EQ((Log{}), *log_);

    // In comp.b the same number is comp.b's own article.
    ASSERT_EQ(0, session_->SetGroup("comp.b"));
    session_->SetArticle(7, 0);
    log_->clear();
    EXPECT_EQ("article 7 of comp.b\n", std::string(*session_->GetText()));
    EXPECT_EQ((Log{}), *log_);
}

TEST_F(SessionTest, OnlyABodyThatArrivedWholeIsStored) {
    engine_->bodies["8"] = {"one", "two"};
    engine_->bodyResult = 10054;  // the connection dropped after these lines
    connect_and_select("comp.test");
    session_->SetArticle(8, 0);
    EXPECT_EQ("one\ntwo\n", std::string(*session_->GetText()));
    EXPECT_EQ("<missing>", read_binary(store() + "\\comp\\test\\8"));

    // The next reading asks the server again; what is stored is the article
    // once, not the text the page had already been given.
    engine_->bodyResult = 0;
    log_->clear();
    EXPECT_EQ("one\ntwo\none\ntwo\n", std::string(*session_->GetText()));
    EXPECT_EQ((Log{"SetAction 8"}), *log_);
    EXPECT_EQ("one\ntwo\n", read_binary(store() + "\\comp\\test\\8"));

    // An empty body stores nothing, so it is asked for again next time.
    engine_->bodies["9"] = {};
    session_->SetArticle(9, 0);
    EXPECT_EQ("", std::string(*session_->GetText()));
    EXPECT_EQ("<missing>", read_binary(store() + "\\comp\\test\\9"));
    log_->clear();
    session_->GetText();
    EXPECT_EQ((Log{"SetAction 8"}), *log_);
}

TEST_F(SessionTest, AMemoryErrorDuringTheFetchKeepsTheLinesThatArrived) {
    connect_and_select("comp.test");
    engine_->onAction = [](int a, NewsEvents& ev) -> int {
        if (a != 8) return -12345;
        ev.Transfer(5, "one", true);
        ev.Transfer(10, "two", true);
        throw std::bad_alloc();
    };
    session_->SetArticle(5, 0);
    const std::optional<std::string_view> text = session_->GetText();
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ("one\ntwo\n", std::string(*text));
    EXPECT_EQ("<missing>", read_binary(store() + "\\comp\\test\\5"));
}

TEST_F(SessionTest, AGroupWithoutAStoreFolderIsReadButNeverStored) {
    connect_and_select("comp.test");
    ASSERT_EQ(-2, session_->SetGroup("a..b"));
    engine_->bodies["4"] = kUuBody;
    write_binary(store() + "\\4", "a copy that belongs to no group\n");
    const std::set<std::string> before = entries(store());
    session_->SetArticle(4, 0);
    log_->clear();
    std::string expected;
    for (const std::string& line : kUuBody) expected += line + "\n";
    EXPECT_EQ(expected, std::string(*session_->GetText()));  // as it came: nothing cut out
    EXPECT_EQ((Log{"SetAction 8"}), *log_);
    EXPECT_EQ(before, entries(store()));
    EXPECT_EQ(0, session_->currentArticle().attachmentCount);
}

// The registry settings, as an installer writes them. The values the
// script tests rely on are put back afterwards.
class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Yarrowfen\\Quillnet", 0, nullptr, 0,
                                                   KEY_READ | KEY_WRITE, nullptr, &key_, nullptr));
        save("WWWRoot", www_);
        save("DataRoot", data_);
    }
    void TearDown() override {
        restore("WWWRoot", www_);
        restore("DataRoot", data_);
        ::RegCloseKey(key_);
    }
    void save(const char* name, std::vector<BYTE>& out) {
        DWORD type = 0, size = 0;
        if (::RegQueryValueExA(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return;
        out.resize(size);
        ::RegQueryValueExA(key_, name, nullptr, &type, out.data(), &size);
        types_[name] = type;
    }
    void restore(const char* name, const std::vector<BYTE>& v) {
        if (types_.count(name))
            ::RegSetValueExA(key_, name, 0, types_[name], v.data(), static_cast<DWORD>(v.size()));
        else
            ::RegDeleteValueA(key_, name);
    }
    void set_text(const char* name, const std::string& text) {
        ::RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>(text.size() + 1));
    }
    HKEY key_ = nullptr;
    std::vector<BYTE> www_, data_;
    std::map<std::string, DWORD> types_;
};

TEST_F(RegistryTest, TextValuesAreReadAndAnythingElseIsEmpty) {
    set_text("WWWRoot", "D:\\site");
    set_text("DataRoot", "\\news");
    StorageValues v = ReadStorageValues();
    EXPECT_EQ("D:\\site", v.wwwRoot);
    EXPECT_EQ("\\news", v.dataRoot);

    const std::string longest(127, 'w');
    set_text("WWWRoot", longest);
    set_text("DataRoot", std::string(128, 'd'));
    v = ReadStorageValues();
    EXPECT_EQ(longest, v.wwwRoot);
    EXPECT_EQ("", v.dataRoot);

    const DWORD number = 5;
    ::RegSetValueExA(key_, "WWWRoot", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    ::RegSetValueExA(key_, "DataRoot", 0, REG_BINARY, reinterpret_cast<const BYTE*>("abc"), 3);
    v = ReadStorageValues();
    EXPECT_EQ("", v.wwwRoot);
    EXPECT_EQ("", v.dataRoot);

    // A text stored without its terminating NUL.
    ::RegSetValueExA(key_, "WWWRoot", 0, REG_SZ, reinterpret_cast<const BYTE*>("C:\\web"), 6);
    ::RegDeleteValueA(key_, "DataRoot");
    v = ReadStorageValues();
    EXPECT_EQ("C:\\web", v.wwwRoot);
    EXPECT_EQ("", v.dataRoot);
}

}  // namespace

TEST_F(SessionTest, PostingBuildsTheArticleOrRefusesItBeforeTheEngine) {
    const engine::NewPost post{"A <a@example.invalid>", "comp.test", "Hello", "text", "<1@x>"};
    EXPECT_EQ(-1, session_->PostArticle(post));
    connect_and_select();
    log_->clear();
    // A refusal never reaches the engine; its reason is the last error.
    EXPECT_EQ(engine::kNewsEmptySubject, session_->PostArticle({post.from, post.newsgroups, " ", post.body, ""}));
    EXPECT_TRUE(log_->empty());
    EXPECT_EQ(std::to_string(engine::kNewsEmptySubject) + "The article has no subject", session_->GetLastError());
    EXPECT_EQ("", session_->GetPostedID());
    // A post: the article, action 9, then the group's figures again.
    ASSERT_EQ(0, session_->PostArticle(post));
    EXPECT_EQ((Log{"SetPostArticle", "SetAction 9", "SelectGroup comp.test"}), *log_);
    const std::string id = session_->GetPostedID();
    ASSERT_EQ(0u, id.find('<'));
    EXPECT_NE(std::string::npos, id.find("@example.invalid>"));
    EXPECT_NE(std::string::npos, engine_->posted.find("\r\nMessage-ID: " + id + "\r\n"));
    EXPECT_NE(std::string::npos, engine_->posted.find("\r\nReferences: <1@x>\r\n"));
    // Another post has another id; a refusal of the server keeps the last one.
    ASSERT_EQ(0, session_->PostArticle(post));
    EXPECT_NE(id, session_->GetPostedID());
    const std::string second = session_->GetPostedID();
    engine_->postResult = 441;
    EXPECT_EQ(441, session_->PostArticle(post));
    EXPECT_EQ(second, session_->GetPostedID());
}

TEST_F(SessionTest, MessageIdAndReferencesComeFromTheOverviewAndTheHeaders) {
    engine_->fill(1, 3);
    connect_and_select();
    ASSERT_EQ(0, session_->GetListing(-1, 1).status);
    EXPECT_EQ("<2@x>", session_->GetMessageID(1));
    EXPECT_EQ("<1@x>", session_->GetReferences(1));
    EXPECT_EQ("Error: Bad Index Number (3)", session_->GetMessageID(3));
    EXPECT_EQ("Error: Bad Index Number (-2)", session_->GetReferences(-2));
    EXPECT_EQ("", session_->GetMessageID(-1));
    // The current article: copied from its entry, then its own headers.
    engine_->heads["3"] = {{"message-id", "<three@x>"}, {"References", "<1@x> <2@x>"}};
    ASSERT_EQ(0, session_->SetArticle(3, 0));
    EXPECT_EQ("<three@x>", session_->GetMessageID(-1));
    EXPECT_EQ("<1@x> <2@x>", session_->GetReferences(-1));
    EXPECT_EQ("<3@x>", session_->GetMessageID(2));
    EXPECT_EQ("Error: Bad Item Requested (10)", session_->GetMoreInfo(-1, 10));
}

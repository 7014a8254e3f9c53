// The news session behind MyNntp: one conversation with one news server,
// the selected group and its store folder, a listing of at most 100 article
// overviews, the current article with its stored copy, and the last error
// the engine reported.
// Plain C++: it drives a NewsEngine (our news client, or a scripted one in
// tests) and hears back through the engine's events.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "quillnet/engine/news_article.h"
#include "quillnet/engine/news_client.h"
#include "quillnet/news/article_record.h"
#include "quillnet/news/group_folders.h"
#include "quillnet/news/news_numbers.h"

namespace quillnet {

class GroupListFile;

class NewsSession final : private engine::NewsEvents {
  public:
    static constexpr int kListingSize = 100;
    static constexpr int kWindow = 200;

    using EngineFactory = std::function<std::unique_ptr<engine::NewsEngine>(engine::NewsEvents&)>;
    using ValuesSource = std::function<StorageValues()>;

    // By default: our news client, and the settings from the registry.
    NewsSession();
    NewsSession(const EngineFactory& makeEngine, ValuesSource readValues);
    ~NewsSession() override;
    NewsSession(const NewsSession&) = delete;
    NewsSession& operator=(const NewsSession&) = delete;

    int SetServer(std::string_view server);
    int SetGroup(std::string_view group);
    const std::string& GetGroup() const noexcept { return currentGroup_; }
    int GetTotalArticles();
    int GetFirstArticle();
    int GetLastArticle();
    int GetArticleCount();

    // status 0 with the result of the last overview fetch; status -1 (no
    // group) or -3 (no memory for the listing) with no result.
    struct ListingOutcome {
        int status = 0;
        int result = 0;
    };
    ListingOutcome GetListing(int start, int forward);
    int GetListLength() const noexcept;
    std::string GetSubject(int index) const;
    std::string GetFrom(int index) const;
    std::string GetDate(int index) const;
    std::string GetArticleID(int index) const;
    int GetSize(int index) const noexcept;
    std::string GetMoreInfo(int index, int item) const;
    std::string GetLastError() const;
    int GetAllGroups();
    // The Message-ID and References of a listing entry, or of the current
    // article for index -1 (as GetMoreInfo); the bad-index text otherwise.
    std::string GetMessageID(int index) const;
    std::string GetReferences(int index) const;
    // Posts one article (news_article.h builds it): 0, -1 when not
    // connected, a refusal number before anything is sent, else the
    // engine's result. The reason is in GetLastError.
    // `utf8`: the texts are UTF-8, and the article says so; else ANSI.
    int PostArticle(const engine::NewPost& post, bool utf8 = false);
    // The Message-ID of the last article posted; empty before any.
    const std::string& GetPostedID() const noexcept { return postedId_; }

    // Chooses the current article, by listing index or by article number,
    // and fetches its headers. 0, -1 without a group (or for an index the
    // listing cannot hold), else the engine's result.
    int SetArticle(int value, int byIndex);
    // Appends the current article's text to what it already holds: from its
    // stored copy when there is one, else from the server, after which the
    // attachments are cut out into files and the text is stored. No text
    // (nullopt) without a group. The view is valid until the next call.
    std::optional<std::string_view> GetText();

    // State the article side and the tests look at.
    int connected() const noexcept { return connected_; }
    const std::string& storageRoot() const noexcept { return storageRoot_; }
    const std::string& dataFolder() const noexcept { return dataFolder_; }
    // Where the selected group's articles are kept: the web root and the
    // folder below it (with a trailing backslash each). Both are empty when
    // no group is selected or its folders could not be prepared; reading
    // the group list does not change them.
    const std::string& groupStorageRoot() const noexcept { return groupStorageRoot_; }
    const std::string& groupDataFolder() const noexcept { return groupDataFolder_; }
    int listingCount() const noexcept { return listingCount_; }
    int keepNewest() const noexcept { return keepNewest_; }
    const ArticleRecord* listing() const noexcept { return listing_.get(); }
    ArticleRecord& currentArticle() noexcept { return currentArticle_; }
    engine::NewsEngine& engine() noexcept { return *engine_; }

  private:
    // Engine events.
    void Error(int code, std::string_view description) override;
    void GroupList(std::string_view group, int32_t first, int32_t last, int32_t count) override;
    void GroupOverview(const engine::OverviewLine& line) override;
    void Header(std::string_view name, std::string_view value) override;
    void Transfer(int64_t bytes, std::string_view line, bool endOfLine) override;

    void ReadStorageRoots();
    int PrepareGroupFolder();
    void FetchBody(bool store);
    bool ValidIndex(int index) const noexcept { return index >= 0 && index < listingCount_; }
    bool ListingFull() const noexcept { return listing_ && listing_[kListingSize - 1].number != 0; }
    static std::string BadIndex(int index);
    const ArticleRecord* RecordAt(int index) const noexcept;

    // Declared first so it is deleted last, after everything that may still
    // talk to it.
    std::unique_ptr<engine::NewsEngine> engine_;
    ValuesSource readValues_;
    int connected_ = 0;
    std::string storageRoot_;
    std::string dataFolder_;
    std::string currentGroup_;
    int listingCount_ = 0;
    int keepNewest_ = 1;
    std::unique_ptr<ArticleRecord[]> listing_;
    ArticleRecord currentArticle_;
    int lastErrorCode_ = 0;
    std::string lastErrorText_;
    GroupListFile* groupListFile_ = nullptr;  // open only while GetAllGroups runs
    bool groupListWriteFailed_ = false;
    std::string groupStorageRoot_;
    std::string groupDataFolder_;
    // Consecutive overview windows share their boundary number; an article
    // the previous window already stored is not stored twice.
    int32_t windowEdge_ = 0;
    bool windowEdgeStored_ = false;
    int32_t skipNumber_ = 0;
    // Where body lines go: the current article, or the record a fetch from
    // the server fills before it is stored and added to the current article.
    ArticleRecord* bodyTarget_ = &currentArticle_;
    std::string postedId_;
};

}  // namespace quillnet

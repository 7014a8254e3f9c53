#include "quillnet/news/news_session.h"

#include <cstdio>
#include <limits>
#include <new>
#include <utility>

namespace quillnet {

// A text-mode C file (line ends become CR LF on the way out) whose close is
// checked: a full disk often shows only when the buffer is flushed.
class TextFile {
  public:
    explicit TextFile(const std::string& path) : file_(std::fopen(path.c_str(), "wt")) {}
    ~TextFile() { close(); }
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;
    bool is_open() const noexcept { return file_ != nullptr; }
    bool write(std::string_view a, std::string_view b, std::string_view c) noexcept {
        if (!file_) return false;
        return std::fwrite(a.data(), 1, a.size(), file_) == a.size() &&
               std::fwrite(b.data(), 1, b.size(), file_) == b.size() &&
               std::fwrite(c.data(), 1, c.size(), file_) == c.size();
    }
    // True when everything written reached the file.
    bool close() noexcept {
        if (!file_) return true;
        const bool ok = std::ferror(file_) == 0;
        return std::fclose(std::exchange(file_, nullptr)) == 0 && ok;
    }

  private:
    std::FILE* file_;
};

namespace {

std::unique_ptr<engine::NewsEngine> make_news_client(engine::NewsEvents& events) {
    return std::make_unique<engine::NewsClient>(events);
}

}  // namespace

NewsSession::NewsSession() : NewsSession(make_news_client, ReadStorageValues) {}

NewsSession::NewsSession(const EngineFactory& makeEngine, ValuesSource readValues)
    : engine_(makeEngine(*this)), readValues_(std::move(readValues)) {
    if (!engine_) throw std::bad_alloc();
}

NewsSession::~NewsSession() {
    listing_.reset();
    listingCount_ = 0;
    if (connected_ == 1) {
        try {
            engine_->SetAction(engine::kNewsDisconnect);
            engine_->SetNetworkEnabled(1);
        } catch (...) {
            // Leaving anyway: the connection is dropped with the engine.
        }
    }
}

int NewsSession::SetServer(std::string_view server) {
    engine_->SetNetworkEnabled(1);
    const int result = engine_->SetNewsServer(server);
    if (result != 0) {
        connected_ = 0;
        return result;
    }
    // A failed connection still answers 0: the page sees it through
    // SetGroup's -1 and the last error.
    connected_ = engine_->SetAction(engine::kNewsConnect) == 0 ? 1 : 0;
    return result;
}

int NewsSession::SetGroup(std::string_view group) {
    if (connected_ == 0) return -1;
    if (group == currentGroup_) return 0;
    int result = engine_->SelectGroup(group);
    if (result != 0) {
        currentGroup_.clear();
        groupStorageRoot_.clear();
        groupDataFolder_.clear();
        return result;
    }
    currentGroup_.assign(group);
    if (PrepareGroupFolder() != 0) result = -2;
    return result;
}

int NewsSession::GetTotalArticles() { return engine_->GroupArticleCount(); }

int NewsSession::GetFirstArticle() { return currentGroup_.empty() ? -1 : engine_->GroupFirstArticle(); }

int NewsSession::GetLastArticle() { return currentGroup_.empty() ? -1 : engine_->GroupLastArticle(); }

int NewsSession::GetArticleCount() { return currentGroup_.empty() ? -1 : engine_->GroupArticleCount(); }

NewsSession::ListingOutcome NewsSession::GetListing(int start, int forward) {
    if (currentGroup_.empty()) return {-1, 0};
    const int32_t first = engine_->GroupFirstArticle();
    const int32_t last = engine_->GroupLastArticle();
    // 64-bit from here on: numbers near the 32-bit limit must not wrap.
    int64_t from = start;
    if (start == -1 || start > last)
        from = static_cast<int64_t>(last) - kListingSize;
    else if (start < first)
        from = first;
    if (from < 0) from = 0;  // only a server whose figures disagree gets here

    listing_.reset();
    listingCount_ = 0;
    listing_.reset(new (std::nothrow) ArticleRecord[kListingSize]);  // each as after Reset
    if (!listing_) return {-3, 0};
    listingCount_ = 0;
    skipNumber_ = 0;
    windowEdge_ = 0;
    windowEdgeStored_ = false;

    int result = 0;
    if (engine_->GroupArticleCount() <= kListingSize) {
        engine_->SetOverviewRange("-");
        keepNewest_ = 0;
        result = engine_->SetAction(engine::kNewsOverview);
    } else {
        const int newest = forward == 0 ? 1 : 0;
        constexpr int64_t kTop = std::numeric_limits<int32_t>::max();
        int previous = 0;
        for (;;) {
            int64_t to = forward != 0 ? from + kWindow : from - kWindow;
            if (to > kTop) to = kTop;
            // Article numbers start at 1: a backward window stops there
            // rather than asking for a range the server cannot parse.
            if (forward == 0 && to < 1) to = 1;
            const int64_t low = forward != 0 ? from : to;
            const int64_t high = forward != 0 ? to : from;
            const std::string range = std::to_string(low) + "-" + std::to_string(high);
            engine_->SetOverviewRange(range);
            keepNewest_ = newest;
            windowEdge_ = static_cast<int32_t>(to);
            windowEdgeStored_ = false;
            result = engine_->SetAction(engine::kNewsOverview);
            const bool more = listingCount_ > previous && !ListingFull() && result == 0 && to != from &&
                              (forward != 0 ? to < kTop : to > 1);
            previous = listingCount_;
            skipNumber_ = windowEdgeStored_ ? windowEdge_ : 0;
            from = to;
            if (!more) break;
        }
    }
    skipNumber_ = 0;
    if (keepNewest_ == 1 && ListingFull()) listingCount_ = kListingSize;
    return {0, result};
}

int NewsSession::GetListLength() const noexcept {
    if (!listing_) return 0;
    if (ListingFull()) return kListingSize;
    return listingCount_;
}

std::string NewsSession::BadIndex(int index) { return "Error: Bad Index Number (" + std::to_string(index) + ")"; }

std::string NewsSession::GetSubject(int index) const {
    return ValidIndex(index) ? listing_[index].subject : BadIndex(index);
}

std::string NewsSession::GetFrom(int index) const {
    return ValidIndex(index) ? listing_[index].from : BadIndex(index);
}

std::string NewsSession::GetDate(int index) const {
    return ValidIndex(index) ? listing_[index].date : BadIndex(index);
}

std::string NewsSession::GetArticleID(int index) const {
    return ValidIndex(index) ? std::to_string(listing_[index].number) : BadIndex(index);
}

int NewsSession::GetSize(int index) const noexcept { return ValidIndex(index) ? listing_[index].size : 0; }

std::string NewsSession::GetMoreInfo(int index, int item) const {
    // The index is checked first: -1 is the current article.
    if (index < -1 || index >= listingCount_) return BadIndex(index);
    const ArticleRecord& r = index == -1 ? currentArticle_ : listing_[index];
    switch (item) {
        case 0: return r.attachments;
        case 1: return r.date;
        case 2: return r.from;
        case 3: return r.newsgroups;
        case 4: return r.replyTo;
        case 5: return r.subject;
        case 6: return std::to_string(r.number);
        case 7: return std::to_string(r.size);
        case 8: return std::to_string(r.attachmentCount);
        case 9: return std::to_string(r.lines);
        default: return "Error: Bad Item Requested (" + std::to_string(item) + ")";
    }
}

std::string NewsSession::GetLastError() const { return std::to_string(lastErrorCode_) + lastErrorText_; }

int NewsSession::GetAllGroups() {
    if (groupListFile_) return -1;
    {
        std::lock_guard<std::mutex> lock(StoreFolderLock());
        ReadStorageRoots();
    }
    // Without a configured web root the path would name the top of the
    // current drive.
    if (!IsUsableStorageRoot(storageRoot_)) return -2;
    TextFile file(storageRoot_ + dataFolder_ + "NewsList.txt");
    if (!file.is_open()) return -2;
    groupListFile_ = &file;
    groupListWriteFailed_ = false;
    struct Release {
        TextFile*& slot;
        ~Release() { slot = nullptr; }
    } release{groupListFile_};
    int result = engine_->SetAction(engine::kNewsGroupList);
    groupListFile_ = nullptr;
    if (!file.close() || groupListWriteFailed_) result = -3;
    return result;
}

void NewsSession::ReadStorageRoots() {
    const StorageValues values = readValues_();
    storageRoot_ = values.wwwRoot;
    ChangeToRootDrive(storageRoot_);
    storageRoot_ = DeriveStorageRoot(storageRoot_);
    dataFolder_ = DeriveDataFolder(values.dataRoot);
}

int NewsSession::PrepareGroupFolder() {
    groupStorageRoot_.clear();
    groupDataFolder_.clear();
    std::lock_guard<std::mutex> lock(StoreFolderLock());
    ReadStorageRoots();
    if (!IsUsableStorageRoot(storageRoot_)) return -2;
    std::string relative = dataFolder_;
    const int result = CreateGroupFolders(storageRoot_ + dataFolder_, currentGroup_, relative);
    dataFolder_ = relative;
    if (result == 0) {
        groupStorageRoot_ = storageRoot_;
        groupDataFolder_ = dataFolder_;
    }
    return result;
}

void NewsSession::Error(int code, std::string_view description) {
    lastErrorCode_ = static_cast<int>(static_cast<uint16_t>(code));
    lastErrorText_.assign(description);
}

void NewsSession::GroupList(std::string_view group, int32_t first, int32_t last, int32_t count) {
    if (!groupListFile_) return;
    const std::string number = std::to_string(count) + " ";
    if (!groupListFile_->write(number, group, "\n")) groupListWriteFailed_ = true;
}

void NewsSession::GroupOverview(const engine::OverviewLine& line) {
    if (!listing_) return;
    if (skipNumber_ != 0 && line.number == skipNumber_) return;
    if (listingCount_ >= kListingSize && keepNewest_ == 1) listingCount_ = 0;
    if (listingCount_ >= kListingSize) return;
    listing_[listingCount_].SetOverview(line.number, line.subject, line.from, line.date, line.size, line.lines);
    ++listingCount_;
    if (line.number == windowEdge_) windowEdgeStored_ = true;
}

}  // namespace quillnet

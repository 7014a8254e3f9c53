#include "quillnet/news/news_session.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "frame/ascii.h"
#include "frame/scope_guard.h"
#include "quillnet/engine/charset.h"
#include "quillnet/engine/machine.h"
#include "quillnet/engine/mail_message.h"
#include "quillnet/news/store_files.h"

namespace quillnet {

namespace {

std::unique_ptr<engine::NewsEngine> make_news_client(engine::NewsEvents& events) {
    return std::make_unique<engine::NewsClient>(events);
}

// The leading decimal number of a header value, after blanks and a sign, as
// C's atoi reads it; 0 when there is none, the nearest 32-bit value when it
// is too large.
int32_t leading_number(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int64_t v = 0;
    constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) v = std::min<int64_t>(v * 10 + (s[i] - '0'), kLimit);
    if (negative) return static_cast<int32_t>(-v);
    return static_cast<int32_t>(std::min<int64_t>(v, kLimit - 1));
}

// Adds the text and attachments of `from` to `to`.
void append_article(ArticleRecord& to, ArticleRecord& from) {
    to.TakeBody(from);
    to.attachments.append(from.attachments);
    to.attachmentCount += from.attachmentCount;
    from.attachments.clear();
    from.attachmentCount = 0;
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
    engine_->SetConnectionReuse(readValues_().connectionReuseSeconds);
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
    if (connected_ == 0) return session_not_ready;
    if (group == currentGroup_) return 0;
    int result = engine_->SelectGroup(group);
    if (result != 0) {
        currentGroup_.clear();
        groupStorageRoot_.clear();
        groupDataFolder_.clear();
        return result;
    }
    currentGroup_.assign(group);
    if (PrepareGroupFolder() != 0) result = session_store_unusable;
    return result;
}

int NewsSession::GetTotalArticles() { return engine_->GroupArticleCount(); }

int NewsSession::GetFirstArticle() { return currentGroup_.empty() ? -1 : engine_->GroupFirstArticle(); }

int NewsSession::GetLastArticle() { return currentGroup_.empty() ? -1 : engine_->GroupLastArticle(); }

int NewsSession::GetArticleCount() { return currentGroup_.empty() ? -1 : engine_->GroupArticleCount(); }

NewsSession::ListingOutcome NewsSession::GetListing(int start, int forward) {
    if (currentGroup_.empty()) return {session_not_ready, 0};
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
    if (!listing_) return {session_write_failed, 0};
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
    const ArticleRecord* record = RecordAt(index);
    if (!record) return BadIndex(index);
    const ArticleRecord& r = *record;
    switch (item) {
        case info_attachments: return r.attachments;
        case info_date: return r.date;
        case info_from: return r.from;
        case info_newsgroups: return r.newsgroups;
        case info_reply_to: return r.replyTo;
        case info_subject: return r.subject;
        case info_number: return std::to_string(r.number);
        case info_size: return std::to_string(r.size);
        case info_attachment_count: return std::to_string(r.attachmentCount);
        case info_lines: return std::to_string(r.lines);
        default: return "Error: Bad Item Requested (" + std::to_string(item) + ")";
    }
}

std::string NewsSession::GetLastError() const { return std::to_string(lastErrorCode_) + lastErrorText_; }

const ArticleRecord* NewsSession::RecordAt(int index) const noexcept {
    if (index < -1 || index >= listingCount_) return nullptr;
    return index == -1 ? &currentArticle_ : &listing_[index];
}

std::string NewsSession::GetMessageID(int index) const {
    const ArticleRecord* r = RecordAt(index);
    return r ? r->messageId : BadIndex(index);
}

std::string NewsSession::GetReferences(int index) const {
    const ArticleRecord* r = RecordAt(index);
    return r ? r->references : BadIndex(index);
}

int NewsSession::PostArticle(const engine::NewPost& post, bool utf8) {
    if (connected_ == 0) return session_not_ready;
    engine::PostStamp stamp;
    stamp.date = engine::message_date_now();
    stamp.messageId = engine::new_message_id(engine::from_mailbox(post.from));
    stamp.charset = utf8 ? "UTF-8" : engine::charset_of_code_page(engine::ansi_code_page());
    stamp.codePage = utf8 ? engine::kCodePageUtf8 : 0;
    std::string article, why;
    if (const int refused = engine::build_post(post, stamp, article, why)) {
        Error(refused, why);
        return refused;
    }
    int result = engine_->SetPostArticle(article);
    if (result == 0) result = engine_->SetAction(engine::kNewsPost);
    if (result != 0) return result;
    postedId_ = std::move(stamp.messageId);
    // The selected group's figures are asked again, so that a listing made
    // next holds the article just posted.
    if (!currentGroup_.empty() && engine_->SelectGroup(currentGroup_) != 0) {
        currentGroup_.clear();
        groupStorageRoot_.clear();
        groupDataFolder_.clear();
    }
    return 0;
}

int NewsSession::GetAllGroups() {
    if (groupListFile_) return session_not_ready;
    {
        std::lock_guard<std::mutex> lock(StoreFolderLock());
        ReadStorageRoots();
    }
    // Without a configured web root the path would name the top of the
    // current drive.
    if (!IsUsableStorageRoot(storageRoot_)) return session_store_unusable;
    GroupListFile file(storageRoot_ + dataFolder_ + "NewsList.txt");
    if (!file.is_open()) return session_store_unusable;
    groupListFile_ = &file;
    groupListWriteFailed_ = false;
    const frame::scope_exit release([this] { groupListFile_ = nullptr; });
    int result = engine_->SetAction(engine::kNewsGroupList);
    groupListFile_ = nullptr;
    // A line that could not be written leaves the last whole list in place.
    if (groupListWriteFailed_ || !file.close()) result = session_write_failed;
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
    if (!IsUsableStorageRoot(storageRoot_)) return session_store_unusable;
    std::string relative = dataFolder_;
    const int result = CreateGroupFolders(storageRoot_ + dataFolder_, currentGroup_, relative);
    dataFolder_ = relative;
    if (result == 0) {
        groupStorageRoot_ = storageRoot_;
        groupDataFolder_ = dataFolder_;
    }
    return result;
}

int NewsSession::SetArticle(int value, int byIndex) {
    if (currentGroup_.empty()) return session_not_ready;
    int index = -1;
    if (byIndex != 0) {
        // The value is an index. One the listing cannot hold, or any index
        // while there is no listing, names no entry: a missing precondition.
        index = value;
        if (index >= kListingSize || (index >= 0 && !listing_)) return session_not_ready;
    } else if (listing_) {
        for (int i = 0; i < listingCount_; ++i) {
            if (listing_[i].number == value) {
                index = i;
                break;
            }
        }
    }
    if (index >= 0) {
        currentArticle_ = listing_[index];  // entries hold no text, so neither does the article now
    } else {
        currentArticle_.Reset();
        currentArticle_.number = value;
    }
    int result = engine_->SetCurrentArticle(std::to_string(currentArticle_.number));
    if (result == 0) result = engine_->SetAction(engine::kNewsHeaders);
    return result;
}

std::optional<std::string_view> NewsSession::GetText() {
    if (currentGroup_.empty()) return std::nullopt;
    // The selected group's own folder, whatever was read since: another
    // group's article of the same number must never be taken for this one.
    // Without a folder for the group (its preparation failed) the text is
    // fetched but neither looked up nor stored.
    const bool store = !groupStorageRoot_.empty();
    try {
        const std::string path = groupStorageRoot_ + groupDataFolder_ + std::to_string(currentArticle_.number);
        const std::unique_ptr<StoredCopy> copy = store ? open_stored_copy(path) : nullptr;
        if (copy)
            read_stored_copy(*copy, currentArticle_);
        else
            FetchBody(store);
    } catch (...) {
        // A file or memory error: the page gets the text held so far.
    }
    return currentArticle_.body();
}

// The body goes into a record of its own first, so the stored copy holds
// this article alone, not text a previous GetText left in the current
// article; the result is then added to the current article.
void NewsSession::FetchBody(bool store) {
    ArticleRecord fetched;
    fetched.number = currentArticle_.number;
    fetched.size = currentArticle_.size;  // sizes the first allocation
    fetched.lines = currentArticle_.lines;
    // Body lines go to `fetched` while the action runs, and back to the
    // current article on every way out.
    ArticleRecord* const previousTarget = std::exchange(bodyTarget_, &fetched);
    const frame::scope_exit restore([this, previousTarget] { bodyTarget_ = previousTarget; });
    try {
        // Only a body that arrived whole is stored: a copy cut short by a
        // dropped connection would be served instead of the article forever.
        if (engine_->SetAction(engine::kNewsBody) == 0 && store)
            fetched.DecodeAttachments(groupStorageRoot_, groupDataFolder_);
    } catch (...) {
        append_article(currentArticle_, fetched);
        throw;
    }
    append_article(currentArticle_, fetched);
}

void NewsSession::Error(int code, std::string_view description) {
    lastErrorCode_ = static_cast<int>(static_cast<uint16_t>(code));
    lastErrorText_.assign(description);
}

void NewsSession::GroupList(std::string_view group, int32_t first, int32_t last, int32_t count) {
    if (!groupListFile_) return;
    const std::string number = std::to_string(count) + " ";
    if (!groupListFile_->write(number, group)) groupListWriteFailed_ = true;
}

void NewsSession::GroupOverview(const engine::OverviewLine& line) {
    if (!listing_) return;
    if (skipNumber_ != 0 && line.number == skipNumber_) return;
    if (listingCount_ >= kListingSize && keepNewest_ == 1) listingCount_ = 0;
    if (listingCount_ >= kListingSize) return;
    ArticleRecord& entry = listing_[listingCount_];
    entry.SetOverview(line.number, line.subject, line.from, line.date, line.size, line.lines);
    entry.messageId.assign(line.messageId);
    entry.references.assign(line.references);
    ++listingCount_;
    if (line.number == windowEdge_) windowEdgeStored_ = true;
}

void NewsSession::Header(std::string_view name, std::string_view value) {
    ArticleRecord& a = currentArticle_;
    if (name == "Newsgroups")
        a.newsgroups.assign(value);
    else if (name == "Reply-To")
        a.replyTo.assign(value);
    else if (name == "Subject")
        a.subject.assign(value);
    else if (name == "From")
        a.from.assign(value);
    else if (name == "Date")
        a.date.assign(value);
    else if (name == "Lines")
        a.lines = leading_number(value);
    else if (frame::ascii::equals_nocase(name, "Message-ID"))
        a.messageId.assign(value);
    else if (frame::ascii::equals_nocase(name, "References"))
        a.references.assign(value);
    else if (frame::ascii::equals_nocase(name, "Content-Type"))
        a.contentType.assign(value);
}

void NewsSession::Transfer(int64_t, std::string_view line, bool) { bodyTarget_->AppendLine(line); }

}  // namespace quillnet

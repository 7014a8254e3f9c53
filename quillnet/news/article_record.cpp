#include "quillnet/news/article_record.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace quillnet {
namespace {
constexpr size_t kGrowthStep = 65536;
constexpr size_t kMaxCapacity = static_cast<size_t>(std::numeric_limits<int32_t>::max());
}  // namespace

ArticleRecord::ArticleRecord(const ArticleRecord& other) { *this = other; }

ArticleRecord& ArticleRecord::operator=(const ArticleRecord& other) {
    if (this == &other) return *this;
    std::unique_ptr<char[]> copy;
    if (other.text_) {
        copy.reset(new char[static_cast<size_t>(other.capacity_)]);
        std::memcpy(copy.get(), other.text_.get(), static_cast<size_t>(other.length_) + 1);
    }
    text_ = std::move(copy);
    capacity_ = other.text_ ? other.capacity_ : 0;
    length_ = other.text_ ? other.length_ : 0;
    number = other.number;
    subject = other.subject;
    from = other.from;
    date = other.date;
    newsgroups = other.newsgroups;
    replyTo = other.replyTo;
    lines = other.lines;
    size = other.size;
    attachmentCount = other.attachmentCount;
    attachments = other.attachments;
    messageId = other.messageId;
    references = other.references;
    contentType = other.contentType;
    return *this;
}

void ArticleRecord::Reset() {
    text_.reset();
    capacity_ = length_ = 0;
    number = lines = attachmentCount = 0;
    subject.clear();
    from.clear();
    date.clear();
    newsgroups.clear();
    replyTo.clear();
    attachments.clear();
    messageId.clear();
    references.clear();
    contentType.clear();
    size = -1;
}

void ArticleRecord::SetOverview(int32_t number_, std::string_view subject_, std::string_view from_,
                                std::string_view date_, int32_t size_, int32_t lines_) {
    number = number_;
    subject.assign(subject_);
    from.assign(from_);
    date.assign(date_);
    size = size_;
    lines = lines_;
}

void ArticleRecord::Reserve(size_t extra) {
    if (!text_) {
        // First allocation sized from the overview, so most bodies fit at once.
        size_t first = 0;
        if (size > 0) first = static_cast<size_t>(size) + 81;
        else if (lines > 0) first = static_cast<size_t>(lines) * 81;
        first = std::max<size_t>(first, 1);
        if (first > kMaxCapacity) first = kMaxCapacity;
        text_.reset(new char[first]);
        text_[0] = '\0';
        capacity_ = static_cast<int32_t>(first);
        length_ = 0;
    }
    const size_t used = static_cast<size_t>(length_);
    if (extra > kMaxCapacity || used + extra + 1 > kMaxCapacity) throw std::bad_alloc();
    const size_t need = used + extra + 1;
    if (need <= static_cast<size_t>(capacity_)) return;
    const size_t cap = static_cast<size_t>(capacity_);
    size_t grown = std::max({need, cap + kGrowthStep, cap + cap / 2});
    grown = std::min(grown, kMaxCapacity);
    std::unique_ptr<char[]> bigger(new char[grown]);
    std::memcpy(bigger.get(), text_.get(), used + 1);
    text_ = std::move(bigger);
    capacity_ = static_cast<int32_t>(grown);
}

void ArticleRecord::AppendLine(std::string_view line) {
    Reserve(line.size() + 1);
    char* end = text_.get() + length_;
    std::memcpy(end, line.data(), line.size());
    end[line.size()] = '\n';
    end[line.size() + 1] = '\0';
    length_ += static_cast<int32_t>(line.size() + 1);
}

void ArticleRecord::AddAttachment(std::string_view entry) {
    ++attachmentCount;
    attachments.append(entry);
    attachments.push_back('\n');
}

void ArticleRecord::TakeBody(ArticleRecord& from) {
    if (from.text_ && from.length_ > 0) {
        if (!text_ || length_ == 0) {
            text_ = std::move(from.text_);
            capacity_ = std::exchange(from.capacity_, 0);
            length_ = std::exchange(from.length_, 0);
        } else {
            Reserve(static_cast<size_t>(from.length_));
            std::memcpy(text_.get() + length_, from.text_.get(), static_cast<size_t>(from.length_) + 1);
            length_ += from.length_;
        }
    }
    from.text_.reset();
    from.capacity_ = from.length_ = 0;
}

ArticleRecord::Editor::Editor(ArticleRecord& record) noexcept
    : record_(record), end_(static_cast<size_t>(record.length_)) {}

void ArticleRecord::Editor::replace(size_t from, size_t to, std::string_view marker) {
    char* buffer = record_.text_.get();
    const size_t kept = from - unread_;
    if (kept != 0 && write_ != shift_ + unread_) std::memmove(buffer + write_, buffer + shift_ + unread_, kept);
    write_ += kept;
    unread_ = from;
    if (write_ + marker.size() > shift_ + to) grow(to, marker.size());
    std::memcpy(record_.text_.get() + write_, marker.data(), marker.size());
    write_ += marker.size();
    unread_ = to;
}

void ArticleRecord::Editor::close() noexcept {
    if (closed_) return;
    closed_ = true;
    char* buffer = record_.text_.get();
    const size_t rest = end_ - unread_;
    if (rest != 0 && write_ != shift_ + unread_) std::memmove(buffer + write_, buffer + shift_ + unread_, rest);
    record_.length_ = static_cast<int32_t>(write_ + rest);
    buffer[record_.length_] = '\0';
}

// A new buffer with the output at its start and the unread text from `to` on
// at its very end, so the gap between them takes the marker and the growth
// that comes with it leaves room for later markers too.
void ArticleRecord::Editor::grow(size_t to, size_t marker_size) {
    const size_t capacity = static_cast<size_t>(record_.capacity_);
    const size_t needed = write_ + marker_size + (end_ - to) + 1;
    if (needed > kMaxCapacity) throw std::bad_alloc();
    const size_t grown = std::min(kMaxCapacity, std::max({needed, capacity + kGrowthStep, capacity + capacity / 2}));
    std::unique_ptr<char[]> bigger(new char[grown]);
    std::memcpy(bigger.get(), record_.text_.get(), write_);
    const size_t shift = grown - 1 - end_;
    std::memcpy(bigger.get() + shift + to, record_.text_.get() + shift_ + to, end_ - to);
    record_.text_ = std::move(bigger);
    record_.capacity_ = static_cast<int32_t>(grown);
    shift_ = shift;
}

}  // namespace quillnet

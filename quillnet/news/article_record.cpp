#include "quillnet/news/article_record.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace quillnet {
namespace {
constexpr size_t kGrowthStep = 65536;
constexpr size_t kMaxCapacity = static_cast<size_t>(std::numeric_limits<int32_t>::max());
}  // namespace

ArticleRecord::ArticleRecord(const ArticleRecord& other) { *this = other; }

ArticleRecord& ArticleRecord::operator=(const ArticleRecord& other) {
    if (this == &other) return *this;
    std::unique_ptr<char[]> copy;
    if (other.text) {
        copy.reset(new char[static_cast<size_t>(other.capacity)]);
        std::memcpy(copy.get(), other.text.get(), static_cast<size_t>(other.length) + 1);
    }
    text = std::move(copy);
    capacity = other.text ? other.capacity : 0;
    length = other.text ? other.length : 0;
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
    return *this;
}

void ArticleRecord::Reset() {
    text.reset();
    capacity = length = number = lines = attachmentCount = 0;
    subject.clear();
    from.clear();
    date.clear();
    newsgroups.clear();
    replyTo.clear();
    attachments.clear();
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
    if (!text) {
        // First allocation sized from the overview, so most bodies fit at once.
        size_t first = 0;
        if (size > 0) first = static_cast<size_t>(size) + 81;
        else if (lines > 0) first = static_cast<size_t>(lines) * 81;
        first = std::max<size_t>(first, 1);
        if (first > kMaxCapacity) first = kMaxCapacity;
        text.reset(new char[first]);
        text[0] = '\0';
        capacity = static_cast<int32_t>(first);
        length = 0;
    }
    const size_t used = static_cast<size_t>(length);
    if (extra > kMaxCapacity || used + extra + 1 > kMaxCapacity) throw std::bad_alloc();
    const size_t need = used + extra + 1;
    if (need <= static_cast<size_t>(capacity)) return;
    const size_t cap = static_cast<size_t>(capacity);
    size_t grown = std::max({need, cap + kGrowthStep, cap + cap / 2});
    grown = std::min(grown, kMaxCapacity);
    std::unique_ptr<char[]> bigger(new char[grown]);
    std::memcpy(bigger.get(), text.get(), used + 1);
    text = std::move(bigger);
    capacity = static_cast<int32_t>(grown);
}

void ArticleRecord::AppendLine(std::string_view line) {
    Reserve(line.size() + 1);
    char* end = text.get() + length;
    std::memcpy(end, line.data(), line.size());
    end[line.size()] = '\n';
    end[line.size() + 1] = '\0';
    length += static_cast<int32_t>(line.size() + 1);
}

void ArticleRecord::AddAttachment(std::string_view entry) {
    ++attachmentCount;
    attachments.append(entry);
    attachments.push_back('\n');
}

}  // namespace quillnet

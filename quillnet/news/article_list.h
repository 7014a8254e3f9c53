// The article list a page fills from an overview listing and reads back
// sorted: plain C++, no COM.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillnet {

struct ArticleEntry {
    int32_t id = 0;
    int32_t size = 0;
    std::string subject;  // ANSI code page bytes
    // For the thread order: the article's Message-ID, the one it answers
    // (the last of its References) and its date in seconds since 1970 UTC.
    std::string messageId;
    std::string parentId;
    int64_t time = 0;
    bool dated = false;
    int32_t depth = 0;  // replies above the thread's first article, after sort(3)
};

class ArticleEntryList {
  public:
    void add(int32_t id, int32_t size, std::string subject);
    // An entry that also knows its place in a thread: its Message-ID, its
    // References and its Date header text.
    void add_article(int32_t id, int32_t size, std::string subject, std::string_view messageId,
                     std::string_view references, std::string_view date);
    // 0 id, 1 size, 2 subject (byte order), 3 threads; any other key leaves
    // the order.
    // Threads: an article follows the one its last reference names when
    // that one is in the list, else it starts a thread of its own; threads
    // and the replies to one article are in date order (undated ones after
    // the dated, then by id). References that run in a circle are cut
    // where the oldest article hanging on them meets the circle: that
    // article of the circle starts the thread, and every entry is kept.
    void sort(int key);

    int32_t size() const noexcept { return static_cast<int32_t>(entries_.size()); }
    int32_t lowest_id() const noexcept { return lowest_; }
    int32_t highest_id() const noexcept { return highest_; }
    // Out-of-range positions give -1 (numbers) or "N/A" (texts).
    int32_t id_at(int position) const noexcept;
    int32_t size_at(int position) const noexcept;
    std::string subject_at(int position) const;
    std::string size_text_at(int position) const;
    // The depth of the entry in its thread after sort(3) (0 for the first
    // article of a thread, and after the other sorts); -1 out of range.
    int32_t depth_at(int position) const noexcept;

  private:
    void thread();
    bool valid(int position) const noexcept { return position >= 0 && position < size(); }

    std::vector<ArticleEntry> entries_;
    int32_t highest_ = -1;
    int32_t lowest_ = -1;
};

// "1023b", "1k", "4m": truncating divisions by 1024.
std::string short_size_text(int32_t size);

// An RFC 5322 date-time ("Mon, 01 Jan 2024 12:00:00 +0000", the day name
// and the seconds optional, old zone names and two-digit years read as RFC
// 5322 4.3 says) as seconds since 1970 UTC; false when it is not one.
bool parse_article_date(std::string_view text, int64_t& seconds);

}  // namespace quillnet

// The article list a page fills from an overview listing and reads back
// sorted: plain C++, no COM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillnet {

struct ArticleEntry {
    int32_t id = 0;
    int32_t size = 0;
    std::string subject;  // ANSI code page bytes
};

class ArticleEntryList {
  public:
    void add(int32_t id, int32_t size, std::string subject);
    // 0 id, 1 size, 2 subject (byte order); any other key leaves the order.
    void sort(int key);

    int32_t size() const noexcept { return static_cast<int32_t>(entries_.size()); }
    int32_t lowest_id() const noexcept { return lowest_; }
    int32_t highest_id() const noexcept { return highest_; }
    // Out-of-range positions give -1 (numbers) or "N/A" (texts).
    int32_t id_at(int position) const noexcept;
    int32_t size_at(int position) const noexcept;
    std::string subject_at(int position) const;
    std::string size_text_at(int position) const;

  private:
    bool valid(int position) const noexcept { return position >= 0 && position < size(); }

    std::vector<ArticleEntry> entries_;
    int32_t highest_ = -1;
    int32_t lowest_ = -1;
};

// "1023b", "1k", "4m": truncating divisions by 1024.
std::string short_size_text(int32_t size);

}  // namespace quillnet

#include "quillnet/news/article_list.h"

#include <algorithm>
#include <cstring>

namespace quillnet {

void ArticleEntryList::add(int32_t id, int32_t size, std::string subject) {
    // -1 doubles as "none collected", so an added -1 is replaced by the next id.
    if (lowest_ == -1 || id < lowest_) lowest_ = id;
    if (highest_ == -1 || id > highest_) highest_ = id;
    entries_.push_back(ArticleEntry{id, size, std::move(subject)});
}

void ArticleEntryList::sort(int key) {
    switch (key) {
        case 0:
            std::sort(entries_.begin(), entries_.end(),
                      [](const ArticleEntry& a, const ArticleEntry& b) { return a.id < b.id; });
            break;
        case 1:
            std::sort(entries_.begin(), entries_.end(),
                      [](const ArticleEntry& a, const ArticleEntry& b) { return a.size < b.size; });
            break;
        case 2:
            // Byte order of the ANSI text, as strcmp: capitals before small letters.
            std::sort(entries_.begin(), entries_.end(), [](const ArticleEntry& a, const ArticleEntry& b) {
                return std::strcmp(a.subject.c_str(), b.subject.c_str()) < 0;
            });
            break;
        default:
            break;
    }
}

int32_t ArticleEntryList::id_at(int position) const noexcept {
    return valid(position) ? entries_[static_cast<size_t>(position)].id : -1;
}

int32_t ArticleEntryList::size_at(int position) const noexcept {
    return valid(position) ? entries_[static_cast<size_t>(position)].size : -1;
}

std::string ArticleEntryList::subject_at(int position) const {
    return valid(position) ? entries_[static_cast<size_t>(position)].subject : std::string("N/A");
}

std::string ArticleEntryList::size_text_at(int position) const {
    return valid(position) ? short_size_text(entries_[static_cast<size_t>(position)].size) : std::string("N/A");
}

std::string short_size_text(int32_t size) {
    if (size < 1024) return std::to_string(size) + "b";
    if (size < 1048576) return std::to_string(size / 1024) + "k";
    return std::to_string(size / 1024 / 1024) + "m";
}

}  // namespace quillnet

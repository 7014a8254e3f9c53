#include "quillnet/news/article_list.h"

#include <algorithm>
#include <cstring>
#include <tuple>
#include <unordered_map>

#include "frame/ascii.h"

namespace quillnet {

void ArticleEntryList::add(int32_t id, int32_t size, std::string subject) {
    // -1 doubles as "none collected", so an added -1 is replaced by the next id.
    if (lowest_ == -1 || id < lowest_) lowest_ = id;
    if (highest_ == -1 || id > highest_) highest_ = id;
    entries_.push_back(ArticleEntry{id, size, std::move(subject)});
}

void ArticleEntryList::add_article(int32_t id, int32_t size, std::string subject, std::string_view messageId,
                                   std::string_view references, std::string_view date) {
    add(id, size, std::move(subject));
    ArticleEntry& e = entries_.back();
    e.messageId.assign(frame::ascii::trim(messageId));
    // The last word of the References is the article answered.
    references = frame::ascii::trim(references);
    size_t start = references.size();
    while (start > 0 && !frame::ascii::is_blank(references[start - 1])) --start;
    e.parentId.assign(references.substr(start));
    e.dated = parse_article_date(date, e.time);
}

void ArticleEntryList::sort(int key) {
    if (key >= 0 && key <= 2)
        for (ArticleEntry& e : entries_) e.depth = 0;
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
        case 3:
            thread();
            break;
        default:
            break;
    }
}

// Iterative throughout: a chain of any depth costs heap, never stack.
void ArticleEntryList::thread() {
    const size_t n = entries_.size();
    std::unordered_map<std::string_view, size_t> byId;
    for (size_t i = 0; i < n; ++i)
        if (!entries_[i].messageId.empty()) byId.emplace(entries_[i].messageId, i);  // the first of a duplicate id
    std::vector<size_t> parent(n, n);
    for (size_t i = 0; i < n; ++i) {
        const auto hit = entries_[i].parentId.empty() ? byId.end() : byId.find(entries_[i].parentId);
        if (hit != byId.end() && hit->second != i) parent[i] = hit->second;
    }
    auto earlier = [this](size_t a, size_t b) {
        const ArticleEntry& x = entries_[a];
        const ArticleEntry& y = entries_[b];
        return std::make_tuple(!x.dated, x.dated ? x.time : 0, x.id, a) <
               std::make_tuple(!y.dated, y.dated ? y.time : 0, y.id, b);
    };
    std::vector<std::vector<size_t>> children(n);
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), earlier);
    // In date order, so every list of replies comes out sorted.
    for (size_t i : order)
        if (parent[i] != n) children[parent[i]].push_back(i);

    // Walks a thread depth first, replies in date order, calling visit(at,
    // depth) once for each entry not placed yet.
    std::vector<bool> placed(n, false);
    std::vector<std::pair<size_t, int32_t>> stack;
    auto walk = [&](size_t root, auto&& visit) {
        stack.emplace_back(root, 0);
        while (!stack.empty()) {
            const auto [at, depth] = stack.back();
            stack.pop_back();
            if (placed[at]) continue;
            placed[at] = true;
            visit(at, depth);
            for (auto c = children[at].rbegin(); c != children[at].rend(); ++c)
                if (!placed[*c]) stack.emplace_back(*c, depth + 1);
        }
    };
    auto nothing = [](size_t, int32_t) {};
    for (size_t i : order)
        if (parent[i] == n) walk(i, nothing);
    // What no thread reached hangs on a loop. From its oldest article, go up
    // to the first article met twice: it lies on the loop, and becomes the
    // first article of a thread.
    std::vector<size_t> seen(n, n);
    for (size_t i : order) {
        if (placed[i]) continue;
        size_t at = i;
        while (seen[at] != i) {
            seen[at] = i;
            at = parent[at];
        }
        parent[at] = n;
        walk(at, nothing);
    }
    // Now every entry belongs to a thread: place them, threads in date order.
    std::fill(placed.begin(), placed.end(), false);
    std::vector<ArticleEntry> sorted;
    sorted.reserve(n);
    for (size_t i : order) {
        if (parent[i] != n) continue;
        walk(i, [&](size_t at, int32_t depth) {
            sorted.push_back(std::move(entries_[at]));
            sorted.back().depth = depth;
        });
    }
    entries_ = std::move(sorted);
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

int32_t ArticleEntryList::depth_at(int position) const noexcept {
    return valid(position) ? entries_[static_cast<size_t>(position)].depth : -1;
}

namespace {

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

struct DateReader {
    std::string_view s;
    size_t i = 0;
    void blanks() {
        while (i < s.size() && (frame::ascii::is_space(s[i]))) ++i;
    }
    bool number(size_t min, size_t max, int64_t& v) {
        const size_t start = i;
        v = 0;
        while (i < s.size() && frame::ascii::is_digit(s[i]) && i - start < max) v = v * 10 + (s[i++] - '0');
        return i - start >= min;
    }
    std::string_view word() {
        const size_t start = i;
        while (i < s.size() && frame::ascii::is_alpha(s[i])) ++i;
        return s.substr(start, i - start);
    }
    bool take(char c) {
        if (i < s.size() && s[i] == c) return ++i, true;
        return false;
    }
};

}  // namespace

bool parse_article_date(std::string_view text, int64_t& seconds) {
    static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    DateReader r{text};
    r.blanks();
    if (r.i < text.size() && frame::ascii::is_alpha(text[r.i])) {  // the day name
        r.word();
        r.blanks();
        if (!r.take(',')) return false;
        r.blanks();
    }
    int64_t day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (!r.number(1, 2, day)) return false;
    r.blanks();
    const std::string_view monthName = r.word();
    unsigned month = 0;
    for (unsigned m = 0; m < 12; ++m)
        if (frame::ascii::equals_nocase(monthName, kMonths[m])) month = m + 1;
    if (month == 0) return false;
    r.blanks();
    const size_t yearStart = r.i;
    if (!r.number(2, 4, year)) return false;
    if (r.i - yearStart == 2) year += year < 50 ? 2000 : 1900;
    else if (r.i - yearStart == 3) year += 1900;
    r.blanks();
    if (!r.number(1, 2, hour) || !r.take(':') || !r.number(2, 2, minute)) return false;
    if (r.take(':') && !r.number(2, 2, second)) return false;
    if (day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return false;
    r.blanks();
    int64_t offset = 0;  // minutes east of UTC; an unknown zone counts as UTC
    if (r.i < text.size() && (text[r.i] == '+' || text[r.i] == '-')) {
        const bool west = text[r.i++] == '-';
        int64_t hhmm = 0;
        if (!r.number(4, 4, hhmm)) return false;
        offset = (hhmm / 100) * 60 + hhmm % 100;
        if (west) offset = -offset;
    } else {
        static constexpr std::pair<std::string_view, int> kZones[] = {
            {"est", -5}, {"edt", -4}, {"cst", -6}, {"cdt", -5}, {"mst", -7}, {"mdt", -6}, {"pst", -8}, {"pdt", -7}};
        const std::string_view zone = r.word();
        for (const auto& [name, hours] : kZones)
            if (frame::ascii::equals_nocase(zone, name)) offset = hours * 60;
    }
    seconds = days_from_civil(year, month, static_cast<unsigned>(day)) * 86400 + hour * 3600 + minute * 60 + second -
              offset * 60;
    return true;
}

std::string short_size_text(int32_t size) {
    if (size < 1024) return std::to_string(size) + "b";
    if (size < 1048576) return std::to_string(size / 1024) + "k";
    return std::to_string(size / 1024 / 1024) + "m";
}

}  // namespace quillnet

// Article building for POST: see news_article.h.
#include "quillnet/engine/news_article.h"

#include <algorithm>

#include "frame/ascii.h"
#include "quillnet/engine/mime_part.h"
#include "quillnet/engine/news_client.h"
#include "quillnet/engine/scan.h"

namespace quillnet::engine {
namespace {

using frame::ascii::is_alpha;
using frame::ascii::is_blank;
using frame::ascii::is_digit;
using frame::ascii::trim;

constexpr size_t kFoldAt = 78;      // RFC 5322's "should" for header lines
constexpr size_t kMaxLine = 998;    // RFC 5536's "must" for every line
constexpr size_t kMaxMessageId = 250;  // RFC 3977 3.6

bool is_ascii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A control byte in a header text would end the header early or start one
// of the page's choosing; a tab is a blank.
bool has_control(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7f;
    });
}

// RFC 5536 3.1.4: component *("." component), component-char = ALPHA /
// DIGIT / "+" / "-" / "_".
bool valid_newsgroup(std::string_view name) {
    if (name.empty() || name.front() == '.' || name.back() == '.') return false;
    char previous = 0;
    for (char c : name) {
        if (c == '.') {
            if (previous == '.') return false;
        } else if (!is_alpha(c) && !is_digit(c) && c != '+' && c != '-' && c != '_') {
            return false;
        }
        previous = c;
    }
    return true;
}

// The list without the blanks around its commas; false for an empty list, an
// empty item or an item that is no group name.
bool normalize_newsgroups(std::string_view list, std::string& out) {
    out.clear();
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        const std::string_view item = trim(list.substr(start, comma == std::string_view::npos ? comma : comma - start));
        if (!valid_newsgroup(item)) return false;
        if (!out.empty()) out += ',';
        out.append(item);
        if (comma == std::string_view::npos) return true;
        start = comma + 1;
    }
}

bool valid_message_id(std::string_view id) {
    if (id.size() < 5 || id.size() > kMaxMessageId || id.front() != '<' || id.back() != '>') return false;
    const std::string_view inner = id.substr(1, id.size() - 2);
    const size_t at = inner.find('@');
    if (at == 0 || at == std::string_view::npos || at + 1 == inner.size()) return false;
    return std::all_of(inner.begin(), inner.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7f && c != '<' && c != '>';
    });
}

// "Name: value" with line breaks put before blanks wherever a line would pass
// 78 characters and a blank allows it. Unfolding (removing each CRLF) gives
// the value back as it was.
void append_folded(std::string& out, std::string_view name, std::string_view value) {
    out.append(name).append(": ");
    size_t line = name.size() + 2;
    size_t pos = 0;
    while (pos < value.size()) {
        // The next word with the blanks before it.
        size_t end = pos;
        while (end < value.size() && is_blank(value[end])) ++end;
        while (end < value.size() && !is_blank(value[end])) ++end;
        const std::string_view piece = value.substr(pos, end - pos);
        if (pos > 0 && line + piece.size() > kFoldAt && is_blank(piece.front())) {
            out += "\r\n";
            line = 0;
        }
        out.append(piece);
        line += piece.size();
        pos = end;
    }
    out += "\r\n";
}

// Encoded words in the texts' charset; UTF-8 as Q or B, whichever is shorter.
std::string words_of(std::string_view text, const PostStamp& stamp, size_t first_used) {
    if (stamp.codePage == 65001) return encode_words_utf8(text, first_used);
    return encode_words(text, stamp.charset, stamp.codePage, first_used);
}

// A text header: as it is when it is ASCII and fits a line, else as encoded
// words (which also keeps a literal "=?" from being read as one).
void append_text_header(std::string& out, std::string_view name, std::string_view text, const PostStamp& stamp) {
    if (is_ascii(text) && text.size() + name.size() + 2 <= kMaxLine && text.find("=?") == std::string_view::npos) {
        append_folded(out, name, text);
        return;
    }
    out.append(name).append(": ");
    out += words_of(text, stamp, name.size() + 2);
    out += "\r\n";
}

// From: an address with a display name beyond ASCII gets the name as
// encoded words, the address as it is.
// An ASCII From goes as it is, whatever it holds: encoding it would make
// the address unreadable.
void append_from(std::string& out, std::string_view from, const PostStamp& stamp) {
    const size_t open = from.rfind('<');
    if (is_ascii(from)) {
        append_folded(out, "From", from);
        return;
    }
    if (open == std::string_view::npos) {
        append_text_header(out, "From", from, stamp);
        return;
    }
    std::string_view name = trim(from.substr(0, open));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    out += "From: ";
    if (!name.empty()) out += words_of(name, stamp, 6) + " ";
    out.append(from.substr(open));
    out += "\r\n";
}

}  // namespace

std::string_view from_mailbox(std::string_view from) {
    const size_t open = from.rfind('<');
    if (open != std::string_view::npos) {
        const size_t close = from.find('>', open);
        if (close != std::string_view::npos) return trim(from.substr(open + 1, close - open - 1));
    }
    return trim(from);
}

bool split_references(std::string_view text, std::vector<std::string_view>& ids) {
    ids.clear();
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_blank(text[i])) ++i;
        if (i >= text.size()) break;
        const size_t start = i;
        while (i < text.size() && !is_blank(text[i])) ++i;
        const std::string_view id = text.substr(start, i - start);
        if (!valid_message_id(id)) return false;
        ids.push_back(id);
    }
    return true;
}

std::string trim_references(const std::vector<std::string_view>& ids, size_t limit) {
    constexpr size_t kName = 12;  // "References: "
    size_t total = kName;
    for (std::string_view id : ids) total += id.size() + 1;
    // Every id fits: nothing to drop.
    std::vector<bool> keep(ids.size(), total - 1 <= limit);
    if (!ids.empty() && total - 1 > limit) {
        // The first id, then the ids from the last one back while they fit.
        keep[0] = true;
        size_t used = kName + ids[0].size();
        for (size_t i = ids.size() - 1; i > 0; --i) {
            if (used + 1 + ids[i].size() > limit) break;
            used += 1 + ids[i].size();
            keep[i] = true;
        }
    }
    std::string out;
    for (size_t i = 0; i < ids.size(); ++i) {
        if (!keep[i]) continue;
        if (!out.empty()) out += ' ';
        out.append(ids[i]);
    }
    return out;
}

int build_post(const NewPost& post, const PostStamp& stamp, std::string& out, std::string& why) {
    if (has_control(post.from) || has_control(post.newsgroups) || has_control(post.subject) ||
        has_control(post.references)) {
        why = "A header text holds a line break or another control character";
        return kNewsHeaderLineBreak;
    }
    const std::string_view from = trim(post.from);
    if (from.empty()) {
        why = "The article has no sender (From)";
        return kNewsEmptyFrom;
    }
    const std::string_view subject = trim(post.subject);
    if (subject.empty()) {
        why = "The article has no subject";
        return kNewsEmptySubject;
    }
    std::string newsgroups;
    if (!normalize_newsgroups(post.newsgroups, newsgroups)) {
        why = "The newsgroups are not a comma-separated list of group names";
        return kNewsBadNewsgroups;
    }
    std::vector<std::string_view> ids;
    if (!split_references(post.references, ids)) {
        why = "The references are not message-ids separated by blanks";
        return kNewsBadReferences;
    }
    if (post.body.find('\0') != std::string_view::npos) {
        why = "The text holds a zero byte, where news servers would cut the article off";
        return kNewsBodyZeroByte;
    }
    size_t longest = 0;
    for_each_line(post.body, [&](std::string_view line) { longest = std::max(longest, line.size()); });
    if (longest > kMaxLine) {
        why = "A line of the text is longer than 998 bytes";
        return kNewsBodyLineTooLong;
    }

    std::string a;
    a.reserve(post.body.size() + post.body.size() / 32 + 1024);
    append_from(a, from, stamp);
    append_folded(a, "Newsgroups", newsgroups);
    append_text_header(a, "Subject", subject, stamp);
    a += "Date: " + stamp.date + "\r\n";
    a += "Message-ID: " + stamp.messageId + "\r\n";
    if (!ids.empty()) append_folded(a, "References", trim_references(ids));
    a += "MIME-Version: 1.0\r\n";
    a += "Content-Type: text/plain; charset=\"" + stamp.charset + "\"\r\n";
    a += std::string("Content-Transfer-Encoding: ") + (is_ascii(post.body) ? "7bit" : "8bit") + "\r\n";
    // A From or Newsgroups text without a blank to fold at can still make a
    // line no server takes.
    for (size_t pos = 0, eol; (eol = a.find("\r\n", pos)) != std::string::npos; pos = eol + 2) {
        if (eol - pos > kMaxLine) {
            why = "A header text is too long to be sent";
            return kNewsHeaderTooLong;
        }
    }
    a += "\r\n";
    for_each_line(post.body, [&](std::string_view line) {
        a.append(line);
        a += "\r\n";
    });
    out = std::move(a);
    return 0;
}

}  // namespace quillnet::engine

// The article POST sends, from five page texts cut out of the input at 0x1F
// bytes (from, newsgroups, subject, body, references): either a refusal
// that leaves the output alone, or an article whose every line ends in CR LF
// and holds at most 998 bytes, whose headers unfold and decode back to the
// texts given, and whose body has the given lines, in order.
#include <string>
#include <vector>

#include "check.h"
#include "frame/ascii.h"
#include "quillnet/engine/mime_part.h"
#include "quillnet/engine/news_article.h"
#include "quillnet/engine/scan.h"

using namespace quillnet::engine;
using frame::ascii::trim;

namespace {

struct Header {
    std::string name, value;
};

// The header block unfolded, and the body's lines; false when a line does
// not end in CR LF or is longer than 998 bytes.
bool split_article(std::string_view a, std::vector<Header>& headers, std::vector<std::string_view>& body) {
    size_t pos = 0;
    bool inBody = false;
    while (pos < a.size()) {
        const size_t eol = a.find("\r\n", pos);
        if (eol == std::string_view::npos) return false;
        const std::string_view line = a.substr(pos, eol - pos);
        if (line.size() > 998 || line.find_first_of("\r\n") != std::string_view::npos) return false;
        pos = eol + 2;
        if (inBody) {
            body.push_back(line);
        } else if (line.empty()) {
            inBody = true;
        } else if (line.front() == ' ' || line.front() == '\t') {
            if (headers.empty()) return false;
            headers.back().value.append(line);
        } else {
            const size_t colon = line.find(": ");
            if (colon == std::string_view::npos) return false;
            headers.push_back({std::string(line.substr(0, colon)), std::string(line.substr(colon + 2))});
        }
    }
    return inBody;
}

const std::string* find(const std::vector<Header>& headers, std::string_view name) {
    const std::string* hit = nullptr;
    for (const Header& h : headers)
        if (h.name == name) {
            FUZZ_CHECK(!hit);  // every header once
            hit = &h.value;
        }
    return hit;
}

bool ascii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text_of(data, size);
    std::string_view field[5];
    size_t start = 0;
    for (int i = 0; i < 5; ++i) {
        const size_t cut = i < 4 ? in.find('\x1f', start) : std::string_view::npos;
        field[i] = in.substr(start, cut == std::string_view::npos ? std::string_view::npos : cut - start);
        start = cut == std::string_view::npos ? in.size() : cut + 1;
    }
    const NewPost post{field[0], field[1], field[2], field[3], field[4]};
    const PostStamp stamp{"Mon, 01 Jan 2024 00:00:00 +0000", "<fuzz.1@example.invalid>", "windows-1252", 0};
    std::string out = "unchanged", why;
    if (build_post(post, stamp, out, why) != 0) {
        FUZZ_CHECK(out == "unchanged" && !why.empty());
        return 0;
    }
    std::vector<Header> headers;
    std::vector<std::string_view> body;
    FUZZ_CHECK(split_article(out, headers, body));

    const std::string* from = find(headers, "From");
    FUZZ_CHECK(from && (!ascii(post.from) || *from == trim(post.from)));
    const std::string* groups = find(headers, "Newsgroups");
    std::string given;
    for (char c : post.newsgroups)
        if (c != ' ' && c != '\t') given += c;
    FUZZ_CHECK(groups && *groups == given);
    const std::string* subject = find(headers, "Subject");
    FUZZ_CHECK(subject && decode_encoded_words(*subject) == trim(post.subject));
    FUZZ_CHECK(find(headers, "Date") && find(headers, "Message-ID"));
    std::vector<std::string_view> ids, kept;
    FUZZ_CHECK(split_references(post.references, ids));
    const std::string* references = find(headers, "References");
    FUZZ_CHECK(ids.empty() == !references);
    if (references) {
        FUZZ_CHECK(split_references(*references, kept) && !kept.empty());
        FUZZ_CHECK(references->size() + 12 <= 998);
        FUZZ_CHECK(kept.front() == ids.front() && kept.back() == ids.back());
    }
    std::vector<std::string_view> given_lines;
    for_each_line(post.body, [&](std::string_view line) { given_lines.push_back(line); });
    FUZZ_CHECK(body == given_lines);
    return 0;
}

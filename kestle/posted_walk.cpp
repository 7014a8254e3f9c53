// The walk through a posted body, apart from the saving so that it builds
// without Windows: it only reads, and never outside the span it is given.
#include <array>
#include <cstring>
#include <string>

#include "frame/safe_name.h"
#include "kestle/posted_file.h"

namespace kestle {
namespace {

constexpr size_t npos = static_cast<size_t>(-1);

std::span<const uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// First occurrence of `needle` in hay[from, end). Horspool: the boundary is
// sought through the whole file content, which may be hundreds of megabytes,
// and a long needle lets the search skip most bytes unseen.
size_t find_bytes(std::span<const uint8_t> hay, size_t from, size_t end, std::span<const uint8_t> needle) {
    const size_t n = needle.size();
    if (n == 0 || from > end || end > hay.size() || end - from < n) return npos;
    const uint8_t* h = hay.data();
    if (n == 1) {
        const void* hit = std::memchr(h + from, needle[0], end - from);
        return hit ? static_cast<size_t>(static_cast<const uint8_t*>(hit) - h) : npos;
    }
    std::array<size_t, 256> skip;
    skip.fill(n);
    for (size_t i = 0; i + 1 < n; ++i) skip[needle[i]] = n - 1 - i;
    const uint8_t last = needle[n - 1];
    for (size_t pos = from; pos + n <= end;) {
        const uint8_t c = h[pos + n - 1];
        if (c == last && std::memcmp(h + pos, needle.data(), n - 1) == 0) return pos;
        pos += skip[c];
    }
    return npos;
}

size_t find_bytes(std::span<const uint8_t> hay, size_t from, std::string_view needle) {
    return find_bytes(hay, from, hay.size(), bytes_of(needle));
}

// The search that skips a part which is not a file: it treats the body as
// text, so it ends at the first zero byte as well as at the end of the data.
size_t find_text(std::span<const uint8_t> hay, size_t from, std::span<const uint8_t> needle) {
    if (from >= hay.size()) return npos;
    const void* zero = std::memchr(hay.data() + from, 0, hay.size() - from);
    const size_t end = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - hay.data()) : hay.size();
    return find_bytes(hay, from, end, needle);
}

std::string after_last_backslash(std::string name) {
    const size_t cut = name.rfind('\\');
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

}  // namespace

PostedWalk walk_posted_body(std::span<const uint8_t> body) {
    PostedWalk walk;
    const size_t size = body.size();
    const size_t lf = find_bytes(body, 0, "\n");
    if (lf == npos) {
        walk.end = WalkEnd::no_line_end;
        return walk;
    }
    const size_t boundary_len = (lf > 0 && body[lf - 1] == '\r') ? lf - 1 : lf;
    if (boundary_len == 0) {
        walk.end = WalkEnd::empty_boundary;
        return walk;
    }
    const auto boundary = body.subspan(0, boundary_len);
    static constexpr uint8_t file_field[] = {'"', 'f', 'i', 'l', 'e', '"'};

    size_t pos = 0;  // always the start of a boundary text
    for (;;) {
        const size_t after = pos + boundary_len;
        if (size - after < 2) {
            walk.end = WalkEnd::no_more_boundary;
            return walk;
        }
        if (body[after] == '-' && body[after + 1] == '-') {
            walk.end = WalkEnd::closing_boundary;
            return walk;
        }
        const size_t disposition = find_bytes(body, pos, "Content-Disposition");
        const size_t name = disposition == npos ? npos : find_bytes(body, disposition, "name=");
        if (name == npos) {
            walk.end = WalkEnd::missing_marker;
            return walk;
        }
        const size_t field = name + 5;
        const bool is_file = size - field >= sizeof file_field &&
                             std::memcmp(body.data() + field, file_field, sizeof file_field) == 0;
        if (!is_file) {
            pos = find_text(body, name, boundary);
            if (pos == npos) {
                walk.end = WalkEnd::no_more_boundary;
                return walk;
            }
            continue;
        }

        const size_t filename = find_bytes(body, name, "filename=");
        const size_t name_begin = filename == npos ? npos : filename + 10;
        const size_t name_end = (name_begin == npos || name_begin > size) ? npos : find_bytes(body, name_begin, "\"");
        if (name_end == npos) {
            walk.end = WalkEnd::missing_marker;
            return walk;
        }
        PostedFilePart part;
        part.name = after_last_backslash(
            std::string(reinterpret_cast<const char*>(body.data() + name_begin), name_end - name_begin));

        // The content starts after the Content-Type line and the empty line
        // that closes the part's headers.
        const size_t type = find_bytes(body, filename, "Content-Type:");
        const size_t type_end = type == npos ? npos : find_bytes(body, type, "\n");
        const size_t content = type_end == npos ? npos : type_end + 3;
        // A boundary counts only where two more bytes follow it ("--" or a line end).
        const size_t match =
            (content == npos || content > size || size < 2) ? npos : find_bytes(body, content, size - 2, boundary);
        if (match == npos) {
            walk.files.push_back(std::move(part));
            walk.end = WalkEnd::incomplete_file;
            return walk;
        }
        part.content_begin = content;
        part.content_end = match >= content + 2 ? match - 2 : content;
        part.complete = true;
        walk.files.push_back(std::move(part));
        pos = match;
    }
}

std::string safe_posted_name(std::string_view posted) {
    return frame::safe_name(posted, frame::NameSource::plain_name);
}

}  // namespace kestle

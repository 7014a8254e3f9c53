// Reading a stored copy into an article (store_files.h): plain C++, over
// whatever StoredCopy hands out.
#include <memory>
#include <string>

#include "quillnet/news/article_text.h"
#include "quillnet/news/store_files.h"

namespace quillnet {
namespace {

constexpr std::string_view kMarker = kAttachmentMarker;

void take_stored_line(std::string_view line, ArticleRecord& article) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.substr(0, kMarker.size()) == kMarker) article.AddAttachment(line.substr(kMarker.size()));
    article.AppendLine(line);
}

}  // namespace

void read_stored_copy(StoredCopy& copy, ArticleRecord& article) {
    constexpr size_t kChunk = 64 * 1024;
    const std::unique_ptr<char[]> chunk(new char[kChunk]);
    std::string partial;  // a line that runs on into the next chunk
    for (;;) {
        size_t got = 0;
        if (!copy.read(chunk.get(), kChunk, got)) return;
        if (got == 0) break;
        const std::string_view data(chunk.get(), got);
        size_t pos = 0;
        for (size_t lf; (lf = data.find('\n', pos)) != std::string_view::npos; pos = lf + 1) {
            const std::string_view piece = data.substr(pos, lf - pos);
            if (partial.empty()) {
                take_stored_line(piece, article);
            } else {
                partial.append(piece);
                take_stored_line(partial, article);
                partial.clear();
            }
        }
        partial.append(data.substr(pos));
    }
    if (!partial.empty()) take_stored_line(partial, article);
}

}  // namespace quillnet

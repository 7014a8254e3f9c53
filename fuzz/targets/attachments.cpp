// Attachment extraction over a whole article body, with files kept in
// memory: every file it makes lies in the group folder under a plain name
// (no separator, no drive, no device name), each listed attachment has its
// marker line in the text, the stored copy is the text left, and that text
// never grows beyond the body plus its marker lines.
#include <map>
#include <memory>
#include <string>

#include "check.h"
#include "quillnet/news/article_decode.h"
#include "quillnet/news/article_record.h"
#include "quillnet/news/article_text.h"

using quillnet::ArticleRecord;

namespace {

const std::string kRoot = "C:\\www\\";
const std::string kGroup = "news\\alt\\binaries\\";
constexpr std::string_view kMarker = quillnet::kAttachmentMarker;

class MemoryFiles final : public quillnet::FileSink {
  public:
    class File final : public quillnet::NewFile {
      public:
        File(MemoryFiles& owner, std::string path) : owner_(owner), path_(std::move(path)) {}
        bool write(const char* bytes, size_t count) override {
            bytes_.append(bytes, count);
            return true;
        }
        bool commit() override {
            owner_.files[path_] = std::move(bytes_);
            return true;
        }

      private:
        MemoryFiles& owner_;
        std::string path_;
        std::string bytes_;
    };

    std::unique_ptr<quillnet::NewFile> create(const std::string& path) override {
        FUZZ_CHECK(path.compare(0, kRoot.size() + kGroup.size(), kRoot + kGroup) == 0);
        const std::string name = path.substr(kRoot.size() + kGroup.size());
        FUZZ_CHECK(fuzz::plain_name(name));
        return std::make_unique<File>(*this, path);
    }

    std::map<std::string, std::string> files;
};

size_t count_of(std::string_view text, std::string_view needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view body = fuzz::text_of(data, size);
    ArticleRecord record;
    record.number = 4711;
    // Line by line, as the news client fills a record.
    for (size_t at = 0; at < body.size();) {
        const size_t nl = body.find('\n', at);
        const size_t end = nl == std::string_view::npos ? body.size() : nl;
        record.AppendLine(body.substr(at, end - at));
        at = end + 1;
    }
    const std::string before(record.body());

    MemoryFiles files;
    const int32_t result = quillnet::decode_attachments(record, kRoot, kGroup, files);
    if (before.empty()) {
        FUZZ_CHECK(result == -1 && files.files.empty());
        return 0;
    }
    FUZZ_CHECK(result == 0);
    const std::string_view after = record.body();
    FUZZ_CHECK(record.text()[after.size()] == '\0');

    // Every listed attachment: a file made, a marker line in the text.
    size_t markers = 0;
    size_t listed = 0;
    std::string_view list = record.attachments;
    while (!list.empty()) {
        const size_t nl = list.find('\n');
        FUZZ_CHECK(nl != std::string_view::npos);
        const std::string_view entry = list.substr(0, nl);
        FUZZ_CHECK(entry.size() > 1 + kGroup.size() && entry[0] == '\\' && entry.substr(1, kGroup.size()) == kGroup);
        FUZZ_CHECK(files.files.count(kRoot + std::string(entry.substr(1))) == 1);
        const std::string marker = std::string(kMarker) + std::string(entry) + "\n";
        FUZZ_CHECK(count_of(after, marker) >= 1);
        markers += marker.size();
        ++listed;
        list.remove_prefix(nl + 1);
    }
    FUZZ_CHECK(static_cast<size_t>(record.attachmentCount) == listed);
    FUZZ_CHECK(after.size() <= before.size() + markers);

    const auto stored = files.files.find(kRoot + kGroup + "4711");
    FUZZ_CHECK(stored != files.files.end() && stored->second == after);
    return 0;
}

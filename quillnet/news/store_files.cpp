// The article store's side of attachment extraction: real files through
// the atomic writer. Apart from the extraction itself, which is plain C++
// and also built natively.
#include <windows.h>

#include "frame/atomic_file.h"
#include "frame/text.h"
#include "quillnet/news/article_decode.h"
#include "quillnet/news/file_names.h"

namespace quillnet {

bool write_store_file(const std::string& path, const char* bytes, size_t count) {
    return !frame::write_file_atomically(frame::ansi_to_wide(path), bytes, count);
}

namespace {

class StoreFile final : public NewFile {
  public:
    explicit StoreFile(const std::string& path) : file_(frame::ansi_to_wide(path)) {}
    bool ok() const noexcept { return file_.ok(); }
    bool write(const char* bytes, size_t count) override { return file_.write(bytes, count); }
    bool commit() override { return file_.commit(); }

  private:
    frame::AtomicFile file_;
};

}  // namespace

std::unique_ptr<NewFile> StoreFiles::create(const std::string& path) {
    auto file = std::make_unique<StoreFile>(path);
    if (!file->ok()) return nullptr;
    return file;
}

int32_t ArticleRecord::DecodeAttachments(const std::string& webRoot, const std::string& groupFolder) {
    StoreFiles files;
    return decode_attachments(*this, webRoot, groupFolder, files);
}

int32_t ArticleRecord::WriteWholeFile(const std::string& path, const char* bytes, size_t count) {
    write_store_file(path, bytes, count);
    return 0;
}

}  // namespace quillnet

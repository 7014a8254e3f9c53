// The article store's real files (store_files.h): stored copies read, files
// of attachment extraction and the group list written through the atomic
// writer. What reads and names them is plain C++ and also built natively.
#include "quillnet/news/store_files.h"

#include <windows.h>

#include <algorithm>

#include "frame/atomic_file.h"
#include "frame/handles.h"
#include "frame/text.h"
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

class StoredFile final : public StoredCopy {
  public:
    explicit StoredFile(frame::unique_file file) : file_(std::move(file)) {}
    bool read(char* into, size_t room, size_t& got) override {
        DWORD n = 0;
        const auto ask = static_cast<DWORD>(std::min<size_t>(room, MAXDWORD));
        const bool ok = ::ReadFile(file_.get(), into, ask, &n, nullptr) != 0;
        got = ok ? n : 0;
        return ok;
    }

  private:
    frame::unique_file file_;
};

}  // namespace

std::unique_ptr<StoredCopy> open_stored_copy(const std::string& path) {
    frame::unique_file file(::CreateFileA(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return nullptr;
    return std::make_unique<StoredFile>(std::move(file));
}

struct GroupListFile::State {
    explicit State(const std::string& path) : path(frame::ansi_to_wide(path)), file(this->path) {}
    std::wstring path;
    frame::AtomicFile file;
};

GroupListFile::GroupListFile(const std::string& path) : state_(std::make_unique<State>(path)) {}

GroupListFile::~GroupListFile() = default;

bool GroupListFile::is_open() const noexcept {
    const DWORD attributes = ::GetFileAttributesW(state_->path.c_str());
    return state_->file.ok() && (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY));
}

bool GroupListFile::write(std::string_view a, std::string_view b) {
    frame::AtomicFile& f = state_->file;
    return f.write(a) && f.write(b) && f.write(std::string_view("\r\n"));
}

bool GroupListFile::close() { return state_->file.commit(); }

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

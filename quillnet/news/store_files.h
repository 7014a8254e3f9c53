// The article store's files, as the news side reads and writes them: stored
// copies read chunk by chunk, new files through the atomic writer, the group
// list written whole. store_files.cpp answers with real files; what reads a
// stored copy or names a file is plain C++ and builds natively.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "quillnet/news/article_decode.h"
#include "quillnet/news/article_record.h"

namespace quillnet {

// Files of the store, through the atomic writer.
class StoreFiles final : public FileSink {
  public:
    std::unique_ptr<NewFile> create(const std::string& path) override;
};

// A stored copy open for reading.
class StoredCopy {
  public:
    virtual ~StoredCopy() = default;
    // Up to `room` bytes into `into`; `got` 0 at the end. False on a read
    // error.
    virtual bool read(char* into, size_t room, size_t& got) = 0;
};

// The stored copy at `path` in binary, shared for deleting so that a writer
// can still replace it; null when there is none to open.
std::unique_ptr<StoredCopy> open_stored_copy(const std::string& path);

// Appends the lines of `copy` to the article: CR LF read as LF, as text mode
// reads it, but with our own line splitting, so that a zero byte or a
// Ctrl-Z in a stored text does not end it early. A marker line adds its
// entry to the attachment list and stays in the text. A read error keeps
// the whole lines read so far.
void read_stored_copy(StoredCopy& copy, ArticleRecord& article);

// The group list cache while it is written: line ends go out as CR LF, as
// pages reading the text file expect, and the file appears under its name
// only once closed whole.
class GroupListFile {
  public:
    explicit GroupListFile(const std::string& path);
    ~GroupListFile();
    GroupListFile(const GroupListFile&) = delete;
    GroupListFile& operator=(const GroupListFile&) = delete;
    // Also false when a folder stands under the name: the file could never
    // replace it, and the server need not be asked for a list that cannot
    // be kept.
    bool is_open() const noexcept;
    // `a` and `b` as one line.
    bool write(std::string_view a, std::string_view b);
    // True when everything written reached the file and it replaced the old one.
    bool close();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace quillnet

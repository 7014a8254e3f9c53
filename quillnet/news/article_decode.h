// Attachment extraction behind ArticleRecord::DecodeAttachments, with the
// place the files go as a parameter: the store writes real files, tests and
// the benchmark may keep them in memory or drop them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "quillnet/news/article_record.h"

namespace quillnet {

// A file being written piece by piece; it appears under its name only when
// committed, and a file dropped uncommitted leaves nothing behind.
class NewFile {
  public:
    virtual ~NewFile() = default;
    virtual bool write(const char* bytes, size_t count) = 0;
    virtual bool commit() = 0;
};

class FileSink {
  public:
    virtual ~FileSink() = default;
    // A new file to be written at `path`; null when it cannot be made.
    virtual std::unique_ptr<NewFile> create(const std::string& path) = 0;
};

// What ArticleRecord::DecodeAttachments does, writing through `sink`.
int32_t decode_attachments(ArticleRecord& record, const std::string& webRoot, const std::string& groupFolder,
                           FileSink& sink);

}  // namespace quillnet

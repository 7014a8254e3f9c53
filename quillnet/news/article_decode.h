// Attachment extraction behind ArticleRecord::DecodeAttachments, with the
// place the files go as a parameter: the store writes real files, tests and
// the benchmark may keep them in memory or drop them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "quillnet/news/article_record.h"

namespace quillnet {

class FileSink {
  public:
    virtual ~FileSink() = default;
    // Writes a whole file; false when it could not be written.
    virtual bool write(const std::string& path, const char* bytes, size_t count) = 0;
};

// Files through write_file_replacing.
class StoreFiles final : public FileSink {
  public:
    bool write(const std::string& path, const char* bytes, size_t count) override;
};

// What ArticleRecord::DecodeAttachments does, writing through `sink`.
int32_t decode_attachments(ArticleRecord& record, const std::string& webRoot, const std::string& groupFolder,
                           FileSink& sink);

}  // namespace quillnet

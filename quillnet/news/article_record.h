// One news article as the news session keeps it: overview figures, five
// header texts, the body in a growable buffer, and the attachments found in
// it. Plain C++; strings hold ANSI code page bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quillnet {

class ArticleRecord {
  public:
    ArticleRecord() = default;
    ArticleRecord(const ArticleRecord& other);
    ArticleRecord& operator=(const ArticleRecord& other);
    virtual ~ArticleRecord() = default;

    // Back to the state of a new record: no text, size -1, everything else 0
    // or empty.
    void Reset();
    // Sets exactly the six overview fields; everything else stays.
    void SetOverview(int32_t number, std::string_view subject, std::string_view from, std::string_view date,
                     int32_t size, int32_t lines);
    // Appends the line and "\n". The first call sizes the buffer from the
    // overview (size + 81 bytes, or lines x 81); later growth is geometric so
    // a long body is not copied over and over.
    void AppendLine(std::string_view line);
    // Counts the attachment and appends the entry and "\n" to the list.
    void AddAttachment(std::string_view entry);

    // Cuts attachments out of the body into files in webRoot + groupFolder,
    // leaves a marker line in their place and writes the text as the stored
    // copy named by the article number. -1 for an empty body, else 0.
    int32_t DecodeAttachments(const std::string& webRoot, const std::string& groupFolder);
    // Writes the bytes to a file as a whole; failures are not reported.
    static int32_t WriteWholeFile(const std::string& path, const char* bytes, size_t count);

    std::string_view body() const noexcept {
        return text ? std::string_view(text.get(), static_cast<size_t>(length)) : std::string_view();
    }

    // Ensures room for `extra` more bytes plus the terminating NUL, growing
    // by at least 65,536 bytes and half the capacity. Throws std::bad_alloc
    // when the text would pass the 32-bit length limit.
    void Reserve(size_t extra);

    int32_t capacity = 0;
    int32_t length = 0;
    std::unique_ptr<char[]> text;  // NUL-terminated; null until the first AppendLine
    int32_t number = 0;
    std::string subject;
    std::string from;
    std::string date;
    std::string newsgroups;
    std::string replyTo;
    int32_t lines = 0;
    int32_t size = -1;
    int32_t attachmentCount = 0;
    std::string attachments;
};

}  // namespace quillnet

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
        return text_ ? std::string_view(text_.get(), static_cast<size_t>(length_)) : std::string_view();
    }
    // The body as NUL-terminated text; null until the first AppendLine.
    const char* text() const noexcept { return text_.get(); }
    int32_t length() const noexcept { return length_; }
    int32_t capacity() const noexcept { return capacity_; }

    // Moves the body of `from` to the end of this one (taking its buffer
    // whole when this body is empty); `from` is left without a body.
    void TakeBody(ArticleRecord& from);

    // Ensures room for `extra` more bytes plus the terminating NUL, growing
    // by at least 65,536 bytes and half the capacity. Throws std::bad_alloc
    // when the text would pass the 32-bit length limit.
    void Reserve(size_t extra);

    // The body edited in place by attachment extraction. Positions given to
    // it are positions in the body as it was when the editing began; the
    // text yet to be read keeps them, whatever was replaced before it. The
    // finished body is the output written so far followed by the unread
    // rest; it is whole and consistent again on every way out of the
    // editor's life, exceptions included.
    class Editor {
      public:
        explicit Editor(ArticleRecord& record) noexcept;
        Editor(const Editor&) = delete;
        Editor& operator=(const Editor&) = delete;
        ~Editor() { close(); }

        size_t end() const noexcept { return end_; }
        // The original text by original positions; only what lies at or
        // after the last replaced stretch may be read.
        std::string_view view() const noexcept { return {record_.text_.get() + shift_, end_}; }
        // Replaces the original stretch [from, to) by `marker`; from must not
        // lie before the end of the last stretch replaced.
        void replace(size_t from, size_t to, std::string_view marker);
        void close() noexcept;

      private:
        void grow(size_t to, size_t marker_size);

        ArticleRecord& record_;
        size_t end_;         // original length
        size_t shift_ = 0;   // buffer index of original position 0 of the unread text
        size_t write_ = 0;   // buffer index where the output ends
        size_t unread_ = 0;  // original position where the unread text starts
        bool closed_ = false;
    };

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
    // The article's identity, from the overview or its headers: its
    // Message-ID and its References (the message-ids it follows up).
    std::string messageId;
    std::string references;
    // The Content-Type header as fetched (not part of the overview): the
    // charset the body is read in when the page asks for UTF-8.
    std::string contentType;

  private:
    int32_t capacity_ = 0;
    int32_t length_ = 0;
    std::unique_ptr<char[]> text_;  // NUL-terminated; null until the first AppendLine
};

}  // namespace quillnet

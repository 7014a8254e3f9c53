// What every decoder of the engine shares: the verdict it gives on its input
// and the growable byte buffer it writes into.
//
// The decoders are streaming: they take their input in pieces of any size
// (one byte at a time if need be) and give the same bytes and the same verdict
// as when fed the whole input at once. None of them allocates per byte; they
// grow their output in large steps and keep no callbacks in their inner loops.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace quillnet::engine {

// How a decoder judges the input it was given.
enum class Verdict {
    finished,    // well formed and complete
    incomplete,  // well formed so far, but the input ended early (truncated,
                 // missing end line); what could be decoded was written
    bad_data,    // not this encoding, or broken beyond repair
    bad_size,    // decoded size differs from the size the input announced
    crc_error,   // decoded bytes do not match the checksum the input carried
};

const char* verdict_name(Verdict verdict) noexcept;

// A byte buffer that grows geometrically and never zero-fills, so decoders
// can write straight into its tail.
class ByteBuffer {
  public:
    ByteBuffer() = default;
    ByteBuffer(ByteBuffer&&) noexcept = default;
    ByteBuffer& operator=(ByteBuffer&&) noexcept = default;

    const char* data() const noexcept { return data_.get(); }
    size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::string_view view() const noexcept { return {data_.get(), size_}; }
    // Keeps the memory for the next use.
    void clear() noexcept { size_ = 0; }

    // Room for `count` more bytes behind the end; returns where they go.
    // Throws std::bad_alloc when the memory cannot be had.
    char* tail(size_t count) {
        if (capacity_ - size_ < count) grow(count);
        return data_.get() + size_;
    }
    // Counts `count` bytes written at tail() as part of the buffer.
    void commit(size_t count) noexcept { size_ += count; }
    void append(const char* bytes, size_t count) {
        if (count == 0) return;
        std::memcpy(tail(count), bytes, count);
        size_ += count;
    }
    void append(std::string_view bytes) { append(bytes.data(), bytes.size()); }
    void push_back(char c) {
        *tail(1) = c;
        ++size_;
    }

  private:
    void grow(size_t count);

    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace quillnet::engine

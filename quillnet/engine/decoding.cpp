#include "quillnet/engine/decoding.h"

#include <algorithm>
#include <cstdint>
#include <new>

namespace quillnet::engine {

const char* verdict_name(Verdict verdict) noexcept {
    switch (verdict) {
    case Verdict::finished: return "finished";
    case Verdict::incomplete: return "incomplete";
    case Verdict::bad_data: return "bad data";
    case Verdict::bad_size: return "bad size";
    case Verdict::crc_error: return "CRC error";
    }
    return "unknown";
}

void ByteBuffer::grow(size_t count) {
    if (count > SIZE_MAX / 2 - size_) throw std::bad_alloc();
    const size_t wanted = std::max({size_ + count, capacity_ + capacity_ / 2, size_t{256}});
    std::unique_ptr<char[]> bigger(new char[wanted]);
    if (size_ != 0) std::memcpy(bigger.get(), data_.get(), size_);
    data_ = std::move(bigger);
    capacity_ = wanted;
}

}  // namespace quillnet::engine

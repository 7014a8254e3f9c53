// A decoded picture held as 24-bit pixels (blue, green, red; 3 bytes a pixel,
// rows without padding) in one fixed global-memory block, owned by exactly
// one object and freed with it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "frame/handles.h"

namespace kestle::image {

class PixelBlock {
  public:
    PixelBlock() = default;

    // An empty block when the size is not positive, its byte count does not
    // fit a signed 32-bit number, or memory runs out.
    static PixelBlock allocate(int width, int height) {
        PixelBlock block;
        if (width <= 0 || height <= 0) return block;
        const uint64_t bytes = uint64_t(width) * uint64_t(height) * 3;
        if (bytes > 0x7FFFFFFFu) return block;
        block.memory_.reset(::GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(bytes)));
        if (block.memory_) {
            block.width_ = width;
            block.height_ = height;
        }
        return block;
    }

    explicit operator bool() const noexcept { return static_cast<bool>(memory_); }
    // A fixed block's handle is its address.
    uint8_t* data() const noexcept { return static_cast<uint8_t*>(memory_.get()); }
    int width() const noexcept { return width_; }
    int height() const noexcept { return height_; }
    size_t stride() const noexcept { return size_t(width_) * 3; }
    size_t size() const noexcept { return stride() * size_t(height_); }
    void reset() noexcept { *this = PixelBlock(); }

  private:
    frame::unique_hglobal memory_;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace kestle::image

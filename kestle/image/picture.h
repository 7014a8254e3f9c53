// The picture a KestleImage object holds between a page's calls, with the
// rules of what each call changes: a failed load keeps the previous picture,
// Iconize replaces the pixels only, and saving never changes the picture.
#pragma once

#include <cstdint>
#include <string>

#include "kestle/image/pixel_block.h"

namespace kestle::image {

class Picture {
  public:
    // Each returns an ImageStatus.
    int32_t load(const std::wstring& path);
    int32_t iconize(int width, int height);
    int32_t save_jpeg(const std::wstring& path, int quality);

    // 0 before the first load.
    int width() const noexcept { return width_; }
    int height() const noexcept { return height_; }
    int bit_count() const noexcept { return bit_count_; }
    // After a load the file's size; after a save the size of the JPEG written.
    int32_t file_size() const noexcept { return file_size_; }
    // "" before the first load, then the format name of the last file loaded.
    const std::string& file_type() const noexcept { return file_type_; }
    const PixelBlock& pixels() const noexcept { return pixels_; }

  private:
    PixelBlock pixels_;
    int32_t file_size_ = 0;
    int width_ = 0;
    int height_ = 0;
    int bit_count_ = 0;
    std::string file_type_;
};

}  // namespace kestle::image

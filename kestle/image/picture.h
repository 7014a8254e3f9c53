// The picture a KestleImage object holds between a page's calls, with the
// rules of what each call changes: a failed load keeps the previous picture,
// Iconize replaces the pixels only, and saving never changes the picture.
//
// A loaded picture stays with its decoder until a call needs its pixels, and
// Iconize reads them from there a band at a time: no full-size copy is made
// unless SaveImage needs one. A JPEG that the preview reader handles is held
// as its eighth-size preview plus the file's bytes; it is decoded only when a
// call needs more than the preview holds (a thumbnail of a sixteenth of the
// picture's size or less never does).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kestle/image/jpeg_preview.h"
#include "kestle/image/pixel_block.h"
#include "kestle/image/wic_codec.h"

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
    // The pixels as a block; empty while the picture is held by its decoder
    // or as a preview: ensure_pixels() makes the block.
    const PixelBlock& pixels() const noexcept { return pixels_; }
    int32_t ensure_pixels();
    bool has_picture() const noexcept { return pixels_ || decoded_ || preview_; }

  private:
    void take(DecodedPicture&& decoded);
    int32_t ensure_decoded();

    PixelBlock pixels_;                   // the picture, once it is a block
    DecodedFrame decoded_;                // or the picture still with its decoder
    std::optional<JpegPreview> preview_;  // with jpeg_file_, until the pixels are decoded
    FileBytes jpeg_file_;
    int32_t file_size_ = 0;
    int width_ = 0;
    int height_ = 0;
    int bit_count_ = 0;
    std::string file_type_;
};

}  // namespace kestle::image

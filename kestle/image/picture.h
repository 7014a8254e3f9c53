// The picture a KestleImage object holds between a page's calls, with the
// rules of what each call changes: a failed load keeps the previous picture,
// Iconize replaces the pixels only, and saving never changes the picture.
//
// A loaded picture stays with its decoder until a call needs its pixels, and
// Iconize reads them from there a band at a time: no full-size copy is made
// unless SaveImage needs one. A JPEG that the preview reader handles is held
// as its eighth-size preview plus the file's bytes; it is decoded only when a
// call needs more than the preview holds (a thumbnail of a sixteenth of the
// picture's size or less never does). A sound PNG is held as its chunks and
// read by our own reader a row at a time, straight into the scaler.
//
// Width, Height and every thumbnail are those of the picture as it is meant
// to be seen: a held picture keeps its EXIF orientation, applied to the
// thumbnail (scaling and turning commute) or to the pixels when made whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kestle/image/jpeg_preview.h"
#include "kestle/image/orientation.h"
#include "kestle/image/pixel_block.h"
#include "kestle/image/png_reader.h"
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
    bool has_picture() const noexcept { return pixels_ || decoded_ || preview_ || png_; }

  private:
    void take(DecodedPicture&& decoded, int orientation);
    void drop_sources() noexcept;
    int32_t ensure_decoded();
    // The held picture's sides as stored, before it is turned upright.
    int stored_width() const noexcept { return swaps_sides(orientation_) ? height_ : width_; }
    int stored_height() const noexcept { return swaps_sides(orientation_) ? width_ : height_; }
    // The stored picture's rows handed to `use(rows)` as a SourceRows; an
    // ImageStatus.
    template <class Use>
    int32_t with_rows(Use&& use);

    PixelBlock pixels_;                   // the picture, once it is a block (always upright)
    DecodedFrame decoded_;                // or the picture still with its decoder
    std::optional<JpegPreview> preview_;  // or with file_, until the pixels are decoded
    std::optional<PngLayout> png_;        // or its chunks in file_, read by our PNG reader
    FileBytes file_;
    int orientation_ = 1;  // how the held picture is turned upright
    int32_t file_size_ = 0;
    int width_ = 0;
    int height_ = 0;
    int bit_count_ = 0;
    std::string file_type_;
};

}  // namespace kestle::image

// The eighth-size picture held in a JPEG file's DC coefficients (ITU T.81
// sequential Huffman files, 8-bit, greyscale or YCbCr with 1x1 and 2x2
// sampling): each preview pixel is the mean of one 8x8 block of the picture.
//
// A thumbnail of a quarter or less of the picture's size needs no more than
// that, and reading only the DC coefficients skips the inverse DCT and the
// full-size pixel memory: most of the cost of a large JPEG. Progressive
// files hold their DC coefficients in their first scans, so they get a
// preview too, without reading the AC scans at all. Everything else
// (arithmetic, 12-bit, CMYK, odd sampling, damaged data) is left to the full
// decoder: the preview then is simply not available.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestle::image {

struct JpegPreview {
    int width = 0;  // the picture's own size
    int height = 0;
    int components = 0;     // 1 (grey) or 3
    int preview_width = 0;  // ceil(width / 8)
    int preview_height = 0;
    std::vector<uint8_t> bgr;  // preview pixels, 3 bytes each, rows without padding
};

// Reads only what the preview needs, bounded by the bytes given; nothing
// when the file is not one this reader handles or its data is damaged.
// read_jpeg_preview reads sequential files only, read_progressive_jpeg_preview
// progressive ones only.
std::optional<JpegPreview> read_jpeg_preview(std::span<const uint8_t> file);
std::optional<JpegPreview> read_progressive_jpeg_preview(std::span<const uint8_t> file);

}  // namespace kestle::image

// What a picture file is, told from its own bytes: the format number pages
// read as a name ("BMP", "JPG", ...), and the picture's size read from the
// header alone, so that a hostile header is refused before any decoder sees
// it and allocates pixel memory.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kestle::image {

// Format numbers as pages know them; 0 stands for every format not listed.
enum PictureFormat : int {
    format_unknown = 0,
    format_bmp = 1,
    format_gif = 2,
    format_jpg = 3,
    format_png = 4,
    format_pcx = 5,
    format_tiff = 6,
    format_wmf = 7,
    format_emf = 8,
    format_pax = 9,
    format_psd = 10,
    format_tla_encrypted = 11,
    format_tla_plain = 12,
    format_wbmp = 13,
    format_tga = 14,
};

// The name pages see for a format number: "BMP", "GIF", ..., "Unknown" for
// any number outside the table.
std::string_view format_name(int format);

// Guesses the format from the file's first bytes (`head`, as many as the
// caller read, at least 64 are enough), its last 26 bytes (`tail`, for the
// TGA footer) and its size. Formats without a public signature (PAX, TLA)
// are never guessed.
int guess_format(std::span<const uint8_t> head, std::span<const uint8_t> tail, uint64_t file_size);

struct PictureSize {
    uint32_t width = 0;
    uint32_t height = 0;
};

// The picture's size as its header states it, for BMP, GIF, JPEG, PNG and
// TIFF; nothing when the format is another or the header is cut off within
// `head`.
std::optional<PictureSize> probe_size(std::span<const uint8_t> head);

// Pictures larger than this are refused before pixel memory is allocated: a
// small file can claim a size whose pixels would not fit in memory.
constexpr uint32_t max_picture_side = 65535;
constexpr uint64_t max_picture_pixels = 100'000'000;
constexpr bool size_allowed(uint64_t width, uint64_t height) {
    return width >= 1 && height >= 1 && width <= max_picture_side && height <= max_picture_side &&
           width * height <= max_picture_pixels;
}

}  // namespace kestle::image

// Our own PNG reader (ISO/IEC 15948), plain C++ on zlib, for the pictures
// pages upload: every colour type and bit depth, palettes with
// transparency, Adam7 interlace and every filter type.
//
// It exists for speed and for soundness. A sequential picture is inflated
// and unfiltered a row at a time, straight into whatever consumes the rows,
// so a thumbnail never holds the full picture (first touching that much
// fresh memory costs more than the decoding). And every chunk's CRC is
// checked before a pixel is read, so a damaged file is reported as damaged.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kestle::image {

enum class PngCheck {
    sound,        // every chunk is whole and its CRC matches
    not_png,      // no PNG signature
    unsupported,  // a critical chunk or a layout this reader does not know
    damaged,      // a cut or corrupted chunk, a bad CRC, a header that breaks the
                  // rules
    too_large,    // the header claims more than the size limits allow
};

// What the chunks say, with the compressed data left in the file's bytes.
struct PngLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    int bit_depth = 0;
    int colour_type = 0;
    bool interlaced = false;
    // Blue, green, red of every palette index (out-of-range indices are
    // black, as browsers show them) with its tRNS alpha already laid over
    // white; only for colour type 3.
    std::vector<uint8_t> palette_bgr;
    // The colour (grey, or red, green, blue) that tRNS makes transparent, in
    // the samples' own bit depth; for colour types 0 and 2.
    bool has_transparent_colour = false;
    uint16_t transparent[3] = {0, 0, 0};
    std::vector<std::span<const uint8_t>> data;  // the IDAT payloads in order

    int channels() const noexcept;
    // Bits per pixel as the file stores them.
    int bit_count() const noexcept { return channels() * bit_depth; }
};

// Walks every chunk up to IEND, checking lengths and CRCs, within `file`.
PngCheck check_png(std::span<const uint8_t> file, PngLayout& out);

// Thrown when the compressed data is damaged or ends before the picture.
struct PngDamaged {};

// The picture's rows as 24-bit pixels (blue, green, red), transparency laid
// over white. `row(y)` must be asked for in increasing order (the same row
// again is fine); the pointer holds until the next call. An interlaced
// picture has no row before its last pass, so it is decoded whole on the
// first call. Inflating stops at the size the header states, so a stream
// that goes on for ever costs no more than a sound one. The layout and the
// file's bytes must outlive this. Throws PngDamaged or std::bad_alloc.
class PngRows {
  public:
    explicit PngRows(const PngLayout& layout);
    ~PngRows();
    PngRows(const PngRows&) = delete;
    PngRows& operator=(const PngRows&) = delete;

    const uint8_t* row(int y);

  private:
    struct Inflater;
    void inflate_exactly(uint8_t* out, size_t size);
    // Inflates and unfilters the next stored row of `pixels` pixels and
    // converts it into `bgr`.
    void next_row(int pixels, uint8_t* bgr);
    void decode_interlaced();

    const PngLayout& layout_;
    std::unique_ptr<Inflater> inflater_;
    size_t next_data_ = 0;        // next IDAT payload to hand to the inflater
    uint8_t header_[2] = {0, 0};  // the zlib stream's header, checked by hand
    int header_seen_ = 0;
    std::vector<uint8_t> raw_,
        prior_;                 // a stored row with its filter byte, and the row before
    std::vector<uint8_t> bgr_;  // the current row, or the whole picture when interlaced
    int current_ = -1;
};

}  // namespace kestle::image

// The marker segments of a JPEG file, walked one rule for every reader
// (the size check, the EXIF orientation, the preview): fill bytes are passed
// over, markers that stand alone (TEM, RSTn, SOI, EOI) carry no length
// field, every other marker is followed by a two-byte length that counts
// itself, and nothing is read past the bytes held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kestle::image {

// TEM, RST0-RST7, SOI and EOI: a marker with no length field.
constexpr bool is_standalone_jpeg_marker(uint8_t marker) {
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9);
}

// A start-of-frame marker (SOF0-SOF15 but DHT, JPG and DAC, which share the range).
constexpr bool is_jpeg_frame_marker(uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

struct JpegSegment {
    uint8_t marker = 0;
    size_t start = 0;     // where its 0xFF stands in the file
    size_t declared = 0;  // the body bytes its length field promises; 0 for a standalone marker
    std::span<const uint8_t> body;  // as much of them as the file holds
    bool whole() const noexcept { return body.size() == declared; }
};

class JpegSegmentWalker {
  public:
    // What to do with bytes where a marker should stand: stop (the readers
    // that then leave the file to the full decoder), or pass over them as
    // decoders do (the size check, which must find what the decoder will).
    enum class Stray { stop, pass_over };

    // `pos` is where the first marker stands: 2, just past SOI, or the end
    // of a scan's entropy-coded data.
    explicit JpegSegmentWalker(std::span<const uint8_t> file, size_t pos = 2, Stray stray = Stray::stop) noexcept
        : file_(file), pos_(pos), stray_(stray) {}

    // The next segment; nothing at the end of the bytes, at a stray byte when
    // stray bytes stop the walk, or at a length field below its own two bytes.
    // A segment that runs past the end comes with the part held (whole() false).
    std::optional<JpegSegment> next() noexcept {
        for (;;) {
            if (pos_ >= file_.size() || file_.size() - pos_ < 2) return std::nullopt;
            if (file_[pos_] != 0xFF) {
                if (stray_ == Stray::stop) return std::nullopt;
                ++pos_;
                continue;
            }
            const uint8_t marker = file_[pos_ + 1];
            if (marker == 0xFF) {  // fill byte
                ++pos_;
                continue;
            }
            JpegSegment s;
            s.marker = marker;
            s.start = pos_;
            if (is_standalone_jpeg_marker(marker)) {
                pos_ += 2;
                return s;
            }
            if (file_.size() - pos_ < 4) return std::nullopt;
            const size_t length = size_t(file_[pos_ + 2]) << 8 | file_[pos_ + 3];
            if (length < 2) return std::nullopt;
            s.declared = length - 2;
            const size_t held = file_.size() - (pos_ + 4);
            s.body = file_.subspan(pos_ + 4, s.declared < held ? s.declared : held);
            pos_ += 2 + length;  // may pass the end; the next call then ends the walk
            return s;
        }
    }

    // Just past the last segment returned: where a scan's data begins after SOS.
    size_t position() const noexcept { return pos_; }

  private:
    std::span<const uint8_t> file_;
    size_t pos_;
    Stray stray_;
};

}  // namespace kestle::image

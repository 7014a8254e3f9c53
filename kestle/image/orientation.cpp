#include "kestle/image/orientation.h"

#include <cstddef>
#include <cstring>

#include "kestle/image/jpeg_segments.h"

namespace kestle::image {
namespace {

using Bytes = std::span<const uint8_t>;

struct Tiff {
    Bytes b;
    bool big_endian;
    uint32_t u16(size_t at) const {
        return big_endian ? uint32_t(b[at]) << 8 | b[at + 1] : uint32_t(b[at + 1]) << 8 | b[at];
    }
    uint32_t u32(size_t at) const { return big_endian ? u16(at) << 16 | u16(at + 2) : u16(at + 2) << 16 | u16(at); }
};

// IFD0 of the TIFF structure inside the EXIF segment; every offset is
// checked against the segment, never trusted.
int orientation_in_tiff(Bytes b) {
    if (b.size() < 8) return 1;
    const bool big = b[0] == 'M' && b[1] == 'M';
    if (!big && !(b[0] == 'I' && b[1] == 'I')) return 1;
    const Tiff t{b, big};
    if (t.u16(2) != 42) return 1;
    const uint32_t ifd = t.u32(4);
    if (ifd < 8 || ifd > b.size() - 2) return 1;
    const uint32_t entries = t.u16(ifd);
    if (size_t(entries) * 12 > b.size() - ifd - 2) return 1;  // an IFD running past the segment is not read
    for (uint32_t i = 0; i < entries; ++i) {
        const size_t at = size_t(ifd) + 2 + size_t(i) * 12;
        if (t.u16(at) != 0x0112) continue;
        // A SHORT, one of it, held in the entry itself.
        if (t.u16(at + 2) != 3 || t.u32(at + 4) != 1) return 1;
        const uint32_t v = t.u16(at + 8);
        return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
    }
    return 1;
}

}  // namespace

int exif_orientation(Bytes jpeg) {
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return 1;
    JpegSegmentWalker walk(jpeg);
    while (const auto seg = walk.next()) {
        if (seg->marker == 0xDA || seg->marker == 0xD9) return 1;  // the metadata comes before the scan
        if (is_standalone_jpeg_marker(seg->marker)) continue;
        if (!seg->whole()) return 1;
        if (seg->marker == 0xE1 && seg->body.size() >= 6 && std::memcmp(seg->body.data(), "Exif\0\0", 6) == 0)
            return orientation_in_tiff(seg->body.subspan(6));
    }
    return 1;
}

void orient_rgb24(const uint8_t* src, int width, int height, int orientation, uint8_t* dst) {
    const bool swap = swaps_sides(orientation);
    const int dw = swap ? height : width, dh = swap ? width : height;
    for (int y = 0; y < dh; ++y) {
        uint8_t* out = dst + size_t(y) * dw * 3;
        for (int x = 0; x < dw; ++x, out += 3) {
            int sx = x, sy = y;
            switch (orientation) {
                case 2: sx = width - 1 - x; break;
                case 3: sx = width - 1 - x, sy = height - 1 - y; break;
                case 4: sy = height - 1 - y; break;
                case 5: sx = y, sy = x; break;
                case 6: sx = y, sy = height - 1 - x; break;
                case 7: sx = width - 1 - y, sy = height - 1 - x; break;
                case 8: sx = width - 1 - y, sy = x; break;
                default: break;
            }
            std::memcpy(out, src + (size_t(sy) * width + sx) * 3, 3);
        }
    }
}

}  // namespace kestle::image

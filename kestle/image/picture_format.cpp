// Signatures: PNG (ISO/IEC 15948), GIF87a/GIF89a, JPEG (ITU T.81 markers),
// BMP (BITMAPFILEHEADER), TIFF 6.0, PCX (ZSoft), WMF (placeable and standard
// headers), EMF (EMR_HEADER), PSD ("8BPS"), WBMP (WAP type 0) and TGA (2.0
// footer, or a plausible 1.0 header).
#include "kestle/image/picture_format.h"

#include <algorithm>
#include <cstring>

#include "kestle/image/jpeg_segments.h"

namespace kestle::image {
namespace {

using Bytes = std::span<const uint8_t>;

bool starts_with(Bytes b, std::initializer_list<uint8_t> sig, size_t at = 0) {
    if (b.size() < at + sig.size()) return false;
    return std::equal(sig.begin(), sig.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}
uint16_t le16(Bytes b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint16_t be16(Bytes b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }
uint32_t le32(Bytes b, size_t at) { return static_cast<uint32_t>(le16(b, at) | static_cast<uint32_t>(le16(b, at + 2)) << 16); }
uint32_t be32(Bytes b, size_t at) { return static_cast<uint32_t>(be16(b, at)) << 16 | be16(b, at + 2); }

bool is_pcx(Bytes b) {
    if (b.size() < 128 || b[0] != 0x0A) return false;
    const bool version = b[1] == 0 || (b[1] >= 2 && b[1] <= 5);
    const bool encoding = b[2] == 0 || b[2] == 1;
    const bool depth = b[3] == 1 || b[3] == 2 || b[3] == 4 || b[3] == 8;
    return version && encoding && depth && le16(b, 4) <= le16(b, 8) && le16(b, 6) <= le16(b, 10);
}

bool is_wmf(Bytes b) {
    if (starts_with(b, {0xD7, 0xCD, 0xC6, 0x9A})) return true;  // placeable header
    return (starts_with(b, {0x01, 0x00, 0x09, 0x00}) || starts_with(b, {0x02, 0x00, 0x09, 0x00})) &&
           (starts_with(b, {0x00, 0x03}, 4) || starts_with(b, {0x00, 0x01}, 4));
}

bool is_emf(Bytes b) { return starts_with(b, {0x01, 0x00, 0x00, 0x00}) && starts_with(b, {' ', 'E', 'M', 'F'}, 40); }

// Reads a WBMP multi-byte integer; false when it runs past the bytes or
// beyond 32 bits.
bool read_uintvar(Bytes b, size_t& at, uint64_t& value) {
    value = 0;
    for (int i = 0; i < 5; ++i) {
        if (at >= b.size()) return false;
        const uint8_t c = b[at++];
        value = value << 7 | (c & 0x7F);
        if (!(c & 0x80)) return value <= 0xFFFFFFFFu;
    }
    return false;
}

// WBMP has no magic number: type 0, a zero header byte, width and height,
// and then exactly one bit per pixel with rows padded to bytes.
bool is_wbmp(Bytes b, uint64_t file_size) {
    if (b.size() < 4 || b[0] != 0 || b[1] != 0) return false;
    size_t at = 2;
    uint64_t w = 0, h = 0;
    if (!read_uintvar(b, at, w) || !read_uintvar(b, at, h) || w == 0 || h == 0) return false;
    return at + (w + 7) / 8 * h == file_size;
}

bool is_tga(Bytes head, Bytes tail, uint64_t file_size) {
    static constexpr char footer[] = "TRUEVISION-XFILE.";  // with its terminating zero: 18 bytes
    if (tail.size() >= sizeof footer &&
        std::memcmp(tail.data() + tail.size() - sizeof footer, footer, sizeof footer) == 0)
        return true;
    // A TGA 1.0 file has no signature at all; only a header whose every
    // field is plausible and a size that holds its pixels count.
    if (head.size() < 18) return false;
    const uint8_t map_type = head[1], type = head[2], depth = head[16];
    const bool mapped = type == 1 || type == 9;
    const bool true_colour = type == 2 || type == 3 || type == 10 || type == 11;
    if (map_type > 1 || !(mapped || true_colour) || (mapped && map_type != 1)) return false;
    if (depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32) return false;
    if (map_type == 1 && head[7] != 15 && head[7] != 16 && head[7] != 24 && head[7] != 32) return false;
    if (map_type == 0 && (head[3] | head[4] | head[5] | head[6] | head[7]) != 0) return false;
    const uint64_t w = le16(head, 12), h = le16(head, 14);
    if (w == 0 || h == 0 || (head[17] & 0xC0) != 0) return false;
    uint64_t need = 18 + head[0] + (map_type ? uint64_t{le16(head, 5)} * ((head[7] + 7) / 8) : 0);
    if (type < 9) need += w * h * ((depth + 7) / 8);  // uncompressed pixels
    return file_size >= need;
}

std::optional<PictureSize> jpeg_size(Bytes b) {
    // Stray bytes before a marker: decoders pass over them, and so must the size check.
    JpegSegmentWalker walk(b, 2, JpegSegmentWalker::Stray::pass_over);
    while (const auto seg = walk.next()) {
        if (seg->marker == 0xD9 || seg->marker == 0xDA) return std::nullopt;  // no frame header before the data
        if (!is_jpeg_frame_marker(seg->marker)) continue;
        if (seg->body.size() < 5) return std::nullopt;
        const PictureSize s{be16(seg->body, 3), be16(seg->body, 1)};
        if (s.height == 0) return std::nullopt;  // height given later by a DNL marker
        return s;
    }
    return std::nullopt;
}

std::optional<PictureSize> gif_size(Bytes b) {
    if (b.size() < 13) return std::nullopt;
    PictureSize s{le16(b, 6), le16(b, 8)};
    // The decoder also allocates each frame at the frame's own size, which
    // may exceed the screen: take the first frame into account.
    size_t at = 13;
    if (b[10] & 0x80) at += 3u << ((b[10] & 7) + 1);
    while (at < b.size()) {
        if (b[at] == 0x2C) {
            if (at + 9 > b.size()) break;
            s.width = std::max<uint32_t>(s.width, uint32_t{le16(b, at + 1)} + le16(b, at + 5));
            s.height = std::max<uint32_t>(s.height, uint32_t{le16(b, at + 3)} + le16(b, at + 7));
            break;
        }
        if (b[at] != 0x21 || at + 2 > b.size()) break;
        at += 2;  // extension introducer and label, then sub-blocks up to a zero length
        while (at < b.size() && b[at] != 0) at += 1 + b[at];
        ++at;
    }
    return s;
}

std::optional<PictureSize> bmp_size(Bytes b) {
    if (b.size() < 26) return std::nullopt;
    const uint32_t header = le32(b, 14);
    if (header == 12) return PictureSize{le16(b, 18), le16(b, 20)};
    const auto w = static_cast<int32_t>(le32(b, 18));
    const auto h = static_cast<int32_t>(le32(b, 22));  // negative for rows stored top-down
    auto magnitude = [](int32_t v) { return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v); };
    return PictureSize{magnitude(w), magnitude(h)};
}

std::optional<PictureSize> tiff_size(Bytes b) {
    if (b.size() < 8) return std::nullopt;
    const bool little = b[0] == 'I';
    auto u16 = [&](size_t at) { return little ? le16(b, at) : be16(b, at); };
    auto u32 = [&](size_t at) { return little ? le32(b, at) : be32(b, at); };
    const uint64_t ifd = u32(4);
    if (ifd + 2 > b.size()) return std::nullopt;
    const unsigned count = u16(ifd);
    std::optional<uint32_t> w, h;
    for (unsigned i = 0; i < count; ++i) {
        const uint64_t e = ifd + 2 + uint64_t{i} * 12;
        if (e + 12 > b.size()) return std::nullopt;
        const unsigned tag = u16(e), type = u16(e + 2);
        if (tag != 256 && tag != 257) continue;
        const uint32_t value = type == 3 ? u16(e + 8) : type == 4 ? u32(e + 8) : 0;
        (tag == 256 ? w : h) = value;
    }
    if (!w || !h) return std::nullopt;
    return PictureSize{*w, *h};
}

}  // namespace

std::string_view format_name(int format) {
    static constexpr std::string_view names[] = {
        "Unknown", "BMP", "GIF", "JPG", "PNG", "PCX", "TIFF", "WMF", "EMF", "PAX",
        "PSD", "TLA (ENCRYPTED)", "TLA (UNENCRYPTED)", "WBMP", "TGA",
    };
    return format >= 1 && format <= 14 ? names[format] : names[0];
}

int guess_format(Bytes head, Bytes tail, uint64_t file_size) {
    if (starts_with(head, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return format_png;
    if (starts_with(head, {0xFF, 0xD8, 0xFF})) return format_jpg;
    if (starts_with(head, {'G', 'I', 'F', '8', '7', 'a'}) || starts_with(head, {'G', 'I', 'F', '8', '9', 'a'}))
        return format_gif;
    if (starts_with(head, {'I', 'I', 0x2A, 0x00}) || starts_with(head, {'M', 'M', 0x00, 0x2A})) return format_tiff;
    if (starts_with(head, {'B', 'M'}) && head.size() >= 18) {
        const uint32_t header = le32(head, 14);
        if (header == 12 || header == 40 || header == 52 || header == 56 || header == 64 || header == 108 ||
            header == 124)
            return format_bmp;
    }
    if (starts_with(head, {'8', 'B', 'P', 'S', 0x00}) && head.size() >= 6 && (head[5] == 1 || head[5] == 2))
        return format_psd;
    if (is_emf(head)) return format_emf;
    if (is_wmf(head)) return format_wmf;
    if (is_pcx(head)) return format_pcx;
    if (is_wbmp(head, file_size)) return format_wbmp;
    if (is_tga(head, tail, file_size)) return format_tga;
    return format_unknown;
}

std::optional<PictureSize> probe_size(Bytes head) {
    if (starts_with(head, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) {
        if (head.size() < 24 || !starts_with(head, {'I', 'H', 'D', 'R'}, 12)) return std::nullopt;
        return PictureSize{be32(head, 16), be32(head, 20)};
    }
    if (starts_with(head, {0xFF, 0xD8})) return jpeg_size(head);
    if (starts_with(head, {'G', 'I', 'F', '8'})) return gif_size(head);
    if (starts_with(head, {'B', 'M'})) return bmp_size(head);
    if (starts_with(head, {'I', 'I', 0x2A, 0x00}) || starts_with(head, {'M', 'M', 0x00, 0x2A})) return tiff_size(head);
    return std::nullopt;
}

}  // namespace kestle::image

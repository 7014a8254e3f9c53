#include "kestle/image/png_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "kestle/image/picture_format.h"

namespace kestle::image {
namespace {

using Bytes = std::span<const uint8_t>;

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

bool type_is(const uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

// The bit depths each colour type allows.
bool depth_allowed(int colour_type, int depth) {
    switch (colour_type) {
        case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
        case 2:
        case 4:
        case 6: return depth == 8 || depth == 16;
        default: return false;
    }
}

uint8_t over_white(unsigned c, unsigned a) { return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255); }

// Rows of `pixels` pixels in a pass: 1 + the row's bytes.
size_t stored_row_size(const PngLayout& l, uint32_t pixels) {
    return 1 + (uint64_t(pixels) * l.channels() * l.bit_depth + 7) / 8;
}

struct Pass {
    int x0, y0, dx, dy;
};
constexpr Pass adam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                           {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
uint32_t pass_extent(uint32_t size, int start, int step) {
    return size > uint32_t(start) ? (size - start + step - 1) / step : 0;
}

// Undoes the row's filter in place; `prior` is the unfiltered row above
// (zeros for a pass's first row), `Step` the bytes of one whole pixel. The
// loops go a pixel at a time with its bytes side by side: each byte depends
// on the same byte of the pixel before, so the bytes of one pixel are
// independent work for the processor. A row's size is always a whole
// number of steps (pixels below 8 bits have a step of one byte).
template <size_t Step>
bool unfilter_by(uint8_t filter, uint8_t* row, const uint8_t* prior, size_t size) {
    // The pixel to the left (and the one above it) stay in registers:
    // reading them back from the row just written would wait on the store.
    int a[Step] = {}, c[Step] = {};
    switch (filter) {
        case 0: return true;
        case 1:
            for (size_t i = 0; i < size; i += Step)
#pragma GCC unroll 8
                for (size_t k = 0; k < Step; ++k) row[i + k] = static_cast<uint8_t>(a[k] = (row[i + k] + a[k]) & 0xFF);
            return true;
        case 2:
            for (size_t i = 0; i < size; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
            return true;
        case 3:
            for (size_t i = 0; i < size; i += Step)
#pragma GCC unroll 8
                for (size_t k = 0; k < Step; ++k)
                    row[i + k] = static_cast<uint8_t>(a[k] = (row[i + k] + ((a[k] + prior[i + k]) >> 1)) & 0xFF);
            return true;
        case 4:
            for (size_t i = 0; i < size; i += Step)
#pragma GCC unroll 8
                for (size_t k = 0; k < Step; ++k) {
                    const int b = prior[i + k];
                    const int pa = std::abs(b - c[k]), pb = std::abs(a[k] - c[k]), pc = std::abs(a[k] + b - 2 * c[k]);
                    const int near_ab = pb < pa ? b : a[k];
                    const int predicted = pc < std::min(pa, pb) ? c[k] : near_ab;
                    row[i + k] = static_cast<uint8_t>(a[k] = (row[i + k] + predicted) & 0xFF);
                    c[k] = b;
                }
            return true;
        default: return false;
    }
}

bool unfilter(uint8_t filter, uint8_t* row, const uint8_t* prior, size_t size, size_t step) {
    switch (step) {
        case 3: return unfilter_by<3>(filter, row, prior, size);
        case 4: return unfilter_by<4>(filter, row, prior, size);
        case 1: return unfilter_by<1>(filter, row, prior, size);
        case 2: return unfilter_by<2>(filter, row, prior, size);
        case 6: return unfilter_by<6>(filter, row, prior, size);
        default: return unfilter_by<8>(filter, row, prior, size);
    }
}

// One unfiltered row of samples to blue, green, red.
void to_bgr(const PngLayout& l, const uint8_t* in, int pixels, uint8_t* out) {
    const int depth = l.bit_depth;
    if (l.colour_type == 3 || (l.colour_type == 0 && depth < 8)) {
        const int per_byte = 8 / depth, mask = (1 << depth) - 1;
        const int scale = 255 / mask;
        for (int x = 0; x < pixels; ++x, out += 3) {
            const int shift = 8 - depth * (x % per_byte + 1);
            const int v = depth == 8 ? in[x] : (in[x / per_byte] >> shift) & mask;
            if (l.colour_type == 3) {
                std::memcpy(out, &l.palette_bgr[size_t(v) * 3], 3);
            } else if (l.has_transparent_colour && v == l.transparent[0]) {
                out[0] = out[1] = out[2] = 255;
            } else {
                out[0] = out[1] = out[2] = static_cast<uint8_t>(v * scale);
            }
        }
        return;
    }
    if (depth == 8 && l.colour_type == 2 && !l.has_transparent_colour) {
        for (int x = 0; x < pixels; ++x, out += 3, in += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
        return;
    }
    if (depth == 8 && l.colour_type == 6) {
        for (int x = 0; x < pixels; ++x, out += 3, in += 4) {
            const unsigned a = in[3];
            out[0] = over_white(in[2], a);
            out[1] = over_white(in[1], a);
            out[2] = over_white(in[0], a);
        }
        return;
    }
    const int channels = l.channels();
    const int size = depth / 8;  // bytes a sample
    auto sample = [&](const uint8_t* p) -> unsigned { return size == 1 ? *p : be16(p); };
    for (int x = 0; x < pixels; ++x, out += 3, in += channels * size) {
        // 16-bit samples keep their high byte.
        const uint8_t* hi = in;
        switch (l.colour_type) {
            case 0: {
                const bool clear = l.has_transparent_colour && sample(in) == l.transparent[0];
                out[0] = out[1] = out[2] = clear ? 255 : hi[0];
                break;
            }
            case 2: {
                if (l.has_transparent_colour && sample(in) == l.transparent[0] &&
                    sample(in + size) == l.transparent[1] && sample(in + 2 * size) == l.transparent[2]) {
                    out[0] = out[1] = out[2] = 255;
                } else {
                    out[0] = hi[2 * size];
                    out[1] = hi[size];
                    out[2] = hi[0];
                }
                break;
            }
            case 4: out[0] = out[1] = out[2] = over_white(hi[0], hi[size]); break;
            default: {
                const unsigned a = hi[3 * size];
                out[0] = over_white(hi[2 * size], a);
                out[1] = over_white(hi[size], a);
                out[2] = over_white(hi[0], a);
            }
        }
    }
}

}  // namespace

int PngLayout::channels() const noexcept {
    switch (colour_type) {
        case 2: return 3;
        case 4: return 2;
        case 6: return 4;
        default: return 1;
    }
}

PngCheck check_png(Bytes file, PngLayout& out) {
    out = PngLayout();
    static constexpr uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (file.size() < 8 || std::memcmp(file.data(), signature, 8) != 0) return PngCheck::not_png;
    bool header = false, palette = false, data_ended = false;
    std::vector<uint8_t> alpha;  // tRNS of a palette, applied once both are known
    for (size_t pos = 8;;) {
        if (file.size() - pos < 12) return PngCheck::damaged;  // cut before IEND
        const uint32_t length = be32(&file[pos]);
        if (length > 0x7FFFFFFFu || file.size() - pos - 12 < length) return PngCheck::damaged;
        const uint8_t* type = &file[pos + 4];
        const uint8_t* body = type + 4;
        if (uLong(crc32(0, type, length + 4)) != be32(body + length)) return PngCheck::damaged;
        pos += 12 + size_t(length);
        for (int i = 0; i < 4; ++i)
            if (!((type[i] >= 'A' && type[i] <= 'Z') || (type[i] >= 'a' && type[i] <= 'z'))) return PngCheck::damaged;

        if (!header) {
            if (!type_is(type, "IHDR") || length != 13) return PngCheck::damaged;
            out.width = be32(body);
            out.height = be32(body + 4);
            out.bit_depth = body[8];
            out.colour_type = body[9];
            if (out.width == 0 || out.height == 0 || out.width > 0x7FFFFFFFu || out.height > 0x7FFFFFFFu ||
                !depth_allowed(out.colour_type, out.bit_depth) || body[10] != 0 || body[11] != 0 || body[12] > 1)
                return PngCheck::damaged;
            // Refused from the header, before any pixel memory.
            if (!size_allowed(out.width, out.height)) return PngCheck::too_large;
            out.interlaced = body[12] == 1;
            header = true;
            continue;
        }
        if (type_is(type, "IEND")) break;
        if (type_is(type, "IDAT")) {
            if (data_ended) return PngCheck::damaged;  // IDAT chunks must follow one another
            if (out.colour_type == 3 && !palette) return PngCheck::damaged;
            out.data.emplace_back(body, length);
            continue;
        }
        if (!out.data.empty()) data_ended = true;
        if (type_is(type, "PLTE")) {
            if (palette || length % 3 != 0 || length == 0 || length > 768 || !out.data.empty())
                return PngCheck::damaged;
            if (out.colour_type == 3) {
                out.palette_bgr.assign(256 * 3, 0);
                for (uint32_t i = 0; i < length / 3; ++i) {
                    out.palette_bgr[i * 3] = body[i * 3 + 2];
                    out.palette_bgr[i * 3 + 1] = body[i * 3 + 1];
                    out.palette_bgr[i * 3 + 2] = body[i * 3];
                }
            }
            palette = true;  // grey pictures may not have one; colour ones may, as a hint
            if (out.colour_type == 0 || out.colour_type == 4) return PngCheck::damaged;
        } else if (type_is(type, "tRNS")) {
            if (out.colour_type == 3) {
                if (!palette || length > 256) return PngCheck::damaged;
                alpha.assign(body, body + length);
            } else if (out.colour_type == 0 && length == 2) {
                out.has_transparent_colour = true;
                out.transparent[0] = be16(body);
            } else if (out.colour_type == 2 && length == 6) {
                out.has_transparent_colour = true;
                for (int i = 0; i < 3; ++i) out.transparent[i] = be16(body + 2 * i);
            } else {
                return PngCheck::damaged;
            }
        } else if (!(type[0] & 0x20)) {
            return PngCheck::unsupported;  // a critical chunk we do not know cannot be
                                           // skipped
        }
    }
    if (!header || out.data.empty()) return PngCheck::damaged;
    for (size_t i = 0; i < alpha.size(); ++i)
        for (int c = 0; c < 3; ++c) out.palette_bgr[i * 3 + c] = over_white(out.palette_bgr[i * 3 + c], alpha[i]);
    return PngCheck::sound;
}

struct PngRows::Inflater {
    z_stream z{};
    Inflater() {
        // Raw deflate: the two-byte zlib header is checked by hand, and the
        // Adler-32 at the end is never reached (inflating stops at the
        // picture's size), while each chunk's CRC already covers the data.
        if (inflateInit2(&z, -15) != Z_OK) throw std::bad_alloc();
    }
    ~Inflater() { inflateEnd(&z); }
};

PngRows::PngRows(const PngLayout& layout) : layout_(layout), inflater_(std::make_unique<Inflater>()) {
    const size_t widest = stored_row_size(layout, layout.width);
    raw_.resize(widest);
    prior_.resize(widest);
    bgr_.resize(size_t(layout.width) * 3);
}

PngRows::~PngRows() = default;

void PngRows::inflate_exactly(uint8_t* out, size_t size) {
    z_stream& z = inflater_->z;
    z.next_out = out;
    z.avail_out = static_cast<uInt>(size);
    while (z.avail_out > 0) {
        if (z.avail_in == 0) {
            if (next_data_ == layout_.data.size()) throw PngDamaged();  // the data ends before the picture
            const Bytes piece = layout_.data[next_data_++];
            z.next_in = const_cast<Bytef*>(piece.data());
            z.avail_in = static_cast<uInt>(piece.size());
            continue;
        }
        if (header_seen_ < 2) {
            header_[header_seen_++] = *z.next_in++;
            --z.avail_in;
            // Deflate with a window of at most 32 KB, no preset dictionary.
            if (header_seen_ == 2 && ((header_[0] & 0x0F) != 8 || (header_[0] >> 4) > 7 || (header_[1] & 0x20) ||
                                      (header_[0] * 256 + header_[1]) % 31 != 0))
                throw PngDamaged();
            continue;
        }
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_MEM_ERROR) throw std::bad_alloc();
        if (rc == Z_STREAM_END && z.avail_out > 0) throw PngDamaged();
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) throw PngDamaged();
    }
}

void PngRows::next_row(int pixels, uint8_t* bgr) {
    const size_t size = stored_row_size(layout_, static_cast<uint32_t>(pixels));
    inflate_exactly(raw_.data(), size);
    const size_t step = std::max(1, layout_.channels() * layout_.bit_depth / 8);
    if (!unfilter(raw_[0], raw_.data() + 1, prior_.data() + 1, size - 1, step)) throw PngDamaged();
    to_bgr(layout_, raw_.data() + 1, pixels, bgr);
    raw_.swap(prior_);  // this row is the next one's prior
}

void PngRows::decode_interlaced() {
    const uint32_t w = layout_.width, h = layout_.height;
    bgr_.assign(size_t(w) * h * 3, 0);
    std::vector<uint8_t> pass_row(size_t(w) * 3);
    for (const Pass& p : adam7) {
        const uint32_t pw = pass_extent(w, p.x0, p.dx), ph = pass_extent(h, p.y0, p.dy);
        if (pw == 0 || ph == 0) continue;  // an empty pass has no rows at all
        std::fill(prior_.begin(), prior_.end(), 0);
        for (uint32_t r = 0; r < ph; ++r) {
            next_row(static_cast<int>(pw), pass_row.data());
            uint8_t* dst = &bgr_[(size_t(p.y0 + r * p.dy) * w + p.x0) * 3];
            for (uint32_t i = 0; i < pw; ++i, dst += size_t(p.dx) * 3) std::memcpy(dst, &pass_row[i * 3], 3);
        }
    }
}

const uint8_t* PngRows::row(int y) {
    if (y < 0 || y >= static_cast<int>(layout_.height) || y < current_) throw PngDamaged();
    if (layout_.interlaced) {
        if (current_ < 0) decode_interlaced();
        current_ = y;
        return bgr_.data() + size_t(y) * layout_.width * 3;
    }
    while (current_ < y) {
        next_row(static_cast<int>(layout_.width), bgr_.data());
        ++current_;
    }
    return bgr_.data();
}

}  // namespace kestle::image
